// The left column of the real main window: the folder tree chooses the folder listed, the
// usual-folders box jumps to a folder and is managed through its popup menu, and both are
// kept in the settings file.
#include "tests/app/AppFixture.h"

#include "components/DiskCaps.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/LineList.h"
#include "platform/Volumes.h"

#include <QAbstractItemView>
#include <QTest>

#include <unistd.h>
#include "tests/support/QtTry.h"

using namespace plm;
using namespace plmtest;

namespace {

class UsualFolders : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    fA = Dir("A");
    fB = Dir("B");
    MakeTemplate(fA, "one.plm", {{"Flavor.htm", Page("One", "Arial")}});
    MakeTemplate(fA, "two.plm", {{"Flavor.htm", Page("Two", "Arial")}});
  }

  static void AddUsual(TF_Main &f, const std::string &folder) {
    f.CB_UsualFolder->addItem(QString::fromStdString(folder), QByteArray::fromStdString(folder));
  }

  // Opens the box's list, picks the item with the keyboard and waits until the box has
  // heard its list close (its width is back).
  static void Pick(TF_Main &f, int index) {
    TEComboBox *box = f.CB_UsualFolder;
    const int width = box->width();
    box->showPopup();
    QAbstractItemView *list = box->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    EXPECT_EQ(box->width(), 936); // wide while open, for long paths
    list->setCurrentIndex(list->model()->index(index, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_COMPARE(box->width(), width);
  }

  // Opens the box's popup menu and runs one of its commands, as the mouse would.
  static void RunMenu(TF_Main &f, QAction *command) {
    f.PPMn_UsualFolder->popup(f.CB_UsualFolder->mapToGlobal(QPoint(5, 5)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.PPMn_UsualFolder));
    const bool enabled = command->isEnabled();
    f.PPMn_UsualFolder->close();
    if (enabled) command->trigger();
  }

  std::string fA, fB;
};

TEST_F(UsualFolders, PickingAUsualFolderShowsItsTemplatesAndKeepsThePick) {
  auto f = Open(fB);
  f->LabCollection->setText("old");
  AddUsual(*f, fB);
  AddUsual(*f, fA);
  Pick(*f, 1);
  EXPECT_EQ(f->ShellTreePath(), fA);
  EXPECT_EQ(f->ShellTree->Selected()->Text(), "A");
  EXPECT_EQ(f->FileListBox->Directory(), fA);
  EXPECT_EQ(f->FileListBox->count(), 2);
  EXPECT_EQ(f->FileListBox->ItemIndex(), -1);
  EXPECT_TRUE(f->LabCollection->text().isEmpty());
  EXPECT_EQ(f->CB_UsualFolder->currentIndex(), 1);
  EXPECT_EQ(f->LastFolder, fA);
  // The tree moved elsewhere: the box no longer shows a choice.
  f->setShellTreePath(fB);
  EXPECT_EQ(f->CB_UsualFolder->currentIndex(), -1);
}

TEST_F(UsualFolders, AVanishedFolderIsDroppedSilentlyAndTheOthersAreSaved) {
  const std::string gone = Dir("gone");
  auto f = Open(fB);
  AddUsual(*f, fA);
  AddUsual(*f, gone);
  AddUsual(*f, fB);
  ::rmdir(gone.c_str());
  Pick(*f, 1);
  ASSERT_EQ(f->CB_UsualFolder->count(), 2);
  EXPECT_EQ(f->CB_UsualFolder->itemText(0).toStdString(), fA);
  EXPECT_EQ(f->CB_UsualFolder->itemText(1).toStdString(), fB);
  EXPECT_EQ(f->CB_UsualFolder->currentIndex(), -1);
  EXPECT_EQ(f->ShellTreePath(), fB);
  EXPECT_TRUE(fMessages.isEmpty());

  f->close();
  const TIniFile ini(SettingsPath());
  EXPECT_EQ(ini.ReadString("General", "LastFolder", ""), fB);
  EXPECT_EQ(ini.ReadSection("ListUsualFolder"), (std::vector<std::string>{"Folder0", "Folder1"}));
  EXPECT_EQ(ini.ReadString("ListUsualFolder", "Folder0", ""), fA);
  EXPECT_EQ(ini.ReadString("ListUsualFolder", "Folder1", ""), fB);
}

TEST_F(UsualFolders, AnEntryWrittenOtherwiseThanTheTreesPathLosesItsSelection) {
  auto f = Open(fB);
  AddUsual(*f, fA + "/");
  Pick(*f, 0);
  EXPECT_EQ(f->ShellTreePath(), fA);
  EXPECT_EQ(f->FileListBox->Directory(), fA);
  EXPECT_EQ(f->CB_UsualFolder->currentIndex(), -1);
  EXPECT_EQ(f->CB_UsualFolder->count(), 1);
}

TEST_F(UsualFolders, TheMenuAddsTheTreesFolderEachTimeAndRemovesThePick) {
  auto f = Open(fA);
  f->PPMn_UsualFolderPopup();
  EXPECT_TRUE(f->Addfolder->isEnabled());
  EXPECT_FALSE(f->Removefolder->isEnabled()); // nothing picked
  RunMenu(*f, f->Addfolder);
  RunMenu(*f, f->Addfolder);
  ASSERT_EQ(f->CB_UsualFolder->count(), 2);
  EXPECT_EQ(f->CB_UsualFolder->itemText(1).toStdString(), fA);
  EXPECT_EQ(f->CB_UsualFolder->currentIndex(), -1);

  // A tree node without a folder of its own: nothing to add.
  f->ShellTree->setCurrentItem(nullptr);
  f->PPMn_UsualFolderPopup();
  EXPECT_FALSE(f->Addfolder->isEnabled());
  f->setShellTreePath(fA);

  f->close();
  const TIniFile ini(SettingsPath());
  EXPECT_EQ(ini.ReadString("ListUsualFolder", "Folder0", ""), fA);
  EXPECT_EQ(ini.ReadString("ListUsualFolder", "Folder1", ""), fA);
}

TEST_F(UsualFolders, RemovingDropsThePickedEntryOnly) {
  auto f = Open(fB);
  AddUsual(*f, fA);
  AddUsual(*f, fB);
  Pick(*f, 0);
  f->PPMn_UsualFolderPopup();
  EXPECT_TRUE(f->Removefolder->isEnabled());
  RunMenu(*f, f->Removefolder);
  ASSERT_EQ(f->CB_UsualFolder->count(), 1);
  EXPECT_EQ(f->CB_UsualFolder->itemText(0).toStdString(), fB);
  EXPECT_EQ(f->CB_UsualFolder->currentIndex(), -1);
  EXPECT_EQ(f->ShellTreePath(), fA); // the folder shown stays
}

TEST_F(UsualFolders, ANodeWithoutAFolderKeepsThePreviousFolderListed) {
  auto f = Open(fA);
  plm::TShellnode *root = f->ShellTree->RootNode();
  plm::TShellnode *computer = nullptr;
  for (int i = 0; i < root->Count(); ++i)
    if (root->Child(i)->Text() == "Ordinateur") computer = root->Child(i);
  ASSERT_NE(computer, nullptr);
  f->ShellTree->setSelected(computer);
  EXPECT_EQ(f->ShellTreePath(), "");
  EXPECT_EQ(f->FileListBox->Directory(), fA);
  EXPECT_EQ(f->FileListBox->count(), 2);
  EXPECT_EQ(f->LastFolder, fA);
}

TEST_F(UsualFolders, StartUpShowsTheLastFolderInTheTree) {
  WriteFileBytes(SettingsPath(), "[General]\r\nLastFolder=" + fA + "\r\n[ListUsualFolder]\r\n"
                                 "Folder0=" + fB + "\r\n");
  auto f = Open();
  EXPECT_EQ(f->ShellTreePath(), fA);
  EXPECT_TRUE(f->ShellTree->Selected()->isExpanded());
  EXPECT_EQ(f->FileListBox->Directory(), fA);
  EXPECT_EQ(f->CB_UsualFolder->count(), 1);
  EXPECT_EQ(f->CB_UsualFolder->currentIndex(), -1);
}

TEST_F(UsualFolders, TheDiskProbeFollowsTheFoldersVolumeAndANetworkPathIsNoDrive) {
  auto f = Open(fA);
  EXPECT_EQ(f->DiskCaps1->Drive(), MountPointOf(fA));
  EXPECT_EQ(TF_Main::ProbeDriveOf(fA), MountPointOf(fA));
  EXPECT_EQ(TF_Main::ProbeDriveOf("//server/share/letters"), "//server/");
  // Deleting a template is never offered on a network path.
  f->FileListBox->setItemIndex(0);
  f->DiskCaps1->setDrive(TF_Main::ProbeDriveOf("//server/share/letters"));
  f->PopuplistfilePopup();
  EXPECT_FALSE(f->Removefile1->isEnabled());
  const int type = f->DiskCaps1->DriveType();
  EXPECT_TRUE(type != DRIVE_REMOVABLE && type != DRIVE_FIXED && type != DRIVE_REMOTE) << type;
}

} // namespace
