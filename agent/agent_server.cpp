#include "agent/agent_server.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "agent/renderers.h"
#include "agent/sensor_names.h"
#include "agent/settings_guard.h"
#include "foundation/apply_settings.h"
#include "foundation/conversions.h"
#include "foundation/exe_files.h"
#include "foundation/format.h"
#include "foundation/labels.h"
#include "foundation/locks.h"
#include "foundation/log.h"
#include "foundation/parse_int.h"
#include "foundation/settings.h"
#include "http/debug_print.h"
#include "http/request.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/socket.h"
#include "sensors/attach.h"
#include "sensors/source_names.h"

namespace {

// Room for the page with all its tables, so the body grows without copying.
constexpr std::size_t kBodyReserve = 8192;

CLockCS& RenderLock() {
  static CLockCS lock;
  return lock;
}

bool IsOnOrOne(const std::string& value) {
  return value == "1" ||
         (value.size() == 2 && std::tolower(static_cast<unsigned char>(value[0])) == 'o' &&
          std::tolower(static_cast<unsigned char>(value[1])) == 'n');
}

// The first problem that stops the readings from being shown, or empty text.
// `monitor_found` is whether the monitor's program exists.
CWString ErrorText(const std::wstring& monitor_path, bool monitor_found, bool tested,
                   const SensorSnapshot*& view, std::string* names_text) {
  CWString error;
  if (!monitor_found) {
    Format(error, L"ERROR: {0} not found.", monitor_path.c_str());
  } else if (!tested) {
    error = L"Indicate Kelvane has been tested on this server and then refresh the page";
  } else {
    CWString attach_error;
    view = AttachSensorSnapshot(monitor_path.c_str(), attach_error, names_text);
    if (view == nullptr) {
      Format(error, L"ERROR: Failed to connect to Kelvane shared memory.  {0}", attach_error);
    } else if (!IsValidSnapshot(*view)) {
      error = L"This appears to be an unsupported version of Kelvane";
    } else if (view->numTemps == 0) {
      error = L"Temperature data not yet available -- refresh the page to try again";
    }
  }
  return error;
}

// The readings' names. Made again only when what they are made of changes
// (the [Labels] lines, the monitor's names, the block's counts; never the
// values): requests in between share them.
std::shared_ptr<const SensorNames> NamesFor(const std::wstring& settings,
                                            const std::string& names_text,
                                            const SensorSnapshot& readings) {
  struct Made {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::string names_text;
    std::array<int, 3> counts{-1, -1, -1};
    std::shared_ptr<const SensorNames> names;
  };
  static Made* made = new Made;  // never destroyed: workers may use it until the end
  std::vector<std::string> lines = platform::ReadIniSectionLines(settings, kLabelsSection);
  const std::array<int, 3> counts = {EntriesToRead(readings.numTemps),
                                     EntriesToRead(readings.numFans),
                                     EntriesToRead(readings.numVolts)};
  {
    std::lock_guard<std::mutex> hold(made->mutex);
    if (made->names != nullptr && made->counts == counts && made->lines == lines &&
        made->names_text == names_text) {
      return made->names;
    }
  }
  SourceNames source;
  ParseSourceNames(names_text, source);  // anything malformed counts as none
  auto names =
      std::make_shared<const SensorNames>(NameSensors(readings, ParseLabels(lines), source));
  std::lock_guard<std::mutex> hold(made->mutex);
  made->lines = std::move(lines);
  made->names_text = names_text;
  made->counts = counts;
  made->names = names;
  return names;
}

RequestOrigin OriginOf(const Request& request) {
  return {request.IsPost(), request.Header("Origin"), request.Header("Referer"),
          request.Header("Host")};
}

// The names by which this machine's own page is reached, beside the
// literal addresses and "localhost".
std::vector<std::string> OwnHostNames(const std::wstring& allowed_hosts) {
  std::vector<std::string> names = ParseAllowedHosts(WideToAnsi(allowed_hosts));
  names.push_back(platform::HostName());
  return names;
}

// A settings action under SettingsFrom: false (and traced) when refused.
bool SettingsActionPermitted(const Request& request, const StoredSettings& stored) {
  const std::wstring& settings_from = stored.settings_from;
  if (settings_from.empty()) return true;
  const SettingsPolicy policy = ParseSettingsFrom(WideToAnsi(settings_from));
  for (const std::string& entry : policy.malformed) {
    DebugPrint(L"SettingsFrom: ignoring %ls (not an address or range)",
               AnsiToWide(entry).GetString());
  }
  if (SettingsActionAllowed(policy, request.ClientAddress(), OriginOf(request),
                            OwnHostNames(stored.allowed_hosts))) {
    return true;
  }
  DebugPrint(L"Settings action refused for %ls",
             AnsiToWide(FormatIpAddress(Unmapped(request.ClientAddress()))).GetString());
  return false;
}

}  // namespace

std::string AllowOriginLines(const std::wstring& value) {
  std::string text;
  for (char c : WideToAnsi(value)) {
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) text += c;
  }
  if (text.empty()) return text;
  return "Access-Control-Allow-Origin: " + text + "\r\n";
}

namespace {

std::string AllowOriginOfServerAnswers() {
  return AllowOriginLines(ReadSettingsFrom(SettingsFilePath()).allow_origin);
}

}  // namespace

KelvaneHTTPAgentHTTPServer::KelvaneHTTPAgentHTTPServer() {
  SetExtraHeaderProvider(&AllowOriginOfServerAnswers);
}

bool PortTextInRange(const std::string& text) {
  const std::int32_t value = ParseLeadingInt32(text);
  return value >= 0 && value <= 65535;
}

std::uint16_t PortFromText(const std::string& text) {
  auto port = static_cast<std::uint16_t>(ParseLeadingInt32(text));
  return port == 0 ? kDefaultPort : port;
}

std::wstring KelvaneHTTPAgentHTTPServer::AgentExecutablePath() const {
  return platform::ExecutablePath();
}

std::wstring KelvaneHTTPAgentHTTPServer::SettingsFile() const {
  return SiblingFileName(AgentExecutablePath(), L".ini");
}

void KelvaneHTTPAgentHTTPServer::ComputePaths() {
  exe_path_ = AgentExecutablePath();
  settings_path_ = SettingsFile();
  std::size_t separator = exe_path_.rfind(platform::kDirSeparator);
  monitor_path_ = separator == std::wstring::npos ? exe_path_
                                                  : exe_path_.substr(0, separator + 1) +
                                                        L"kelvane" + platform::kExecutableSuffix;
}

const std::wstring& KelvaneHTTPAgentHTTPServer::MonitorPath() {
  // Worked out once, and published whole to every thread.
  std::call_once(paths_once_, [this] { ComputePaths(); });
  return monitor_path_;
}

bool KelvaneHTTPAgentHTTPServer::HandleRequest(Request& request, const std::wstring&) {
  const std::wstring& monitor_path = MonitorPath();
  const std::wstring& settings = settings_path_;
  // One read of the settings file gives the tested flag and the port the
  // page shows; a settings action changes the file, so it is read again.
  StoredSettings stored = ReadSettingsFrom(settings);
  request.SetExtraHeaderLines(AllowOriginLines(stored.allow_origin));
  bool tested = stored.can_launch;
  std::string port_text = request.GetParam("port");
  if (!port_text.empty()) {
    if (!SettingsActionPermitted(request, stored)) {
      request.SetErrorResponse(kStatusForbidden);
      return true;
    }
    if (PortTextInRange(port_text)) {
      tested = IsOnOrOne(request.GetParam("canlaunch"));
      ApplySettingsTo(settings, exe_path_, PortFromText(port_text), tested);
      stored = ReadSettingsFrom(settings);
    } else {
      // Never stored as another number (its low 16 bits): nothing changes.
      ReportToEventLog(L"Port %s is not between 1 and 65535: settings not changed",
                       port_text.c_str());
    }
  }
  OutputFormat format = ChooseFormat(request.GetParam("format"));
  const bool with_names = ShowsNames(format);
  std::string names_text;
  // The attach call runs one request at a time; the readings are copied out
  // under the lock, since the next attach call releases the view, and
  // rendered from the copy without holding it. The existence test needs no
  // lock, so it is made before: the lock is then held only for the attach.
  const bool monitor_found = platform::PathExists(monitor_path);
  SensorSnapshot readings;
  const SensorSnapshot* view = nullptr;
  CWString error;
  {
    CAcquireCS hold(RenderLock());
    const SensorSnapshot* attached = nullptr;
    error = ErrorText(monitor_path, monitor_found, tested, attached,
                      with_names ? &names_text : nullptr);
    if (attached != nullptr) {
      CopySnapshot(*attached, readings);
      view = &readings;
    }
  }
  std::shared_ptr<const SensorNames> shown;
  if (with_names && view != nullptr && error.IsEmpty()) {
    shown = NamesFor(settings, names_text, readings);
  }
  const SensorNames* names = shown.get();
  std::string body;
  body.reserve(kBodyReserve);
  switch (format) {
    case OutputFormat::Html:
      RenderHtml(body, view, error, tested, stored.port, names);
      break;
    case OutputFormat::Simple:
      RenderSimple(body, view, error);
      break;
    case OutputFormat::Xml:
      RenderXml(body, view, error);
      break;
    case OutputFormat::Json:
      RenderJson(body, view, error);
      break;
    case OutputFormat::Prometheus:
      RenderPrometheus(body, view, error, names);
      request.SetResponseOfType(kStatusOk, body, kPrometheusContentType);
      return true;
    case OutputFormat::Sensors:
      RenderSensors(body, view, error, names);
      request.SetResponseOfType(kStatusOk, body, kSensorsContentType);
      return true;
  }
  request.SetResponseText(kStatusOk, body.c_str(), FormatExtension(format));
  return true;
}
