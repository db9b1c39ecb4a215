// The module's run procedure: the agent's own switches, the single-instance
// rule, the server, the browser and the message loop.
#include <cstdio>

#include "foundation/apply_settings.h"
#include "foundation/cmdline.h"
#include "foundation/conversions.h"
#include "foundation/format.h"
#include "foundation/ip_address.h"
#include "foundation/parse_int.h"
#include "foundation/settings.h"
#include "host/module.h"
#include "http/debug_print.h"
#include "platform/desktop.h"
#include "platform/paths.h"
#include "platform/run_loop.h"
#include "platform/service.h"

namespace {

bool OpensBrowser(int show_command) {
  return show_command == 1 || show_command == 5 || show_command == 10;
}

// The optional "Bind" address. A value that is not an address must never
// widen what the agent listens on: it is reported and nothing listens.
bool ChooseListenAddress(HTTPServer& server, bool desktop) {
  const std::wstring bind = ReadBind();
  if (bind.empty()) return true;
  IpAddress address;
  if (ParseIpAddress(WideToAnsi(bind), address)) {
    server.SetListenAddress(address);
    return true;
  }
  ReportToEventLog(L"Bind=%ls is not an IP address: not listening", bind.c_str());
  DebugPrint(L"Bind=%ls is not an IP address: not listening", bind.c_str());
  if (desktop) {
    std::fprintf(stderr, "KelvaneHTTPAgent: Bind=%s is not an IP address: not listening\n",
                 WideToAnsi(bind).c_str());
    std::fflush(stderr);
  }
  return false;
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
    port = static_cast<std::uint16_t>(
        ParseLeadingInt32(std::wstring_view(parser.GetValue(L"setport"))));
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
  if (!shutdown && ChooseListenAddress(TheAgentServer(), !service_flag_)) {
    TheAgentServer().Start(port, L"invalid_directory!");
  }
  if (OpensBrowser(show_command)) {
    ReportToEventLog(L"Open browser");
    CWString address;
    Format(address, L"http://localhost:{0}", static_cast<std::int32_t>(port));
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
