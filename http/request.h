#pragma once
// Request: one connection's request and response. Built by a worker for an
// accepted socket (not owned), it takes the request text, parses the request
// line, the query and a URL-encoded form body, calls the server's
// HandleRequest, and holds the complete response bytes for the worker to send.
// Belongs to one worker thread.
#include <cstdint>
#include <map>
#include <string>

#include "platform/net_address.h"
#include "platform/socket.h"

class HTTPServer;

using StatusIndex = unsigned;

inline constexpr StatusIndex kStatusOk = 0;
inline constexpr StatusIndex kStatusBadRequest = 7;
inline constexpr StatusIndex kStatusUnauthorized = 8;
inline constexpr StatusIndex kStatusForbidden = 9;
inline constexpr StatusIndex kStatusNotFound = 10;
inline constexpr StatusIndex kStatusServerError = 11;
inline constexpr StatusIndex kStatusNotImplemented = 12;
inline constexpr StatusIndex kStatusServiceUnavailable = 14;
// Beyond the table, which keeps its indexes: named by its code.
inline constexpr StatusIndex kStatusTooManyRequests = 429;

// The status line of an index, CR LF included (index 15 and above: 500,
// but for kStatusTooManyRequests).
const char* StatusLine(StatusIndex index);

// Percent-decodes `path` into `out` (capacity bytes, terminator included).
// Fails on a "%" not followed by two hexadecimal digits, on "%00", and when
// the decoded path needs more than `capacity` bytes; `needed` reports the
// length needed with the terminator.
bool UnescapePath(const char* path, char* out, std::size_t capacity, std::size_t& needed);

class Request {
 public:
  Request(platform::SocketHandle socket, HTTPServer* server,
          const platform::IpAddress& client = platform::IpAddress());
  virtual ~Request() = default;

  // Handles the request text that arrived (`received` bytes on the wire): a
  // text beyond the request limit is answered 400, any other is parsed.
  void UseRequestText(const std::string& text, bool too_long, int received);
  void ParseRequest(const std::string& text);
  // Decodes name=value pairs of `text` (modified in place) into the parameters.
  void ParseParams(char* text);
  // The value stored for `name` (any ASCII letter case), or empty text.
  std::string GetParam(const char* name) const;
  // The client's address as accept reported it.
  const platform::IpAddress& ClientAddress() const noexcept { return client_; }
  bool IsPost() const noexcept { return post_; }
  // The first "Origin", "Referer", "Host" or "Authorization" header line's
  // value (trimmed), or empty text. No other header is kept.
  std::string Header(const char* name) const;

  // Replaces the response: status line, the fixed headers with the content
  // type registered for the extension of `content_type_source` (the text
  // from its last "."), a blank line, and the body.
  void SetResponse(StatusIndex status, const char* body, int length,
                   const wchar_t* content_type_source);
  void SetResponseText(StatusIndex status, const char* body, const wchar_t* content_type_source);
  // The same with the Content-Type given as it goes on the wire.
  void SetResponseOfType(StatusIndex status, const std::string& body,
                         const std::string& content_type);
  void SetErrorResponse(StatusIndex status);
  // Header lines (each ending in CR LF) added to this request's response, in
  // place of the process-wide ones (ProvidedExtraHeaderLines).
  void SetExtraHeaderLines(std::string lines);
  const std::string& ExtraHeaderLines() const noexcept { return extra_header_lines_; }

  const std::string& Response() const noexcept { return response_; }
  platform::SocketHandle Socket() const noexcept { return socket_; }
  const std::map<std::string, std::string>& Params() const noexcept { return parameters_; }

  std::uint32_t start_time;
  std::int32_t bytes_received = 0;
  std::int32_t bytes_sent = 0;
  std::int32_t send_position = 0;

 private:
  void BuildResponse(StatusIndex status, const char* body, int length, const char* content_type);
  void KeepHeader(const std::string& line);

  platform::SocketHandle socket_;
  platform::IpAddress client_;
  bool post_ = false;
  std::string origin_, referer_, host_, authorization_;
  bool extra_header_lines_set_ = false;
  std::string extra_header_lines_;
  std::string response_;
  HTTPServer* server_;
  std::map<std::string, std::string> parameters_;
};
