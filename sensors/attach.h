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

// With `names_text`, also the text our monitor published beside that very
// block (sensors/source_names.h), empty when there is none. Without
// `may_start_monitor`, a missing block is only reported: nothing is started.
const SensorSnapshot* AttachSensorSnapshot(const wchar_t* monitor_path, CWString& error_text,
                                           std::string* names_text = nullptr,
                                           bool may_start_monitor = true);

// A look that starts nothing: its own mapping and view, released before it
// returns, so looks need no lock between them and none keeps a handle on the
// block. True with `copy` (and `names_text`) filled; false with `error_text`
// set as above, and the failure traced only with `trace_failure`.
bool ReadSensorSnapshot(const wchar_t* monitor_path, SensorSnapshot& copy, CWString& error_text,
                        std::string* names_text, bool trace_failure);

// Copies the readings out of a view. A view of the outside monitor's live
// block (Windows) may change under the copy: it is copied until two copies
// in a row agree (a few tries at most), so a copy is rarely a mix of two
// blocks. Linux views are already stable copies.
void CopySnapshot(const SensorSnapshot& view, SensorSnapshot& copy);

// Process-wide state shared with the monitor start-up.
struct SnapshotState {
  const SensorSnapshot* view = nullptr;
  platform::MappingHandle mapping = platform::kNoMapping;
  platform::ProcessHandle monitor = platform::kNoProcess;
};
SnapshotState& TheSnapshotState();

// Drops the view and the mapping.
void ReleaseSnapshot(SnapshotState& state);
