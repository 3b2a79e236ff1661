#include "platform/GraphicsStart.h"

#include "platform/AppPaths.h"
#include "platform/ProgramTemp.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QString>

#include <unistd.h>

#include <cstdlib>
#include <optional>

namespace plm {

namespace {

// Variables changed for a start without graphics, with the values they were given.
const char *const kVariable = "QT_XCB_GL_INTEGRATION";
std::optional<std::string> gGiven;
bool gChanged = false;
QtMessageHandler gNextHandler = nullptr;

// The browser engine's library asks for a shared context all the same, in vain: that
// complaint is expected.
void QuietAboutOpenGL(QtMsgType type, const QMessageLogContext &context, const QString &text) {
  if (type == QtWarningMsg && text.contains(QLatin1String("neither GLX nor EGL"))) return;
  if (gNextHandler) gNextHandler(type, context, text);
}

} // namespace

void StartWithSharedGraphics() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The page reaches the window through a Qt Quick scene. Drawn through OpenGL, each frame
  // of a page still loading goes through the GL driver, which without a graphics card
  // (Mesa's software rasteriser) cost more than the page's own loading; a template's page
  // is a still picture, which the software scene draws at the cost of a copy. A backend
  // the user chose stays.
  if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") &&
      qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND"))
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

void StartWithoutGraphics() {
  if (const char *v = std::getenv(kVariable)) gGiven = v;
  gChanged = true;
  ::setenv(kVariable, "none", 1);
  gNextHandler = qInstallMessageHandler(QuietAboutOpenGL);
}

bool StartedWithoutGraphics() { return gChanged; }

void RestartWithGraphics(const std::vector<std::string> &args) {
  if (gChanged) {
    if (gGiven)
      ::setenv(kVariable, gGiven->c_str(), 1);
    else
      ::unsetenv(kVariable);
  }
  std::vector<char *> argv;
  for (const auto &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  const std::string self = ExecutablePath();
  if (self.empty() || args.empty()) return;
  RestoreGivenEnv(); // the new start makes its own temporary folder
  ::execv(self.c_str(), argv.data());
}

} // namespace plm
