#include "preview/PreviewGuard.h"

#include "preview/TemplateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>

namespace {
constexpr qsizetype kRefusedKept = 200;
}

TPreviewGuard::TPreviewGuard(QObject *parent) : QWebEngineUrlRequestInterceptor(parent) {}

void TPreviewGuard::setAllowedFolder(const QString &folder) {
  fFolder = folder;
  fCanonical = folder.isEmpty() ? QString() : QFileInfo(folder).canonicalFilePath();
  if (fCanonical.isEmpty() && !folder.isEmpty()) fCanonical = QDir::cleanPath(folder);
}

bool TPreviewGuard::IsAllowed(const QUrl &url, const QString &canonicalFolder) {
  const QString scheme = url.scheme().toLower();
  if (scheme == QLatin1String("about") || scheme == QLatin1String("data") ||
      scheme == QLatin1String("blob"))
    return true;
  if (scheme != QLatin1String("file") || canonicalFolder.isEmpty()) return false;
  // A file URL naming a host ("file://server/...") reaches a network share.
  if (!url.host().isEmpty() && url.host() != QLatin1String("localhost")) return false;
  const QString local = url.toLocalFile();
  if (local.isEmpty()) return false;
  QString path = QFileInfo(local).canonicalFilePath();
  if (path.isEmpty()) {
    // A file that does not exist: judge its cleaned path through its existing folder.
    const QFileInfo fi(QDir::cleanPath(local));
    const QString dir = QFileInfo(fi.path()).canonicalFilePath();
    if (dir.isEmpty()) return false;
    path = dir + QLatin1Char('/') + fi.fileName();
  }
  return path == canonicalFolder || path.startsWith(canonicalFolder + QLatin1Char('/'));
}

QUrl TPreviewGuard::CaseMatch(const QUrl &url) const {
  if (fCanonical.isEmpty() ||
      url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0 ||
      (!url.host().isEmpty() && url.host() != QLatin1String("localhost")))
    return {};
  const QString local = QDir::cleanPath(url.toLocalFile());
  if (local.isEmpty() || QFileInfo::exists(local)) return {};
  QString relative;
  for (const QString &root : {fCanonical, QDir::cleanPath(fFolder)})
    if (!root.isEmpty() && local.startsWith(root + QLatin1Char('/'))) {
      relative = local.mid(root.size() + 1);
      break;
    }
  if (relative.isEmpty()) return {};
  const std::string found = plm::FindTemplateFile(QFile::encodeName(fCanonical).toStdString(),
                                                  QFile::encodeName(relative).toStdString());
  if (found.empty()) return {};
  return QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(found)));
}

void TPreviewGuard::interceptRequest(QWebEngineUrlRequestInfo &info) {
  // Pages name their files in any letter case: a missing one is served by the stored
  // file whose name matches ignoring case.
  if (const QUrl match = CaseMatch(info.requestUrl()); !match.isEmpty()) {
    info.redirect(match);
    return;
  }
  if (IsAllowed(info.requestUrl(), fCanonical)) return;
  info.block(true);
  if (fRefused.size() >= kRefusedKept) fRefused.removeFirst();
  fRefused.append(info.requestUrl().toString());
  emit RequestRefused(fRefused.last());
}

void LockDownPageSettings(QWebEngineSettings *s) {
  s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
  s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
  s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
  s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
  s->setAttribute(QWebEngineSettings::WebGLEnabled, false);
  s->setAttribute(QWebEngineSettings::Accelerated2dCanvasEnabled, false);
}
