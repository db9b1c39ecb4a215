#pragma once
// Reads sensor attribute files with a deadline on each read, so that one
// input whose driver blocks (or a FIFO planted in a fixture) never holds up
// the others.
//
// Reads run on a helper thread, a whole round of them at a time (one
// hand-over a round, not one a file). A read that makes no progress for the
// deadline is given up: its file is left out (as an unreadable one is) until that read
// has ended, and `on_stall` is told once; its helper is left to finish the
// read on its own (it touches only state it shares ownership of), and a new
// helper takes the next reads. So a file that blocks for good costs one
// parked thread, never one per round.
//
// Read and ReadAll are called from one thread at a time (the monitor's).
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

  // One read of a round: its name (the file, for the stall report) and how.
  // `read` may outlive the reader on a stalled helper: it owns what it uses.
  struct Job {
    std::string name;
    std::function<std::optional<std::string>()> read;
  };
  using Jobs = std::shared_ptr<const std::vector<Job>>;
  // Whether the named read was given up and has not ended yet.
  bool Stalled(const std::string& name) const { return stalled_.count(name) > 0; }
  // Each job's text, in order; nullopt for one that failed or is stalled.
  // The jobs are shared, not copied: a round made once serves every refresh.
  std::vector<std::optional<std::string>> ReadAll(const Jobs& jobs);

 private:
  struct Helper;
  std::shared_ptr<Helper> StartHelper();
  // False while the named read is still stuck; says when it answers again.
  bool NoLongerStalled(const std::string& name);

  std::chrono::milliseconds deadline_;
  ReadFunction read_;
  StallReport on_stall_;
  std::shared_ptr<Helper> helper_;  // takes the next read
  std::map<std::string, std::shared_ptr<Helper>> stalled_;
};

// A regular file's first page (sysfs attributes are at most one); nullopt
// for anything else (a FIFO is never opened, so it cannot block the open).
std::optional<std::string> ReadAttributeFile(const std::filesystem::path& file);
