// TDiskCaps against this machine's volumes and, through the provider seam, against
// removable, optical, network and RAM-disk volumes.
#include "FakeVolumes.h"
#include "components/DiskCaps.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <cctype>
#include <memory>

using namespace plm;

namespace {

void EnsureApp() {
  static int argc = 1;
  static char name[] = "test_components";
  static char *argv[] = {name, nullptr};
  static QCoreApplication *app =
      QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
  (void)app;
}

bool IsSerialText(const std::string &s) {
  if (s.size() != 8) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c)) ||
        std::islower(static_cast<unsigned char>(c)))
      return false;
  return true;
}

} // namespace

TEST(DiskCapsMachine, SerialIsAlwaysEightUpperCaseDigits) {
  EnsureApp();
  SystemVolumeProvider sys;
  TDiskCaps caps;
  EXPECT_EQ(caps.Drive(), "/");
  EXPECT_TRUE(IsSerialText(caps.DiskSerial())) << caps.DiskSerial();
  EXPECT_FALSE(caps.FileSystem().empty());
  EXPECT_GT(caps.ComponentLen(), 0);
  int checked = 0;
  for (const auto &m : sys.Mounts()) {
    VolumeInfo v;
    if (!sys.VolumeInformation(m.MountPoint, v) || v.Label.size() > TDiskCaps::NameLimit ||
        v.FileSystemName.size() > TDiskCaps::NameLimit)
      continue;
    caps.setDrive(m.MountPoint);
    EXPECT_TRUE(IsSerialText(caps.DiskSerial())) << m.MountPoint << ": " << caps.DiskSerial();
    EXPECT_EQ(caps.FileSystem(), v.FileSystemName);
    EXPECT_EQ(caps.DriveType(), sys.DriveType(m.MountPoint));
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST(DiskCapsMachine, FixedDiskRefusesTheWatch) {
  EnsureApp();
  SystemVolumeProvider sys;
  std::string fixed;
  for (const auto &m : sys.Mounts())
    if (sys.DriveType(m.MountPoint) == DRIVE_FIXED) {
      fixed = m.MountPoint;
      break;
    }
  if (fixed.empty()) GTEST_SKIP() << "no fixed disk mounted here";
  TDiskCaps caps;
  caps.setDrive(fixed);
  ASSERT_EQ(caps.DriveType(), DRIVE_FIXED);
  caps.setCheckSNChange(true);
  EXPECT_FALSE(caps.CheckSNChange());
  EXPECT_EQ(caps.WatchTimer(), nullptr);
}

TEST(DiskCapsMachine, MissingFolderHasNoRootAndDefinedValues) {
  EnsureApp();
  TDiskCaps caps;
  caps.setDrive("/no/such/mount/point/here");
  EXPECT_EQ(caps.DriveType(), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(caps.DiskLabel(), "");
  EXPECT_EQ(caps.DiskSerial(), "");
  EXPECT_EQ(caps.FileSystem(), "");
  EXPECT_EQ(caps.ComponentLen(), 0);
  EXPECT_EQ(caps.DriveFlags(), 0u);
}

class DiskCapsFake : public ::testing::Test {
protected:
  void SetUp() override {
    EnsureApp();
    vols.Add("/", DRIVE_FIXED, 0xDEADBEEF, "SYSTEM");
    vols.Add("/media/stick", DRIVE_REMOVABLE, 0x00ABCDEF, "STICK", "vfat");
    vols.Add("/media/cdrom", DRIVE_CDROM, 0x11111111, "CD", "iso9660");
    vols.Add("/net/share", DRIVE_REMOTE, 0x22222222, "", "nfs4");
    vols.Add("/dev/shm", DRIVE_RAMDISK, 0, "", "tmpfs");
  }
  FakeVolumes vols;
};

TEST_F(DiskCapsFake, ConstructionQueriesTheRootWithTheDefaults) {
  TDiskCaps caps;
  EXPECT_EQ(vols.InfoQueries, 1);
  EXPECT_EQ(caps.Drive(), "/");
  EXPECT_EQ(caps.DiskLabel(), "SYSTEM");
  EXPECT_EQ(caps.DiskSerial(), "DEADBEEF");
  EXPECT_EQ(caps.DriveType(), DRIVE_FIXED);
  EXPECT_EQ(caps.FileSystem(), "ext4");
  EXPECT_EQ(caps.ComponentLen(), 255);
  EXPECT_FALSE(caps.CheckSNChange());
  EXPECT_EQ(caps.CheckPeriod(), 2000);
  EXPECT_EQ(caps.WatchTimer(), nullptr);
}

TEST_F(DiskCapsFake, OwnerDestroysTheProbeAndItsTimer) {
  auto owner = std::make_unique<QObject>();
  QPointer<TDiskCaps> caps = new TDiskCaps(owner.get());
  caps->setDrive("/media/stick");
  caps->setCheckSNChange(true);
  QPointer<const QTimer> timer = caps->WatchTimer();
  ASSERT_TRUE(timer);
  owner.reset();
  EXPECT_TRUE(caps.isNull());
  EXPECT_TRUE(timer.isNull());
}

TEST_F(DiskCapsFake, SettingTheSameDriveDoesNothing) {
  TDiskCaps caps;
  int changed = 0;
  caps.OnDriveChanged = [&](QObject *sender) {
    EXPECT_EQ(sender, &caps);
    ++changed;
  };
  const int before = vols.InfoQueries + vols.TypeQueries;
  caps.setDrive("/");
  EXPECT_EQ(vols.InfoQueries + vols.TypeQueries, before);
  EXPECT_EQ(changed, 0);
  caps.setDrive("/media/stick");
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(caps.DriveType(), DRIVE_REMOVABLE);
}

TEST_F(DiskCapsFake, SerialKeepsLeadingZerosAndCapitals) {
  TDiskCaps caps;
  caps.setDrive("/media/stick");
  EXPECT_EQ(caps.DiskSerial(), "00ABCDEF");
  caps.setDrive("/dev/shm");
  EXPECT_EQ(caps.DiskSerial(), "00000000");
}

TEST_F(DiskCapsFake, EveryKindOfDriveReportsItsType) {
  TDiskCaps caps;
  const std::pair<const char *, int> kinds[] = {{"/media/stick", DRIVE_REMOVABLE},
                                                {"/media/cdrom", DRIVE_CDROM},
                                                {"/net/share", DRIVE_REMOTE},
                                                {"/dev/shm", DRIVE_RAMDISK},
                                                {"/", DRIVE_FIXED},
                                                {"/nowhere", DRIVE_NO_ROOT_DIR}};
  for (const auto &[drive, type] : kinds) {
    caps.setDrive(drive);
    EXPECT_EQ(caps.DriveType(), type) << drive;
  }
  caps.setDrive("/media/cdrom");
  EXPECT_EQ(caps.FileSystem(), "iso9660");
  EXPECT_EQ(caps.DiskLabel(), "CD");
}

TEST_F(DiskCapsFake, FailedQueryGivesEmptyValuesButKeepsTheType) {
  vols["/media/cdrom"].QueryFails = true; // no disc in the drive
  TDiskCaps caps;
  caps.setDrive("/media/cdrom");
  EXPECT_EQ(caps.DiskLabel(), "");
  EXPECT_EQ(caps.DiskSerial(), "");
  EXPECT_EQ(caps.FileSystem(), "");
  EXPECT_EQ(caps.ComponentLen(), 0);
  EXPECT_EQ(caps.DriveFlags(), 0u);
  EXPECT_EQ(caps.DriveType(), DRIVE_CDROM);
}

TEST_F(DiskCapsFake, NamesBeyondTwelveCharactersFailTheQuery) {
  vols.Add("/media/a", DRIVE_REMOVABLE, 1, "TWELVE_CHARS");
  vols.Add("/media/b", DRIVE_REMOVABLE, 2, "THIRTEEN_CHAR");
  vols.Add("/media/c", DRIVE_REMOTE, 3, "", "fuse.glusterfs");
  TDiskCaps caps;
  caps.setDrive("/media/a");
  EXPECT_EQ(caps.DiskLabel(), "TWELVE_CHARS");
  EXPECT_EQ(caps.DiskSerial(), "00000001");
  caps.setDrive("/media/b");
  EXPECT_EQ(caps.DiskLabel(), "");
  EXPECT_EQ(caps.DiskSerial(), "");
  caps.setDrive("/media/c");
  EXPECT_EQ(caps.FileSystem(), "");
  EXPECT_EQ(caps.DriveType(), DRIVE_REMOTE);
}

TEST_F(DiskCapsFake, StoredResultValuesStayUntilTheDriveChanges) {
  TDiskCaps caps;
  caps.setDiskLabel("DESIGNED");
  caps.setDriveType(DRIVE_CDROM);
  caps.setDiskSerial("CAFEF00D");
  caps.setDrive("/");
  EXPECT_EQ(caps.DiskLabel(), "DESIGNED");
  EXPECT_EQ(caps.DriveType(), DRIVE_CDROM);
  caps.setDrive("/net/share");
  EXPECT_EQ(caps.DiskLabel(), "");
  EXPECT_EQ(caps.DriveType(), DRIVE_REMOTE);
}

TEST_F(DiskCapsFake, WatchRunsOnlyOnRemovableAndOpticalDrives) {
  TDiskCaps caps;
  for (const char *drive : {"/", "/net/share", "/dev/shm", "/nowhere"}) {
    caps.setDrive(drive);
    caps.setCheckSNChange(true);
    EXPECT_FALSE(caps.CheckSNChange()) << drive;
    EXPECT_EQ(caps.WatchTimer(), nullptr) << drive;
  }
  for (const char *drive : {"/media/stick", "/media/cdrom"}) {
    caps.setDrive(drive);
    caps.setCheckSNChange(true);
    EXPECT_TRUE(caps.CheckSNChange()) << drive;
    ASSERT_NE(caps.WatchTimer(), nullptr) << drive;
    EXPECT_EQ(caps.WatchTimer()->interval(), 2000);
    EXPECT_TRUE(caps.WatchTimer()->isActive());
  }
}

TEST_F(DiskCapsFake, WatchNeedsAPositivePeriod) {
  TDiskCaps caps;
  caps.setDrive("/media/stick");
  caps.setCheckPeriod(0);
  caps.setCheckSNChange(true);
  EXPECT_FALSE(caps.CheckSNChange());
  EXPECT_EQ(caps.WatchTimer(), nullptr);
}

TEST_F(DiskCapsFake, SwappedMediumIsReportedOnceAtTheNextTick) {
  TDiskCaps caps;
  caps.setDrive("/media/stick");
  caps.setCheckPeriod(5);
  caps.setCheckSNChange(true);
  ASSERT_TRUE(caps.CheckSNChange());
  int swaps = 0;
  caps.OnSNChanged = [&](QObject *sender) {
    EXPECT_EQ(sender, &caps);
    ++swaps;
  };
  // Ticks with the same medium report nothing.
  int queries = vols.InfoQueries;
  ASSERT_TRUE(QTest::qWaitFor([&] { return vols.InfoQueries >= queries + 3; }, 5000));
  EXPECT_EQ(swaps, 0);

  vols["/media/stick"].Info.Serial = 0x0BADCAFE;
  vols["/media/stick"].Info.Label = "OTHER";
  ASSERT_TRUE(QTest::qWaitFor([&] { return swaps > 0; }, 5000));
  EXPECT_EQ(caps.DiskSerial(), "0BADCAFE");
  EXPECT_EQ(caps.DiskLabel(), "OTHER");
  queries = vols.InfoQueries;
  ASSERT_TRUE(QTest::qWaitFor([&] { return vols.InfoQueries >= queries + 3; }, 5000));
  EXPECT_EQ(swaps, 1);
}

TEST_F(DiskCapsFake, ChangingTheDriveStopsTheWatch) {
  TDiskCaps caps;
  caps.setDrive("/media/cdrom");
  caps.setCheckSNChange(true);
  ASSERT_NE(caps.WatchTimer(), nullptr);
  int changed = 0;
  caps.OnDriveChanged = [&](QObject *) {
    ++changed;
    EXPECT_FALSE(caps.CheckSNChange()); // already stopped when the event comes
  };
  caps.setDrive("/media/stick");
  EXPECT_FALSE(caps.CheckSNChange());
  EXPECT_EQ(caps.WatchTimer(), nullptr);
  EXPECT_EQ(changed, 1);
}

TEST_F(DiskCapsFake, PeriodChangesRebuildOrStopTheTimer) {
  TDiskCaps caps;
  caps.setDrive("/media/stick");
  caps.setCheckSNChange(true);
  caps.setCheckPeriod(750);
  ASSERT_NE(caps.WatchTimer(), nullptr);
  EXPECT_EQ(caps.WatchTimer()->interval(), 750);
  EXPECT_EQ(caps.CheckPeriod(), 750);

  caps.setCheckPeriod(0); // timer gone, the wish to watch stays
  EXPECT_EQ(caps.WatchTimer(), nullptr);
  EXPECT_TRUE(caps.CheckSNChange());
  caps.setCheckPeriod(-5);
  EXPECT_EQ(caps.WatchTimer(), nullptr);

  caps.setCheckPeriod(300);
  ASSERT_NE(caps.WatchTimer(), nullptr);
  EXPECT_EQ(caps.WatchTimer()->interval(), 300);

  caps.setCheckSNChange(false);
  EXPECT_EQ(caps.WatchTimer(), nullptr);
  caps.setCheckPeriod(400); // not watching: no timer appears
  EXPECT_EQ(caps.WatchTimer(), nullptr);
}

TEST_F(DiskCapsFake, PeriodChangeKeepsTheLastSerial) {
  TDiskCaps caps;
  caps.setDrive("/media/stick");
  caps.setCheckSNChange(true);
  int swaps = 0;
  caps.OnSNChanged = [&](QObject *) { ++swaps; };
  vols["/media/stick"].Info.Serial = 0x12345678; // swapped before the new period starts
  caps.setCheckPeriod(5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return swaps > 0; }, 5000));
  EXPECT_EQ(swaps, 1);
}
