#pragma once
// Runs a read function once per interval on a thread of its own, so that a
// sensor read that blocks in a driver never holds up publishing or stopping.
// The owner takes the result of each finished round.
//
// Destroying it stops the rounds; a round that is still blocked after two
// seconds is left behind (its thread only touches state it shares ownership
// of, and ends with the process).
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "monitor/hwmon_reader.h"

class ReadingThread {
 public:
  using ReadFunction = std::function<HwmonReadings()>;

  ReadingThread(ReadFunction read, std::chrono::milliseconds interval);
  ~ReadingThread();
  ReadingThread(const ReadingThread&) = delete;
  ReadingThread& operator=(const ReadingThread&) = delete;

  // The readings of the latest round finished since the last call, waiting
  // up to `wait` for one.
  std::optional<HwmonReadings> TakeLatest(std::chrono::milliseconds wait);

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    bool ended = false;
    std::optional<HwmonReadings> latest;
  };
  static void Loop(std::shared_ptr<Shared> shared, ReadFunction read,
                   std::chrono::milliseconds interval);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};
