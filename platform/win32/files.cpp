#include "platform/files.h"

#include <windows.h>

namespace platform {

bool ReadWholeRegularFile(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = GetFileInformationByHandle(file, &info) &&
            !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && GetFileSizeEx(file, &size) &&
            static_cast<std::uint64_t>(size.QuadPart) < kMaxWholeFileBytes;
  if (ok) {
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    ok = bytes.empty() ||
         ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
  } else if (GetLastError() == ERROR_SUCCESS) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  DWORD error = GetLastError();
  CloseHandle(file);
  SetLastError(error);
  return ok;
}

bool ReplaceFileContents(const std::wstring& path, const std::string& bytes) {
  std::wstring temp = path + L".kvtmp";
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size() && FlushFileBuffers(file);
  DWORD error = GetLastError();
  CloseHandle(file);
  if (ok &&
      MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  error = GetLastError() ? GetLastError() : error;
  DeleteFileW(temp.c_str());
  SetLastError(error);
  return false;
}

}  // namespace platform
