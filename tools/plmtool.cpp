// plmtool, the command-line companion of the viewer: one command line over a chain of
// programs, lightest first. Each program runs the verbs it holds and hands any other verb
// to the next one (see CMakeLists.txt), so a verb loads only the libraries it needs.
#include "tools/Commands.h"

#include "platform/DynLib.h"
#include "platform/FileSys.h"
#include "platform/Process.h"
#include "platform/ProgramTemp.h"
#include "platform/Strings.h"

#ifdef PLMTOOL_PICTURES
#include "imaging/PictureClasses.h"
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

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

namespace {

// Set by the build for each program of the chain.
constexpr const char *kFirst = PLMTOOL_FIRST; // the program the user calls
constexpr const char *kNext = PLMTOOL_NEXT;   // "" for the last one
// Asks each program of the chain for its verbs' usage lines; the first one puts the
// head line before them. The last one exits with the status given.
constexpr const char *kListCommands = "--commands";

bool IsFirst() { return std::strcmp(kFirst, PLMTOOL_SELF) == 0; }

int Hand(const char *program, std::vector<std::string> args, bool outputToStandardError) {
  // Beside this program (the build folder), else the installed program's private folder.
  std::string path = plm::ExecutableDir() + program;
  if (!plm::FileExists(path)) path = plm::ExecutableDir() + "../lib/plmlooker/" + program;
  args.insert(args.begin(), program);
  const int e = plm::ExecProgram(path, args, outputToStandardError);
  std::fprintf(stderr, "plmtool: cannot start %s: %s\n", path.c_str(), std::strerror(e));
  return 1;
}

// The usage lines of this program's verbs, then those of the programs after it.
int ListCommands(int status) {
  if (IsFirst()) std::fputs("usage: plmtool COMMAND [ARGS...]\n\ncommands:\n", stdout);
  for (const auto &c : plmtool::Commands())
    if (*c.usage) std::printf("  %s\n", c.usage);
  if (*kNext) return Hand(kNext, {kListCommands, std::to_string(status)}, false);
  return status;
}

// A failing verb's exception becomes "plmtool: <message>" on standard error, exit code 1.
int Run(const plmtool::Command &c, const std::vector<std::string> &args) {
#ifdef PLMTOOL_PICTURES
  // The programs with Qt make their own temporary folder, once the verb is known to run
  // here (a program handed the run makes its own). plmtool's verbs, cabinets and the
  // catalogue, put nothing in the temporary folder, and its quick start goes without the
  // folder's watcher process.
  plm::UseOwnTempFolder();
#endif
  try {
    return c.run(args);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "plmtool: %s\n", plm::ToDisplayUtf8(e.what()).c_str());
    return 1;
  }
}

} // namespace

int main(int argc, char **argv) {
#ifdef PLMTOOL_PICTURES
  plm::RegisterPictureClasses();
#endif
  if (argc < 2) return ListCommands(2);
  const std::string verb = argv[1];
  if (verb == "--help" || verb == "-h") return ListCommands(0);
  if (verb == kListCommands) return ListCommands(argc > 2 ? std::atoi(argv[2]) : 0);
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto &c : plmtool::Commands())
    if (verb == c.name) return Run(c, args);
  if (*kNext) {
    std::vector<std::string> all(argv + 1, argv + argc);
    return Hand(kNext, all, false);
  }
  // No program of the chain knows the verb: the whole list, from the first, on stderr.
  std::fprintf(stderr, "plmtool: unknown command '%s'\n", verb.c_str());
  return Hand(kFirst, {kListCommands, "2"}, true);
}
