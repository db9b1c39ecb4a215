#include "history/reading_history.h"

#include <algorithm>

struct ReadingHistory::Series {
  std::vector<std::int32_t> values;  // the same physical order as times_
  Extremes since_start, window;
  std::size_t window_count = 0;  // values present in the window
  // An extreme left the window: the window's extremes are found again by
  // one scan at the next store, rather than scanning at every sample.
  bool window_stale = false;

  void RecomputeWindow() {
    window = Extremes{};
    for (std::int32_t value : values) {
      if (value != kNoValue) window.Add(value);
    }
    window_stale = false;
  }
};

std::int32_t SlotValue(const SensorSnapshot& readings, int slot) {
  const int kind = slot / kMaxSensorEntries, index = slot % kMaxSensorEntries;
  const std::uint16_t counts[kHistoryKinds] = {readings.numTemps, readings.numFans,
                                               readings.numVolts};
  if (kind < 0 || kind >= kHistoryKinds || index >= EntriesToRead(counts[kind])) return kNoValue;
  // Read by value: the record is packed.
  std::int32_t value = kind == 0   ? readings.temps[index]
                       : kind == 1 ? readings.fans[index]
                                   : readings.volts[index];
  // The one stored value that would read back as a gap is kept as its neighbour.
  return value == kNoValue ? kNoValue + 1 : value;
}

ReadingHistory::ReadingHistory(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)) {
  times_.reserve(capacity_);
}

ReadingHistory::~ReadingHistory() = default;

std::size_t ReadingHistory::Physical(std::size_t logical) const {
  return (oldest_ + logical) % times_.size();
}

std::size_t ReadingHistory::size() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return times_.size();
}

std::size_t ReadingHistory::ReservedBytes() const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::size_t series = 0;
  for (const auto& slot : slots_) series += slot != nullptr ? 1 : 0;
  return capacity_ * (sizeof(std::int64_t) + series * sizeof(std::int32_t));
}

void ReadingHistory::Record(std::int64_t unix_ms, const SensorSnapshot* readings) {
  std::lock_guard<std::mutex> hold(mutex_);
  RecordLocked(unix_ms, readings);
}

void ReadingHistory::FillUpTo(std::int64_t unix_ms, std::int64_t interval_ms,
                              const SensorSnapshot& readings) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (std::size_t back = capacity_; back > 0; --back) {
    RecordLocked(unix_ms - static_cast<std::int64_t>(back - 1) * interval_ms, &readings);
  }
}

void ReadingHistory::RecordLocked(std::int64_t unix_ms, const SensorSnapshot* readings) {
  if (!times_.empty()) unix_ms = std::max(unix_ms, times_[Physical(times_.size() - 1)] + 1);
  if (times_.size() < capacity_) {
    times_.push_back(unix_ms);
    Store(times_.size() - 1, true, readings);
    return;
  }
  const std::size_t position = oldest_;
  Evict(position);
  times_[position] = unix_ms;
  oldest_ = (oldest_ + 1) % capacity_;
  Store(position, false, readings);
}

void ReadingHistory::Evict(std::size_t position) {
  for (auto& series : slots_) {
    if (series == nullptr) continue;
    const std::int32_t value = series->values[position];
    if (value == kNoValue) continue;
    --series->window_count;
    if (value == series->window.min || value == series->window.max) series->window_stale = true;
  }
}

void ReadingHistory::Store(std::size_t position, bool appended, const SensorSnapshot* readings) {
  for (int slot = 0; slot < kHistorySlots; ++slot) {
    const std::int32_t value = readings != nullptr ? SlotValue(*readings, slot) : kNoValue;
    auto& series = slots_[static_cast<std::size_t>(slot)];
    if (series == nullptr) {
      if (value == kNoValue) continue;
      // Made when the reading first has a value: earlier samples are absent.
      series = std::make_unique<Series>();
      series->values.reserve(capacity_);
      series->values.assign(times_.size(), kNoValue);
      series->values[position] = value;
    } else if (appended) {
      series->values.push_back(value);
    } else {
      series->values[position] = value;
    }
    if (value != kNoValue) {
      ++series->window_count;
      series->since_start.Add(value);
      if (!series->window_stale) series->window.Add(value);
    }
    if (series->window_stale) series->RecomputeWindow();
  }
}

HistoryCopy ReadingHistory::Since(std::optional<std::int64_t> after_ms,
                                  std::size_t max_values) const {
  std::lock_guard<std::mutex> hold(mutex_);
  HistoryCopy copy;
  const std::size_t count = times_.size();
  // Timestamps rise, so the first sample after `after_ms` is found by halving.
  std::size_t first = 0;
  if (after_ms.has_value()) {
    std::size_t low = 0, high = count;
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (times_[Physical(middle)] <= *after_ms) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    first = low;
  }
  std::size_t listed = 0;
  for (const auto& series : slots_) listed += series != nullptr && series->window_count != 0;
  const std::size_t fit = std::max<std::size_t>(1, max_values / std::max<std::size_t>(1, listed));
  const std::size_t end = count - first > fit ? first + fit : count;
  copy.more = end < count;
  copy.timestamps.reserve(end - first);
  for (std::size_t i = first; i < end; ++i) copy.timestamps.push_back(times_[Physical(i)]);
  for (int slot = 0; slot < kHistorySlots; ++slot) {
    const auto& series = slots_[static_cast<std::size_t>(slot)];
    if (series == nullptr || series->window_count == 0) continue;
    SeriesCopy& out = copy.series.emplace_back();
    out.kind = slot / kMaxSensorEntries;
    out.index = slot % kMaxSensorEntries;
    out.since_start = series->since_start;
    out.window = series->window;
    out.values.reserve(end - first);
    for (std::size_t i = first; i < end; ++i) out.values.push_back(series->values[Physical(i)]);
  }
  return copy;
}

std::array<Extremes, kHistorySlots> ReadingHistory::ExtremesSinceStart() const {
  std::lock_guard<std::mutex> hold(mutex_);
  std::array<Extremes, kHistorySlots> extremes;
  for (std::size_t slot = 0; slot < extremes.size(); ++slot) {
    if (slots_[slot] != nullptr) extremes[slot] = slots_[slot]->since_start;
  }
  return extremes;
}
