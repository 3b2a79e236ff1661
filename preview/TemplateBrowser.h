#pragma once
// The browser that shows template pages, set up once for every place that shows one (the
// viewer's browser, the offscreen renderer): a private off-the-record profile whose guard
// sees every request, and a locked-down page in the view.
#include <QUrl>

class QObject;
class QWebEngineProfile;
class QWebEngineView;
class TPreviewGuard;
class TPreviewPage;

struct TTemplateBrowser {
  QWebEngineProfile *Profile = nullptr; // owned by the owner given to the set-up
  TPreviewGuard *Guard = nullptr;       // owned by the owner given to the set-up
  TPreviewPage *Page = nullptr;         // shown in the view, owned by it
};

// Makes the profile and guard as children of owner and shows a locked-down page in view.
TTemplateBrowser SetUpTemplateBrowser(QWebEngineView *view, QObject *owner);
// Takes the page out of the view and deletes it, then the profile: a page must go before
// the profile it was made with. Does nothing for a browser never set up.
void TearDownTemplateBrowser(QWebEngineView *view, TTemplateBrowser &browser);

// Whether two addresses name the same target (local files by their absolute paths).
bool SameTarget(const QUrl &a, const QUrl &b);
