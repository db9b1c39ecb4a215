#include "sensors/attach.h"

#include <cstring>

#include "foundation/debug_channel.h"
#include "foundation/format.h"
#include "foundation/log.h"
#include "platform/error_text.h"
#include "sensors/monitor_start.h"

namespace {

// Slots are read by value: the record is packed, so no reference may bind
// to one of its members.
void AppendSlots(CWString& text, const SensorSnapshot& s, bool fans) {
  CWString piece;
  for (int i = 0; i < kMaxSensorEntries; ++i) {
    std::int32_t value = fans ? s.fans[i] : s.temps[i];
    Format(piece, L"{0}, ", value);
    text += piece;
  }
}

// Written when the temperature count is implausible: every slot, whatever
// the counts say.
void DumpBadSnapshot(const SensorSnapshot& s) {
  if (!DebugChannelActive()) return;
  CWString dump(L"Bad Kelvane data: \r\n");
  CWString line;
  Format(line, L"Ver: {0}, Flags: {1:04X}, MemSize: {2}, StructSize: {3}, Handle: x{4:08X}\r\n",
         static_cast<std::int32_t>(s.version), static_cast<std::int32_t>(s.flags),
         static_cast<std::int32_t>(s.memSize), static_cast<std::uint32_t>(kSnapshotSize),
         static_cast<std::uint32_t>(s.handle));
  dump += line;
  Format(line, L"#Temps: {0}, #Fans: {1}, #Volts: {2}\r\n", static_cast<std::uint32_t>(s.numTemps),
         static_cast<std::uint32_t>(s.numFans), static_cast<std::uint32_t>(s.numVolts));
  dump += line;
  dump += L"Temps: ";
  AppendSlots(dump, s, false);
  dump += L"\r\nFans: ";
  AppendSlots(dump, s, true);
  dump += L"\r\n";
  WriteDebugText(std::wstring(dump.View()));
}

}  // namespace

void CopySnapshot(const SensorSnapshot& view, SensorSnapshot& copy) {
  constexpr int kTries = 8;
  SensorSnapshot again;
  std::memcpy(&copy, &view, sizeof copy);
  for (int i = 0; i < kTries; ++i) {
    std::memcpy(&again, &view, sizeof again);
    if (std::memcmp(&again, &copy, sizeof copy) == 0) return;
    std::memcpy(&copy, &again, sizeof copy);
  }
}

SnapshotState& TheSnapshotState() {
  static SnapshotState state;
  return state;
}

void ReleaseSnapshot(SnapshotState& state) {
  platform::UnmapView(state.view, kSnapshotSize);
  state.view = nullptr;
  platform::CloseMapping(state.mapping);
  state.mapping = platform::kNoMapping;
}

namespace {

// Opens and maps the block into `state`, which holds nothing yet; with
// `may_start_monitor`, starts the monitor when the block is missing.
const SensorSnapshot* AttachInto(SnapshotState& state, const wchar_t* monitor_path,
                                 CWString& error_text, std::string* names_text,
                                 bool may_start_monitor, bool trace_failure) {
  if (names_text != nullptr) names_text->clear();
  std::wstring refusal;
  state.mapping = platform::OpenSharedMemoryReadOnly(kSnapshotName, &refusal, kSnapshotSize);
  // A successful open leaves no error of its own (a stale errno is not one).
  std::uint32_t open_error = state.mapping == platform::kNoMapping ? platform::LastError() : 0;
  // A block that is there but refused is no reason to start the monitor:
  // starting it cannot mend it.
  if (state.mapping == platform::kNoMapping && refusal.empty() && may_start_monitor) {
    bool earlier_monitor_runs = false;
    if (state.monitor != platform::kNoProcess) {
      earlier_monitor_runs =
          platform::QueryProcess(state.monitor) == platform::ProcessState::Running;
      if (!earlier_monitor_runs) {
        platform::CloseProcess(state.monitor);
        state.monitor = platform::kNoProcess;
      }
    }
    if (!earlier_monitor_runs && !StartMonitor(monitor_path, open_error)) return nullptr;
  }
  std::uint32_t map_error = 0;
  if (state.mapping != platform::kNoMapping) {
    state.view = static_cast<const SensorSnapshot*>(
        platform::MapReadOnlyView(state.mapping, kSnapshotSize, names_text));
    map_error = state.view == nullptr ? platform::LastError() : 0;
    if (state.view != nullptr && state.view->numTemps > kMaxSensorEntries) {
      DumpBadSnapshot(*state.view);
    }
  }
  if (state.view == nullptr) {
    CWString message;
    Format(message, L"Can't connect to Kelvane shared memory.  OFM={0}, MVoF={1}\r\n", open_error,
           map_error);
    if (trace_failure) WriteDebugText(std::wstring(message.View()));
    if (open_error != 0) {
      error_text = GetSystemErrorText(open_error);
    } else if (map_error != 0) {
      error_text = GetSystemErrorText(map_error);
    }
    if (!refusal.empty()) {
      error_text += L" (";
      error_text += refusal.c_str();
      error_text += L")";
    }
  }
  return state.view;
}

}  // namespace

const SensorSnapshot* AttachSensorSnapshot(const wchar_t* monitor_path, CWString& error_text,
                                           std::string* names_text, bool may_start_monitor) {
  SnapshotState& state = TheSnapshotState();
  ReleaseSnapshot(state);
  return AttachInto(state, monitor_path, error_text, names_text, may_start_monitor, true);
}

bool ReadSensorSnapshot(const wchar_t* monitor_path, SensorSnapshot& copy, CWString& error_text,
                        std::string* names_text, bool trace_failure) {
  SnapshotState own;
  const SensorSnapshot* view =
      AttachInto(own, monitor_path, error_text, names_text, false, trace_failure);
  if (view != nullptr) CopySnapshot(*view, copy);
  ReleaseSnapshot(own);
  return view != nullptr;
}
