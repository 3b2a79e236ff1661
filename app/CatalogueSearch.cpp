#include "app/CatalogueSearch.h"

#include "platform/InstalledFonts.h"

TCatalogueSearch::TCatalogueSearch(std::string databaseFile, QObject *parent)
    : QObject(parent), fDatabaseFile(std::move(databaseFile)) {
  fWorker = std::thread([this] { Run(); });
}

TCatalogueSearch::~TCatalogueSearch() {
  {
    std::lock_guard lock(fMutex);
    fStop = true;
    fCancel = true;
  }
  fWake.notify_all();
  fWorker.join();
}

quint64 TCatalogueSearch::Find(const plm::CatalogueQuery &query) {
  std::lock_guard lock(fMutex);
  fPending.emplace(++fLastRequest, query);
  // A cataloguing of the same folder goes on: the newer request needs it done too.
  if (!fCataloguing || fCataloguing->first != plm::CatalogueFolder(query.folder) ||
      fCataloguing->second != query.recursive)
    fCancel = true;
  fWake.notify_all();
  return fLastRequest;
}

void TCatalogueSearch::Invalidate() {
  std::lock_guard lock(fMutex);
  fStale = true;
}

void TCatalogueSearch::Run() {
  // fontconfig rather than the window framework's list: it is asked from this thread.
  plm::TCatalogue catalogue(fDatabaseFile, plm::IsFontFamilyInstalled);
  std::string doneFolder;
  bool doneRecursive = false;
  for (;;) {
    std::pair<quint64, plm::CatalogueQuery> request;
    bool stale;
    {
      std::unique_lock lock(fMutex);
      fWake.wait(lock, [&] { return fStop || fPending.has_value(); });
      if (fStop) return;
      request = std::move(*fPending);
      fPending.reset();
      fCancel = false;
      stale = fStale;
      fStale = false;
    }
    const std::string folder = plm::CatalogueFolder(request.second.folder);
    const bool recursive = request.second.recursive;
    try {
      if (stale || folder != doneFolder || (recursive && !doneRecursive)) {
        const auto progress = [this](size_t done, size_t total) {
          QMetaObject::invokeMethod(
              this, [this, done, total] { emit Progress(int(done), int(total)); },
              Qt::QueuedConnection);
        };
        {
          std::lock_guard lock(fMutex);
          if (fCancel) { // a newer request came meanwhile
            fStale = fStale || stale;
            continue;
          }
          fCataloguing.emplace(folder, recursive);
        }
        catalogue.Update({folder}, recursive, progress, &fCancel);
        std::lock_guard lock(fMutex);
        fCataloguing.reset();
        if (fCancel) {
          // Stopped for a newer request: this folder is not done.
          fStale = true;
          continue;
        }
        doneFolder = folder;
        doneRecursive = recursive;
        // The newer request of the same folder is answered instead.
        if (fPending) continue;
      }
      auto found = catalogue.Search(request.second, &fCancel);
      QMetaObject::invokeMethod(
          this,
          [this, id = request.first,
           found = std::make_shared<const std::vector<plm::TemplateRecord>>(std::move(found))] {
            if (id == fLastRequest) emit Found(id, found);
          },
          Qt::QueuedConnection);
    } catch (const plm::ECatalogueInterrupted &) {
      // A newer request is waiting.
    } catch (const std::exception &) {
      // The catalogue bypasses its own failures; anything else leaves this answer out.
    }
  }
}
