#include "platform/ProgramTemp.h"

#include "platform/Paths.h"
#include "platform/TempFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

extern char **environ;

namespace plm {

namespace {

constexpr const char *kChanged[] = {"TMPDIR", "XDG_RUNTIME_DIR"};

std::mutex gLock;
TTempFolder *gOwn = nullptr; // lives until exit: the atexit handler removes it
std::optional<std::string> gGiven[std::size(kChanged)];
bool gChangedRuntime = false;

std::optional<std::string> Env(const char *name) {
  const char *v = std::getenv(name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

bool IsPrivateFolder(const std::optional<std::string> &path) {
  struct stat st;
  return path && !path->empty() && (*path)[0] == '/' && ::lstat(path->c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

void SetOrUnset(const char *name, const std::optional<std::string> &value) {
  if (value)
    ::setenv(name, value->c_str(), 1);
  else
    ::unsetenv(name);
}

void RemoveOwn() {
  std::lock_guard<std::mutex> lock(gLock);
  if (gOwn) gOwn->Remove();
}

} // namespace

void UseOwnTempFolder() {
  std::lock_guard<std::mutex> lock(gLock);
  if (gOwn) return;
  for (size_t i = 0; i < std::size(kChanged); ++i)
    gGiven[i] = Env(kChanged[i]);
  TTempFolder *own = nullptr;
  try {
    own = new TTempFolder("plmlooker.");
  } catch (const std::exception &) {
    return;
  }
  const std::string path = own->Path();
  const bool runtimeGiven = IsPrivateFolder(gGiven[1]);
  if (!runtimeGiven && ::mkdir((path + "/runtime").c_str(), 0700) != 0) {
    delete own;
    return;
  }
  gOwn = own;
  std::atexit(RemoveOwn);
  ::setenv("TMPDIR", path.c_str(), 1);
  if (!runtimeGiven) {
    ::setenv("XDG_RUNTIME_DIR", (path + "/runtime").c_str(), 1);
    gChangedRuntime = true;
  }
}

std::string OwnTempFolder() {
  std::lock_guard<std::mutex> lock(gLock);
  return gOwn ? AddBackslash(gOwn->Path()) : std::string();
}

std::optional<std::string> GivenEnv(const char *name) {
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (gOwn)
      for (size_t i = 0; i < std::size(kChanged); ++i)
        if (std::strcmp(kChanged[i], name) == 0) return gGiven[i];
  }
  return Env(name);
}

std::vector<std::string> GivenEnvironment() {
  std::vector<std::string> r;
  std::lock_guard<std::mutex> lock(gLock);
  for (char **e = environ; *e; ++e) {
    const std::string entry = *e;
    bool changed = false;
    for (size_t i = 0; i < std::size(kChanged) && gOwn; ++i)
      changed = changed || entry.rfind(std::string(kChanged[i]) + "=", 0) == 0;
    if (!changed) r.push_back(entry);
  }
  for (size_t i = 0; i < std::size(kChanged) && gOwn; ++i)
    if (gGiven[i]) r.push_back(std::string(kChanged[i]) + "=" + *gGiven[i]);
  return r;
}

void RestoreGivenEnv() {
  std::lock_guard<std::mutex> lock(gLock);
  if (!gOwn) return;
  SetOrUnset("TMPDIR", gGiven[0]);
  if (gChangedRuntime) SetOrUnset("XDG_RUNTIME_DIR", gGiven[1]);
}

void RemoveAtProgramEnd(const std::string &path, bool onlyIfEmpty) {
  std::lock_guard<std::mutex> lock(gLock);
  if (gOwn) gOwn->AlsoRemoveAtEnd(path, onlyIfEmpty);
}

} // namespace plm
