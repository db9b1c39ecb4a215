#include "agent/agent_server.h"

#include "agent/renderers.h"
#include "foundation/exe_files.h"
#include "foundation/format.h"
#include "foundation/locks.h"
#include "foundation/parse_int.h"
#include "foundation/settings.h"
#include "host/apply_settings.h"
#include "http/request.h"
#include "platform/paths.h"
#include "sensors/attach.h"

namespace {

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
CWString ErrorText(const std::wstring& monitor_path, bool tested, const SensorSnapshot*& view) {
  CWString error;
  if (!platform::PathExists(monitor_path)) {
    Format(error, L"ERROR: {0} not found.", monitor_path.c_str());
  } else if (!tested) {
    error = L"Indicate Kelvane has been tested on this server and then refresh the page";
  } else {
    CWString attach_error;
    view = AttachSensorSnapshot(monitor_path.c_str(), attach_error);
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

}  // namespace

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
  bool tested = ReadCanLaunchFrom(settings);
  std::string port_text = request.GetParam("port");
  if (!port_text.empty()) {
    tested = IsOnOrOne(request.GetParam("canlaunch"));
    ApplySettingsTo(settings, exe_path_, PortFromText(port_text), tested);
  }
  OutputFormat format = ChooseFormat(request.GetParam("format"));
  std::string body;
  {
    CAcquireCS hold(RenderLock());
    const SensorSnapshot* view = nullptr;
    CWString error = ErrorText(monitor_path, tested, view);
    switch (format) {
      case OutputFormat::Html:
        RenderHtml(body, view, error, tested, ReadPortFrom(settings));
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
    }
  }
  request.SetResponseText(kStatusOk, body.c_str(), FormatExtension(format));
  return true;
}
