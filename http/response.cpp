// Response bytes: the status line, the fixed header block, the body.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "http/request.h"
#include "platform/content_type.h"

namespace {

constexpr const char* kStatusLines[] = {
    "HTTP/1.1 200 OK\r\n",
    "HTTP/1.1 201 Created\r\n",
    "HTTP/1.1 202 Accepted\r\n",
    "HTTP/1.1 204 No Content\r\n",
    "HTTP/1.1 301 Moved Permanently\r\n",
    "HTTP/1.1 302 Moved Temporarily\r\n",
    "HTTP/1.1 304 Not Modified\r\n",
    "HTTP/1.1 400 Bad Request\r\n",
    "HTTP/1.1 401 Unauthorized\r\n",
    "HTTP/1.1 403 Forbidden\r\n",
    "HTTP/1.1 404 Not Found\r\n",
    "HTTP/1.1 500 Internal Server Error\r\n",
    "HTTP/1.1 501 Not Implemented\r\n",
    "HTTP/1.1 502 Bad Gateway\r\n",
    "HTTP/1.1 503 Service Unavailable\r\n",
};
constexpr StatusIndex kStatusCount = sizeof(kStatusLines) / sizeof(kStatusLines[0]);
constexpr const char* kDefaultContentType = "application/octet-stream";
constexpr std::size_t kHeaderBuffer = 2000;

// The registry never changes while the agent runs: look each extension up
// once and keep the answer.
std::string ContentTypeOf(const std::wstring& extension) {
  static std::shared_mutex lock;
  static std::unordered_map<std::wstring, std::string> known;
  {
    std::shared_lock<std::shared_mutex> hold(lock);
    auto found = known.find(extension);
    if (found != known.end()) return found->second;
  }
  std::string type;
  if (!platform::RegisteredContentType(extension, type)) type = kDefaultContentType;
  std::unique_lock<std::shared_mutex> hold(lock);
  if (known.size() < 256) known.emplace(extension, type);
  return type;
}

}  // namespace

const char* StatusLine(StatusIndex index) {
  if (index == kStatusTooManyRequests) return "HTTP/1.1 429 Too Many Requests\r\n";
  return kStatusLines[index < kStatusCount ? index : 11];
}

void Request::SetResponse(StatusIndex status, const char* body, int length,
                          const wchar_t* content_type_source) {
  std::string content_type = kDefaultContentType;
  if (content_type_source != nullptr) {
    const wchar_t* dot = std::wcsrchr(content_type_source, L'.');
    if (dot != nullptr) content_type = ContentTypeOf(dot);
  }
  if (length < 0 || body == nullptr) length = 0;
  BuildResponse(status, body, length, content_type.c_str());
}

void Request::SetResponseOfType(StatusIndex status, const std::string& body,
                                const std::string& content_type) {
  BuildResponse(status, body.data(), static_cast<int>(body.size()), content_type.c_str());
}

void Request::SetExtraHeaderLines(std::string lines) {
  extra_header_lines_ = std::move(lines);
  extra_header_lines_set_ = true;
}

void Request::BuildResponse(StatusIndex status, const char* body, int length,
                            const char* content_type) {
  char header[kHeaderBuffer];
  int header_length = std::snprintf(header, sizeof header,
                                    "Cache-Control: max-age=0\r\nConnection: close\r\nPragma: "
                                    "no-cache\r\nContent-Type: %s\r\nContent-Length: %d\r\n",
                                    content_type, length);
  if (header_length < 0) header_length = 0;
  if (header_length >= static_cast<int>(sizeof header)) header_length = sizeof header - 1;
  const char* line = StatusLine(status);
  response_.clear();
  response_.reserve(std::strlen(line) + static_cast<std::size_t>(header_length) +
                    extra_header_lines_.size() + 2 + static_cast<std::size_t>(length));
  response_.append(line).append(header, static_cast<std::size_t>(header_length));
  response_.append(extra_header_lines_).append("\r\n");
  response_.append(body == nullptr ? "" : body, static_cast<std::size_t>(length));
}

void Request::SetResponseText(StatusIndex status, const char* body,
                              const wchar_t* content_type_source) {
  int length = body == nullptr ? 0 : static_cast<int>(std::strlen(body));
  SetResponse(status, body, length, content_type_source);
}

void Request::SetErrorResponse(StatusIndex status) {
  SetResponseText(status, StatusLine(status), L".txt");
}
