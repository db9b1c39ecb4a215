#include "platform/content_type.h"

#include <strings.h>

#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>

#include "platform/posix/file_io.h"

namespace platform {
namespace {

using TypeTable = std::unordered_map<std::string, std::string>;

const char* const kBuiltIn[][2] = {
    {"txt", "text/plain"},      {"htm", "text/html"},         {"html", "text/html"},
    {"xml", "application/xml"}, {"json", "application/json"}, {"css", "text/css"},
    {"js", "text/javascript"},  {"png", "image/png"},         {"ico", "image/vnd.microsoft.icon"},
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// Read once and kept: the table never changes while the agent runs.
const TypeTable& MimeTypes() {
  static const TypeTable table = [] {
    TypeTable types;
    std::ifstream in("/etc/mime.types");
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream words(line);
      std::string type, extension;
      words >> type;
      while (words >> extension) types.emplace(Lower(extension), type);  // first one wins
    }
    return types;
  }();
  return table;
}

}  // namespace

bool RegisteredContentType(const std::wstring& extension, std::string& content_type) {
  if (extension.size() < 2 || extension[0] != L'.') return false;
  std::string key = Lower(NarrowPath(extension.substr(1)));
  auto found = MimeTypes().find(key);
  if (found != MimeTypes().end()) {
    content_type = found->second;
    return true;
  }
  for (const auto& entry : kBuiltIn) {
    if (key == entry[0]) {
      content_type = entry[1];
      return true;
    }
  }
  return false;
}

}  // namespace platform
