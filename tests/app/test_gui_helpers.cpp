// The window framework's helpers: the guard around every event handler and the error
// report, the dialog seam, the screen cursor, the installed-font test, key preview and
// the file list.
#include "tests/app/AppFixture.h"

#include "app/FileListBox.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/gui/Cursors.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/Hints.h"
#include "platform/gui/KeyPreview.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

using namespace plm;
using namespace plmtest;

TEST_F(AppTest, GuardReportsFailuresAndStaysSilentForAbort) {
  GuardCall([] { throw EAbort(); });
  EXPECT_TRUE(fMessages.isEmpty());
  GuardCall([] { throw EFOpenError("Impossible d'ouvrir le fichier \"x\". \xe9"); });
  GuardCall([] { throw std::runtime_error("plain"); });
  GuardCall([] { throw 42; });
  bool ran = false;
  GuardCall([&] { ran = true; });
  EXPECT_TRUE(ran);
  ASSERT_EQ(fMessages.size(), 3);
  EXPECT_EQ(fMessages[0],
            QString::fromUtf8("Impossible d'ouvrir le fichier \"x\". é")); // 8-bit text shown right
  EXPECT_EQ(fMessages[1], "plain");
  EXPECT_EQ(fMessages[2], "Exception inconnue");
  // A wrapped handler for connect() passes its arguments on.
  int got = 0;
  auto slot = Guarded([&](int v) {
    got = v;
    throw Exception("from slot");
  });
  slot(7);
  EXPECT_EQ(got, 7);
  EXPECT_EQ(fMessages.last(), "from slot");
}

TEST_F(AppTest, DialogSeamAnswersInPlaceOfThePerson) {
  MessageRequest seen;
  auto previous = SetMessageHandler([&](const MessageRequest &r) {
    seen = r;
    return mrYes;
  });
  MessageRequest q;
  q.text = "Voulez-vous vraiment effacer 'a.plm'?";
  q.type = TMsgDlgType::mtWarning;
  q.buttons = mbYes | mbCancel;
  q.defaultButton = mbYes;
  q.escapeButton = mbCancel;
  EXPECT_EQ(MessageDlg(q), mrYes);
  EXPECT_EQ(seen.buttons, unsigned(mbYes | mbCancel));
  EXPECT_EQ(seen.escapeButton, mbCancel);
  ShowMessage(nullptr, "plain box");
  EXPECT_EQ(seen.text, "plain box");
  EXPECT_EQ(seen.buttons, unsigned(mbOK));
  SetMessageHandler(previous);

  SaveDialogRequest asked;
  auto old = SetSaveDialogHandler([&](const SaveDialogRequest &r) {
    asked = r;
    return std::optional<QString>("/chosen/image1.GIF");
  });
  SaveDialogRequest r;
  r.fileName = "image1.GIF";
  r.initialDir = "/saved";
  EXPECT_EQ(ExecuteSaveDialog(r), std::optional<QString>("/chosen/image1.GIF"));
  EXPECT_EQ(asked.initialDir, "/saved");
  EXPECT_TRUE(asked.overwritePrompt);
  SetSaveDialogHandler([](const SaveDialogRequest &) { return std::nullopt; });
  EXPECT_FALSE(ExecuteSaveDialog(r).has_value());
  SetSaveDialogHandler(old);
}

TEST_F(AppTest, ScreenCursorIsOneValueForTheWholeApplication) {
  SetScreenCursor(TScreenCursor::crHourGlass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  SetScreenCursor(TScreenCursor::crAppStart); // replaces, does not stack
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
  EXPECT_EQ(ScreenCursor(), TScreenCursor::crAppStart);
  QGuiApplication::setOverrideCursor(Qt::CrossCursor); // somebody else's, stacked on top
  SetScreenCursor(TScreenCursor::crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(ScreenCursor(), TScreenCursor::crDefault);
}

TEST_F(AppTest, SettingsLoadDoublesTheHintTime) {
  TF_Main f;
  SetHintHidePause(DefaultHintHidePause);
  f.Majdata();
  f.Majdata();
  EXPECT_EQ(HintHidePause(), 4 * DefaultHintHidePause);
  SetHintHidePause(DefaultHintHidePause);
}

TEST_F(AppTest, KeyPreviewSeesEachPressOnceBeforeTheControl) {
  QWidget window;
  auto *layout = new QVBoxLayout(&window);
  auto *edit = new QLineEdit(&window);
  auto *label = new QLabel("x", &window);
  label->setFocusPolicy(Qt::StrongFocus);
  layout->addWidget(edit);
  layout->addWidget(label);
  std::vector<int> keys;
  new TKeyPreview(&window, [&](int &key, Qt::KeyboardModifiers) {
    keys.push_back(key);
    if (key == Qt::Key_Z) key = 0; // consumed: the control never sees it
  });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::keyClicks(edit, "az");
  EXPECT_EQ(edit->text(), "a");
  // A press the label ignores travels up to the window, and is still seen once.
  QTest::keyClick(label, Qt::Key_F5);
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_EQ(keys, (std::vector<int>{Qt::Key_A, Qt::Key_Z, Qt::Key_F5, Qt::Key_Escape}));
  // Another window's keys are not this one's.
  QLineEdit other;
  other.show();
  QTest::keyClick(&other, Qt::Key_B);
  EXPECT_EQ(keys.size(), 4u);
}

TEST(FileListMask, WildcardsIgnoreCase) {
  EXPECT_TRUE(TFileListBox::MatchesMask("Noel.plm", "*.plm"));
  EXPECT_TRUE(TFileListBox::MatchesMask("NOEL.PLM", "*.plm"));
  EXPECT_TRUE(TFileListBox::MatchesMask("my.letter.plm", "*.plm"));
  EXPECT_FALSE(TFileListBox::MatchesMask("noel.plmx", "*.plm"));
  EXPECT_FALSE(TFileListBox::MatchesMask("noel.pl", "*.plm"));
  EXPECT_TRUE(TFileListBox::MatchesMask(".plm", "*.plm"));
  EXPECT_TRUE(TFileListBox::MatchesMask("a1.plm", "a?.plm"));
  EXPECT_FALSE(TFileListBox::MatchesMask("a12.plm", "a?.plm"));
  EXPECT_TRUE(TFileListBox::MatchesMask("anything", "*"));
}

TEST_F(AppTest, FileListShowsMatchingFilesSortedWithoutHiddenOnesOrFolders) {
  const std::string d = Dir("list");
  for (const char *n : {"b.plm", "A.PLM", "c.plm", ".hidden.plm", "note.txt"})
    WriteFileBytes(d + "/" + n, "x");
  CreateDir(d + "/folder.plm");
  ::symlink((d + "/c.plm").c_str(), (d + "/link.plm").c_str());
  TFileListBox list;
  list.setDirectory(d);
  ASSERT_EQ(list.count(), 4);
  EXPECT_EQ(list.ItemText(0), "A.PLM");
  EXPECT_EQ(list.ItemText(1), "b.plm");
  EXPECT_EQ(list.ItemText(2), "c.plm");
  EXPECT_EQ(list.ItemText(3), "link.plm");
  EXPECT_EQ(list.ItemIndex(), -1);
  EXPECT_EQ(list.FileName(), "");
  EXPECT_EQ(list.sizeHintForRow(0), 16);
  list.setItemIndex(1);
  EXPECT_EQ(list.FileName(), d + "/b.plm");
  WriteFileBytes(d + "/a2.plm", "x");
  list.Update(); // reading again clears the selection
  EXPECT_EQ(list.count(), 5);
  EXPECT_EQ(list.ItemIndex(), -1);
  list.setItemIndex(99);
  EXPECT_EQ(list.ItemIndex(), -1);
}
