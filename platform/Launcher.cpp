#include "platform/Launcher.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

namespace plm {

namespace {

bool DesktopOpen(const std::string &path) {
  if (path.empty()) return false;
  return QDesktopServices::openUrl(
      QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
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
