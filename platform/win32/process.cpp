#include "platform/process.h"

#include <windows.h>

#include <shellapi.h>

#include <system_error>
#include <thread>

namespace platform {

bool StartElevated(const std::wstring& exe, const std::wstring& params, void (*on_end)()) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = exe.c_str();
  info.lpParameters = params.c_str();
  info.nShow = SW_HIDE;
  if (!ShellExecuteExW(&info)) return false;
  HANDLE process = info.hProcess;
  try {
    std::thread([process, on_end] {
      if (process != nullptr) {
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
      }
      if (on_end != nullptr) on_end();
    }).detach();
  } catch (const std::system_error&) {
    if (process != nullptr) CloseHandle(process);
    if (on_end != nullptr) on_end();
  }
  return true;
}

ProcessHandle StartHidden(const std::wstring& exe) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return kNoProcess;
  }
  CloseHandle(info.hThread);
  return reinterpret_cast<ProcessHandle>(info.hProcess);
}

bool StartElevatedHidden(const std::wstring& exe) {
  HINSTANCE result = ShellExecuteW(nullptr, L"runas", exe.c_str(), nullptr, nullptr, SW_HIDE);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

ProcessState QueryProcess(ProcessHandle process) {
  if (process == kNoProcess) return ProcessState::Unknown;
  DWORD rc = WaitForSingleObject(reinterpret_cast<HANDLE>(process), 0);
  if (rc == WAIT_TIMEOUT) return ProcessState::Running;
  return rc == WAIT_OBJECT_0 ? ProcessState::Ended : ProcessState::Unknown;
}

void CloseProcess(ProcessHandle process) {
  if (process != kNoProcess) CloseHandle(reinterpret_cast<HANDLE>(process));
}

void TerminateStartedProcess(ProcessHandle process) {
  if (process == kNoProcess) return;
  TerminateProcess(reinterpret_cast<HANDLE>(process), 0);
  WaitForSingleObject(reinterpret_cast<HANDLE>(process), 5000);
}

}  // namespace platform
