#include "http/waiting_room.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "http/debug_print.h"
#include "http/server_limits.h"
#include "platform/heap.h"

namespace {

// Readable sockets taken per wait; more are reported at the next one.
constexpr std::size_t kReadyPerWait = 256;
// Receives one guest is given per round: a TLS record may carry a single
// byte, so without a share one client's stream of tiny records would hold
// the room from every other socket. What is left is read next round.
constexpr int kReceivesPerRound = 16;

}  // namespace

struct WaitingRoom::Guest {
  Connection connection;
  RequestText request;
  bool counted_opening = false;  // among opening_ since its first bytes
  std::uint64_t serial = 0;
  std::uint64_t last_round = 0;       // the round it was last read in
  std::int64_t silence_deadline = 0;  // the read wait, from the last bytes
  std::int64_t request_deadline = 0;  // the whole request, from admission
};

WaitingRoom::WaitingRoom(Deliver deliver, Dismiss dismiss, Clock clock, std::size_t crowd,
                         std::size_t max_opening)
    : deliver_(std::move(deliver)),
      dismiss_(std::move(dismiss)),
      clock_(std::move(clock)),
      crowd_(crowd),
      max_opening_(max_opening) {}

WaitingRoom::~WaitingRoom() = default;

void WaitingRoom::Admit(Connection connection, RequestText so_far) {
  {
    std::lock_guard<std::mutex> hold(admitted_mutex_);
    admitted_.push_back({std::move(connection), std::move(so_far)});
  }
  poller_.Wake();
}

bool WaitingRoom::StartThread() {
  try {
    std::thread([this] {
      for (;;) RunOnce(-1);
    }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void WaitingRoom::RunOnce(int max_wait_ms) {
  TakeInAdmitted();
  // Guests with bytes left from their last share go on at once.
  const int budget = unfinished_.empty() ? WaitBudget(max_wait_ms, clock_()) : 0;
  const int ready = poller_.Wait(ready_, kReadyPerWait, budget);
  ++round_;
  unfinished_.swap(carried_over_);
  unfinished_.clear();
  if (ready > 0) {
    for (platform::SocketHandle socket : ready_) ReadFrom(socket, 0);
  }
  for (const GuestRef& left : carried_over_) ReadFrom(left.socket, left.serial);
  if (ready < 0) {
    // Not expected of a valid poller; never a busy loop all the same.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  TakeInAdmitted();  // a connection admitted during the wait starts its clock now
  EndDue(clock_());
  ReleaseAfterACrowd();
}

void WaitingRoom::ReleaseAfterACrowd() {
  peak_ = std::max(peak_, waiting_.size());
  if (!waiting_.empty() || peak_ < crowd_) return;
  // A flood has passed: its tables and their freed memory go back, so that
  // the agent returns to its usual size instead of keeping the flood's.
  peak_ = 0;
  decltype(waiting_)().swap(waiting_);
  decltype(deadlines_)().swap(deadlines_);
  decltype(opening_)().swap(opening_);
  platform::ReturnFreeMemory();
}

void WaitingRoom::TakeInAdmitted() {
  std::vector<Admitted> admitted;
  {
    std::lock_guard<std::mutex> hold(admitted_mutex_);
    admitted.swap(admitted_);
  }
  const std::int64_t now = clock_();
  for (Admitted& one : admitted) {
    const platform::SocketHandle socket = one.connection.Socket();
    if (!poller_.Add(socket)) {
      DebugPrint(L"Cannot wait for socket %d", static_cast<int>(socket));
      dismiss_(socket);
      continue;
    }
    auto guest = std::make_unique<Guest>();
    guest->connection = std::move(one.connection);
    guest->request = std::move(one.so_far);
    guest->serial = ++next_serial_;
    guest->silence_deadline = now + ServerTimeouts().io_wait_ms;
    guest->request_deadline = now + ServerTimeouts().request_deadline_ms;
    deadlines_.push({guest->silence_deadline, socket, guest->serial});
    deadlines_.push({guest->request_deadline, socket, guest->serial});
    waiting_[socket] = std::move(guest);
  }
}

int WaitingRoom::WaitBudget(int max_wait_ms, std::int64_t now) const {
  if (deadlines_.empty()) return max_wait_ms;
  const std::int64_t until = std::max<std::int64_t>(0, deadlines_.top().at - now);
  if (max_wait_ms >= 0 && until > max_wait_ms) return max_wait_ms;
  return static_cast<int>(std::min<std::int64_t>(until, 0x7FFFFFFF));
}

void WaitingRoom::ReadFrom(platform::SocketHandle socket, std::uint64_t serial) {
  auto found = waiting_.find(socket);
  if (found == waiting_.end()) return;
  Guest& guest = *found->second;
  if ((serial != 0 && guest.serial != serial) || guest.last_round == round_) return;
  guest.last_round = round_;
  if (!Opened(socket, guest)) return;
  // A stream can hold more than one receive's worth (TLS records), and bytes
  // the socket no longer shows: read until it has none, or until this
  // round's share is used, when the guest goes on next round.
  Stream& stream = *guest.connection.stream;
  char piece[kReceiveChunk + 1];
  for (int receives = 0; receives < kReceivesPerRound; ++receives) {
    const int n = stream.ReceiveNow(piece, kReceiveChunk);
    if (n == platform::kReceiveTimedOut) return;  // nothing (more) after all
    if (n < 0) {
      DebugPrint(L"Receive on %d failed: %ls", static_cast<int>(socket), stream.Failure().c_str());
    }
    if (!TakeIn(socket, guest, piece, n)) return;
  }
  unfinished_.push_back({socket, guest.serial});
}

bool WaitingRoom::TakeIn(platform::SocketHandle socket, Guest& guest, const char* piece, int n) {
  if (n < 0) {
    DebugPrint(L"Winsock Error: recv() on %d, err=%d", static_cast<int>(socket),
               platform::SocketError());
    Leave(socket, false);
    return false;
  }
  if (n == 0 || guest.request.Append(piece, n) != RequestText::State::Incomplete) {
    Leave(socket, true);  // whole, too long, or the peer closed its side
    return false;
  }
  guest.silence_deadline = clock_() + ServerTimeouts().io_wait_ms;
  deadlines_.push({guest.silence_deadline, socket, guest.serial});
  return true;
}

bool WaitingRoom::Opened(platform::SocketHandle socket, Guest& guest) {
  Stream& stream = *guest.connection.stream;
  if (stream.Opened()) return true;
  if (!guest.counted_opening) CountOpening(socket, guest);
  // The opening's bytes do not extend the read wait: it must end within the
  // wait from admission. Then the request has a whole wait of its own.
  const Stream::Opening step = stream.Open();
  if (step == Stream::Opening::Waiting) return false;
  if (step == Stream::Opening::Failed) {
    DebugPrint(L"Opening the stream of %d failed: %ls", static_cast<int>(socket),
               stream.Failure().c_str());
    Leave(socket, false);
    return false;
  }
  guest.silence_deadline = clock_() + ServerTimeouts().io_wait_ms;
  deadlines_.push({guest.silence_deadline, socket, guest.serial});
  return true;
}

void WaitingRoom::CountOpening(platform::SocketHandle socket, Guest& guest) {
  // An opening stream holds its buffers: without a cap, connections that
  // start a handshake and stop would hold memory without bound.
  while (max_opening_ != 0 && live_opening_ >= max_opening_ && !opening_.empty()) {
    const GuestRef oldest = opening_.front();
    opening_.pop_front();
    auto found = waiting_.find(oldest.socket);
    if (found == waiting_.end() || found->second->serial != oldest.serial) continue;  // left
    DebugPrint(L"Opening streams at the cap: %d closed for %d", static_cast<int>(oldest.socket),
               static_cast<int>(socket));
    Leave(oldest.socket, false);
  }
  guest.counted_opening = true;
  opening_.push_back({socket, guest.serial});
  ++live_opening_;
  if (opening_.size() > 2 * live_opening_ + 64) {
    // Mostly guests that left: the list keeps to the live ones.
    std::erase_if(opening_, [this](const GuestRef& entry) {
      auto found = waiting_.find(entry.socket);
      return found == waiting_.end() || found->second->serial != entry.serial;
    });
  }
}

void WaitingRoom::EndDue(std::int64_t now) {
  while (!deadlines_.empty() && deadlines_.top().at <= now) {
    const Deadline due = deadlines_.top();
    deadlines_.pop();
    auto found = waiting_.find(due.socket);
    if (found == waiting_.end() || found->second->serial != due.serial) continue;  // left
    const Guest& guest = *found->second;
    if (guest.request_deadline <= now) {
      DebugPrint(L"Request on %d took too long", static_cast<int>(due.socket));
      Leave(due.socket, false);
    } else if (guest.silence_deadline <= now) {
      // Silent since its last bytes: served with what it sent, as ever;
      // silent from the start: closed without an answer.
      Leave(due.socket, guest.request.received() > 0);
    }
  }
}

void WaitingRoom::Leave(platform::SocketHandle socket, bool deliver) {
  auto found = waiting_.find(socket);
  std::unique_ptr<Guest> guest = std::move(found->second);
  waiting_.erase(found);
  poller_.Remove(socket);
  if (guest->counted_opening) {
    --live_opening_;
    if (live_opening_ == 0) opening_.clear();  // what is left of it is stale
  }
  if (!deliver) {
    dismiss_(socket);
    return;
  }
  ReadyConnection ready;
  ready.connection = std::move(guest->connection);
  ready.too_long = guest->request.state() == RequestText::State::TooLong;
  ready.received = guest->request.received();
  ready.text = guest->request.Take();
  deliver_(std::move(ready));
}
