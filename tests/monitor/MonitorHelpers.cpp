#include "MonitorHelpers.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace plmtest {

TempTree::TempTree() {
  char tmpl[] = "/tmp/plm-monitor-XXXXXX";
  fRoot = ::mkdtemp(tmpl);
}

TempTree::~TempTree() {
  std::error_code ec;
  std::filesystem::remove_all(fRoot, ec);
}

std::string TempTree::MakeDir(const std::string &rel) const {
  const std::string p = Path(rel);
  std::filesystem::create_directories(p);
  return p;
}

std::string TempTree::MakeFile(const std::string &rel) const {
  const std::string p = Path(rel);
  std::ofstream(p) << "x";
  return p;
}

bool Signalled(plm::HANDLE h, unsigned limitMs) {
  return plm::WaitForMultipleObjects(1, &h, limitMs) == plm::WAIT_OBJECT_0;
}

bool SignalledNow(plm::HANDLE h) { return Signalled(h, 0); }

namespace {

template <class F> void ForEachInotify(F f) {
  DIR *d = ::opendir("/proc/self/fd");
  if (!d) return;
  while (dirent *e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    char target[256];
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = 0;
    if (std::string(target) == "anon_inode:inotify") f(std::string(e->d_name));
  }
  ::closedir(d);
}

} // namespace

int InotifyInstances() {
  int count = 0;
  ForEachInotify([&](const std::string &) { ++count; });
  return count;
}

int InotifyWatches() {
  int count = 0;
  ForEachInotify([&](const std::string &fd) {
    std::ifstream in("/proc/self/fdinfo/" + fd);
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("inotify wd:", 0) == 0) ++count;
  });
  return count;
}

TDescriptorLimit::TDescriptorLimit(rlim_t soft) {
  ::getrlimit(RLIMIT_NOFILE, &fSaved);
  rlimit low = fSaved;
  low.rlim_cur = soft;
  fSet = ::setrlimit(RLIMIT_NOFILE, &low) == 0;
}

TDescriptorLimit::~TDescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &fSaved); }

} // namespace plmtest
