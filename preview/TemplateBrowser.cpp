#include "preview/TemplateBrowser.h"

#include "preview/PreviewGuard.h"
#include "preview/PreviewPage.h"

#include <QFileInfo>
#include <QWebEngineProfile>
#include <QWebEngineView>

TTemplateBrowser SetUpTemplateBrowser(QWebEngineView *view, QObject *owner) {
  TTemplateBrowser b;
  // A profile made without a storage name is off the record: nothing of a page is kept
  // on disk.
  b.Profile = new QWebEngineProfile(owner);
  b.Guard = new TPreviewGuard(owner);
  b.Profile->setUrlRequestInterceptor(b.Guard);
  b.Page = new TPreviewPage(b.Profile, view);
  LockDownPageSettings(b.Page->settings());
  view->setPage(b.Page);
  return b;
}

void TearDownTemplateBrowser(QWebEngineView *view, TTemplateBrowser &browser) {
  if (!browser.Profile) return;
  if (view && view->page() == browser.Page) view->setPage(nullptr);
  delete browser.Page;
  delete browser.Profile;
  browser = TTemplateBrowser();
}

bool SameTarget(const QUrl &a, const QUrl &b) {
  if (a.isLocalFile() && b.isLocalFile())
    return QFileInfo(a.toLocalFile()).absoluteFilePath() ==
           QFileInfo(b.toLocalFile()).absoluteFilePath();
  return a.adjusted(QUrl::StripTrailingSlash) == b.adjusted(QUrl::StripTrailingSlash);
}
