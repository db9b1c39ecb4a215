#include "agent/render_common.h"

#include <charconv>

#include "agent/renderers.h"
#include "foundation/conversions.h"
#include "foundation/format.h"

namespace render {
namespace {

constexpr int kPieceChars = 256;

// Appends wide text as 8-bit text. Pieces are nearly always ASCII, which every
// ANSI code page and UTF-8 write as the same bytes: those are copied directly.
void AppendNarrowed(std::string& body, std::wstring_view text) {
  const std::size_t start = body.size();
  body.resize(start + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<std::uint32_t>(text[i]) >= 0x80) {
      body.resize(start);
      body += WideToAnsi(text);
      return;
    }
    body[start + i] = static_cast<char>(text[i]);
  }
}

}  // namespace

double Scaled(const SensorSnapshot& s, Kind kind, int index, bool json) {
  // Read by value: the record is packed.
  switch (kind) {
    case Kind::Temperature:
      return static_cast<double>(s.temps[index]) / 100.0;
    case Kind::Fan: {
      double fan = static_cast<double>(s.fans[index]);
      return json ? fan / 100.0 : fan;  // consumers of the JSON rely on this scale
    }
    case Kind::Voltage:
      return static_cast<double>(s.volts[index]) / 100.0;
  }
  return 0;
}

int Count(const SensorSnapshot& s, Kind kind) {
  switch (kind) {
    case Kind::Temperature:
      return EntriesToRead(s.numTemps);
    case Kind::Fan:
      return EntriesToRead(s.numFans);
    case Kind::Voltage:
      return EntriesToRead(s.numVolts);
  }
  return 0;
}

void AppendPiece(std::string& body, const wchar_t* format, double value, int number) {
  // Pieces are short: format them on the stack rather than in a string object.
  FormatArgList args;
  if (number > 0) args.push_back(FormatArg(number));
  args.push_back(FormatArg(value));
  wchar_t piece[kPieceChars];
  int length = FormatToBuffer(format, piece, kPieceChars, args);
  if (length < 0 || length >= kPieceChars - 1) {
    CWString long_piece;  // never for the system's own pieces, but kept whole
    Format(long_piece, format, args);
    long_piece.Replace(L",", L".");
    AppendNarrowed(body, long_piece.View());
    return;
  }
  for (int i = 0; i < length; ++i) {
    if (piece[i] == L',') piece[i] = L'.';
  }
  AppendNarrowed(body, std::wstring_view(piece, static_cast<std::size_t>(length)));
}

void AppendWide(std::string& body, const CWString& text) { AppendNarrowed(body, text.View()); }

const SensorName* NameOf(const SensorNames* names, Kind kind, int index) {
  if (names == nullptr || !names->any) return nullptr;
  const auto& list = names->kinds[static_cast<int>(kind)];
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return nullptr;
  const SensorName& name = list[static_cast<std::size_t>(index)];
  return name.name.empty() ? nullptr : &name;
}

void AppendShortestNumber(std::string& body, double value) {
  char text[64];
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  body.append(text, error == std::errc() ? static_cast<std::size_t>(end - text) : 0);
}

const char* KindWord(Kind kind) {
  switch (kind) {
    case Kind::Temperature:
      return "temperature";
    case Kind::Fan:
      return "fan";
    case Kind::Voltage:
      return "voltage";
  }
  return "";
}

const char* UnitWord(Kind kind) {
  switch (kind) {
    case Kind::Temperature:
      return "celsius";
    case Kind::Fan:
      return "rpm";
    case Kind::Voltage:
      return "volts";
  }
  return "";
}

void AppendStoredValue(std::string& body, Kind kind, std::int32_t stored) {
  const double value = static_cast<double>(stored);
  AppendShortestNumber(body, kind == Kind::Fan ? value : value / 100.0);
}

void AppendStatus(std::string& body, const ReadingStatus& status) {
  const std::pair<const std::optional<double>&, const char*> limits[] = {
      {status.limits.high_warning, "high_warning"},
      {status.limits.high_critical, "high_critical"},
      {status.limits.low_warning, "low_warning"},
      {status.limits.low_critical, "low_critical"},
  };
  body.append(",\"limits\":{");
  bool first = true;
  for (const auto& [limit, word] : limits) {
    if (!limit) continue;
    body.append(first ? "\"" : ",\"").append(word).append("\":");
    AppendShortestNumber(body, *limit);
    first = false;
  }
  body.append("},\"state\":\"").append(limits::StateName(status.state)).append("\"");
  if (status.alarm) body.append(",\"alarm\":").append(*status.alarm ? "true" : "false");
}

}  // namespace render

std::string EscapeJson(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04X", c);
          out += code;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string EscapeMarkup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}
