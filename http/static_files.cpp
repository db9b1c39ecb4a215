// The base server's handler: static files below the server's directory.
#include <string>

#include "http/http_server.h"
#include "http/request.h"
#include "platform/files.h"
#include "platform/paths.h"

bool HTTPServer::HandleRequest(Request& request, const std::wstring& path_in) {
  std::wstring path = path_in.substr(0, path_in.find(L'?'));
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
