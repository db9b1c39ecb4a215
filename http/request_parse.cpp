// Parsing the request line, the path, the query and the form body.
#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/ascii_text.h"
#include "foundation/conversions.h"
#include "http/request.h"
#include "http/server_limits.h"

namespace {

struct Lines {
  std::vector<std::string> lines;
  std::string body;
  bool has_body = false;
};

// Splits at LF (runs of LF count as one separator), drops one trailing CR per
// line, and finds the form body: the line after the first line that was one
// character long (normally the CR of the blank line).
Lines SplitRequest(const std::string& text) {
  Lines result;
  bool next_is_body = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '\n') {
      ++pos;
      continue;
    }
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    bool one_char = line.size() == 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (next_is_body && !result.has_body) result.body = line, result.has_body = true;
    if (one_char) next_is_body = true;
    result.lines.push_back(std::move(line));
    pos = end;
  }
  return result;
}

// The next token of `line` from `pos`, separators skipped first.
std::string NextToken(const std::string& line, std::size_t& pos, const char* separators) {
  std::size_t start = line.find_first_not_of(separators, pos);
  if (start == std::string::npos) return pos = line.size(), std::string();
  std::size_t end = line.find_first_of(separators, start);
  if (end == std::string::npos) end = line.size();
  pos = end;
  return line.substr(start, end - start);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool UnescapePath(const char* path, char* out, std::size_t capacity, std::size_t& needed) {
  bool ok = true;
  std::size_t written = 0;
  auto put = [&](char c) {
    if (written < capacity) out[written] = c;
    ++written;
  };
  for (const char* p = path; *p != 0; ++p) {
    if (*p != '%') {
      put(*p);
      continue;
    }
    int high = p[1] != 0 ? HexValue(p[1]) : -1;
    int low = high >= 0 && p[2] != 0 ? HexValue(p[2]) : -1;
    if (low < 0 || (high == 0 && low == 0)) {
      ok = false;
      break;
    }
    put(static_cast<char>(high * 16 + low));
    p += 2;
  }
  needed = written + 1;
  if (written < capacity)
    out[written] = 0;
  else if (capacity > 0)
    out[capacity - 1] = 0;
  return ok && needed <= capacity;
}

// Only the headers a handler may need to judge where a request came from.
void Request::KeepHeader(const std::string& line) {
  std::size_t colon = line.find(':');
  if (colon == std::string::npos) return;
  std::string name = line.substr(0, colon);
  std::string* slot = ascii::EqualNoCase(name, "ORIGIN")          ? &origin_
                      : ascii::EqualNoCase(name, "REFERER")       ? &referer_
                      : ascii::EqualNoCase(name, "HOST")          ? &host_
                      : ascii::EqualNoCase(name, "AUTHORIZATION") ? &authorization_
                                                                  : nullptr;
  if (slot == nullptr || !slot->empty()) return;
  std::size_t start = line.find_first_not_of(" \t", colon + 1);
  std::size_t end = line.find_last_not_of(" \t");
  if (start != std::string::npos) *slot = line.substr(start, end - start + 1);
}

std::string Request::Header(const char* name) const {
  std::string wanted(name);
  return ascii::EqualNoCase(wanted, "ORIGIN")          ? origin_
         : ascii::EqualNoCase(wanted, "REFERER")       ? referer_
         : ascii::EqualNoCase(wanted, "HOST")          ? host_
         : ascii::EqualNoCase(wanted, "AUTHORIZATION") ? authorization_
                                                       : std::string();
}

namespace {

ParsedRequest Refuse(StatusIndex status) {
  ParsedRequest parsed;
  parsed.outcome = ParsedRequest::Outcome::Refused;
  parsed.refusal = status;
  return parsed;
}

}  // namespace

ParsedRequest ParseRequest(const std::string& text, Request& request) {
  try {
    Lines split = SplitRequest(text);
    if (split.lines.empty()) return Refuse(kStatusBadRequest);
    const std::string& request_line = split.lines.front();
    std::size_t pos = 0;
    std::string method = NextToken(request_line, pos, " \r\n");
    if (method.empty()) return Refuse(kStatusBadRequest);
    if (!ascii::EqualNoCase(method, "GET") && !ascii::EqualNoCase(method, "POST")) {
      return Refuse(kStatusNotImplemented);
    }
    request.post_ = ascii::EqualNoCase(method, "POST");
    for (std::size_t i = 1; i < split.lines.size() && !split.lines[i].empty(); ++i) {
      request.KeepHeader(split.lines[i]);
    }
    std::string target = NextToken(request_line, pos, " \r");
    if (target.empty()) return Refuse(kStatusBadRequest);
    std::size_t question = target.find('?');
    std::string path = target.substr(0, question);
    std::string query;
    if (question != std::string::npos) {
      std::size_t start = target.find_first_not_of('?', question);
      if (start != std::string::npos) query = target.substr(start, target.find('?', start) - start);
    }
    char decoded[kDecodedPathBuffer];
    std::size_t needed = 0;
    // A path that cannot be decoded whole is a bad request, not a shorter path.
    if (!UnescapePath(path.c_str(), decoded, sizeof decoded, needed)) {
      return Refuse(kStatusBadRequest);
    }
    if (std::strstr(decoded, "..") != nullptr) return Refuse(kStatusBadRequest);
    request.ParseParams(query.data());
    if (split.has_body) request.ParseParams(split.body.data());
    ParsedRequest parsed;
    parsed.path = std::wstring(AnsiToWide(decoded).View());
    parsed.outcome = ParsedRequest::Outcome::ForHandler;
    return parsed;
  } catch (...) {
    // Out of memory: the worker sends nothing.
    return ParsedRequest();
  }
}
