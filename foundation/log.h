#pragma once
// Diagnostics: the log file beside the executable, the system event log, and
// system error texts.
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>

#include "foundation/wstring.h"
#include "platform/log_file.h"

enum LogLevel : std::int32_t { Error = 0, Crash = 1, Plain = 2, Debug = 3, Comm = 4 };

// One log file: opened lazily by the first entry, kept open, entries appended
// in UTF-8 with CR LF, three empty lines before the first entry of a process.
// A failed open drops the entry and the next entry tries again. Thread safe:
// the open and the writes of one entry happen under one lock.
class LogFile {
 public:
  explicit LogFile(std::wstring path) : path_(std::move(path)) {}
  void WriteEntry(std::int32_t level, const wchar_t* text);

 private:
  std::mutex lock_;
  std::wstring path_;
  platform::AppendFile file_;
  bool separator_pending_ = true;
};

// The prefix and tag of one entry, without the text ("12-08-2026, 01:05:09.042,
// TID:01234, PID:05678, ERROR: ").
CWString LogEntryPrefix(std::int32_t level);

// printf-style (wide; write %ls for wide strings). Levels above Plain are
// discarded before anything is formatted.
void Log(std::int32_t level, const wchar_t* format, ...);
void LogLine(std::int32_t level, const wchar_t* text);

// The system's message text for an error code, or "Unknown error value. ".
CWString GetSystemErrorText(std::uint32_t code);

// Who the event log speaks for: the process host provides the service name
// and whether the process runs as a service. Until one is set, the name is
// "KelvaneHTTPAgent" and the process counts as a service (no console copy).
class IEventLogOwner {
 public:
  virtual std::wstring ServiceName() const = 0;
  virtual bool IsService() const = 0;

 protected:
  ~IEventLogOwner() = default;
};
void SetEventLogOwner(const IEventLogOwner* owner);

// One information event, cut at 255 characters (never inside a UTF-16
// surrogate pair); also written to standard output when not a service.
void ReportToEventLog(const wchar_t* format, ...);

// printf-style formatting into a string of growing capacity: 8,192 characters
// doubling while at most `max_capacity`. False when the text fits none.
bool FormatPrintf(std::wstring& out, const wchar_t* format, va_list args,
                  std::size_t max_capacity = 2000000);
