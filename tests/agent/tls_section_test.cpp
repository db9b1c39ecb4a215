#include "agent/tls_section.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

TEST(TlsSectionTest, RelativePathsAreBesideTheExecutable) {
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

TEST(TlsSectionTest, ReadsTheSectionAndNothingWithoutIt) {
  TempDir dir;
  const auto ini = dir / "agent.ini";
  const std::wstring exe = (dir / "KelvaneHTTPAgent").wstring();
  WriteFile(ini, "[Settings]\r\nPort=8167\r\n");
  EXPECT_FALSE(ReadTlsSectionFrom(ini.wstring(), exe).wanted);

  WriteFile(ini,
            "[Settings]\r\nPort=8167\r\n[TLS]\r\nCertFile=agent.pem\r\nKeyFile=agent.key\r\n"
            "MinVersion=1.2\r\n[Users]\r\nalice=x\r\n");
  const TlsSection tls = ReadTlsSectionFrom(ini.wstring(), exe);
  EXPECT_TRUE(tls.wanted);
  EXPECT_EQ(tls.files.cert_file, (dir / "agent.pem").wstring());
  EXPECT_EQ(tls.files.key_file, (dir / "agent.key").wstring());
  EXPECT_EQ(tls.files.client_ca_file, L"");
  EXPECT_EQ(tls.files.min_version, L"1.2");

  // A lone ClientCAFile still asks for TLS, so that its missing files are
  // reported instead of serving plain HTTP.
  WriteFile(ini, "[TLS]\r\nClientCAFile=ca.pem\r\n");
  EXPECT_TRUE(ReadTlsSectionFrom(ini.wstring(), exe).wanted);
}

}  // namespace
