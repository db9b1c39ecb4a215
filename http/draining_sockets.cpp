#include "http/draining_sockets.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "http/debug_print.h"
#include "http/server_limits.h"
#include "platform/clock.h"

namespace {

// Longest single wait, so that sockets handed over meanwhile are soon watched.
constexpr int kLongestWaitMs = 100;
// Pause after a round that found closed peers: the next round then finds the
// peers that closed in the meantime, all with one wake-up.
constexpr int kRoundPauseMs = 2;

struct Draining {
  platform::SocketHandle socket;
  std::uint32_t started;
  std::size_t discarded;
};

// Every socket here was shut for sending before it came, so the close ends
// the rest; another shutdown would only fail once the peer has closed.
void CloseDrained(platform::SocketHandle socket) { platform::CloseSocket(socket); }

int MillisecondsLeft(const Draining& entry, std::uint32_t now) {
  return ServerTimeouts().drain_ms - static_cast<int>(now - entry.started);
}

// Discards what has arrived without waiting. True when the socket is done
// with: the peer closed, an error came, or the byte limit was reached.
bool DiscardArrived(Draining& entry) {
  char discard[1023];
  while (entry.discarded < kMaxDrainBytes) {
    int n = platform::ReceiveWithin(entry.socket, discard, sizeof discard, 0);
    if (n == platform::kReceiveTimedOut) return false;
    if (n <= 0) return true;
    entry.discarded += static_cast<std::size_t>(n);
  }
  return true;
}

class DrainingSockets {
 public:
  // False when the thread could not be started.
  bool Add(platform::SocketHandle socket) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!StartedLocked()) return false;
    if (handed_over_.size() >= kMaxDrainingSockets) {
      // A crowd of peers that keep their side open must not hold a
      // descriptor each: the oldest goes, its answer long sent.
      CloseDrained(handed_over_.front().socket);
      handed_over_.erase(handed_over_.begin());
    }
    handed_over_.push_back({socket, platform::TickCount(), 0});
    if (idle_) arrived_.notify_one();
    return true;
  }

 private:
  bool StartedLocked() {
    if (!started_) {
      try {
        std::thread([this] { Run(); }).detach();
        started_ = true;
      } catch (const std::system_error&) {
        return false;
      }
    }
    return true;
  }

  void Run() {
    std::vector<Draining> open;
    for (;;) {
      TakeHandedOver(open);
      if (WatchOnce(open) > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kRoundPauseMs));
      }
    }
  }

  // Moves the newly handed-over sockets into `open`, sleeping while there
  // is nothing at all to watch.
  void TakeHandedOver(std::vector<Draining>& open) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (open.empty()) {
      idle_ = true;
      arrived_.wait(hold, [this] { return !handed_over_.empty(); });
      idle_ = false;
    }
    open.insert(open.end(), handed_over_.begin(), handed_over_.end());
    handed_over_.clear();
    // Oldest first, as they were handed over.
    if (open.size() > kMaxDrainingSockets) {
      const std::size_t excess = open.size() - kMaxDrainingSockets;
      for (std::size_t i = 0; i < excess; ++i) CloseDrained(open[i].socket);
      open.erase(open.begin(), open.begin() + static_cast<std::ptrdiff_t>(excess));
    }
  }

  // One round: waits for any peer to send or close, then closes the sockets
  // that are done or out of time. Returns how many were readable.
  int WatchOnce(std::vector<Draining>& open) {
    std::uint32_t now = platform::TickCount();
    int wait_ms = kLongestWaitMs;
    sockets_.resize(open.size());
    if (open.size() > readable_size_) {
      readable_size_ = std::max(open.size(), 2 * readable_size_);
      readable_ = std::make_unique<bool[]>(readable_size_);
    }
    for (std::size_t i = 0; i < open.size(); ++i) {
      sockets_[i] = open[i].socket;
      wait_ms = std::min(wait_ms, std::max(0, MillisecondsLeft(open[i], now)));
    }
    int ready = platform::WaitAnyReadable(sockets_.data(), readable_.get(), open.size(), wait_ms);
    if (ready < 0) {
      // Out of memory or the like: look again shortly; the time limits hold.
      std::fill(readable_.get(), readable_.get() + open.size(), false);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    now = platform::TickCount();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < open.size(); ++i) {
      Draining& entry = open[i];
      bool done = (readable_[i] && DiscardArrived(entry)) || MillisecondsLeft(entry, now) <= 0;
      if (done) {
        CloseDrained(entry.socket);
      } else {
        open[kept++] = entry;
      }
    }
    open.resize(kept);
    return ready;
  }

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Draining> handed_over_;  // guarded by mutex_
  bool idle_ = false;                  // guarded by mutex_
  bool started_ = false;               // guarded by mutex_
  // The thread's own, kept from round to round.
  std::vector<platform::SocketHandle> sockets_;
  std::unique_ptr<bool[]> readable_;
  std::size_t readable_size_ = 0;
};

DrainingSockets& TheDrainingSockets() {
  // Never destroyed: its thread runs until the process ends.
  static DrainingSockets* sockets = new DrainingSockets;
  return *sockets;
}

}  // namespace

bool HandOverForDraining(platform::SocketHandle socket) { return TheDrainingSockets().Add(socket); }

void DrainAndClose(platform::SocketHandle socket, std::uint32_t started) {
  Draining entry{socket, started, 0};
  for (;;) {
    int left_ms = MillisecondsLeft(entry, platform::TickCount());
    if (left_ms <= 0 || platform::WaitReadable(socket, left_ms) != platform::WaitResult::Ready ||
        DiscardArrived(entry)) {
      break;
    }
  }
  CloseDrained(socket);
}

bool CloseWithoutWaiting(platform::SocketHandle socket) {
  DebugPrint(L"Closing socket %d", static_cast<int>(socket));
  platform::ShutdownSocket(socket, platform::ShutdownHow::Send);
  return HandOverForDraining(socket);
}

void CloseGracefully(platform::SocketHandle socket) {
  if (!CloseWithoutWaiting(socket)) DrainAndClose(socket, platform::TickCount());
}
