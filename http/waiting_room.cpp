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
// Reads through TLS one guest is given per round: a record may carry a
// single byte, so without a share one client's stream of tiny records would
// hold the room from every other socket. What is left is read next round.
constexpr int kTlsReadsPerRound = 16;

}  // namespace

struct WaitingRoom::Guest {
  Arrival arrival;
  RequestText request;
  // Set while a TLS connection's session is still to be made: made at its
  // first bytes, so that a connection that sends nothing costs no session.
  std::shared_ptr<const tls::TlsCredentials> tls;
  std::uint64_t serial = 0;
  std::uint64_t last_round = 0;       // the round it was last read in
  std::int64_t silence_deadline = 0;  // the read wait, from the last bytes
  std::int64_t request_deadline = 0;  // the whole request, from admission
};

WaitingRoom::WaitingRoom(Deliver deliver, Dismiss dismiss, Clock clock, std::size_t crowd,
                         std::size_t max_sessions)
    : deliver_(std::move(deliver)),
      dismiss_(std::move(dismiss)),
      clock_(std::move(clock)),
      crowd_(crowd),
      max_sessions_(max_sessions) {}

WaitingRoom::~WaitingRoom() = default;

void WaitingRoom::Admit(platform::SocketHandle socket, HTTPServer* server,
                        const platform::IpAddress& client, RequestText so_far,
                        std::shared_ptr<const tls::TlsCredentials> tls,
                        std::uint64_t server_serial) {
  {
    std::lock_guard<std::mutex> hold(admitted_mutex_);
    Admitted& admitted = admitted_.emplace_back();
    admitted.arrival.socket = socket;
    admitted.arrival.server = server;
    admitted.arrival.server_serial = server_serial;
    admitted.arrival.client = client;
    admitted.so_far = std::move(so_far);
    admitted.tls = std::move(tls);
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
  decltype(sessions_)().swap(sessions_);
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
    const platform::SocketHandle socket = one.arrival.socket;
    if (!poller_.Add(socket)) {
      DebugPrint(L"Cannot wait for socket %d", static_cast<int>(socket));
      dismiss_(socket);
      continue;
    }
    auto guest = std::make_unique<Guest>();
    guest->arrival = std::move(one.arrival);
    guest->request = std::move(one.so_far);
    guest->tls = std::move(one.tls);
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
  if (guest.tls != nullptr || guest.arrival.tls != nullptr) {
    ReadThroughTls(socket, guest);
    return;
  }
  char piece[kReceiveChunk + 1];
  const int n = platform::ReceiveWithin(socket, piece, kReceiveChunk, 0);
  if (n == platform::kReceiveTimedOut) return;  // nothing after all
  TakeIn(socket, guest, piece, n);
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

void WaitingRoom::ReadThroughTls(platform::SocketHandle socket, Guest& guest) {
  if (guest.arrival.tls == nullptr) MakeSession(socket, guest);
  tls::TlsSession& session = *guest.arrival.tls;
  if (!session.HandshakeDone()) {
    // The handshake's bytes do not extend the read wait: it must end within
    // the wait from admission. Then the request has a whole wait of its own.
    const tls::TlsSession::Step step = session.Handshake();
    if (step == tls::TlsSession::Step::Waiting) return;
    if (step == tls::TlsSession::Step::Failed) {
      DebugPrint(L"TLS handshake on %d failed: %ls", static_cast<int>(socket),
                 session.Failure().c_str());
      Leave(socket, false);
      return;
    }
    guest.silence_deadline = clock_() + ServerTimeouts().io_wait_ms;
    deadlines_.push({guest.silence_deadline, socket, guest.serial});
  }
  // Records can hold more than one receive's worth, and the library may
  // already hold bytes the socket no longer shows: read until it has none,
  // or until this round's share is used, when the guest goes on next round.
  char piece[kReceiveChunk + 1];
  for (int reads = 0; reads < kTlsReadsPerRound; ++reads) {
    const int n = session.ReceiveNow(piece, kReceiveChunk);
    if (n == platform::kReceiveTimedOut) return;
    if (n < 0) DebugPrint(L"TLS on %d: %ls", static_cast<int>(socket), session.Failure().c_str());
    if (!TakeIn(socket, guest, piece, n)) return;
  }
  unfinished_.push_back({socket, guest.serial});
}

void WaitingRoom::MakeSession(platform::SocketHandle socket, Guest& guest) {
  // A session is two record buffers: without a cap, connections that start
  // a handshake and stop would hold memory without bound.
  while (max_sessions_ != 0 && live_sessions_ >= max_sessions_ && !sessions_.empty()) {
    const GuestRef oldest = sessions_.front();
    sessions_.pop_front();
    auto found = waiting_.find(oldest.socket);
    if (found == waiting_.end() || found->second->serial != oldest.serial) continue;  // left
    DebugPrint(L"TLS sessions at the cap: %d closed for %d", static_cast<int>(oldest.socket),
               static_cast<int>(socket));
    Leave(oldest.socket, false);
  }
  guest.arrival.tls = std::make_shared<tls::TlsSession>(std::move(guest.tls), socket);
  sessions_.push_back({socket, guest.serial});
  ++live_sessions_;
  if (sessions_.size() > 2 * live_sessions_ + 64) {
    // Mostly guests that left: the list keeps to the live ones.
    std::erase_if(sessions_, [this](const GuestRef& entry) {
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
  if (guest->arrival.tls != nullptr) {
    --live_sessions_;
    if (live_sessions_ == 0) sessions_.clear();  // what is left of it is stale
  }
  if (!deliver) {
    dismiss_(socket);
    return;
  }
  Arrival arrival = std::move(guest->arrival);
  arrival.too_long = guest->request.state() == RequestText::State::TooLong;
  arrival.received = guest->request.received();
  arrival.text = guest->request.Take();
  deliver_(std::move(arrival));
}
