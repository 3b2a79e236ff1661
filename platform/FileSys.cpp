#include "platform/FileSys.h"

#include "platform/Paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace plm {

bool FileExists(const std::string &path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string &path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string &path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsSymLink(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

uint32_t FileGetAttr(const std::string &path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  uint32_t a = 0;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) a |= FILE_ATTRIBUTE_READONLY;
  std::string name = ExtractFileName(path);
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") a |= FILE_ATTRIBUTE_HIDDEN;
  if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
  if (a == 0) a = FILE_ATTRIBUTE_NORMAL;
  return a;
}

bool FileSetAttr(const std::string &path, uint32_t attrs) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attrs & FILE_ATTRIBUTE_READONLY) mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
  else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) mode |= S_IWUSR;
  return mode == (st.st_mode & 07777) || ::chmod(path.c_str(), mode) == 0;
}

bool DosDateTimeToTime(uint16_t dosDate, uint16_t dosTime, std::time_t &out) {
  const int day = dosDate & 0x1F;
  const int month = (dosDate >> 5) & 0x0F;
  const int year = ((dosDate >> 9) & 0x7F) + 1980;
  const int sec = (dosTime & 0x1F) * 2;
  const int min = (dosTime >> 5) & 0x3F;
  const int hour = (dosTime >> 11) & 0x1F;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || min > 59 || sec > 59) return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == std::time_t(-1)) return false;
  out = t;
  return true;
}

bool TimeToDosDateTime(std::time_t t, uint16_t &dosDate, uint16_t &dosTime) {
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return false;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  dosDate = uint16_t(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  dosTime = uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return true;
}

bool SetFileModTime(const std::string &path, std::time_t t) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::time_t FileModTime(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : std::time_t(-1);
}

int64_t FileSize(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

bool CreateDir(const std::string &path, unsigned mode) {
  return ::mkdir(path.c_str(), mode_t(mode)) == 0;
}

bool ForceDirectories(const std::string &path, unsigned mode) {
  if (path.empty()) return false;
  std::string p = path;
  while (p.size() > 1 && p.back() == PathDelim) p.pop_back();
  if (DirectoryExists(p)) return true;
  const size_t i = p.rfind(PathDelim);
  if (i != std::string::npos && i > 0 && !ForceDirectories(p.substr(0, i), mode)) return false;
  return CreateDir(p, mode) || DirectoryExists(p);
}

bool DeleteFile(const std::string &path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool RemoveDir(const std::string &path) { return ::rmdir(path.c_str()) == 0; }

std::string GetCurrentDir() {
  std::unique_ptr<char, void (*)(void *)> cwd(::getcwd(nullptr, 0), ::free);
  return cwd ? std::string(cwd.get()) : std::string();
}

bool SetCurrentDir(const std::string &path) { return ::chdir(path.c_str()) == 0; }

std::vector<std::string> ListDirectory(const std::string &path) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.c_str()), ::closedir);
  if (!dir) return names;
  while (dirent *e = ::readdir(dir.get())) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  return names;
}

} // namespace plm
