#include "gallery/RenderQueue.h"

#include <QThread>

#include <algorithm>

namespace plm {

TRenderQueue::TRenderQueue(TRenderOptions options, int maxProcesses, int idleStopMs,
                           QObject *parent)
    : QObject(parent), fOptions(std::move(options)),
      fMaxProcesses(maxProcesses > 0 ? maxProcesses : std::max(1, QThread::idealThreadCount())),
      fCache(fOptions.CacheRoot) {
  // Each process holds a browser engine: none is kept once there is nothing to make.
  fIdleTimer.setSingleShot(true);
  fIdleTimer.setInterval(idleStopMs);
  connect(&fIdleTimer, &QTimer::timeout, this, [this] {
    if (!Busy()) fProcesses.clear();
  });
}

TRenderQueue::~TRenderQueue() = default;

bool TRenderQueue::Busy() const {
  return std::any_of(fProcesses.begin(), fProcesses.end(), [](const auto &p) { return p->Busy(); });
}

int TRenderQueue::RunningProcesses() const {
  return int(std::count_if(fProcesses.begin(), fProcesses.end(),
                           [](const auto &p) { return p->Running(); }));
}

TRenderProcess *TRenderQueue::FreeProcess() {
  for (const auto &p : fProcesses)
    if (!p->Busy()) return p.get();
  if (int(fProcesses.size()) >= fMaxProcesses) return nullptr;
  fProcesses.push_back(std::make_unique<TRenderProcess>(fOptions));
  TRenderProcess *p = fProcesses.back().get();
  connect(p, &TRenderProcess::Rendered, this, [this](const std::string &path, const QImage &picture) {
    Done(path);
    emit Rendered(path, picture);
    Pump();
  });
  connect(p, &TRenderProcess::Failed, this,
          [this](const std::string &path, const QString &reason, bool recorded) {
            // A crash or a time-out: the process could not record it itself.
            if (!recorded) {
              const auto sent = fSent.find(path);
              fCache.StoreFailure(sent != fSent.end() ? sent->second : TThumbnailCache::Stamp(path),
                                  reason);
            }
            Done(path);
            emit Failed(path, reason);
            Pump();
          });
  connect(p, &TRenderProcess::Changed, this, [this](const std::string &path) {
    fSent.erase(path);
    if (++fChanges[path] >= kMaxChanges) {
      fChanges.erase(path);
      emit Failed(path, QStringLiteral("Le modèle a changé pendant que sa vignette était faite."));
    } else {
      emit Again(path);
    }
    Pump();
  });
  return p;
}

void TRenderQueue::Done(const std::string &path) {
  fSent.erase(path);
  fChanges.erase(path);
}

void TRenderQueue::Pump() {
  while (NextTemplate) {
    TRenderProcess *free = FreeProcess();
    if (!free) break;
    const std::string path = NextTemplate();
    if (path.empty()) break;
    fSent[path] = TThumbnailCache::Stamp(path);
    free->Render(path);
  }
  if (!fProcesses.empty()) fIdleTimer.start();
}

} // namespace plm
