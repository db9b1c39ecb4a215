// The HTTP server with its static-file handler over one folder, for the
// side-by-side benchmark against nginx. Usage: static_server PORT FOLDER
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/conversions.h"
#include "http/http_server.h"
#include "http/server_limits.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PORT FOLDER\n", argv[0]);
    return 2;
  }
  if (const char* idle_exit = std::getenv("KV_IDLE_WORKER_EXIT_MS")) {
    ServerTimeouts().idle_worker_exit_ms = std::atoi(idle_exit);
  }
  HTTPServer server;
  CWString folder = AnsiToWide(argv[2]);
  return server.Listen(static_cast<std::uint16_t>(std::atoi(argv[1])), std::wstring(folder.View()))
             ? 0
             : 1;
}
