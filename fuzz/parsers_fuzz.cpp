// libFuzzer target for the parsers that take outside input: the request text
// (with its path and parameters), percent-decoding, format strings and
// command lines, address ranges and the settings guard's header checks. The
// first byte picks the parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/settings_guard.h"
#include "foundation/cmdline.h"
#include "foundation/format.h"
#include "foundation/ip_address.h"
#include "http/request.h"

namespace {

std::wstring Widen(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (c != 0) text += c;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t which = data[0] % 5;
  ++data, --size;
  std::string text(reinterpret_cast<const char*>(data), size);
  switch (which) {
    case 0: {
      Request request;
      const ParsedRequest parsed = ParseRequest(text, request);
      if (parsed.outcome == ParsedRequest::Outcome::ForHandler) {
        request.SetResponseText(kStatusOk, request.GetParam("format").c_str(), parsed.path.c_str());
      }
      break;
    }
    case 1: {
      std::string path = text.substr(0, text.find('\0'));
      char out[2000];
      size_t needed = 0;
      UnescapePath(path.c_str(), out, sizeof out, needed);
      Request request;
      request.ParseParams(path.data());
      break;
    }
    case 2: {
      std::wstring format = Widen(data, size);
      CWString out;
      Format(out, format.c_str(), 42, L"text", 2.5, 7u, "narrow");
      break;
    }
    case 3: {
      // SettingsFrom text, then Origin, Referer and Host, split at NUL bytes.
      std::string parts[4];
      std::size_t part = 0;
      for (char c : text) {
        if (c == '\0' && part < 3) {
          ++part;
        } else {
          parts[part] += c;
        }
      }
      const SettingsPolicy policy = ParseSettingsFrom(parts[0]);
      IpAddress client;
      if (ParseIpAddress(parts[1], client)) FormatIpAddress(Unmapped(client));
      SettingsActionAllowed(policy, client, {true, parts[1], parts[2], parts[3]});
      break;
    }
    default: {
      std::wstring line = Widen(data, size);
      CCmdLineParser parser(line.c_str());
      parser.HasKey(L"setport");
      parser.GetValue(L"d");
      break;
    }
  }
  return 0;
}
