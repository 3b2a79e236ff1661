#pragma once
// What the gallery window asks for pictures of template pages. The window only asks and
// listens: where a picture comes from (the shared thumbnail cache, a renderer process) is
// the provider's business, and tests give the window a source of their own.
//
// Paths are the bytes of the file names on disk (names need not be valid UTF-8). All calls
// and signals happen on the interface thread; no call blocks on rendering.
#include <QImage>
#include <QObject>

#include <string>
#include <vector>

class TThumbnailSource : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;

  // The templates wanted, in the order they are shown. Replaces what was asked before:
  // work on templates no longer listed stops (their answers are dropped). Pictures
  // already known are answered again, through thumbnailReady or thumbnailFailed, from
  // the event loop, never from inside this call.
  virtual void setTemplates(const std::vector<std::string> &paths) = 0;
  // The templates shown on screen now: they are made before the others.
  virtual void setVisible(const std::vector<std::string> &paths) = 0;
  // The file changed (or came back): its picture is made again.
  virtual void refresh(const std::string &path) = 0;
  // Pictures answered so far and templates asked, for the progress text.
  virtual int answered() const = 0;
  virtual int total() const = 0;
  // The picture of a template shown now whose picture the source does not hold (dropped
  // since, see thumbnailDropped, or not answered yet), when it can be had at once (read
  // again from a cache); null otherwise (it then comes through thumbnailReady). Sources
  // that hand every picture out through thumbnailReady need not override it.
  virtual QImage picture(const std::string &path) {
    (void)path;
    return QImage();
  }

signals:
  // The picture of a template's page, at most 256 x 256 pixels; null when the source
  // dropped it again before it was handed out (ask picture() when it is to be shown).
  void thumbnailReady(const std::string &path, const QImage &picture);
  // The source dropped the picture of a template answered before, to stay within its
  // memory budget: listeners drop their copies too; the answer itself stays.
  void thumbnailDropped(const std::string &path);
  // The template cannot be shown; the reason is French text for the user.
  void thumbnailFailed(const std::string &path, const QString &reason);
  // Emitted whenever answered() or total() changes.
  void progressChanged(int answered, int total);
};
