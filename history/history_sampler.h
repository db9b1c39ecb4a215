#pragma once
// HistorySampler: takes one sample a second into a ReadingHistory, on a
// thread of its own, from a reader it is given. The reader only looks: it
// never starts the monitor nor changes its settings, and it reports the
// readings only when the block exists and is valid (anything else is a gap,
// with the reason as text for the answers).
//
// Thread safety: SampleOnce, Latest and the history may be used from any
// thread; Start and Stop from one controlling thread.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "foundation/wstring.h"
#include "history/reading_history.h"

// What one look at the monitor's block found.
struct SampleRead {
  bool valid = false;         // `readings` hold a valid block with readings
  SensorSnapshot readings{};  // read only when valid
  CWString error;             // why there are no readings, when not valid
};

class HistorySampler {
 public:
  using Reader = std::function<void(SampleRead&)>;
  using Clock = std::function<std::int64_t()>;  // Unix milliseconds
  static constexpr std::int64_t kIntervalMs = 1000;

  // Keeps `seconds` samples (at least one).
  HistorySampler(std::size_t seconds, Reader reader, Clock clock);
  ~HistorySampler();  // stops the thread
  HistorySampler(const HistorySampler&) = delete;
  HistorySampler& operator=(const HistorySampler&) = delete;

  // One sample at the clock's time now.
  void SampleOnce();
  // For tests of a full ring without waiting for it: the first valid sample
  // also fills the whole ring before it, a second apart. Before Start.
  void FillAtFirstSampleForTests() { fill_for_tests_ = true; }
  // Starts the thread: a sample now, then one at every whole second.
  void Start();
  void Stop();
  bool Running() const { return thread_.joinable(); }

  const ReadingHistory& History() const { return history_; }
  std::size_t Seconds() const { return history_.capacity(); }

  // The last sample's outcome.
  struct Latest {
    bool sampled = false;  // a sample has been taken
    bool up = false;       // the last sample had readings
    CWString error;        // its reason when not up
  };
  Latest LatestState() const;

  // The samples after `after_ms` with the outcome of the newest one, taken
  // together: an answer's "up" always agrees with its last sample.
  struct Snapshot {
    Latest latest;
    HistoryCopy copy;
  };
  Snapshot SnapshotSince(std::optional<std::int64_t> after_ms) const;

 private:
  void Loop();

  ReadingHistory history_;
  Reader reader_;
  Clock clock_;
  mutable std::mutex latest_mutex_;  // held over a sample's record too
  Latest latest_;
  std::mutex wait_mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool fill_for_tests_ = false;  // the sampler's thread's, once started
  std::thread thread_;
};

// The wall clock as Unix milliseconds.
std::int64_t SystemClockMs();
