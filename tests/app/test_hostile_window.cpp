// Hostile templates in the real main window: bombs and chains that leave the folder are
// refused and the next template shows; a page's links and forms lead nowhere; the page's
// menu only copies; a page that brings its renderer down is said so, and the next one
// renders.
#include "tests/app/AppFixture.h"

#include "preview/PreviewPage.h"
#include "app/Uglobalvar.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/gui/Cursors.h"
#include "samples/HostileCabinets.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <signal.h>
#include <unistd.h>

using namespace plm;
using namespace plmtest;

namespace {

// A page that is all targets: a link over the top left, a form's button below it, the
// rest a green background.
const char kTrapPage[] =
    "<HTML><HEAD><TITLE>Trap</TITLE></HEAD><BODY style=\"margin:0;background:#00ff00\">"
    "<A href=\"http://127.0.0.1:9/away\" style=\"display:block;position:absolute;left:0;top:0;"
    "width:300px;height:200px;background:#0000ff\">lien</A>"
    "<FORM action=\"http://127.0.0.1:9/sent\" style=\"position:absolute;left:0;top:250px\">"
    "<INPUT type=submit value=Envoyer style=\"width:300px;height:100px\"></FORM>"
    "<TABLE style=\"position:absolute;left:400px;top:400px\"><TR><TD id=PLUMORATEXTREGION>"
    "x</TD></TR></TABLE></BODY></HTML>";

class HostileWindow : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    fFolder = Dir("letters");
  }
  void Put(const std::string &name, const std::string &bytes) {
    ASSERT_EQ(WriteFileBytes(fFolder + "/" + name, bytes), 0);
  }
  void Good(const std::string &name, const std::string &title) {
    MakeTemplate(fFolder, name, {{"Flavor.htm", Page(title, "Arial")}});
  }
  int IndexOf(TF_Main &f, const std::string &name) {
    for (int i = 0; i < f.FileListBox->count(); ++i)
      if (f.FileListBox->item(i)->text().toStdString() == name) return i;
    ADD_FAILURE() << name;
    return 0;
  }
  // Selects the template and waits for its page.
  bool Show(TF_Main &f, const std::string &name) {
    ClickItem(f, IndexOf(f, name));
    return WaitForPreview(f);
  }
  // The preview is idle and offers no snapshot.
  static void ExpectIdle(const TF_Main &f) {
    EXPECT_FALSE(PreviewBusy);
    EXPECT_EQ(ScreenCursor(), TScreenCursor::crDefault);
    EXPECT_FALSE(f.Snapshot_btn->isEnabled());
  }
  // Waits until the browser has painted the trap page (its green background).
  static bool Painted(TF_Main &f) {
    return QTest::qWaitFor(
        [&] { return f.WebBrowser->grab().toImage().pixelColor(650, 500) == QColor(0, 255, 0); },
        10000);
  }
  std::string fFolder;
};

} // namespace

TEST_F(HostileWindow, BombsAreRefusedWithTheirLimitAndTheNextTemplateShows) {
  Put("a_bomb.plm", samples::ZeroBombCabinet({{"Flavor.htm", Page("Bomb", "Arial")},
                                              {"huge.bmp", "", 1ull << 30}}));
  Put("b_page.plm", samples::ZeroBombCabinet({{"Flavor.htm", "", 100ull << 20}}));
  Good("c_good.plm", "Good");
  auto f = Open(fFolder);
  for (const char *name : {"a_bomb.plm", "b_page.plm"}) {
    fMessages.clear();
    ClickItem(*f, IndexOf(*f, name));
    ASSERT_EQ(fMessages.size(), 1) << name;
    EXPECT_TRUE(fMessages[0].contains(QString("\"") + name + "\"")) << name;
    EXPECT_TRUE(fMessages[0].contains(name[0] == 'a' ? "256 Mo" : "16 Mo"))
        << fMessages[0].toStdString();
    // Nothing of the template stays in the preview folder.
    EXPECT_TRUE(ListDirectory(PreviewFolder()).empty()) << name;
    ExpectIdle(*f);
  }
  ASSERT_TRUE(Show(*f, "c_good.plm"));
  EXPECT_EQ(f->WebBrowser->title(), "Good");
}

TEST_F(HostileWindow, AChainLeavingTheTemplatesFolderIsNotFollowed) {
  // The template has no page of its own; the cabinet it names elsewhere has one.
  const std::string other = Dir("other");
  ASSERT_EQ(WriteFileBytes(other + "/next.cab",
                           samples::StoredCabinet({{"Flavor.htm", Page("Elsewhere", "Arial")}},
                                                  "", 1)),
            0);
  Put("a_chain.plm",
      samples::StoredCabinet({{"content.ini", ContentIni("C", "D", "T")}}, "../other/next.cab"));
  // Reading standard input, a pipe nobody writes to, would stop the window for ever.
  Put("b_stdin.plm", samples::StoredCabinet({{"Flavor.htm", Page("Mine", "Arial")}},
                                            "../../../../../../../../../../dev/stdin"));
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int savedIn = ::dup(0);
  ::dup2(fds[0], 0);
  ::close(fds[0]);

  auto f = Open(fFolder);
  ClickItem(*f, IndexOf(*f, "a_chain.plm"));
  ASSERT_EQ(fMessages.size(), 1);
  EXPECT_TRUE(fMessages[0].startsWith("Impossible d'ouvrir le fichier")) << fMessages[0].toStdString();
  EXPECT_EQ(f->LabDisplay->text(), "D");
  EXPECT_EQ(ListDirectory(PreviewFolder()), std::vector<std::string>{"content.ini"});
  ExpectIdle(*f);
  ASSERT_TRUE(Show(*f, "b_stdin.plm"));
  EXPECT_EQ(f->WebBrowser->title(), "Mine");

  ::dup2(savedIn, 0);
  ::close(savedIn);
  ::close(fds[1]);
}

TEST_F(HostileWindow, LinksFormsAndNewWindowsLeadNowhereAndThePageStays) {
  MakeTemplate(fFolder, "a_trap.plm", {{"Flavor.htm", kTrapPage}});
  Good("b_good.plm", "Good");
  auto f = Open(fFolder);
  ASSERT_TRUE(Show(*f, "a_trap.plm"));
  ASSERT_TRUE(Painted(*f));
  const QUrl shown = f->WebBrowser->url();
  auto *page = static_cast<TPreviewPage *>(f->WebBrowser->page());
  QSignalSpy refused(page, &TPreviewPage::NavigationRefused);
  QWidget *input = f->WebBrowser->focusProxy();
  ASSERT_NE(input, nullptr);
  auto stays = [&](const char *what) {
    EXPECT_EQ(f->WebBrowser->url(), shown) << what;
    EXPECT_EQ(f->WebBrowser->title(), "Trap") << what;
    EXPECT_FALSE(PreviewBusy) << what;
    EXPECT_TRUE(Painted(*f)) << what;
  };

  QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(100, 100));
  ASSERT_TRUE(refused.wait(10000));
  EXPECT_EQ(refused.takeFirst().at(0).toUrl(), QUrl("http://127.0.0.1:9/away"));
  stays("link");

  QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(150, 300));
  ASSERT_TRUE(refused.wait(10000));
  EXPECT_EQ(refused.takeFirst().at(0).toUrl().path(), "/sent");
  stays("form");

  // A middle click and a control click ask for a new tab.
  QTest::mouseClick(input, Qt::MiddleButton, {}, QPoint(100, 100));
  ASSERT_TRUE(refused.wait(10000));
  refused.clear();
  QTest::mouseClick(input, Qt::LeftButton, Qt::ControlModifier, QPoint(100, 100));
  ASSERT_TRUE(refused.wait(10000));
  refused.clear();
  stays("new window");

  // The keyboard: the link takes the focus from the Tab key, and Enter follows it.
  QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(650, 500));
  QTest::keyClick(input, Qt::Key_Tab);
  QTest::keyClick(input, Qt::Key_Return);
  ASSERT_TRUE(refused.wait(10000));
  stays("keyboard");

  // Back in the history, and a reload, go nowhere either.
  page->triggerAction(QWebEnginePage::Back);
  page->triggerAction(QWebEnginePage::Reload);
  stays("history");

  ASSERT_TRUE(Show(*f, "b_good.plm"));
  EXPECT_EQ(f->WebBrowser->title(), "Good");
  ASSERT_TRUE(Show(*f, "a_trap.plm"));
  EXPECT_EQ(f->WebBrowser->title(), "Trap");
}

TEST_F(HostileWindow, ThePagesMenuOnlyCopies) {
  MakeTemplate(fFolder, "a_trap.plm", {{"Flavor.htm", kTrapPage}});
  auto f = Open(fFolder);
  ASSERT_TRUE(Show(*f, "a_trap.plm"));
  ASSERT_TRUE(Painted(*f));
  auto *menu = f->WebBrowser->findChild<QMenu *>("PageMenu");
  ASSERT_NE(menu, nullptr);
  QWidget *input = f->WebBrowser->focusProxy();
  QTest::mouseClick(input, Qt::RightButton, {}, QPoint(650, 500));
  ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 10000));
  ASSERT_EQ(menu->actions().size(), 1);
  QAction *copy = menu->actions().first();
  EXPECT_EQ(copy->text(), "Copier");
  EXPECT_FALSE(copy->isEnabled()); // nothing selected
  menu->hide();

  f->WebBrowser->page()->triggerAction(QWebEnginePage::SelectAll);
  ASSERT_TRUE(QTest::qWaitFor([&] { return f->WebBrowser->page()->hasSelection(); }, 10000));
  QTest::mouseClick(input, Qt::RightButton, {}, QPoint(650, 500));
  ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 10000));
  EXPECT_TRUE(copy->isEnabled());
  QApplication::clipboard()->clear();
  copy->trigger();
  menu->hide();
  EXPECT_TRUE(QTest::qWaitFor(
      [] { return QApplication::clipboard()->text().contains("Texte exemple"); }, 10000));
}

TEST_F(HostileWindow, APageThatBringsItsRendererDownIsSaidSoAndTheNextRenders) {
  Good("a_first.plm", "First");
  Good("b_second.plm", "Second");
  auto f = Open(fFolder);
  ASSERT_TRUE(Show(*f, "a_first.plm"));
  QSignalSpy failed(f.get(), &TF_Main::PageFailed);
  // The next template starts loading, and its renderer dies in the middle.
  ClickItem(*f, IndexOf(*f, "b_second.plm"));
  ASSERT_TRUE(PreviewBusy);
  const qint64 pid = f->WebBrowser->page()->renderProcessPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(::kill(pid_t(pid), SIGSEGV), 0);
  ASSERT_TRUE(failed.wait(20000));
  ExpectIdle(*f);
  EXPECT_TRUE(f->PageFailedLabel->isVisible());
  EXPECT_EQ(f->PageFailedLabel->text(), "La page de ce modèle n'a pas pu être affichée.");
  EXPECT_EQ(f->PageFailedLabel->geometry(), f->WebBrowser->geometry()); // laid over it
  // A late end of loading changes nothing.
  QTest::qWait(0);
  EXPECT_FALSE(f->Snapshot_btn->isEnabled());

  ASSERT_TRUE(Show(*f, "a_first.plm"));
  EXPECT_EQ(f->WebBrowser->title(), "First");
  EXPECT_FALSE(f->PageFailedLabel->isVisible());
  EXPECT_FALSE(PreviewBusy);
}
