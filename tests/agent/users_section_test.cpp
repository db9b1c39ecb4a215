#include "agent/users_section.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

TEST(UsersSectionTest, ReadsTheSectionAndNothingWithoutIt) {
  TempDir dir;
  const auto ini = dir / "agent.ini";
  WriteFile(ini, "[Settings]\r\nPort=8167\r\n[TLS]\r\nCertFile=a.pem\r\n");
  const UsersLoad none = ReadUsersSectionFrom(ini.wstring());
  EXPECT_TRUE(none.users.empty());
  EXPECT_TRUE(none.errors.empty());

  WriteFile(ini,
            "[Settings]\r\nPort=8167\r\n[Users]\r\n; made by htpasswd\r\n"
            "alice=$2y$04$z1Aq2gLKzKUD9OeEIEwhtO92oPxDLxGp4uhsg81z7d7.hn05w.Kcu\r\nbob=\r\n");
  const UsersLoad users = ReadUsersSectionFrom(ini.wstring());
  ASSERT_EQ(users.users.size(), 1u);
  EXPECT_EQ(users.users[0].name, "alice");
  ASSERT_EQ(users.errors.size(), 1u);
  EXPECT_NE(users.errors[0].find(L"\"bob\" has no password hash"), std::wstring::npos);
}

}  // namespace
