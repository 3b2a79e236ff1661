#include "platform/DirScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

namespace plm {

namespace {
void Fill(DirEntryInfo &e, const struct stat &st) {
  e.kind = S_ISREG(st.st_mode)   ? DirEntryInfo::File
           : S_ISDIR(st.st_mode) ? DirEntryInfo::Folder
                                 : DirEntryInfo::Other;
  e.size = st.st_size;
  e.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  e.device = st.st_dev;
  e.inode = st.st_ino;
}
} // namespace

bool PathInfo(const std::string &path, DirEntryInfo &info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  const size_t slash = path.rfind('/');
  info.name = slash == std::string::npos ? path : path.substr(slash + 1);
  Fill(info, st);
  return true;
}

std::vector<DirEntryInfo> ScanDirectory(const std::string &path) {
  std::vector<DirEntryInfo> entries;
  std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) return entries;
  const int fd = ::dirfd(dir.get());
  while (const dirent *d = ::readdir(dir.get())) {
    const char *n = d->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    struct stat st;
    if (::fstatat(fd, n, &st, 0) != 0) continue;
    DirEntryInfo e;
    e.name = n;
    Fill(e, st);
    entries.push_back(std::move(e));
  }
  return entries;
}

bool FolderIdentity(const std::string &path, uint64_t &device, uint64_t &inode) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  device = st.st_dev;
  inode = st.st_ino;
  return true;
}

} // namespace plm
