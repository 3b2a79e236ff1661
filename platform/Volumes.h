#pragma once
// Volume queries: which volume holds a path, what it is called, its serial number,
// file system and kind of drive. Linux has no drive letters: a volume is named by its
// mount point. Everything goes through one provider so tests can present volumes that
// the machine lacks (removable, optical, network, RAM disk).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plm {

// Drive type codes, as the viewer's rules know them.
constexpr int DRIVE_UNKNOWN = 0;
constexpr int DRIVE_NO_ROOT_DIR = 1;
constexpr int DRIVE_REMOVABLE = 2;
constexpr int DRIVE_FIXED = 3;
constexpr int DRIVE_REMOTE = 4;
constexpr int DRIVE_CDROM = 5;
constexpr int DRIVE_RAMDISK = 6;

// File system flags of a volume.
constexpr uint32_t FILE_CASE_SENSITIVE_SEARCH = 0x00000001;
constexpr uint32_t FILE_CASE_PRESERVED_NAMES = 0x00000002;
constexpr uint32_t FILE_READ_ONLY_VOLUME = 0x00080000;

struct VolumeInfo {
  std::string MountPoint; // the volume's mount point, e.g. "/" or "/media/usb"
  std::string Label;      // empty when the volume has none
  uint32_t Serial = 0;    // from the file system's UUID, else the statvfs fsid
  uint32_t MaxComponentLength = 0;
  uint32_t FileSystemFlags = 0;
  std::string FileSystemName; // "ext4", "vfat", "tmpfs", ...
  std::string Device;         // the mount source, e.g. "/dev/sdb1" or "server:/export"
};

// One line of /proc/self/mountinfo, with its escapes (\040 ...) decoded.
struct MountEntry {
  unsigned Major = 0, Minor = 0;
  std::string MountPoint;
  std::string Options; // per-mount options ("rw,relatime")
  std::string FileSystemType;
  std::string Source;
  std::string SuperOptions;
};

// The source of the volume facts. Tests install their own with SetVolumeProvider.
class VolumeProvider {
public:
  virtual ~VolumeProvider() = default;
  // The mount point of the volume that holds the path ("" for a relative or empty path).
  virtual std::string MountPointOf(const std::string &path) = 0;
  // The volume that holds root; false when there is none (root missing, query refused).
  virtual bool VolumeInformation(const std::string &root, VolumeInfo &out) = 0;
  // One of the DRIVE_* codes for root.
  virtual int DriveType(const std::string &root) = 0;
  // The mount points of the volumes a person would browse, "/" first, then the others in
  // mount order (no pseudo file systems, no mounts of single files or system areas).
  virtual std::vector<std::string> MountedVolumes() { return {"/"}; }
};

// The machine's own volumes, read from the mount table, /dev/disk and /sys. The
// locations are parameters so tests can point the provider at a tree they built.
class SystemVolumeProvider : public VolumeProvider {
public:
  struct Sources {
    std::string MountInfo = "/proc/self/mountinfo";
    std::string DevDisk = "/dev/disk"; // holds by-label/ and by-uuid/
    std::string SysDevBlock = "/sys/dev/block";
  };
  SystemVolumeProvider() = default;
  explicit SystemVolumeProvider(Sources s) : fSources(std::move(s)) {}

  std::string MountPointOf(const std::string &path) override;
  bool VolumeInformation(const std::string &root, VolumeInfo &out) override;
  int DriveType(const std::string &root) override;
  std::vector<std::string> MountedVolumes() override;

  std::vector<MountEntry> Mounts() const; // the mount table, in file order

private:
  // The entry whose mount point covers the path best (the last mounted of the longest).
  bool FindMount(const std::string &path, MountEntry &out) const;
  bool BlockDeviceFlags(const MountEntry &m, bool &removable, bool &usb, bool &optical) const;
  Sources fSources;
};

// The provider in use: the system's unless a test installed another.
VolumeProvider &Volumes();
// Installs p (not owned; nullptr restores the system's). Returns the previous one.
VolumeProvider *SetVolumeProvider(VolumeProvider *p);

// Shorthands for the provider in use.
std::string MountPointOf(const std::string &path);
bool GetVolumeInformation(const std::string &root, VolumeInfo &out);
int GetDriveType(const std::string &root);

// Pure helpers, exposed for tests.
std::vector<MountEntry> ParseMountInfo(std::string_view text);
std::string DecodeMountField(std::string_view field); // \040 and friends
std::string DecodeDevDiskName(std::string_view name); // udev's \x20 escapes
// A UUID text to the 32-bit serial: 8 hex digits as they stand (FAT), the low 32 bits
// of a 16-digit serial (NTFS), else the first 8 hex digits. False when there are fewer.
bool SerialFromUuid(std::string_view uuid, uint32_t &serial);
// The drive type of a mounted volume from its file system type and device facts.
int ClassifyDriveType(std::string_view fsType, std::string_view source, bool removable, bool usb,
                      bool optical);
// A mount a person would browse: a real file system, outside the system's own areas.
bool IsBrowsableMount(const MountEntry &m);
// The mount points among the entries that are browsable volumes, "/" first, each once.
std::vector<std::string> BrowsableMountPoints(const std::vector<MountEntry> &mounts);

} // namespace plm
