#include "platform/Process.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace plm {

int ExecProgram(const std::string &path, const std::vector<std::string> &args,
                bool outputToStandardError) {
  std::vector<char *> argv;
  argv.reserve(args.size() + 1);
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  int savedOut = -1;
  if (outputToStandardError) {
    savedOut = ::dup(STDOUT_FILENO);
    if (savedOut < 0) return errno;
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
      const int e = errno;
      ::close(savedOut);
      return e;
    }
  }
  ::execv(path.c_str(), argv.data());
  const int e = errno;
  if (savedOut >= 0) {
    ::dup2(savedOut, STDOUT_FILENO);
    ::close(savedOut);
  }
  return e;
}

} // namespace plm
