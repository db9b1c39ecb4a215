// The HTML status and settings page.
#include "agent/render_common.h"
#include "agent/renderers.h"
#include "foundation/conversions.h"
#include "foundation/format.h"

using render::AppendPiece;
using render::Kind;

namespace {

constexpr const char* kHead =
    "<html><head><style>body, table, div "
    "{font-family:Verdana,Arial,Helvetica,Sans-serif;font-size:90%}h1 {color: #004990; "
    "font-size: 125%;}h2 {color: #004990; font-size: 110%;}h3 {color: #004990; font-size: 100%; "
    "}</style></head><body>\r\n\r\n"
    "<div style=\"padding:20px;background-color:#e8e8e8;border:1px solid #808080\">"
    "<h1>Kelvane HTTP Agent</h1>"
    "<p><a href=\"https://www.kelvane.example/agent/\">KelvaneHTTPAgent</a> retrieves data from "
    "<a href=\"https://www.kelvane.example/\">Kelvane</a>, a great utility by the Kelvane "
    "project that reports PC temperature, fan speed, voltages and hard disk health.  Retrieved "
    "temperature, fan and voltage data is made accessible via a simple HTTP request. (Hard disk "
    "health data is not available from KelvaneHTTPAgent as it's not published by Kelvane)</p>"
    "<h2>Usage:</h2><ol>"
    "<li><a href=\"https://www.kelvane.example/download/\">Download Kelvane</a> and install "
    "it.</li>"
    "<li>Do <u>not</u> start Kelvane -- KelvaneHTTPAgent will take care of that</li>"
    "<li>Copy KelvaneHTTPAgent.exe to the <u>same</u> folder that Kelvane.exe is in.</li>"
    "<li>Run KelvaneHTTPAgent.exe to configure the HTTP port that will be used.</li>"
    "<li><i>(optional)</i> If you want KelvaneHTTPAgent to run as a service, run "
    "KelvaneHTTPAgent.exe -i to register it.</li>"
    "<li>Point a browser at http://{machine name}:{configured port} to retrieve the data.</li></ol>"
    "<h2>Command Line Parameters</h2><table>"
    "<tr><td>{nothing}</td><td>Starts KelvaneHTTPAgent interactively and launches a browser "
    "showing this page</td></tr>"
    "<tr><td>-i</td><td>Installs KelvaneHTTPAgent as a service</td></tr>"
    "<tr><td>-u</td><td>Removes the KelvaneHTTPAgent service</td></tr>"
    "<tr><td>-d</td><td>Runs KelvaneHTTPAgent interactively (without starting up a "
    "browser)</td></tr>"
    "<tr><td>-setport {port}</td><td>Sets the port that the KelvaneHTTPAgent HTTP server will "
    "use.  KelvaneHTTPAgent will need to be restarted to use the new port.  This value is saved "
    "(and thus can be changed) in KelvaneHTTPAgent.ini.</td></tr>"
    "<tr><td>-tested </td><td>Indicates Kelvane.exe has been tested on this computer and it is "
    "OK to launch.</td></tr>"
    "</table>";

constexpr const wchar_t* kForm =
    L"<h2>HTTP Port</h2>\r\n<form action=\"/\" method=\"post\">\r\n<p>Current HTTP Port: "
    L"{0}<br/>\r\nNew Port: <input type=\"text\" name=\"port\" id=\"port\" size=\"5\" "
    L"value=\"{1}\"></input> (restart KelvaneHTTPAgent to use the new port)<br/>\r\n<input "
    L"type=\"checkbox\" name=\"canlaunch\" id=\"canlaunch\" {2}>Kelvane has been tested on this "
    L"computer and it is OK to launch it</input><br/>\r\n<input type=\"submit\" "
    L"value=\"Submit\"></input>\r\n</p></form>\r\n";

constexpr const char* kFormats =
    "<h2>Output Format</h2><p>KelvaneHTTPAgent can return the data in four formats as shown "
    "below.  Note that the decimal point . is always used for floating point numbers to make "
    "parsing more predictable regardless of OS language settings.</p><dl><dt>Default</dt><dd>"
    "Requesting the URL with no parameters will return this page with the simple data output in "
    "the table below.</dd><dt>Simple</dt><dd>Request http://{machine name}:{configured "
    "port}/?format=simple to get a simple list of temperatures and fan speeds.  \r\n<a "
    "href=\"/?format=simple\">Example</a>\r\n</dd><dt>XML</dt><dd>Request http://{machine "
    "name}:{configured port}/?format=xml to get a simple XML output of temperatures and fan "
    "speeds.  \r\n<a href=\"/?format=xml\">Example</a>\r\n</dd><dt>JSON</dt><dd>Request "
    "http://{machine name}:{configured port}/?format=json to get a the data in a simple JSON "
    "format.  \r\n<a href=\"/?format=json\">Example</a>\r\n</dd></dl><hr>";

constexpr const char* kFooter =
    "<hr><p>We hope KelvaneHTTPAgent is useful to you.  If you have questions, feel free to ask "
    "at support@kelvane.example</p><p></p><p>KelvaneHTTPAgent is provided as is, without "
    "warranty of any kind.</p></div>\r\n\r\n</body></html>";

void AppendCountNotes(std::string& body, const SensorSnapshot& s) {
  if (s.numTemps > kMaxSensorEntries) {
    body +=
        "<p>Note: An illegal value for the number of temperatures was received, so double check "
        "the reported values against Kelvane.</p>";
  }
  if (s.numFans > kMaxSensorEntries) {
    body +=
        "<p>Note: An illegal value for the number of fans was received, so double check the "
        "reported values against Kelvane.</p>";
  }
  if (s.numVolts > kMaxSensorEntries) {
    body +=
        "<p>Note: An illegal value for the number of volts was received, so double check the "
        "reported values against Kelvane.</p>";
  }
}

struct RowFormat {
  const wchar_t* whole;  // the row of a reading without a name
  const wchar_t* head;   // a named row: up to the number,
  const wchar_t* tail;   // and from the cell's end on
};

// A named row: the name goes in as text, escaped, in the page's narrow text;
// no placeholder in it is expanded and no comma in it becomes a point.
void AppendNamedRow(std::string& body, const RowFormat& row, double value, int number,
                    const SensorName& name) {
  AppendPiece(body, row.head, value, number);
  body += name.page;
  AppendPiece(body, row.tail, value, number);
}

void AppendTable(std::string& body, const SensorSnapshot& s, Kind kind, const char* opening,
                 const RowFormat& row, const SensorNames* names) {
  body += opening;
  const int count = render::Count(s, kind);
  for (int i = 0; i < count; ++i) {
    const double value = render::Scaled(s, kind, i, false);
    const SensorName* name = render::NameOf(names, kind, i);
    if (name != nullptr) {
      AppendNamedRow(body, row, value, i + 1, *name);
    } else {
      AppendPiece(body, row.whole, value, i + 1);
    }
  }
  body += "</table>";
}

constexpr RowFormat kTemperatureRow = {
    L"<tr><td>Temperature {0}</td><td>:</td><td>{1:0.0f} C</td></tr>", L"<tr><td>Temperature {0}",
    L"</td><td>:</td><td>{1:0.0f} C</td></tr>"};
constexpr RowFormat kFanRow = {L"<tr><td>Fan {0}</td><td>:</td><td>{1:0.0f} RPM</td></tr>",
                               L"<tr><td>Fan {0}", L"</td><td>:</td><td>{1:0.0f} RPM</td></tr>"};
constexpr RowFormat kVoltageRow = {L"<tr><td>Voltage {0}</td><td>:</td><td>{1:0.2f} V</td></tr>",
                                   L"<tr><td>Voltage {0}",
                                   L"</td><td>:</td><td>{1:0.2f} V</td></tr>"};

}  // namespace

void RenderHtml(std::string& body, const SensorSnapshot* view, const CWString& error, bool tested,
                std::uint16_t port, const SensorNames* names) {
  body += kHead;
  CWString form;
  Format(form, kForm, port, port, tested ? L"checked" : L"");
  render::AppendWide(body, form);
  body += kFormats;
  if (view != nullptr) AppendCountNotes(body, *view);
  if (!error.IsEmpty()) {
    body += "<p>" + EscapeMarkup(WideToAnsi(error.View())) + "</p>";
  } else {
    AppendTable(body, *view, Kind::Temperature, "<h3>Temperature Data</h3><table>", kTemperatureRow,
                names);
    if (view->numFans != 0) {
      AppendTable(body, *view, Kind::Fan, "<hr><h3>Fan Data</h3><table>", kFanRow, names);
    }
    if (view->numVolts != 0) {
      AppendTable(body, *view, Kind::Voltage, "<hr><h3>Voltage Data</h3><table>", kVoltageRow,
                  names);
    }
  }
  body += kFooter;
}
