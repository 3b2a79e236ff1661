#pragma once
// The viewer's command line: plmlooker [FICHIER.plm | DOSSIER].
#include <string>
#include <vector>

namespace plm {

struct TCommandLine {
  enum class Action { Run, Help, Error };
  Action action = Action::Run;
  std::string path;    // absolute; empty when none was given
  std::string message; // what is wrong with the line (Error)
};

// Reads the arguments that follow the program's name, once the windowing system's own
// options are taken out. "--" ends the options; a relative path is taken from the
// current folder, since a running instance that receives it has a folder of its own.
TCommandLine ParseCommandLine(const std::vector<std::string> &args);

// The usage text, French, ending in a line break.
const char *CommandLineUsage();

} // namespace plm
