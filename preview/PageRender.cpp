#include "preview/PageRender.h"

#include "cabinet/CabSTComps.h"
#include "preview/PreviewGuard.h"
#include "preview/PreviewPage.h"
#include "preview/Snapshot.h"
#include "preview/TemplateBrowser.h"
#include "preview/TemplatePreview.h"
#include "platform/Paths.h"
#include "platform/TempDir.h"
#include "platform/TempFolder.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>
#include <functional>
#include <memory>
#include <new>

namespace plm {

namespace {

// How long the page may take to settle once loaded, how often it is looked at (a look
// costs next to nothing), and how long it must stay the same to be taken.
constexpr int kSettleMs = 3000;
constexpr int kSettleStepMs = 5;
constexpr int kStableMs = 30;
// Once the page's pictures are decoded and drawn and a frame has come since the load, the
// picture needs to stay the same only this long.
constexpr int kDrawnStableMs = 15;
// Under load the first frame can come long after the end of loading, the view showing
// what it showed before (the previous page) or an empty area meanwhile. Once the engine has
// handed the view a frame after the load, the picture is the page's; before that, a picture
// that looks unpainted (the previous one, or one colour) is only taken once it has stayed
// this long.
constexpr int kUnpaintedMs = 2000;

// The longest wait for the page's pictures to be decoded and drawn.
constexpr int kDecodeMs = 3000;

// Decodes every picture of the page (its images and the backgrounds of its elements),
// then lets the engine draw two frames, then sets plmDrawn. It runs in a world of the
// renderer's own: the page's scripts stay off and cannot see it or its variable.
const char kDecodeScript[] = R"js((function () {
  window.plmDrawn = false;
  var waits = [], backgrounds = {};
  var all = document.getElementsByTagName('*');
  // A letter's page holds some hundreds of elements; a hostile one is not looked at
  // beyond these.
  for (var i = 0; i < all.length && i < 20000; ++i) {
    var element = all[i];
    if (element.tagName === 'IMG' && element.src) waits.push(element.decode().catch(function () {}));
    var re = /url\("([^"]*)"\)/g, found;
    while ((found = re.exec(getComputedStyle(element).backgroundImage)) !== null)
      backgrounds[found[1]] = true;
  }
  Object.keys(backgrounds).forEach(function (url) {
    var image = new Image();
    image.src = url;
    waits.push(image.decode().catch(function () {}));
  });
  Promise.all(waits).then(function () {
    requestAnimationFrame(function () {
      requestAnimationFrame(function () { window.plmDrawn = true; });
    });
  });
})())js";

// Runs the events for about ms milliseconds.
void RunEventsFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Whether every pixel of the picture has the same colour.
bool OneColour(const QImage &picture) {
  const QImage p = picture.depth() == 32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
  if (p.isNull()) return true;
  const QRgb first = p.pixel(0, 0);
  for (int y = 0; y < p.height(); ++y) {
    const auto *line = reinterpret_cast<const QRgb *>(p.constScanLine(y));
    if (std::any_of(line, line + p.width(), [first](QRgb c) { return c != first; })) return false;
  }
  return true;
}

// The engine draws a picture that is not decoded yet as if it were missing, and then the
// page again once it is; under load, much later. Returns once every picture of the page
// is decoded and drawn (true), stopped() holds, or kDecodeMs have passed.
bool WaitForPicturesDecoded(QWebEnginePage *page, const std::function<bool()> &stopped) {
  // The answers come through the event loop, possibly after this returns: they write to
  // shared state, never to this frame.
  struct TState {
    bool Drawn = false;
    bool Waiting = false;
  };
  const auto state = std::make_shared<TState>();
  page->runJavaScript(QString::fromLatin1(kDecodeScript), QWebEngineScript::ApplicationWorld);
  QElapsedTimer clock;
  clock.start();
  while (!state->Drawn && !stopped() && clock.elapsed() < kDecodeMs) {
    if (!state->Waiting) {
      state->Waiting = true;
      page->runJavaScript(QStringLiteral("window.plmDrawn === true"),
                          QWebEngineScript::ApplicationWorld, [state](const QVariant &drawn) {
                            state->Drawn = drawn.toBool();
                            state->Waiting = false;
                          });
    }
    RunEventsFor(1);
  }
  return state->Drawn;
}

} // namespace

// Counts the frames that the engine hands the view: paints of the widget that shows the
// page, other than those that the renderer's own grabs cause.
class TPageRenderer::TFrameCounter : public QObject {
public:
  // Follows the widget that shows the page (a new one comes after a renderer crash).
  void Watch(QWidget *surface) {
    if (surface == fSurface) return;
    if (fSurface) fSurface->removeEventFilter(this);
    fSurface = surface;
    if (fSurface) fSurface->installEventFilter(this);
    ++fFrames; // another widget: whatever was known of the old one is void
  }
  uint64_t Frames() const { return fFrames; }
  bool Grabbing = false;

protected:
  bool eventFilter(QObject *, QEvent *event) override {
    if (event->type() == QEvent::Paint && !Grabbing) ++fFrames;
    return false;
  }

private:
  QPointer<QWidget> fSurface;
  uint64_t fFrames = 0;
};

struct TPageRenderer::Browser {
  QObject Owner;
  TTemplateBrowser Parts;
};

TPageRenderer::TPageRenderer()
    : fView(std::make_unique<QWebEngineView>()), fBrowser(std::make_unique<Browser>()),
      fFrames(std::make_unique<TFrameCounter>()) {
  fBrowser->Parts = SetUpTemplateBrowser(fView.get(), &fBrowser->Owner);
  fView->resize(BrowserDesignWidth, BrowserDesignHeight);
  fView->show();
}

TPageRenderer::~TPageRenderer() {
  fFrames->Watch(nullptr);
  TearDownTemplateBrowser(fView.get(), fBrowser->Parts);
}

QImage TPageRenderer::Grab() {
  fFrames->Grabbing = true;
  QImage shot = fView->grab().toImage();
  fFrames->Grabbing = false;
  return shot;
}

void TPageRenderer::EnableScriptsForTests() {
  fBrowser->Parts.Page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
}

QImage TPageRenderer::RenderTemplate(const std::string &templatePath, int timeoutMs) {
  // One temporary folder, and one watcher process, for all the renderer's templates: a
  // watcher forked from a process that holds a browser engine costs more than the page
  // itself. Each template has a folder of its own in it, a new name each time (the engine
  // must not take a file of the last template for one of this), removed once it is drawn
  // or refused.
  if (!fScratch) fScratch = std::make_unique<TTempFolder>("plmtool-");
  const std::string own = JoinPath({fScratch->Path(), std::to_string(++fTemplates)});
  const auto removed = qScopeGuard([&own] { DeleteEntryNoFollow(own); });
  MakePrivateFolder(own);
  const std::string folder = JoinPath({own, "~plmlook"});
  TTemplatePreview preview(folder);
  preview.Extract(templatePath);
  if (FindEntryNoCase(preview.Folder(), kPageFileName).empty()) throw ETemplateHasNoPage();
  preview.LoadPage();
  preview.RewritePage();
  preview.SavePage();
  QImage shot = RenderPage(preview.PagePath(), folder, timeoutMs);
  // Its folder goes now: the page may read nothing more.
  fBrowser->Parts.Guard->setAllowedFolder(QString());
  return shot;
}

namespace {
const char kEngineStopped[] = "Le moteur du navigateur s'est arrêté en affichant la page.";
} // namespace

QImage TPageRenderer::RenderPage(const std::string &pagePath, const std::string &folder,
                                 int timeoutMs) {
  const QImage before = LoadPage(pagePath, folder, timeoutMs);
  return SettlePage(before);
}

QImage TPageRenderer::LoadPage(const std::string &pagePath, const std::string &folder,
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
  // What the view shows now: the last page's picture, unless a frame came since.
  fFrames->Watch(fView->focusProxy());
  const uint64_t framesBefore = fFrames->Frames();
  const QImage before = !fLastShot.isNull() && fLastShotFrames == framesBefore ? fLastShot : Grab();
  fLastShot = QImage();
  fView->load(target);
  if (outcome == Outcome::Waiting) loop.exec();
  switch (outcome) {
  case Outcome::Loaded: break;
  case Outcome::Crashed:
    throw EPageNotShown(kEngineStopped);
  case Outcome::TimedOut:
    throw EPageNotShown("La page n'a pas fini de se charger à temps.");
  default: throw EPageNotShown("La page n'a pas pu être chargée.");
  }
  return before;
}

QImage TPageRenderer::SettlePage(const QImage &before) {
  TPreviewPage *page = fBrowser->Parts.Page;
  bool crashed = false;
  QObject scope; // the connection below ends with this call
  QObject::connect(page, &QWebEnginePage::renderProcessTerminated, &scope,
                   [&](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                     crashed = crashed || status != QWebEnginePage::NormalTerminationStatus;
                   });
  fFrames->Watch(fView->focusProxy());
  const uint64_t framesLoaded = fFrames->Frames();
  const bool decoded = WaitForPicturesDecoded(page, [&] { return crashed; });
  // The first frame follows the end of loading: the picture is taken once it stops
  // changing.
  QImage shot, previous;
  int unpainted = -1; // whether the picture that stays is unpainted, once known (0 or 1)
  QElapsedTimer clock, stable;
  clock.start();
  stable.start();
  while (clock.elapsed() < kSettleMs) {
    RunEventsFor(kSettleStepMs);
    if (crashed) throw EPageNotShown(kEngineStopped);
    shot = Grab();
    const bool framed = fFrames->Frames() != framesLoaded;
    const int needed = framed && decoded && shot != before ? kDrawnStableMs : kStableMs;
    if (previous.isNull() || shot != previous) {
      stable.restart();
    } else if (stable.elapsed() >= needed) {
      if (stable.elapsed() >= kUnpaintedMs || framed) break;
      if (unpainted < 0) unpainted = shot == before || OneColour(shot);
      if (!unpainted) break;
    }
    if (stable.elapsed() < kStableMs) unpainted = -1;
    previous = shot;
  }
  if (shot.isNull()) throw EPageNotShown("La page n'a pas pu être dessinée.");
  fLastShot = shot;
  fLastShotFrames = fFrames->Frames();
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
