#include "platform/desktop.h"

#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/posix/file_io.h"
#include "platform/process.h"

namespace platform {

bool SpawnDetachedProgram(const std::string& program, const std::string& argument);

int StartupShowCommand() {
  const char* x = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  return (x != nullptr && *x != 0) || (wayland != nullptr && *wayland != 0) ? 10 : 0;
}

void OpenBrowser(const std::wstring& url) { SpawnDetachedProgram("xdg-open", NarrowPath(url)); }

void ShowMessage(const std::wstring& caption, const std::wstring& text) {
  std::string line = NarrowPath(caption) + ": " + NarrowPath(text) + "\n";
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
}

bool InstanceMarkerAlreadyTaken(const std::wstring& name) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string text = NarrowPath(name);
  if (text.size() + 1 > sizeof(address.sun_path)) text.resize(sizeof(address.sun_path) - 1);
  memcpy(address.sun_path + 1, text.data(), text.size());  // abstract: leading NUL
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) return false;  // kept open
  bool taken = errno == EADDRINUSE;
  close(fd);
  return taken;
}

}  // namespace platform

namespace platform {

std::wstring ResourceString(unsigned, const wchar_t* fallback) { return fallback; }

}  // namespace platform
