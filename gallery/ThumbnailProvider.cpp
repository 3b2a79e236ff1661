#include "gallery/ThumbnailProvider.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

namespace plm {

namespace {

// Cached entries looked up by one worker task, and tasks queued per worker thread: small
// enough that visible templates overtake the rest soon after a scroll.
constexpr size_t kLookupChunk = 8;
constexpr int kLookupsPerThread = 2;
// The longest the interface thread spends handing answers out at a time.
constexpr qint64 kDrainBudgetNs = 8'000'000;
// The rows kept decoded around the shown ones: as many again before and after them.
constexpr size_t kMarginScreens = 1;
// Until the window tells what it shows, the top of the list counts as shown.
constexpr size_t kFirstScreen = 64;

} // namespace

TThumbnailProvider::TThumbnailProvider(TThumbnailProviderOptions options, QObject *parent)
    : TThumbnailSource(parent), fOptions(std::move(options)), fCache(fOptions.Render.CacheRoot),
      fBudget(fOptions.PictureBudgetBytes),
      fQueue(fOptions.Render, fOptions.MaxProcesses, fOptions.IdleStopMs) {
  fDrainTimer.setInterval(0);
  // The work starts from the event loop, so that the shown templates, told right after
  // the list, go first.
  fPumpTimer.setSingleShot(true);
  fPumpTimer.setInterval(0);
  connect(&fPumpTimer, &QTimer::timeout, this, &TThumbnailProvider::Pump);
  connect(&fDrainTimer, &QTimer::timeout, this, &TThumbnailProvider::Drain);
  fQueue.NextTemplate = [this] {
    const std::string path = NextToRender();
    if (!path.empty()) {
      Item &item = fItems.at(path);
      item.St = State::Rendering;
      item.Force = false;
    }
    return path;
  };
  connect(&fQueue, &TRenderQueue::Rendered, this,
          [this](const std::string &p, const QImage &picture) { Answer(p, State::Ready, picture, QString()); });
  connect(&fQueue, &TRenderQueue::Failed, this,
          [this](const std::string &p, const QString &reason) { Answer(p, State::Failed, QImage(), reason); });
  connect(&fQueue, &TRenderQueue::Again, this, [this](const std::string &p) {
    auto it = fItems.find(p);
    if (it == fItems.end() || it->second.St != State::Rendering) return;
    it->second.St = State::Queued;
    fRenderScan = std::min(fRenderScan, it->second.Order);
  });
}

TThumbnailProvider::~TThumbnailProvider() {
  ++fGeneration;
  fPool.clear();
  fPool.waitForDone();
  fQueue.NextTemplate = nullptr;
}

int TThumbnailProvider::RunningProcesses() const { return fQueue.RunningProcesses(); }

void TThumbnailProvider::setTemplates(const std::vector<std::string> &paths) {
  ++fGeneration; // lookups under way answer for the old list: dropped
  std::unordered_map<std::string, Item> items;
  fOrder.clear();
  fToLook.clear();
  fToReread.clear();
  fOutbox.clear();
  fAnswered = 0;
  for (const auto &path : paths) {
    if (items.count(path)) continue;
    Item item;
    if (auto old = fItems.find(path); old != fItems.end()) item = std::move(old->second);
    switch (item.St) {
    case State::Ready:
    case State::Failed: // known: answered again from the event loop
      item.Emitted = false;
      item.Reread = false;
      item.InFlight = false;
      fOutbox.push_back(path);
      break;
    case State::Rendering: break; // its answer is still wanted
    case State::Looking:
    case State::Queued:
      item.InFlight = false;
      item.St = item.Force ? State::Queued : State::Looking;
      if (item.St == State::Looking) fToLook.push_back(path);
      break;
    }
    item.Order = fOrder.size();
    fOrder.push_back(path);
    items.emplace(path, std::move(item));
  }
  for (const auto &[path, item] : fItems)
    if (!items.count(path)) fBudget.Drop(path);
  fItems = std::move(items);
  fVisible.clear();
  fNearFrom = 0;
  fNearTo = kFirstScreen;
  fRenderScan = 0;
  if (!fOutbox.empty()) fDrainTimer.start();
  emit progressChanged(fAnswered, total());
  fPumpTimer.start();
}

void TThumbnailProvider::setVisible(const std::vector<std::string> &paths) {
  fVisible = paths;
  // The rows around the shown ones, then the shown ones, become the most recently shown:
  // the budget drops the others first. Their dropped pictures are read again.
  size_t first = fOrder.size(), last = 0;
  for (const auto &p : paths)
    if (const auto it = fItems.find(p); it != fItems.end()) {
      first = std::min(first, it->second.Order);
      last = std::max(last, it->second.Order);
    }
  fToReread.clear();
  if (first <= last) {
    const size_t margin = (last - first + 1) * kMarginScreens;
    const size_t from = first > margin ? first - margin : 0;
    const size_t to = std::min(fOrder.size() - 1, last + margin);
    fNearFrom = from;
    fNearTo = to;
    auto near = [&](size_t i) {
      const std::string &p = fOrder[i];
      Item &item = fItems.at(p);
      if (item.St != State::Ready) return;
      if (fBudget.Use(p)) return;
      if (!item.Reread) {
        item.Reread = true;
        fToReread.push_back(p);
      }
    };
    for (size_t i = from; i < first; ++i) near(i);
    for (size_t i = to; i > last; --i) near(i);
    for (size_t i = first; i <= last; ++i) near(i);
  }
  fPumpTimer.start();
}

QImage TThumbnailProvider::picture(const std::string &path) {
  const auto it = fItems.find(path);
  if (it == fItems.end()) return QImage();
  if (it->second.St == State::Looking && !it->second.InFlight) {
    // Painted before the workers came to it (a key jumped far in a big folder): a cached
    // picture is read now, so the tile shows it at once; the rest is left to them.
    TThumbnailCache::Entry entry = fCache.Lookup(TThumbnailCache::Stamp(path));
    if (entry.Kind != TThumbnailCache::Found::Picture) return QImage();
    const QImage picture = entry.Picture;
    Answer(path, State::Ready, std::move(entry.Picture), QString());
    Hold(path, picture, true);
    return picture;
  }
  if (it->second.St != State::Ready) return QImage();
  if (const QImage *held = fBudget.Use(path)) return *held;
  // Shown now: read at once (a cached picture takes well under a millisecond), so the row
  // shows no placeholder meanwhile.
  TThumbnailCache::Entry entry = fCache.Lookup(TThumbnailCache::Stamp(path));
  if (entry.Kind == TThumbnailCache::Found::Picture) {
    const QImage picture = entry.Picture;
    Hold(path, std::move(entry.Picture), true);
    return picture;
  }
  // Gone from the cache or outdated: the worker's read decides what comes next.
  if (!it->second.Reread) {
    it->second.Reread = true;
    fToReread.push_front(path);
  }
  fPumpTimer.start();
  return QImage();
}

void TThumbnailProvider::Hold(const std::string &path, QImage picture, bool shown) {
  const auto it = fItems.find(path);
  const bool near = shown || (it != fItems.end() && it->second.Order >= fNearFrom &&
                              it->second.Order <= fNearTo);
  for (const auto &dropped : fBudget.Keep(path, std::move(picture), near))
    emit thumbnailDropped(dropped);
}

void TThumbnailProvider::refresh(const std::string &path) {
  const auto it = fItems.find(path);
  if (it == fItems.end()) return;
  Item &item = it->second;
  if (item.Emitted) {
    item.Emitted = false;
    --fAnswered;
    emit progressChanged(fAnswered, total());
  }
  item.Force = true;
  item.Reread = false;
  fBudget.Drop(path);
  item.Reason.clear();
  if (item.St == State::Rendering) {
    item.Again = true;
  } else {
    item.St = State::Queued;
    fRenderScan = std::min(fRenderScan, item.Order);
  }
  Pump();
}

void TThumbnailProvider::Pump() {
  StartLookups();
  fQueue.Pump();
}

void TThumbnailProvider::StartLookups() {
  const int most = std::max(1, fPool.maxThreadCount()) * kLookupsPerThread;
  while (fLookupsRunning < most) {
    std::vector<std::string> chunk;
    auto take = [&](const std::string &p) {
      auto it = fItems.find(p);
      if (it == fItems.end() || it->second.InFlight) return;
      const Item &item = it->second;
      if (item.St != State::Looking && !(item.St == State::Ready && item.Reread)) return;
      it->second.InFlight = true;
      chunk.push_back(p);
    };
    for (size_t i = 0; i < fVisible.size() && chunk.size() < kLookupChunk; ++i)
      take(fVisible[i]);
    while (chunk.size() < kLookupChunk && !fToReread.empty()) {
      take(fToReread.front());
      fToReread.pop_front();
    }
    while (chunk.size() < kLookupChunk && !fToLook.empty()) {
      take(fToLook.front());
      fToLook.pop_front();
    }
    if (chunk.empty()) return;
    ++fLookupsRunning;
    const uint64_t generation = fGeneration;
    fPool.start([this, generation, chunk = std::move(chunk), cache = fCache] {
      std::vector<LookupResult> results;
      results.reserve(chunk.size());
      for (const auto &path : chunk) {
        const TTemplateStamp stamp = TThumbnailCache::Stamp(path);
        results.push_back({path, stamp.Valid(), cache.Lookup(stamp)});
      }
      QMetaObject::invokeMethod(
          this, [this, generation, r = std::move(results)]() mutable { LookedUp(generation, std::move(r)); },
          Qt::QueuedConnection);
    });
  }
}

void TThumbnailProvider::LookedUp(uint64_t generation, std::vector<LookupResult> results) {
  --fLookupsRunning;
  if (generation == fGeneration) {
    for (auto &r : results) {
      auto it = fItems.find(r.Path);
      if (it == fItems.end()) continue;
      if (it->second.St == State::Ready && it->second.Reread) {
        ReadAgain(r.Path, it->second, r);
        continue;
      }
      if (it->second.St != State::Looking) continue;
      it->second.InFlight = false;
      if (!r.Exists) { // gone, or a folder: nothing to make
        Answer(r.Path, State::Failed, QImage(), QStringLiteral("Le fichier du modèle est introuvable."));
        continue;
      }
      switch (r.Entry.Kind) {
      case TThumbnailCache::Found::Picture:
        Answer(r.Path, State::Ready, std::move(r.Entry.Picture), QString());
        break;
      case TThumbnailCache::Found::Failure:
        Answer(r.Path, State::Failed, QImage(),
               r.Entry.Reason.isEmpty() ? QStringLiteral("Ce modèle ne peut pas être affiché.")
                                        : r.Entry.Reason);
        break;
      case TThumbnailCache::Found::Nothing:
        it->second.St = State::Queued;
        fRenderScan = std::min(fRenderScan, it->second.Order);
        break;
      }
    }
  }
  Pump();
}

void TThumbnailProvider::ReadAgain(const std::string &path, Item &item, LookupResult &r) {
  item.Reread = false;
  item.InFlight = false;
  if (r.Exists && r.Entry.Kind == TThumbnailCache::Found::Picture) {
    if (!fBudget.Holds(path)) Hold(path, std::move(r.Entry.Picture));
    return;
  }
  // The cache no longer has it (its folder removed, the file changed unseen): the answer
  // given is withdrawn and the template goes through the usual way again.
  if (fBudget.Holds(path)) return; // read at once meanwhile
  if (item.Emitted) {
    item.Emitted = false;
    --fAnswered;
    emit progressChanged(fAnswered, total());
  }
  item.St = State::Looking;
  if (!r.Exists) {
    Answer(path, State::Failed, QImage(), QStringLiteral("Le fichier du modèle est introuvable."));
  } else if (r.Entry.Kind == TThumbnailCache::Found::Failure) {
    Answer(path, State::Failed, QImage(),
           r.Entry.Reason.isEmpty() ? QStringLiteral("Ce modèle ne peut pas être affiché.")
                                    : r.Entry.Reason);
  } else {
    item.St = State::Queued;
    fRenderScan = std::min(fRenderScan, item.Order);
  }
}

std::string TThumbnailProvider::NextToRender() {
  bool visibleLooking = false;
  for (const auto &p : fVisible) {
    auto it = fItems.find(p);
    if (it == fItems.end()) continue;
    if (it->second.St == State::Queued) return p;
    visibleLooking = visibleLooking || it->second.St == State::Looking;
  }
  // A shown template whose cache entry is still being read may need making: it goes
  // before the others.
  if (visibleLooking) return std::string();
  for (; fRenderScan < fOrder.size(); ++fRenderScan) {
    const Item &item = fItems.at(fOrder[fRenderScan]);
    if (item.St == State::Queued) return fOrder[fRenderScan];
  }
  return std::string();
}

void TThumbnailProvider::Answer(const std::string &path, State state, QImage picture,
                                QString reason) {
  auto it = fItems.find(path);
  if (it == fItems.end()) return; // no longer listed
  Item &item = it->second;
  if (item.Again) { // changed while it was made: this answer is already old
    item.Again = false;
    item.St = State::Queued;
    fRenderScan = std::min(fRenderScan, item.Order);
    return;
  }
  item.St = state;
  item.Reread = false;
  if (state == State::Ready)
    Hold(path, std::move(picture));
  else
    fBudget.Drop(path);
  item.Reason = std::move(reason);
  item.Emitted = false;
  // The shown rows and their margin are told before the rest of a big folder's answers.
  if (item.Order >= fNearFrom && item.Order <= fNearTo)
    fOutbox.push_front(path);
  else
    fOutbox.push_back(path);
  if (!fDrainTimer.isActive()) fDrainTimer.start();
}

void TThumbnailProvider::Drain() {
  QElapsedTimer clock;
  clock.start();
  const int before = fAnswered;
  while (!fOutbox.empty() && clock.nsecsElapsed() < kDrainBudgetNs) {
    const std::string path = std::move(fOutbox.front());
    fOutbox.pop_front();
    auto it = fItems.find(path);
    if (it == fItems.end() || it->second.Emitted) continue;
    Item &item = it->second;
    if (item.St != State::Ready && item.St != State::Failed) continue;
    item.Emitted = true;
    ++fAnswered;
    // Copies: a listener may change the list, and with it the item, while it is told.
    if (item.St == State::Ready) {
      // Null when the budget has dropped it since: the window asks again when it shows it.
      const QImage *held = fBudget.Find(path);
      const QImage picture = held ? *held : QImage();
      emit thumbnailReady(path, picture);
    } else {
      const QString reason = item.Reason;
      emit thumbnailFailed(path, reason);
    }
  }
  if (fOutbox.empty()) fDrainTimer.stop();
  if (fAnswered != before) emit progressChanged(fAnswered, total());
}

} // namespace plm
