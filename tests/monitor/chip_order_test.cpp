// Chip identifiers (node_exporter's rule) and the order they give: the same
// hardware keeps its positions whatever hwmonN numbers a boot hands out.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "monitor/hwmon_reader.h"
#include "monitor/snapshot_builder.h"
#include "tests/support/temp_dir.h"

namespace {

// Windows has no kernel sensors, and its folders no links to make them.
#ifndef _WIN32

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteFile;

// A sysfs-like tree whose chips have `device` links to folders under
// sys/devices, as the kernel makes them.
class LinkedTree {
 public:
  fs::path root() const { return dir_ / "class" / "hwmon"; }
  // hwmonN with a `device` link to sys/devices/`device` (none when empty)
  // and a name file (none when empty); returns the chip's folder.
  fs::path AddChip(int number, const std::string& device, const std::string& name) {
    const fs::path chip = root() / ("hwmon" + std::to_string(number));
    fs::create_directories(chip);
    if (!device.empty()) {
      fs::create_directories(dir_ / "sys" / "devices" / device);
      fs::create_directory_symlink(dir_ / "sys" / "devices" / device, chip / "device");
    }
    if (!name.empty()) WriteFile(chip / "name", name + "\n");
    return chip;
  }

 private:
  TempDir dir_;
};

std::vector<std::string> Ids(const std::vector<HwmonInput>& inputs) {
  std::vector<std::string> ids;
  for (const HwmonInput& input : inputs) ids.push_back(input.chip_id + ":" + input.input);
  return ids;
}

TEST(ChipOrder, NodeExporterIdentifiers) {
  LinkedTree tree;
  struct Case {
    const char* device;
    const char* name;
    const char* id;
  } cases[] = {
      {"platform/coretemp.0", "coretemp", "platform_coretemp_0"},
      {"pci0000:00/0000:00:18.3", "k10temp", "pci0000:00_0000:00:18_3"},
      {"platform/Nct6775.656", "nct6775", "platform_nct6775_656"},
      {"", "acpitz", "acpitz"},
      {"", "My Chip-2", "my_chip_2"},
      {"", "", "hwmon5"},
  };
  int number = 0;
  for (const Case& c : cases) {
    const fs::path chip = tree.AddChip(number, c.device, c.name);
    EXPECT_EQ(ChipId(chip, c.name, number), c.id) << c.device << " " << c.name;
    ++number;
  }
  EXPECT_EQ(ChipId(tree.root() / "hwmon99", "", 5), "hwmon5");
}

TEST(ChipOrder, ShuffledNumbersGiveTheSamePositionsAndNames) {
  const auto build = [](LinkedTree& tree, int coretemp, int nvme, int nct) {
    WriteFile(tree.AddChip(coretemp, "platform/coretemp.0", "coretemp") / "temp1_input", "40000\n");
    WriteFile(tree.AddChip(nvme, "pci0000:00/0000:01:00.0/nvme/nvme0", "nvme") / "temp1_input",
              "35000\n");
    const fs::path board = tree.AddChip(nct, "platform/nct6775.656", "nct6775");
    WriteFile(board / "temp1_input", "30000\n");
    WriteFile(board / "fan1_input", "900\n");
  };
  LinkedTree first, second;
  build(first, 0, 1, 2);
  build(second, 5, 0, 3);
  const HwmonReadings a = ReadHwmon(first.root());
  const HwmonReadings b = ReadHwmon(second.root());
  const std::vector<std::string> expected = {"nvme_nvme0:temp1", "platform_coretemp_0:temp1",
                                             "platform_nct6775_656:temp1"};
  EXPECT_EQ(Ids(a.temps), expected);
  EXPECT_EQ(Ids(b.temps), expected);
  EXPECT_EQ(BuildHwmonNames(a), BuildHwmonNames(b));
  EXPECT_EQ(a.temps[0].value, 3500);
}

TEST(ChipOrder, TwoChipsOnOneDeviceKeepTheirNumberOrderAndGetSuffixes) {
  LinkedTree tree;
  WriteFile(tree.AddChip(7, "platform/dell_smm_hwmon", "dell_smm") / "fan1_input", "1000\n");
  WriteFile(tree.AddChip(3, "platform/dell_smm_hwmon", "dell_smm") / "fan1_input", "2000\n");
  WriteFile(tree.AddChip(9, "platform/dell_smm_hwmon", "dell_smm") / "fan1_input", "3000\n");
  const HwmonReadings r = ReadHwmon(tree.root());
  EXPECT_EQ(Ids(r.fans), (std::vector<std::string>{"platform_dell_smm_hwmon:fan1",
                                                   "platform_dell_smm_hwmon_1:fan1",
                                                   "platform_dell_smm_hwmon_2:fan1"}));
  EXPECT_EQ(r.fans[0].value, 2000);  // hwmon3 first
  EXPECT_EQ(r.fans[2].value, 3000);
}

#endif

}  // namespace
