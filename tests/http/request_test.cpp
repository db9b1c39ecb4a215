#include "http/request.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "http/answer.h"
#include "http/http_server.h"

namespace {

// Records what the handler saw and answers "ok" (or what the test asks).
class RecordingServer : public HTTPServer {
 public:
  bool HandleRequest(Request& request, const std::wstring& path) override {
    ++calls;
    seen_path = path;
    if (!handler_lines.empty()) request.SetExtraHeaderLines(handler_lines);
    if (raise) throw std::runtime_error("handler failed");
    if (!answer) return false;
    request.SetResponseText(kStatusOk, "ok", L".txt");
    return true;
  }
  std::string OwnAnswerHeaderLines() override { return own_lines; }
  int calls = 0;
  std::wstring seen_path;
  bool answer = true;
  bool raise = false;
  std::string handler_lines, own_lines;
};

// The answer the server gives to `text`.
std::string AnswerTo(RecordingServer& server, const std::string& text, bool too_long = false) {
  Request request;
  Answer(server, request, text, too_long);
  return request.Response();
}

std::string ErrorResponse(const char* status_line) {
  std::string line(status_line);
  return line + "Cache-Control: max-age=0\r\nConnection: close\r\nPragma: no-cache\r\n" +
         "Content-Type: text/plain\r\nContent-Length: " + std::to_string(line.size()) + "\r\n\r\n" +
         line;
}

TEST(Response, ExactBytesForTextBody) {
  Request request;
  request.SetResponseText(kStatusOk, "abc", L".txt");
  EXPECT_EQ(request.Response(),
            "HTTP/1.1 200 OK\r\nCache-Control: max-age=0\r\nConnection: close\r\n"
            "Pragma: no-cache\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nabc");
  request.SetResponseText(15, nullptr, nullptr);  // replaces the first one
  EXPECT_EQ(request.Response(),
            "HTTP/1.1 500 Internal Server Error\r\nCache-Control: max-age=0\r\nConnection: "
            "close\r\nPragma: no-cache\r\nContent-Type: application/octet-stream\r\n"
            "Content-Length: 0\r\n\r\n");
}

TEST(Response, ContentTypeFromTheLastDot) {
  struct Case {
    const wchar_t* source;
    const char* type;
  } cases[] = {
      {L".txt", "text/plain"},
      {L"/data/report.TXT", "text/plain"},
      {L".htm", "text/html"},
      {L"noextension", "application/octet-stream"},
      {L"/folder.d/file", "application/octet-stream"},
      {nullptr, "application/octet-stream"},
  };
  for (const Case& c : cases) {
    Request request;
    request.SetResponseText(kStatusOk, "", c.source);
    EXPECT_NE(request.Response().find(std::string("Content-Type: ") + c.type + "\r\n"),
              std::string::npos)
        << (c.source ? "source" : "null") << " " << request.Response();
  }
}

TEST(Answer, StatusAnswers) {
  struct Case {
    const char* text;
    const char* status_line;  // null: the handler answered
  } cases[] = {
      {"GET /?format=xml HTTP/1.1\r\nHost: x\r\n\r\n", nullptr},
      {"get / HTTP/1.1\r\n\r\n", nullptr},
      {"POST /x HTTP/1.1\r\n\r\nport=1", nullptr},
      {"GET / HTTP/1.1\r\n", nullptr},
      {"PUT / HTTP/1.1\r\n\r\n", "HTTP/1.1 501 Not Implemented\r\n"},
      {"DELETE /x HTTP/1.1\r\n\r\n", "HTTP/1.1 501 Not Implemented\r\n"},
      {"GET /../x HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET /%2e%2e/x HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET /a%zz HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET /a%00b HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET /a%4 HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"\r\nGET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"", "HTTP/1.1 400 Bad Request\r\n"},
      {"   \r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
  };
  for (const auto& c : cases) {
    RecordingServer server;
    const std::string response = AnswerTo(server, c.text);
    if (c.status_line == nullptr) {
      EXPECT_EQ(server.calls, 1) << c.text;
      EXPECT_NE(response.find("\r\n\r\nok"), std::string::npos) << c.text;
    } else {
      EXPECT_EQ(server.calls, 0) << c.text;
      EXPECT_EQ(response, ErrorResponse(c.status_line)) << c.text;
    }
  }
}

TEST(Answer, LongPathsAndHandlerOutcomes) {
  RecordingServer server;
  std::string fits(1999, 'a');
  AnswerTo(server, "GET /" + fits.substr(1) + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(server.seen_path.size(), 1999u);
  const std::string bad_request = ErrorResponse("HTTP/1.1 400 Bad Request\r\n");
  EXPECT_EQ(AnswerTo(server, "GET /" + fits + " HTTP/1.1\r\n\r\n"), bad_request);
  EXPECT_EQ(AnswerTo(server, "GET / HTTP/1.1\r\n\r\n", true), bad_request);

  server.answer = false;
  EXPECT_EQ(AnswerTo(server, "GET /missing HTTP/1.1\r\n\r\n"),
            ErrorResponse("HTTP/1.1 404 Not Found\r\n"));
  server.raise = true;
  EXPECT_EQ(AnswerTo(server, "GET / HTTP/1.1\r\n\r\n"),
            ErrorResponse("HTTP/1.1 500 Internal Server Error\r\n"));
}

// The server's own answers carry its lines, unless the handler gave its own.
TEST(Answer, OwnAnswersCarryTheServersHeaderLinesUnlessTheHandlerSetSome) {
  RecordingServer server;
  server.own_lines = "X-Own: 1\r\n";
  server.answer = false;
  const auto lines_of = [](const std::string& response) {
    const std::size_t start = response.find("Content-Length: ");
    const std::size_t head_end = response.find("\r\n\r\n");
    const std::size_t after = response.find("\r\n", start) + 2;
    return response.substr(after, head_end + 2 - after);
  };
  EXPECT_EQ(lines_of(AnswerTo(server, "PUT / HTTP/1.1\r\n\r\n")), "X-Own: 1\r\n");
  EXPECT_EQ(lines_of(AnswerTo(server, "GET /missing HTTP/1.1\r\n\r\n")), "X-Own: 1\r\n");
  server.handler_lines = "X-Handler: 2\r\n";
  EXPECT_EQ(lines_of(AnswerTo(server, "GET /missing HTTP/1.1\r\n\r\n")), "X-Handler: 2\r\n");
  server.answer = true;
  EXPECT_EQ(lines_of(AnswerTo(server, "GET / HTTP/1.1\r\n\r\n")), "X-Handler: 2\r\n");
}

TEST(ParseRequest, PathAndParameters) {
  struct Case {
    const char* text;
    const wchar_t* path;
    std::map<std::string, std::string> params;
  } cases[] = {
      {"GET /?format=xml HTTP/1.1\r\n\r\n", L"/", {{"FORMAT", "xml"}}},
      {"POST / HTTP/1.1\r\nHost: h\r\n\r\nport=8080&canlaunch=on\r\n",
       L"/",
       {{"PORT", "8080"}, {"CANLAUNCH", "on"}}},
      {"POST /?port=1&x=q HTTP/1.1\r\n\r\nport=2", L"/", {{"PORT", "2"}, {"X", "q"}}},
      {"GET /?a=1&a=2 HTTP/1.1\r\n\r\n", L"/", {{"A", "2"}}},
      {"GET /?name+x=a+b%21 HTTP/1.1\r\n\r\n", L"/", {{"NAME X", "a b!"}}},
      {"GET /?flag&x=1 HTTP/1.1\r\n\r\n", L"/", {{"FLAG", ""}, {"X", "1"}}},
      {"POST / HTTP/1.1\r\n\r\nfirst=1\r\nsecond=2\r\n", L"/", {{"FIRST", "1"}}},
      {"GET /a%20b/c?x=1?y=2 HTTP/1.1\r\n\r\n", L"/a b/c", {{"X", "1"}}},
      {"GET /??q=1 HTTP/1.1\r\n\r\n", L"/", {{"Q", "1"}}},
      {"GET /?v=50%25&w=%zz&u=%2 HTTP/1.1\r\n\r\n", L"/", {{"V", "50%"}, {"W", "%zz"}, {"U", ""}}},
      {"GET /?v=a%00b&%41%62=c#d&e=f HTTP/1.1\r\n\r\n", L"/", {{"V", "a"}, {"AB", "c"}}},
      {"GET /?=empty&%zq=1 HTTP/1.1\r\n\r\n", L"/", {{"", "empty"}, {"\xFF", "1"}}},
      {"GET /caf%C3%A9 HTTP/1.1\r\n\r\n", nullptr, {}},
  };
  for (const auto& c : cases) {
    Request request;
    const ParsedRequest parsed = ParseRequest(c.text, request);
    ASSERT_EQ(parsed.outcome, ParsedRequest::Outcome::ForHandler) << c.text;
    if (c.path != nullptr) {
      EXPECT_EQ(parsed.path, c.path) << c.text;
    }
    EXPECT_EQ(request.Params(), c.params) << c.text;
  }
  Request request;
  ParseRequest("GET /?Format=Json HTTP/1.1\r\n\r\n", request);
  EXPECT_EQ(request.GetParam("format"), "Json");
  EXPECT_EQ(request.GetParam("FORMAT"), "Json");
  EXPECT_EQ(request.GetParam("missing"), "");
}

TEST(UnescapePath, Limits) {
  char out[2000];
  std::size_t needed = 0;
  std::string path(1999, 'p');
  EXPECT_TRUE(UnescapePath(path.c_str(), out, sizeof out, needed));
  EXPECT_EQ(needed, 2000u);
  path += 'p';
  EXPECT_FALSE(UnescapePath(path.c_str(), out, sizeof out, needed));
  EXPECT_EQ(needed, 2001u);
  EXPECT_TRUE(UnescapePath("/a+b%41%7e", out, sizeof out, needed));
  EXPECT_STREQ(out, "/a+bA~");
}

}  // namespace
