#pragma once
// The system's service manager.
//
// Windows: the service control manager. Linux: systemd; the service is the
// unit file KelvaneHTTPAgent.service in /etc/systemd/system (the environment
// variable KVHTTP_SYSTEMD_DIR moves it), Type=notify, ExecStart= the quoted
// executable path; installing writes it and runs "systemctl daemon-reload"
// when systemctl exists; removal runs "systemctl stop" and deletes it.
// "Exists" means the unit file exists. The dispatcher runs the service when
// systemd started the process (NOTIFY_SOCKET or INVOCATION_ID set): the
// service main runs on its own thread while the calling thread waits for
// SIGTERM and hands it to the control handler as the stop control; otherwise
// it fails with 1063. Status reports go to NOTIFY_SOCKET: READY=1 for
// running, STOPPING=1 for stop pending, STATUS=<state name> always.
#include <cstdint>
#include <string>

namespace platform {

inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kErrorNotStartedByManager = 1063;

using ServiceMainFunction = void (*)();
using ControlHandlerFunction = void (*)(std::uint32_t control);

// Returns 0 once the service has stopped, or the error (1063 when the process
// was not started by the service manager).
std::uint32_t RunServiceDispatcher(const std::wstring& name, ServiceMainFunction service_main);
bool RegisterControlHandler(const std::wstring& name, ControlHandlerFunction handler);
// Reports an own-process service that accepts stop. A non-zero
// `service_specific` code is reported as ERROR_SERVICE_SPECIFIC_ERROR with
// that code (Windows); systemd learns of a failure from the exit status.
void ReportServiceStatus(std::uint32_t state, std::uint32_t exit_code,
                         std::uint32_t service_specific = 0);

enum class ServiceResult { Ok, ManagerUnavailable, CreateFailed, OpenFailed, DeleteFailed };

bool ServiceExists(const std::wstring& name);
// Demand start, normal error control, dependency "RPCSS", LocalSystem;
// `command` is the quoted executable path.
ServiceResult CreateAgentService(const std::wstring& name, const std::wstring& command);
// Asks the service to stop (not waiting) and deletes it. `stop_failed` is set
// when the stop request failed for another reason than the service not
// running or already stopping; removal goes on regardless.
ServiceResult DeleteAgentService(const std::wstring& name, bool& stop_failed);

}  // namespace platform
