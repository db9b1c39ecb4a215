#include "host/module.h"

#include "platform/desktop.h"
#include "platform/paths.h"
#include "platform/process_info.h"
#include "platform/registry.h"
#include "platform/run_loop.h"
#include "platform/service.h"

namespace {

void ServiceMainThunk() { TheModule().ServiceEntry(); }
void ControlHandlerThunk(std::uint32_t control) { TheModule().ServiceControlHandler(control); }

const std::wstring kAppIdKey = std::wstring(L"AppID\\") + kAppId;

}  // namespace

CKelvaneHTTPAgentModule::CKelvaneHTTPAgentModule()
    : service_name_(platform::ResourceString(100, L"KelvaneHTTPAgent")),
      current_state_(platform::kServiceStopped) {
  SetEventLogOwner(this);
}

CKelvaneHTTPAgentModule& TheModule() {
  static CKelvaneHTTPAgentModule module;
  return module;
}

KelvaneHTTPAgentHTTPServer& TheAgentServer() {
  static KelvaneHTTPAgentHTTPServer server;
  return server;
}

int CKelvaneHTTPAgentModule::SelectRunMode(int show_command) {
  using platform::RegistryRoot;
  service_flag_ = false;
  if (std::uint32_t rc = platform::RegistryKeyExists(RegistryRoot::ClassesRoot, L"AppID")) {
    win32_exit_code_ = rc;
    ReportToEventLog(L"Can't open AppID in registry");
    return static_cast<int>(rc);
  }
  if (platform::RegistryKeyExists(RegistryRoot::ClassesRoot, kAppIdKey) != 0) {
    ReportToEventLog(L"Didn't find our AppID in registry - continuing");
  } else {
    std::wstring local_service;
    service_flag_ = platform::RegistryGetString(RegistryRoot::ClassesRoot, kAppIdKey,
                                                L"LocalService", local_service) == 0;
  }
  if (service_flag_) {
    std::uint32_t rc = platform::RunServiceDispatcher(service_name_, ServiceMainThunk);
    if (rc != 0) win32_exit_code_ = rc;
  } else {
    win32_exit_code_ = static_cast<std::uint32_t>(Run(show_command));
  }
  return static_cast<int>(win32_exit_code_);
}

void CKelvaneHTTPAgentModule::ServiceEntry() {
  current_state_ = platform::kServiceStartPending;
  service_thread_id_ = platform::CurrentThreadId();
  // The queue exists before the control handler can post the quit message to
  // it, so a stop during start-up is never lost.
  platform::PrepareMessageQueue();
  if (!platform::RegisterControlHandler(service_name_, ControlHandlerThunk)) {
    ReportToEventLog(L"Handler not installed");
    return;
  }
  current_state_.exchange(platform::kServiceStartPending);
  platform::ReportServiceStatus(platform::kServiceStartPending, 0);
  win32_exit_code_ = 0;
  win32_exit_code_ = static_cast<std::uint32_t>(Run(0));
  current_state_.exchange(platform::kServiceStopped);
  platform::ReportServiceStatus(
      platform::kServiceStopped, win32_exit_code_,
      win32_exit_code_ == static_cast<std::uint32_t>(kExitNotListening) ? kExitNotListening : 0);
  ReportToEventLog(L"Service stopped");
}

void CKelvaneHTTPAgentModule::ServiceControlHandler(std::uint32_t control) {
  switch (control) {
    case platform::kControlStop:
      current_state_.exchange(platform::kServiceStopPending);
      platform::ReportServiceStatus(platform::kServiceStopPending, 0);
      platform::PostQuit(service_thread_id_);
      break;
    case 2:
    case 3:
    case platform::kControlInterrogate:
    case 5:
      break;  // pause, continue, interrogate, shutdown: nothing to do
    default:
      ReportToEventLog(L"Bad service request");
  }
}
