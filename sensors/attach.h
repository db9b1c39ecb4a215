#pragma once
// Reaching the monitor's block. AttachSensorSnapshot releases the previous
// view and mapping, opens "KVSharedMemory_ORB" read-only (starting the
// monitor when the block is missing and no monitor it started still runs),
// maps 402 bytes and returns the view, or null with `error_text` set to the
// system's text of the failing error. The view stays valid until the next
// call. Process-wide state, not locked here: callers serialise the calls and
// finish with a view before the next call.
#include <cstdint>
#include <string>

#include "foundation/wstring.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "sensors/sensor_snapshot.h"

const SensorSnapshot* AttachSensorSnapshot(const wchar_t* monitor_path, CWString& error_text);

// Process-wide state shared with the monitor start-up.
struct SnapshotState {
  const SensorSnapshot* view = nullptr;
  platform::MappingHandle mapping = platform::kNoMapping;
  platform::ProcessHandle monitor = platform::kNoProcess;
};
SnapshotState& TheSnapshotState();

// Drops the view and the mapping.
void ReleaseSnapshot(SnapshotState& state);
