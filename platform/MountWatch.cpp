#include "platform/MountWatch.h"

#include "platform/Events.h"

#include <algorithm>
#include <cerrno>
#include <tuple>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace plm {

namespace {

bool SameVolume(const MountEntry &a, const MountEntry &b) {
  return std::tie(a.MountPoint, a.Major, a.Minor, a.FileSystemType, a.Source) ==
         std::tie(b.MountPoint, b.Major, b.Minor, b.FileSystemType, b.Source);
}

// The volumes of `from` that `in` lacks, each mount point once.
void Missing(const std::vector<MountEntry> &from, const std::vector<MountEntry> &in,
             std::vector<std::string> &out) {
  std::vector<bool> used(in.size(), false);
  for (const auto &m : from) {
    if (!IsBrowsableMount(m)) continue;
    bool found = false;
    for (size_t i = 0; i < in.size() && !found; ++i) {
      if (!used[i] && SameVolume(m, in[i])) found = used[i] = true;
    }
    if (!found && std::find(out.begin(), out.end(), m.MountPoint) == out.end())
      out.push_back(m.MountPoint);
  }
}

} // namespace

MountTableChange CompareMountTables(const std::vector<MountEntry> &before,
                                    const std::vector<MountEntry> &after) {
  MountTableChange change;
  Missing(after, before, change.Arrived);
  Missing(before, after, change.Removed);
  return change;
}

TMountWatcher::TMountWatcher(Handler handler, std::string mountInfo)
    : fHandler(std::move(handler)), fPath(std::move(mountInfo)) {
  fFile = ::open(fPath.c_str(), O_RDONLY | O_CLOEXEC);
  fWake = CreateEventA(false);
  fTable = ReadTable();
  fThread = std::thread([this] { Run(); });
}

TMountWatcher::~TMountWatcher() {
  {
    std::lock_guard<std::mutex> guard(fLock);
    fStop = true;
  }
  SetEvent(fWake);
  fThread.join();
  CloseHandle(fWake);
  if (fFile >= 0) ::close(fFile);
}

void TMountWatcher::Post(MountTableChange change) {
  {
    std::lock_guard<std::mutex> guard(fLock);
    fPosted.push_back(std::move(change));
  }
  SetEvent(fWake);
}

void TMountWatcher::Rescan() {
  {
    std::lock_guard<std::mutex> guard(fLock);
    fRescan = true;
  }
  SetEvent(fWake);
}

std::vector<MountEntry> TMountWatcher::ReadTable() {
  if (fFile < 0) return {};
  std::string text;
  char buf[16384];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(fFile, buf, sizeof buf, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    offset += n;
  }
  return ParseMountInfo(text);
}

void TMountWatcher::Run() {
  pollfd fds[2] = {{fWake, POLLIN, 0}, {fFile, POLLPRI, 0}};
  const nfds_t count = fFile >= 0 ? 2 : 1;
  for (;;) {
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    bool rescan = count > 1 && (fds[1].revents & (POLLPRI | POLLERR));
    std::deque<MountTableChange> posted;
    if (fds[0].revents & POLLIN) {
      ResetEvent(fWake);
      std::lock_guard<std::mutex> guard(fLock);
      if (fStop) return;
      posted.swap(fPosted);
      rescan = rescan || fRescan;
      fRescan = false;
    }
    if (rescan) {
      std::vector<MountEntry> table = ReadTable();
      MountTableChange change = CompareMountTables(fTable, table);
      fTable = std::move(table);
      if (!change.Empty()) posted.push_back(std::move(change));
    }
    for (const auto &change : posted)
      if (!change.Empty() && fHandler) fHandler(change);
  }
}

} // namespace plm
