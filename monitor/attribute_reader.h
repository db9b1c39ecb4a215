#pragma once
// Reads sensor attribute files with a deadline on each read, so that one
// input whose driver blocks (or a FIFO planted in a fixture) never holds up
// the others.
//
// Reads run on a helper thread. A read still running at its deadline is
// given up: its file is left out (as an unreadable one is) until that read
// has ended, and `on_stall` is told once; its helper is left to finish the
// read on its own (it touches only state it shares ownership of), and a new
// helper takes the next reads. So a file that blocks for good costs one
// parked thread, never one per round.
//
// Read is called from one thread at a time (the reading thread).
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class AttributeReader {
 public:
  using ReadFunction = std::function<std::optional<std::string>(const std::filesystem::path&)>;
  using StallReport = std::function<void(const std::string& line)>;

  AttributeReader(std::chrono::milliseconds deadline, ReadFunction read, StallReport on_stall);
  ~AttributeReader();
  AttributeReader(const AttributeReader&) = delete;
  AttributeReader& operator=(const AttributeReader&) = delete;

  // The file's text; nullopt when it cannot be read or its read is stalled.
  std::optional<std::string> Read(const std::filesystem::path& file);

 private:
  struct Helper;
  std::shared_ptr<Helper> StartHelper();

  std::chrono::milliseconds deadline_;
  ReadFunction read_;
  StallReport on_stall_;
  std::shared_ptr<Helper> helper_;  // takes the next read
  std::map<std::filesystem::path, std::shared_ptr<Helper>> stalled_;
};

// A regular file's first page (sysfs attributes are at most one); nullopt
// for anything else (a FIFO is never opened, so it cannot block the open).
std::optional<std::string> ReadAttributeFile(const std::filesystem::path& file);
