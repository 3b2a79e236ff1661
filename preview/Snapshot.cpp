#include "preview/Snapshot.h"

#include "imaging/JPEGImage.h"
#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/Paths.h"
#include "platform/graphics/Streams.h"

#include <cmath>
#include <cstring>

namespace plm {

namespace {

int Scaled(int percent, int length) {
  return static_cast<int>(std::trunc(static_cast<double>(percent) * length / 100.0));
}

} // namespace

QSize SnapshotSize(QSize browser, int percent) {
  return {Scaled(percent, browser.width() - SnapshotTrimRight),
          Scaled(percent, browser.height() - SnapshotTrimBottom)};
}

std::string ImageSizeText(QSize browser, int percent) {
  return std::to_string(Scaled(percent, browser.width())) + " x " +
         std::to_string(Scaled(percent, browser.height()));
}

int SnapshotQuality(int step) { return step * 10; }

std::string SnapshotFileName(const std::string &templateName) {
  return templateName.substr(0, templateName.find('.')) + "_snap.jpg";
}

std::string SnapshotPath(const std::string &folder, const std::string &templateName) {
  return JoinPath({folder, SnapshotFileName(templateName)});
}

QImage SnapshotPicture(const QImage &grab, QSize browser, int percent) {
  const QSize target = SnapshotSize(browser, percent);
  if (target.width() < 1 || target.height() < 1)
    throw EInvalidGraphicOperation("Capture impossible : la zone de l'exemple est vide.");
  const double ratio = grab.devicePixelRatio() > 0 ? grab.devicePixelRatio() : 1.0;
  const QRect area(0, 0,
                   static_cast<int>(std::lround((browser.width() - SnapshotTrimRight) * ratio)),
                   static_cast<int>(std::lround((browser.height() - SnapshotTrimBottom) * ratio)));
  QImage cropped = grab.copy(area);
  cropped.setDevicePixelRatio(1.0);
  return cropped.scaled(target, Qt::IgnoreAspectRatio, Qt::FastTransformation)
      .convertToFormat(QImage::Format_RGB888);
}

std::vector<uint8_t> EncodeSnapshot(const QImage &picture, int quality) {
  TJPEGImage jpeg;
  jpeg.Assign(picture.convertToFormat(QImage::Format_RGB888));
  jpeg.SetCompressionQuality(quality);
  jpeg.SetProgressiveEncoding(false);
  TMemoryStream bytes;
  jpeg.SaveToStream(bytes);
  return bytes.Bytes();
}

void SaveSnapshot(const QImage &picture, int quality, const std::string &path) {
  const std::vector<uint8_t> bytes = EncodeSnapshot(picture, quality);
  if (const int e = WriteFileBytes(path, std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size())))
    throw EFOpenError("Cannot create file \"" + path + "\". " + std::strerror(e));
}

} // namespace plm
