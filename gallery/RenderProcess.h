#pragma once
// One renderer process seen from its client: a long-lived `plmtool-browser render-server`
// that makes template after template (gallery/RenderProtocol.h). It is started with the
// first template and started again for the next one after it dies or stops answering: a
// crash or a hung page costs that one template. Used through TRenderQueue.
#include "gallery/RenderProtocol.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <string>

class QProcess;

namespace plm {

struct TRenderOptions {
  QString Program;            // the page verbs' program; empty: DefaultRendererProgram()
  std::string CacheRoot;      // the thumbnail cache the process writes
  int TemplateTimeoutMs = render::kTemplateTimeoutMs; // not answered by then: no picture
};

// plmtool-browser beside the running program, else in the installed private folder.
QString DefaultRendererProgram();

class TRenderProcess : public QObject {
  Q_OBJECT
public:
  explicit TRenderProcess(TRenderOptions options, QObject *parent = nullptr);
  ~TRenderProcess() override;

  bool Busy() const { return !fCurrent.empty(); }
  bool Running() const;
  const std::string &Current() const { return fCurrent; }
  // Starts making the template's picture; one at a time (not while Busy()).
  void Render(const std::string &templatePath);
  // Gives up the template being made: its answer will not come (the process is ended
  // when it is busy, so it never works for nothing).
  void Abandon();

signals:
  void Rendered(const std::string &path, const QImage &picture);
  // recorded: the process wrote the failure in the cache itself; otherwise (a crash, a
  // time-out) the caller records it.
  void Failed(const std::string &path, const QString &reason, bool recorded);
  // The template changed while it was made: ask again.
  void Changed(const std::string &path);

private:
  void EnsureStarted();
  void ReadAnswers();
  void Stop();
  void Finish(const QByteArray &payload);
  void Lost(const QString &reason);

  TRenderOptions fOptions;
  QProcess *fProcess = nullptr;
  QByteArray fInput;
  std::string fCurrent;
  QTimer fTimer;
};

} // namespace plm
