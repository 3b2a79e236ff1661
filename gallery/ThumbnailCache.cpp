#include "gallery/ThumbnailCache.h"

#include "gallery/ThumbnailPng.h"

#include "platform/AppPaths.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/FileUri.h"
#include "platform/Paths.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImageReader>

#include <cerrno>

#ifndef PLM_VERSION
#define PLM_VERSION "0"
#endif

namespace plm {

namespace {

constexpr unsigned kFolderMode = 0700;
constexpr unsigned kFileMode = 0600;
const char kUriKey[] = "Thumb::URI";
const char kMTimeKey[] = "Thumb::MTime";
const char kSizeKey[] = "Thumb::Size";
const char kMimeKey[] = "Thumb::Mimetype";
const char kSoftwareKey[] = "Software";
// Ours, beside the standard's keys: why the template cannot be shown.
const char kReasonKey[] = "X-Plmlooker::Reason";

QImage WithKeys(QImage image, const TTemplateStamp &stamp) {
  image.setText(QString::fromLatin1(kUriKey), QString::fromStdString(stamp.Uri));
  image.setText(QString::fromLatin1(kMTimeKey), QString::number(stamp.MTime));
  image.setText(QString::fromLatin1(kSizeKey), QString::number(stamp.Size));
  image.setText(QString::fromLatin1(kMimeKey), QString::fromLatin1(kTemplateMimeType));
  image.setText(QString::fromLatin1(kSoftwareKey), QStringLiteral("plmlooker " PLM_VERSION));
  return image;
}

// The entry's picture when its keys name this state of the template; null otherwise.
// Entries as the cache writes them take the quick reader; others the general one, whose
// keys are read from the decoded picture: its own text query splits keys at their first
// ":", which the standard's "Thumb::" names hold.
QImage ReadMatching(const std::string &path, const TTemplateStamp &stamp) {
  std::string bytes;
  if (!ReadFileBytes(path, bytes)) return QImage();
  QImage image;
  switch (ReadThumbnailPng(bytes.data(), bytes.size(), image)) {
  case PngRead::Done: break;
  case PngRead::Damaged: return QImage();
  case PngRead::Unsupported: {
    QByteArray data = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    image = QImageReader(&buffer, "png").read();
    break;
  }
  }
  if (image.isNull() ||
      image.text(QString::fromLatin1(kUriKey)) != QString::fromStdString(stamp.Uri) ||
      image.text(QString::fromLatin1(kMTimeKey)) != QString::number(stamp.MTime))
    return QImage();
  return image;
}

} // namespace

TThumbnailCache::TThumbnailCache(std::string root)
    : fRoot(root.empty() ? JoinPath({UserCacheDir(), "thumbnails"}) : std::move(root)) {}

TTemplateStamp TThumbnailCache::Stamp(const std::string &templatePath) {
  TTemplateStamp s;
  if (!IsRegularFile(templatePath)) return s;
  s.Path = ExpandFileName(templatePath);
  s.Uri = FileNameToUri(s.Path);
  s.MTime = FileModTime(s.Path);
  s.Size = FileSize(s.Path);
  return s;
}

std::string TThumbnailCache::EntryName(const std::string &uri) {
  const QByteArray md5 = QCryptographicHash::hash(QByteArray::fromStdString(uri),
                                                  QCryptographicHash::Md5);
  return md5.toHex().toStdString() + ".png";
}

std::string TThumbnailCache::PicturePath(const std::string &uri) const {
  return JoinPath({fRoot, "large", EntryName(uri)});
}

std::string TThumbnailCache::FailurePath(const std::string &uri) const {
  return JoinPath({fRoot, "fail", "plmlooker-" PLM_VERSION, EntryName(uri)});
}

TThumbnailCache::Entry TThumbnailCache::Lookup(const TTemplateStamp &stamp) const {
  Entry entry;
  if (!stamp.Valid()) return entry;
  if (QImage picture = ReadMatching(PicturePath(stamp.Uri), stamp); !picture.isNull()) {
    entry.Kind = Found::Picture;
    entry.Picture = std::move(picture);
  } else if (QImage mark = ReadMatching(FailurePath(stamp.Uri), stamp); !mark.isNull()) {
    entry.Kind = Found::Failure;
    entry.Reason = mark.text(QString::fromLatin1(kReasonKey));
  }
  return entry;
}

int TThumbnailCache::Write(const std::string &folder, const std::string &path,
                           const QImage &image) const {
  if (!ForceDirectories(folder, kFolderMode)) return errno ? errno : EACCES;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  // The fastest compression: entries are small, and each is made while the page's
  // renderer waits.
  if (!image.save(&buffer, "PNG", 80)) return EINVAL; // zlib level 1
  TReplacingFile file;
  file.SetFlushed(false);
  if (const int e = file.Open(path)) return e;
  if (const int e = file.SetMode(kFileMode)) return e;
  if (const int e = file.Write(png.constData(), size_t(png.size()))) return e;
  return file.Commit();
}

int TThumbnailCache::Store(const TTemplateStamp &stamp, const QImage &picture) const {
  if (!stamp.Valid() || picture.isNull()) return EINVAL;
  const std::string path = PicturePath(stamp.Uri);
  const int e = Write(ExtractFilePath(path), path, WithKeys(picture, stamp));
  if (!e) DeleteFile(FailurePath(stamp.Uri));
  return e;
}

int TThumbnailCache::StoreFailure(const TTemplateStamp &stamp, const QString &reason) const {
  if (!stamp.Valid()) return EINVAL;
  QImage mark(1, 1, QImage::Format_ARGB32);
  mark.fill(Qt::transparent);
  mark = WithKeys(mark, stamp);
  mark.setText(QString::fromLatin1(kReasonKey), reason);
  const std::string path = FailurePath(stamp.Uri);
  return Write(ExtractFilePath(path), path, mark);
}

} // namespace plm
