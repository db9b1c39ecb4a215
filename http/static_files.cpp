// The base server's handler: static files below the server's directory.
#include <string>

#include "http/http_server.h"
#include "http/request.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

bool IsPathBelowRoot(const std::wstring& path) {
  if (path.empty()) return true;  // the root itself
  if (path[0] != L'/') return false;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find_first_of(L"/\\", start);
    if (end == std::wstring::npos) end = path.size();
    if (path.compare(start, end - start, L"..") == 0) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

bool HTTPServer::HandleRequest(Request& request, const std::wstring& path_in) {
  std::wstring path = path_in.substr(0, path_in.find(L'?'));
  // Only a path below the root is served: it starts with "/" (the text is
  // appended to the directory) and has no ".." segment, whatever its
  // separators.
  if (!IsPathBelowRoot(path)) return false;
  std::wstring name = directory_;
  if (path.size() < 2) {
    std::wstring separator(1, platform::kDirSeparator);
    if (platform::PathExists(name + separator + L"index.htm")) {
      path = separator + L"index.htm";
    } else if (platform::PathExists(name + separator + L"index.html")) {
      path = separator + L"index.html";
    }
  }
  name += path;  // request paths keep their forward slashes
  std::string bytes;
  // A missing file, a directory, a name the file system refuses or a file of
  // 4 GiB or more: 404.
  if (!platform::ReadWholeRegularFile(name, bytes)) return false;
  std::wstring source = path_in.substr(0, path_in.find(L'?'));
  request.SetResponse(kStatusOk, bytes.data(), static_cast<int>(bytes.size()),
                      source.size() >= 2 ? source.c_str() : L".htm");
  return true;
}
