// The simple text, XML and JSON renderings.
#include <cstdio>

#include "agent/render_common.h"
#include "agent/renderers.h"
#include "foundation/conversions.h"

using render::AppendPiece;
using render::Kind;

namespace {

// Every value of a kind, each as its piece, with `separator` between values
// (added after the comma replacement, so a "," separator stays a comma).
void AppendValues(std::string& body, const SensorSnapshot& s, Kind kind, bool json,
                  const wchar_t* piece, const char* separator = "") {
  const int count = render::Count(s, kind);
  for (int i = 0; i < count; ++i) {
    if (i > 0) body += separator;
    AppendPiece(body, piece, render::Scaled(s, kind, i, json));
  }
}

}  // namespace

OutputFormat ChooseFormat(const std::string& parameter) {
  std::string lower;
  for (char c : parameter) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "json") return OutputFormat::Json;
  if (lower == "xml") return OutputFormat::Xml;
  if (lower == "simple") return OutputFormat::Simple;
  if (lower == "prometheus") return OutputFormat::Prometheus;
  if (lower == "sensors") return OutputFormat::Sensors;
  if (lower == "history") return OutputFormat::History;
  if (lower == "dashboard") return OutputFormat::Dashboard;
  return OutputFormat::Html;
}

const wchar_t* FormatExtension(OutputFormat format) {
  switch (format) {
    case OutputFormat::Html:
      return L".htm";
    case OutputFormat::Xml:
      return L".xml";
    default:
      return L".txt";
  }
}

void RenderSimple(std::string& body, const SensorSnapshot* view, const CWString& error) {
  body +=
      "COMMENT:This line will always exist.  All lines end with <br/> to make viewing easier in "
      "a browser.  If there is an error, it will be on a line labeled ERROR:\r\n";
  if (!error.IsEmpty()) {
    if (error.Find(L"ERROR:") < 0) body += "ERROR: ";
    render::AppendWide(body, error);
    body += "\r\n";
    return;
  }
  body += "TEMPERATURES:";
  AppendValues(body, *view, Kind::Temperature, false, L"{0:0.0f}|");
  body += "\r\nFANS:";
  AppendValues(body, *view, Kind::Fan, false, L"{0:0.0f}|");
  body += "\r\nVOLTAGES:";
  AppendValues(body, *view, Kind::Voltage, false, L"{0:0.2f}|");
  body += "\r\n";
}

void RenderXml(std::string& body, const SensorSnapshot* view, const CWString& error) {
  body +=
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n<data>\r\n<comment>This "
      "node will always exist.  If there is an error, it will be in an &lt;error&gt; "
      "node.</comment>\r\n";
  if (!error.IsEmpty()) {
    // UTF-8, as the declaration says, whatever the ANSI code page.
    body += "<error>" + EscapeMarkup(WideToUtf8(error.View())) + "</error>\r\n";
  } else {
    body += "<temperatures>";
    AppendValues(body, *view, Kind::Temperature, false, L"<temperature>{0:0.0f}</temperature>");
    body += "</temperatures>\r\n<fans>";
    AppendValues(body, *view, Kind::Fan, false, L"<fan>{0:0.0f}</fan>");
    body += "</fans>\r\n<voltages>";
    AppendValues(body, *view, Kind::Voltage, false, L"<voltage>{0:0.2f}</voltage>");
    body += "</voltages>\r\n";
  }
  body += "</data>";
}

void RenderJson(std::string& body, const SensorSnapshot* view, const CWString& error) {
  body +=
      "{\r\n \"comment\": \"This line will always exist.  If there is an error, it will be in a "
      "value named 'error'\", \r\n";
  if (!error.IsEmpty()) {
    // UTF-8, as JSON text must be (RFC 8259), whatever the ANSI code page.
    body += "\"error\" : \"" + EscapeJson(WideToUtf8(error.View())) + "\"";
  } else {
    body += " \"temperatures\": [";
    AppendValues(body, *view, Kind::Temperature, true, L"{0:0.0f}", ",");
    body += "], \r\n \"fans\": [";
    AppendValues(body, *view, Kind::Fan, true, L"{0:0.0f}", ",");
    body += "], \r\n \"voltages\": [";
    AppendValues(body, *view, Kind::Voltage, true, L"{0:0.2f}", ",");
    body += "] \r\n";
  }
  body += "}";
}
