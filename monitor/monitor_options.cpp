#include "monitor/monitor_options.h"

#include <cstdlib>
#include <sstream>

#include "foundation/ascii_text.h"

namespace {

constexpr std::string_view kLineBlanks = " \t\r\n";

}  // namespace

MonitorOptions::MonitorOptions(const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    values_[ascii::Lower(ascii::Trim(std::string_view(line).substr(0, eq), kLineBlanks))] =
        std::string(ascii::Trim(std::string_view(line).substr(eq + 1), kLineBlanks));
  }
}

long MonitorOptions::Number(const std::string& key, long fallback) const {
  auto found = values_.find(ascii::Lower(key));
  return found == values_.end() ? fallback : std::strtol(found->second.c_str(), nullptr, 10);
}

std::string MonitorOptions::Text(const std::string& key, const std::string& fallback) const {
  auto found = values_.find(ascii::Lower(key));
  return found == values_.end() ? fallback : found->second;
}

bool ParseReadingSource(const std::string& text, ReadingSource& source) {
  const std::string word = ascii::Lower(text);
  if (word == "auto") {
    source = ReadingSource::Auto;
  } else if (word == "hwmon") {
    source = ReadingSource::Hwmon;
  } else if (word == "simulated") {
    source = ReadingSource::Simulated;
  } else {
    return false;
  }
  return true;
}
