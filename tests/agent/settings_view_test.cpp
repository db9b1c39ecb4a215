// The settings as answers see them: kept while the file is unchanged, and
// read again at the first look after any change.
#include "agent/settings_view.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

TEST(SettingsView, KeptWhileUnchangedAndReadAgainAfterAChange) {
  TempDir dir;
  const auto file = dir / "agent.ini";
  WriteFile(file, "[Settings]\r\nPort=8200\r\n[Labels]\r\nTemperature1=CPU\r\n");
  SettingsViewCache cache(0);  // every change settled at once
  const auto first = cache.Current(file.wstring());
  EXPECT_EQ(first->stored.port, 8200);
  EXPECT_EQ(first->label_lines, std::vector<std::string>{"Temperature1=CPU"});
  EXPECT_EQ(cache.Current(file.wstring()), first);  // not read again

  WriteFile(file,
            "[Settings]\r\nPort=8201\r\nCanLaunch=1\r\n[Labels]\r\nTemperature1=GPU core\r\n"
            "[Limits]\r\nTemperature1=critical 90\r\n");
  const auto second = cache.Current(file.wstring());
  EXPECT_EQ(second->stored.port, 8201);
  EXPECT_TRUE(second->stored.can_launch);
  EXPECT_EQ(second->label_lines, std::vector<std::string>{"Temperature1=GPU core"});
  EXPECT_FALSE(second->limits.empty);

  std::filesystem::remove(file);
  EXPECT_EQ(cache.Current(file.wstring())->stored.port, kDefaultPort);
}

TEST(SettingsView, AFileJustChangedIsReadAtEveryLook) {
  TempDir dir;
  const auto file = dir / "agent.ini";
  WriteFile(file, "[Settings]\r\nPort=8200\r\n");
  SettingsViewCache cache;  // the file changed well within the settling time
  const auto first = cache.Current(file.wstring());
  EXPECT_NE(cache.Current(file.wstring()), first);
}

}  // namespace
