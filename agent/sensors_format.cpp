// ?format=sensors: every reading typed, named and placed, in one JSON
// document (RFC 8259, UTF-8), the stable answer for programs.
#include <charconv>
#include <string_view>

#include "agent/reading_status.h"
#include "agent/render_common.h"
#include "agent/renderers.h"
#include "foundation/conversions.h"

using render::Kind;

namespace {

constexpr Kind kKinds[] = {Kind::Temperature, Kind::Fan, Kind::Voltage};

void AppendText(std::string& body, const char* key, const NameText& value) {
  if (value.empty()) return;  // unknown: left out
  body.append(",\"").append(key).append("\":\"").append(value.json).append("\"");
}

// The lowest and highest value since the agent started, the one shown now
// included (the last sample may be up to a second old).
void AppendExtremes(std::string& body, const SensorSnapshot& s, Kind kind, int i,
                    const Extremes& seen) {
  Extremes extremes = seen;
  extremes.Add(SlotValue(s, static_cast<int>(kind) * kMaxSensorEntries + i));
  body.append(",\"min\":");
  render::AppendStoredValue(body, kind, extremes.min);
  body.append(",\"max\":");
  render::AppendStoredValue(body, kind, extremes.max);
}

void AppendSensor(std::string& body, const SensorSnapshot& s, Kind kind, int i, const SensorName* n,
                  const Extremes* seen, const ReadingStatus* status) {
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
  if (seen != nullptr) AppendExtremes(body, s, kind, i, *seen);
  body.append(",\"unit\":\"").append(render::UnitWord(kind)).append("\"");
  if (status != nullptr && status->Shown()) render::AppendStatus(body, *status);
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
                   const SensorNames* names, const SlotExtremes* extremes,
                   const ReadingStatuses* statuses) {
  if (!error.IsEmpty()) {
    body.append("{\"up\":false,\"error\":\"").append(EscapeJson(WideToUtf8(error.View())));
    body.append("\",\"sensors\":[]}");
    return;
  }
  body += "{\"up\":true,\"error\":null,\"sensors\":[";
  bool first = true;
  for (Kind kind : kKinds) {
    const int count = render::Count(*view, kind);
    for (int i = 0; i < count; ++i) {
      if (!first) body += ',';
      first = false;
      const SensorName* n = nullptr;
      if (names != nullptr) {
        const auto& list = names->kinds[static_cast<int>(kind)];
        if (static_cast<std::size_t>(i) < list.size()) n = &list[static_cast<std::size_t>(i)];
      }
      const Extremes* seen = nullptr;
      if (extremes != nullptr) {
        seen =
            &(*extremes)[static_cast<std::size_t>(static_cast<int>(kind) * kMaxSensorEntries + i)];
      }
      const ReadingStatus* status =
          statuses != nullptr ? &statuses->kinds[static_cast<int>(kind)][i] : nullptr;
      AppendSensor(body, *view, kind, i, n, seen, status);
    }
  }
  body += "]}";
}
