// The real main window, driven as a user would: selecting templates, the preview and
// its failures, the settings file, the close step, the About window, and the guard
// that keeps a page from reaching outside its template.
#include "tests/app/AppFixture.h"

#include "app/FileListBox.h"
#include "preview/PreviewGuard.h"
#include "preview/PreviewPage.h"
#include "preview/TemplatePreview.h"
#include "app/UAbout.h"
#include "app/Uglobalvar.h"
#include "cabinet/CabSTComps.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/LineList.h"
#include "platform/Paths.h"
#include "platform/gui/Cursors.h"
#include "samples/SampleArt.h"

#include <QApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

using namespace plm;
using namespace plmtest;

namespace {

QColor FontColour(const TF_Main &f) { return f.LabFont->palette().color(QPalette::WindowText); }

std::vector<std::string> ListItems(const QListWidget *l) {
  std::vector<std::string> r;
  for (int i = 0; i < l->count(); ++i)
    r.push_back(l->item(i)->text().toStdString());
  return r;
}

std::string Slurp(const std::string &path) {
  std::string s;
  ReadFileBytes(path, s);
  return s;
}

class Preview : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    fFolder = Dir("letters");
    // Sorted by name, without regard to case: "b_spring" comes before "Christmas".
    MakeTemplate(fFolder, "b_spring.plm",
                 {{"content.ini", ContentIni("Saisons", "Printemps", "ACME")},
                  {"Flavor.htm", Page("Spring", "Liberation Sans", "<IMG src=\"flower.gif\">")},
                  {"flower.gif", Picture("gif", 120, 60)},
                  {"photo.jpeg", Picture("jpeg", 80, 40)}});
    MakeTemplate(fFolder, "Christmas.plm",
                 {{"CONTENT.INI", ContentIni("Fetes", "Noel", "Plumora")},
                  {"FLAVOR.HTM", Page("Xmas", "Comic Sans MS Unlikely")},
                  {"star.bmp", Picture("bmp", 16, 16)}});
    WriteFileBytes(fFolder + "/.hidden.plm", "x");
    WriteFileBytes(fFolder + "/notes.txt", "x");
    CreateDir(fFolder + "/folder.plm");
  }
  std::string fFolder;
};

} // namespace

TEST_F(Preview, SelectingATemplateShowsItsFieldsFontPicturesAndPage) {
  auto f = Open(fFolder);
  EXPECT_EQ(ListItems(f->FileListBox), (std::vector<std::string>{"b_spring.plm", "Christmas.plm"}));
  EXPECT_EQ(f->FileListBox->ItemIndex(), -1);
  EXPECT_EQ(GetCurrentDir(), fFolder); // pointing the list at a folder makes it current

  ClickItem(*f, 0);
  EXPECT_TRUE(PreviewBusy);
  EXPECT_EQ(ScreenCursor(), TScreenCursor::crAppStart);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_FALSE(PreviewBusy);
  EXPECT_EQ(ScreenCursor(), TScreenCursor::crDefault);
  EXPECT_TRUE(fMessages.isEmpty()) << fMessages.join('\n').toStdString();

  EXPECT_EQ(f->LabCollection->text(), "Saisons");
  EXPECT_EQ(f->LabDisplay->text(), "Printemps");
  EXPECT_EQ(f->LabTrademark->text(), "ACME");
  EXPECT_EQ(f->LabFont->text(), "Liberation Sans");
  EXPECT_EQ(FontColour(*f), QColor(0, 128, 0));

  std::vector<std::string> pictures = ListItems(f->Listimages);
  std::sort(pictures.begin(), pictures.end());
  EXPECT_EQ(pictures, (std::vector<std::string>{"flower.gif", "photo.jpeg"}));
  EXPECT_EQ(f->Listimages->currentRow(), 0);
  EXPECT_TRUE(f->Labimageinfo->text().startsWith("Image Type: "))
      << f->Labimageinfo->text().toStdString();

  // The page in the preview folder is the rewritten one, and it is what the browser shows.
  const std::string page = Slurp(PreviewFolder() + "/Flavor.htm");
  EXPECT_NE(page.find("vAlign=top>" + SampleBlock() + "\r\n<DIV>Spring</DIV>"), std::string::npos);
  EXPECT_EQ(f->WebBrowser->url(),
            QUrl::fromLocalFile(QString::fromStdString(PreviewFolder() + "/Flavor.htm")));
  EXPECT_EQ(f->WebBrowser->title(), "Spring");
  struct stat st;
  ASSERT_EQ(::stat(PreviewFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A fixed drive: the snapshot is offered once the page has loaded.
  EXPECT_TRUE(f->Snapshot_btn->isEnabled());
}

TEST_F(Preview, UpperCaseNamesAndAMissingFontShowInRed) {
  auto f = Open(fFolder);
  ClickItem(*f, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabCollection->text(), "Fetes");
  EXPECT_EQ(f->LabFont->text(), "Comic Sans MS Unlikely");
  EXPECT_EQ(FontColour(*f), QColor(255, 0, 0));
  EXPECT_EQ(ListItems(f->Listimages), (std::vector<std::string>{"star.bmp"}));
  EXPECT_EQ(f->Labimageinfo->text().split('\n').first(), "Image Type: BMP");
  EXPECT_EQ(f->WebBrowser->title(), "Xmas");
  EXPECT_NE(Slurp(PreviewFolder() + "/FLAVOR.HTM").find(SampleBlock()), std::string::npos);
}

TEST_F(Preview, KeyboardSelectionGivesExactlyOneClickAndOneChange) {
  auto f = Open(fFolder);
  int clicks = 0, changes = 0;
  auto click = f->FileListBox->OnClick, change = f->FileListBox->OnChange;
  f->FileListBox->OnClick = [&](QObject *s) {
    ++clicks;
    click(s);
  };
  f->FileListBox->OnChange = [&](QObject *s) {
    ++changes;
    EXPECT_TRUE(f->ClickSeen); // the click has already started this selection's preview
    change(s);
    EXPECT_FALSE(f->ClickSeen);
  };
  f->FileListBox->setFocus();
  QTest::keyClick(f->FileListBox, Qt::Key_Down);
  EXPECT_EQ(f->FileListBox->ItemIndex(), 0);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(changes, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  // Clicking the item that is already selected raises nothing; the program's own
  // selection raises nothing either.
  ClickItem(*f, 0);
  f->FileListBox->setItemIndex(1);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(PreviewBusy);
}

TEST_F(Preview, SelectionWhileLoadingIsIgnored) {
  auto f = Open(fFolder);
  ClickItem(*f, 0);
  ASSERT_TRUE(PreviewBusy);
  ClickItem(*f, 1);
  EXPECT_EQ(f->FileListBox->ItemIndex(), 1); // the list shows the new selection
  EXPECT_FALSE(f->Snapshot_btn->isEnabled());
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabCollection->text(), "Saisons"); // the first template stays
  EXPECT_EQ(f->WebBrowser->title(), "Spring");
  EXPECT_TRUE(FileExists(PreviewFolder() + "/flower.gif"));
  // Once idle, the next selection is previewed.
  ClickItem(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  ClickItem(*f, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabCollection->text(), "Fetes");
  EXPECT_FALSE(FileExists(PreviewFolder() + "/flower.gif")); // each preview replaces the last
}

TEST_F(Preview, TheEndOfASupersededBlankPageDoesNotEndThePreview) {
  auto f = Open(Dir("elsewhere"));
  // The folder change asks for a blank page; the selection follows before that page
  // has finished. Only the template page's end may end the preview.
  f->setShellTreePath(fFolder);
  ClickItem(*f, 0);
  ASSERT_TRUE(PreviewBusy);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->WebBrowser->title(), "Spring");
  EXPECT_FALSE(PreviewBusy);
  EXPECT_TRUE(f->Snapshot_btn->isEnabled());
}

TEST_F(Preview, ADamagedTemplateShowsTheReadersMessageAndLeavesThePreviewIdle) {
  std::string bytes = Slurp(fFolder + "/b_spring.plm");
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(fFolder + "/a_damaged.plm", bytes);
  std::string expected;
  try {
    TSTCabReader r;
    r.ExtractFiles(fFolder + "/a_damaged.plm", Dir("probe"));
  } catch (const std::exception &e) {
    expected = e.what();
  }
  ASSERT_FALSE(expected.empty());

  auto f = Open(fFolder);
  ClickItem(*f, 0);
  ASSERT_EQ(fMessages.size(), 1);
  EXPECT_EQ(fMessages[0].toStdString(), expected);
  EXPECT_FALSE(PreviewBusy);
  EXPECT_EQ(ScreenCursor(), TScreenCursor::crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  ClickItem(*f, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabCollection->text(), "Saisons");
  EXPECT_EQ(fMessages.size(), 1);
}

TEST_F(Preview, ATemplateWithoutPageKeepsItsLabelsAndReportsTheMissingFile) {
  MakeTemplate(fFolder, "a_nopage.plm",
               {{"content.ini", ContentIni("Essais", "Sans page", "X")},
                {"pic.png", Picture("png", 10, 10)}});
  auto f = Open(fFolder);
  ClickItem(*f, 0);
  ASSERT_EQ(fMessages.size(), 1);
  EXPECT_TRUE(fMessages[0].startsWith("Impossible d'ouvrir le fichier"))
      << fMessages[0].toStdString();
  EXPECT_EQ(f->LabCollection->text(), "Essais");
  EXPECT_FALSE(PreviewBusy);
  EXPECT_EQ(ScreenCursor(), TScreenCursor::crDefault);
  ClickItem(*f, 2);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabCollection->text(), "Fetes");
}

TEST_F(Preview, MissingDescriptionShowsUnknowedAndSubFoldersAreListed) {
  MakeTemplate(fFolder, "a_bare.plm",
               {{"Flavor.htm", Page("Bare", "Liberation Sans ")},
                {"images\\shell.gif", Picture("gif", 8, 8)}});
  auto f = Open(fFolder);
  ClickItem(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabCollection->text(), "Unknowed");
  EXPECT_EQ(f->LabDisplay->text(), "Unknowed");
  EXPECT_EQ(f->LabTrademark->text(), "Unknowed");
  // The label shows the name as the page writes it; the blank is no part of the font's name.
  EXPECT_EQ(f->LabFont->text(), "Liberation Sans ");
  EXPECT_EQ(FontColour(*f), QColor(0, 128, 0));
  EXPECT_EQ(ListItems(f->Listimages), (std::vector<std::string>{"images"}));
  EXPECT_EQ(f->Labimageinfo->text().split('\n').first(), "Image Type Undefined");
  // The next preview starts from an empty folder: nothing of this one is left over.
  ClickItem(*f, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_FALSE(DirectoryExists(PreviewFolder() + "/images"));
}

TEST_F(Preview, NoSelectionOrAnEmptyFolderAsksForABlankPageOnly) {
  auto f = Open(Dir("empty"));
  EXPECT_EQ(f->FileListBox->count(), 0);
  f->LabCollection->setText("kept");
  f->selectedfile();
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->WebBrowser->url(), QUrl("about:blank"));
  EXPECT_EQ(f->LabCollection->text(), "kept");
  EXPECT_FALSE(f->Snapshot_btn->isEnabled());
  EXPECT_TRUE(fMessages.isEmpty());
}

TEST_F(Preview, AFolderChangeClearsTheInformationSide) {
  auto f = Open(fFolder);
  ClickItem(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  const std::string other = Dir("other");
  f->setShellTreePath(other);
  EXPECT_EQ(f->LastFolder, other);
  EXPECT_EQ(f->FileListBox->count(), 0);
  EXPECT_TRUE(f->LabCollection->text().isEmpty());
  EXPECT_TRUE(f->LabFont->text().isEmpty());
  EXPECT_EQ(f->Listimages->count(), 0);
  EXPECT_TRUE(f->Labimageinfo->text().isEmpty());
  EXPECT_FALSE(f->Snapshot_btn->isEnabled());
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_FALSE(f->Snapshot_btn->isEnabled()); // a blank page offers no snapshot
  // A folder that does not exist: the tree selects its deepest existing ancestor.
  f->setShellTreePath(fRoot + "/does-not-exist");
  EXPECT_EQ(f->LastFolder, fRoot);
}

class Guarded : public Preview {
protected:
  void SetUp() override {
    Preview::SetUp();
    ASSERT_TRUE(fServer.listen(QHostAddress::LocalHost));
    QObject::connect(&fServer, &QTcpServer::newConnection, [this] { ++fConnections; });
    const std::string secret = Dir("outside") + "/secret.png";
    WriteFileBytes(secret, Picture("png", 4, 4));
    const std::string origin = "http://127.0.0.1:" + std::to_string(fServer.serverPort());
    // Pictures, a style sheet and a redirection that would all tell a server the page
    // was opened, and files of the user outside the template.
    const std::string pictures = "<IMG src=\"" + origin + "/beacon.gif\"><IMG src=\"file://" +
                                 secret +
                                 "\"><IMG src=\"../outside/secret.png\"><IMG src=\"inside.gif\">"
                                 "<LINK rel=stylesheet href=\"" +
                                 origin +
                                 "/x.css\">"
                                 "<META http-equiv=refresh content=\"0; url=" +
                                 origin + "/opened\">";
    MakeTemplate(
        fFolder, "a_spy.plm",
        {{"Flavor.htm", Page("Spy", "Arial", pictures)}, {"inside.gif", Picture("gif", 4, 4)}});
  }

  bool Refused(const TF_Main &f, const QString &part) const {
    const QStringList &all = f.PreviewGuard->Refused();
    return std::any_of(all.begin(), all.end(), [&](const QString &u) { return u.contains(part); });
  }

  // Previews the spying template and waits until the redirection has been dealt with.
  void PreviewSpy(TF_Main &f) {
    bool redirected = false;
    QEventLoop loop;
    // The refresh tag is a navigation of the page's own: the page refuses it.
    auto r = QObject::connect(static_cast<TPreviewPage *>(f.WebBrowser->page()),
                              &TPreviewPage::NavigationRefused,
                              [&](const QUrl &u) { fPageRefused.append(u.toString()); });
    auto c = QObject::connect(f.WebBrowser->page(), &QWebEnginePage::loadingChanged,
                              [&](const QWebEngineLoadingInfo &info) {
                                if (info.url().path() == "/opened" &&
                                    info.status() != QWebEngineLoadingInfo::LoadStartedStatus) {
                                  redirected = true;
                                  loop.quit();
                                }
                              });
    ClickItem(f, 0);
    ASSERT_TRUE(WaitForPreview(f));
    EXPECT_EQ(f.WebBrowser->title(), "Spy");
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!redirected) loop.exec();
    QObject::disconnect(c);
    QObject::disconnect(r);
    ASSERT_TRUE(redirected);
  }

  QStringList fPageRefused;
  QTcpServer fServer;
  int fConnections = 0;
};

TEST_F(Guarded, ThePageReadsNoFileOutsideTheTemplateAndReachesNoServer) {
  auto f = Open(fFolder);
  PreviewSpy(*f);
  EXPECT_TRUE(Refused(*f, "outside/secret.png"));
  EXPECT_FALSE(Refused(*f, "inside.gif"));
  EXPECT_FALSE(Refused(*f, "Flavor.htm"));
  EXPECT_EQ(fConnections, 0);
  EXPECT_FALSE(fServer.hasPendingConnections());
}

TEST_F(Guarded, TheGuardAloneRefusesRemoteAddresses) {
  auto f = Open(fFolder);
  // Lift the browser's own restriction on local pages: the guard must still hold.
  f->WebBrowser->page()->settings()->setAttribute(
      QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
  PreviewSpy(*f);
  EXPECT_TRUE(Refused(*f, "/beacon.gif"));
  EXPECT_TRUE(Refused(*f, "/x.css"));
  EXPECT_TRUE(fPageRefused.contains(QString::fromStdString(
      "http://127.0.0.1:" + std::to_string(fServer.serverPort()) + "/opened")));
  EXPECT_TRUE(Refused(*f, "outside/secret.png"));
  EXPECT_EQ(fConnections, 0);
  EXPECT_FALSE(fServer.hasPendingConnections());
}

TEST(PreviewGuardRule, OnlyFilesOfTheFolderAndSelfContainedSchemesPass) {
  char tmpl[] = "/tmp/plm-guard-XXXXXX";
  const std::string root = ::mkdtemp(tmpl);
  const QString folder = QString::fromStdString(root + "/~plmlook");
  CreateDir(folder.toStdString());
  WriteFileBytes(root + "/~plmlook/a.gif", "x");
  ::symlink("/etc/passwd", (root + "/~plmlook/link").c_str());
  auto allowed = [&](const QString &u) { return TPreviewGuard::IsAllowed(QUrl(u), folder); };
  EXPECT_TRUE(allowed("file://" + folder + "/a.gif"));
  EXPECT_TRUE(allowed("file://" + folder + "/missing.gif"));
  EXPECT_TRUE(allowed("about:blank"));
  EXPECT_TRUE(allowed("data:image/gif;base64,R0lGOD"));
  EXPECT_FALSE(allowed("file://" + folder + "/link")); // a link out of the folder
  EXPECT_FALSE(allowed("file://" + folder + "/../x"));
  EXPECT_FALSE(allowed("file://" + folder + "x/a.gif")); // a sibling sharing the prefix
  EXPECT_FALSE(allowed("file:///etc/passwd"));
  EXPECT_FALSE(allowed("file://server" + folder + "/a.gif"));
  EXPECT_FALSE(allowed("http://127.0.0.1/x"));
  EXPECT_FALSE(allowed("https://example.invalid/"));
  EXPECT_FALSE(allowed("ws://127.0.0.1/"));
  EXPECT_FALSE(allowed("ftp://127.0.0.1/"));
  EXPECT_FALSE(TPreviewGuard::IsAllowed(QUrl("file://" + folder + "/a.gif"), QString()));
  std::system(("rm -rf '" + root + "'").c_str());
}

TEST_F(AppTest, ClearingThePreviewFolderNeverFollowsLinks) {
  const std::string outside = Dir("outside");
  WriteFileBytes(outside + "/keep.txt", "keep");
  CreateDir(PreviewFolder());
  ::symlink((outside + "/keep.txt").c_str(), (PreviewFolder() + "/file-link").c_str());
  ::symlink(outside.c_str(), (PreviewFolder() + "/dir-link").c_str());
  CreateDir(PreviewFolder() + "/sub");
  ::symlink(outside.c_str(), (PreviewFolder() + "/sub/deep-link").c_str());
  WriteFileBytes(PreviewFolder() + "/Flavor.htm", "x");
  TF_Main f;
  SetCurrentDir(PreviewFolder());
  f.Labimageinfo->setText("info");
  f.cleartempdir();
  EXPECT_FALSE(DirectoryExists(PreviewFolder()));
  EXPECT_EQ(Slurp(outside + "/keep.txt"), "keep");
  EXPECT_TRUE(f.Labimageinfo->text().isEmpty());
  EXPECT_EQ(GetCurrentDir() + "/", TempPath); // moved out of the folder before removing it
  // A link planted in place of the preview folder is removed, its target left alone.
  ::symlink(outside.c_str(), PreviewFolder().c_str());
  f.cleartempdir();
  EXPECT_FALSE(IsSymLink(PreviewFolder()));
  EXPECT_EQ(Slurp(outside + "/keep.txt"), "keep");
}

TEST_F(AppTest, SettingsLoadFollowsTheUsualFolderRules) {
  const std::string a = Dir("A"), b = Dir("B"), last = Dir("last");
  WriteFileBytes(SettingsPath(), "[General]\r\nLastFolder=" + last +
                                     "\r\nSavePath=/saved/\r\n"
                                     "[ListUsualFolder]\r\nFolder0=" +
                                     a + "  \r\nFolder7=" + b + "\r\nFolder3=" + fRoot +
                                     "/gone\r\nFolder4=\r\nfolder0=" + b + "\r\n");
  TF_Main f;
  f.CB_UsualFolder->addItem("stale");
  f.Majdata();
  ASSERT_EQ(f.CB_UsualFolder->count(), 2);
  EXPECT_EQ(f.CB_UsualFolder->itemText(0).toStdString(), a);
  EXPECT_EQ(f.CB_UsualFolder->itemText(1).toStdString(), b);
  EXPECT_EQ(f.LastFolder, last);
  EXPECT_EQ(SavePath, "/saved/");
  EXPECT_EQ(f.ShellTreePath(), last);
  EXPECT_EQ(f.FileListBox->Directory(), last);
  EXPECT_FALSE(PreviewBusy);
  EXPECT_FALSE(f.ClickSeen);
}

TEST_F(AppTest, CloseWritesSettingsWithGapsAndKeepsAnOldSavePath) {
  const std::string a = Dir("A"), b = Dir("B"), c = Dir("C");
  WriteFileBytes(SettingsPath(),
                 "[General]\r\nSavePath=/kept/\r\n[ListUsualFolder]\r\nFolder9=/old\r\n");
  auto f = Open(a);
  f->CB_UsualFolder->clear();
  for (const auto &d : {a, b, c})
    f->CB_UsualFolder->addItem(QString::fromStdString(d), QByteArray::fromStdString(d));
  ::rmdir(b.c_str());
  SavePath.clear();
  f->close();
  EXPECT_FALSE(f->isVisible());
  const TIniFile ini(SettingsPath());
  EXPECT_EQ(ini.ReadString("General", "LastFolder", ""), a);
  EXPECT_EQ(ini.ReadString("General", "SavePath", ""), "/kept/");
  EXPECT_EQ(ini.ReadSection("ListUsualFolder"), (std::vector<std::string>{"Folder0", "Folder2"}));
  EXPECT_EQ(ini.ReadString("ListUsualFolder", "Folder2", ""), c);
  EXPECT_TRUE(fMessages.isEmpty());
}

TEST_F(AppTest, FirstStartWithoutSettingsShowsHomeAndCreatesTheFileAtClose) {
  ::unlink(SettingsPath().c_str());
  ::rmdir(ExtractFilePath(SettingsPath()).c_str()); // the settings folder is made too
  auto f = Open();
  EXPECT_EQ(f->CB_UsualFolder->count(), 0);
  EXPECT_EQ(f->FileListBox->Directory(), fRoot + "/home");
  SavePath = "/pictures/";
  f->close();
  const TIniFile ini(SettingsPath());
  EXPECT_EQ(ini.ReadString("General", "LastFolder", ""), fRoot + "/home");
  EXPECT_EQ(ini.ReadString("General", "SavePath", ""), "/pictures/");
  EXPECT_FALSE(ini.SectionExists("ListUsualFolder"));
}

TEST_F(AppTest, ACloseWhoseSettingsCannotBeWrittenReportsAndStillCloses) {
  WriteFileBytes(SettingsPath(), "[General]\r\nLastFolder=/x\r\n");
  ::chmod(SettingsPath().c_str(), 0444);
  auto f = Open(Dir("A"));
  f->close();
  EXPECT_FALSE(f->isVisible());
  ASSERT_EQ(fMessages.size(), 1);
  EXPECT_EQ(fMessages[0].toStdString(), "Impossible d'écrire dans " + SettingsPath());
  EXPECT_EQ(Slurp(SettingsPath()), "[General]\r\nLastFolder=/x\r\n");
}

TEST_F(Preview, EachPreviewShowsItsOwnPicturesEvenUnderTheSameNames) {
  // Two templates whose page and picture have the same names but different colours: the
  // second must never be shown with the first one's picture.
  auto solid = [](QColor c) {
    QImage img(64, 64, QImage::Format_RGB32);
    img.fill(c);
    return plm::samples::EncodePicture(img, "png");
  };
  const std::string page =
      "<HTML><BODY style=\"margin:0\"><IMG src=\"pic.png\" width=300 height=300>"
      "<TABLE><TR><TD id=PLUMORATEXTREGION>x</TD></TR></TABLE></BODY></HTML>";
  const std::string dir = Dir("same");
  MakeTemplate(dir, "1.plm", {{"Flavor.htm", page}, {"pic.png", solid(Qt::red)}});
  MakeTemplate(dir, "2.plm", {{"Flavor.htm", page}, {"pic.png", solid(Qt::blue)}});
  auto f = Open(dir);
  auto shows = [&](QColor c) {
    return QTest::qWaitFor(
        [&] { return f->WebBrowser->grab().toImage().pixelColor(150, 150) == c; }, 10000);
  };
  ClickItem(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_TRUE(shows(Qt::red));
  ClickItem(*f, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_TRUE(shows(Qt::blue));
  ClickItem(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_TRUE(shows(Qt::red));
}

TEST_F(Preview, EscapeClosesTheWindowAfterTheCloseStep) {
  auto f = Open(fFolder);
  ClickItem(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  ASSERT_TRUE(DirectoryExists(PreviewFolder()));
  int otherKeys = 0;
  // Other keys pass on to the control that has the focus.
  f->FileListBox->setFocus();
  QTest::keyClick(f->FileListBox, Qt::Key_Down);
  otherKeys += f->FileListBox->ItemIndex() == 1;
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(otherKeys, 1);
  QTest::keyClick(f->FileListBox, Qt::Key_Escape);
  EXPECT_FALSE(f->isVisible());
  EXPECT_FALSE(DirectoryExists(PreviewFolder()));
  EXPECT_EQ(TIniFile(SettingsPath()).ReadString("General", "LastFolder", ""), fFolder);
}

TEST_F(AppTest, MenuQuitRunsTheCloseStepOnce) {
  auto f = Open(Dir("A"));
  f->Exit1->trigger();
  EXPECT_FALSE(f->isVisible());
  EXPECT_TRUE(FileExists(SettingsPath()));
  ::unlink(SettingsPath().c_str());
  f->reject(); // already closed: no second close step
  EXPECT_FALSE(FileExists(SettingsPath()));
}

namespace {

// Runs the About window from its menu, and acts on it once it is up.
void WithAbout(TF_Main &f, const std::function<void(TFAbout &)> &act, bool &closed) {
  closed = false;
  QTimer::singleShot(0, [&] {
    auto *about = qobject_cast<TFAbout *>(QApplication::activeModalWidget());
    ASSERT_NE(about, nullptr);
    act(*about);
    closed = !about->isVisible();
    if (!closed) about->close(); // end the modal run whatever happened
  });
  f.Aboutbox->trigger();
}

} // namespace

TEST_F(AppTest, AboutWindowKeys) {
  auto f = Open(Dir("A"));
  bool closed = false;
  WithAbout(
      *f,
      [](TFAbout &a) {
        EXPECT_EQ(a.windowTitle(), "Au sujet du Visualisateur d'élément d'Plumora");
        EXPECT_EQ(a.size(), QSize(388, 229));
        EXPECT_EQ(a.Button1->text(), "Fermer");
        EXPECT_EQ(a.Button1->geometry(), QRect(156, 200, 75, 25));
        EXPECT_EQ(a.focusWidget(), a.Button1);
      },
      closed);
  for (int key : {Qt::Key_Escape, Qt::Key_Space, Qt::Key_Backspace, Qt::Key_Tab, Qt::Key_Delete}) {
    WithAbout(
        *f, [key](TFAbout &a) { QTest::keyClick(a.Memo1, Qt::Key(key)); }, closed);
    EXPECT_TRUE(closed) << key;
  }
  // Enter acts through the focused button only.
  WithAbout(
      *f, [](TFAbout &a) { QTest::keyClick(a.Button1, Qt::Key_Return); }, closed);
  EXPECT_TRUE(closed);
  WithAbout(
      *f,
      [](TFAbout &a) {
        a.Memo1->setFocus();
        QTest::keyClick(a.Memo1, Qt::Key_Return);
        QTest::keyClick(a.Memo1, Qt::Key_A);
      },
      closed);
  EXPECT_FALSE(closed);
  WithAbout(
      *f, [](TFAbout &a) { a.Button1->click(); }, closed);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(f->isVisible()); // the main window stays
}

TEST_F(AppTest, MainWindowDesign) {
  TF_Main f;
  EXPECT_EQ(f.windowTitle(), "Visualisateur de modèle de lettre Plumora");
  EXPECT_EQ(f.size(), QSize(1023, 764));
  EXPECT_EQ(f.FileListBox->geometry(), QRect(3, 381, 299, 333));
  EXPECT_EQ(f.GroupBox2->geometry(), QRect(307, 129, 703, 585));
  EXPECT_EQ(f.WebBrowser->geometry(), QRect(2, 15, 699, 568));
  EXPECT_EQ(f.WebBrowser->focusPolicy() & Qt::TabFocus, 0);
  EXPECT_FALSE(f.Snapshot_btn->isEnabled());
  EXPECT_EQ(f.Snapshot_btn->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(f.TrackBar1->value(), 8);
  EXPECT_EQ(f.coefsize->value(), 100);
  EXPECT_EQ(f.imagesize->text(), "699 x 568");
  // The scale takes its arrows, not typing.
  f.coefsize->setValue(50);
  QTest::keyClick(f.coefsize, Qt::Key_Up);
  QTest::keyClicks(f.coefsize, "9");
  EXPECT_EQ(f.coefsize->value(), 51);
  EXPECT_EQ(f.Installplm1->text(), "Installer la  lettre");
  EXPECT_EQ(f.LabFont->toolTip(),
            "Si c'est rouge, la police n'est pas installée sur votre système");
  for (const char *name : {"UnPas21", "DiskCaps1", "ShellTree", "CB_UsualFolder"})
    EXPECT_NE(f.findChild<QObject *>(name), nullptr) << name;
  // The cabinet components are the window's own members, not children.
  EXPECT_NE(f.CabReader, nullptr);
  EXPECT_NE(f.STCabWriter1, nullptr);
  // Tab order from the file list.
  QWidget *w = f.FileListBox;
  std::vector<std::string> order;
  for (int i = 0; i < 7; ++i, w = w->nextInFocusChain()) {
    while (!(w->focusPolicy() & Qt::TabFocus))
      w = w->nextInFocusChain();
    order.push_back(w->objectName().toStdString());
  }
  EXPECT_EQ(order,
            (std::vector<std::string>{"FileListBox", "ShellTree", "Listimages", "CB_UsualFolder",
                                      "TrackBar1", "Qualvalue", "coefsize"}));
}
