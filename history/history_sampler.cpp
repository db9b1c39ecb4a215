#include "history/history_sampler.h"

#include <chrono>

std::int64_t SystemClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

HistorySampler::HistorySampler(std::size_t seconds, Reader reader, Clock clock)
    : history_(seconds), reader_(std::move(reader)), clock_(std::move(clock)) {}

HistorySampler::~HistorySampler() { Stop(); }

void HistorySampler::SampleOnce() {
  SampleRead read;
  reader_(read);
  const std::int64_t now = clock_();
  std::lock_guard<std::mutex> hold(latest_mutex_);
  if (fill_for_tests_ && read.valid) {
    // The seconds up to now, as if the ring had run all along.
    fill_for_tests_ = false;
    history_.FillUpTo(now, kIntervalMs, read.readings);
  } else {
    history_.Record(now, read.valid ? &read.readings : nullptr);
  }
  latest_.sampled = true;
  latest_.up = read.valid;
  latest_.error = read.valid ? CWString() : read.error;
}

HistorySampler::Latest HistorySampler::LatestState() const {
  std::lock_guard<std::mutex> hold(latest_mutex_);
  return latest_;
}

HistorySampler::Snapshot HistorySampler::SnapshotSince(std::optional<std::int64_t> after_ms) const {
  std::lock_guard<std::mutex> hold(latest_mutex_);
  return Snapshot{latest_, history_.Since(after_ms)};
}

void HistorySampler::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(wait_mutex_);
    stop_ = false;
  }
  thread_ = std::thread([this] { Loop(); });
}

void HistorySampler::Stop() {
  {
    std::lock_guard<std::mutex> hold(wait_mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void HistorySampler::Loop() {
  std::unique_lock<std::mutex> lock(wait_mutex_);
  while (!stop_) {
    lock.unlock();
    SampleOnce();
    // Samples fall on whole seconds, so that timestamps line up across
    // restarts and a late sample does not shift every later one.
    const std::int64_t now = clock_();
    std::int64_t wait = kIntervalMs - now % kIntervalMs;
    if (wait <= 0 || wait > kIntervalMs) wait = kIntervalMs;
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(wait), [this] { return stop_; });
  }
}
