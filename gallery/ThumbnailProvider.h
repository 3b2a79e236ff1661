#pragma once
// The gallery's source of pictures: answers from the shared thumbnail cache when its
// entry is current, and otherwise has the template made by the renderer processes
// (visible templates first), which write the cache. Cached pictures are read and decoded
// on worker threads, and answers reach the interface thread a few at a time, so it is
// never held for long. Decoded pictures are kept within a byte budget, those of the shown
// templates and the rows around them last; the others are read again from the cache when
// they come back into view.
#include "gallery/PictureBudget.h"
#include "gallery/RenderQueue.h"
#include "gallery/ThumbnailCache.h"
#include "gallery/ThumbnailSource.h"

#include <QThreadPool>
#include <QTimer>

#include <deque>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace plm {

struct TThumbnailProviderOptions {
  TRenderOptions Render;
  int MaxProcesses = 0; // 0: as many as there are cores
  int IdleStopMs = 30000; // idle renderer processes end after this long without work
  size_t PictureBudgetBytes = size_t(64) << 20; // decoded pictures kept at most
};

class TThumbnailProvider : public TThumbnailSource {
  Q_OBJECT
public:
  explicit TThumbnailProvider(TThumbnailProviderOptions options = {}, QObject *parent = nullptr);
  ~TThumbnailProvider() override;

  void setTemplates(const std::vector<std::string> &paths) override;
  void setVisible(const std::vector<std::string> &paths) override;
  void refresh(const std::string &path) override;
  int answered() const override { return fAnswered; }
  int total() const override { return int(fOrder.size()); }
  QImage picture(const std::string &path) override;

  // The decoded pictures held now (for the tests and benchmarks).
  const TPictureBudget &Pictures() const { return fBudget; }

  const TThumbnailCache &Cache() const { return fCache; }
  // Renderer processes running now (for the tests).
  int RunningProcesses() const;

private:
  enum class State { Looking, Queued, Rendering, Ready, Failed };
  struct Item {
    State St = State::Looking;
    bool Force = false;  // made again without looking at the cache
    bool Emitted = false;
    bool InFlight = false; // its cache lookup runs
    bool Again = false;    // changed while being made: made once more
    bool Reread = false;   // a picture dropped from the budget is to be read again
    QString Reason;
    size_t Order = 0;
  };
  struct LookupResult {
    std::string Path;
    bool Exists = false;
    TThumbnailCache::Entry Entry;
  };

  void Pump();
  void StartLookups();
  std::string NextToRender();
  void LookedUp(uint64_t generation, std::vector<LookupResult> results);
  void ReadAgain(const std::string &path, Item &item, LookupResult &r);
  void Hold(const std::string &path, QImage picture, bool shown = false);
  void Answer(const std::string &path, State state, QImage picture, QString reason);
  void Drain();
  void SetProgress();

  TThumbnailProviderOptions fOptions;
  TThumbnailCache fCache;
  std::vector<std::string> fOrder;
  std::unordered_map<std::string, Item> fItems;
  std::vector<std::string> fVisible;
  std::deque<std::string> fToLook;  // in list order
  std::deque<std::string> fToReread; // dropped pictures near the shown rows
  TPictureBudget fBudget;
  size_t fNearFrom = 0, fNearTo = 0; // the shown rows and their margin, in list order
  size_t fRenderScan = 0;           // where the search of the list for work resumes
  std::deque<std::string> fOutbox;  // answers waiting to be emitted
  int fLookupsRunning = 0;
  int fAnswered = 0;
  uint64_t fGeneration = 0;
  TRenderQueue fQueue;
  QTimer fDrainTimer;
  QTimer fPumpTimer;
  QThreadPool fPool; // last: waited for before the rest goes
};

} // namespace plm
