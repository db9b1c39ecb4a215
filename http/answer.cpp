#include "http/answer.h"

#include "http/http_server.h"
#include "http/request.h"

namespace {

void OwnAnswer(HTTPServer& server, Request& request, StatusIndex status) {
  if (!request.HasExtraHeaderLines()) request.SetExtraHeaderLines(server.OwnAnswerHeaderLines());
  request.SetErrorResponse(status);
}

}  // namespace

void Answer(HTTPServer& server, Request& request, const std::string& text, bool too_long) {
  if (too_long) return OwnAnswer(server, request, kStatusBadRequest);
  const ParsedRequest parsed = ParseRequest(text, request);
  switch (parsed.outcome) {
    case ParsedRequest::Outcome::Failed:
      return;
    case ParsedRequest::Outcome::Refused:
      return OwnAnswer(server, request, parsed.refusal);
    case ParsedRequest::Outcome::ForHandler:
      break;
  }
  bool handled;
  try {
    handled = server.HandleRequest(request, parsed.path);
  } catch (...) {
    return OwnAnswer(server, request, kStatusServerError);
  }
  if (!handled) OwnAnswer(server, request, kStatusNotFound);
}
