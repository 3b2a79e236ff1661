#pragma once
// The page object of the template browser, which keeps a template page where the viewer
// put it: links, forms, history moves, reloads and redirections started from the page
// are refused, new windows are never made, and the right-click menu only copies. Only
// the program's own loads go through; what they may read is the guard's business
// (PreviewGuard.h).
#include <QWebEnginePage>

class QMenu;
class QWebEngineView;

class TPreviewPage : public QWebEnginePage {
  Q_OBJECT
public:
  explicit TPreviewPage(QWebEngineProfile *profile, QObject *parent = nullptr);

  // The decision itself: a load that the program asked for (load(), setHtml()) of the
  // main frame passes; everything a page or its user starts is refused.
  static bool IsAllowedNavigation(NavigationType type, bool isMainFrame);

signals:
  // A navigation started from the page, or a window it asked for, was refused (the URL
  // is empty for a window).
  void NavigationRefused(const QUrl &url);

protected:
  bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
  QWebEnginePage *createWindow(WebWindowType type) override;
};

// Replaces the view's right-click menu by one that holds "Copier" alone (copying the
// selected text, enabled when there is one). Returns that menu, owned by the view.
QMenu *InstallCopyOnlyMenu(QWebEngineView *view);
