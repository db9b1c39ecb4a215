#pragma once
// Reads the kernel's hardware sensors as sysfs publishes them: a root folder
// (normally /sys/class/hwmon) holding one folder per chip, hwmon0, hwmon1, ...
// Each chip has tempN_input (millidegrees Celsius), fanN_input (RPM) and
// inN_input (millivolts), optional tempN_label and friends, and its name in
// "name"; older drivers keep these files in the chip's device/ folder instead.
//
// Plain standard-library file access: no state, safe on any thread. A missing
// root, chip or file, and a value that does not parse, are left out.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class SensorKind { Temperature, Fan, Voltage };

struct HwmonInput {
  SensorKind kind;
  int chip;                  // N of hwmonN
  std::string chip_name;     // the chip's "name" file, or "hwmonN" without one
  std::string input;         // "temp1", "fan2", "in0"
  std::string label;         // the driver's label, empty without one
  std::int32_t value;        // in the block's units: 1/100 degree, RPM, 1/100 volt
  std::string chip_id = {};  // node_exporter's chip identifier (see ChipId), unique per chip
  // The driver's limits and flags beside the input ("max", "crit",
  // "crit_hyst", "min", "alarm", ...: the attribute's name after "temp1_"),
  // in natural units: degrees Celsius, RPM, volts; flags 0 or 1. Those it
  // has, in the order of LimitAttributes.
  std::vector<std::pair<std::string, double>> limits = {};
  std::filesystem::path folder = {};  // where its files are (the chip's, or its device/)
};

// The limit and flag attributes read beside each input of a kind.
const std::vector<std::string>& LimitAttributes(SensorKind kind);

// Each kind in its own list, chips by their identifier (the same hardware
// keeps its place whatever hwmonN numbers the kernel gave this boot; two
// chips with one identifier by number), then inputs by channel number.
struct HwmonReadings {
  std::vector<HwmonInput> temps;
  std::vector<HwmonInput> fans;
  std::vector<HwmonInput> volts;

  bool Empty() const { return temps.empty() && fans.empty() && volts.empty(); }
};

// Reads one attribute file: its text, or nullopt when it cannot be read.
using AttributeRead = std::function<std::optional<std::string>(const std::filesystem::path&)>;

// Every attribute read goes through `read` (the monitor gives each read a
// deadline); without one, files are read directly.
HwmonReadings ReadHwmon(const std::filesystem::path& root, const AttributeRead& read = {});

// An input file's text as the block's value (1/100 degree, RPM, 1/100 volt);
// nullopt when it does not parse or fit.
std::optional<std::int32_t> ValueFromText(SensorKind kind, const std::string& text);
// A limit or flag file's text in natural units (degrees, RPM, volts; a flag
// 0 or 1); nullopt when it does not parse.
std::optional<double> LimitFromText(SensorKind kind, const std::string& attribute,
                                    const std::string& text);

// node_exporter's chip identifier: the last two folder names of the target
// of the chip's `device` link joined by "_" (/sys/devices/platform/coretemp.0
// gives "platform_coretemp_0"); without that link the `name` text (empty:
// "hwmonN"); lower-cased, every character outside [a-z0-9:_] made "_".
std::string ChipId(const std::filesystem::path& chip, const std::string& name_file_text,
                   int number);

// A sysfs integer: optional "-", decimal digits, optional trailing white
// space (the kernel ends each value with a line feed). False otherwise.
bool ParseSysfsInteger(const std::string& text, long long& value);

// Thousandths to hundredths, rounded to nearest (halves away from zero).
// False when the result does not fit the block's 32-bit field.
bool ThousandthsToHundredths(long long thousandths, std::int32_t& hundredths);
