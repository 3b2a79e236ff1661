// The mount-table watcher: comparing tables, its seams, and a real mount in a private
// mount namespace when the test may make one.
#include "MonitorHelpers.h"

#include "platform/MountWatch.h"

#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/mount.h>

using namespace plm;

namespace {

MountEntry Mount(const std::string &point, unsigned minor, const std::string &fs = "ext4",
                 const std::string &source = "/dev/sda1") {
  MountEntry m;
  m.Major = 8;
  m.Minor = minor;
  m.MountPoint = point;
  m.FileSystemType = fs;
  m.Source = source;
  return m;
}

std::string Line(int id, const std::string &point, const std::string &dev, const std::string &fs,
                 const std::string &source) {
  return std::to_string(id) + " 1 " + dev + " / " + point + " rw,relatime shared:1 - " + fs + " " +
         source + " rw\n";
}

// Collects what a watcher reports, and on which thread.
struct Collector {
  std::mutex Lock;
  std::vector<MountTableChange> Changes;
  std::thread::id Thread;
  TMountWatcher::Handler Handler() {
    return [this](const MountTableChange &c) {
      std::lock_guard<std::mutex> guard(Lock);
      Changes.push_back(c);
      Thread = std::this_thread::get_id();
    };
  }
  size_t Count() {
    std::lock_guard<std::mutex> guard(Lock);
    return Changes.size();
  }
};

using Names = std::vector<std::string>;

} // namespace

TEST(MountTables, ComparingTablesFindsVolumesThatCameAndWent) {
  const std::vector<MountEntry> before = {Mount("/", 1), Mount("/media/usb", 17, "vfat"),
                                          Mount("/proc", 0, "proc", "proc"),
                                          Mount("/srv", 2)};
  std::vector<MountEntry> after = {Mount("/", 1), Mount("/srv", 2),
                                   Mount("/media/cd", 0, "iso9660", "/dev/sr0"),
                                   Mount("/sys", 0, "sysfs", "sysfs")};
  const MountTableChange c = CompareMountTables(before, after);
  EXPECT_EQ(c.Arrived, Names{"/media/cd"}); // pseudo file systems are no volumes
  EXPECT_EQ(c.Removed, Names{"/media/usb"});
  EXPECT_TRUE(CompareMountTables(after, after).Empty());

  // Another device on the same mount point: the old volume went and a new one came.
  after[1] = Mount("/srv", 33);
  const MountTableChange replaced = CompareMountTables(before, after);
  EXPECT_EQ(replaced.Arrived, (Names{"/srv", "/media/cd"}));
  EXPECT_EQ(replaced.Removed, (Names{"/media/usb", "/srv"}));

  // A second volume mounted over the first: one arrival; unmounting it: one removal.
  std::vector<MountEntry> stacked = after;
  stacked.push_back(Mount("/srv", 34));
  EXPECT_EQ(CompareMountTables(after, stacked).Arrived, Names{"/srv"});
  EXPECT_TRUE(CompareMountTables(after, stacked).Removed.empty());
  EXPECT_EQ(CompareMountTables(stacked, after).Removed, Names{"/srv"});
}

TEST(MountWatcher, PostedChangesReachTheHandlerOnTheWatchersThread) {
  Collector got;
  TMountWatcher w(got.Handler());
  w.Post({{"/media/a", "/media/b"}, {}});
  w.Post({}); // an empty change is not reported
  w.Post({{}, {"/media/a"}});
  ASSERT_TRUE(QTest::qWaitFor([&] { return got.Count() == size_t(2); }, 10000));
  std::lock_guard<std::mutex> guard(got.Lock);
  EXPECT_EQ(got.Changes[0].Arrived, (Names{"/media/a", "/media/b"}));
  EXPECT_EQ(got.Changes[1].Removed, Names{"/media/a"});
  EXPECT_NE(got.Thread, std::this_thread::get_id());
}

TEST(MountWatcher, ARescanComparesTheTableWithTheLastOne) {
  plmtest::TempTree t;
  const std::string table = t.Path("mountinfo");
  std::ofstream(table) << Line(1, "/", "8:1", "ext4", "/dev/sda1")
                       << Line(2, "/media/old", "8:17", "vfat", "/dev/sdb1");
  Collector got;
  TMountWatcher w(got.Handler(), table);
  std::ofstream(table) << Line(1, "/", "8:1", "ext4", "/dev/sda1")
                       << Line(3, "/media/new\\040disk", "8:33", "exfat", "/dev/sdc1")
                       << Line(4, "/run/user/0", "0:50", "tmpfs", "tmpfs");
  w.Rescan();
  ASSERT_TRUE(QTest::qWaitFor([&] { return got.Count() == size_t(1); }, 10000));
  std::lock_guard<std::mutex> guard(got.Lock);
  EXPECT_EQ(got.Changes[0].Arrived, Names{"/media/new disk"}); // not the system's /run
  EXPECT_EQ(got.Changes[0].Removed, Names{"/media/old"});
}

// The kernel flags a change of the mount table; the watcher wakes without any timer.
TEST(MountWatcher, AMountAndAnUnmountAreReportedByTheKernel) {
  // Only this thread moves to a private mount namespace; nothing leaks to the machine.
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
    GTEST_SKIP() << "no private mount namespace here";
  plmtest::TempTree t;
  const std::string point = t.MakeDir("volume");
  Collector got;
  TMountWatcher w(got.Handler());
  if (::mount("plmtest", point.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "tmpfs cannot be mounted here";
  ASSERT_TRUE(QTest::qWaitFor([&] { return got.Count() == size_t(1); }, 10000));
  ASSERT_EQ(::umount(point.c_str()), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return got.Count() == size_t(2); }, 10000));
  std::lock_guard<std::mutex> guard(got.Lock);
  EXPECT_EQ(got.Changes[0].Arrived, Names{point});
  EXPECT_TRUE(got.Changes[0].Removed.empty());
  EXPECT_EQ(got.Changes[1].Removed, Names{point});
}
