#pragma once
// The Qt application object of a verb that draws pictures or pages. Nothing is shown, so
// no screen is needed: the offscreen platform is used unless the user has chosen one.
// Qt's own notes about the missing screen are no concern of the command's user; its
// errors are still shown.
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace plmtool {

template <class App> std::unique_ptr<App> MakeOffscreenApp() {
  if (QCoreApplication::instance()) return nullptr;
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(msg));
  });
  static int argc = 3;
  static char arg0[] = "plmtool", arg1[] = "-platform", arg2[] = "offscreen";
  static char *argv[] = {arg0, arg1, arg2, nullptr};
  if (std::getenv("QT_QPA_PLATFORM")) argc = 1;
  return std::make_unique<App>(argc, argv);
}

} // namespace plmtool
