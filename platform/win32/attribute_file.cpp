#include "platform/attribute_file.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <system_error>

// Windows has no kernel sensors; the monitor's hwmon reader runs there only
// over fixture trees in tests, so a read reopens the file by its path.
namespace platform {

AttributeFile::~AttributeFile() = default;

bool AttributeFile::Open(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  path_ = path;
  return true;
}

std::optional<std::string> AttributeFile::ReadFromStart(std::size_t max) const {
  if (path_.empty()) return std::nullopt;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(max, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return std::nullopt;
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

FolderStamp StampOfFolder(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return {};
  const auto join = [](FILETIME t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                     t.dwLowDateTime);
  };
  return {1, join(data.ftLastWriteTime), join(data.ftCreationTime)};
}

}  // namespace platform
