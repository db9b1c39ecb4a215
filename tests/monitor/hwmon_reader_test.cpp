// The hwmon reader against sysfs-like fixture trees, the block built from its
// readings, and the names reported for them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/hwmon_reader.h"
#include "monitor/snapshot_builder.h"
#include "tests/monitor/hwmon_fixture.h"

namespace {

using testing_support::HwmonTree;

std::vector<std::string> Names(const std::vector<HwmonInput>& inputs) {
  std::vector<std::string> names;
  for (const HwmonInput& input : inputs) {
    names.push_back(input.chip_name + ":" + input.input + "=" + std::to_string(input.value));
  }
  return names;
}

TEST(SysfsValues, IntegersAndConversions) {
  struct Case {
    const char* text;
    bool ok;
    long long value;
  } cases[] = {{"45000\n", true, 45000}, {"-12500\n", true, -12500},
               {"0", true, 0},           {"  \n", false, 0},
               {"", false, 0},           {"abc\n", false, 0},
               {"12a\n", false, 0},      {"+5\n", false, 0},
               {"1.5\n", false, 0},      {"99999999999999999999\n", false, 0}};
  for (const Case& c : cases) {
    long long value = 0;
    EXPECT_EQ(ParseSysfsInteger(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  struct Rounding {
    long long thousandths;
    std::int32_t hundredths;
  } rounding[] = {{45625, 4563}, {45624, 4562}, {-12345, -1235}, {-12344, -1234},
                  {1200, 120},   {4, 0},        {5, 1},          {-5, -1}};
  for (const Rounding& r : rounding) {
    std::int32_t out = 0;
    EXPECT_TRUE(ThousandthsToHundredths(r.thousandths, out));
    EXPECT_EQ(out, r.hundredths) << r.thousandths;
  }
  std::int32_t out = 0;
  EXPECT_FALSE(ThousandthsToHundredths(30000000000LL, out));
  EXPECT_FALSE(ThousandthsToHundredths(-9223372036854775807LL - 1, out));
}

TEST(HwmonReader, ChipsAndChannelsInNumericOrderEachKindItsOwnList) {
  HwmonTree tree;
  auto ten = tree.AddChip(10, "nct6775");
  HwmonTree::Set(ten, "temp10_input", "30000\n");
  HwmonTree::Set(ten, "temp2_input", "-5500\n");
  HwmonTree::Set(ten, "fan1_input", "1250\n");
  HwmonTree::Set(ten, "in0_input", "1192\n");
  HwmonTree::Set(ten, "in10_input", "3344\n");
  HwmonTree::Set(ten, "temp2_label", "SYSTIN\n");
  auto two = tree.AddChip(2, "coretemp");
  HwmonTree::Set(two, "temp1_input", "45000\n");
  HwmonTree::Set(two, "temp1_label", "Package id 0\n");
  HwmonTree::Set(two, "temp1_max", "100000\n");  // not an input
  auto old = tree.AddChip(3, "it87", /*in_device=*/true);
  HwmonTree::Set(old, "fan2_input", "980\n");
  HwmonTree::Set(old, "in1_input", "5016\n");

  HwmonReadings r = ReadHwmon(tree.root());
  EXPECT_EQ(Names(r.temps), (std::vector<std::string>{"coretemp:temp1=4500", "nct6775:temp2=-550",
                                                      "nct6775:temp10=3000"}));
  EXPECT_EQ(Names(r.fans), (std::vector<std::string>{"it87:fan2=980", "nct6775:fan1=1250"}));
  EXPECT_EQ(Names(r.volts),
            (std::vector<std::string>{"it87:in1=502", "nct6775:in0=119", "nct6775:in10=334"}));
  EXPECT_EQ(r.temps[0].label, "Package id 0");
  EXPECT_EQ(DescribeReadings(r)[0], "Temperature 1 = coretemp temp1 \"Package id 0\"");
  EXPECT_EQ(DescribeReadings(r)[3], "Fan 1 = it87 fan2");
  EXPECT_EQ(DescribeReadings(r)[5], "Voltage 1 = it87 in1");
}

TEST(HwmonReader, UnreadableValuesAreLeftOutNeverZero) {
  HwmonTree tree;
  auto chip = tree.AddChip(0, "");
  HwmonTree::Set(chip, "temp1_input", "");
  HwmonTree::Set(chip, "temp2_input", "N/A\n");
  HwmonTree::Set(chip, "temp3_input", "41000\n");
  std::filesystem::create_directories(chip / "temp4_input");  // cannot be read as a file
  HwmonTree::Set(chip, "fan1_input", "99999999999\n");        // beyond the block's field
  HwmonTree::Set(chip, "tempX_input", "1\n");
  HwmonTree::Set(chip, "temp_input", "1\n");
  HwmonReadings r = ReadHwmon(tree.root());
  EXPECT_EQ(Names(r.temps), (std::vector<std::string>{"hwmon0:temp3=4100"}));
  EXPECT_TRUE(r.fans.empty());
}

TEST(HwmonReader, MissingOrEmptyTreesGiveNoReadings) {
  HwmonTree tree;
  EXPECT_TRUE(ReadHwmon(tree.root()).Empty());
  EXPECT_TRUE(ReadHwmon(tree.root() / "missing").Empty());
  tree.AddChip(1, "acpitz");  // a chip without inputs
  std::filesystem::create_directories(tree.root() / "hwmonX");
  EXPECT_TRUE(ReadHwmon(tree.root()).Empty());
}

TEST(HwmonReader, FortyTemperaturesPublishThirtyTwo) {
  HwmonTree tree;
  auto chip = tree.AddChip(0, "big");
  for (int i = 1; i <= 40; ++i) {
    HwmonTree::Set(chip, "temp" + std::to_string(i) + "_input", std::to_string(i * 1000) + "\n");
  }
  HwmonReadings r = ReadHwmon(tree.root());
  ASSERT_EQ(r.temps.size(), 40u);
  SensorSnapshot block = BuildHwmonSnapshot(r);
  EXPECT_TRUE(IsValidSnapshot(block));
  EXPECT_EQ(static_cast<int>(block.numTemps), 32);
  EXPECT_EQ(static_cast<int>(block.numFans), 0);
  EXPECT_EQ(static_cast<int>(block.temps[0]), 100);
  EXPECT_EQ(static_cast<int>(block.temps[31]), 3200);
  EXPECT_EQ(DescribeReadings(r).size(), 32u);
}

TEST(HwmonReader, ChipsThatComeAndGoArePickedUpAtTheNextRound) {
  HwmonTree tree;
  HwmonTree::Set(tree.AddChip(0, "first"), "temp1_input", "20000\n");
  HwmonTree::Set(tree.AddChip(1, "second"), "temp1_input", "30000\n");
  EXPECT_EQ(Names(ReadHwmon(tree.root()).temps),
            (std::vector<std::string>{"first:temp1=2000", "second:temp1=3000"}));
  tree.RemoveChip(0);
  HwmonTree::Set(tree.AddChip(4, "third"), "temp1_input", "40000\n");
  EXPECT_EQ(Names(ReadHwmon(tree.root()).temps),
            (std::vector<std::string>{"second:temp1=3000", "third:temp1=4000"}));
}

using Limits = std::vector<std::pair<std::string, double>>;

TEST(HwmonReader, LimitsInNaturalUnitsOnlyThoseThatParse) {
  HwmonTree tree;
  const auto chip = tree.AddChip(0, "chip");
  HwmonTree::Set(chip, "temp1_input", "40000\n");
  HwmonTree::Set(chip, "temp1_crit", "95000\n");
  HwmonTree::Set(chip, "temp1_max", "80000\n");
  HwmonTree::Set(chip, "temp1_crit_alarm", "1\n");
  HwmonTree::Set(chip, "fan1_input", "900\n");
  HwmonTree::Set(chip, "fan1_min", "300\n");
  HwmonTree::Set(chip, "fan1_max", "not a number\n");
  const HwmonReadings r = ReadHwmon(tree.root());
  EXPECT_EQ(r.temps.at(0).limits, (Limits{{"max", 80}, {"crit", 95}, {"crit_alarm", 1}}));
  EXPECT_EQ(r.fans.at(0).limits, (Limits{{"min", 300}}));
}

TEST(HwmonSnapshot, EmptyReadingsGiveAValidBlockWithZeroCounts) {
  SensorSnapshot block = BuildHwmonSnapshot(HwmonReadings{});
  EXPECT_TRUE(IsValidSnapshot(block));
  EXPECT_EQ(block.numTemps + block.numFans + block.numVolts, 0);
  EXPECT_TRUE(DescribeReadings(HwmonReadings{}).empty());
}

}  // namespace
