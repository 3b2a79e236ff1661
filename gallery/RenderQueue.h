#pragma once
// The renderer processes and the rules around them, one home for the gallery's provider
// and `plmtool thumbnails`: at most so many processes, started as work comes and ended
// once idle for a while; a failure recorded in the cache under the state of the file as
// it was sent (not as found afterwards); a template that changes while it is made asked
// for again, at most kMaxChanges times, counted for that template and forgotten once it
// is answered. Which template goes next is the caller's choice (NextTemplate).
#include "gallery/RenderProcess.h"
#include "gallery/ThumbnailCache.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace plm {

class TRenderQueue : public QObject {
  Q_OBJECT
public:
  // A template that keeps changing while it is made is given up after this many tries.
  static constexpr int kMaxChanges = 3;

  // maxProcesses 0: as many as there are cores.
  TRenderQueue(TRenderOptions options, int maxProcesses, int idleStopMs = 30000,
               QObject *parent = nullptr);
  ~TRenderQueue() override;

  // The next template to make when a process is free; empty when there is none now.
  std::function<std::string()> NextTemplate;

  // Hands templates to the free processes while NextTemplate gives any.
  void Pump();
  // Whether a template is being made now.
  bool Busy() const;
  int RunningProcesses() const;

signals:
  void Rendered(const std::string &path, const QImage &picture);
  // Recorded in the cache already (but for a template that kept changing).
  void Failed(const std::string &path, const QString &reason);
  // Changed while it was made: the caller gives it to NextTemplate once more.
  void Again(const std::string &path);

private:
  TRenderProcess *FreeProcess();
  void Done(const std::string &path);

  TRenderOptions fOptions;
  int fMaxProcesses;
  TThumbnailCache fCache;
  std::vector<std::unique_ptr<TRenderProcess>> fProcesses;
  std::unordered_map<std::string, TTemplateStamp> fSent; // as each template was sent
  std::unordered_map<std::string, int> fChanges;
  QTimer fIdleTimer;
};

} // namespace plm
