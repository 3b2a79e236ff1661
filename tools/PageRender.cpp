#include "tools/PageRender.h"

#include "preview/PreviewGuard.h"
#include "preview/PreviewPage.h"
#include "preview/Snapshot.h"
#include "preview/TemplatePreview.h"
#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/TempFolder.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <memory>

namespace plmtool {

namespace {

// Waits for cond while the events run; false after timeoutMs.
template <class Cond> bool WaitFor(Cond cond, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!cond()) {
    if (clock.elapsed() > timeoutMs) return false;
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Loads the page at the browser's design size and returns what the browser shows.
QImage RenderPage(const std::string &pagePath, const std::string &folder) {
  QWebEngineProfile profile;
  TPreviewGuard guard;
  guard.setAllowedFolder(QString::fromStdString(folder));
  profile.setUrlRequestInterceptor(&guard);
  auto view = std::make_unique<QWebEngineView>();
  auto *page = new TPreviewPage(&profile, view.get());
  LockDownPageSettings(page->settings());
  view->setPage(page);
  view->resize(plm::BrowserDesignWidth, plm::BrowserDesignHeight);
  view->show();

  bool done = false, ok = false;
  QObject::connect(page, &QWebEnginePage::loadFinished, [&](bool success) {
    done = true;
    ok = success;
  });
  view->load(QUrl::fromLocalFile(QString::fromStdString(pagePath)));
  if (!WaitFor([&] { return done; }, 30000))
    throw plm::Exception("the page did not finish loading");
  if (!ok) throw plm::Exception("the page could not be loaded");
  // The first frame follows the end of loading: take the picture once it stops changing.
  QImage shot, previous;
  int same = 0;
  WaitFor(
      [&] {
        shot = view->grab().toImage();
        same = (!previous.isNull() && shot == previous) ? same + 1 : 0;
        previous = shot;
        return same >= 3;
      },
      3000);
  view->setPage(nullptr);
  delete page;
  return shot;
}

} // namespace

QImage RenderTemplatePage(const std::string &templatePath) {
  plm::TTempFolder work("plmtool-");
  const std::string folder = plm::JoinPath({work.Path(), "~plmlook"});
  plm::TTemplatePreview preview(folder);
  preview.Extract(templatePath);
  preview.LoadPage();
  preview.RewritePage();
  preview.SavePage();
  return RenderPage(preview.PagePath(), folder);
}

} // namespace plmtool
