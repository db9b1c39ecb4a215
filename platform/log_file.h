#pragma once
// An append-only text file for the log. Windows: CreateFileW with read, write
// and delete sharing, opened or created, written from its end. Linux:
// open(O_WRONLY|O_CREAT|O_APPEND, 0644), close-on-exec.
#include <cstddef>
#include <string>

namespace platform {

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens (creating when missing) and moves to the end. False on failure.
  bool Open(const std::wstring& path);
  bool IsOpen() const noexcept { return handle_ != kNone; }
  // Writes all bytes; the result is not reported.
  void Write(const char* bytes, std::size_t count);
  void Close();

 private:
  static constexpr long long kNone = -1;
  long long handle_ = kNone;
};

}  // namespace platform
