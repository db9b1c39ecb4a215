#pragma once
// ReadingHistory: the readings of the last minutes or hours, one sample per
// call of Record (the sampler calls it once a second). One ring of
// timestamps, and a ring of values per reading that has had a value since
// the start, so memory follows the readings that exist, not the 3 x 32
// slots of the block. A sample without readings (the block missing or
// invalid) is a gap: its timestamp is kept and every value is absent, never
// zero. A reading that the block's counts no longer include is absent too.
//
// Thread safety: every member may be called from any thread; Record and the
// copies take one mutex, held for the copy only.
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sensors/sensor_snapshot.h"

inline constexpr int kHistoryKinds = 3;  // temperatures, fans, voltages, in the block's order
inline constexpr int kHistorySlots = kHistoryKinds * kMaxSensorEntries;
// An absent value: a gap, or a reading the block did not hold then.
inline constexpr std::int32_t kNoValue = std::numeric_limits<std::int32_t>::min();

// The lowest and highest stored value seen; `any` is false until there is one.
struct Extremes {
  bool any = false;
  std::int32_t min = 0, max = 0;
  void Add(std::int32_t value) {
    if (!any || value < min) min = value;
    if (!any || value > max) max = value;
    any = true;
  }
  bool operator==(const Extremes&) const = default;
};

// One reading's part of a copy.
struct SeriesCopy {
  int kind = 0;   // 0 temperature, 1 fan, 2 voltage
  int index = 0;  // 0-based position in the block
  Extremes since_start, window;
  std::vector<std::int32_t> values;  // stored units, one per timestamp; kNoValue where absent
};

struct HistoryCopy {
  std::vector<std::int64_t> timestamps;  // Unix milliseconds, oldest first, strictly rising
  std::vector<SeriesCopy> series;        // readings with a value in the window, in block order
  bool more = false;                     // later samples were left for the next copy
};

// Values (samples times readings) a copy holds at most: an hour of twelve
// readings, or fewer samples of more. What a client may ask of one answer
// stays a few hundred KiB, however long the history and however many
// readings; it asks on from the last timestamp for the rest.
inline constexpr std::size_t kMaxValuesPerCopy = 3600 * 12;

class ReadingHistory {
 public:
  // Keeps the last `capacity` samples (at least 1).
  explicit ReadingHistory(std::size_t capacity);
  ReadingHistory(const ReadingHistory&) = delete;
  ReadingHistory& operator=(const ReadingHistory&) = delete;
  ~ReadingHistory();

  // One sample taken at `unix_ms`: `readings` (valid, as IsValidSnapshot
  // says) or null for a gap. A time at or before the last sample's (a clock
  // set back) is recorded one millisecond after it, so that timestamps
  // always rise and "the samples after T" stays well defined.
  void Record(std::int64_t unix_ms, const SensorSnapshot* readings);
  // For tests: fills the whole ring with `readings` at `interval_ms` steps
  // up to `unix_ms`, at once, so that no copy sees it half filled.
  void FillUpTo(std::int64_t unix_ms, std::int64_t interval_ms, const SensorSnapshot& readings);

  // The samples after `after_ms` (every sample without it), oldest first,
  // as many as fit `max_values` (at least one sample); `more` says when
  // later ones were left out. Each reading with a value anywhere in the
  // window is listed, whether or not the samples asked for hold one, so that
  // a client adding them up keeps its list.
  HistoryCopy Since(std::optional<std::int64_t> after_ms,
                    std::size_t max_values = kMaxValuesPerCopy) const;

  // Each slot's extremes since the start (slot = kind * 32 + index).
  std::array<Extremes, kHistorySlots> ExtremesSinceStart() const;

  std::size_t capacity() const { return capacity_; }
  std::size_t size() const;
  // Bytes the rings may hold once full: what the memory bound is made of.
  std::size_t ReservedBytes() const;

 private:
  struct Series;
  std::size_t Physical(std::size_t logical) const;                          // requires the mutex
  void RecordLocked(std::int64_t unix_ms, const SensorSnapshot* readings);  // requires the mutex
  void Evict(std::size_t position);                                         // requires the mutex
  void Store(std::size_t position, bool appended, const SensorSnapshot* readings);

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::vector<std::int64_t> times_;  // physical order; the oldest at oldest_ once full
  std::size_t oldest_ = 0;
  std::array<std::unique_ptr<Series>, kHistorySlots> slots_;
};

// A slot's stored value in the block, or kNoValue when the counts leave it out.
std::int32_t SlotValue(const SensorSnapshot& readings, int slot);
