// The module's run procedure: the agent's own switches, the single-instance
// rule, the server, the browser and the message loop.
#include <cstdio>

#include "agent/apply_settings.h"
#include "agent/settings_section.h"
#include "foundation/cmdline.h"
#include "foundation/conversions.h"
#include "foundation/exe_files.h"
#include "foundation/format.h"
#include "foundation/ip_address.h"
#include "foundation/log.h"
#include "foundation/parse_int.h"
#include "host/access_setup.h"
#include "host/module.h"
#include "http/debug_print.h"
#include "http/server_limits.h"
#include "platform/desktop.h"
#include "platform/paths.h"
#include "platform/run_loop.h"
#include "platform/service.h"
#include "platform/socket.h"

namespace {

bool OpensBrowser(int show_command) {
  return show_command == 1 || show_command == 5 || show_command == 10;
}

// How long the listener's set-up may take: a bind and a listen, so this is
// only a bound for a machine in trouble.
constexpr int kListenSetupWaitMs = 30000;

// Says why nothing listens: the event log, the trace and standard error.
void SayNotListening(const std::wstring& why) {
  ReportToEventLog(L"%ls: not listening", why.c_str());
  DebugPrint(L"%ls: not listening", why.c_str());
  std::fprintf(stderr, "KelvaneHTTPAgent: %s: not listening\n", WideToAnsi(why).c_str());
  std::fflush(stderr);
}

// The optional "Bind" address. A value that is not an address must never
// widen what the agent listens on: it is reported and nothing listens.
bool ChooseListenAddress(HTTPServer& server, const std::wstring& bind) {
  if (bind.empty()) return true;
  IpAddress address;
  if (ParseIpAddress(WideToAnsi(bind), address)) {
    server.SetListenAddress(address);
    return true;
  }
  SayNotListening(L"Bind=" + bind + L" is not an IP address");
  return false;
}

// A person's words for a failed set-up of the listening socket.
std::wstring ListenFailureText(std::uint16_t port, const std::wstring& bind, int error) {
  wchar_t port_text[16];
  swprintf(port_text, 16, L"%u", static_cast<unsigned>(port));
  switch (platform::ClassifyListenError(error)) {
    case platform::ListenFailure::PortInUse:
      return std::wstring(L"port ") + port_text + L" is already in use";
    case platform::ListenFailure::AddressNotAvailable:
      return L"address " + bind + L" is not available on this machine";
    case platform::ListenFailure::Other:
      break;
  }
  std::wstring text = std::wstring(L"cannot listen on port ") + port_text;
  if (error != 0) text += L": " + std::wstring(GetSystemErrorText(error).View());
  return text;
}

// Starts the server and waits for its listening socket. False, said, when
// nothing listens.
bool StartListening(HTTPServer& server, std::uint16_t port) {
  const std::wstring bind = ReadBind();
  if (!ChooseListenAddress(server, bind)) return false;
  server.Start(port, L"invalid_directory!");
  if (server.WaitForSetup(kListenSetupWaitMs) != HTTPServer::SetupState::Failed) return true;
  SayNotListening(ListenFailureText(port, bind, server.SetupError()));
  return false;
}

// The port of -setport. A value beyond 1-65535 is refused whole, never
// stored as another number: nothing is applied, as for 0.
std::uint16_t SetPortValue(const std::wstring& text) {
  const std::int32_t value = ParseLeadingInt32(std::wstring_view(text));
  if (value >= 0 && value <= 65535) return static_cast<std::uint16_t>(value);
  ReportToEventLog(L"Port %d is not between 1 and 65535: nothing changed", value);
  std::fprintf(stderr, "KelvaneHTTPAgent: port %d is not between 1 and 65535: nothing changed\n",
               static_cast<int>(value));
  std::fflush(stderr);
  return 0;
}

}  // namespace

int CKelvaneHTTPAgentModule::Run(int show_command) {
  ReportToEventLog(L"CKelvaneHTTPAgentModule::Run");
  CCmdLineParser parser(nullptr, false);
  std::wstring command_line = platform::CommandLine();
  parser.Parse(command_line.c_str());
  bool exit_at_end = false, apply_settings = false, shutdown = false, no_browser = false;
  std::uint16_t port = 0;
  bool can_launch = false;

  if (parser.HasKey(L"d")) {
    ReportToEventLog(L"HasKey d");
    show_command = 0;
    no_browser = true;
  }
  if (parser.HasKey(L"UnregServer") || parser.HasKey(L"u")) {
    ReportToEventLog(L"HasKey u");
    UnregisterAgent();
    exit_at_end = true;
  }
  if (parser.HasKey(L"RegServer") || parser.HasKey(L"i")) {
    ReportToEventLog(L"HasKey i");
    RegisterAgent(true);
    exit_at_end = true;
  }
  if (parser.HasKey(L"service")) {
    ReportToEventLog(L"HasKey service - stopping");
    return no_browser ? 0 : 1;
  }
  if (parser.HasValue(L"setport")) {
    ReportToEventLog(L"HasKey setport");
    port = SetPortValue(parser.GetValue(L"setport"));
    if (port != 0) can_launch = ReadCanLaunch();
    exit_at_end = true;
    apply_settings = port != 0;
  }
  if (parser.HasKey(L"tested")) {
    ReportToEventLog(L"HasKey tested");
    apply_settings = true;
    can_launch = true;
    if (port == 0) port = ReadPort();
    exit_at_end = true;
  }
  if (parser.HasKey(L"relaunch")) ReportToEventLog(L"HasKey relaunch");
  if (apply_settings) ApplySettings(port, can_launch);
  if (exit_at_end) {
    ReportToEventLog(L"ExitAtEnd");
    return 0;
  }

  if (platform::InstanceMarkerAlreadyTaken(L"KVHTTPAgent")) {
    ReportToEventLog(L"Shutdown because event exists");
    shutdown = true;
  }
  port = ReadPort();
  if (!shutdown) {
    ServerTimeouts().max_connections = ReadMaxConnectionsFrom(SettingsFilePath());
    // Before the first request, which reads the sampler without a lock.
    // -testfillhistory is for tests of a full history only.
    TheAgentServer().StartHistory(
        static_cast<std::size_t>(ReadHistorySecondsFrom(SettingsFilePath())),
        parser.HasKey(L"testfillhistory"));
  }
  if (!shutdown && !SetUpAccess(TheAgentServer())) return kExitNotListening;
  if (!shutdown && !StartListening(TheAgentServer(), port)) return kExitNotListening;
  if (OpensBrowser(show_command)) {
    ReportToEventLog(L"Open browser");
    CWString address;
    Format(address, TheAgentServer().Secure() ? L"https://localhost:{0}" : L"http://localhost:{0}",
           static_cast<std::int32_t>(port));
    platform::OpenBrowser(std::wstring(address.View()));
  }
  if (shutdown) {
    ReportToEventLog(L"bShutdown at end");
    return 0;
  }
  std::uint32_t expected = platform::kServiceStartPending;
  if (service_flag_ &&
      current_state_.compare_exchange_strong(expected, platform::kServiceRunning)) {
    ReportToEventLog(L"Service started/resumed");
    platform::ReportServiceStatus(platform::kServiceRunning, 0);
  }
  platform::RunMessageLoop(!service_flag_);
  ReportToEventLog(L"Exiting after CAtlServiceModuleT::Run");
  return 0;
}
