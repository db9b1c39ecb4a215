#pragma once
// WaitingRoom: every accepted connection waits here, on one thread, until its
// request has arrived (the whole head and the body its Content-Length
// announces); only then does it take a worker. Waiting costs a socket and
// its buffer, never a thread. The bytes are read here, as they come, with
// the server's limits (kReceiveChunk per receive, kMaxRequestBytes in all).
//
// A connection leaves the room in one of two ways:
//   - delivered (to be served): its request is whole or too long, its peer
//     closed its side, or it fell silent for the read wait after sending
//     something (it is served with what it sent, as a worker would have);
//   - dismissed (closed without an answer): nothing arrived within the read
//     wait, a receive failed, or the whole request took longer than the
//     request deadline.
//
// Thread safety: Admit and Wake from any thread; the rest from the one
// thread that runs the room.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <unordered_map>
#include <vector>

#include "http/connection.h"
#include "http/request_text.h"
#include "platform/poller.h"
#include "platform/socket.h"

class WaitingRoom {
 public:
  using Clock = std::function<std::int64_t()>;  // monotonic milliseconds
  using Deliver = std::function<void(ReadyConnection&&)>;
  using Dismiss = std::function<void(platform::SocketHandle)>;

  // Guests at once after which an emptied room hands its memory back.
  static constexpr std::size_t kCrowd = 1024;
  // A guest whose stream opens with an exchange (TLS) holds its stream's
  // buffers (about 33 KB), so fewer of them make a crowd.
  static constexpr std::size_t kOpeningCrowd = 64;

  // `max_opening`: guests whose stream had to open at most (0: no limit); a
  // connection that starts opening one more closes the room's oldest such
  // guest first.
  WaitingRoom(Deliver deliver, Dismiss dismiss, Clock clock, std::size_t crowd = kCrowd,
              std::size_t max_opening = 0);
  ~WaitingRoom();  // closes nothing: the process ends with the room

  bool Valid() const { return poller_.Valid(); }
  // The connection waits here from now on, with what has arrived of its
  // request so far; its deadlines count from now. A stream that is not yet
  // Opened opens first, within the read wait.
  void Admit(Connection connection, RequestText so_far = RequestText());
  // One round: takes in the admitted connections, waits up to `max_wait_ms`
  // (less when a deadline comes first; -1 for no limit) for bytes, reads
  // them, and ends the connections whose deadlines have passed.
  void RunOnce(int max_wait_ms);
  // Runs rounds on a thread of its own, for good.
  bool StartThread();
  void Wake() { poller_.Wake(); }
  // Connections waiting (the room's thread, or tests between rounds).
  std::size_t Waiting() const { return waiting_.size(); }

 private:
  struct Guest;
  struct Deadline {
    std::int64_t at;
    platform::SocketHandle socket;
    std::uint64_t serial;
    bool operator>(const Deadline& other) const { return at > other.at; }
  };
  void TakeInAdmitted();
  // Reads what `socket` has, once a round; with a `serial`, only if the
  // socket still belongs to that guest.
  void ReadFrom(platform::SocketHandle socket, std::uint64_t serial);
  // Opens the guest's stream as far as its bytes allow; false unless open.
  bool Opened(platform::SocketHandle socket, Guest& guest);
  // Takes in `n` bytes (the result of a receive); false once it has left.
  bool TakeIn(platform::SocketHandle socket, Guest& guest, const char* piece, int n);
  void EndDue(std::int64_t now);
  int WaitBudget(int max_wait_ms, std::int64_t now) const;
  void Leave(platform::SocketHandle socket, bool deliver);
  void ReleaseAfterACrowd();
  // Counts `guest` among those whose stream opens, closing the oldest
  // other one at the cap.
  void CountOpening(platform::SocketHandle socket, Guest& guest);

  Deliver deliver_;
  Dismiss dismiss_;
  Clock clock_;
  platform::Poller poller_;
  std::mutex admitted_mutex_;
  struct Admitted {
    Connection connection;
    RequestText so_far;
  };
  std::vector<Admitted> admitted_;  // guarded by admitted_mutex_
  std::unordered_map<platform::SocketHandle, std::unique_ptr<Guest>> waiting_;
  // Both deadlines of every guest; entries for guests that left or read
  // since are skipped when they come up.
  std::priority_queue<Deadline, std::vector<Deadline>, std::greater<Deadline>> deadlines_;
  std::uint64_t next_serial_ = 0;
  const std::size_t crowd_;
  std::size_t peak_ = 0;  // the most guests since the room was last empty
  std::vector<platform::SocketHandle> ready_;
  // A guest by its socket and serial: stale once that guest has left.
  struct GuestRef {
    platform::SocketHandle socket;
    std::uint64_t serial;
  };
  // Guests whose share ran out before their bytes did, for the next round.
  std::vector<GuestRef> unfinished_, carried_over_;
  // Guests whose stream started opening, oldest first; those that left
  // since are skipped when they come up.
  std::deque<GuestRef> opening_;
  std::size_t live_opening_ = 0;
  const std::size_t max_opening_;
  std::uint64_t round_ = 0;
};
