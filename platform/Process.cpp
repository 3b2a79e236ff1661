#include "platform/Process.h"

#include "platform/UniqueFd.h"

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
