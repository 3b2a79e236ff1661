#pragma once
// Handing the rest of a run over to another program, as plmtool does for the verbs that
// live in its companion programs.
#include <string>
#include <vector>

namespace plm {

// Replaces the running program by the one at path, with args as its arguments (args[0]
// is the name it is given). Buffered output is written out first; with
// outputToStandardError, what the program writes to its standard output goes to this
// one's standard error. Returns only when the program cannot be started, with the OS
// error code.
int ExecProgram(const std::string &path, const std::vector<std::string> &args,
                bool outputToStandardError = false);

} // namespace plm
