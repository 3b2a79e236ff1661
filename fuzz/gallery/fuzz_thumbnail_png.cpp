// The cache entries' quick PNG reader on arbitrary bytes: it stays inside its buffers, ends,
// and a picture it gives has the size the header says and the pixels the general reader
// finds in the same bytes.
#include "gallery/ThumbnailPng.h"

#include <QBuffer>
#include <QImageReader>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  QImage picture;
  const auto read = plm::ReadThumbnailPng(reinterpret_cast<const char *>(data), size, picture);
  if (read != plm::PngRead::Done) {
    if (!picture.isNull()) __builtin_trap();
    return 0;
  }
  const int width = data[16] << 24 | data[17] << 16 | data[18] << 8 | data[19];
  const int height = data[20] << 24 | data[21] << 16 | data[22] << 8 | data[23];
  if (picture.width() != width || picture.height() != height) __builtin_trap();
  QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
  QBuffer buffer(&bytes);
  const QImage general = QImageReader(&buffer, "png").read();
  if (!general.isNull() && general.convertToFormat(picture.format()) != picture) __builtin_trap();
  return 0;
}
