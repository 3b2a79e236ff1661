#include "catalogue/Catalogue.h"

#include "catalogue/CatalogueStore.h"
#include "platform/AppPaths.h"
#include "platform/DirScan.h"
#include "platform/Paths.h"
#include "platform/Strings.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>

namespace plm {

namespace {

struct Candidate {
  std::string path;
  FileStamp stamp;
};

// Every template file of the folder (and of its subfolders), each folder once even when
// links lead back to it.
void Walk(const std::string &folder, bool recursive, std::set<std::pair<uint64_t, uint64_t>> &seen,
          std::vector<Candidate> &found) {
  for (auto &e : ScanDirectory(folder)) {
    const std::string path = folder == "/" ? "/" + e.name : folder + "/" + e.name;
    if (e.kind == DirEntryInfo::File) {
      if (SameText(ExtractFileExt(e.name), ".plm")) found.push_back({path, {e.size, e.mtimeNs}});
    } else if (e.kind == DirEntryInfo::Folder && recursive) {
      if (seen.insert({e.device, e.inode}).second) Walk(path, true, seen, found);
    }
  }
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

} // namespace

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
    : fFileName(std::move(fileName)), fFontCheck(std::move(fontCheck)) {}

TCatalogue::~TCatalogue() = default;

TCatalogueStore &TCatalogue::Store() {
  if (!fStore) {
    try {
      fStore = std::make_unique<TCatalogueStore>(fInMemory ? ":memory:" : fFileName);
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
      fStore = std::make_unique<TCatalogueStore>(fFileName);
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
  std::vector<Candidate> files;
  std::set<std::pair<uint64_t, uint64_t>> seen;
  uint64_t dev = 0, ino = 0;
  if (FolderIdentity(folder, dev, ino)) seen.insert({dev, ino});
  Walk(folder, recursive, seen, files);

  auto stamps = store.Stamps(folder, recursive);
  std::vector<Candidate> toRead;
  for (auto &c : files) {
    const auto it = stamps.find(c.path);
    if (it != stamps.end()) {
      const bool same = it->second.size == c.stamp.size && it->second.mtimeNs == c.stamp.mtimeNs;
      stamps.erase(it);
      if (same) {
        ++summary.unchanged;
        continue;
      }
    }
    toRead.push_back(std::move(c));
  }
  if (progress) progress(0, toRead.size());
  if (toRead.empty() && stamps.empty()) return summary;

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
          try {
            reader.Read(r.path, r, fFontCheck);
          } catch (const Exception &e) {
            r.failure = e.message();
          } catch (const std::exception &e) {
            r.failure = e.what();
          }
          queue.Push(std::move(r));
        }
        queue.WorkerDone();
      });

  store.Begin();
  try {
    for (const auto &gone : stamps) {
      store.Remove(gone.first);
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
          store.Commit();
          store.Begin();
          inTransaction = 0;
        }
      }
      batch.clear();
      if (progress) progress(done, toRead.size());
    }
    store.Commit();
  } catch (...) {
    store.Rollback();
    throw;
  }
  return summary;
}

std::vector<TemplateRecord> TCatalogue::Search(const CatalogueQuery &query) {
  const std::string fts = FtsQueryFor(query.text);
  // Typed text with no letter or digit in it names nothing a template holds.
  if (fts.empty() && !Trim(query.text).empty()) return {};
  const std::string folder = CatalogueFolder(query.folder);
  return WithRecovery([&] {
    return Store().Find(fts, folder, query.recursive, query.missingFontOnly, query.withPictures);
  });
}

} // namespace plm
