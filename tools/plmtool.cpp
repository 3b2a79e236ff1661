// plmtool: the command-line companion of the viewer.
#include "tools/Commands.h"

#include <cstdio>
#include <cstring>

namespace plmtool {

static std::vector<Command> &Registry() {
  static std::vector<Command> r;
  return r;
}

bool RegisterCommand(const Command &c) {
  Registry().push_back(c);
  return true;
}

const std::vector<Command> &Commands() { return Registry(); }

} // namespace plmtool

static void PrintUsage(std::FILE *to) {
  std::fputs("usage: plmtool COMMAND [ARGS...]\n\ncommands:\n", to);
  for (const auto &c : plmtool::Commands()) std::fprintf(to, "  %s\n", c.usage);
}

int main(int argc, char **argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    PrintUsage(stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const auto &c : plmtool::Commands()) {
    if (std::strcmp(c.name, argv[1]) == 0) {
      std::vector<std::string> args(argv + 2, argv + argc);
      return c.run(args);
    }
  }
  std::fprintf(stderr, "plmtool: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
