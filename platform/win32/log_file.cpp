#include "platform/log_file.h"

#include <windows.h>

namespace platform {

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(file, 0, nullptr, FILE_END);
  handle_ = reinterpret_cast<long long>(file);
  return true;
}

void AppendFile::Write(const char* bytes, std::size_t count) {
  if (!IsOpen()) return;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  while (count > 0) {
    DWORD piece = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count), written = 0;
    if (!WriteFile(file, bytes, piece, &written, nullptr) || written == 0) return;
    bytes += written;
    count -= written;
  }
}

void AppendFile::Close() {
  if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNone;
}

}  // namespace platform
