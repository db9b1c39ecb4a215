#include "foundation/debug_channel.h"

#include "platform/debug_output.h"

namespace {

DebugSink& Sink() {
  static DebugSink sink;
  return sink;
}

}  // namespace

void SetDebugSink(DebugSink sink) { Sink() = std::move(sink); }

bool DebugChannelActive() { return Sink() || platform::DebugOutputEnabled(); }

void WriteDebugText(const std::wstring& text) {
  if (Sink()) Sink()(text);
  platform::DebugOutput(text);
}
