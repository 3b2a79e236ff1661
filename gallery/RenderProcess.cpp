#include "gallery/RenderProcess.h"

#include "gallery/RenderProtocol.h"
#include "platform/DynLib.h"
#include "platform/FileSys.h"
#include "platform/TempFolder.h"

#include <QProcess>
#include <QVariant>

namespace plm {

QString DefaultRendererProgram() {
  std::string path = ExecutableDir() + "plmtool-browser";
  if (!FileExists(path)) path = ExecutableDir() + "../lib/plmlooker/plmtool-browser";
  return QString::fromStdString(path);
}

TRenderProcess::TRenderProcess(TRenderOptions options, QObject *parent)
    : QObject(parent), fOptions(std::move(options)) {
  if (fOptions.Program.isEmpty()) fOptions.Program = DefaultRendererProgram();
  fTimer.setSingleShot(true);
  connect(&fTimer, &QTimer::timeout, this,
          [this] { Lost(QStringLiteral("La page de ce modèle n'a pas été dessinée à temps.")); });
}

TRenderProcess::~TRenderProcess() { Stop(); }

bool TRenderProcess::Running() const {
  return fProcess && fProcess->state() != QProcess::NotRunning;
}

void TRenderProcess::EnsureStarted() {
  if (fProcess) return;
  fProcess = new QProcess(this);
  fProcess->setStandardErrorFile(QProcess::nullDevice());
  connect(fProcess, &QProcess::readyReadStandardOutput, this, &TRenderProcess::ReadAnswers);
  connect(fProcess, &QProcess::finished, this, [this] {
    if (Busy()) Lost(QStringLiteral("Le programme de rendu s'est arrêté sur ce modèle."));
  });
  connect(fProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart && Busy())
      Lost(QStringLiteral("Le programme de rendu n'a pas pu être lancé."));
  });
  QStringList args{QStringLiteral("render-server")};
  if (!fOptions.CacheRoot.empty())
    args << QStringLiteral("--cache") << QString::fromStdString(fOptions.CacheRoot);
  // The process gives up a page a little before its client gives up the process.
  args << QStringLiteral("--timeout")
       << QString::number(render::ServerTimeoutMs(fOptions.TemplateTimeoutMs));
  // It works in this program's temporary folder: stopped first should this program be.
  QProcess *p = fProcess;
  connect(p, &QProcess::started, p, [p] {
    p->setProperty("plmHelper", p->processId());
    plm::EndHelperWithProgram(pid_t(p->processId()));
  });
  connect(p, &QProcess::finished, p,
          [p] { plm::ForgetHelper(pid_t(p->property("plmHelper").toLongLong())); });
  fInput.clear();
  fProcess->start(fOptions.Program, args);
}

void TRenderProcess::Render(const std::string &templatePath) {
  if (Busy()) return;
  EnsureStarted();
  fCurrent = templatePath;
  const std::string frame = render::Frame(templatePath);
  fProcess->write(frame.data(), qint64(frame.size()));
  fTimer.start(fOptions.TemplateTimeoutMs);
}

void TRenderProcess::Abandon() {
  if (!Busy()) return;
  fCurrent.clear();
  fTimer.stop();
  Stop();
}

void TRenderProcess::Stop() {
  if (!fProcess) return;
  QProcess *p = fProcess;
  fProcess = nullptr;
  p->disconnect(this);
  if (p->state() != QProcess::NotRunning) {
    p->kill();
    p->waitForFinished(5000);
  }
  ForgetHelper(pid_t(p->property("plmHelper").toLongLong()));
  p->deleteLater(); // this may run inside one of its signals
  fInput.clear();
}

void TRenderProcess::ReadAnswers() {
  if (!fProcess) return;
  fInput += fProcess->readAllStandardOutput();
  while (fInput.size() >= qsizetype(render::kHeaderSize)) {
    const uint32_t size =
        render::GetU32(std::string_view(fInput.constData(), render::kHeaderSize), 0);
    if (size > render::kMaxFrame || size == 0) {
      Lost(QStringLiteral("Le programme de rendu a donné une réponse illisible."));
      return;
    }
    if (fInput.size() < qsizetype(render::kHeaderSize + size)) return;
    const QByteArray payload = fInput.mid(render::kHeaderSize, size);
    fInput.remove(0, qsizetype(render::kHeaderSize + size));
    Finish(payload);
  }
}

void TRenderProcess::Finish(const QByteArray &payload) {
  if (!Busy()) return; // an answer nobody waits for any more
  fTimer.stop();
  const std::string path = std::move(fCurrent);
  fCurrent.clear();
  render::Answer answer;
  if (render::ReadAnswer(std::string_view(payload.constData(), size_t(payload.size())), answer)) {
    switch (answer.Kind) {
    case render::kPicture: emit Rendered(path, answer.Picture); return;
    case render::kFailure: emit Failed(path, answer.Reason, true); return;
    case render::kChanged: emit Changed(path); return;
    default: break;
    }
  }
  fCurrent = path;
  Lost(QStringLiteral("Le programme de rendu a donné une réponse illisible."));
}

void TRenderProcess::Lost(const QString &reason) {
  fTimer.stop();
  const std::string path = std::move(fCurrent);
  fCurrent.clear();
  Stop(); // the next template starts a fresh process
  if (!path.empty()) emit Failed(path, reason, false);
}

} // namespace plm
