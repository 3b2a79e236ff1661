// The window framework's helpers: the guard around every event handler and the error
// report, the dialog seam, the screen cursor, the installed-font test, key preview and
// the file list.
#include "tests/app/AppFixture.h"

#include "app/FileListBox.h"
#include "platform/ChangeNotify.h"
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
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>

#include <unistd.h>
#include "tests/support/QtTry.h"

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

namespace {

// One change of the folder on disk, and what the list is told of it.
struct ListChangeCase {
  const char *Name;
  std::vector<std::string> Before; // besides 40 "m.." files, so that the list scrolls
  std::string Selected;
  std::function<void(const std::string &folder)> OnDisk;
  std::vector<TFolderChange> Told;
  std::vector<std::string> After; // without the "m.." files
  std::string SelectedAfter;
  bool Reread = false; // the folder is read once again
  bool Rows = false;   // rows inserted or removed one by one
  std::vector<std::string> Written;
};

TFolderChange Told(TFolderChange::Kind what, std::string name, std::string old = "") {
  TFolderChange c;
  c.What = what;
  c.Name = std::move(name);
  c.OldName = std::move(old);
  return c;
}

void Touch(const std::string &path) { ASSERT_EQ(WriteFileBytes(path, "x"), 0); }
void Move(const std::string &folder, const std::string &from, const std::string &to) {
  ASSERT_EQ(std::rename((folder + "/" + from).c_str(), (folder + "/" + to).c_str()), 0);
}

using K = TFolderChange::Kind;

const ListChangeCase kListChanges[] = {
    {"Added", {"a.plm", "c.plm"}, "c.plm", [](const std::string &d) { Touch(d + "/b.plm"); },
     {Told(K::Added, "b.plm"), Told(K::Written, "b.plm")}, {"a.plm", "b.plm", "c.plm"}, "c.plm",
     false, true, {}},
    {"AddedInAnotherCaseSortsByName", {"a.plm", "c.plm"}, "", [](const std::string &d) { Touch(d + "/B.PLM"); },
     {Told(K::Added, "B.PLM")}, {"a.plm", "B.PLM", "c.plm"}, "", false, true, {}},
    {"Removed", {"a.plm", "b.plm", "c.plm"}, "c.plm", [](const std::string &d) { DeleteFile(d + "/b.plm"); },
     {Told(K::Removed, "b.plm")}, {"a.plm", "c.plm"}, "c.plm", false, true, {}},
    {"RemovedSelected", {"a.plm", "b.plm"}, "b.plm", [](const std::string &d) { DeleteFile(d + "/b.plm"); },
     {Told(K::Removed, "b.plm")}, {"a.plm"}, "", false, true, {}},
    {"RenamedSelectedKeepsItsSelection", {"a.plm", "b.plm", "c.plm"}, "b.plm",
     [](const std::string &d) { Move(d, "b.plm", "d.plm"); }, {Told(K::Renamed, "d.plm", "b.plm")},
     {"a.plm", "c.plm", "d.plm"}, "d.plm", false, true, {}},
    {"RenamedHiddenGoes", {"a.plm"}, "", [](const std::string &d) { Move(d, "a.plm", ".a.plm"); },
     {Told(K::Renamed, ".a.plm", "a.plm")}, {}, "", false, true, {}},
    {"RenamedBackAndForthIsAWrite", {"a.plm"}, "a.plm",
     [](const std::string &d) { Move(d, "a.plm", "b.plm"), Move(d, "b.plm", "a.plm"); },
     {Told(K::Renamed, "b.plm", "a.plm"), Told(K::Renamed, "a.plm", "b.plm")}, {"a.plm"}, "a.plm",
     false, false, {"a.plm"}},
    {"SavedOverByRename", {"a.plm"}, "", [](const std::string &d) { Touch(d + "/.a.tmp"), Move(d, ".a.tmp", "a.plm"); },
     {Told(K::Added, ".a.tmp"), Told(K::Renamed, "a.plm", ".a.tmp")}, {"a.plm"}, "", false, false, {"a.plm"}},
    {"StaleOrForeignChangesChangeNothing", {"a.plm"}, "a.plm",
     [](const std::string &d) { CreateDir(d + "/sub.plm"), Touch(d + "/note.txt"); },
     {Told(K::Added, "gone.plm"), Told(K::Removed, "a.plm"), Told(K::Added, "sub.plm"), Told(K::Added, "note.txt")},
     {"a.plm"}, "a.plm", false, false, {}},
    {"OverflowReadsOnceKeepingTheSelection", {"a.plm", "b.plm"}, "b.plm",
     [](const std::string &d) { Touch(d + "/x.plm"), DeleteFile(d + "/a.plm"); }, {TFolderChange{}},
     {"b.plm", "x.plm"}, "b.plm", true, false, {}},
    {"HundredsAtOnceAreOneReading", {"a.plm"}, "a.plm",
     [](const std::string &d) { Touch(d + "/z.plm"); },
     std::vector<TFolderChange>(300, Told(K::Added, "z.plm")), {"a.plm", "z.plm"}, "a.plm", true, false, {}},
};

class ListChanges : public AppTest, public ::testing::WithParamInterface<ListChangeCase> {};

TEST_P(ListChanges, FollowOneChangeAtATimeOrReadOnce) {
  const ListChangeCase &c = GetParam();
  const std::string d = Dir("changes");
  for (int i = 0; i < 40; ++i) Touch(d + "/m" + std::to_string(10 + i) + ".plm");
  for (const auto &n : c.Before) Touch(d + "/" + n);
  TFileListBox list;
  list.resize(200, 120);
  list.show();
  list.setDirectory(d);
  for (int i = 0; i < list.count(); ++i)
    if (list.ItemText(i) == c.Selected) list.setItemIndex(i);
  QTRY_VERIFY(list.verticalScrollBar()->maximum() > 0); // laid out
  list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum() / 2);
  const int scrolled = list.verticalScrollBar()->value();
  ASSERT_GT(scrolled, 0);
  QSignalSpy listed(&list, &TFileListBox::Listed), rows(&list, &TFileListBox::RowsChanged),
      written(&list, &TFileListBox::Written);
  int clicks = 0;
  list.OnClick = [&](QObject *) { ++clicks; };
  c.OnDisk(d);
  list.Apply(c.Told);

  std::vector<std::string> after;
  for (int i = 0; i < list.count(); ++i)
    if (list.ItemText(i).rfind("m", 0) != 0) after.push_back(list.ItemText(i));
  EXPECT_EQ(after, c.After);
  EXPECT_EQ(list.count(), int(c.After.size()) + 40);
  EXPECT_EQ(list.ItemText(list.ItemIndex()), c.SelectedAfter);
  EXPECT_EQ(listed.count(), c.Reread ? 1 : 0);
  EXPECT_EQ(rows.count(), c.Rows ? 1 : 0);
  std::vector<std::string> told;
  for (const auto &args : written) told.push_back(args.at(0).value<std::string>());
  EXPECT_EQ(told, c.Written);
  EXPECT_EQ(list.verticalScrollBar()->value(), scrolled);
  EXPECT_EQ(clicks, 0); // the program's changes raise no events
}

INSTANTIATE_TEST_SUITE_P(Rules, ListChanges, ::testing::ValuesIn(kListChanges),
                         [](const auto &info) { return std::string(info.param.Name); });

} // namespace

// The folder on disk through the list's own watch: a file renamed back and forth many
// times; the folder (the program's current folder) deleted while shown, then a link to
// another folder put in its place, then a folder made again under its name.
TEST_F(AppTest, FileListFollowsItsFolderGoneAndReplaced) {
  const std::string d = Dir("shown"), other = Dir("other");
  for (const char *n : {"a.plm", "b.plm"}) Touch(d + "/" + n);
  Touch(other + "/z.plm");
  TFileListBox list;
  list.setDirectory(d);
  ASSERT_EQ(list.count(), 2);
  for (int i = 0; i < 20; ++i) {
    Move(d, "a.plm", "c.plm");
    Move(d, "c.plm", "a.plm");
  }
  Touch(d + "/d.plm"); // told after the renames: once it is there, they have been followed
  QTRY_COMPARE(list.count(), 3);
  EXPECT_EQ(list.ItemText(0), "a.plm");
  ASSERT_EQ(std::system(("rm -rf '" + d + "'").c_str()), 0);
  QTRY_COMPARE(list.count(), 0);
  ASSERT_EQ(::symlink(other.c_str(), d.c_str()), 0);
  QTRY_COMPARE(list.count(), 1);
  Touch(other + "/y.plm");
  QTRY_COMPARE(list.count(), 2);
  EXPECT_EQ(list.ItemText(0), "y.plm");
  ASSERT_EQ(::unlink(d.c_str()), 0);
  QTRY_COMPARE(list.count(), 0);
  Dir("shown");
  Touch(d + "/e.plm");
  QTRY_COMPARE(list.count(), 1);
  EXPECT_EQ(list.ItemText(0), "e.plm");
}
