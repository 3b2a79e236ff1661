#pragma once
// plmtool's sub-commands. Each command file registers its commands with PLM_COMMAND;
// plmtool.cpp dispatches on the first argument.
#include <cstdio>
#include <string>
#include <vector>

namespace plmtool {

// The verb's usage on standard error; the exit code of a call with wrong words.
inline int Usage(const char *usage) {
  std::fputs(usage, stderr);
  return 2;
}
inline int UnknownOption(const std::string &option, const char *usage) {
  std::fprintf(stderr, "plmtool: unknown option %s\n", option.c_str());
  return Usage(usage);
}

// args holds the words after the command name. Returns the process exit code.
using CommandFn = int (*)(const std::vector<std::string> &args);

struct Command {
  const char *name;
  const char *usage; // one line, shown by --help; empty for a verb kept out of the list
  CommandFn run;
};

bool RegisterCommand(const Command &c);
const std::vector<Command> &Commands();

} // namespace plmtool

#define PLM_CONCAT2(a, b) a##b
#define PLM_CONCAT(a, b) PLM_CONCAT2(a, b)
#define PLM_COMMAND(name, usage, fn)                                                              \
  static const bool PLM_CONCAT(plmtool_registered_, __LINE__) =                                   \
      ::plmtool::RegisterCommand({name, usage, fn})
