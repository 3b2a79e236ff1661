#include "catalogue/Catalogue.h"

#include "catalogue/CatalogueStore.h"
#include "platform/AppPaths.h"
#include "platform/DirScan.h"
#include "platform/Paths.h"
#include "platform/Strings.h"
#include "preview/TemplateRules.h"
#include "preview/TemplateWalk.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <mutex>
#include <string_view>
#include <thread>
#include <tuple>
#include <unordered_map>

namespace plm {

namespace {

struct Candidate {
  std::string path;
  FileStamp stamp;
};

// Every template file of the folder (and of its subfolders), as the one walk finds them.
std::vector<Candidate> Walk(const std::string &root, bool recursive) {
  TemplateWalk how;
  how.recursive = recursive;
  how.fileListOrder = false; // sorted by bytes below, beside the catalogue's entries
  std::vector<Candidate> files;
  for (auto &t : FindTemplates(root, how))
    files.push_back({std::move(t.path), {t.size, t.mtimeNs}});
  return files;
}

// Records read by the workers, handed to the one thread that writes them.
class ResultQueue {
public:
  void Push(TemplateRecord r) {
    {
      std::lock_guard lock(fMutex);
      fRecords.push_back(std::move(r));
    }
    fReady.notify_one();
  }
  void WorkerDone() {
    {
      std::lock_guard lock(fMutex);
      ++fDoneWorkers;
    }
    fReady.notify_one();
  }
  // Waits for records; false once every worker is done and nothing is left.
  bool Take(std::deque<TemplateRecord> &out, size_t workers) {
    std::unique_lock lock(fMutex);
    fReady.wait(lock, [&] { return !fRecords.empty() || fDoneWorkers == workers; });
    if (fRecords.empty()) return false;
    out.swap(fRecords);
    return true;
  }

private:
  std::mutex fMutex;
  std::condition_variable fReady;
  std::deque<TemplateRecord> fRecords;
  size_t fDoneWorkers = 0;
};

constexpr size_t kRecordsPerTransaction = 512;

// The entries that share their fingerprint with another, as groups in file-list order
// (an entry given twice counts once).
std::vector<DuplicateGroup> Groups(std::vector<StoredDuplicate> entries) {
  std::unordered_map<std::string_view, std::vector<StoredDuplicate *>> byContent;
  for (auto &e : entries)
    byContent[e.fingerprint].push_back(&e);
  std::vector<DuplicateGroup> groups;
  for (auto &[fingerprint, members] : byContent) {
    if (members.size() < 2) continue;
    std::sort(members.begin(), members.end(), [](const auto *a, const auto *b) {
      return FileListBefore(a->path, b->path);
    });
    members.erase(std::unique(members.begin(), members.end(),
                              [](const auto *a, const auto *b) { return a->path == b->path; }),
                  members.end());
    if (members.size() < 2) continue;
    DuplicateGroup g{std::string(fingerprint), members.front()->contentBytes, {}, {}};
    g.paths.reserve(members.size());
    g.stamps.reserve(members.size());
    for (auto *m : members) {
      g.paths.push_back(std::move(m->path));
      g.stamps.push_back(m->stamp);
    }
    groups.push_back(std::move(g));
  }
  std::sort(groups.begin(), groups.end(), [](const DuplicateGroup &a, const DuplicateGroup &b) {
    return FileListBefore(a.paths.front(), b.paths.front());
  });
  return groups;
}

// The first two members of a content in file-list order (the second empty when it has
// one), made from its members one at a time: what each entry found duplicates, without
// ordering or keeping every member of every group.
class TFirstTwo {
public:
  void Add(const std::string &fingerprint, std::string_view path) {
    auto &[first, second] = fFirsts[fingerprint];
    if (path == first || path == second) return;
    if (first.empty() || FileListBefore(path, first)) {
      second = std::move(first);
      first.assign(path);
    } else if (second.empty() || FileListBefore(path, second)) {
      second.assign(path);
    }
  }
  // The first other member of the entry's content; empty when it has none.
  std::string OtherThan(const std::string &fingerprint, const std::string &path) const {
    const auto it = fFirsts.find(fingerprint);
    if (it == fFirsts.end() || it->second.second.empty()) return {};
    return it->second.first == path ? it->second.second : it->second.first;
  }

private:
  std::unordered_map<std::string, std::pair<std::string, std::string>> fFirsts;
};

// Whether the file is still what the catalogue says: the same size and time, and the
// same content read again now.
bool StillAsCatalogued(TTemplateReader &reader, const std::string &path, FileStamp stamp,
                       const std::string &fingerprint) {
  DirEntryInfo info;
  if (!PathInfo(path, info) || info.kind != DirEntryInfo::File || info.size != stamp.size ||
      info.mtimeNs != stamp.mtimeNs)
    return false;
  TemplateRecord r;
  ReadTemplateRecord(reader, path, r, {});
  return r.fingerprint == fingerprint;
}

} // namespace

TrashReport TrashDuplicates(const std::vector<DuplicateGroup> &groups, const TrashFile &trash,
                            const TrashProgress &progress, const std::atomic<bool> *cancel) {
  TrashReport report;
  TTemplateReader reader;
  const auto sound = [](const DuplicateGroup &g) {
    return g.paths.size() >= 2 && g.stamps.size() == g.paths.size() && !g.fingerprint.empty();
  };
  size_t total = 0, done = 0;
  for (const auto &g : groups)
    if (sound(g)) total += g.paths.size() - 1;
  for (const auto &g : groups) {
    if (!sound(g)) continue;
    if (cancel && *cancel) break;
    const std::string &kept = g.paths.front();
    DirEntryInfo keptInfo, info;
    const bool keptSound = PathInfo(kept, keptInfo) &&
                           StillAsCatalogued(reader, kept, g.stamps.front(), g.fingerprint);
    for (size_t i = 1; i < g.paths.size(); ++i) {
      if (cancel && *cancel) return report;
      const std::string &path = g.paths[i];
      if (!keptSound) {
        report.leftAlone.emplace_back(path, "Le modèle gardé a changé depuis le catalogue.");
      } else if (PathInfo(path, info) && info.device == keptInfo.device &&
                 info.inode == keptInfo.inode) {
        report.leftAlone.emplace_back(path, "C'est le même fichier que le modèle gardé.");
      } else if (!StillAsCatalogued(reader, path, g.stamps[i], g.fingerprint)) {
        report.leftAlone.emplace_back(path, "Le modèle a changé depuis le catalogue.");
      } else if (std::string error; !trash(path, error)) {
        report.leftAlone.emplace_back(path, "Impossible de le mettre à la corbeille : " + error);
      } else {
        report.trashed.push_back(path);
      }
      if (progress) progress(++done, total);
    }
  }
  return report;
}

std::string DefaultCatalogueFileName() {
  return JoinPath({UserCacheDir(), "plmlooker", "catalogue.sqlite"});
}

std::string CatalogueFolder(const std::string &folder) {
  std::string f = ExpandFileName(folder.empty() ? "." : folder);
  while (f.size() > 1 && f.back() == '/')
    f.pop_back();
  return f;
}

TCatalogue::TCatalogue(std::string fileName, FontCheck fontCheck)
    : fFileName(std::move(fileName)), fFontCheck(std::move(fontCheck)),
      fLockWaitMs(TCatalogueStore::kDefaultLockWaitMs) {}

TCatalogue::~TCatalogue() = default;

TCatalogueStore &TCatalogue::Store() {
  if (!fStore) {
    try {
      fStore = std::make_unique<TCatalogueStore>(fInMemory ? ":memory:" : fFileName, fLockWaitMs);
    } catch (const ECatalogueStore &e) {
      Recover(e.Damaged);
    }
  }
  return *fStore;
}

void TCatalogue::Recover(bool damaged) {
  fStore.reset();
  if (!fInMemory && damaged) {
    TCatalogueStore::RemoveFiles(fFileName);
    try {
      fStore = std::make_unique<TCatalogueStore>(fFileName, fLockWaitMs);
      return;
    } catch (const ECatalogueStore &) {
    }
  }
  fInMemory = true;
  fStore = std::make_unique<TCatalogueStore>(":memory:");
}

template <class F> auto TCatalogue::WithRecovery(F &&f) -> decltype(f()) {
  for (int attempt = 0;; ++attempt) {
    try {
      return f();
    } catch (const ECatalogueStore &e) {
      if (fInMemory && attempt > 0) throw;
      // A second failure of the file, whatever it was, gives up on the file.
      Recover(e.Damaged && attempt == 0);
    }
  }
}

CatalogueSummary TCatalogue::Update(const std::vector<std::string> &folders, bool recursive,
                                    const CatalogueProgress &progress,
                                    const std::atomic<bool> *cancel) {
  CatalogueSummary total;
  for (const auto &folder : folders) {
    const CatalogueSummary s = WithRecovery(
        [&] { return UpdateFolder(CatalogueFolder(folder), recursive, progress, cancel); });
    total.read += s.read;
    total.unchanged += s.unchanged;
    total.removed += s.removed;
    total.unreadable += s.unreadable;
  }
  return total;
}

CatalogueSummary TCatalogue::UpdateFolder(const std::string &folder, bool recursive,
                                          const CatalogueProgress &progress,
                                          const std::atomic<bool> *cancel) {
  TCatalogueStore &store = Store();
  CatalogueSummary summary;
  std::vector<Candidate> files = Walk(folder, recursive);

  // The files and the entries side by side, both in the order of the paths' bytes.
  std::sort(files.begin(), files.end(),
            [](const Candidate &a, const Candidate &b) { return a.path < b.path; });
  std::vector<Candidate> toRead;
  std::vector<std::string> gone;
  size_t i = 0;
  store.ForEachStamp(folder, recursive, [&](std::string_view path, FileStamp stamp) {
    for (; i < files.size() && std::string_view(files[i].path) < path; ++i)
      toRead.push_back(std::move(files[i]));
    if (i < files.size() && files[i].path == path) {
      if (files[i].stamp.size == stamp.size && files[i].stamp.mtimeNs == stamp.mtimeNs)
        ++summary.unchanged;
      else
        toRead.push_back(std::move(files[i]));
      ++i;
    } else {
      gone.emplace_back(path);
    }
  });
  for (; i < files.size(); ++i)
    toRead.push_back(std::move(files[i]));
  if (progress) progress(0, toRead.size());
  if (toRead.empty() && gone.empty()) return summary;

  // Readers on every core; this thread alone writes.
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  ResultQueue queue;
  const size_t workers = std::max<size_t>(
      1, std::min<size_t>(toRead.size(), std::max(1u, std::thread::hardware_concurrency())));
  std::vector<std::jthread> pool;
  struct StopPool {
    std::atomic<bool> &stop;
    std::vector<std::jthread> &pool;
    ~StopPool() {
      stop = true;
      pool.clear(); // joins
    }
  } stopPool{stop, pool};
  if (!toRead.empty())
    for (size_t w = 0; w < workers; ++w)
      pool.emplace_back([&] {
        TTemplateReader reader;
        for (;;) {
          const size_t i = next++;
          if (i >= toRead.size() || stop || (cancel && *cancel)) break;
          TemplateRecord r;
          r.path = toRead[i].path;
          r.size = toRead[i].stamp.size;
          r.mtimeNs = toRead[i].stamp.mtimeNs;
          ReadTemplateRecord(reader, r.path, r, fFontCheck);
          queue.Push(std::move(r));
        }
        queue.WorkerDone();
      });

  TWriteTransaction transaction(store);
  for (const auto &path : gone) {
    store.Remove(path);
    ++summary.removed;
  }
  size_t inTransaction = 0, done = 0;
  std::deque<TemplateRecord> batch;
  while (!toRead.empty() && queue.Take(batch, workers)) {
    for (auto &r : batch) {
      store.Put(r);
      ++(r.failure.empty() ? summary.read : summary.unreadable);
      ++done;
      if (++inTransaction >= kRecordsPerTransaction) {
        transaction.CommitAndGoOn();
        inTransaction = 0;
      }
    }
    batch.clear();
    if (progress) progress(done, toRead.size());
  }
  transaction.Commit();
  return summary;
}

std::vector<TemplateRecord> TCatalogue::Search(const CatalogueQuery &query,
                                               const std::atomic<bool> *cancel) {
  const std::string fts = FtsQueryFor(query.text);
  // Typed text with no letter or digit in it names nothing a template holds.
  if (fts.empty() && !Trim(query.text).empty()) return {};
  const std::string folder = CatalogueFolder(query.folder);
  bool inMemory = fInMemory;
  return WithRecovery([&] {
    if (fInMemory && !inMemory) {
      // The file was given up on the way: the memory learns the folder first.
      UpdateFolder(folder, query.recursive, {}, nullptr);
      inMemory = true;
    }
    // The store's own, each attempt: a failure may have given the search another store.
    struct Interruptible {
      TCatalogueStore &store;
      Interruptible(TCatalogueStore &s, const std::atomic<bool> *flag) : store(s) {
        store.SetInterrupt(flag);
      }
      ~Interruptible() { store.SetInterrupt(nullptr); }
    } interruptible(Store(), cancel);
    std::vector<TemplateRecord> found =
        Store().Find(fts, folder, query.recursive, query.missingFontOnly, query.withPictures,
                     query.problemsOnly);
    if (!query.withDuplicates && !query.duplicatesOnly) return found;
    // The groups of the contents found, under the whole folder.
    std::vector<std::string> contents;
    for (const auto &r : found)
      if (!r.fingerprint.empty()) contents.push_back(r.fingerprint);
    std::sort(contents.begin(), contents.end());
    contents.erase(std::unique(contents.begin(), contents.end()), contents.end());
    if (!query.duplicatesOnly) {
      // The first other member of an entry's content is the one it duplicates.
      TFirstTwo firsts;
      Store().ForEachSharing(contents, folder, query.recursive,
                             [&](const std::string &fingerprint, std::string_view path) {
                               firsts.Add(fingerprint, path);
                             });
      for (auto &r : found)
        if (!r.fingerprint.empty()) r.duplicateOf = firsts.OtherThan(r.fingerprint, r.path);
      return found;
    }
    std::vector<StoredDuplicate> sharing = Store().Sharing(contents, folder, query.recursive);
    const std::vector<DuplicateGroup> groups = Groups(std::move(sharing));
    // Where each duplicate stands: its group, its place in it; it duplicates the first
    // other member of its group.
    std::unordered_map<std::string_view, std::pair<size_t, size_t>> place;
    for (size_t g = 0; g < groups.size(); ++g)
      for (size_t m = 0; m < groups[g].paths.size(); ++m)
        place.emplace(groups[g].paths[m], std::make_pair(g, m));
    std::erase_if(found, [&](const TemplateRecord &r) { return !place.count(r.path); });
    for (auto &r : found) {
      const auto &paths = groups[place.at(r.path).first].paths;
      r.duplicateOf = paths[paths.front() == r.path ? 1 : 0];
    }
    std::sort(found.begin(), found.end(), [&](const TemplateRecord &a, const TemplateRecord &b) {
      return place.at(a.path) < place.at(b.path);
    });
    return found;
  });
}

std::vector<TemplateRecord> TCatalogue::Problems(const std::string &folder, bool recursive) {
  const std::string f = CatalogueFolder(folder);
  bool inMemory = fInMemory;
  auto found = WithRecovery([&] {
    if (fInMemory && !inMemory) {
      UpdateFolder(f, recursive, {}, nullptr);
      inMemory = true;
    }
    return Store().FindProblems(f, recursive);
  });
  std::sort(found.begin(), found.end(), [](const TemplateRecord &a, const TemplateRecord &b) {
    return FileListBefore(a.path, b.path);
  });
  return found;
}

std::vector<DuplicateGroup> TCatalogue::Duplicates(const std::vector<std::string> &folders,
                                                   bool recursive) {
  bool inMemory = fInMemory;
  return WithRecovery([&] {
    if (fInMemory && !inMemory) {
      for (const auto &folder : folders)
        UpdateFolder(CatalogueFolder(folder), recursive, {}, nullptr);
      inMemory = true;
    }
    std::vector<StoredDuplicate> entries;
    for (const auto &folder : folders) {
      auto some = Store().Fingerprints(CatalogueFolder(folder), recursive);
      entries.insert(entries.end(), std::make_move_iterator(some.begin()),
                     std::make_move_iterator(some.end()));
    }
    return Groups(std::move(entries));
  });
}

} // namespace plm
