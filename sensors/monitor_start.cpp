#include "sensors/monitor_start.h"

#include <chrono>
#include <string>
#include <thread>

#include "foundation/conversions.h"
#include "foundation/format.h"
#include "foundation/log.h"
#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/text.h"
#include "sensors/attach.h"

namespace {

constexpr const char* kHideOff = "StartupHide=false";
constexpr const char* kHideOn = "StartupHide=true";

void LogWithError(const wchar_t* format, const CWString& path, std::uint32_t error) {
  CWString error_text = GetSystemErrorText(error);
  CWString message;
  Format(message, format, path, error_text);
  LogLine(Error, message);
}

// Polls for a valid block; the last attempt's mapping stays in the state.
std::uint32_t WaitForSnapshot(SnapshotState& state) {
  std::uint32_t open_error = 0;
  const MonitorWait wait = MonitorWaitSettings();
  for (int attempt = 0; attempt < wait.attempts; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(wait.interval_ms));
    ReleaseSnapshot(state);
    state.mapping = platform::OpenSharedMemoryReadOnly(kSnapshotName);
    open_error = state.mapping == platform::kNoMapping ? platform::LastError() : 0;
    if (state.mapping == platform::kNoMapping) continue;
    const auto* view =
        static_cast<const SensorSnapshot*>(platform::MapReadOnlyView(state.mapping, kSnapshotSize));
    bool valid = view != nullptr && IsValidSnapshot(*view);
    platform::UnmapView(view, kSnapshotSize);
    if (valid) break;
  }
  return open_error;
}

}  // namespace

MonitorWait& MonitorWaitSettings() {
  static MonitorWait wait;
  return wait;
}

CWString MonitorConfigPath(const wchar_t* monitor_path) {
  CWString path(monitor_path);
  if constexpr (platform::kFileNamesIgnoreCase) {
    int length = path.GetLength();
    if (length > 0) {
      platform::LowerCase(path.GetBuffer(length), static_cast<std::size_t>(length));
      path.ReleaseBuffer(length);
    }
    path.Replace(L"kelvane.exe", L"kelvaneparams.cfg");
    return path;
  }
  std::wstring text(path.View());
  std::size_t slash = text.rfind(platform::kDirSeparator);
  text = (slash == std::wstring::npos ? std::wstring() : text.substr(0, slash + 1)) +
         L"kelvaneparams.cfg";
  return CWString(std::wstring_view(text));
}

void EnableStartupHide(const CWString& config_path) {
  std::wstring path(config_path.View());
  std::string bytes;
  if (!platform::ReadWholeRegularFile(path, bytes)) {
    LogWithError(L"Could not open {0} to check values. Err={1}", config_path,
                 platform::LastError());
    return;
  }
  // Work on the bytes themselves: NULs and every other byte stay as they are.
  std::size_t at = bytes.find(kHideOff);
  if (at == std::string::npos) return;
  const std::size_t off_length = std::char_traits<char>::length(kHideOff);
  for (; at != std::string::npos; at = bytes.find(kHideOff, at)) {
    bytes.replace(at, off_length, kHideOn);
    at += std::char_traits<char>::length(kHideOn);
  }
  if (!platform::ReplaceFileContents(path, bytes)) {
    LogWithError(L"Could not open {0} to update value. Err={1}", config_path,
                 platform::LastError());
  }
}

bool StartMonitor(const wchar_t* monitor_path, std::uint32_t& open_error) {
  SnapshotState& state = TheSnapshotState();
  EnableStartupHide(MonitorConfigPath(monitor_path));
  std::wstring exe(monitor_path == nullptr ? L"" : monitor_path);
  platform::ProcessHandle process = platform::StartHidden(exe);
  bool started = process != platform::kNoProcess;
  if (!started && platform::LastError() == platform::kErrorElevationRequired) {
    started = platform::StartElevatedHidden(exe);
  }
  if (!started) {
    LogWithError(L"Failed to start {0}.  Err={1}", CWString(monitor_path), platform::LastError());
    return false;
  }
  state.monitor = process;  // none after an elevated start through the shell
  open_error = WaitForSnapshot(state);
  return true;
}
