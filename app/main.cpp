// plmlooker: the viewer's start-up. The main window is shown modally; the program
// ends when it closes.
#include "app/UMain.h"
#include "app/Uglobalvar.h"
#include "platform/Exceptions.h"
#include "platform/LeakCheck.h"
#include "platform/TempDir.h"
#include "platform/graphics/Graphics.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/Translations.h"

#include <QApplication>
#include <QIcon>

#include <memory>

int main(int argc, char **argv) {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("plmlooker"));
  // Message boxes carry the program's title; window titles stay exactly the windows' own
  // (an application display name would be appended to each of them).
  plm::SetApplicationTitle(QStringLiteral("Visualisateur Plumora"));
  plm::LoadFrenchTranslations();
  InitViewerResources();
  // Failures inside timer and picture callbacks reach the same report as the handlers' own.
  plm::SetApplicationExceptionHandler([](const std::exception &e) { plm::ShowException(e); });
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/plmlooker/plmlooker.svg")));

  plm::MailClientRegistered = !plm::LookupOpenCommand("test.plm").empty();
  try {
    plm::TempPath = plm::DropFirstDoubledSeparator(plm::UserTempDir());
  } catch (const std::exception &e) {
    // Without a private folder there is nowhere safe to unpack a template.
    plm::ShowException(e);
    return 1;
  }

  std::unique_ptr<TF_Main> F_Main;
  try {
    F_Main = std::make_unique<TF_Main>(nullptr);
  } catch (const std::exception &e) {
    plm::ShowException(e);
    return 1;
  }
  plm::GuardCall([&] { F_Main->Majdata(); });
  F_Main->exec();
  // The browser engine's threads are idle here; see platform/LeakCheck.h.
  plm::CheckLeaksNow();
  return 0;
}
