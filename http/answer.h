#pragma once
// Answering one request: the text is parsed into the Request, then the
// server's handler builds the answer on it. What goes wrong on the way gets
// the server's own answer (400, 404, 500, 501), with the handler's header
// lines if it set any, else the server's OwnAnswerHeaderLines. Runs on a
// worker thread.
#include <string>

class HTTPServer;
class Request;

// `too_long`: the text went past kMaxRequestBytes (400, not parsed).
void Answer(HTTPServer& server, Request& request, const std::string& text, bool too_long);
