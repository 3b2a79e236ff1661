#include "platform/Volumes.h"

#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Strings.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/statvfs.h>

namespace plm {

namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

std::string RealPath(const std::string &path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf) == nullptr) return {};
  return buf;
}

// The path with links resolved as far as it exists; the missing tail is kept as written.
std::string ResolveExisting(const std::string &path) {
  std::string p = ExpandFileName(path);
  std::string tail;
  while (!p.empty()) {
    std::string real = RealPath(p);
    if (!real.empty()) {
      if (tail.empty()) return real;
      return real == "/" ? "/" + tail : real + "/" + tail;
    }
    if (p == "/") break;
    const auto slash = p.find_last_of('/');
    const std::string name = p.substr(slash + 1);
    tail = tail.empty() ? name : name + "/" + tail;
    p = slash == 0 ? "/" : p.substr(0, slash);
  }
  return ExpandFileName(path);
}

bool Covers(const std::string &mountPoint, const std::string &path) {
  if (mountPoint == "/") return !path.empty() && path[0] == '/';
  if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
  return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::string ReadFirstLine(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  if (in) std::getline(in, line);
  return Trim(line);
}

bool IsOneOf(std::string_view s, std::initializer_list<std::string_view> set) {
  for (auto item : set)
    if (s == item) return true;
  return false;
}

// The name under dir/ whose link target is the same file as device, decoded.
std::string LinkNameFor(const std::string &dir, const std::string &device) {
  if (device.empty() || device[0] != '/') return {};
  const std::string target = RealPath(device);
  if (target.empty()) return {};
  for (const auto &name : ListDirectory(dir)) {
    if (RealPath(JoinPath({dir, name})) == target) return DecodeDevDiskName(name);
  }
  return {};
}

SystemVolumeProvider &SystemProvider() {
  static SystemVolumeProvider provider;
  return provider;
}

std::atomic<VolumeProvider *> gProvider{nullptr};

} // namespace

std::string DecodeMountField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
        IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
      out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::string DecodeDevDiskName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
        HexDigitValue(name[i + 2]) >= 0 && HexDigitValue(name[i + 3]) >= 0) {
      out += static_cast<char>(HexDigitValue(name[i + 2]) * 16 + HexDigitValue(name[i + 3]));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> result;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;

    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && line[i] == ' ')
        ++i;
      size_t j = i;
      while (j < line.size() && line[j] != ' ')
        ++j;
      if (j > i) fields.push_back(line.substr(i, j - i));
      i = j;
    }
    // id parent major:minor root mountpoint options [optional...] - type source superoptions
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-")
      ++dash;
    if (fields.size() < 7 || dash + 1 >= fields.size()) continue;

    MountEntry m;
    const auto colon = fields[2].find(':');
    if (colon == std::string_view::npos) continue;
    m.Major = static_cast<unsigned>(
        std::strtoul(std::string(fields[2].substr(0, colon)).c_str(), nullptr, 10));
    m.Minor = static_cast<unsigned>(
        std::strtoul(std::string(fields[2].substr(colon + 1)).c_str(), nullptr, 10));
    m.MountPoint = DecodeMountField(fields[4]);
    m.Options = std::string(fields[5]);
    m.FileSystemType = DecodeMountField(fields[dash + 1]);
    m.Source = dash + 2 < fields.size() ? DecodeMountField(fields[dash + 2]) : std::string();
    m.SuperOptions = dash + 3 < fields.size() ? std::string(fields[dash + 3]) : std::string();
    result.push_back(std::move(m));
  }
  return result;
}

bool SerialFromUuid(std::string_view uuid, uint32_t &serial) {
  std::string digits;
  for (char c : uuid) {
    if (c == '-') continue;
    if (HexDigitValue(c) < 0) return false;
    digits += c;
  }
  if (digits.size() < 8) return false;
  const std::string_view pick = digits.size() == 16 ? std::string_view(digits).substr(8, 8)
                                                    : std::string_view(digits).substr(0, 8);
  uint32_t v = 0;
  for (char c : pick)
    v = (v << 4) | static_cast<uint32_t>(HexDigitValue(c));
  serial = v;
  return true;
}

int ClassifyDriveType(std::string_view fsType, std::string_view source, bool removable, bool usb,
                      bool optical) {
  (void)source;
  if (IsOneOf(fsType, {"tmpfs", "ramfs"})) return DRIVE_RAMDISK;
  if (IsOneOf(fsType, {"nfs",         "nfs4",           "cifs",        "smb3",   "smbfs",
                       "sshfs",       "fuse.sshfs",     "9p",          "afs",    "ceph",
                       "glusterfs",   "fuse.glusterfs", "ncpfs",       "coda",   "davfs",
                       "fuse.davfs2", "fuse.s3fs",      "fuse.rclone", "lustre", "virtiofs"}))
    return DRIVE_REMOTE;
  if (optical || IsOneOf(fsType, {"iso9660", "udf"})) return DRIVE_CDROM;
  if (IsOneOf(fsType, {"proc",       "sysfs",   "devtmpfs",  "devpts",   "cgroup",      "cgroup2",
                       "securityfs", "debugfs", "tracefs",   "configfs", "fusectl",     "mqueue",
                       "hugetlbfs",  "pstore",  "bpf",       "autofs",   "binfmt_misc", "efivarfs",
                       "rpc_pipefs", "nsfs",    "selinuxfs", "rootfs"}))
    return DRIVE_UNKNOWN;
  if (removable || usb) return DRIVE_REMOVABLE;
  return DRIVE_FIXED;
}

std::vector<MountEntry> SystemVolumeProvider::Mounts() const {
  std::ifstream in(fSources.MountInfo, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return ParseMountInfo(text.str());
}

bool IsBrowsableMount(const MountEntry &m) {
  auto systemArea = [](const std::string &mp) {
    for (const char *area : {"/proc", "/sys", "/dev", "/run", "/snap"}) {
      const size_t n = std::strlen(area);
      if (mp.compare(0, n, area) == 0 && (mp.size() == n || mp[n] == '/'))
        return !(mp.compare(0, 10, "/run/media") == 0 && (mp.size() == 10 || mp[10] == '/'));
    }
    return false;
  };
  if (m.MountPoint.empty() || m.MountPoint[0] != '/') return false;
  if (ClassifyDriveType(m.FileSystemType, m.Source, false, false, false) == DRIVE_UNKNOWN)
    return false;
  return m.FileSystemType != "squashfs" && !systemArea(m.MountPoint);
}

std::vector<std::string> BrowsableMountPoints(const std::vector<MountEntry> &mounts) {
  std::vector<std::string> out{"/"};
  for (const MountEntry &m : mounts) {
    if (m.MountPoint == "/" || !IsBrowsableMount(m)) continue;
    if (!DirectoryExists(m.MountPoint)) continue; // a file bind-mounted over another
    if (std::find(out.begin(), out.end(), m.MountPoint) == out.end()) out.push_back(m.MountPoint);
  }
  return out;
}

std::vector<std::string> SystemVolumeProvider::MountedVolumes() {
  return BrowsableMountPoints(Mounts());
}

bool SystemVolumeProvider::FindMount(const std::string &path, MountEntry &out) const {
  if (path.empty() || path[0] != '/') return false;
  const std::string p = ResolveExisting(path);
  bool found = false;
  for (auto &m : Mounts()) {
    if (!Covers(m.MountPoint, p)) continue;
    // Later lines mount over earlier ones at the same place.
    if (!found || m.MountPoint.size() >= out.MountPoint.size()) {
      out = std::move(m);
      found = true;
    }
  }
  return found;
}

std::string SystemVolumeProvider::MountPointOf(const std::string &path) {
  MountEntry m;
  if (!FindMount(path, m)) return {};
  return m.MountPoint;
}

bool SystemVolumeProvider::BlockDeviceFlags(const MountEntry &m, bool &removable, bool &usb,
                                            bool &optical) const {
  removable = usb = optical = false;
  if (m.Major == 0) return false; // no block device behind it
  const std::string node = RealPath(fSources.SysDevBlock + "/" + std::to_string(m.Major) + ":" +
                                    std::to_string(m.Minor));
  if (node.empty()) return false;
  // A partition's facts live on its disk, one level up.
  const std::string disk =
      FileExists(node + "/partition") ? node.substr(0, node.find_last_of('/')) : node;
  removable = ReadFirstLine(disk + "/removable") == "1";
  usb = node.find("/usb") != std::string::npos;
  const std::string name = ExtractFileName(disk);
  optical = name.compare(0, 2, "sr") == 0 || ReadFirstLine(disk + "/device/type") == "5";
  return true;
}

bool SystemVolumeProvider::VolumeInformation(const std::string &root, VolumeInfo &out) {
  out = VolumeInfo{};
  if (root.empty() || !DirectoryExists(root)) return false;
  MountEntry m;
  if (!FindMount(root, m)) return false;
  struct statvfs sv {};
  if (::statvfs(root.c_str(), &sv) != 0) return false;

  out.MountPoint = m.MountPoint;
  out.Device = m.Source;
  out.FileSystemName = m.FileSystemType;
  out.Label = LinkNameFor(JoinPath({fSources.DevDisk, "by-label"}), m.Source);
  const std::string uuid = LinkNameFor(JoinPath({fSources.DevDisk, "by-uuid"}), m.Source);
  if (uuid.empty() || !SerialFromUuid(uuid, out.Serial))
    out.Serial = static_cast<uint32_t>(sv.f_fsid & 0xFFFFFFFFu);
  out.MaxComponentLength = static_cast<uint32_t>(sv.f_namemax);
  out.FileSystemFlags = FILE_CASE_PRESERVED_NAMES;
  if (!IsOneOf(m.FileSystemType, {"vfat", "msdos", "exfat", "ntfs", "ntfs3"}))
    out.FileSystemFlags |= FILE_CASE_SENSITIVE_SEARCH;
  if (sv.f_flag & ST_RDONLY) out.FileSystemFlags |= FILE_READ_ONLY_VOLUME;
  return true;
}

int SystemVolumeProvider::DriveType(const std::string &root) {
  if (root.empty() || !DirectoryExists(root)) return DRIVE_NO_ROOT_DIR;
  MountEntry m;
  if (!FindMount(root, m)) return DRIVE_UNKNOWN;
  bool removable = false, usb = false, optical = false;
  BlockDeviceFlags(m, removable, usb, optical);
  return ClassifyDriveType(m.FileSystemType, m.Source, removable, usb, optical);
}

VolumeProvider &Volumes() {
  VolumeProvider *p = gProvider.load();
  return p ? *p : SystemProvider();
}

VolumeProvider *SetVolumeProvider(VolumeProvider *p) {
  VolumeProvider *old = gProvider.exchange(p);
  return old ? old : &SystemProvider();
}

std::string MountPointOf(const std::string &path) { return Volumes().MountPointOf(path); }
bool GetVolumeInformation(const std::string &root, VolumeInfo &out) {
  return Volumes().VolumeInformation(root, out);
}
int GetDriveType(const std::string &root) { return Volumes().DriveType(root); }

} // namespace plm
