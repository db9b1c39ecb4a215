#pragma once
// A tree laid out like /sys/class/hwmon in a temporary folder: the chips live
// under devices/ and the class folder links to them (hwmonN ->
// ../../devices/platform/NAME/hwmon/hwmonN), as the kernel makes them. Where
// links cannot be made (Windows), the chips are plain folders. Test support.
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/temp_dir.h"

namespace testing_support {

class HwmonTree {
 public:
  HwmonTree() { std::filesystem::create_directories(root()); }
  std::filesystem::path root() const { return dir_ / "class" / "hwmon"; }

  // Makes hwmonN (with a "name" file unless `name` is empty) and returns the
  // folder its attribute files go in (the chip's or its device/ folder).
  std::filesystem::path AddChip(int number, const std::string& name, bool in_device = false) {
    const std::string chip = "hwmon" + std::to_string(number);
    std::filesystem::path real = dir_ / "devices" / "platform" / (name + chip) / "hwmon" / chip;
    std::filesystem::create_directories(real / "device");
    std::error_code error;
    std::filesystem::create_directory_symlink(std::filesystem::path("..") / ".." / "devices" /
                                                  "platform" / (name + chip) / "hwmon" / chip,
                                              root() / chip, error);
    if (error) {
      real = root() / chip;
      std::filesystem::create_directories(real / "device");
    }
    std::filesystem::path files = in_device ? real / "device" : real;
    if (!name.empty()) WriteFile(files / "name", name + "\n");
    return files;
  }
  void RemoveChip(int number) {
    std::filesystem::remove_all(root() / ("hwmon" + std::to_string(number)));
  }
  static void Set(const std::filesystem::path& folder, const std::string& file,
                  const std::string& text) {
    WriteFile(folder / file, text);
  }

 private:
  TempDir dir_;
};

}  // namespace testing_support
