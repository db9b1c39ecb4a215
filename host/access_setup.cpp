#include "host/access_setup.h"

#include <cstdio>
#include <memory>

#include "agent/access_settings.h"
#include "agent/agent_server.h"
#include "foundation/conversions.h"
#include "foundation/exe_files.h"
#include "foundation/log.h"
#include "http/debug_print.h"
#include "platform/paths.h"

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
  const AccessSettings settings =
      ReadAccessSettingsFrom(SettingsFilePath(), platform::ExecutablePath());
  if (!settings.users.errors.empty()) {
    for (const std::wstring& error : settings.users.errors) SayNotListening(error);
    return false;
  }
  if (settings.tls_wanted) {
    tls::TlsLoad load = tls::TlsCredentials::Load(settings.tls);
    if (load.credentials == nullptr) {
      SayNotListening(L"[TLS] " + load.error);
      return false;
    }
    for (const std::wstring& warning : load.warnings) Say(L"warning: [TLS] ", warning);
    server.UseTls(std::move(load.credentials));
  }
  if (!settings.users.users.empty()) {
    if (!settings.tls_wanted) {
      Say(L"warning: ", L"[Users] without [TLS]: passwords cross the network in the clear");
    }
    const std::wstring mixed = MixedCostsNote(settings.users.users);
    if (!mixed.empty()) Say(L"note: ", mixed);
    server.RequireUsers(std::make_shared<BasicAuthenticator>(settings.users.users));
  }
  return true;
}
