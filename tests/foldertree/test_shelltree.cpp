// TShellTree shown over a private folder tree: lazy reading, paths, sorting, refreshing,
// masks, menus, renaming and the wheel.
#include "tests/foldertree/TreeFixture.h"

#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/shell/ShellApi.h"
#include "shelltree/Pidl.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace plm;
using namespace plmtest;

namespace {

using Names = std::vector<std::string>;

void SetModTime(const std::string &path, time_t t) {
  struct timeval tv[2] = {{t, 0}, {t, 0}};
  ::utimes(path.c_str(), tv);
}

// Gives the tree an application menu that closes as soon as it has opened, noting the
// label of the node selected while it was open.
void UseClosingMenu(TShellTree &tree, QMenu &menu, std::vector<std::string> &seen) {
  menu.addAction("x");
  QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&] {
    seen.push_back(tree.Selected() ? tree.Selected()->Text() : "");
    QTimer::singleShot(0, &menu, &QMenu::close);
  });
  tree.PopupMenuMode = pmm_PopupMenu;
  tree.setPopupMenu(&menu);
}

class ShellTreeTest : public TreeTest {};

TEST_F(ShellTreeTest, ACollapsedFolderIsNeverReadUntilItOpens) {
  Dir("t/a/b/c");
  Dir("t/empty");
  TShellTree &t = Tree(fRoot + "/t");
  TShellnode *root = t.RootNode();
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(root->isExpanded());
  EXPECT_EQ(Labels(root), (Names{"a", "empty"}));
  TShellnode *a = ChildNamed(root, "a");
  EXPECT_EQ(a->Count(), 0); // shown with its button, not read
  EXPECT_TRUE(a->HasChildren());
  EXPECT_FALSE(a->Info.Enumerated);
  EXPECT_FALSE(ChildNamed(root, "empty")->HasChildren());

  ASSERT_TRUE(t.Expand(a));
  EXPECT_TRUE(a->Info.Enumerated);
  TShellnode *b = ChildNamed(a, "b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Count(), 0);
  // Opened by the user (the view's own expansion) the node is read the same way.
  t.expandItem(b);
  EXPECT_EQ(Labels(b), (Names{"c"}));
}

TEST_F(ShellTreeTest, WritingPathSelectsTheDeepestFolderThatExists) {
  const std::string a = Dir("t/a"), b = Dir("t/a/b");
  const std::string file = File("t/a/b/letter.plm", "x");
  TShellTree &t = Tree(fRoot + "/t");
  const std::string root = fRoot + "/t";
  EXPECT_EQ(t.Path(), root);

  t.setPath(b);
  EXPECT_EQ(t.Path(), b);
  EXPECT_TRUE(t.Selected()->isExpanded());
  t.setPath(file); // a file: its folder
  EXPECT_EQ(t.Path(), b);
  t.setPath(b + "/missing/deeper"); // a missing subfolder: the folder above it
  EXPECT_EQ(t.Path(), b);
  t.setPath(a);
  EXPECT_EQ(t.Path(), a);
  t.setPath("//server/share/x"); // nothing of it exists here: the root
  EXPECT_EQ(t.Path(), root);
  t.setPath(b);
  t.setPath(""); // empty: the root
  EXPECT_EQ(t.Path(), root);

  // The current path again: nothing happens, no change event.
  t.setPath(a);
  const int changes = fChanges;
  t.setPath(a);
  t.setPath(a + "/");
  EXPECT_EQ(fChanges, changes);
  EXPECT_EQ(t.Path(), a);
}

TEST_F(ShellTreeTest, AFolderMadeAfterItsParentWasReadCanStillBeSelected) {
  TShellTree &t = Tree(Dir("t"));
  const std::string late = Dir("t/late");
  t.setPath(late);
  EXPECT_EQ(t.Path(), late);
  EXPECT_NE(ChildNamed(t.RootNode(), "late"), nullptr);
}

TEST_F(ShellTreeTest, HiddenFoldersAreShownAndSelectableOnlyWithTheHiddenOption) {
  const std::string hidden = Dir("t/.secret");
  Dir("t/shown");
  TShellTree &t = Tree(fRoot + "/t");
  EXPECT_EQ(Labels(t.RootNode()), (Names{"shown"}));
  t.setPath(hidden);
  EXPECT_EQ(t.Path(), fRoot + "/t");

  t.setOptions(TF_FOLDERS | TF_HIDDEN);
  EXPECT_EQ(Labels(t.RootNode()), (Names{".secret", "shown"}));
  t.setPath(hidden);
  EXPECT_EQ(t.Path(), hidden);
}

TEST_F(ShellTreeTest, TheRootShowsItsParsingNameAndChildrenTheirNames) {
  TShellTree &t = DesktopTree();
  TShellnode *root = t.RootNode();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(PidlItemCount(root->Info.AbsPidl), 0);
  // Without a desktop folder of its own the desktop is the home folder.
  EXPECT_EQ(root->Text(), fRoot + "/home");
  EXPECT_EQ(t.Path(), fRoot + "/home");
  EXPECT_NE(ChildNamed(root, "Dossier personnel"), nullptr);
  TShellnode *computer = ChildNamed(root, "Ordinateur");
  ASSERT_NE(computer, nullptr);
  // A node without a file-system path: Path reads empty.
  t.setSelected(computer);
  EXPECT_EQ(t.Path(), "");

  Dir("t/sub");
  TShellTree &u = Tree(fRoot + "/t");
  EXPECT_EQ(u.RootNode()->Text(), fRoot + "/t");
  EXPECT_EQ(u.RootDir(), fRoot + "/t");
  EXPECT_EQ(Labels(u.RootNode()), (Names{"sub"}));
}

TEST_F(ShellTreeTest, FoldersSortByNameWithNumbersByValue) {
  for (const char *d : {"t/lettre10", "t/Lettre2", "t/lettre1", "t/b", "t/A"})
    Dir(d);
  TShellTree &t = Tree(fRoot + "/t");
  EXPECT_EQ(Labels(t.RootNode()), (Names{"A", "b", "lettre1", "Lettre2", "lettre10"}));
}

TEST_F(ShellTreeTest, FilesSortByTheChosenColumnAndOrderWhileFoldersKeepNameOrder) {
  Dir("t/zdir");
  Dir("t/adir");
  const std::string small = File("t/b.txt", "12"), large = File("t/a.zip", "123456789");
  const std::string mid = File("t/c.doc", "12345");
  SetModTime(small, 3000);
  SetModTime(large, 1000);
  SetModTime(mid, 2000);
  TShellTree &t = Tree(fRoot + "/t", TF_FOLDERS | TF_NONFOLDERS);
  TShellnode *root = t.RootNode();
  EXPECT_EQ(Labels(root), (Names{"adir", "zdir", "a.zip", "b.txt", "c.doc"}));
  t.setFileSortType(so_Size);
  EXPECT_EQ(Labels(root), (Names{"adir", "zdir", "b.txt", "c.doc", "a.zip"}));
  t.setFileSortType(so_Type);
  EXPECT_EQ(Labels(root), (Names{"adir", "zdir", "c.doc", "b.txt", "a.zip"}));
  t.setFileSortType(so_Date);
  EXPECT_EQ(Labels(root), (Names{"adir", "zdir", "a.zip", "c.doc", "b.txt"}));
  t.setFileSortOrder(so_Descending);
  EXPECT_EQ(Labels(root), (Names{"adir", "zdir", "b.txt", "c.doc", "a.zip"}));
  t.setFileSortType(so_Name);
  EXPECT_EQ(Labels(root), (Names{"adir", "zdir", "c.doc", "b.txt", "a.zip"}));
}

TEST_F(ShellTreeTest, ARefreshKeepsUnchangedNodesAddsNewOnesInOrderAndDropsVanishedOnes) {
  Dir("t/b/inner");
  Dir("t/d");
  Dir("t/gone");
  TShellTree &t = Tree(fRoot + "/t");
  TShellnode *root = t.RootNode();
  TShellnode *b = ChildNamed(root, "b");
  ASSERT_TRUE(t.Expand(b));
  TShellnode *inner = ChildNamed(b, "inner");
  t.setSelected(inner);
  const int changes = fChanges;

  Dir("t/c");
  Dir("t/a");
  ::rmdir((fRoot + "/t/gone").c_str());
  t.RefreshNode(root, false);
  EXPECT_EQ(Labels(root), (Names{"a", "b", "c", "d"}));
  EXPECT_EQ(ChildNamed(root, "b"), b); // the same node, still open and selected below
  EXPECT_TRUE(b->isExpanded());
  EXPECT_EQ(t.Selected(), inner);
  EXPECT_EQ(fChanges, changes);

  // The selected folder vanishes: its node goes and another node is selected.
  ::rmdir((fRoot + "/t/b/inner").c_str());
  t.RefreshAll();
  EXPECT_EQ(ChildNamed(b, "inner"), nullptr);
  EXPECT_GT(fChanges, changes);
  EXPECT_NE(t.Selected(), nullptr);
  EXPECT_FALSE(b->HasChildren());
}

// The selection moves as the platform's tree view moves it: to the next sibling, else
// the parent, also when the vanished folder only holds the selected one.
TEST_F(ShellTreeTest, WhenTheSelectionVanishesTheNextSiblingOrTheParentIsSelected) {
  Dir("t/a/deep/deeper");
  Dir("t/b");
  Dir("t/c");
  TShellTree &t = Tree(fRoot + "/t");
  TShellnode *root = t.RootNode();
  t.UpdAutoThread = false; // only the refreshes made here
  ASSERT_TRUE(t.Expand(ChildNamed(root, "a")));
  ASSERT_TRUE(t.Expand(ChildNamed(ChildNamed(root, "a"), "deep")));
  t.setSelected(ChildNamed(ChildNamed(ChildNamed(root, "a"), "deep"), "deeper"));
  int changes = fChanges;

  std::system(("rm -rf '" + fRoot + "/t/a'").c_str());
  t.RefreshNode(root, false);
  EXPECT_EQ(Labels(root), (Names{"b", "c"}));
  EXPECT_EQ(t.Selected(), ChildNamed(root, "b"));
  EXPECT_EQ(fChanges, changes + 1);
  EXPECT_EQ(t.Path(), fRoot + "/t/b");

  t.setSelected(ChildNamed(root, "c"));
  changes = fChanges;
  ::rmdir((fRoot + "/t/c").c_str());
  ::rmdir((fRoot + "/t/b").c_str());
  t.RefreshNode(root, false);
  EXPECT_EQ(Labels(root), Names{});
  EXPECT_EQ(t.Selected(), root);
  EXPECT_GT(fChanges, changes);
}

TEST_F(ShellTreeTest, WithUpdAutoOffAFolderIsReadOnceUntilARecursiveRefresh) {
  Dir("t/a/one");
  TShellTree &t = Tree(fRoot + "/t");
  t.UpdAuto = false;
  TShellnode *a = ChildNamed(t.RootNode(), "a");
  ASSERT_TRUE(t.Expand(a));
  Dir("t/a/two");
  t.collapseItem(a);
  ASSERT_TRUE(t.Expand(a));
  EXPECT_EQ(Labels(a), (Names{"one"}));
  // With UpdAuto on, opening reads the folder again.
  t.collapseItem(a);
  t.UpdAuto = true;
  ASSERT_TRUE(t.Expand(a));
  EXPECT_EQ(Labels(a), (Names{"one", "two"}));
  // A recursive refresh passing over a closed node makes it be read at its next opening.
  t.UpdAuto = false;
  t.collapseItem(a);
  Dir("t/a/three");
  t.RefreshAll();
  EXPECT_FALSE(a->Info.Enumerated);
  ASSERT_TRUE(t.Expand(a));
  EXPECT_EQ(Labels(a), (Names{"one", "three", "two"}));
}

TEST_F(ShellTreeTest, FileMasksParseAndFilterFilesOnly) {
  File("t/x.a");
  File("t/y.B");
  File("t/z.c");
  File("t/readme");
  Dir("t/folder.c");
  TShellTree &t = Tree(fRoot + "/t", TF_FOLDERS | TF_NONFOLDERS);
  t.setFileMask("  *.a ; ;*.b ");
  EXPECT_EQ(t.FileMask(), "*.a;*.b");
  EXPECT_EQ(t.Masks(), (Names{"*.a", "*.b"}));
  EXPECT_EQ(Labels(t.RootNode()).size(), 5u); // masks apply only with FileMaskUse
  t.setFileMaskUse(true);
  EXPECT_EQ(Labels(t.RootNode()), (Names{"folder.c", "x.a", "y.B"}));
  t.setFileMask("");
  EXPECT_EQ(t.FileMask(), "*.*");
  EXPECT_EQ(Labels(t.RootNode()), (Names{"folder.c", "x.a", "y.B", "z.c"}));

  // OnFileAdd sees each file with its full path and may refuse it.
  std::vector<std::string> offered;
  t.OnFileAdd = [&](const std::string &name, uint32_t attrs, bool &allow) {
    offered.push_back(name);
    EXPECT_TRUE(attrs & SFGAO_FILESYSTEM);
    allow = ExtractFileName(name) != "x.a";
  };
  t.RefreshAll();
  EXPECT_EQ(Labels(t.RootNode()), (Names{"folder.c", "y.B", "z.c"}));
  EXPECT_NE(std::find(offered.begin(), offered.end(), fRoot + "/t/x.a"), offered.end());
}

TEST_F(ShellTreeTest, FolderNodesShowTheirButtonFromAProbeWhenFilesAreShown) {
  File("t/withfile/only.txt");
  Dir("t/bare");
  TShellTree &t = Tree(fRoot + "/t", TF_FOLDERS | TF_NONFOLDERS);
  TShellnode *withFile = ChildNamed(t.RootNode(), "withfile");
  EXPECT_TRUE(withFile->HasChildren());
  EXPECT_LE(withFile->Count(), 1); // a probe reads up to the first item only
  EXPECT_FALSE(ChildNamed(t.RootNode(), "bare")->HasChildren());
}

TEST_F(ShellTreeTest, ARightClickSelectsForTheMenuOnlyAndAVetoOrEmptySpotOpensNone) {
  Dir("t/a");
  Dir("t/b");
  TShellTree &t = Tree(fRoot + "/t");
  QMenu menu;
  std::vector<std::string> seen;
  UseClosingMenu(t, menu, seen);
  TShellnode *a = ChildNamed(t.RootNode(), "a"), *b = ChildNamed(t.RootNode(), "b");
  t.setSelected(a);
  const int changes = fChanges;

  const QPoint onB = t.visualItemRect(b).center();
  QTest::mouseClick(t.viewport(), Qt::RightButton, {}, onB);
  QContextMenuEvent click(QContextMenuEvent::Mouse, onB, t.viewport()->mapToGlobal(onB));
  QApplication::sendEvent(t.viewport(), &click);
  EXPECT_EQ(seen, (Names{"b"}));
  EXPECT_EQ(t.Selected(), a);
  EXPECT_EQ(fChanges, changes + 2); // selected for the menu, then back
  EXPECT_EQ(menu.property("PopupComponent").value<QObject *>(), &t);

  // An empty spot: no menu, the selection stays.
  const QPoint empty(5, t.viewport()->height() - 3);
  ASSERT_EQ(t.GetNodeAt(empty), nullptr);
  QContextMenuEvent none(QContextMenuEvent::Mouse, empty, t.viewport()->mapToGlobal(empty));
  QApplication::sendEvent(t.viewport(), &none);
  EXPECT_EQ(seen.size(), 1u);

  // OnPopupMenu may refuse the menu.
  t.OnPopupMenu = [](TShellnode *, bool &allow) { allow = false; };
  QApplication::sendEvent(t.viewport(), &click);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(t.Selected(), a);
}

TEST_F(ShellTreeTest, TheMenuKeyOpensTheMenuOfTheSelectedNodeAndNothingWithoutOne) {
  Dir("t/a");
  TShellTree &t = Tree(fRoot + "/t");
  QMenu menu;
  std::vector<std::string> seen;
  UseClosingMenu(t, menu, seen);
  t.setSelected(ChildNamed(t.RootNode(), "a"));
  t.setFocus();
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(), QPoint());
  QApplication::sendEvent(&t, &key);
  EXPECT_EQ(seen, (Names{"a"}));
  t.setCurrentItem(nullptr);
  QApplication::sendEvent(&t, &key);
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(ShellTreeTest, InPlaceRenameRenamesOnDiskOrLeavesTheLabel) {
  Dir("t/alpha/inner");
  Dir("t/taken");
  TShellTree &t = Tree(fRoot + "/t");
  TShellnode *alpha = ChildNamed(t.RootNode(), "alpha");
  ASSERT_TRUE(t.Expand(alpha));
  ASSERT_TRUE(alpha->HasAttributes(SFGAO_CANRENAME));
  auto renameTo = [&](TShellnode *node, const QString &text) {
    t.setFocus();
    t.setSelected(node);
    t.editItem(node);
    auto *edit = t.findChild<QLineEdit *>();
    if (!edit) return false;
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
    return QTest::qWaitFor([&] {
      auto *open = t.findChild<QLineEdit *>();
      return !open || !open->isVisible();
    });
  };

  // Refused by the shell: a sibling of that name exists already; nothing changes.
  ASSERT_TRUE(renameTo(alpha, "taken"));
  EXPECT_EQ(alpha->Text(), "alpha");
  EXPECT_TRUE(DirectoryExists(fRoot + "/t/alpha"));
  EXPECT_EQ(fUI.Errors.size(), 1u);

  // Accepted: renamed on disk, relabelled, sorted again, and the children follow.
  const int changes = fChanges;
  std::string edited;
  t.OnEdited = [&](QObject *, TShellnode *, std::string &s) {
    edited = s;
    s += "2";
  };
  ASSERT_TRUE(renameTo(alpha, "zeta"));
  EXPECT_EQ(edited, "zeta");
  EXPECT_EQ(alpha->Text(), "zeta2");
  EXPECT_TRUE(DirectoryExists(fRoot + "/t/zeta2"));
  EXPECT_EQ(Labels(t.RootNode()), (Names{"taken", "zeta2"}));
  EXPECT_GT(fChanges, changes);
  EXPECT_EQ(ChildNamed(alpha, "inner")->NodePath(), fRoot + "/t/zeta2/inner");
  EXPECT_EQ(t.Path(), fRoot + "/t/zeta2");
}

TEST_F(ShellTreeTest, EditingStartsOnlyForItemsThatCanBeRenamed) {
  TShellTree &t = DesktopTree();
  TShellnode *computer = ChildNamed(t.RootNode(), "Ordinateur");
  ASSERT_FALSE(computer->HasAttributes(SFGAO_CANRENAME));
  t.setFocus();
  t.setSelected(computer);
  QTest::keyClick(&t, Qt::Key_F2);
  EXPECT_EQ(t.findChild<QLineEdit *>(), nullptr);

  Dir("t/a");
  TShellTree &u = Tree(fRoot + "/t");
  TShellnode *a = ChildNamed(u.RootNode(), "a");
  u.setFocus();
  u.setSelected(a);
  u.ReadOnly = true;
  QTest::keyClick(&u, Qt::Key_F2);
  EXPECT_EQ(u.findChild<QLineEdit *>(), nullptr);
  u.ReadOnly = false;
  bool asked = false;
  u.OnEditing = [&](QObject *, TShellnode *, bool &allow) { asked = true, allow = false; };
  QTest::keyClick(&u, Qt::Key_F2);
  EXPECT_TRUE(asked);
  EXPECT_EQ(u.findChild<QLineEdit *>(), nullptr);
  u.OnEditing = nullptr;
  QTest::keyClick(&u, Qt::Key_F2);
  ASSERT_NE(u.findChild<QLineEdit *>(), nullptr);
  QTest::keyClick(u.findChild<QLineEdit *>(), Qt::Key_Escape); // a cancelled edit changes nothing
  EXPECT_EQ(a->Text(), "a");
}

TEST_F(ShellTreeTest, AWheelNotchScrollsAPageAndFinerWheelsTheirShare) {
  for (int i = 0; i < 120; ++i)
    Dir("t/d" + std::to_string(1000 + i));
  TShellTree &t = Tree(fRoot + "/t");
  QScrollBar *bar = t.verticalScrollBar();
  ASSERT_GT(bar->maximum(), 3 * bar->pageStep());
  const int page = bar->pageStep();
  auto wheel = [&](int delta) {
    const QPoint at = t.viewport()->rect().center();
    QWheelEvent e(at, t.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(t.viewport(), &e);
  };
  wheel(-120);
  EXPECT_EQ(bar->value(), page);
  wheel(-120);
  EXPECT_EQ(bar->value(), 2 * page);
  wheel(120);
  EXPECT_EQ(bar->value(), page);
  for (int i = 0; i < 4; ++i)
    wheel(-30);
  EXPECT_EQ(bar->value(), 2 * page);
}

TEST_F(ShellTreeTest, DestroyingTheTreeFreesEveryIdentifierList) {
  Dir("t/a/b");
  const size_t before = SHMallocBlockCount();
  TShellTree &t = Tree(fRoot + "/t");
  t.setPath(fRoot + "/t/a/b");
  EXPECT_GT(SHMallocBlockCount(), before);
  delete &t;
  EXPECT_EQ(SHMallocBlockCount(), before);
}

} // namespace
