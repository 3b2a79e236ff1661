#include "platform/AppPaths.h"

#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <cstdlib>
#include <mutex>

namespace plm {

namespace {
std::mutex gOverrideLock;
std::string gOverride;
} // namespace

std::string ExecutablePath() {
  char buf[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

std::string HomeDir() {
  if (const char *h = std::getenv("HOME"); h && *h) {
    std::string r = h;
    while (r.size() > 1 && r.back() == PathDelim)
      r.pop_back();
    return r;
  }
  if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string SettingsFileName(const std::string &name) {
  {
    std::lock_guard<std::mutex> lock(gOverrideLock);
    if (!gOverride.empty()) return gOverride;
  }
  const std::string dir = ExecutableDir();
  if (!dir.empty() && (FileExists(dir + name) || ::access(dir.c_str(), W_OK) == 0))
    return dir + name;
  return JoinPath({UserConfigDir(), "plmlooker", name});
}

std::string CreateSettingsFile() {
  const std::string iniName = SettingsFileName();
  if (!FileExists(iniName)) {
    ForceDirectories(ExtractFilePath(iniName), 0700);
    if (const int e = WriteFileBytes(iniName, ""))
      throw EFOpenError("Impossible de créer le fichier \"" + iniName + "\". " + std::strerror(e));
  }
  return iniName;
}

std::string UserConfigDir() {
  if (const char *c = std::getenv("XDG_CONFIG_HOME"); c && *c == '/') return c;
  return HomeDir() + "/.config";
}

std::string UserCacheDir() {
  if (const char *c = std::getenv("XDG_CACHE_HOME"); c && *c == '/') return c;
  return HomeDir() + "/.cache";
}

void SetSettingsFileOverride(const std::string &path) {
  std::lock_guard<std::mutex> lock(gOverrideLock);
  gOverride = path;
}

} // namespace plm
