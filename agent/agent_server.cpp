#include "agent/agent_server.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "agent/apply_settings.h"
#include "agent/labels_section.h"
#include "agent/limits_section.h"
#include "agent/renderers.h"
#include "agent/sensor_names.h"
#include "agent/settings_guard.h"
#include "agent/settings_section.h"
#include "foundation/conversions.h"
#include "foundation/exe_files.h"
#include "foundation/format.h"
#include "foundation/log.h"
#include "foundation/parse_int.h"
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
// How long a history request waits for one of the answers made at once.
constexpr int kHistoryGateWaitMs = 10000;

// Looks share it; a look that starts the monitor holds it alone, so that
// the others (the sampler's too) wait for the start, as they always have,
// instead of seeing a monitor half started.
std::shared_mutex& StartLock() {
  static std::shared_mutex lock;
  return lock;
}

bool IsOnOrOne(const std::string& value) {
  return value == "1" ||
         (value.size() == 2 && std::tolower(static_cast<unsigned char>(value[0])) == 'o' &&
          std::tolower(static_cast<unsigned char>(value[1])) == 'n');
}

// The problem with a look at the block that stops its readings from being
// shown, or empty text.
CWString ErrorOfLook(bool has_view, const SensorSnapshot& readings, const CWString& attach_error) {
  CWString error;
  if (!has_view) {
    Format(error, L"ERROR: Failed to connect to Kelvane shared memory.  {0}", attach_error);
  } else if (!IsValidSnapshot(readings)) {
    error = L"This appears to be an unsupported version of Kelvane";
  } else if (readings.numTemps == 0) {
    error = L"Temperature data not yet available -- refresh the page to try again";
  }
  return error;
}

// The readings' names. Made again only when what they are made of changes
// (the [Labels] lines, the monitor's names, the block's counts; never the
// values): requests in between share them.
std::shared_ptr<const SensorNames> NamesFor(const std::vector<std::string>& lines,
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
  made->lines = lines;
  made->names_text = names_text;
  made->counts = counts;
  made->names = names;
  return names;
}

// One look at the block: the error text that stops the readings from being
// shown, and a copy of the readings whenever there is a view. Looks run side
// by side, each on its own handles, released at once; one that finds no block
// and may start the monitor goes on alone, on the shared state that remembers
// the monitor it started. No handle is kept between looks, so a monitor's
// block ends when the monitor does.
struct ReadingsRead {
  CWString error;
  bool has_view = false;
  SensorSnapshot readings{};
  std::string names_text;
};

ReadingsRead ReadReadings(const std::wstring& monitor_path, bool tested, bool with_names,
                          bool may_start) {
  ReadingsRead read;
  std::string* names_text = with_names ? &read.names_text : nullptr;
  if (!platform::PathExists(monitor_path)) {
    Format(read.error, L"ERROR: {0} not found.", monitor_path.c_str());
    return read;
  }
  if (!tested) {
    read.error = L"Indicate Kelvane has been tested on this server and then refresh the page";
    return read;
  }
  CWString attach_error;
  {
    // A failure that the start below follows is traced there, once.
    std::shared_lock<std::shared_mutex> looking(StartLock());
    read.has_view = ReadSensorSnapshot(monitor_path.c_str(), read.readings, attach_error,
                                       names_text, !may_start);
  }
  if (!read.has_view && may_start) {
    std::unique_lock<std::shared_mutex> starting(StartLock());
    attach_error = CWString();
    const SensorSnapshot* attached =
        AttachSensorSnapshot(monitor_path.c_str(), attach_error, names_text, true);
    if (attached != nullptr) {
      CopySnapshot(*attached, read.readings);
      read.has_view = true;
    }
    ReleaseSnapshot(TheSnapshotState());
  }
  read.error = ErrorOfLook(read.has_view, read.readings, attach_error);
  return read;
}

// The dashboard loads nothing from another host, and says so to the browser.
constexpr const char* kDashboardPolicy =
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
    "style-src 'unsafe-inline'; img-src data:; connect-src 'self'\r\n";

RequestOrigin OriginOf(const Request& request, bool tls) {
  return {request.IsPost(), request.Header("Origin"), request.Header("Referer"),
          request.Header("Host"), tls};
}

// The names by which this machine's own page is reached, beside the
// literal addresses and "localhost".
std::vector<std::string> OwnHostNames(const std::wstring& allowed_hosts) {
  std::vector<std::string> names = ParseAllowedHosts(WideToAnsi(allowed_hosts));
  names.push_back(platform::HostName());
  return names;
}

// A settings action under SettingsFrom: false (and traced) when refused.
bool SettingsActionPermitted(const Request& request, const StoredSettings& stored, bool tls) {
  const std::wstring& settings_from = stored.settings_from;
  if (settings_from.empty()) return true;
  const SettingsPolicy policy = ParseSettingsFrom(WideToAnsi(settings_from));
  for (const std::string& entry : policy.malformed) {
    DebugPrint(L"SettingsFrom: ignoring %ls (not an address or range)",
               AnsiToWide(entry).GetString());
  }
  if (SettingsActionAllowed(policy, request.ClientAddress(), OriginOf(request, tls),
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

std::string KelvaneHTTPAgentHTTPServer::OwnAnswerHeaderLines() {
  MonitorPath();  // the paths, worked out once
  return AllowOriginLines(settings_view_.Current(settings_path_)->stored.allow_origin);
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

bool KelvaneHTTPAgentHTTPServer::RefusedAccess(Request& request, const std::string& allow_origin) {
  const platform::IpAddress& client = request.ClientAddress();
  const std::string_view client_bytes(reinterpret_cast<const char*>(client.bytes.data()),
                                      client.bytes.size());
  const AuthResult result = users_->Check(request.Header("Authorization"), client_bytes);
  switch (result.verdict) {
    case AuthResult::Verdict::Allowed:
      return false;
    case AuthResult::Verdict::Refused:
      request.SetExtraHeaderLines(allow_origin + kBasicChallengeLine);
      request.SetErrorResponse(kStatusUnauthorized);
      return true;
    case AuthResult::Verdict::Throttled:
    case AuthResult::Verdict::Busy:
      break;
  }
  request.SetExtraHeaderLines(allow_origin +
                              "Retry-After: " + std::to_string(result.retry_after_s) + "\r\n");
  request.SetErrorResponse(result.verdict == AuthResult::Verdict::Throttled
                               ? kStatusTooManyRequests
                               : kStatusServiceUnavailable);
  return true;
}

bool KelvaneHTTPAgentHTTPServer::HandleRequest(Request& request, const std::wstring&) {
  const std::wstring& monitor_path = MonitorPath();
  const std::wstring& settings = settings_path_;
  // One read of the settings file gives the tested flag and the port the
  // page shows; a settings action changes the file, so it is read again.
  std::shared_ptr<const SettingsView> view_of_settings = settings_view_.Current(settings);
  StoredSettings stored = view_of_settings->stored;
  const std::string allow_origin = AllowOriginLines(stored.allow_origin);
  if (users_ != nullptr && RefusedAccess(request, allow_origin)) return true;
  request.SetExtraHeaderLines(allow_origin);
  bool tested = stored.can_launch;
  std::string port_text = request.GetParam("port");
  if (!port_text.empty()) {
    if (!SettingsActionPermitted(request, stored, request.Secure())) {
      request.SetErrorResponse(kStatusForbidden);
      return true;
    }
    if (PortTextInRange(port_text)) {
      tested = IsOnOrOne(request.GetParam("canlaunch"));
      ApplySettingsTo(settings, exe_path_, PortFromText(port_text), tested);
      view_of_settings = settings_view_.Current(settings);
      stored = view_of_settings->stored;
    } else {
      // Never stored as another number (its low 16 bits): nothing changes.
      ReportToEventLog(L"Port %s is not between 1 and 65535: settings not changed",
                       port_text.c_str());
    }
  }
  OutputFormat format = ChooseFormat(request.GetParam("format"));
  if (format == OutputFormat::Dashboard) {
    request.SetExtraHeaderLines(allow_origin + kDashboardPolicy);
    request.SetResponseOfType(kStatusOk, std::string(DashboardPage()), kDashboardContentType);
    return true;
  }
  if (format == OutputFormat::History) {
    AnswerHistory(request, tested);
    return true;
  }
  const bool with_names = ShowsNames(format);
  ReadingsRead read = ReadReadings(monitor_path, tested, with_names, true);
  const SensorSnapshot* view = read.has_view ? &read.readings : nullptr;
  std::shared_ptr<const SensorNames> names;
  if (with_names && view != nullptr && read.error.IsEmpty()) {
    names = NamesFor(view_of_settings->label_lines, read.names_text, read.readings);
  }
  if (format == OutputFormat::Sensors || format == OutputFormat::Prometheus ||
      format == OutputFormat::Html) {
    AnswerInputs inputs;
    inputs.settings = std::move(view_of_settings);
    inputs.names = std::move(names);
    inputs.has_view = read.has_view;
    inputs.readings = read.readings;
    inputs.error = read.error;
    if (format == OutputFormat::Html) {
      inputs.tested = tested;
      inputs.port = stored.port;
      AnswerPage(request, std::move(inputs));
    } else {
      AnswerWithStatuses(request, format, std::move(inputs), read.names_text);
    }
    return true;
  }
  const CWString& error = read.error;
  std::string body;
  body.reserve(kBodyReserve);
  switch (format) {
    case OutputFormat::Simple:
      RenderSimple(body, view, error);
      break;
    case OutputFormat::Xml:
      RenderXml(body, view, error);
      break;
    case OutputFormat::Json:
      RenderJson(body, view, error);
      break;
    case OutputFormat::Html:
    case OutputFormat::Prometheus:
    case OutputFormat::Sensors:
    case OutputFormat::History:
    case OutputFormat::Dashboard:
      break;  // answered above
  }
  request.SetResponseText(kStatusOk, body.c_str(), FormatExtension(format));
  return true;
}

void KelvaneHTTPAgentHTTPServer::AnswerPage(Request& request, AnswerInputs inputs) {
  std::shared_ptr<const std::string> body = page_answer_.Find(inputs);
  if (body == nullptr) {
    auto made = std::make_shared<std::string>();
    made->reserve(kBodyReserve);
    RenderHtml(*made, inputs.has_view ? &inputs.readings : nullptr, inputs.error, inputs.tested,
               inputs.port, inputs.names.get());
    body = made;
    page_answer_.Keep(std::move(inputs), body);
  }
  request.SetResponseText(kStatusOk, body->c_str(), FormatExtension(OutputFormat::Html));
}

void KelvaneHTTPAgentHTTPServer::AnswerWithStatuses(Request& request, OutputFormat format,
                                                    AnswerInputs inputs,
                                                    const std::string& names_text) {
  const bool sensors = format == OutputFormat::Sensors;
  AnswerCache& cache = sensors ? sensors_answer_ : prometheus_answer_;
  if (sensors && history_ != nullptr) inputs.extremes = history_->History().ExtremesSinceStart();
  inputs.state_changes = status_tracker_.StateChanges();
  std::shared_ptr<const std::string> body = cache.Find(inputs);
  if (body == nullptr) {
    ReadingStatuses statuses;
    if (inputs.has_view && inputs.error.IsEmpty()) {
      statuses = StatusesOf(inputs.readings, names_text, inputs.settings->limits);
      // Counted with the states these statuses hold, not any made since.
      inputs.state_changes = statuses.state_changes;
    }
    auto made = std::make_shared<std::string>();
    made->reserve(kBodyReserve);
    const SensorSnapshot* view = inputs.has_view ? &inputs.readings : nullptr;
    if (sensors) {
      RenderSensors(*made, view, inputs.error, inputs.names.get(),
                    inputs.extremes ? &*inputs.extremes : nullptr, &statuses);
    } else {
      RenderPrometheus(*made, view, inputs.error, inputs.names.get(), &statuses);
    }
    body = made;
    cache.Keep(std::move(inputs), body);
  }
  request.SetResponseOfType(kStatusOk, *body,
                            sensors ? kSensorsContentType : kPrometheusContentType);
}

std::shared_ptr<const DriverLimits> KelvaneHTTPAgentHTTPServer::DriverLimitsOf(
    const std::string& names_text) {
  {
    std::lock_guard<std::mutex> hold(driver_limits_mutex_);
    if (driver_limits_ != nullptr && driver_limits_text_ == names_text) return driver_limits_;
  }
  SourceNames source;
  ParseSourceNames(names_text, source);  // anything malformed counts as none
  auto driver = std::make_shared<const DriverLimits>(DriverLimitsFrom(source));
  std::lock_guard<std::mutex> hold(driver_limits_mutex_);
  driver_limits_text_ = names_text;
  driver_limits_ = driver;
  return driver;
}

ReadingStatuses KelvaneHTTPAgentHTTPServer::StatusesOf(const SensorSnapshot& readings,
                                                       const std::string& names_text,
                                                       const LimitsSection& yours) {
  std::vector<std::wstring> notes;
  const std::shared_ptr<const DriverLimits> driver = DriverLimitsOf(names_text);
  ReadingStatuses statuses = status_tracker_.Update(readings, yours, driver.get(), notes);
  for (const std::wstring& note : notes) {
    ReportToEventLog(L"%ls", note.c_str());
    DebugPrint(L"%ls", note.c_str());
  }
  return statuses;
}

void KelvaneHTTPAgentHTTPServer::StartHistory(std::size_t seconds, bool fill_for_tests) {
  if (seconds == 0 || history_ != nullptr) return;
  MonitorPath();  // the paths, worked out before the sampler reads them
  history_ = std::make_unique<HistorySampler>(
      seconds, [this](SampleRead& read) { ReadForHistory(read); }, SystemClockMs);
  if (fill_for_tests) history_->FillAtFirstSampleForTests();
  history_->Start();
}

void KelvaneHTTPAgentHTTPServer::StopHistory() {
  if (history_ != nullptr) history_->Stop();
}

void KelvaneHTTPAgentHTTPServer::ReadForHistory(SampleRead& read) {
  // The same rules as a request's, so the dashboard agrees with the page,
  // but nothing is started and no setting changes.
  const std::shared_ptr<const SettingsView> settings = settings_view_.Current(settings_path_);
  const bool tested = settings->stored.can_launch;
  ReadingsRead look = ReadReadings(monitor_path_, tested, true, false);
  read.valid = look.has_view && look.error.IsEmpty();
  read.error = look.error;
  if (read.valid) {
    std::shared_ptr<const SensorNames> names =
        NamesFor(settings->label_lines, look.names_text, look.readings);
    auto statuses = std::make_shared<const ReadingStatuses>(
        StatusesOf(look.readings, look.names_text, settings->limits));
    read.readings = look.readings;
    std::lock_guard<std::mutex> hold(history_names_mutex_);
    history_names_ = std::move(names);
    history_statuses_ = statuses->any ? std::move(statuses) : nullptr;
  }
}

void KelvaneHTTPAgentHTTPServer::AnswerHistory(Request& request, bool tested) {
  // Each answer is bounded (kMaxValuesPerCopy), and so is how many are made
  // at once: the memory that history answers hold stays a few MiB.
  GateSlot slot(history_gate_, kHistoryGateWaitMs);
  if (!slot.Held()) {
    request.SetExtraHeaderLines(request.ExtraHeaderLines() + "Retry-After: 1\r\n");
    request.SetErrorResponse(kStatusServiceUnavailable);
    return;
  }
  HistoryAnswer answer;
  HistoryCopy copy;
  std::shared_ptr<const SensorNames> names;
  std::shared_ptr<const ReadingStatuses> statuses;
  const HistorySampler* sampler = history_.get();
  if (sampler == nullptr) {
    answer.error = L"History is off (History=0 in the settings file)";
  } else {
    // The sampler never starts the monitor; a request may, as every
    // request does, and its error text is the fresher one.
    CWString fresh_error;
    if (!sampler->LatestState().up) {
      fresh_error = ReadReadings(monitor_path_, tested, false, true).error;
    }
    HistorySampler::Snapshot snapshot =
        sampler->SnapshotSince(ParseSince(request.GetParam("since")));
    const HistorySampler::Latest& latest = snapshot.latest;
    answer.seconds = sampler->Seconds();
    answer.up = latest.up;
    answer.error = latest.sampled ? latest.error : CWString(L"No sample has been taken yet");
    if (!latest.up && !fresh_error.IsEmpty()) answer.error = fresh_error;
    copy = std::move(snapshot.copy);
    answer.copy = &copy;
    {
      std::lock_guard<std::mutex> hold(history_names_mutex_);
      names = history_names_;
      statuses = history_statuses_;
    }
    answer.names = names.get();
    answer.statuses = statuses.get();
  }
  std::string body;
  body.reserve(kBodyReserve);
  RenderHistory(body, answer);
  request.SetResponseOfType(kStatusOk, body, kSensorsContentType);
}
