// A real folder tree kept current by its monitors and its device window, over private
// folder trees changed from outside.
#include "MonitorHelpers.h"
#include "tests/components/FakeVolumes.h"

#include "platform/ChangeNotify.h"
#include "platform/FileSys.h"
#include "platform/Process.h"
#include "shelltree/DiscMonitor.h"
#include "shelltree/Pidl.h"
#include "shelltree/ShellTree.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plm;

namespace {

constexpr int kLimitMs = 10000;

bool WaitFor(const std::function<bool()> &done) { return QTest::qWaitFor(done, kLimitMs); }

// Like WaitFor, but looks again after every few milliseconds of events: under a steady
// stream of changes the event loop never runs dry, and one long turn of it would hide
// the moment the condition came true.
bool WaitBriefly(const std::function<bool()> &done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::yield();
  }
  return true;
}

TDiscMonitorThread *MonitorOf(const TShellnode *node) {
  return static_cast<TDiscMonitorThread *>(node->MonitorThread.get());
}

std::vector<TDiscMonitorThread *> Monitors(TShellnode *node) {
  std::vector<TDiscMonitorThread *> out;
  if (!node) return out;
  if (TDiscMonitorThread *m = MonitorOf(node)) out.push_back(m);
  for (int i = 0; i < node->Count(); ++i)
    for (TDiscMonitorThread *m : Monitors(node->Child(i)))
      out.push_back(m);
  return out;
}

int ThreadCount() {
  int n = 0;
  for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/task"))
    ++n;
  return n;
}

// The tree has started every monitor it queued, and every monitor of the subtree
// watches (or has failed): changes made now are seen.
bool AllArmed(TShellnode *node) {
  const auto *tree = static_cast<const TShellTree *>(node->treeWidget());
  return WaitFor([&] {
    if (tree->PendingMonitors() > 0) return false;
    for (TDiscMonitorThread *m : Monitors(node))
      if (m->ArmCount() == 0 && !m->Failed) return false;
    return true;
  });
}

class TreeMonitorTest : public ::testing::Test {
protected:
  void SetUp() override {
    RaiseOpenFileLimit(); // as the viewer does: a few descriptors for each folder shown
    ::setenv("HOME", fFolders.MakeDir("home").c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    fWindow = std::make_unique<QWidget>();
    fWindow->resize(400, 500);
  }
  void TearDown() override { fWindow.reset(); }

  std::string Dir(const std::string &rel) { return fFolders.MakeDir(rel); }
  std::string P(const std::string &rel) const { return fFolders.Path(rel); }

  TShellTree &Show(TShellTree *tree) {
    fTree = tree;
    fTree->setGeometry(0, 0, 380, 480);
    fTree->OnChange = [this](QObject *, TShellnode *) { ++fChanges; };
    fTree->show();
    fWindow->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(fWindow.get()));
    return *fTree;
  }
  // A tree rooted at a folder of the test (RootUsePIDL off).
  TShellTree &Tree(const std::string &rootDir, TVisOptions options = TF_FOLDERS) {
    auto *tree = new TShellTree(fWindow.get());
    tree->setOptions(options);
    tree->setRootUsePIDL(false);
    tree->setRootDir(rootDir);
    return Show(tree);
  }
  TShellTree &DesktopTree() { return Show(new TShellTree(fWindow.get())); }

  static TShellnode *Child(TShellnode *node, const std::string &label) {
    for (int i = 0; node && i < node->Count(); ++i)
      if (node->Child(i)->Text() == label) return node->Child(i);
    return nullptr;
  }
  static std::vector<std::string> Labels(TShellnode *node) {
    std::vector<std::string> out;
    for (int i = 0; node && i < node->Count(); ++i)
      out.push_back(node->Child(i)->Text());
    return out;
  }
  using Names = std::vector<std::string>;

  plmtest::TempTree fFolders;
  std::unique_ptr<QWidget> fWindow;
  TShellTree *fTree = nullptr;
  int fChanges = 0;
};

TEST_F(TreeMonitorTest, ANewSubfolderTakesItsSortedPlaceAndDisturbsNothingElse) {
  Dir("root/a");
  Dir("root/c/c1/deep");
  Dir("root/lettre10");
  TShellTree &tree = Tree(P("root"));
  TShellnode *root = tree.RootNode();
  ASSERT_TRUE(tree.Expand(Child(root, "c")));
  TShellnode *c1 = Child(Child(root, "c"), "c1");
  ASSERT_TRUE(tree.Expand(c1));
  tree.setSelected(c1);
  ASSERT_TRUE(AllArmed(root));
  fChanges = 0;

  Dir("root/b");
  Dir("root/lettre9");
  ASSERT_TRUE(WaitFor([&] { return Labels(root) == Names{"a", "b", "c", "lettre9", "lettre10"}; }));
  EXPECT_TRUE(Child(root, "c")->isExpanded());
  EXPECT_TRUE(c1->isExpanded()); // the same node, still open
  EXPECT_EQ(tree.Selected(), c1);
  EXPECT_EQ(tree.Path(), P("root/c/c1"));
  EXPECT_EQ(fChanges, 0);
}

TEST_F(TreeMonitorTest, TheFirstSubfolderGivesAFolderItsExpandButton) {
  Dir("root/empty");
  TShellTree &tree = Tree(P("root"));
  TShellnode *empty = Child(tree.RootNode(), "empty");
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(empty->HasChildren());
  ASSERT_TRUE(AllArmed(tree.RootNode()));
  ASSERT_NE(MonitorOf(empty), nullptr); // shown without children: watched
  Dir("root/empty/sub");
  ASSERT_TRUE(WaitFor([&] { return empty->HasChildren(); }));
  EXPECT_FALSE(empty->isExpanded());
}

TEST_F(TreeMonitorTest, AnEmptyRootIsWatchedToo) {
  TShellTree &tree = Tree(Dir("root"));
  ASSERT_NE(MonitorOf(tree.RootNode()), nullptr);
  ASSERT_TRUE(AllArmed(tree.RootNode()));
  Dir("root/first");
  ASSERT_TRUE(WaitFor([&] { return Labels(tree.RootNode()) == Names{"first"}; }));
}

TEST_F(TreeMonitorTest, ARenameFromOutsideMovesTheNode) {
  Dir("root/alpha");
  Dir("root/middle");
  TShellTree &tree = Tree(P("root"));
  ASSERT_TRUE(AllArmed(tree.RootNode()));
  ASSERT_EQ(std::rename(P("root/alpha").c_str(), P("root/zulu").c_str()), 0);
  ASSERT_TRUE(WaitFor([&] { return Labels(tree.RootNode()) == Names{"middle", "zulu"}; }));
}

// Whichever monitor reports first (the parent's, or the grandparent's that takes the
// whole branch at once), the selection moves to a node that remains.
TEST_F(TreeMonitorTest, DeletingTheSelectedFolderRemovesItsNodeAndRaisesOnChange) {
  Dir("root/keep");
  Dir("root/victim/inner");
  TShellTree &tree = Tree(P("root"));
  TShellnode *victim = Child(tree.RootNode(), "victim");
  ASSERT_TRUE(tree.Expand(victim));
  tree.setSelected(Child(victim, "inner"));
  ASSERT_TRUE(AllArmed(tree.RootNode()));
  fChanges = 0;
  std::filesystem::remove_all(P("root/victim"));
  ASSERT_TRUE(WaitFor([&] { return Labels(tree.RootNode()) == Names{"keep"}; }));
  EXPECT_GT(fChanges, 0);
  ASSERT_NE(tree.Selected(), nullptr);
  EXPECT_TRUE(tree.Path() == P("root") || tree.Path() == P("root/keep")) << tree.Path();
}

TEST_F(TreeMonitorTest, WithUpdAutoThreadOffChangesWaitUntilTheNodeOpensAgain) {
  Dir("root/a");
  TShellTree &tree = Tree(P("root"));
  TShellnode *root = tree.RootNode();
  ASSERT_TRUE(AllArmed(root));
  tree.UpdAutoThread = false;
  const int handed = MonitorOf(root)->HandOffCount();
  Dir("root/b");
  ASSERT_TRUE(WaitFor([&] { return MonitorOf(root)->HandOffCount() > handed; }));
  EXPECT_EQ(Labels(root), Names{"a"}); // dropped; the monitor goes on
  EXPECT_FALSE(MonitorOf(root)->Finished());

  root->setExpanded(false);
  ASSERT_TRUE(tree.Expand(root)); // UpdAuto: read again when it opens
  EXPECT_EQ(Labels(root), (Names{"a", "b"}));
}

TEST_F(TreeMonitorTest, ChangingOptionsMakesEveryRunningMonitorWatchFilesToo) {
  Dir("root/a");
  Dir("root/b/b1");
  TShellTree &tree = Tree(P("root"));
  ASSERT_TRUE(tree.Expand(Child(tree.RootNode(), "b")));
  ASSERT_TRUE(AllArmed(tree.RootNode()));
  EXPECT_EQ(tree.MonitorFilter(), 6u);
  const std::vector<TDiscMonitorThread *> running = Monitors(tree.RootNode());
  ASSERT_GE(running.size(), 3u); // root, a (empty), b, b1 (empty)
  std::vector<int> arms;
  for (TDiscMonitorThread *m : running)
    arms.push_back(m->ArmCount());

  tree.setOptions(TF_FOLDERS | TF_NONFOLDERS);
  EXPECT_EQ(tree.MonitorFilter(), 7u);
  for (size_t i = 0; i < running.size(); ++i) {
    EXPECT_EQ(running[i]->Filter, 7u) << running[i]->WatchPath;
    EXPECT_TRUE(WaitFor([&] { return running[i]->ArmCount() > arms[i]; })) << running[i]->WatchPath;
  }
  std::FILE *f = std::fopen(P("root/b/note.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_TRUE(WaitFor([&] { return Child(Child(tree.RootNode(), "b"), "note.txt") != nullptr; }));
}

TEST_F(TreeMonitorTest, AVirtualFolderNeverGetsAMonitor) {
  TShellTree &tree = DesktopTree();
  TShellnode *computer = nullptr;
  for (int i = 0; i < tree.RootNode()->Count(); ++i)
    if (tree.RootNode()->Child(i)->NodePath().empty()) computer = tree.RootNode()->Child(i);
  ASSERT_NE(computer, nullptr);
  ASSERT_TRUE(tree.Expand(computer));
  EXPECT_TRUE(computer->MonitorStarted);
  EXPECT_EQ(computer->MonitorThread, nullptr);
  tree.RefreshNode(computer, false); // tried once, never again
  EXPECT_EQ(computer->MonitorThread, nullptr);
}

TEST_F(TreeMonitorTest, FiveHundredShownFoldersAreWatchedThroughOneInotifyInstance) {
  for (int i = 0; i < 500; ++i)
    Dir("root/f" + std::to_string(i));
  const int instances = plmtest::InotifyInstances();
  TShellTree &tree = Tree(P("root"));
  TShellnode *root = tree.RootNode();
  ASSERT_EQ(root->Count(), 500);
  ASSERT_TRUE(AllArmed(root));
  const std::vector<TDiscMonitorThread *> monitors = Monitors(root);
  EXPECT_EQ(monitors.size(), 501u);
  for (TDiscMonitorThread *m : monitors)
    EXPECT_FALSE(m->Failed) << m->WatchPath;
  EXPECT_LE(plmtest::InotifyInstances() - instances, 1);

  Dir("root/f250/sub");
  TShellnode *f250 = Child(root, "f250");
  ASSERT_TRUE(WaitFor([&] { return f250->HasChildren(); }));
}

// The monitors of childless folders start from the event loop after the folder is
// read. Nodes that a later refresh sweeps away before their turn are skipped (never
// touched once freed: the sanitizer build runs this), the others all get theirs.
TEST_F(TreeMonitorTest, QueuedMonitorsOfFoldersSweptAwayAreNeverStarted) {
  TShellTree &tree = Tree(Dir("root"));
  TShellnode *root = tree.RootNode();
  ASSERT_TRUE(AllArmed(root));
  for (int i = 0; i < 300; ++i)
    Dir("root/f" + std::to_string(i));
  tree.RefreshNode(root, false); // the event loop does not run from here on
  ASSERT_EQ(root->Count(), 300);
  EXPECT_EQ(tree.PendingMonitors(), 300u);
  EXPECT_EQ(Monitors(root).size(), 1u);

  for (int i = 0; i < 300; i += 2)
    std::filesystem::remove(P("root/f" + std::to_string(i)));
  tree.RefreshNode(root, false);
  ASSERT_EQ(root->Count(), 150);
  EXPECT_EQ(tree.PendingMonitors(), 150u);

  ASSERT_TRUE(AllArmed(root));
  const std::vector<TDiscMonitorThread *> monitors = Monitors(root);
  EXPECT_EQ(monitors.size(), 151u);
  for (int i = 0; i < root->Count(); ++i) {
    TShellnode *child = root->Child(i);
    ASSERT_NE(MonitorOf(child), nullptr) << child->Text();
    EXPECT_EQ(MonitorOf(child)->WatchPath, child->NodePath());
    EXPECT_EQ(MonitorOf(child)->WatchNode, child);
  }
  Dir("root/f151/sub"); // a folder watched from its turn on
  ASSERT_TRUE(WaitFor([&] { return Child(root, "f151")->HasChildren(); }));
}

// A folder read as childless that gains a subfolder before its monitor starts: its
// monitor never hears of it (nothing changes once it watches), yet the folder gets its
// expand button when its turn comes.
TEST_F(TreeMonitorTest, AFolderGainingASubfolderBeforeItsMonitorStartsGetsItsExpandButton) {
  Dir("root/a");
  Dir("root/b");
  auto *tree = new TShellTree(fWindow.get());
  tree->setRootUsePIDL(false);
  tree->setRootDir(P("root"));
  tree->Loaded();
  fWindow->show(); // the tree reads its folder again as it shows; the event loop has not run
  TShellnode *root = tree->RootNode();
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(tree->PendingMonitors(), 2u);
  Dir("root/b/sub"); // nothing the root's monitor sees
  Show(tree);
  ASSERT_TRUE(AllArmed(root));
  ASSERT_TRUE(WaitFor([&] { return Child(root, "b")->HasChildren(); }));
  EXPECT_FALSE(Child(root, "b")->isExpanded());
  EXPECT_FALSE(Child(root, "a")->HasChildren());
}

// A tree that goes with monitors still queued starts none of them, then or later.
TEST_F(TreeMonitorTest, DestroyingATreeWithMonitorsStillQueuedStartsNone) {
  TShellTree &tree = Tree(Dir("root"));
  for (int i = 0; i < 200; ++i)
    Dir("root/f" + std::to_string(i));
  tree.RefreshNode(tree.RootNode(), false);
  ASSERT_EQ(tree.PendingMonitors(), 200u);
  const int threads = ThreadCount(); // the root's monitor among them
  delete fTree;
  fTree = nullptr;
  QCoreApplication::processEvents(); // no slice of starts runs for the freed tree
  EXPECT_LT(ThreadCount(), threads);
}

// With few descriptors to spare, the folders past the budget go unwatched: every folder
// is still shown, the first ones still follow their changes, descriptors remain for the
// rest of the program, and the tree goes without hanging.
TEST_F(TreeMonitorTest, FoldersPastTheDescriptorBudgetAreShownUnwatched) {
  for (int i = 0; i < 300; ++i)
    Dir("root/f" + std::to_string(i));
  rlim_t open = 0;
  for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
    ++open;
  const rlim_t low = open + 512 + 3 * 40; // room for some forty monitors past the spare ones
  ASSERT_LT(low, OpenFileLimit());
  plmtest::TDescriptorLimit limit(low);
  ASSERT_TRUE(limit.Set());

  TShellTree &tree = Tree(P("root"));
  TShellnode *root = tree.RootNode();
  ASSERT_EQ(root->Count(), 300);
  ASSERT_TRUE(AllArmed(root));
  const size_t watched = Monitors(root).size();
  EXPECT_GT(watched, 10u);
  EXPECT_LT(watched, 100u);
  const int spare = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_GE(spare, 0);
  if (spare >= 0) ::close(spare);

  Dir("root/zzz"); // the root was the first to be watched
  ASSERT_TRUE(WaitFor([&] { return Child(root, "zzz") != nullptr; }));
  delete fTree;
  fTree = nullptr;
}

// Destroys a tree while its monitors hand changes over: no hang, no freed node touched
// (the sanitizer build runs this too).
TEST_F(TreeMonitorTest, DestroyingATreeWhileChangesPourInNeverHangs) {
  for (int i = 0; i < 4; ++i)
    Dir("root/w" + std::to_string(i) + "/x");
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (unsigned n = 0; !stop; ++n) {
      const std::string d = P("root/w" + std::to_string(n % 4) + "/n" + std::to_string(n % 3));
      if (::mkdir(d.c_str(), 0700) != 0) ::rmdir(d.c_str());
      const std::string top = P("root/t" + std::to_string(n % 2));
      if (::mkdir(top.c_str(), 0700) != 0) ::rmdir(top.c_str());
    }
  });
  int handedOver = 0;
  // Monitors come and go with the nodes that each refresh sweeps away: they are looked
  // up afresh every time, never kept across the event loop.
  auto count = [&](auto pred) {
    int n = 0;
    for (TDiscMonitorThread *m : Monitors(fTree->RootNode()))
      n += pred(m);
    return n;
  };
  for (int round = 0; round < 200; ++round) {
    TShellTree &tree = Tree(P("root"));
    for (int i = 0; i < 4; ++i)
      tree.Expand(Child(tree.RootNode(), "w" + std::to_string(i)));
    // Half the rounds wait for a refresh; the others end the tree while a worker is
    // blocked in its hand-off, without letting the event loop run.
    if (round % 2 == 0) {
      WaitBriefly(
          [&] { return count([](TDiscMonitorThread *m) { return m->HandOffCount(); }) > 0; });
    } else {
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (count([](TDiscMonitorThread *m) { return int(m->HandOffPending()); }) == 0 &&
             std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
    }
    handedOver += count([](TDiscMonitorThread *m) { return m->HandOffCount(); });
    delete fTree;
    fTree = nullptr;
  }
  stop = true;
  writer.join();
  QCoreApplication::processEvents(); // late wake-ups find nothing to run
  EXPECT_GT(handedOver, 0);
}

// Volumes presented by the test, as mount points of private folders.
class TreeDeviceTest : public TreeMonitorTest {
protected:
  void SetUp() override {
    TreeMonitorTest::SetUp();
    fUsb = Dir("media/usb");
    Dir("media/usb/docs/letters");
    fDisk = Dir("srv/disk");
    Dir("srv/disk/data/old");
    fVolumes.Add("/", DRIVE_FIXED);
    fVolumes.Add(fUsb, DRIVE_REMOVABLE, 0x1111, "CLE");
    fVolumes.Add(fDisk, DRIVE_FIXED, 0x2222, "DONNEES");
  }
  static DEV_BROADCAST_VOLUME Record(std::vector<std::string> points) {
    DEV_BROADCAST_VOLUME v;
    v.dbcv_mountpoints = std::move(points);
    return v;
  }
  TShellnode *Drives(TShellTree &tree) {
    for (int i = 0; i < tree.RootNode()->Count(); ++i)
      if (tree.RootNode()->Child(i)->NodePath().empty()) return tree.RootNode()->Child(i);
    return nullptr;
  }
  static TShellnode *Volume(TShellnode *drives, const std::string &mountPoint) {
    for (int i = 0; drives && i < drives->Count(); ++i)
      if (drives->Child(i)->NodePath() == mountPoint) return drives->Child(i);
    return nullptr;
  }

  FakeVolumes fVolumes;
  std::string fUsb, fDisk;
};

TEST_F(TreeDeviceTest, VolumeEventsRefreshTheDriveNodesOfTheDrivesFolder) {
  TShellTree &tree = DesktopTree();
  TShellnode *drives = Drives(tree);
  ASSERT_TRUE(tree.Expand(drives));
  TShellnode *usb = Volume(drives, fUsb), *disk = Volume(drives, fDisk);
  ASSERT_NE(usb, nullptr);
  ASSERT_NE(disk, nullptr);
  EXPECT_EQ(usb->Text(), "CLE (" + fUsb + ")");
  ASSERT_TRUE(tree.Expand(usb));
  ASSERT_TRUE(tree.Expand(disk));
  ASSERT_EQ(Labels(usb), Names{"docs"});

  // Removal: the volume's children go, its expand button stays.
  tree.DeviceWindow()->Watcher().Post({{}, {fUsb}});
  ASSERT_TRUE(WaitFor([&] { return usb->Count() == 0; }));
  EXPECT_TRUE(usb->HasChildren());
  EXPECT_EQ(Labels(disk), Names{"data"}); // another volume is left alone

  // Arrival: openable again, with the new medium's label and icon.
  const int icon = usb->ImageIndex();
  fVolumes[fUsb].Info.Label = "PHOTOS";
  fVolumes[fUsb].Type = DRIVE_CDROM;
  tree.DeviceWindow()->Watcher().Post({{fUsb}, {}});
  ASSERT_TRUE(WaitFor([&] { return usb->Text() == "PHOTOS (" + fUsb + ")"; }));
  EXPECT_TRUE(usb->HasChildren());
  EXPECT_NE(usb->ImageIndex(), icon);
  EXPECT_EQ(usb->Count(), 0); // read again only when opened
  ASSERT_TRUE(tree.Expand(usb));
  EXPECT_EQ(Labels(usb), Names{"docs"});
}

TEST_F(TreeDeviceTest, AVolumeThatWasNotShownAppearsWhenItArrives) {
  TShellTree &tree = DesktopTree();
  TShellnode *drives = Drives(tree);
  ASSERT_TRUE(tree.Expand(drives));
  const std::string added = Dir("media/new");
  fVolumes.Add(added, DRIVE_REMOVABLE, 0x3333, "NEUF");
  tree.DeviceWindow()->Watcher().Post({{added}, {}});
  ASSERT_TRUE(WaitFor([&] { return Volume(drives, added) != nullptr; }));
  EXPECT_NE(Volume(drives, fUsb), nullptr);
}

TEST_F(TreeDeviceTest, ARootOnAVolumeIsRefreshedByItsOwnVolumesEventsOnly) {
  TShellTree &tree = Tree(fUsb);
  TShellnode *root = tree.RootNode();
  ASSERT_EQ(PidlItemCount(root->Info.AbsPidl), 2); // the drives folder, then the volume
  tree.UpdAutoThread = false; // only device events may refresh it here
  Dir("media/usb/added");

  DEV_BROADCAST_VOLUME other = Record({fDisk});
  EXPECT_EQ(tree.DeviceWindow()->Perform(WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                                         reinterpret_cast<intptr_t>(&other)),
            1);
  EXPECT_EQ(Labels(root), Names{"docs"});

  tree.DeviceWindow()->Watcher().Post({{fUsb}, {}});
  ASSERT_TRUE(WaitFor([&] { return Labels(root) == Names{"added", "docs"}; }));
  EXPECT_TRUE(tree.ShowMessages); // switched off for the refresh only
}

TEST_F(TreeDeviceTest, TheDeviceWindowHandlesOnlyVolumeArrivalAndRemoval) {
  TShellTree &tree = DesktopTree();
  DEV_BROADCAST_VOLUME v = Record({fUsb});
  const auto lp = reinterpret_cast<intptr_t>(&v);
  TDeviceWindow *w = tree.DeviceWindow();
  EXPECT_EQ(w->Perform(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lp), 1);
  EXPECT_EQ(w->Perform(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, lp), 1);
  EXPECT_EQ(w->Perform(WM_DEVICECHANGE, 0x0007, 0), -1); // nodes changed: not handled
  EXPECT_EQ(w->Perform(0x0010, 0, 0), -1);
  DEV_BROADCAST_HDR port;
  port.dbch_devicetype = DBT_DEVTYP_PORT;
  EXPECT_EQ(w->Perform(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<intptr_t>(&port)), 1);
}

} // namespace
