#include "preview/TemplateWalk.h"

#include "platform/DirScan.h"
#include "platform/Strings.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace plm {

namespace {

// Names as the file list orders them: letter case aside first, then byte for byte.
bool NameBefore(std::string_view a, std::string_view b) {
  const int c = CompareText(a, b);
  return c != 0 ? c < 0 : a < b;
}

} // namespace

bool FileListBefore(std::string_view a, std::string_view b) {
  for (;;) {
    const size_t sa = a.find('/'), sb = b.find('/');
    const std::string_view ha = a.substr(0, sa), hb = b.substr(0, sb);
    const bool fileA = sa == std::string_view::npos, fileB = sb == std::string_view::npos;
    if (fileA != fileB) return fileA;
    if (fileA || ha != hb) return NameBefore(ha, hb);
    a.remove_prefix(sa + 1);
    b.remove_prefix(sb + 1);
  }
}

bool HasTemplateExtension(std::string_view name) {
  return name.size() > 4 && SameText(name.substr(name.size() - 4), ".plm");
}

std::vector<FoundTemplate> FindTemplates(const std::string &folder, const TemplateWalk &how) {
  std::string root = folder;
  while (root.size() > 1 && root.back() == '/')
    root.pop_back();
  std::mutex mutex;
  std::condition_variable more;
  std::vector<std::string> pending;
  std::set<std::pair<uint64_t, uint64_t>> seen;
  for (const auto &s : how.skip)
    if (uint64_t dev = 0, ino = 0; FolderIdentity(s, dev, ino)) seen.insert({dev, ino});
  if (uint64_t dev = 0, ino = 0; !FolderIdentity(root, dev, ino) || seen.insert({dev, ino}).second)
    pending.push_back(root);
  size_t busy = 0;
  std::vector<FoundTemplate> found;

  auto work = [&] {
    std::vector<FoundTemplate> mine;
    std::unique_lock lock(mutex);
    for (;;) {
      more.wait(lock, [&] { return !pending.empty() || busy == 0; });
      if (pending.empty()) break;
      const std::string here = std::move(pending.back());
      pending.pop_back();
      ++busy;
      lock.unlock();
      std::vector<std::pair<std::string, std::pair<uint64_t, uint64_t>>> subfolders;
      for (auto &e : ScanDirectory(here)) {
        std::string path = here == "/" ? "/" + e.name : here + "/" + e.name;
        if (e.kind == DirEntryInfo::File && HasTemplateExtension(e.name))
          mine.push_back({std::move(path), e.size, e.mtimeNs});
        else if (e.kind == DirEntryInfo::Folder && how.recursive)
          subfolders.push_back({std::move(path), {e.device, e.inode}});
      }
      lock.lock();
      for (auto &[path, id] : subfolders)
        if (seen.insert(id).second) pending.push_back(std::move(path));
      --busy;
      more.notify_all();
    }
    found.insert(found.end(), std::make_move_iterator(mine.begin()),
                 std::make_move_iterator(mine.end()));
  };
  {
    const unsigned threads =
        how.recursive ? std::clamp(std::thread::hardware_concurrency(), 1u, 4u) : 1;
    std::vector<std::jthread> helpers;
    for (unsigned t = 1; t < threads; ++t)
      helpers.emplace_back(work);
    work();
  }
  if (how.fileListOrder) {
    const size_t from = root.size() + (root.empty() || root.back() == '/' ? 0 : 1);
    std::sort(found.begin(), found.end(), [from](const FoundTemplate &a, const FoundTemplate &b) {
      return FileListBefore(std::string_view(a.path).substr(from),
                            std::string_view(b.path).substr(from));
    });
  }
  return found;
}

} // namespace plm
