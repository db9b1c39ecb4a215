#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/text.h"

namespace platform {
namespace {

std::wstring Widen(const std::string& s) {
  std::wstring out(AnsiToWide(s, nullptr, 0), L'\0');
  AnsiToWide(s, out.data(), out.size());
  return out;
}

std::string Narrow(const std::wstring& s) {
  std::string out(WideToAnsi(s, nullptr, 0), '\0');
  WideToAnsi(s, out.data(), out.size());
  return out;
}

}  // namespace

std::wstring ExecutablePath() {
  std::string buffer(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  buffer.resize(static_cast<size_t>(n));
  return Widen(buffer);
}

std::wstring CommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::wstring line;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find('\0', start);
    if (end == std::string::npos) end = raw.size();
    std::wstring arg = Widen(raw.substr(start, end - start));
    if (!line.empty()) line += L' ';
    bool quote = arg.empty() || arg.find_first_of(L" \t") != std::wstring::npos;
    line += quote ? L"\"" + arg + L"\"" : arg;
    start = end + 1;
  }
  return line;
}

bool PathExists(const std::wstring& path) {
  struct stat info;
  return stat(Narrow(path).c_str(), &info) == 0;
}

}  // namespace platform
