#pragma once
// CKelvaneHTTPAgentModule: the process's single module object. It decides
// between the service and the desktop (by the AppID entry's "LocalService"
// value), runs the agent (Run: switches, single instance, server, browser,
// message loop), registers and removes the agent and its service, and speaks
// for the process in the event log.
#include <atomic>
#include <cstdint>
#include <string>

#include "agent/agent_server.h"
#include "foundation/log.h"

inline constexpr const wchar_t* kAppId = L"{4788CB3F-3891-41EB-9B0B-429356E2765D}";
inline constexpr std::uint32_t kResultFail = 0x80004005u;
// Run's result when the server could not listen (port in use, address not
// available, an invalid Bind): the process's exit status, and on Windows the
// service-specific exit code reported to the service manager.
inline constexpr int kExitNotListening = 3;

// 0x8007 and the low 16 bits of a system error.
constexpr std::uint32_t ResultFromError(std::uint32_t error) {
  return 0x80070000u | (error & 0xFFFFu);
}

class CKelvaneHTTPAgentModule : public IEventLogOwner {
 public:
  CKelvaneHTTPAgentModule();
  virtual ~CKelvaneHTTPAgentModule() = default;

  virtual int SelectRunMode(int show_command);
  virtual int Run(int show_command);

  // The registration-switch pass: true when a switch was found and carried
  // out, with its result.
  bool HandleRegistrationSwitches(const std::wstring& command_line, std::uint32_t& result);
  std::uint32_t RegisterAgent(bool as_service);
  std::uint32_t UnregisterAgent();
  bool InstallService();
  bool RemoveService();

  void ServiceEntry();
  void ServiceControlHandler(std::uint32_t control);

  std::wstring ServiceName() const override { return service_name_; }
  bool IsService() const override { return service_flag_; }

 private:
  std::uint32_t RunRegistrationScript(bool remove);
  // A message box captioned with the service name; the text from the string
  // table when it has one.
  void ShowServiceMessage(unsigned id, const wchar_t* text) const;

  std::wstring service_name_;
  std::atomic<bool> service_flag_{true};
  std::atomic<std::uint32_t> current_state_;
  std::atomic<std::uint32_t> service_thread_id_{0};
  std::uint32_t win32_exit_code_ = 0;
  bool per_user_ = false;
};

CKelvaneHTTPAgentModule& TheModule();
KelvaneHTTPAgentHTTPServer& TheAgentServer();
