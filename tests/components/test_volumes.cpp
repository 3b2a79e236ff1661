// The volume queries: mount table parsing, drive type rules, and the system provider
// run both against a volume tree built by the test and against this machine.
#include "platform/Volumes.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace plm;

namespace {

void WriteFile(const fs::path &p, const std::string &text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

} // namespace

TEST(MountInfo, ParsesFieldsOptionalTagsAndEscapes) {
  const auto m = ParseMountInfo(
      "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
      "40 27 8:17 / /media/My\\040Stick rw,nosuid shared:5 master:1 - vfat /dev/sdb1 rw,uid=1000\n"
      "garbage line\n"
      "41 27 0:50 / /net/back\\134slash rw - nfs4 srv:/export rw\n");
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].Major, 254u);
  EXPECT_EQ(m[0].Minor, 0u);
  EXPECT_EQ(m[0].MountPoint, "/");
  EXPECT_EQ(m[0].FileSystemType, "ext4");
  EXPECT_EQ(m[0].Source, "/dev/vda");
  EXPECT_EQ(m[1].MountPoint, "/media/My Stick");
  EXPECT_EQ(m[1].Major, 8u);
  EXPECT_EQ(m[1].Minor, 17u);
  EXPECT_EQ(m[1].FileSystemType, "vfat");
  EXPECT_EQ(m[1].Source, "/dev/sdb1");
  EXPECT_EQ(m[1].Options, "rw,nosuid");
  EXPECT_EQ(m[2].MountPoint, "/net/back\\slash");
  EXPECT_EQ(m[2].Source, "srv:/export");
}

TEST(MountInfo, DecodesUdevNamesAndLeavesBrokenEscapes) {
  EXPECT_EQ(DecodeDevDiskName("MY\\x20STICK"), "MY STICK");
  EXPECT_EQ(DecodeDevDiskName("a\\x2fb"), "a/b");
  EXPECT_EQ(DecodeDevDiskName("end\\x2"), "end\\x2");
  EXPECT_EQ(DecodeMountField("a\\04"), "a\\04");
  EXPECT_EQ(DecodeMountField("tab\\011x"), "tab\tx");
}

TEST(MountInfo, SerialFromUuidTakesTheWindowsVisiblePart) {
  uint32_t s = 0;
  ASSERT_TRUE(SerialFromUuid("1A2B-3C4D", s)); // FAT
  EXPECT_EQ(s, 0x1A2B3C4Du);
  ASSERT_TRUE(SerialFromUuid("0123456789ABCDEF", s)); // NTFS: low 32 bits
  EXPECT_EQ(s, 0x89ABCDEFu);
  ASSERT_TRUE(SerialFromUuid("0a1b2c3d-1111-2222-3333-444455556666", s)); // ext4
  EXPECT_EQ(s, 0x0A1B2C3Du);
  EXPECT_FALSE(SerialFromUuid("12-34", s));
  EXPECT_FALSE(SerialFromUuid("not-a-uuid-at-all", s));
}

TEST(DriveTypeRules, ClassifyByFileSystemAndDevice) {
  EXPECT_EQ(ClassifyDriveType("tmpfs", "tmpfs", false, false, false), DRIVE_RAMDISK);
  EXPECT_EQ(ClassifyDriveType("ramfs", "none", false, false, false), DRIVE_RAMDISK);
  for (const char *net : {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs", "9p"})
    EXPECT_EQ(ClassifyDriveType(net, "srv:/x", false, false, false), DRIVE_REMOTE) << net;
  EXPECT_EQ(ClassifyDriveType("iso9660", "/dev/sr0", false, false, false), DRIVE_CDROM);
  EXPECT_EQ(ClassifyDriveType("udf", "/dev/sr0", false, false, false), DRIVE_CDROM);
  EXPECT_EQ(ClassifyDriveType("ext4", "/dev/sr0", false, false, true), DRIVE_CDROM);
  for (const char *pseudo : {"proc", "sysfs", "devpts", "cgroup2", "devtmpfs"})
    EXPECT_EQ(ClassifyDriveType(pseudo, pseudo, false, false, false), DRIVE_UNKNOWN) << pseudo;
  EXPECT_EQ(ClassifyDriveType("vfat", "/dev/sdb1", true, false, false), DRIVE_REMOVABLE);
  EXPECT_EQ(ClassifyDriveType("ext4", "/dev/sdb1", false, true, false), DRIVE_REMOVABLE);
  EXPECT_EQ(ClassifyDriveType("ext4", "/dev/sda1", false, false, false), DRIVE_FIXED);
  EXPECT_EQ(ClassifyDriveType("overlay", "overlay", false, false, false), DRIVE_FIXED);
}

// A machine described by files: a mount table whose mount points are folders of the
// test, udev's /dev/disk links and the sysfs block tree.
class BuiltVolumes : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    root = fs::path(tmp.path().toStdString());
    for (const char *d :
         {"fixed", "fixed/sub", "stick", "card", "cd", "net", "ram", "proc", "fixed/nested"})
      fs::create_directories(root / "mnt" / d);
    for (const char *dev : {"sda1", "sdb1", "mmcblk0", "sr0"})
      WriteFile(root / "dev" / dev, "");

    const fs::path devices = root / "sys/devices";
    WriteFile(devices / "pci0/ata1/block/sda/removable", "0\n");
    WriteFile(devices / "pci0/ata1/block/sda/sda1/partition", "1\n");
    WriteFile(devices / "pci0/usb1/1-1/block/sdb/removable", "0\n"); // USB, not flagged
    WriteFile(devices / "pci0/usb1/1-1/block/sdb/sdb1/partition", "1\n");
    WriteFile(devices / "pci0/mmc0/block/mmcblk0/removable", "1\n");
    WriteFile(devices / "pci0/ata2/block/sr0/removable", "1\n");
    fs::create_directories(root / "sys/dev/block");
    fs::create_directory_symlink(devices / "pci0/ata1/block/sda/sda1", root / "sys/dev/block/8:1");
    fs::create_directory_symlink(devices / "pci0/usb1/1-1/block/sdb/sdb1",
                                 root / "sys/dev/block/8:17");
    fs::create_directory_symlink(devices / "pci0/mmc0/block/mmcblk0", root / "sys/dev/block/179:0");
    fs::create_directory_symlink(devices / "pci0/ata2/block/sr0", root / "sys/dev/block/11:0");

    fs::create_directories(root / "dev/disk/by-label");
    fs::create_directories(root / "dev/disk/by-uuid");
    fs::create_symlink("../../sdb1", root / "dev/disk/by-label/MY\\x20STICK");
    fs::create_symlink("../../sdb1", root / "dev/disk/by-uuid/1A2B-3C4D");
    fs::create_symlink("../../sda1", root / "dev/disk/by-uuid/0a1b2c3d-1111-2222-3333-44445555");
    fs::create_symlink("../../sr0", root / "dev/disk/by-label/CD\\x20ROM");

    const std::string m = (root / "mnt").string();
    const std::string d = (root / "dev").string();
    WriteFile(root / "mountinfo",
              "1 0 8:1 / " + m + "/fixed rw - ext4 " + d + "/sda1 rw\n" + "2 1 8:17 / " + m +
                  "/stick rw - vfat " + d + "/sdb1 rw\n" + "3 1 179:0 / " + m +
                  "/card rw - exfat " + d + "/mmcblk0 rw\n" + "4 1 11:0 / " + m +
                  "/cd ro - iso9660 " + d + "/sr0 ro\n" + "5 1 0:60 / " + m +
                  "/net rw - nfs4 srv:/export rw\n" + "6 1 0:61 / " + m +
                  "/ram rw - tmpfs tmpfs rw\n" + "7 1 0:62 / " + m + "/proc rw - proc proc rw\n" +
                  "8 1 0:63 / " + m + "/fixed/nested rw - tmpfs tmpfs rw\n" + "9 1 0:64 / " + m +
                  "/fixed/nested rw - ramfs none rw\n");
    SystemVolumeProvider::Sources s;
    s.MountInfo = (root / "mountinfo").string();
    s.DevDisk = (root / "dev/disk").string();
    s.SysDevBlock = (root / "sys/dev/block").string();
    provider = std::make_unique<SystemVolumeProvider>(s);
  }
  std::string Mnt(const std::string &name) const { return (root / "mnt" / name).string(); }

  QTemporaryDir tmp;
  fs::path root;
  std::unique_ptr<SystemVolumeProvider> provider;
};

TEST_F(BuiltVolumes, DriveTypeOfEveryKindOfVolume) {
  EXPECT_EQ(provider->DriveType(Mnt("fixed")), DRIVE_FIXED);
  EXPECT_EQ(provider->DriveType(Mnt("stick")), DRIVE_REMOVABLE); // on USB
  EXPECT_EQ(provider->DriveType(Mnt("card")), DRIVE_REMOVABLE);  // removable flag
  EXPECT_EQ(provider->DriveType(Mnt("cd")), DRIVE_CDROM);
  EXPECT_EQ(provider->DriveType(Mnt("net")), DRIVE_REMOTE);
  EXPECT_EQ(provider->DriveType(Mnt("ram")), DRIVE_RAMDISK);
  EXPECT_EQ(provider->DriveType(Mnt("proc")), DRIVE_UNKNOWN);
  EXPECT_EQ(provider->DriveType(Mnt("gone")), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(provider->DriveType(""), DRIVE_NO_ROOT_DIR);
}

TEST_F(BuiltVolumes, MountPointOfPathsInsideLinksAndMissingTails) {
  EXPECT_EQ(provider->MountPointOf(Mnt("fixed")), Mnt("fixed"));
  EXPECT_EQ(provider->MountPointOf(Mnt("fixed/sub")), Mnt("fixed"));
  EXPECT_EQ(provider->MountPointOf(Mnt("fixed/sub/not/yet/made")), Mnt("fixed"));
  EXPECT_EQ(provider->MountPointOf(Mnt("fixed/nested/x")), Mnt("fixed/nested"));
  // "fixed/nested" must not be taken for a prefix of "fixed/nestedness".
  fs::create_directories(root / "mnt/fixed/nestedness");
  EXPECT_EQ(provider->MountPointOf(Mnt("fixed/nestedness")), Mnt("fixed"));
  fs::create_directory_symlink(root / "mnt/stick", root / "mnt/fixed/sub/to-stick");
  EXPECT_EQ(provider->MountPointOf(Mnt("fixed/sub/to-stick")), Mnt("stick"));
  EXPECT_EQ(provider->MountPointOf("relative/path"), "");
  EXPECT_EQ(provider->MountPointOf(""), "");
}

TEST_F(BuiltVolumes, LaterMountAtTheSamePlaceWins) {
  VolumeInfo v;
  ASSERT_TRUE(provider->VolumeInformation(Mnt("fixed/nested"), v));
  EXPECT_EQ(v.FileSystemName, "ramfs");
  EXPECT_EQ(v.Device, "none");
}

TEST_F(BuiltVolumes, LabelSerialAndFlagsFromTheDiskLinks) {
  VolumeInfo v;
  ASSERT_TRUE(provider->VolumeInformation(Mnt("stick"), v));
  EXPECT_EQ(v.MountPoint, Mnt("stick"));
  EXPECT_EQ(v.Label, "MY STICK");
  EXPECT_EQ(v.Serial, 0x1A2B3C4Du);
  EXPECT_EQ(v.FileSystemName, "vfat");
  EXPECT_EQ(v.Device, (root / "dev/sdb1").string());
  EXPECT_GT(v.MaxComponentLength, 0u);
  EXPECT_FALSE(v.FileSystemFlags & FILE_CASE_SENSITIVE_SEARCH);
  EXPECT_TRUE(v.FileSystemFlags & FILE_CASE_PRESERVED_NAMES);

  ASSERT_TRUE(provider->VolumeInformation(Mnt("fixed"), v));
  EXPECT_EQ(v.Label, "");
  EXPECT_EQ(v.Serial, 0x0A1B2C3Du);
  EXPECT_TRUE(v.FileSystemFlags & FILE_CASE_SENSITIVE_SEARCH);

  ASSERT_TRUE(provider->VolumeInformation(Mnt("cd"), v));
  EXPECT_EQ(v.Label, "CD ROM");
}

TEST_F(BuiltVolumes, NoVolumeForAMissingRoot) {
  VolumeInfo v;
  v.Label = "stale";
  EXPECT_FALSE(provider->VolumeInformation(Mnt("gone"), v));
  EXPECT_EQ(v.Label, "");
  EXPECT_FALSE(provider->VolumeInformation("", v));
}

TEST_F(BuiltVolumes, UnreadableMountTableMeansNoVolume) {
  SystemVolumeProvider::Sources s;
  s.MountInfo = (root / "no-such-mountinfo").string();
  SystemVolumeProvider none(s);
  VolumeInfo v;
  EXPECT_FALSE(none.VolumeInformation(Mnt("fixed"), v));
  EXPECT_EQ(none.DriveType(Mnt("fixed")), DRIVE_UNKNOWN);
  EXPECT_EQ(none.MountPointOf(Mnt("fixed")), "");
}

TEST(MachineVolumes, EveryMountedVolumeAnswersConsistently) {
  SystemVolumeProvider sys;
  const auto mounts = sys.Mounts();
  ASSERT_FALSE(mounts.empty());
  EXPECT_EQ(sys.MountPointOf("/"), "/");
  int answered = 0;
  for (const auto &m : mounts) {
    VolumeInfo v;
    if (!sys.VolumeInformation(m.MountPoint, v)) continue; // e.g. not readable by us
    ++answered;
    EXPECT_EQ(v.MountPoint, sys.MountPointOf(m.MountPoint)) << m.MountPoint;
    EXPECT_FALSE(v.FileSystemName.empty()) << m.MountPoint;
    const int t = sys.DriveType(m.MountPoint);
    EXPECT_GE(t, DRIVE_UNKNOWN);
    EXPECT_LE(t, DRIVE_RAMDISK);
    EXPECT_NE(t, DRIVE_NO_ROOT_DIR) << m.MountPoint;
  }
  EXPECT_GT(answered, 0);
  VolumeInfo rootInfo;
  ASSERT_TRUE(sys.VolumeInformation("/", rootInfo));
  EXPECT_GT(rootInfo.MaxComponentLength, 0u);
}

TEST(VolumeProviderSeam, InstallAndRestore) {
  struct Always : VolumeProvider {
    std::string MountPointOf(const std::string &) override { return "/fake"; }
    bool VolumeInformation(const std::string &, VolumeInfo &) override { return false; }
    int DriveType(const std::string &) override { return DRIVE_CDROM; }
  } fake;
  VolumeProvider *previous = SetVolumeProvider(&fake);
  EXPECT_EQ(GetDriveType("/"), DRIVE_CDROM);
  EXPECT_EQ(MountPointOf("/etc"), "/fake");
  SetVolumeProvider(previous);
  EXPECT_EQ(MountPointOf("/"), "/");
  EXPECT_NE(GetDriveType("/"), DRIVE_CDROM);
}
