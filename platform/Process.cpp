#include "platform/Process.h"

#include "platform/ProgramTemp.h"
#include "platform/UniqueFd.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace plm {

namespace {
constexpr int kBackgroundNiceness = 10;
}

uint64_t OpenFileLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return 1024;
  return r.rlim_cur == RLIM_INFINITY ? UINT64_MAX : uint64_t(r.rlim_cur);
}

uint64_t RaiseOpenFileLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
    r.rlim_cur = r.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &r); // on failure the old limit stays, which is no error
  }
  return OpenFileLimit();
}

int ExecProgram(const std::string &path, const std::vector<std::string> &args,
                bool outputToStandardError) {
  std::vector<char *> argv;
  argv.reserve(args.size() + 1);
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  UniqueFd savedOut;
  if (outputToStandardError) {
    savedOut = UniqueFd(::dup(STDOUT_FILENO));
    if (!savedOut.valid() || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return errno;
  }
  // The program that takes over makes its own temporary folder; this one's goes with
  // this process image.
  RestoreGivenEnv();
  ::execv(path.c_str(), argv.data());
  const int e = errno;
  if (savedOut.valid()) ::dup2(savedOut.get(), STDOUT_FILENO);
  return e;
}

std::FILE *TakeStandardOutput() {
  std::fflush(stdout);
  const int kept = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (kept < 0) return nullptr;
  if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    ::close(kept);
    return nullptr;
  }
  std::FILE *out = ::fdopen(kept, "wb");
  if (!out) ::close(kept);
  return out;
}

bool IsTerminal(std::FILE *stream) { return stream && ::isatty(::fileno(stream)) == 1; }

bool StartDetached(const std::vector<std::string> &args) {
  if (args.empty() || args[0].empty()) return false;
  // A shell started for the purpose starts the program in the background and ends at
  // once: the program is left to the system, and the shell, waited for here, leaves no
  // zombie behind. The program's name is the shell's $0, its arguments "$@".
  static const char kScript[] = "command -v \"$0\" >/dev/null 2>&1 || exit 127\n\"$0\" \"$@\" &";
  std::vector<char *> argv = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                              const_cast<char *>(kScript)};
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  // It outlives this program: it gets the temporary folders as they were given.
  const std::vector<std::string> given = GivenEnvironment();
  std::vector<char *> env;
  for (const std::string &e : given)
    env.push_back(const_cast<char *>(e.c_str()));
  env.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), env.data()) != 0) return false;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  // ECHILD: children are reaped by the system here (SIGCHLD ignored); the shell started.
  if (r < 0) return errno == ECHILD;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int RunInBackground() {
  errno = 0;
  const int now = ::getpriority(PRIO_PROCESS, 0);
  if (now == -1 && errno) return errno;
  if (now >= kBackgroundNiceness) return 0; // started lower already: left so
  return ::setpriority(PRIO_PROCESS, 0, kBackgroundNiceness) == 0 ? 0 : errno;
}

int RunThreadInBackground() {
  const pid_t thread = static_cast<pid_t>(::syscall(SYS_gettid));
  errno = 0;
  const int now = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
  if (now == -1 && errno) return errno;
  if (now >= kBackgroundNiceness) return 0;
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), kBackgroundNiceness) == 0 ? 0 : errno;
}

} // namespace plm
