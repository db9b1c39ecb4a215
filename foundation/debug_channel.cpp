#include "foundation/debug_channel.h"

#include <atomic>
#include <mutex>

#include "platform/debug_output.h"

namespace {

// The sink is called under its lock, so removing it waits for calls in
// flight: a test's sink is never called after the test took it away, even
// by a worker or draining thread of an earlier test. The flag keeps the
// common case (no sink) free of the lock.
struct SinkSlot {
  std::mutex lock;
  DebugSink sink;
  std::atomic<bool> installed{false};
};

SinkSlot& Slot() {
  static SinkSlot slot;
  return slot;
}

}  // namespace

void SetDebugSink(DebugSink sink) {
  SinkSlot& slot = Slot();
  std::lock_guard<std::mutex> hold(slot.lock);
  slot.sink = std::move(sink);
  slot.installed = static_cast<bool>(slot.sink);
}

bool DebugChannelActive() { return Slot().installed || platform::DebugOutputEnabled(); }

void WriteDebugText(const std::wstring& text) {
  SinkSlot& slot = Slot();
  if (slot.installed) {
    std::lock_guard<std::mutex> hold(slot.lock);
    if (slot.sink) slot.sink(text);
  }
  platform::DebugOutput(text);
}
