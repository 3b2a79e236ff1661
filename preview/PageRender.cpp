#include "preview/PageRender.h"

#include "preview/PreviewGuard.h"
#include "preview/PreviewPage.h"
#include "preview/Snapshot.h"
#include "preview/TemplateBrowser.h"
#include "preview/TemplatePreview.h"
#include "platform/Paths.h"
#include "platform/TempFolder.h"

#include <QEventLoop>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace plm {

namespace {

// How long the page may take to settle once loaded, and how often it is looked at.
constexpr int kSettleMs = 3000;
constexpr int kSettleStepMs = 15;
constexpr int kSameFramesWanted = 3;

// Runs the events for about ms milliseconds.
void RunEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

} // namespace

struct TPageRenderer::Browser {
  QObject Owner;
  TTemplateBrowser Parts;
};

TPageRenderer::TPageRenderer()
    : fView(std::make_unique<QWebEngineView>()), fBrowser(std::make_unique<Browser>()) {
  fBrowser->Parts = SetUpTemplateBrowser(fView.get(), &fBrowser->Owner);
  fView->resize(BrowserDesignWidth, BrowserDesignHeight);
  fView->show();
}

TPageRenderer::~TPageRenderer() { TearDownTemplateBrowser(fView.get(), fBrowser->Parts); }

void TPageRenderer::EnableScriptsForTests() {
  fBrowser->Parts.Page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
}

QImage TPageRenderer::RenderTemplate(const std::string &templatePath, int timeoutMs) {
  TTempFolder work("plmrender-");
  const std::string folder = JoinPath({work.Path(), "~plmlook"});
  TTemplatePreview preview(folder);
  preview.Extract(templatePath);
  preview.LoadPage();
  preview.RewritePage();
  preview.SavePage();
  QImage shot = RenderPage(preview.PagePath(), folder, timeoutMs);
  // The next page is loaded over a blank one: nothing of this template stays in view
  // once its folder is gone.
  fBrowser->Parts.Guard->setAllowedFolder(QString());
  fView->load(QUrl(QStringLiteral("about:blank")));
  return shot;
}

QImage TPageRenderer::RenderPage(const std::string &pagePath, const std::string &folder,
                                 int timeoutMs) {
  TPreviewPage *page = fBrowser->Parts.Page;
  fBrowser->Parts.Guard->setAllowedFolder(QString::fromStdString(folder));
  const QUrl target = QUrl::fromLocalFile(QString::fromStdString(pagePath));

  enum class Outcome { Waiting, Loaded, Failed, Crashed, TimedOut } outcome = Outcome::Waiting;
  bool moveRefused = false;
  QEventLoop loop;
  QObject scope; // the connections below end with this call
  QObject::connect(page, &TPreviewPage::NavigationRefused, &scope, [&] { moveRefused = true; });
  QObject::connect(page, &QWebEnginePage::loadingChanged, &scope,
                   [&](const QWebEngineLoadingInfo &info) {
                     if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus ||
                         outcome != Outcome::Waiting)
                       return;
                     // A move the lock-down refused ends the load it interrupted, reported
                     // under the refused address; the page itself is there and stays.
                     // Otherwise only the page's own load counts.
                     if (moveRefused) {
                       outcome = Outcome::Loaded;
                     } else if (SameTarget(info.url(), target)) {
                       outcome = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus
                                     ? Outcome::Loaded
                                     : Outcome::Failed;
                     } else {
                       return;
                     }
                     loop.quit();
                   });
  QObject::connect(page, &QWebEnginePage::renderProcessTerminated, &scope,
                   [&](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                     if (status == QWebEnginePage::NormalTerminationStatus) return;
                     outcome = Outcome::Crashed;
                     loop.quit();
                   });
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, &scope, [&] {
    outcome = Outcome::TimedOut;
    loop.quit();
  });
  limit.start(timeoutMs);
  fView->load(target);
  if (outcome == Outcome::Waiting) loop.exec();
  switch (outcome) {
  case Outcome::Loaded: break;
  case Outcome::Crashed:
    throw EPageNotShown("Le moteur du navigateur s'est arrêté en affichant la page.");
  case Outcome::TimedOut:
    throw EPageNotShown("La page n'a pas fini de se charger à temps.");
  default: throw EPageNotShown("La page n'a pas pu être chargée.");
  }

  // The first frame follows the end of loading: the picture is taken once it stops
  // changing.
  QImage shot, previous;
  for (int same = 0, waited = 0; same < kSameFramesWanted && waited < kSettleMs;
       waited += kSettleStepMs) {
    RunEventsFor(kSettleStepMs);
    if (outcome == Outcome::Crashed)
      throw EPageNotShown("Le moteur du navigateur s'est arrêté en affichant la page.");
    shot = fView->grab().toImage();
    same = (!previous.isNull() && shot == previous) ? same + 1 : 0;
    previous = shot;
  }
  if (shot.isNull()) throw EPageNotShown("La page n'a pas pu être dessinée.");
  return shot;
}

QImage RenderTemplatePage(const std::string &templatePath) {
  TPageRenderer renderer;
  return renderer.RenderTemplate(templatePath);
}

QImage ThumbnailPicture(const QImage &page, int size) {
  const QImage fitted = page.width() <= size && page.height() <= size
                            ? page
                            : page.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return fitted.convertToFormat(QImage::Format_RGB32);
}

} // namespace plm
