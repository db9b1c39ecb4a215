// The Prometheus text exposition format (version 0.0.4): one gauge family per
// kind of reading, plus whether there were readings and, if not, why.
#include <charconv>
#include <string>
#include <string_view>

#include "agent/reading_status.h"
#include "agent/render_common.h"
#include "agent/renderers.h"
#include "foundation/conversions.h"

using render::Kind;

namespace {

struct Family {
  Kind kind;
  const char* name;
  const char* help;
};

// Short help texts keep the answer small: a handful of each kind fits in one
// 1024-byte send on Windows.
constexpr Family kFamilies[] = {
    {Kind::Temperature, "kelvane_temperature_celsius", "Temperature, degrees Celsius."},
    {Kind::Fan, "kelvane_fan_rpm", "Fan speed, revolutions per minute."},
    {Kind::Voltage, "kelvane_voltage_volts", "Voltage, volts."},
};

void AppendHeader(std::string& body, const char* name, const char* help) {
  body.append("# HELP ").append(name).append(" ").append(help).append("\n# TYPE ");
  body.append(name).append(" gauge\n");
}

void AppendFamily(std::string& body, const SensorSnapshot& s, const Family& family) {
  const int count = render::Count(s, family.kind);
  if (count == 0) return;
  AppendHeader(body, family.name, family.help);
  for (int i = 0; i < count; ++i) {
    char number[16];
    auto [end, error] = std::to_chars(number, number + sizeof number, i + 1);
    body.append(family.name).append("{sensor=\"");
    body.append(number, error == std::errc() ? static_cast<std::size_t>(end - number) : 0);
    body.append("\"} ");
    render::AppendShortestNumber(body, render::Scaled(s, family.kind, i, false));
    body += '\n';
  }
}

void AppendLabel(std::string& body, const char* name, const NameText& value) {
  if (value.empty()) return;  // unknown: left out
  body.append(",").append(name).append("=\"").append(value.label_value).append("\"");
}

// One info series per named reading, joining on `sensor` with the readings'
// own series, which keep their labels (a rename never breaks their history).
void AppendInfo(std::string& body, const SensorSnapshot& s, const SensorNames& names) {
  AppendHeader(body, "kelvane_sensor_info", "Names of the readings; always 1.");
  for (const Family& family : kFamilies) {
    const int count = render::Count(s, family.kind);
    for (int i = 0; i < count; ++i) {
      const SensorName& n = names.kinds[static_cast<int>(family.kind)][static_cast<std::size_t>(i)];
      if (n.name.empty()) continue;
      body.append("kelvane_sensor_info{kind=\"").append(render::KindWord(family.kind));
      char number[16];
      auto [end, error] = std::to_chars(number, number + sizeof number, i + 1);
      body.append("\",sensor=\"");
      body.append(number, error == std::errc() ? static_cast<std::size_t>(end - number) : 0);
      body += '"';
      AppendLabel(body, "name", n.name);
      AppendLabel(body, "chip", n.chip);
      AppendLabel(body, "chip_name", n.chip_name);
      AppendLabel(body, "input", n.input);
      AppendLabel(body, "label", n.label);
      body += "} 1\n";
    }
  }
}

void AppendSensorNumber(std::string& body, int i) {
  char number[16];
  auto [end, error] = std::to_chars(number, number + sizeof number, i + 1);
  body.append(number, error == std::errc() ? static_cast<std::size_t>(end - number) : 0);
}

struct LimitFamily {
  std::optional<double> limits::ReadingLimits::*member;
  const char* word;
};
constexpr LimitFamily kLimitFamilies[] = {
    {&limits::ReadingLimits::high_warning, "high_warning"},
    {&limits::ReadingLimits::high_critical, "high_critical"},
    {&limits::ReadingLimits::low_warning, "low_warning"},
    {&limits::ReadingLimits::low_critical, "low_critical"},
};
constexpr const char* kUnitSuffix[] = {"celsius", "rpm", "volts"};
constexpr const char* kKindStem[] = {"kelvane_temperature_", "kelvane_fan_", "kelvane_voltage_"};

// One family per kind of limit that some reading of `kind` has.
void AppendLimitFamilies(std::string& body, const SensorSnapshot& s, Kind kind,
                         const ReadingStatuses& statuses) {
  const int k = static_cast<int>(kind);
  const int count = render::Count(s, kind);
  for (const LimitFamily& family : kLimitFamilies) {
    std::string series;
    const std::string name = std::string(kKindStem[k]) + family.word + "_" + kUnitSuffix[k];
    for (int i = 0; i < count; ++i) {
      const std::optional<double>& limit = statuses.kinds[k][i].limits.*family.member;
      if (!limit) continue;
      series.append(name).append("{sensor=\"");
      AppendSensorNumber(series, i);
      series.append("\"} ");
      render::AppendShortestNumber(series, *limit);
      series += '\n';
    }
    if (series.empty()) continue;
    AppendHeader(body, name.c_str(), "Limit of the reading, from its driver or [Limits].");
    body += series;
  }
}

// The state of every reading that has limits or an alarm flag, and the flags.
void AppendStates(std::string& body, const SensorSnapshot& s, const ReadingStatuses& statuses) {
  AppendHeader(body, "kelvane_sensor_state", "0 ok, 1 warning, 2 critical, 3 alarm.");
  std::string alarms;
  for (const Family& family : kFamilies) {
    const int k = static_cast<int>(family.kind);
    for (int i = 0; i < render::Count(s, family.kind); ++i) {
      const ReadingStatus& status = statuses.kinds[k][i];
      if (!status.Shown()) continue;
      std::string labels = std::string("{kind=\"") + render::KindWord(family.kind) + "\",sensor=\"";
      AppendSensorNumber(labels, i);
      labels += "\"} ";
      body.append("kelvane_sensor_state").append(labels);
      body += static_cast<char>('0' + static_cast<int>(status.state));
      body += '\n';
      if (status.alarm)
        alarms.append("kelvane_sensor_alarm").append(labels).append(*status.alarm ? "1\n" : "0\n");
    }
  }
  if (alarms.empty()) return;
  AppendHeader(body, "kelvane_sensor_alarm", "1 while the driver raises an alarm.");
  body += alarms;
}

}  // namespace

std::string EscapeLabelValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\r':
        // Only \n is an escape here, and a bare CR would end the line for
        // some readers: CR LF and a lone CR both become one escaped line feed.
        out += "\\n";
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += text[i];
    }
  }
  return out;
}

void RenderPrometheus(std::string& body, const SensorSnapshot* view, const CWString& error,
                      const SensorNames* names, const ReadingStatuses* statuses) {
  AppendHeader(body, "kelvane_up", "1 when the monitor's readings were read, else 0.");
  if (!error.IsEmpty()) {
    body += "kelvane_up 0\n";
    AppendHeader(body, "kelvane_error_info", "Why there are no readings.");
    body.append("kelvane_error_info{error=\"")
        .append(EscapeLabelValue(WideToUtf8(error.View())))
        .append("\"} 1\n");
    return;
  }
  body += "kelvane_up 1\n";
  for (const Family& family : kFamilies) AppendFamily(body, *view, family);
  if (names != nullptr && names->any) AppendInfo(body, *view, *names);
  if (statuses == nullptr || !statuses->any) return;
  for (const Family& family : kFamilies) AppendLimitFamilies(body, *view, family.kind, *statuses);
  AppendStates(body, *view, *statuses);
}
