#define QTEST_QPA_MOUSE_HANDLING // clicks travel through the window: a right-click opens menus
#include "CommandsFixture.h"

#include "Templates.h"
#include "app/Uglobalvar.h"
#include "platform/AppPaths.h"
#include "platform/FileSys.h"
#include "platform/Launcher.h"
#include "platform/gui/Cursors.h"

#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <cstdlib>
#include <unistd.h>

namespace fixtures {

void CommandsTest::SetUp() {
  char tmpl[] = "/tmp/plm-cmd-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  fRoot = tmpl;
  plm::ForceDirectories(fRoot + "/temp", 0700);
  plm::ForceDirectories(fRoot + "/settings");
  plm::TempPath = fRoot + "/temp/";
  fEnv.PrivateSession(fRoot + "/temp", fRoot + "/config");
  plm::SavePath.clear();
  plm::PreviewBusy = false;
  fSavedMailClient = plm::MailClientRegistered;
  plm::MailClientRegistered = true;
  plm::SetSettingsFileOverride(fRoot + "/settings/plmlooker.ini");
  fVolumes.Add("/", plm::DRIVE_FIXED);
  plm::SetMessageHandler([this](const plm::MessageRequest &r) {
    fMessages.push_back(r);
    return r.buttons == plm::mbOK ? plm::mrOk : fAnswer;
  });
  plm::SetSaveDialogHandler([this](const plm::SaveDialogRequest &r) -> std::optional<QString> {
    fSaveRequests.push_back(r);
    if (fSaveAnswers.empty()) return std::nullopt;
    const QString a = fSaveAnswers.front();
    fSaveAnswers.erase(fSaveAnswers.begin());
    if (a.isEmpty()) return std::nullopt;
    return a;
  });
  plm::SetLauncher([this](const std::string &path) {
    fLaunched.push_back(path);
    return true;
  });
}

void CommandsTest::TearDown() {
  plm::SetLauncher(nullptr);
  plm::SetMessageHandler(nullptr);
  plm::SetSaveDialogHandler(nullptr);
  plm::SetSettingsFileOverride("");
  plm::SetScreenCursor(plm::TScreenCursor::crDefault);
  plm::MailClientRegistered = fSavedMailClient;
  plm::SavePath.clear();
  ::chdir("/");
  std::system(("chattr -R -i '" + fRoot + "' 2>/dev/null; rm -rf '" + fRoot + "'").c_str());
}

std::string CommandsTest::Folder(const std::string &name, int driveType) {
  const std::string d = fRoot + "/" + name;
  plm::ForceDirectories(d);
  fVolumes.Add(d, driveType);
  return d;
}

std::string CommandsTest::Template(const std::string &folder, const std::string &name,
                                   const std::string &display) {
  const std::string path = folder + "/" + name;
  WriteSimpleTemplate(path, display);
  return path;
}

std::unique_ptr<TF_Main> CommandsTest::Open(const std::string &folder) {
  auto f = std::make_unique<TF_Main>();
  f->setShellTreePath(folder);
  f->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  return f;
}

namespace {
QPoint ItemCentre(TF_Main &f, int index) {
  QListWidgetItem *item = f.FileListBox->item(index);
  EXPECT_NE(item, nullptr);
  return item ? f.FileListBox->visualItemRect(item).center() : QPoint();
}
} // namespace

void CommandsTest::LeftClick(TF_Main &f, int index) {
  QTest::mouseClick(f.FileListBox->viewport(), Qt::LeftButton, {}, ItemCentre(f, index));
}

void CommandsTest::RightClick(TF_Main &f, int index) {
  QTest::mouseClick(f.FileListBox->viewport(), Qt::RightButton, {}, ItemCentre(f, index));
}

void CommandsTest::RightClickBelowItems(TF_Main &f) {
  QWidget *vp = f.FileListBox->viewport();
  QTest::mouseClick(vp, Qt::RightButton, {}, QPoint(vp->width() / 2, vp->height() - 5));
}

bool CommandsTest::WaitForPreview(TF_Main &f, int timeoutMs) {
  QSignalSpy spy(&f, &TF_Main::DownloadComplete);
  return spy.wait(timeoutMs);
}

bool CommandsTest::WaitForPainted(TF_Main &f, int timeoutMs) {
  return QTest::qWaitFor(
      [&] {
        const QImage shot = f.WebBrowser->grab().toImage();
        const QColor c = shot.pixelColor(shot.width() / 2, shot.height() / 2);
        return c.red() > 150 && c.green() < 100 && c.blue() < 100;
      },
      timeoutMs);
}

void CommandsTest::CloseMenu(TF_Main &f) {
  if (f.Popuplistfile->isVisible()) f.Popuplistfile->close();
}

bool CommandsTest::WhileModal(const char *className, const std::function<void()> &start,
                              const std::function<void(QWidget &)> &inspect) {
  bool seen = false;
  // The timer keeps firing inside the modal window's own event loop.
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget *w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || !w->inherits(className)) return;
    poll.stop();
    seen = true;
    inspect(*w);
    if (w->isVisible()) w->close(); // never leave a test hanging on an open window
  });
  poll.start();
  start();
  poll.stop();
  return seen;
}

} // namespace fixtures
