#pragma once
// A private world for a benchmark that runs the viewer's windows: its own folder under /tmp
// with a "letters" folder for the templates, a private temporary folder and its own
// settings, so that nothing of the user's is read or written.
#include "app/Uglobalvar.h"
#include "platform/AppPaths.h"
#include "platform/FileSys.h"

#include <stdlib.h>

#include <string>

namespace plmbench {

// Makes the folder from a mkdtemp pattern ("/tmp/NAME-XXXXXX") and returns its path.
inline std::string MakeViewerSandbox(std::string pattern) {
  const std::string root = ::mkdtemp(pattern.data());
  plm::ForceDirectories(root + "/letters");
  plm::ForceDirectories(root + "/temp", 0700);
  plm::ForceDirectories(root + "/stage");
  plm::TempPath = root + "/temp/";
  ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  plm::SetSettingsFileOverride(root + "/plmlooker.ini");
  return root;
}

} // namespace plmbench
