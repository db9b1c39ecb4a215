#include "monitor/reading_thread.h"

#include <utility>

ReadingThread::ReadingThread(ReadFunction read, std::chrono::milliseconds interval)
    : shared_(std::make_shared<Shared>()), thread_(Loop, shared_, std::move(read), interval) {}

ReadingThread::~ReadingThread() {
  std::unique_lock<std::mutex> hold(shared_->mutex);
  shared_->stop = true;
  shared_->changed.notify_all();
  if (shared_->changed.wait_for(hold, std::chrono::seconds(2), [this] { return shared_->ended; })) {
    hold.unlock();
    thread_.join();
  } else {
    hold.unlock();
    thread_.detach();
  }
}

std::optional<HwmonReadings> ReadingThread::TakeLatest(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> hold(shared_->mutex);
  shared_->changed.wait_for(hold, wait, [this] { return shared_->latest.has_value(); });
  std::optional<HwmonReadings> taken = std::move(shared_->latest);
  shared_->latest.reset();
  return taken;
}

void ReadingThread::Loop(std::shared_ptr<Shared> shared, ReadFunction read,
                         std::chrono::milliseconds interval) {
  auto next = std::chrono::steady_clock::now();
  for (;;) {
    std::optional<HwmonReadings> readings;
    try {
      readings = read();
    } catch (...) {
      // A failed round (out of memory, say) publishes nothing; the next one tries again.
    }
    std::unique_lock<std::mutex> hold(shared->mutex);
    if (readings) {
      shared->latest = std::move(readings);
      shared->changed.notify_all();
    }
    next += interval;
    if (next < std::chrono::steady_clock::now()) next = std::chrono::steady_clock::now();
    if (shared->changed.wait_until(hold, next, [&] { return shared->stop; })) break;
  }
  std::lock_guard<std::mutex> hold(shared->mutex);
  shared->ended = true;
  shared->changed.notify_all();
}
