// Registration: the AppID entries, the service, and the switches that ask
// for them.
#include "host/module.h"
#include "platform/desktop.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/service.h"
#include "platform/text.h"

namespace {

using platform::RegistryRoot;

const std::wstring kAppIdKey = std::wstring(L"AppID\\") + kAppId;
const std::wstring kExeKey = L"AppID\\KelvaneHTTPAgent.EXE";

// The word test of the registration pass: after a '-' or '/', the word in any
// letter case, then the end, a blank or a tab.
bool WordAt(const std::wstring& line, std::size_t at, const wchar_t* word) {
  std::size_t i = 0;
  for (; word[i] != 0; ++i) {
    if (at + i >= line.size() ||
        platform::UpperCaseChar(line[at + i]) != platform::UpperCaseChar(word[i])) {
      return false;
    }
  }
  return at + i == line.size() || line[at + i] == L' ' || line[at + i] == L'\t';
}

bool FindWord(const std::wstring& line, const wchar_t* word) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if ((line[i] == L'-' || line[i] == L'/') && WordAt(line, i + 1, word)) return true;
  }
  return false;
}

}  // namespace

void CKelvaneHTTPAgentModule::ShowServiceMessage(unsigned id, const wchar_t* text) const {
  platform::ShowMessage(service_name_, platform::ResourceString(id, text));
}

bool CKelvaneHTTPAgentModule::HandleRegistrationSwitches(const std::wstring& line,
                                                         std::uint32_t& result) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != L'-' && line[i] != L'/') continue;
    if (WordAt(line, i + 1, L"UnregServer")) return result = UnregisterAgent(), true;
    if (WordAt(line, i + 1, L"RegServer")) return result = RegisterAgent(false), true;
    if (WordAt(line, i + 1, L"UnregServerPerUser")) {
      per_user_ = true;
      return result = UnregisterAgent(), true;
    }
    if (WordAt(line, i + 1, L"RegServerPerUser")) {
      per_user_ = true;
      return result = RegisterAgent(false), true;
    }
  }
  if (FindWord(line, L"Service")) return result = RegisterAgent(true), true;
  return false;
}

std::uint32_t CKelvaneHTTPAgentModule::RunRegistrationScript(bool remove) {
  RegistryRoot root = per_user_ ? RegistryRoot::CurrentUserClasses : RegistryRoot::ClassesRoot;
  if (remove) {
    for (const std::wstring& key : {kAppIdKey, kExeKey}) {
      std::uint32_t rc = platform::RegistryDeleteKey(root, key);
      // Missing keys are gone already; keys that still have subkeys stay.
      if (rc != 0 && rc != 2 && rc != 39 /* ENOTEMPTY */ && rc != 5) return ResultFromError(rc);
    }
    return 0;
  }
  if (std::uint32_t rc = platform::RegistrySetString(root, kAppIdKey, L"", L"KelvaneHTTPAgent")) {
    return ResultFromError(rc);
  }
  if (std::uint32_t rc = platform::RegistrySetString(root, kExeKey, L"AppID", kAppId)) {
    return ResultFromError(rc);
  }
  return 0;
}

std::uint32_t CKelvaneHTTPAgentModule::RegisterAgent(bool as_service) {
  if (!RemoveService()) return kResultFail;
  if (std::uint32_t rc = RunRegistrationScript(false)) return rc;
  if (std::uint32_t rc = platform::RegistryCreateKey(RegistryRoot::ClassesRoot, kAppIdKey)) {
    return ResultFromError(rc);
  }
  platform::RegistryDeleteValue(RegistryRoot::ClassesRoot, kAppIdKey, L"LocalService");
  if (!as_service) return 0;
  if (std::uint32_t rc = platform::RegistrySetString(RegistryRoot::ClassesRoot, kAppIdKey,
                                                     L"LocalService", service_name_)) {
    return ResultFromError(rc);
  }
  if (InstallService()) return 0;
  // Without the service, the value would send every later start down the
  // service path (and refuse -setport) for a service that does not exist.
  platform::RegistryDeleteValue(RegistryRoot::ClassesRoot, kAppIdKey, L"LocalService");
  return kResultFail;
}

std::uint32_t CKelvaneHTTPAgentModule::UnregisterAgent() {
  if (!RemoveService()) return kResultFail;
  if (std::uint32_t rc = platform::RegistryKeyExists(RegistryRoot::ClassesRoot, kAppIdKey)) {
    return ResultFromError(rc);
  }
  platform::RegistryDeleteValue(RegistryRoot::ClassesRoot, kAppIdKey, L"LocalService");
  return RunRegistrationScript(true);
}

bool CKelvaneHTTPAgentModule::InstallService() {
  if (platform::ServiceExists(service_name_)) return true;
  std::wstring exe = platform::ExecutablePath();
  if (exe.empty() || exe.size() >= 260) return false;
  switch (platform::CreateAgentService(service_name_, L"\"" + exe + L"\"")) {
    case platform::ServiceResult::Ok:
      return true;
    case platform::ServiceResult::ManagerUnavailable:
      ShowServiceMessage(55306, L"Could not open Service Manager");
      return false;
    default:
      ShowServiceMessage(55307, L"Could not start service");
      return false;
  }
}

bool CKelvaneHTTPAgentModule::RemoveService() {
  if (!platform::ServiceExists(service_name_)) return true;
  bool stop_failed = false;
  platform::ServiceResult result = platform::DeleteAgentService(service_name_, stop_failed);
  if (stop_failed) {
    ShowServiceMessage(55310, L"Could not stop service");
  }
  switch (result) {
    case platform::ServiceResult::Ok:
      return true;
    case platform::ServiceResult::ManagerUnavailable:
      ShowServiceMessage(55306, L"Could not open Service Manager");
      return false;
    case platform::ServiceResult::OpenFailed:
      ShowServiceMessage(55308, L"Could not open service");
      return false;
    default:
      ShowServiceMessage(55309, L"Could not delete service");
      return false;
  }
}
