#include "foundation/log.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>

#include "foundation/conversions.h"
#include "foundation/exe_files.h"
#include "foundation/format.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/event_log.h"
#include "platform/process_info.h"
#include "platform/text.h"

namespace {

constexpr std::size_t kLogFirstCapacity = 8192;
constexpr std::size_t kUtf8StackBytes = 32768;
constexpr std::size_t kEventTextMax = 255;

const wchar_t* LevelTag(std::int32_t level) {
  switch (level) {
    case Error:
      return L"ERROR: ";
    case Crash:
      return L"CRASH: ";
    case Debug:
      return L"DBG: ";
    case Comm:
      return L"COMM: ";
    default:
      return L"";
  }
}

LogFile& ProcessLog() {
  static LogFile log(LogFilePath());
  return log;
}

class DefaultOwner : public IEventLogOwner {
 public:
  std::wstring ServiceName() const override { return L"KelvaneHTTPAgent"; }
  bool IsService() const override { return true; }
};

const DefaultOwner kDefaultOwner;
std::atomic<const IEventLogOwner*> g_owner{&kDefaultOwner};

}  // namespace

bool FormatPrintf(std::wstring& out, const wchar_t* format, va_list args,
                  std::size_t max_capacity) {
  for (std::size_t capacity = kLogFirstCapacity; capacity <= max_capacity; capacity *= 2) {
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[capacity]);
    va_list copy;
    va_copy(copy, args);
    int n = vswprintf(buffer.get(), capacity, format, copy);
    va_end(copy);
    if (n >= 0 && static_cast<std::size_t>(n) < capacity) {
      out.assign(buffer.get(), static_cast<std::size_t>(n));
      return true;
    }
  }
  return false;
}

CWString LogEntryPrefix(std::int32_t level) {
  platform::LocalTime t = platform::Now();
  CWString prefix;
  Format(prefix,
         L"{0:02d}-{1:02d}-{2:04d}, {3:02d}:{4:02d}:{5:02d}.{6:03d}, TID:{7:05d}, PID:{8:05d}, ",
         t.month, t.day, t.year, t.hour, t.minute, t.second, t.milliseconds,
         platform::CurrentThreadId(), platform::CurrentProcessId());
  prefix += LevelTag(level);
  return prefix;
}

void LogFile::WriteEntry(std::int32_t level, const wchar_t* text) {
  CWString line = LogEntryPrefix(level);
  line += text;
  std::size_t needed = platform::WideToUtf8(line.View(), nullptr, 0) + 1;
  char stack[kUtf8StackBytes];
  std::unique_ptr<char[]> heap;
  char* utf8 = stack;
  if (needed + 2 > kUtf8StackBytes) {
    heap.reset(new char[needed + 1]);
    utf8 = heap.get();
  }
  std::size_t length = platform::WideToUtf8(line.View(), utf8, needed);

  std::lock_guard<std::mutex> hold(lock_);
  if (!file_.IsOpen() && !file_.Open(path_)) return;  // dropped; the next entry tries again
  if (separator_pending_) {
    file_.Write("\r\n\r\n\r\n", 6);
    separator_pending_ = false;
  }
  file_.Write(utf8, length);
  file_.Write("\r\n", 2);
}

void LogLine(std::int32_t level, const wchar_t* text) {
  ProcessLog().WriteEntry(level, text == nullptr ? L"" : text);
}

void Log(std::int32_t level, const wchar_t* format, ...) {
  if (level > Plain || format == nullptr) return;
  std::wstring text;
  va_list args;
  va_start(args, format);
  bool fits = FormatPrintf(text, format, args);
  va_end(args);
  if (fits) LogLine(level, text.c_str());
}

CWString GetSystemErrorText(std::uint32_t code) {
  std::wstring text;
  if (!platform::SystemErrorText(code, text)) return CWString(L"Unknown error value. ");
  return CWString(std::wstring_view(text));
}

void SetEventLogOwner(const IEventLogOwner* owner) {
  g_owner = owner != nullptr ? owner : &kDefaultOwner;
}

void ReportToEventLog(const wchar_t* format, ...) {
  if (format == nullptr) return;
  std::wstring text;
  va_list args;
  va_start(args, format);
  bool fits = FormatPrintf(text, format, args);
  va_end(args);
  if (!fits) return;
  if (text.size() > kEventTextMax) {
    std::size_t cut = kEventTextMax;
    // Never keep the first half of a UTF-16 surrogate pair alone.
    if (sizeof(wchar_t) == 2 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
    text.resize(cut);
  }
  const IEventLogOwner* owner = g_owner.load();
  if (!owner->IsService()) {
    std::string line = WideToAnsi(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
  platform::WriteEventLog(owner->ServiceName(), text);
}
