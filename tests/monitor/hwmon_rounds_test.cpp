// Refreshes after the first read only the values (and every tenth the
// limits) from files kept open, and read the tree whole when it changes.
#include "monitor/hwmon_rounds.h"

#include <gtest/gtest.h>

#include "tests/monitor/hwmon_fixture.h"

namespace {

using testing_support::HwmonTree;

TEST(HwmonRounds, ValuesEachRoundLimitsEveryTenthAndTheTreeWhenItChanges) {
  HwmonTree tree;
  const auto chip = tree.AddChip(0, "chip");
  HwmonTree::Set(chip, "temp1_input", "40000\n");
  HwmonTree::Set(chip, "temp1_label", "Package\n");
  HwmonTree::Set(chip, "temp1_max", "80000\n");
  HwmonRounds rounds(tree.root(), nullptr);
  HwmonReadings r = rounds.Next();
  ASSERT_EQ(r.temps.size(), 1u);
  EXPECT_EQ(r.temps[0].label, "Package");

  // Changed in place, as sysfs values change: the value at once, the label
  // (fixed for a driver) not, the limit within ten refreshes.
  HwmonTree::Set(chip, "temp1_input", "41000\n");
  HwmonTree::Set(chip, "temp1_label", "Other\n");
  HwmonTree::Set(chip, "temp1_max", "70000\n");
  r = rounds.Next();
  EXPECT_EQ(r.temps.at(0).value, 4100);
  EXPECT_EQ(r.temps[0].label, "Package");
  EXPECT_EQ(r.temps[0].limits.at(0).second, 80);
  for (int i = 2; i < HwmonRounds::kLimitsEveryRounds; ++i) r = rounds.Next();
  EXPECT_EQ(r.temps.at(0).limits.at(0).second, 70);

  // A new input changes the chip's folder: the tree is read whole again.
  HwmonTree::Set(chip, "temp2_input", "30000\n");
  r = rounds.Next();
  ASSERT_EQ(r.temps.size(), 2u);
  EXPECT_EQ(r.temps[0].label, "Other");
  std::filesystem::remove(chip / "temp1_input");
  r = rounds.Next();
  ASSERT_EQ(r.temps.size(), 1u);
  EXPECT_EQ(r.temps[0].input, "temp2");
}

TEST(HwmonRounds, AValueThatCannotBeReadIsLeftOutThatRound) {
  HwmonTree tree;
  const auto chip = tree.AddChip(0, "chip");
  HwmonTree::Set(chip, "temp1_input", "40000\n");
  HwmonTree::Set(chip, "temp2_input", "50000\n");
  HwmonRounds rounds(tree.root(), nullptr);
  EXPECT_EQ(rounds.Next().temps.size(), 2u);
  HwmonTree::Set(chip, "temp1_input", "garbage\n");
  const HwmonReadings r = rounds.Next();
  ASSERT_EQ(r.temps.size(), 1u);
  EXPECT_EQ(r.temps[0].value, 5000);
  HwmonTree::Set(chip, "temp1_input", "42000\n");
  EXPECT_EQ(rounds.Next().temps.size(), 2u);
}

}  // namespace
