// plmlooker [FICHIER.plm | DOSSIER]: the viewer's start-up. The main window is shown
// modally; the program ends when it closes.
#include "app/CommandLine.h"
#include "app/GalleryLink.h"
#include "app/UMain.h"
#include "app/Uglobalvar.h"
#include "components/UnPas2.h"
#include "gallery/ThumbnailProvider.h"
#include "imaging/PictureClasses.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "platform/GraphicsStart.h"
#include "platform/Launcher.h"
#include "platform/LeakCheck.h"
#include "platform/OpenCommand.h"
#include "platform/Process.h"
#include "platform/ProgramTemp.h"
#include "platform/TempDir.h"
#include "platform/graphics/Graphics.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/Translations.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  // Before Qt starts: its runtime folder goes inside the program's own temporary folder.
  plm::UseOwnTempFolder();
  // The folder tree watches every folder it shows, at a few descriptors each.
  plm::RaiseOpenFileLimit();
  plm::RegisterPictureClasses();
  // A start while the viewer runs ends once its main window is made, its guard having
  // brought the running one forward: it loads no graphics driver.
  const std::vector<std::string> startArgs(argv, argv + argc);
  const bool graphics = !TUnPas2::AnotherInstanceRuns();
  if (graphics)
    plm::StartWithSharedGraphics();
  else
    plm::StartWithoutGraphics();
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

  // What is left once Qt has taken its own options out.
  const plm::TCommandLine line = plm::ParseCommandLine({argv + 1, argv + argc});
  if (line.action == plm::TCommandLine::Action::Help) {
    std::fputs(plm::CommandLineUsage(), stdout);
    return 0;
  }
  if (line.action == plm::TCommandLine::Action::Error) {
    std::fprintf(stderr, "plmlooker : %s\n%s", line.message.c_str(), plm::CommandLineUsage());
    return 2;
  }
  plm::StartPath = line.path;

  plm::MailClientRegistered = !plm::LookupOpenCommand("test.plm").empty();
  // "Installer" starts the very program just looked up, in any session.
  plm::SetLauncher(plm::OpenWithRegisteredApplication);
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
  // Another instance runs: it has been brought forward (and given the path), and this
  // one ends without ever showing its window.
  if (plm::ApplicationTerminated()) return 0;
  if (!graphics) {
    // The running viewer ended meanwhile: this start goes on, and needs its graphics.
    F_Main.reset();
    plm::RestartWithGraphics(startArgs);
    return 1;
  }
  // The running viewer's preview folder: emptied and removed at the window's close, and
  // with the program's temporary folder should the program be stopped.
  plm::RemoveAtProgramEnd(plm::PreviewFolder());
  // The gallery window, in the "Fichier" menu; its renderer processes start when it opens.
  new TGalleryLink(*F_Main, [] { return std::make_unique<plm::TThumbnailProvider>(); });
  plm::GuardCall([&] { F_Main->Majdata(); });
  F_Main->exec();
  // The browser engine's threads are idle here; see platform/LeakCheck.h.
  plm::CheckLeaksNow();
  return 0;
}
