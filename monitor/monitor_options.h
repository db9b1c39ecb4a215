#pragma once
// The stand-in monitor's options: kelvaneparams.cfg beside its executable,
// one Key=Value a line. Keys match in any letter case; values are trimmed;
// lines without "=" are ignored; a later line wins over an earlier one.
#include <map>
#include <string>

class MonitorOptions {
 public:
  MonitorOptions() = default;
  explicit MonitorOptions(const std::string& text);

  // The leading decimal integer of the value (as strtol reads it), or
  // `fallback` when the key is missing.
  long Number(const std::string& key, long fallback) const;
  // The trimmed value, or `fallback` when the key is missing.
  std::string Text(const std::string& key, const std::string& fallback) const;

 private:
  std::map<std::string, std::string> values_;  // keys in lower case
};

// Where the readings come from.
enum class ReadingSource {
  Auto,       // the kernel's sensors when there are any, else simulated
  Hwmon,      // the kernel's sensors only (no sensors: zero counts)
  Simulated,  // drifting made-up numbers
};

// "auto", "hwmon" or "simulated" in any letter case; false for anything else.
bool ParseReadingSource(const std::string& text, ReadingSource& source);
