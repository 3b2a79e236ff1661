// The folder monitor thread with a fake owner in place of the tree, and the device
// window fed by the mount-table watcher.
#include "MonitorHelpers.h"

#include "shelltree/DeviceWindow.h"
#include "shelltree/DiscMonitor.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace plm;

namespace {

// Stands for the tree: counts the changes handed to it, per node.
struct FakeOwner {
  int Changes = 0;
  bool OffThread = false; // a change arrived on another thread than the interface's
  TShellnode *LastNode = nullptr;
  TDiscMonitorThread::TFolderChanged Handler() {
    return [this](TShellnode *node) {
      ++Changes;
      LastNode = node;
      if (QThread::currentThread() != QCoreApplication::instance()->thread()) OffThread = true;
    };
  }
};

// A node address the monitor only hands back, never follows.
TShellnode *FakeNode(void *p) { return reinterpret_cast<TShellnode *>(p); }

std::unique_ptr<TDiscMonitorThread> Start(FakeOwner &owner, const std::string &path,
                                          uint32_t filter) {
  auto t = std::make_unique<TDiscMonitorThread>(FakeNode(&owner), path, filter, owner.Handler());
  t->Resume();
  return t;
}

// A change made before the worker has set its notification up is not seen.
bool Armed(const TDiscMonitorThread &m, int times = 1) {
  return QTest::qWaitFor([&] { return m.ArmCount() >= times; }, 10000);
}

// Changes the folder until the worker is blocked in its hand-off, without running the
// interface thread's event loop.
bool WaitForHandOff(const TDiscMonitorThread &m, const plmtest::TempTree &tree) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int n = 0; !m.HandOffPending(); ++n) {
    if (std::chrono::steady_clock::now() > limit) return false;
    if (m.ArmCount() > 0) ::mkdir(tree.Path("d" + std::to_string(n)).c_str(), 0700);
    std::this_thread::yield();
  }
  return true;
}

constexpr uint32_t kDirs = FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES;

} // namespace

TEST(DiscMonitor, AChangeReachesTheOwnerOnTheInterfaceThreadOncePerHandOff) {
  plmtest::TempTree t;
  FakeOwner owner;
  auto m = Start(owner, t.Root(), kDirs);
  ASSERT_TRUE(Armed(*m));
  t.MakeDir("a");
  ASSERT_TRUE(QTest::qWaitFor([&] { return m->HandOffCount() == 1; }, 10000));
  EXPECT_EQ(owner.Changes, 1);
  EXPECT_EQ(owner.LastNode, FakeNode(&owner));
  t.MakeDir("b");
  ASSERT_TRUE(QTest::qWaitFor([&] { return m->HandOffCount() == 2; }, 10000));
  EXPECT_EQ(owner.Changes, 2);
  EXPECT_FALSE(owner.OffThread);
  EXPECT_FALSE(m->Failed);
  EXPECT_EQ(m->WatchPath, t.Root());
  m.reset();
  EXPECT_EQ(owner.Changes, 2);
}

TEST(DiscMonitor, AFolderThatCannotBeWatchedFailsQuietly) {
  plmtest::TempTree t;
  FakeOwner owner;
  auto missing = Start(owner, t.Path("missing"), kDirs);
  auto file = Start(owner, t.MakeFile("plain"), kDirs);
  ASSERT_TRUE(QTest::qWaitFor([&] { return missing->Finished() && file->Finished(); }, 10000));
  EXPECT_TRUE(missing->Failed);
  EXPECT_TRUE(file->Failed);
  // The worker closed its events; these must not signal them.
  missing->SetFilter(7);
  missing.reset();
  file.reset();
  EXPECT_EQ(owner.Changes, 0);
}

namespace {

// A limit at the lowest free descriptor number leaves no number a new descriptor may take.
rlim_t NoDescriptorLeft() {
  const int lowest = ::dup(0);
  if (lowest >= 0) ::close(lowest);
  return rlim_t(lowest < 0 ? 0 : lowest);
}

} // namespace

// With every descriptor taken the monitor cannot make its events: it ends as failed at
// once instead of waiting on nothing for ever, and goes without hanging.
TEST(DiscMonitor, AMonitorWithoutDescriptorsFailsAndStops) {
  plmtest::TempTree t;
  FakeOwner owner;
  std::unique_ptr<TDiscMonitorThread> m;
  bool spare = true;
  {
    // Nothing but the construction here: the sanitizers' own checks need descriptors.
    plmtest::TDescriptorLimit none(NoDescriptorLeft());
    ASSERT_TRUE(none.Set());
    spare = TDiscMonitorThread::DescriptorsToSpare();
    m = std::make_unique<TDiscMonitorThread>(FakeNode(&owner), t.Root(), kDirs, owner.Handler());
  }
  EXPECT_FALSE(spare);
  EXPECT_FALSE(m->Usable());
  m->Resume();
  ASSERT_TRUE(QTest::qWaitFor([&] { return m->Finished(); }, 10000));
  EXPECT_TRUE(m->Failed);
  m->SetFilter(7);
  m.reset();
  EXPECT_EQ(owner.Changes, 0);
}

TEST(DiscMonitor, AWatchedFolderThatIsDeletedEndsItsMonitorAsFailed) {
  FakeOwner owner;
  plmtest::TempTree gone;
  auto m = Start(owner, gone.Root(), kDirs);
  ASSERT_TRUE(Armed(*m));
  std::filesystem::remove_all(gone.Root());
  ASSERT_TRUE(QTest::qWaitFor([&] { return m->Finished(); }, 10000));
  EXPECT_TRUE(m->Failed);
  EXPECT_GE(owner.Changes, 1); // the last change was still handed over
}

TEST(DiscMonitor, ANewFilterMakesARunningMonitorWatchAgain) {
  plmtest::TempTree t;
  FakeOwner owner;
  auto m = Start(owner, t.Root(), kDirs);
  m->SetFilter(kDirs); // the same filter: nothing to do
  EXPECT_FALSE(plmtest::SignalledNow(m->FilterEvent));
  ASSERT_TRUE(Armed(*m));
  m->SetFilter(kDirs | FILE_NOTIFY_CHANGE_FILE_NAME);
  EXPECT_EQ(m->Filter, 7u);
  ASSERT_TRUE(Armed(*m, 2)); // watching again, now for files too
  t.MakeFile("f");
  ASSERT_TRUE(QTest::qWaitFor([&] { return owner.Changes == 1; }, 10000));
  EXPECT_FALSE(m->Failed);
}

TEST(DiscMonitor, ASuspendedMonitorTakesItsFilterWhenItStarts) {
  plmtest::TempTree t;
  FakeOwner owner;
  TDiscMonitorThread m(FakeNode(&owner), t.Root(), kDirs, owner.Handler());
  m.SetFilter(FILE_NOTIFY_CHANGE_FILE_NAME);
  EXPECT_FALSE(plmtest::SignalledNow(m.FilterEvent));
  m.Resume();
  ASSERT_TRUE(Armed(m));
  EXPECT_EQ(m.ArmCount(), 1);
  t.MakeFile("f");
  ASSERT_TRUE(QTest::qWaitFor([&] { return owner.Changes == 1; }, 10000));
}

TEST(DiscMonitor, DestroyingAMonitorWithAHandOffPendingNeitherLocksNorRefreshes) {
  plmtest::TempTree t;
  FakeOwner owner;
  for (int round = 0; round < 20; ++round) {
    auto m = Start(owner, t.Root(), kDirs);
    ASSERT_TRUE(WaitForHandOff(*m, t)); // the worker is blocked in its hand-off
    m.reset();                        // on the interface thread, without its event loop
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(owner.Changes, 0);
}

TEST(DiscMonitor, ManyMonitorsStopWhileChangesPourIn) {
  plmtest::TempTree t;
  FakeOwner owner;
  std::vector<std::unique_ptr<TDiscMonitorThread>> monitors;
  for (int i = 0; i < 40; ++i)
    monitors.push_back(Start(owner, t.MakeDir("m" + std::to_string(i)), kDirs));
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int n = 0; !stop; ++n)
      ::mkdir(t.Path("m" + std::to_string(n % 40) + "/x" + std::to_string(n)).c_str(), 0700);
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return owner.Changes > 40; }, 10000));
  monitors.clear();
  stop = true;
  writer.join();
  const int seen = owner.Changes;
  QCoreApplication::processEvents();
  EXPECT_EQ(owner.Changes, seen);
}

TEST(DeviceWindow, VolumeChangesArriveAsMessagesOnTheInterfaceThread) {
  struct Seen {
    uintptr_t Code;
    std::vector<std::string> Points;
    uint32_t Type;
  };
  std::vector<Seen> seen;
  bool offThread = false;
  TDeviceWindow w([&](TMessage &m) {
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) offThread = true;
    if (m.Msg != WM_DEVICECHANGE) {
      m.Result = -1;
      return;
    }
    const auto *hdr = reinterpret_cast<const DEV_BROADCAST_HDR *>(m.LParam);
    const auto *vol = static_cast<const DEV_BROADCAST_VOLUME *>(hdr);
    seen.push_back({m.WParam, vol->dbcv_mountpoints, hdr->dbch_devicetype});
    m.Result = 1;
  });
  // A replaced volume: its removal comes before the arrival.
  w.Watcher().Post({{"/media/new", "/srv"}, {"/srv"}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == size_t(2); }, 10000));
  EXPECT_FALSE(offThread);
  EXPECT_EQ(seen[0].Code, DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(seen[0].Points, std::vector<std::string>{"/srv"});
  EXPECT_EQ(seen[1].Code, DBT_DEVICEARRIVAL);
  EXPECT_EQ(seen[1].Points, (std::vector<std::string>{"/media/new", "/srv"}));
  EXPECT_EQ(seen[1].Type, DBT_DEVTYP_VOLUME);
  EXPECT_EQ(w.Perform(0x0010, 0, 0), -1);
}

TEST(DeviceWindow, MessagesNotYetDeliveredAreDroppedWithTheWindow) {
  int calls = 0;
  {
    TDeviceWindow w([&](TMessage &) { ++calls; });
    w.Watcher().Post({{"/media/x"}, {}});
  }
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(calls, 0);
}
