#pragma once
// TCatalogueSearch: the catalogue for the windows, off the interface thread. One worker
// thread owns the catalogue; a search catalogues its folder first (with progress) when
// that folder has not been since the last Invalidate, then answers with Found. Only the
// newest request counts: a newer one replaces a request still waiting, stops a search
// under way at once, and a cataloguing of another folder between two templates.
#include "catalogue/Catalogue.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TCatalogueSearch : public QObject {
  Q_OBJECT
public:
  // A search's templates, shared by whoever keeps them.
  using Answer = std::shared_ptr<const std::vector<plm::TemplateRecord>>;

  explicit TCatalogueSearch(std::string databaseFile = plm::DefaultCatalogueFileName(),
                            QObject *parent = nullptr);
  ~TCatalogueSearch() override;

  // Returns the request's number, which Found gives back.
  quint64 Find(const plm::CatalogueQuery &query);
  // The files may have changed: the next search looks at its folder again.
  void Invalidate();

signals:
  // Templates catalogued so far of those to read (total 0: nothing to read).
  void Progress(int done, int total);
  void Found(quint64 request, const TCatalogueSearch::Answer &found);

private:
  void Run();

  std::mutex fMutex;
  std::condition_variable fWake;
  std::optional<std::pair<quint64, plm::CatalogueQuery>> fPending;
  quint64 fLastRequest = 0;
  bool fStop = false;
  bool fStale = true; // the folder last catalogued must be looked at again
  std::atomic<bool> fCancel{false};
  // The folder being catalogued (and whether with its subfolders), while it is.
  std::optional<std::pair<std::string, bool>> fCataloguing;
  std::string fDatabaseFile;
  std::thread fWorker;
};
