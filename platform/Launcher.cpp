#include "platform/Launcher.h"

#include "platform/Process.h"

namespace plm {

namespace {

// The desktop's own opener: it picks the program as the desktop's file manager does, and
// needs nothing of the window system from this process.
bool DesktopOpen(const std::string &path) {
  if (path.empty()) return false;
  return StartDetached({"xdg-open", path});
}

LaunchFunction &Current() {
  static LaunchFunction f;
  return f;
}

} // namespace

bool ShellOpenFile(const std::string &path) {
  const LaunchFunction &f = Current();
  return f ? f(path) : DesktopOpen(path);
}

LaunchFunction SetLauncher(LaunchFunction f) {
  LaunchFunction old = std::move(Current());
  Current() = std::move(f);
  return old;
}

} // namespace plm
