#pragma once
// Request: one connection's request and its response. ParseRequest fills it
// from the request text: the method, the headers a handler may need, the
// query and a URL-encoded form body. The handler then builds the complete
// response bytes on it, for the worker to send. It knows nothing of the
// connection but the client's address and whether its stream is secure.
// Belongs to one worker thread.
#include <map>
#include <string>

#include "platform/net_address.h"

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

class Request;

// What parsing a request text found.
struct ParsedRequest {
  enum class Outcome {
    ForHandler,  // a GET or POST for the decoded `path`
    Refused,     // answered by the server itself, with `refusal` (400, 501)
    Failed,      // no memory for it: nothing to send
  };
  Outcome outcome = Outcome::Failed;
  StatusIndex refusal = kStatusBadRequest;
  std::wstring path;
};

// Parses `text` into `request`: the request line, the kept headers, the
// query and a form body. Touches nothing outside it.
ParsedRequest ParseRequest(const std::string& text, Request& request);

class Request {
 public:
  explicit Request(const platform::IpAddress& client = platform::IpAddress(), bool secure = false)
      : client_(client), secure_(secure) {}
  virtual ~Request() = default;

  // Decodes name=value pairs of `text` (modified in place) into the parameters.
  void ParseParams(char* text);
  // The value stored for `name` (any ASCII letter case), or empty text.
  std::string GetParam(const char* name) const;
  // The client's address as accept reported it.
  const platform::IpAddress& ClientAddress() const noexcept { return client_; }
  // Whether it came over a secure stream (TLS).
  bool Secure() const noexcept { return secure_; }
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
  // Header lines (each ending in CR LF) that the response built next
  // carries after the fixed ones. Whoever builds the response sets them.
  void SetExtraHeaderLines(std::string lines);
  const std::string& ExtraHeaderLines() const noexcept { return extra_header_lines_; }
  bool HasExtraHeaderLines() const noexcept { return extra_header_lines_set_; }

  const std::string& Response() const noexcept { return response_; }
  const std::map<std::string, std::string>& Params() const noexcept { return parameters_; }

 private:
  friend ParsedRequest ParseRequest(const std::string& text, Request& request);
  void BuildResponse(StatusIndex status, const char* body, int length, const char* content_type);
  void KeepHeader(const std::string& line);

  platform::IpAddress client_;
  bool secure_ = false;
  bool post_ = false;
  std::string origin_, referer_, host_, authorization_;
  bool extra_header_lines_set_ = false;
  std::string extra_header_lines_;
  std::string response_;
  std::map<std::string, std::string> parameters_;
};
