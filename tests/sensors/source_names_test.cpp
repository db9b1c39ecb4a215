// The names our monitor publishes beside the block: the text, and how it
// travels with the block.
#include "sensors/source_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/shared_memory.h"
#include "sensors/attach.h"

namespace {

SourceNames Example() {
  SourceNames names;
  names.kinds[0] = {{"platform_coretemp_0", "coretemp", "temp1", "Package id 0"},
                    {"pci0000:00_0000:00:18_3", "k10temp", "temp2", ""}};
  names.kinds[2] = {{"nct6775", "nct6775", "in0", "Vcore"}};
  return names;
}

TEST(SourceNames, FormatAndParseRoundTrip) {
  const std::string text = FormatSourceNames(Example());
  EXPECT_EQ(text,
            "kelvane-names 1\n"
            "temperature\tplatform_coretemp_0\tcoretemp\ttemp1\tPackage id 0\n"
            "temperature\tpci0000:00_0000:00:18_3\tk10temp\ttemp2\t\n"
            "voltage\tnct6775\tnct6775\tin0\tVcore\n");
  SourceNames parsed;
  ASSERT_TRUE(ParseSourceNames(text, parsed));
  EXPECT_EQ(parsed.kinds[0].size(), 2u);
  EXPECT_EQ(parsed.kinds[1].size(), 0u);
  EXPECT_EQ(parsed.kinds[0][0].label, "Package id 0");
  EXPECT_EQ(parsed.kinds[2][0].chip_name, "nct6775");
  SourceNames dirty;
  dirty.kinds[1] = {{"a\tb", "c\nd", "e\rf", "g\x01h"}};
  ASSERT_TRUE(ParseSourceNames(FormatSourceNames(dirty), parsed));
  EXPECT_EQ(parsed.kinds[1][0].chip, "ab");
  EXPECT_EQ(parsed.kinds[1][0].label, "gh");
}

TEST(SourceNames, AnythingMalformedIsNoNamesAtAll) {
  const std::string good = FormatSourceNames(Example());
  const std::string cases[] = {
      "",
      "kelvane-names 3\n",
      "garbage\n",
      good.substr(0, good.size() - 1),                  // cut short: no final line break
      good.substr(0, good.size() / 2),                  // cut in the middle
      "kelvane-names 1\ntemperature\ta\tb\tc\n",        // four fields
      "kelvane-names 1\ntemperature\ta\tb\tc\td\te\n",  // six fields
      "kelvane-names 1\nhumidity\ta\tb\tc\td\n",
      "kelvane-names 1\nvoltage\ta\tb\tc\td\ntemperature\ta\tb\tc\td\n",  // out of order
      "kelvane-names 1\nfan\ta\x01\tb\tc\td\n",
      "kelvane-names 1\n" + std::string(10 * 1024 * 1024, 'x') + "\n",  // 10 MB
  };
  for (const std::string& text : cases) {
    SourceNames parsed = Example();
    EXPECT_FALSE(ParseSourceNames(text, parsed)) << text.substr(0, 80);
    for (const auto& kind : parsed.kinds) EXPECT_TRUE(kind.empty());
  }
}

#ifndef _WIN32
TEST(SourceNames, TravelWithTheirBlockAndNothingOversizedIsRead) {
  SensorSnapshot block;
  std::memset(&block, 0, sizeof block);
  block.version = 1;
  block.memSize = kSnapshotSize;
  block.numTemps = 2;
  platform::SharedMemoryWriter writer;
  std::string why;
  ASSERT_TRUE(writer.CreateExclusive(kSnapshotName, kSnapshotSize, why)) << why;
  const std::string names = FormatSourceNames(Example());
  writer.Publish(&block, sizeof block, names);
  CWString error;
  std::string read;
  ASSERT_NE(AttachSensorSnapshot(L"/nowhere/kelvane", error, &read), nullptr);
  EXPECT_EQ(read, names);
  writer.Publish(&block, sizeof block, "");
  ASSERT_NE(AttachSensorSnapshot(L"/nowhere/kelvane", error, &read), nullptr);
  EXPECT_EQ(read, "");
  // A length field that claims 10 MB (a hostile or broken writer): no names.
  writer.Publish(&block, sizeof block, names);
  const std::filesystem::path object = "/dev/shm/KVSharedMemory_ORB";
  const auto size = std::filesystem::file_size(object);
  {
    std::fstream raw(object, std::ios::in | std::ios::out | std::ios::binary);
    const std::uint64_t huge = 10 * 1024 * 1024;
    raw.seekp(static_cast<std::streamoff>(size - 32));  // the trailer's first word
    raw.write(reinterpret_cast<const char*>(&huge), sizeof huge);
  }
  const SensorSnapshot* view = AttachSensorSnapshot(L"/nowhere/kelvane", error, &read);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::uint16_t{view->numTemps}, 2);
  EXPECT_EQ(read, "");
  ReleaseSnapshot(TheSnapshotState());
}
#endif

}  // namespace

namespace {

// Driver limits travel with the names, in a second version of the text that
// is written only when some entry has them.
TEST(SourceNames, LimitsMakeTheSecondVersionAndReadBack) {
  SourceNames names;
  names.kinds[0].push_back({"platform_coretemp_0",
                            "coretemp",
                            "temp1",
                            "Package id 0",
                            {{"max", 80}, {"crit", 95.5}, {"crit_alarm", 0}}});
  names.kinds[1].push_back({"platform_it87_552", "it87", "fan1", "", {}});
  const std::string text = FormatSourceNames(names);
  EXPECT_EQ(text.substr(0, 16), "kelvane-names 2\n");
  SourceNames parsed;
  ASSERT_TRUE(ParseSourceNames(text, parsed)) << text;
  EXPECT_EQ(parsed.kinds[0][0].limits, names.kinds[0][0].limits);
  EXPECT_TRUE(parsed.kinds[1][0].limits.empty());
  names.kinds[0][0].limits.clear();
  EXPECT_EQ(FormatSourceNames(names).substr(0, 16), "kelvane-names 1\n");
  EXPECT_FALSE(ParseSourceNames("kelvane-names 2\ntemperature\ta\tb\tc\td\tmax=x\n", parsed));
}

}  // namespace
