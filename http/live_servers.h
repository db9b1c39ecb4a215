#pragma once
// The servers alive in this process, each known by a serial that is never
// used again. A connection can outlive its server (still waiting in a room
// when the server is destroyed, as tests do with servers of their own); it
// is then closed unanswered instead of being handed to a server that is gone.
#include <cstdint>

class HTTPServer;

namespace live_servers {

std::uint64_t Register(HTTPServer* server);
// Forgets the server once none of its connections is being served.
void Retire(std::uint64_t serial);
// The server, counted as serving one more connection, while it lives; null
// once it is gone.
HTTPServer* BeginServing(std::uint64_t serial);
void EndServing(std::uint64_t serial);

}  // namespace live_servers
