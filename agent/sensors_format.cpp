// ?format=sensors: every reading typed, named and placed, in one JSON
// document (RFC 8259, UTF-8), the stable answer for programs.
#include <charconv>
#include <string_view>

#include "agent/render_common.h"
#include "agent/renderers.h"
#include "foundation/conversions.h"

using render::Kind;

namespace {

constexpr struct {
  Kind kind;
  const char* unit;
} kKinds[] = {{Kind::Temperature, "celsius"}, {Kind::Fan, "rpm"}, {Kind::Voltage, "volts"}};

void AppendText(std::string& body, const char* key, const NameText& value) {
  if (value.empty()) return;  // unknown: left out
  body.append(",\"").append(key).append("\":\"").append(value.json).append("\"");
}

void AppendSensor(std::string& body, const SensorSnapshot& s, Kind kind, const char* unit, int i,
                  const SensorName* n) {
  char digits[16];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, i + 1);
  const std::string_view index(digits,
                               error == std::errc() ? static_cast<std::size_t>(end - digits) : 0);
  body.append("{\"id\":\"").append(render::KindWord(kind)).append(index);
  body.append("\",\"kind\":\"").append(render::KindWord(kind));
  body.append("\",\"index\":").append(index);
  if (n != nullptr) AppendText(body, "name", n->name);
  body.append(",\"value\":");
  // Natural units at full precision: fans in RPM as stored, never / 100.
  render::AppendShortestNumber(body, render::Scaled(s, kind, i, false));
  body.append(",\"unit\":\"").append(unit).append("\"");
  if (n != nullptr) {
    AppendText(body, "chip", n->chip);
    AppendText(body, "chip_name", n->chip_name);
    AppendText(body, "input", n->input);
    AppendText(body, "label", n->label);
  }
  body += '}';
}

}  // namespace

void RenderSensors(std::string& body, const SensorSnapshot* view, const CWString& error,
                   const SensorNames* names) {
  if (!error.IsEmpty()) {
    body.append("{\"up\":false,\"error\":\"").append(EscapeJson(WideToUtf8(error.View())));
    body.append("\",\"sensors\":[]}");
    return;
  }
  body += "{\"up\":true,\"error\":null,\"sensors\":[";
  bool first = true;
  for (const auto& [kind, unit] : kKinds) {
    const int count = render::Count(*view, kind);
    for (int i = 0; i < count; ++i) {
      if (!first) body += ',';
      first = false;
      const SensorName* n = nullptr;
      if (names != nullptr) {
        const auto& list = names->kinds[static_cast<int>(kind)];
        if (static_cast<std::size_t>(i) < list.size()) n = &list[static_cast<std::size_t>(i)];
      }
      AppendSensor(body, *view, kind, unit, i, n);
    }
  }
  body += "]}";
}
