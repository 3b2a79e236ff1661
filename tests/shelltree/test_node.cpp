// The tree's nodes: filling, labels, icons, overlays, renaming and destruction.
#include "platform/shell/ShellImages.h"
#include "shelltree/Pidl.h"
#include "shelltree/ShellNode.h"
#include "tests/shelltree/ShellFixture.h"

#include <QTreeWidget>

#include <sys/stat.h>

using namespace plm;
using namespace shelltest;

namespace {

class FakeHost : public TShellnodeHost {
public:
  FakeHost() { SHGetMalloc(&fMalloc); }
  IMalloc *Malloc() const override { return fMalloc; }
  TSystemImageList *NodeImages() const override {
    return Icons ? &TSystemImageList::Instance() : nullptr;
  }
  bool ShowSharedOverlay() const override { return Shared; }
  bool ShowLinkOverlay() const override { return Link; }
  HWND ShellOwner() const override { return nullptr; }
  void SortChildren(TShellnode *node, bool) override { Sorted.push_back(node); }
  void NodeChanged(TShellnode *node) override { Changed.push_back(node); }

  bool Icons = true, Shared = true, Link = true;
  std::vector<TShellnode *> Sorted, Changed;

private:
  IMalloc *fMalloc;
};

// A root node for a path, and its children as the tree would add them.
TShellnode *RootFor(FakeHost &host, const std::string &path) {
  ComPtr<IShellFolder> desktop;
  SHGetDesktopFolder(desktop.put());
  auto *root = new TShellnode(host);
  root->AssignItem(desktop.get(), Parse(path), false);
  root->UpdateText();
  return root;
}

TShellnode *AddChild(FakeHost &host, TShellnode *parent, const std::string &name) {
  IShellFolder *f = parent->GetFolder();
  const std::u16string w = WideFromBytes(name);
  LPITEMIDLIST rel = nullptr;
  if (FAILED(f->ParseDisplayName(nullptr, nullptr, w.c_str(), nullptr, &rel, nullptr))) return nullptr;
  auto *child = new TShellnode(host);
  parent->addChild(child);
  child->AssignItem(f, rel, false);
  LPCITEMIDLIST one = rel;
  SFGAOF a = 0xF60B0177;
  f->GetAttributesOf(1, &one, &a);
  child->Info.Attributes = a;
  child->UpdateText();
  child->UpdateIcons();
  return child;
}

// Records what was still alive when a node stopped its monitor.
struct WatchingMonitor : TNodeMonitor {
  TShellnode *Node;
  bool *ListsAliveAtStop;
  WatchingMonitor(TShellnode *n, bool *alive) : Node(n), ListsAliveAtStop(alive) {}
  ~WatchingMonitor() override {
    *ListsAliveAtStop = Node->Info.RelPidl && Node->Info.AbsPidl && Node->Info.ParentFolder &&
                        Node->Destroying();
  }
};

} // namespace

class Nodes : public TempTree {
protected:
  void SetUp() override {
    TempTree::SetUp();
    MakeDir("lettres");
    MakeDir("lettres/2024");
    MakeDir("lettres/2024/mars");
    MakeFile("lettres/a.plm");
    MakeLink(Path("lettres"), "raccourci");
  }
  FakeHost fHost;
};

TEST_F(Nodes, ARootShowsItsParsingNameAndAChildItsNormalName) {
  std::unique_ptr<TShellnode> root(RootFor(fHost, Path("lettres")));
  EXPECT_EQ(root->Text(), Path("lettres"));
  EXPECT_EQ(root->text(0).toStdString(), Path("lettres"));
  EXPECT_EQ(root->NodePath(), Path("lettres"));
  TShellnode *child = AddChild(fHost, root.get(), "2024");
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->Text(), "2024");
  EXPECT_EQ(child->NodePath(), Path("lettres/2024"));
  EXPECT_EQ(PidlItemCount(child->Info.RelPidl), 1);
  EXPECT_EQ(PidlItemCount(child->Info.AbsPidl), PidlItemCount(root->Info.AbsPidl) + 1);
  EXPECT_TRUE(child->HasAttributes(SFGAO_FOLDER | SFGAO_HASSUBFOLDER));
  EXPECT_FALSE(child->IsPlainFile());
  TShellnode *file = AddChild(fHost, root.get(), "a.plm");
  EXPECT_TRUE(file->IsPlainFile());
  EXPECT_EQ(root->Count(), 2);
  EXPECT_EQ(root->Child(0), child);
  EXPECT_EQ(child->ParentNode(), root.get());
}

TEST_F(Nodes, FolderBindsOnFirstUseAndRetriesAFailedBind) {
  std::unique_ptr<TShellnode> root(RootFor(fHost, Path("lettres")));
  TShellnode *file = AddChild(fHost, root.get(), "a.plm");
  EXPECT_FALSE(file->Bound);
  EXPECT_EQ(file->GetFolder(), nullptr); // a file has no folder
  EXPECT_TRUE(file->Bound);
  EXPECT_EQ(file->GetFolder(), nullptr);
  TShellnode *dir = AddChild(fHost, root.get(), "2024");
  IShellFolder *f = dir->GetFolder();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(dir->GetFolder(), f); // kept
  dir->Unbind();
  EXPECT_FALSE(dir->Bound);
  EXPECT_EQ(dir->Info.Folder.get(), nullptr);
  // A root without an item (a location that could not be resolved) uses its parent folder.
  ComPtr<IShellFolder> desktop;
  SHGetDesktopFolder(desktop.put());
  TShellnode empty(fHost);
  empty.AssignItem(desktop.get(), Bytes({0, 0}), false);
  EXPECT_EQ(empty.GetFolder(), desktop.get());
}

TEST_F(Nodes, IconsAndOverlays) {
  std::unique_ptr<TShellnode> root(RootFor(fHost, fRoot));
  TShellnode *link = AddChild(fHost, root.get(), "raccourci");
  const auto &list = TSystemImageList::Instance();
  EXPECT_EQ(list.IconName(link->ImageIndex()), "folder");
  EXPECT_EQ(list.IconName(link->SelectedIndex()), "folder-open");
  EXPECT_EQ(link->OverlayIndex(), 1); // the link overlay
  EXPECT_FALSE(link->icon(0).isNull());
  // The shared overlay wins when both apply and both are enabled.
  link->Info.Attributes |= SFGAO_SHARE;
  link->UpdateIcons();
  EXPECT_EQ(link->OverlayIndex(), 0);
  fHost.Shared = false;
  link->UpdateIcons();
  EXPECT_EQ(link->OverlayIndex(), 1);
  fHost.Link = false;
  link->UpdateIcons();
  EXPECT_EQ(link->OverlayIndex(), -1);
  // Files keep their normal icon when selected; without an image list no icon shows.
  MakeFile("note.txt");
  TShellnode *file = AddChild(fHost, root.get(), "note.txt");
  EXPECT_EQ(file->SelectedIndex(), file->ImageIndex());
  EXPECT_EQ(list.IconName(file->ImageIndex()), "text-plain");
  fHost.Icons = false;
  link->ApplyIcons();
  EXPECT_TRUE(link->icon(0).isNull());
}

TEST_F(Nodes, HasChildrenIndicator) {
  TShellnode node(fHost);
  node.SetHasChildren(true);
  EXPECT_TRUE(node.HasChildren());
  EXPECT_EQ(node.childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
  node.SetHasChildren(false);
  EXPECT_FALSE(node.HasChildren());
}

TEST_F(Nodes, RenamingToTheSameLabelAsksNothing) {
  std::unique_ptr<TShellnode> root(RootFor(fHost, Path("lettres")));
  TShellnode *child = AddChild(fHost, root.get(), "2024");
  EXPECT_FALSE(child->Rename("2024"));
  EXPECT_TRUE(fHost.Changed.empty());
  EXPECT_TRUE(fHost.Sorted.empty());
}

TEST_F(Nodes, RenameReDerivesEveryDescendantsAbsoluteList) {
  std::unique_ptr<TShellnode> root(RootFor(fHost, Path("lettres")));
  TShellnode *year = AddChild(fHost, root.get(), "2024");
  TShellnode *month = AddChild(fHost, year, "mars");
  ASSERT_TRUE(year->Rename("année 2024"));
  EXPECT_EQ(year->NodePath(), Path("lettres/année 2024"));
  EXPECT_EQ(month->NodePath(), Path("lettres/année 2024/mars"));
  // Every descendant's list starts with its renamed ancestor's list.
  const size_t n = PidlSize(year->Info.AbsPidl);
  EXPECT_EQ(std::memcmp(month->Info.AbsPidl, year->Info.AbsPidl, n), 0);
  ASSERT_EQ(fHost.Sorted.size(), 1u);
  EXPECT_EQ(fHost.Sorted[0], root.get());
  ASSERT_EQ(fHost.Changed.size(), 1u);
  EXPECT_EQ(fHost.Changed[0], year);
  // The label is the caller's to set; the node's item is the new one.
  EXPECT_EQ(DisplayNameOf(year->Info.ParentFolder.get(), year->Info.RelPidl, SHGDN_NORMAL),
            "année 2024");
}

TEST_F(Nodes, AFailedRenameChangesNothing) {
  MakeDir("lettres/2025");
  std::unique_ptr<TShellnode> root(RootFor(fHost, Path("lettres")));
  TShellnode *year = AddChild(fHost, root.get(), "2024");
  LPITEMIDLIST before = year->Info.RelPidl;
  EXPECT_FALSE(year->Rename("2025"));
  EXPECT_FALSE(year->Rename("x/y"));
  EXPECT_EQ(year->Info.RelPidl, before);
  EXPECT_EQ(year->NodePath(), Path("lettres/2024"));
  EXPECT_TRUE(fHost.Changed.empty());
  struct stat st;
  EXPECT_EQ(::stat(Path("lettres/2024/mars").c_str(), &st), 0);
}

TEST_F(Nodes, DestructionStopsTheMonitorFirstThenFreesListsAndFolders) {
  bool aliveAtStop = false;
  const size_t blocks = SHMallocBlockCount();
  {
    std::unique_ptr<TShellnode> root(RootFor(fHost, Path("lettres")));
    TShellnode *child = AddChild(fHost, root.get(), "2024");
    child->MonitorStarted = true;
    child->MonitorThread = std::make_unique<WatchingMonitor>(child, &aliveAtStop);
    EXPECT_GT(SHMallocBlockCount(), blocks);
  }
  EXPECT_TRUE(aliveAtStop);
  EXPECT_EQ(SHMallocBlockCount(), blocks);
}

TEST_F(Nodes, NodesInATreeWidgetAreItsItems) {
  QTreeWidget tree;
  auto *root = RootFor(fHost, Path("lettres"));
  tree.addTopLevelItem(root);
  TShellnode *child = AddChild(fHost, root, "2024");
  child->SetHasChildren(true);
  root->SetExpanded(true);
  EXPECT_TRUE(root->Expanded());
  tree.setCurrentItem(child);
  EXPECT_EQ(tree.currentItem()->text(0), QStringLiteral("2024"));
  EXPECT_EQ(tree.currentItem()->type(), TShellnode::NodeType);
}
