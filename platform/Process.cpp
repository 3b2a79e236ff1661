#include "platform/Process.h"

#include "platform/UniqueFd.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace plm {

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
  ::execv(path.c_str(), argv.data());
  const int e = errno;
  if (savedOut.valid()) ::dup2(savedOut.get(), STDOUT_FILENO);
  return e;
}

} // namespace plm
