#include "preview/PreviewPage.h"

#include <QAction>
#include <QMenu>
#include <QWebEngineView>

TPreviewPage::TPreviewPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent) {}

bool TPreviewPage::IsAllowedNavigation(NavigationType type, bool isMainFrame) {
  // A load asked for by the program is "typed"; a link clicked or a form sent (by mouse
  // or keyboard), a move in the history, a reload or a redirection (a refresh tag
  // included) is not. The frames of a page would navigate by the same means.
  return isMainFrame && type == NavigationTypeTyped;
}

bool TPreviewPage::acceptNavigationRequest(const QUrl &url, NavigationType type,
                                           bool isMainFrame) {
  if (IsAllowedNavigation(type, isMainFrame)) return true;
  emit NavigationRefused(url);
  return false;
}

QWebEnginePage *TPreviewPage::createWindow(WebWindowType) {
  // Middle clicks, shift and control clicks and "target" links ask for a window or tab.
  emit NavigationRefused(QUrl());
  return nullptr;
}

QMenu *InstallCopyOnlyMenu(QWebEngineView *view) {
  auto *menu = new QMenu(view);
  menu->setObjectName(QStringLiteral("PageMenu"));
  menu->setAccessibleName(QStringLiteral("Menu de la page"));
  QAction *copy = menu->addAction(QStringLiteral("Copier"));
  copy->setObjectName(QStringLiteral("PageCopy"));
  copy->setShortcut(QKeySequence::Copy);
  QObject::connect(copy, &QAction::triggered, view, [view] {
    if (QWebEnginePage *page = view->page()) page->triggerAction(QWebEnginePage::Copy);
  });
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(view, &QWidget::customContextMenuRequested, menu, [view, menu, copy](QPoint p) {
    copy->setEnabled(view->page() && view->page()->hasSelection());
    menu->popup(view->mapToGlobal(p));
  });
  return menu;
}
