#include "app/CommandLine.h"

#include "platform/Paths.h"

namespace plm {

const char *CommandLineUsage() {
  return "Usage : plmlooker [FICHIER.plm | DOSSIER]\n"
         "Ouvre le visualisateur sur le dossier donné, ou sur le dossier du modèle donné en\n"
         "le prévisualisant. Si le visualisateur est déjà ouvert, c'est lui qui les reçoit.\n";
}

TCommandLine ParseCommandLine(const std::vector<std::string> &args) {
  TCommandLine r;
  bool options = true;
  std::vector<std::string> paths;
  for (const auto &a : args) {
    if (options && a == "--") {
      options = false;
    } else if (options && (a == "-h" || a == "--help")) {
      r.action = TCommandLine::Action::Help;
      return r;
    } else if (options && a.size() > 1 && a[0] == '-') {
      r.action = TCommandLine::Action::Error;
      r.message = "option inconnue : " + a;
      return r;
    } else if (!a.empty()) {
      paths.push_back(a);
    }
  }
  if (paths.size() > 1) {
    r.action = TCommandLine::Action::Error;
    r.message = "un seul fichier ou dossier à la fois";
    return r;
  }
  if (!paths.empty()) {
    r.path = ExpandFileName(paths.front());
    while (r.path.size() > 1 && r.path.back() == '/')
      r.path.pop_back();
  }
  return r;
}

} // namespace plm
