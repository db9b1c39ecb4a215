#include "platform/service.h"

#include <windows.h>

namespace platform {
namespace {

ServiceMainFunction g_main = nullptr;
ControlHandlerFunction g_handler = nullptr;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;

void WINAPI ServiceMainTrampoline(DWORD, LPWSTR*) { g_main(); }
void WINAPI HandlerTrampoline(DWORD control) { g_handler(control); }

}  // namespace

std::uint32_t RunServiceDispatcher(const std::wstring& name, ServiceMainFunction service_main) {
  g_main = service_main;
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(name.c_str()), ServiceMainTrampoline},
                                  {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : GetLastError();
}

bool RegisterControlHandler(const std::wstring& name, ControlHandlerFunction handler) {
  g_handler = handler;
  g_status_handle = RegisterServiceCtrlHandlerW(name.c_str(), HandlerTrampoline);
  return g_status_handle != nullptr;
}

void ReportServiceStatus(std::uint32_t state, std::uint32_t exit_code,
                         std::uint32_t service_specific) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  status.dwWin32ExitCode = service_specific != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : exit_code;
  status.dwServiceSpecificExitCode = service_specific;
  if (g_status_handle != nullptr) SetServiceStatus(g_status_handle, &status);
}

bool ServiceExists(const std::wstring& name) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return service != nullptr;
}

ServiceResult CreateAgentService(const std::wstring& name, const std::wstring& command) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return ServiceResult::ManagerUnavailable;
  SC_HANDLE service =
      CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                     command.c_str(), nullptr, nullptr, L"RPCSS\0", nullptr, nullptr);
  if (service == nullptr) {
    CloseServiceHandle(manager);
    return ServiceResult::CreateFailed;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ServiceResult::Ok;
}

ServiceResult DeleteAgentService(const std::wstring& name, bool& stop_failed) {
  stop_failed = false;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return ServiceResult::ManagerUnavailable;
  SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_STOP | DELETE);
  if (service == nullptr) {
    CloseServiceHandle(manager);
    return ServiceResult::OpenFailed;
  }
  SERVICE_STATUS status{};
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    DWORD error = GetLastError();
    bool stopping =
        error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status.dwCurrentState == SERVICE_STOP_PENDING;
    stop_failed = error != ERROR_SERVICE_NOT_ACTIVE && !stopping;
  }
  BOOL deleted = DeleteService(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return deleted ? ServiceResult::Ok : ServiceResult::DeleteFailed;
}

}  // namespace platform
