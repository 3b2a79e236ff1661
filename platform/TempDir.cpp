#include "platform/TempDir.h"

#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/ProgramTemp.h"
#include "platform/UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

namespace plm {

namespace {

bool IsPrivateFolder(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

// Deepest folder nesting removed; deeper entries stay (each level holds a descriptor).
constexpr int kMaxDepth = 128;

bool RemoveContents(int dirFd, int depth) {
  UniqueFd listFd(::dup(dirFd));
  if (!listFd.valid()) return false;
  std::unique_ptr<DIR, int (*)(DIR *)> dir(::fdopendir(listFd.get()), ::closedir);
  if (!dir) return false;
  listFd.release(); // the folder stream owns it now
  bool ok = true;
  while (dirent *e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ok = false;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      UniqueFd child(depth < kMaxDepth ? ::openat(dirFd, name.c_str(),
                                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                       : -1);
      if (!child.valid()) {
        ok = false;
        continue;
      }
      ok = RemoveContents(child.get(), depth + 1) && ok;
      child.Reset();
      if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) ok = false;
    } else if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
      ok = false;
    }
  }
  return ok;
}

} // namespace

std::string DropFirstDoubledSeparator(std::string path) {
  const size_t i = path.find("//");
  if (i != std::string::npos) path.erase(i + 1, 1);
  return path;
}

bool MakePrivateFolder(const std::string &path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  const int e = errno;
  if (e != EEXIST) RaiseLastOSError(e);
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) RaiseLastOSError();
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) RaiseLastOSError(EEXIST);
  if ((st.st_mode & 07777) != 0700 && ::chmod(path.c_str(), 0700) != 0) RaiseLastOSError();
  return false;
}

std::string UserTempDir() {
  // The folders as the program was given them: the program's own folder (ProgramTemp.h)
  // is nobody else's, and this one is shared with the user's other programs.
  const std::string runtime = GivenEnv("XDG_RUNTIME_DIR").value_or("");
  if (!runtime.empty() && runtime[0] == '/' && IsPrivateFolder(runtime))
    return AddBackslash(runtime);
  std::string base = GivenEnv("TMPDIR").value_or("");
  if (base.empty()) base = "/tmp";
  const std::string dir = AddBackslash(base) + "plmlooker-" + std::to_string(::getuid());
  // Made here: removed at the program's end once nothing is left in it.
  if (MakePrivateFolder(dir)) RemoveAtProgramEnd(dir, true);
  return AddBackslash(dir);
}

bool MergeFolderInto(const std::string &from, const std::string &to) {
  const int fromFd = ::open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fromFd < 0) return false;
  std::unique_ptr<DIR, int (*)(DIR *)> dir(::fdopendir(fromFd), ::closedir);
  if (!dir) {
    ::close(fromFd);
    return false;
  }
  std::vector<std::string> names;
  while (dirent *e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const auto &name : names) {
    const std::string src = AddBackslash(from) + name, dst = AddBackslash(to) + name;
    struct stat s, d;
    if (::lstat(src.c_str(), &s) != 0) return false;
    if (::lstat(dst.c_str(), &d) != 0) {
      if (errno != ENOENT || ::rename(src.c_str(), dst.c_str()) != 0) return false;
      continue;
    }
    if (S_ISDIR(s.st_mode) != S_ISDIR(d.st_mode)) {
      errno = S_ISDIR(d.st_mode) ? EISDIR : ENOTDIR;
      return false;
    }
    if (S_ISDIR(s.st_mode) ? !MergeFolderInto(src, dst) : ::rename(src.c_str(), dst.c_str()) != 0)
      return false;
  }
  return true;
}

bool DeleteEntryNoFollow(const std::string &path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return false;
  RemoveContents(fd.get(), 1);
  fd.Reset();
  return ::rmdir(path.c_str()) == 0;
}

} // namespace plm
