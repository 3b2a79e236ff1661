#include "tests/app/AppFixture.h"

#include "app/Uglobalvar.h"
#include "platform/AppPaths.h"
#include "platform/FileSys.h"
#include "platform/GraphicsStart.h"
#include "platform/LeakCheck.h"
#include "platform/LineList.h"
#include "platform/Paths.h"
#include "platform/gui/Cursors.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/Translations.h"
#include "samples/SampleArt.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <unistd.h>

namespace plmtest {

namespace {

// The QApplication of the whole test program.
class QtEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    // The browser engine's settings for a test run as root without a GPU, unless the
    // caller chose its own.
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    ::setenv("QTWEBENGINE_CHROMIUM_FLAGS",
             "--disable-gpu --no-sandbox --disable-background-networking", 0);
    plm::StartWithSharedGraphics(); // as the viewer starts
    static int argc = 1;
    static char arg0[] = "test_app_window";
    static char *argv[] = {arg0, nullptr};
    fApp = std::make_unique<QApplication>(argc, argv);
    plm::LoadFrenchTranslations();
  }
  void TearDown() override {
    // The browser engine's threads are idle here; see platform/LeakCheck.h.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    plm::CheckLeaksNow();
    fApp.reset();
  }

private:
  std::unique_ptr<QApplication> fApp;
};

const auto *const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

std::string Page(const std::string &title, const std::string &font, const std::string &pictures) {
  return "<HTML><HEAD><TITLE>" + title +
         "</TITLE></HEAD>\n<BODY>\n<TABLE><TR>\n<TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: " +
         font + "; FONT-SIZE: 12pt\" vAlign=top>\n<DIV>" + title + "</DIV></TD></TR>\n<TR><TD>" +
         pictures + "</TD></TR></TABLE>\n</BODY></HTML>\n";
}

std::string ContentIni(const std::string &collection, const std::string &display,
                       const std::string &trademark) {
  return "[General]\r\nCollection=" + collection + "\r\nDisplay=" + display +
         "\r\n[TradeMark]\r\nTradeMark=" + trademark + "\r\n";
}

std::string Picture(const std::string &format, int w, int h) {
  return plm::samples::EncodePicture(plm::samples::PaintPicture("flower", w, h), format);
}

void AppTest::SetUp() {
  char tmpl[] = "/tmp/plm-app-XXXXXX";
  fRoot = ::mkdtemp(tmpl);
  plm::ForceDirectories(fRoot + "/temp", 0700);
  plm::ForceDirectories(fRoot + "/home");
  plm::ForceDirectories(fRoot + "/settings");
  ::setenv("HOME", (fRoot + "/home").c_str(), 1);
  fEnv.PrivateSession(fRoot + "/temp", fRoot + "/config");
  plm::TempPath = fRoot + "/temp/";
  plm::SavePath.clear();
  plm::PreviewBusy = false;
  plm::SetSettingsFileOverride(SettingsPath());
  plm::SetMessageHandler([this](const plm::MessageRequest &r) {
    fMessages.append(r.text);
    return plm::mrOk;
  });
}

void AppTest::TearDown() {
  plm::SetMessageHandler(nullptr);
  plm::SetSettingsFileOverride("");
  plm::SetScreenCursor(plm::TScreenCursor::crDefault);
  ::chdir("/");
  std::system(("chmod -R u+w '" + fRoot + "' 2>/dev/null; rm -rf '" + fRoot + "'").c_str());
}

std::string AppTest::Dir(const std::string &name) const {
  const std::string d = fRoot + "/" + name;
  plm::ForceDirectories(d);
  return d;
}

std::string AppTest::MakeTemplate(const std::string &folder, const std::string &name,
                                  const std::vector<TemplateFile> &files) const {
  const std::string stage = fRoot + "/stage/" + name;
  plm::ForceDirectories(stage);
  std::vector<std::pair<std::string, std::string>> packed;
  int n = 0;
  for (const auto &[stored, bytes] : files) {
    const std::string src = stage + "/" + std::to_string(n++);
    EXPECT_EQ(plm::WriteFileBytes(src, bytes), 0);
    packed.emplace_back(src, stored);
  }
  const std::string path = folder + "/" + name;
  plm::samples::PackTemplate(path, packed);
  return path;
}

std::unique_ptr<TF_Main> AppTest::Open(const std::string &folder) {
  auto f = std::make_unique<TF_Main>();
  if (!folder.empty()) f->setShellTreePath(folder);
  f->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(f.get()));
  return f;
}

void AppTest::ClickItem(TF_Main &f, int index) {
  QListWidgetItem *item = f.FileListBox->item(index);
  ASSERT_NE(item, nullptr);
  const QRect r = f.FileListBox->visualItemRect(item);
  QTest::mouseClick(f.FileListBox->viewport(), Qt::LeftButton, {}, r.center());
}

bool AppTest::WaitForPreview(TF_Main &f, int timeoutMs) {
  QSignalSpy spy(&f, &TF_Main::DownloadComplete);
  return spy.wait(timeoutMs);
}

} // namespace plmtest
