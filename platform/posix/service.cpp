#include "platform/service.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/file_io.h"
#include "platform/posix/signal_wait.h"

extern char** environ;

namespace platform {
namespace {

ControlHandlerFunction g_handler = nullptr;

std::string UnitFolder() {
  const char* moved = getenv("KVHTTP_SYSTEMD_DIR");
  return moved != nullptr && *moved != 0 ? moved : "/etc/systemd/system";
}

std::string UnitPath(const std::wstring& name) {
  return UnitFolder() + "/" + NarrowPath(name) + ".service";
}

// Runs a program from the PATH and waits for it; false when it is missing or
// fails.
bool RunAndWait(std::initializer_list<std::string> args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Notify(const std::string& message) {
  const char* socket_path = getenv("NOTIFY_SOCKET");
  if (socket_path == nullptr || *socket_path == 0) return;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t length = strlen(socket_path);
  if (length >= sizeof(address.sun_path)) return;
  memcpy(address.sun_path, socket_path, length);
  if (address.sun_path[0] == '@') address.sun_path[0] = 0;  // abstract namespace
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
  close(fd);
}

const char* StateName(std::uint32_t state) {
  switch (state) {
    case kServiceStopped:
      return "SERVICE_STOPPED";
    case kServiceStartPending:
      return "SERVICE_START_PENDING";
    case kServiceStopPending:
      return "SERVICE_STOP_PENDING";
    case kServiceRunning:
      return "SERVICE_RUNNING";
  }
  return "SERVICE_UNKNOWN";
}

// The folder of the quoted executable path: the agent writes its settings
// file and log there, and the monitor beside it its configuration.
std::string ExecutableFolder(const std::string& command) {
  std::string path = command;
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// The sandbox: only what the agent and the monitor it starts need. They serve
// over IPv4 and IPv6, talk to the notify and log sockets, write beside the
// executable (ReadWritePaths, added per unit), read the kernel's sensors in
// /sys, and share the block in /dev/shm; nothing else is writable, and no
// capability, new privilege or namespace is to be had.
constexpr const char* kSandbox =
    "ProtectSystem=strict\n"
    "ProtectHome=yes\n"
    "PrivateTmp=yes\n"
    "PrivateDevices=yes\n"
    "PrivateMounts=yes\n"
    "ProtectHostname=yes\n"
    "ProtectClock=yes\n"
    "ProtectKernelTunables=yes\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectControlGroups=yes\n"
    "ProtectProc=invisible\n"
    "ProcSubset=pid\n"
    "NoNewPrivileges=yes\n"
    "CapabilityBoundingSet=\n"
    "AmbientCapabilities=\n"
    "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX\n"
    "RestrictNamespaces=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "RemoveIPC=yes\n"
    "KeyringMode=private\n"
    "DevicePolicy=closed\n"
    "UMask=0077\n"
    "SystemCallArchitectures=native\n"
    "SystemCallFilter=@system-service\n"
    "SystemCallFilter=~@privileged @resources\n"
    "PrivateUsers=yes\n"
    // Given here, so the agent's own raise of its descriptor limit (which the
    // filter above refuses) is not needed.
    "LimitNOFILE=524288\n"
    "SystemCallErrorNumber=EPERM\n";

// The unit: started once the network is up (so that a Bind to one address
// works at boot), restarted when it fails, and sandboxed. Stopping it ends
// the monitor too (the whole control group).
std::string UnitText(const std::string& name, const std::string& command) {
  std::string unit = "[Unit]\nDescription=" + name + " (sensor readings over HTTP)\n";
  unit += "Wants=network-online.target\nAfter=network-online.target\n\n";
  unit += "[Service]\nType=notify\nExecStart=" + command + "\n";
  // Nothing listens (port taken, address missing, bad Bind): a restart
  // cannot mend that, so the unit fails at once.
  unit += "Restart=on-failure\nRestartPreventExitStatus=3\n";
  unit += "ReadWritePaths=\"" + ExecutableFolder(command) + "\"\n";
  unit += kSandbox;
  unit += "\n[Install]\nWantedBy=multi-user.target\n";
  return unit;
}

}  // namespace

std::uint32_t RunServiceDispatcher(const std::wstring&, ServiceMainFunction service_main) {
  const char* notify = getenv("NOTIFY_SOCKET");
  const char* invocation = getenv("INVOCATION_ID");
  if ((notify == nullptr || *notify == 0) && (invocation == nullptr || *invocation == 0)) {
    return kErrorNotStartedByManager;
  }
  const int done_fd = MakeWakeFd();
  std::thread service([&] {
    service_main();
    Wake(done_fd);
  });
  // SIGTERM is the stop control; the signals are blocked in every thread, so
  // only this wait takes them.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  while (WaitForWakeOrSignal(done_fd, &set) != 0) {
    if (g_handler != nullptr) g_handler(kControlStop);
  }
  service.join();
  if (done_fd >= 0) close(done_fd);
  return 0;
}

bool RegisterControlHandler(const std::wstring&, ControlHandlerFunction handler) {
  g_handler = handler;
  return true;
}

void ReportServiceStatus(std::uint32_t state, std::uint32_t, std::uint32_t) {
  std::string message = std::string("STATUS=") + StateName(state);
  if (state == kServiceRunning) message = "READY=1\n" + message;
  if (state == kServiceStopPending) message = "STOPPING=1\n" + message;
  Notify(message);
}

bool ServiceExists(const std::wstring& name) {
  struct stat info;
  return stat(UnitPath(name).c_str(), &info) == 0;
}

ServiceResult CreateAgentService(const std::wstring& name, const std::wstring& command) {
  struct stat info;
  if (stat(UnitFolder().c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return ServiceResult::ManagerUnavailable;
  }
  const std::string unit = UnitText(NarrowPath(name), NarrowPath(command));
  std::wstring path;
  for (char c : UnitPath(name)) path += static_cast<wchar_t>(static_cast<unsigned char>(c));
  if (!ReplaceFileAtomically(path, unit)) return ServiceResult::CreateFailed;
  RunAndWait({"systemctl", "daemon-reload"});
  return ServiceResult::Ok;
}

ServiceResult DeleteAgentService(const std::wstring& name, bool& stop_failed) {
  stop_failed = false;
  struct stat info;
  if (stat(UnitFolder().c_str(), &info) != 0) return ServiceResult::ManagerUnavailable;
  if (!ServiceExists(name)) return ServiceResult::OpenFailed;
  // Disabled first: its links in the targets' .wants folders would dangle
  // once the unit is gone. systemctl does this even where systemd is not
  // running (in a container or chroot).
  RunAndWait({"systemctl", "disable", "--quiet", NarrowPath(name) + ".service"});
  RunAndWait({"systemctl", "stop", "--no-block", NarrowPath(name) + ".service"});
  if (unlink(UnitPath(name).c_str()) != 0) return ServiceResult::DeleteFailed;
  RunAndWait({"systemctl", "daemon-reload"});
  return ServiceResult::Ok;
}

}  // namespace platform
