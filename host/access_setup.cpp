#include "host/access_setup.h"

#include <cstdio>
#include <memory>

#include "agent/agent_server.h"
#include "agent/tls_section.h"
#include "agent/users_section.h"
#include "foundation/conversions.h"
#include "foundation/exe_files.h"
#include "foundation/log.h"
#include "http/debug_print.h"
#include "platform/paths.h"
#include "tls/tls_stream.h"

namespace {

void Say(const wchar_t* what, const std::wstring& text) {
  ReportToEventLog(L"%ls%ls", what, text.c_str());
  DebugPrint(L"%ls%ls", what, text.c_str());
  std::fprintf(stderr, "KelvaneHTTPAgent: %s%s\n", WideToAnsi(what).c_str(),
               WideToAnsi(text).c_str());
  std::fflush(stderr);
}

void SayNotListening(const std::wstring& why) { Say(L"", why + L": not listening"); }

}  // namespace

bool SetUpAccess(KelvaneHTTPAgentHTTPServer& server) {
  const std::wstring settings_file = SettingsFilePath();
  const UsersLoad users = ReadUsersSectionFrom(settings_file);
  const TlsSection tls_section = ReadTlsSectionFrom(settings_file, platform::ExecutablePath());
  if (!users.errors.empty()) {
    for (const std::wstring& error : users.errors) SayNotListening(error);
    return false;
  }
  if (tls_section.wanted) {
    tls::TlsLoad load = tls::TlsCredentials::Load(tls_section.files);
    if (load.credentials == nullptr) {
      SayNotListening(L"[TLS] " + load.error);
      return false;
    }
    for (const std::wstring& warning : load.warnings) Say(L"warning: [TLS] ", warning);
    server.UseStreams(std::make_shared<tls::TlsStreamMaker>(std::move(load.credentials)));
  }
  if (!users.users.empty()) {
    if (!tls_section.wanted) {
      Say(L"warning: ", L"[Users] without [TLS]: passwords cross the network in the clear");
    }
    const std::wstring mixed = MixedCostsNote(users.users);
    if (!mixed.empty()) Say(L"note: ", mixed);
    server.RequireUsers(std::make_shared<BasicAuthenticator>(users.users));
  }
  return true;
}
