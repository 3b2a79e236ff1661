#pragma once
// Keeps a template page to itself: while the viewer shows a page, the browser may read
// the files of the preview folder and nothing else. Every other file, and every address
// that would leave the machine, is refused, so a template cannot tell anyone that it
// was opened.
#include <QString>
#include <QStringList>
#include <QWebEngineUrlRequestInterceptor>

class QWebEngineSettings;

// The page shows only what the template holds: no scripts, no plug-ins, nothing fetched
// on the page's behalf. The viewer and the offscreen snapshot share these settings.
void LockDownPageSettings(QWebEngineSettings *s);

class TPreviewGuard : public QWebEngineUrlRequestInterceptor {
  Q_OBJECT
public:
  explicit TPreviewGuard(QObject *parent = nullptr);

  // The folder whose files may be read; empty allows no file at all.
  void setAllowedFolder(const QString &folder);
  const QString &AllowedFolder() const { return fFolder; }

  // The decision itself: file URLs inside the folder (links resolved), and the
  // self-contained schemes (about, data, blob) pass; everything else is refused.
  static bool IsAllowed(const QUrl &url, const QString &canonicalFolder);

  // Addresses refused so far, most recent last (for the tests and for debugging).
  const QStringList &Refused() const { return fRefused; }
  void clearRefused() { fRefused.clear(); }

  // The stored file that a missing file of the folder names in another letter case;
  // empty when the address is no such file.
  QUrl CaseMatch(const QUrl &url) const;

  void interceptRequest(QWebEngineUrlRequestInfo &info) override;

signals:
  void RequestRefused(const QString &url);

private:
  QString fFolder;
  QString fCanonical;
  QStringList fRefused;
};
