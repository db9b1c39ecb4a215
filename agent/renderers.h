#pragma once
// The renderings of a snapshot, or of an error text in its place: the HTML
// page for people; plain text, XML, JSON and the Prometheus text exposition
// format for monitoring tools.
// Each appends 8-bit text to the body: the simple text and the page in the
// ANSI code page, the XML, JSON and Prometheus answers in UTF-8. Numbers always use '.' as the
// decimal point. The error text is escaped for its format (JSON string escapes; XML and HTML
// entities); a text without special characters comes out as is.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/wstring.h"
#include "history/reading_history.h"
#include "sensors/sensor_snapshot.h"

struct SensorNames;
struct ReadingStatuses;

enum class OutputFormat { Html, Simple, Xml, Json, Prometheus, Sensors, History, Dashboard };

// The format a request's "format" parameter picks (any letter case); HTML for
// anything else.
OutputFormat ChooseFormat(const std::string& parameter);
// The extension that types each format's answer: ".htm", ".txt", ".xml", and
// ".txt" for JSON (existing clients read it as text/plain).
const wchar_t* FormatExtension(OutputFormat format);
// The exposition format's own Content-Type.
inline constexpr const char* kPrometheusContentType = "text/plain; version=0.0.4; charset=utf-8";
inline constexpr const char* kSensorsContentType = "application/json; charset=utf-8";
inline constexpr const char* kDashboardContentType = "text/html; charset=utf-8";
// Whether a format shows the readings' names.
inline bool ShowsNames(OutputFormat format) {
  return format == OutputFormat::Html || format == OutputFormat::Prometheus ||
         format == OutputFormat::Sensors;
}

// `view` is read only when `error` is empty (then it holds valid readings).
void RenderSimple(std::string& body, const SensorSnapshot* view, const CWString& error);
void RenderXml(std::string& body, const SensorSnapshot* view, const CWString& error);
void RenderJson(std::string& body, const SensorSnapshot* view, const CWString& error);
// UTF-8 whatever the code page; every line ends with a line feed. With
// names, one kelvane_sensor_info series per named reading follows.
// With `statuses` that have any limit, one gauge family per kind of limit
// known (kelvane_temperature_high_warning_celsius, ..._low_critical_...),
// the readings' states (kelvane_sensor_state: 0 ok, 1 warning, 2 critical,
// 3 alarm) and the drivers' alarm flags (kelvane_sensor_alarm) follow.
void RenderPrometheus(std::string& body, const SensorSnapshot* view, const CWString& error,
                      const SensorNames* names = nullptr,
                      const ReadingStatuses* statuses = nullptr);
// The page also shows the count notes of any view it is given, the settings
// form with `port` and the tested flag. A named reading's row reads
// "Temperature 1 (CPU package)"; rows without a name are as ever.
void RenderHtml(std::string& body, const SensorSnapshot* view, const CWString& error, bool tested,
                std::uint16_t port, const SensorNames* names = nullptr);
// ?format=sensors: one JSON document (RFC 8259, UTF-8) with every reading
// typed: id, kind, index, name, value in natural units, unit, and where it
// came from; keys whose value is unknown are left out. With `extremes` (the
// history is on), each reading's "min" and "max" since the agent started.
using SlotExtremes = std::array<Extremes, kHistorySlots>;
// With `statuses`, a reading that has limits or an alarm flag also carries
// "limits" (the known ones), "state" and, where the driver has one, "alarm".
void RenderSensors(std::string& body, const SensorSnapshot* view, const CWString& error,
                   const SensorNames* names, const SlotExtremes* extremes = nullptr,
                   const ReadingStatuses* statuses = nullptr);

// ?format=history: the kept samples as one JSON document (RFC 8259, UTF-8):
// whether the last sample had readings and else why not, the seconds kept
// (0: history off), one Unix-millisecond timestamp per sample, and per
// reading its id, kind, index, name, unit, extremes since the start and over
// the window, and one value per timestamp (null where absent).
struct HistoryAnswer {
  std::size_t seconds = 0;             // 0: history is off
  const HistoryCopy* copy = nullptr;   // the samples asked for (null when off)
  bool up = false;                     // the last sample had readings
  CWString error;                      // why not, when not up
  const SensorNames* names = nullptr;  // may be null
  // Each reading's limits and state, shown for those that have limits.
  const ReadingStatuses* statuses = nullptr;
};
void RenderHistory(std::string& body, const HistoryAnswer& answer);
// The "since" parameter: a whole number of Unix milliseconds, or nothing
// (absent, malformed, out of range) for the whole window.
std::optional<std::int64_t> ParseSince(const std::string& text);
// ?format=dashboard: the page that charts the history, with its script,
// styles and chart library inside; the same bytes for every request.
std::string_view DashboardPage();

// Escaping of 8-bit text.
std::string EscapeJson(const std::string& text);
std::string EscapeMarkup(const std::string& text);
// A Prometheus label value: backslash, double quote and line breaks escaped.
std::string EscapeLabelValue(const std::string& text);
