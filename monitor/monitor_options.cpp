#include "monitor/monitor_options.h"

#include <cstdlib>
#include <sstream>

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r\n";
  std::size_t first = s.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

}  // namespace

MonitorOptions::MonitorOptions(const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    values_[Lower(Trim(line.substr(0, eq)))] = Trim(line.substr(eq + 1));
  }
}

long MonitorOptions::Number(const std::string& key, long fallback) const {
  auto found = values_.find(Lower(key));
  return found == values_.end() ? fallback : std::strtol(found->second.c_str(), nullptr, 10);
}

std::string MonitorOptions::Text(const std::string& key, const std::string& fallback) const {
  auto found = values_.find(Lower(key));
  return found == values_.end() ? fallback : found->second;
}

bool ParseReadingSource(const std::string& text, ReadingSource& source) {
  const std::string word = Lower(text);
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
