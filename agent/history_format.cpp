// ?format=history: the samples the agent kept, for its dashboard and for
// anyone who charts them, as one compact JSON document (RFC 8259, UTF-8).
#include <charconv>

#include "agent/render_common.h"
#include "agent/renderers.h"
#include "foundation/conversions.h"

using render::Kind;

namespace {

// A whole number of milliseconds fits 18 digits for millions of years.
constexpr std::size_t kMaxSinceDigits = 18;

void AppendInteger(std::string& body, std::int64_t value) {
  char digits[24];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  body.append(digits, error == std::errc() ? static_cast<std::size_t>(end - digits) : 0);
}

void AppendExtremes(std::string& body, const char* min_key, const char* max_key, Kind kind,
                    const Extremes& extremes) {
  body.append(",\"").append(min_key).append("\":");
  if (extremes.any) {
    render::AppendStoredValue(body, kind, extremes.min);
  } else {
    body += "null";
  }
  body.append(",\"").append(max_key).append("\":");
  if (extremes.any) {
    render::AppendStoredValue(body, kind, extremes.max);
  } else {
    body += "null";
  }
}

void AppendSeries(std::string& body, const SeriesCopy& series, const SensorNames* names,
                  const ReadingStatuses* statuses) {
  const auto kind = static_cast<Kind>(series.kind);
  body.append("{\"id\":\"").append(render::KindWord(kind));
  AppendInteger(body, series.index + 1);
  body.append("\",\"kind\":\"").append(render::KindWord(kind)).append("\",\"index\":");
  AppendInteger(body, series.index + 1);
  if (const SensorName* name = render::NameOf(names, kind, series.index)) {
    body.append(",\"name\":\"").append(name->name.json).append("\"");
  }
  body.append(",\"unit\":\"").append(render::UnitWord(kind)).append("\"");
  if (statuses != nullptr && series.kind >= 0 && series.kind < 3 && series.index >= 0 &&
      series.index < kMaxSensorEntries) {
    const ReadingStatus& status = statuses->kinds[series.kind][series.index];
    if (status.Shown()) render::AppendStatus(body, status);
  }
  AppendExtremes(body, "min", "max", kind, series.since_start);
  AppendExtremes(body, "window_min", "window_max", kind, series.window);
  body += ",\"values\":[";
  for (std::size_t i = 0; i < series.values.size(); ++i) {
    if (i > 0) body += ',';
    if (series.values[i] == kNoValue) {
      body += "null";
    } else {
      render::AppendStoredValue(body, kind, series.values[i]);
    }
  }
  body += "]}";
}

}  // namespace

std::optional<std::int64_t> ParseSince(const std::string& text) {
  if (text.empty() || text.size() > kMaxSinceDigits) return std::nullopt;
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

void RenderHistory(std::string& body, const HistoryAnswer& answer) {
  body += answer.up ? "{\"up\":true,\"error\":null" : "{\"up\":false,\"error\":\"";
  if (!answer.up) body.append(EscapeJson(WideToUtf8(answer.error.View()))).append("\"");
  body += ",\"history\":";
  AppendInteger(body, static_cast<std::int64_t>(answer.seconds));
  body += ",\"interval\":1000,";
  // Only an answer cut short says so: the others keep their bytes.
  if (answer.copy != nullptr && answer.copy->more) body += "\"more\":true,";
  body += "\"timestamps\":[";
  if (answer.copy != nullptr) {
    const auto& times = answer.copy->timestamps;
    for (std::size_t i = 0; i < times.size(); ++i) {
      if (i > 0) body += ',';
      AppendInteger(body, times[i]);
    }
  }
  body += "],\"sensors\":[";
  if (answer.copy != nullptr) {
    bool first = true;
    for (const SeriesCopy& series : answer.copy->series) {
      if (!first) body += ',';
      first = false;
      AppendSeries(body, series, answer.names, answer.statuses);
    }
  }
  body += "]}";
}
