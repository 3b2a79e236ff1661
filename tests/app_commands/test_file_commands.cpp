// The file list's popup commands on the real main window: what a right-click
// selects, which items the menu offers on each kind of drive, deleting and
// installing templates.
#include "CommandsFixture.h"
#include "Pictures.h"
#include "Templates.h"
#include "app/FileListBox.h"
#include "app/Uglobalvar.h"
#include "components/DiskCaps.h"
#include "platform/FileSys.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QWebEngineView>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace plm;
using namespace fixtures;

namespace {

const QString kDeleteFailed =
    QString::fromUtf8("Quelque chose empèche l'effacement du fichier.\r\n"
                      "Vérifiez s'il n'est pas utilisé par une autre application ou sur un CD");

// Makes a file that even root cannot delete; false where the file system
// refuses.
bool MakeImmutable(const std::string &path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

class FileCommands : public CommandsTest {
protected:
  void SetUp() override {
    CommandsTest::SetUp();
    fLetters = Folder("letters");
    Template(fLetters, "a.plm", "Premier");
    Template(fLetters, "b.plm", "Second");
    Template(fLetters, "c.plm", "Troisieme");
  }
  // Opens the menu with a right-click on the item and returns the items'
  // states.
  std::pair<bool, bool> MenuStatesAfterRightClick(TF_Main &f, int index) {
    RightClick(f, index);
    EXPECT_TRUE(f.Popuplistfile->isVisible());
    const std::pair<bool, bool> states{f.Removefile1->isEnabled(), f.Installplm1->isEnabled()};
    CloseMenu(f);
    return states;
  }
  std::string fLetters;
};

} // namespace

TEST_F(FileCommands, RightClickOnAnItemSelectsAndPreviewsItFirst) {
  auto f = Open(fLetters);
  ASSERT_EQ(f->FileListBox->count(), 3);
  RightClick(*f, 1);
  EXPECT_EQ(f->FileListBox->ItemIndex(), 1);
  EXPECT_TRUE(f->ClickSeen);
  EXPECT_TRUE(f->Popuplistfile->isVisible());
  EXPECT_TRUE(f->Removefile1->isEnabled());
  EXPECT_TRUE(f->Installplm1->isEnabled());
  EXPECT_FALSE(f->PopupOnEmptyArea);
  CloseMenu(*f);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabDisplay->text(), "Second");
}

TEST_F(FileCommands, RightClickOnTheEmptyAreaDisablesBothAndChangesNothing) {
  auto f = Open(fLetters);
  LeftClick(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  RightClickBelowItems(*f);
  EXPECT_TRUE(f->Popuplistfile->isVisible());
  EXPECT_FALSE(f->Removefile1->isEnabled());
  EXPECT_FALSE(f->Installplm1->isEnabled());
  EXPECT_FALSE(f->PopupOnEmptyArea); // reset by the menu
  CloseMenu(*f);
  EXPECT_EQ(f->FileListBox->ItemIndex(), 0);
  EXPECT_EQ(f->LabDisplay->text(), "Premier");
  EXPECT_FALSE(PreviewBusy);
  // The next right-click on an item is judged on its own.
  EXPECT_EQ(MenuStatesAfterRightClick(*f, 0), std::make_pair(true, true));
}

// One main window: a second one in the same process would be a later start, which hands
// over to the first and sets nothing up.
TEST_F(FileCommands, MenuFollowsTheDriveTypeAndTheMailClient) {
  const std::pair<int, bool> kinds[] = {{DRIVE_UNKNOWN, false},  {DRIVE_NO_ROOT_DIR, false},
                                        {DRIVE_REMOVABLE, true}, {DRIVE_FIXED, true},
                                        {DRIVE_REMOTE, true},    {DRIVE_CDROM, false},
                                        {DRIVE_RAMDISK, false}};
  // The folders exist before the window lists their parent, as a user's folders do.
  for (const auto &[type, deletable] : kinds)
    Template(Folder("kind" + std::to_string(type), type), "t.plm", "T");
  auto f = Open(fLetters);
  for (bool registered : {true, false}) {
    MailClientRegistered = registered; // looked at each time the menu opens
    for (const auto &[type, deletable] : kinds) {
      f->setShellTreePath(fRoot + "/kind" + std::to_string(type));
      ASSERT_EQ(f->DiskCaps1->DriveType(), type) << f->ShellTree->Path() << " / " << f->DiskCaps1->Drive();
      const auto [remove, install] = MenuStatesAfterRightClick(*f, 0);
      EXPECT_EQ(remove, deletable) << "drive type " << type;
      EXPECT_EQ(install, registered) << "drive type " << type;
      WaitForPreview(*f);
    }
  }
}

TEST_F(FileCommands, KeyboardMenuWithNoFileSelectedOffersNothing) {
  auto f = Open(fLetters);
  ASSERT_EQ(f->FileListBox->ItemIndex(), -1);
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5),
                        f->FileListBox->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(f->FileListBox, &key);
  EXPECT_TRUE(f->Popuplistfile->isVisible());
  EXPECT_FALSE(f->Removefile1->isEnabled());
  EXPECT_FALSE(f->Installplm1->isEnabled());
  CloseMenu(*f);

  LeftClick(*f, 2);
  ASSERT_TRUE(WaitForPreview(*f));
  QContextMenuEvent again(QContextMenuEvent::Keyboard, QPoint(5, 5),
                          f->FileListBox->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(f->FileListBox, &again);
  EXPECT_TRUE(f->Removefile1->isEnabled());
  EXPECT_TRUE(f->Installplm1->isEnabled());
  CloseMenu(*f);
}

TEST_F(FileCommands, DeletingTheLastOfThreeSelectsAndPreviewsTheNewLast) {
  auto f = Open(fLetters);
  LeftClick(*f, 2);
  ASSERT_TRUE(WaitForPreview(*f));
  RightClick(*f, 2);
  ASSERT_TRUE(WaitForPreview(*f) || !PreviewBusy);
  // A real click on the menu item.
  const QRect r = f->Popuplistfile->actionGeometry(f->Removefile1);
  QTest::mouseClick(f->Popuplistfile, Qt::LeftButton, {}, r.center());
  ASSERT_EQ(fMessages.size(), 1u);
  const MessageRequest &q = fMessages[0];
  EXPECT_EQ(q.text, "Voulez-vous vraiment effacer 'c.plm'?");
  EXPECT_EQ(q.type, TMsgDlgType::mtWarning);
  EXPECT_EQ(q.buttons, unsigned(mbYes | mbCancel));
  EXPECT_EQ(q.defaultButton, mbYes);
  EXPECT_EQ(q.escapeButton, mbCancel);
  EXPECT_FALSE(FileExists(fLetters + "/c.plm"));
  ASSERT_EQ(f->FileListBox->count(), 2);
  EXPECT_EQ(f->FileListBox->ItemIndex(), 1);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabDisplay->text(), "Second");
}

TEST_F(FileCommands, DeletingAMiddleItemPreviewsTheOneThatTakesItsPlace) {
  auto f = Open(fLetters);
  LeftClick(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  f->Removefile1Click();
  EXPECT_FALSE(FileExists(fLetters + "/a.plm"));
  EXPECT_EQ(f->FileListBox->ItemIndex(), 0);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabDisplay->text(), "Second");
}

TEST_F(FileCommands, DeletingTheOnlyItemEmptiesTheListAndTheInformation) {
  const std::string alone = Folder("alone");
  Template(alone, "seul.plm", "Seul");
  auto f = Open(alone);
  LeftClick(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  f->Removefile1Click();
  EXPECT_FALSE(FileExists(alone + "/seul.plm"));
  EXPECT_EQ(f->FileListBox->count(), 0);
  EXPECT_TRUE(f->LabDisplay->text().isEmpty());
  EXPECT_TRUE(f->LabCollection->text().isEmpty());
  EXPECT_TRUE(f->LabFont->text().isEmpty());
  EXPECT_EQ(f->Listimages->count(), 0);
  EXPECT_FALSE(f->Snapshot_btn->isEnabled());
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->WebBrowser->url().toString(), "about:blank");
}

TEST_F(FileCommands, CancelChangesNothing) {
  auto f = Open(fLetters);
  LeftClick(*f, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  fAnswer = mrCancel;
  f->Removefile1Click();
  ASSERT_EQ(fMessages.size(), 1u);
  EXPECT_TRUE(FileExists(fLetters + "/b.plm"));
  EXPECT_EQ(f->FileListBox->count(), 3);
  EXPECT_EQ(f->FileListBox->ItemIndex(), 1);
  EXPECT_EQ(f->LabDisplay->text(), "Second");
}

TEST_F(FileCommands, AFileThatCannotBeDeletedShowsTheMessageAndStays) {
  auto f = Open(fLetters);
  LeftClick(*f, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  if (!MakeImmutable(fLetters + "/b.plm", true))
    GTEST_SKIP() << "this file system cannot protect a file from root";
  f->Removefile1Click();
  MakeImmutable(fLetters + "/b.plm", false);
  ASSERT_EQ(fMessages.size(), 2u);
  EXPECT_EQ(fMessages[1].text, kDeleteFailed);
  EXPECT_EQ(fMessages[1].buttons, unsigned(mbOK));
  EXPECT_TRUE(FileExists(fLetters + "/b.plm"));
  EXPECT_EQ(f->FileListBox->count(), 3);
  EXPECT_EQ(f->FileListBox->ItemIndex(), 1);
  EXPECT_EQ(f->LabDisplay->text(), "Second");
}

TEST_F(FileCommands, AVanishedFileIsSkippedQuietlyAndADamagedNextOneIsReported) {
  WriteText(fLetters + "/d.plm", "not a cabinet at all");
  auto f = Open(fLetters);
  LeftClick(*f, 1);
  ASSERT_TRUE(WaitForPreview(*f));
  DeleteFile(fLetters + "/b.plm"); // gone behind the viewer's back
  f->Removefile1Click();
  EXPECT_EQ(fMessages.size(), 1u); // the question only
  EXPECT_EQ(f->FileListBox->count(), 3);
  EXPECT_EQ(f->FileListBox->ItemIndex(), 1);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_EQ(f->LabDisplay->text(), "Troisieme");

  // Deleting c.plm makes the damaged d.plm the next one: its failure has the
  // same message.
  f->Removefile1Click();
  ASSERT_EQ(fMessages.size(), 3u);
  EXPECT_EQ(fMessages[2].text, kDeleteFailed);
  EXPECT_FALSE(FileExists(fLetters + "/c.plm"));
  EXPECT_FALSE(PreviewBusy);
}

TEST_F(FileCommands, InstallHandsTheTemplateToTheRegisteredProgram) {
  auto f = Open(fLetters);
  RightClick(*f, 2);
  ASSERT_TRUE(f->Installplm1->isEnabled());
  f->Installplm1->trigger();
  CloseMenu(*f);
  ASSERT_EQ(fLaunched.size(), 1u);
  EXPECT_EQ(fLaunched[0], fLetters + "/c.plm");
  EXPECT_TRUE(FileExists(fLetters + "/c.plm"));
  WaitForPreview(*f);
}
