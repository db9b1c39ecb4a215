#include "agent/access_settings.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

TEST(AccessSettingsTest, RelativePathsAreBesideTheExecutable) {
  const std::wstring sep(1, platform::kDirSeparator);
  const std::wstring exe = sep + L"opt" + sep + L"agent" + sep + L"KelvaneHTTPAgent";
  const std::wstring dir = sep + L"opt" + sep + L"agent" + sep;
  struct Case {
    std::wstring path, expected;
  } cases[] = {
      {L"agent.pem", dir + L"agent.pem"},
      {L"certs" + sep + L"agent.pem", dir + L"certs" + sep + L"agent.pem"},
      {L"/etc/agent.pem", L"/etc/agent.pem"},
      {L"\\\\server\\share\\agent.pem", L"\\\\server\\share\\agent.pem"},
      {L"C:\\certs\\agent.pem", L"C:\\certs\\agent.pem"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BesideExecutable(c.path, exe), c.expected);
  }
}

TEST(AccessSettingsTest, ReadsBothSectionsAndNothingWithoutThem) {
  TempDir dir;
  const auto ini = dir / "agent.ini";
  const std::wstring exe = (dir / "KelvaneHTTPAgent").wstring();
  WriteFile(ini, "[Settings]\r\nPort=8167\r\n");
  AccessSettings none = ReadAccessSettingsFrom(ini.wstring(), exe);
  EXPECT_FALSE(none.tls_wanted);
  EXPECT_TRUE(none.users.users.empty());
  EXPECT_TRUE(none.users.errors.empty());

  WriteFile(ini,
            "[Settings]\r\nPort=8167\r\n[TLS]\r\nCertFile=agent.pem\r\nKeyFile=agent.key\r\n"
            "MinVersion=1.2\r\n[Users]\r\n; made by htpasswd\r\n"
            "alice=$2y$04$z1Aq2gLKzKUD9OeEIEwhtO92oPxDLxGp4uhsg81z7d7.hn05w.Kcu\r\nbob=\r\n");
  AccessSettings both = ReadAccessSettingsFrom(ini.wstring(), exe);
  EXPECT_TRUE(both.tls_wanted);
  EXPECT_EQ(both.tls.cert_file, (dir / "agent.pem").wstring());
  EXPECT_EQ(both.tls.key_file, (dir / "agent.key").wstring());
  EXPECT_EQ(both.tls.client_ca_file, L"");
  EXPECT_EQ(both.tls.min_version, L"1.2");
  ASSERT_EQ(both.users.users.size(), 1u);
  EXPECT_EQ(both.users.users[0].name, "alice");
  ASSERT_EQ(both.users.errors.size(), 1u);
  EXPECT_NE(both.users.errors[0].find(L"\"bob\" has no password hash"), std::wstring::npos);

  // A lone ClientCAFile still asks for TLS, so that its missing files are
  // reported instead of serving plain HTTP.
  WriteFile(ini, "[TLS]\r\nClientCAFile=ca.pem\r\n");
  EXPECT_TRUE(ReadAccessSettingsFrom(ini.wstring(), exe).tls_wanted);
}

}  // namespace
