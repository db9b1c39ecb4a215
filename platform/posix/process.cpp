#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/posix/file_io.h"

extern char** environ;

namespace platform {
namespace {

// A new session, and the signal mask and dispositions a program expects: the
// agent blocks SIGINT and SIGTERM in its own threads, and a child would
// otherwise inherit that and never stop when asked.
void ResetSignals(posix_spawnattr_t& attributes) {
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

// Starts a program (from the PATH when `search_path`) with the standard
// streams on /dev/null in a new session. Returns its pid, or 0 with errno set.
pid_t Spawn(const std::vector<std::string>& args, bool search_path) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  ResetSignals(attributes);
  pid_t pid = 0;
  int rc = search_path ? posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ)
                       : posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) errno = rc;
  return rc == 0 ? pid : 0;
}

// A detached thread reaps the program so that no zombie stays behind, and
// then calls `on_end`.
bool SpawnDetached(const std::vector<std::string>& args, void (*on_end)() = nullptr) {
  pid_t pid = Spawn(args, true);
  if (pid == 0) return false;
  try {
    std::thread([pid, on_end] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (on_end != nullptr) on_end();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to watch it: it is not waited for.
    if (on_end != nullptr) on_end();
  }
  return true;
}

}  // namespace

bool SpawnDetachedProgram(const std::string& program, const std::string& argument) {
  return SpawnDetached({program, argument});
}

bool StartElevated(const std::wstring& exe, const std::wstring& params, void (*on_end)()) {
  std::vector<std::string> args{"pkexec", NarrowPath(exe)};
  std::istringstream words(NarrowPath(params));
  for (std::string word; words >> word;) args.push_back(word);
  return SpawnDetached(args, on_end);
}

ProcessHandle StartHidden(const std::wstring& exe) {
  pid_t pid = Spawn({NarrowPath(exe)}, false);
  return pid == 0 ? kNoProcess : pid;
}

bool StartElevatedHidden(const std::wstring&) { return false; }

ProcessState QueryProcess(ProcessHandle process) {
  if (process == kNoProcess) return ProcessState::Unknown;
  int status = 0;
  pid_t rc = waitpid(static_cast<pid_t>(process), &status, WNOHANG);
  if (rc == 0) return ProcessState::Running;
  return rc == static_cast<pid_t>(process) ? ProcessState::Ended : ProcessState::Unknown;
}

void CloseProcess(ProcessHandle) {}

void TerminateStartedProcess(ProcessHandle process) {
  if (process == kNoProcess) return;
  kill(static_cast<pid_t>(process), SIGTERM);
  int status = 0;
  waitpid(static_cast<pid_t>(process), &status, 0);
}

}  // namespace platform
