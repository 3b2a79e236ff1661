#include "platform/graphics/PictureFormats.h"

#include "platform/Exceptions.h"
#include "platform/graphics/Streams.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <algorithm>
#include <cstring>
#include <string>

namespace plm {

int64_t MaxPictureBytes = int64_t(1) << 28;

namespace {

// Whether an RLE4 or RLE8 pixel stream reaches its end-of-bitmap code, or the end of its
// last row, before the bytes end. Qt stops quietly where the data runs out and leaves the
// rows it did not reach as they were allocated.
bool RunsComplete(const uint8_t *p, const uint8_t *end, int64_t rows, bool fourBit) {
  int64_t row = 0;
  while (row < rows) {
    if (end - p < 2) return false;
    const uint8_t count = p[0], code = p[1];
    p += 2;
    if (count > 0) continue; // a run of count pixels
    if (code == 0) {
      ++row; // end of line
    } else if (code == 1) {
      return true; // end of bitmap
    } else if (code == 2) {
      if (end - p < 2) return false;
      row += p[1]; // a move right and down
      p += 2;
    } else {
      // code pixels stored as they are, padded to an even byte count
      const int64_t bytes = fourBit ? (code + 1) / 2 : code;
      const int64_t padded = (bytes + 1) & ~int64_t(1);
      if (end - p < padded) return false;
      p += padded;
    }
  }
  return true;
}

// Whether the pixels a BMP header announces lie inside the bytes. Headers that Qt cannot
// read pass here and are refused by Qt.
bool BitmapPixelsComplete(TMemoryStream &data) {
  const int64_t size = data.Size();
  if (size < 26) return true;
  data.SetPosition(10);
  const uint32_t offBits = data.ReadLE32();
  const uint32_t headerSize = data.ReadLE32();
  int64_t width = 0, height = 0;
  int bits = 0;
  uint32_t compression = 0;
  if (headerSize == 12) { // OS/2 header: 16-bit sizes, never compressed
    width = data.ReadLE16();
    height = data.ReadLE16();
    data.ReadLE16();
    bits = data.ReadLE16();
  } else {
    if (size < 34) return true;
    width = int32_t(data.ReadLE32());
    height = int32_t(data.ReadLE32());
    data.ReadLE16();
    bits = data.ReadLE16();
    compression = data.ReadLE32();
  }
  height = height < 0 ? -height : height; // negative: rows stored top down
  if (width <= 0 || bits <= 0 || bits > 32) return true;
  // Qt reads the pixels from the offset the file gives, or right after the header.
  const int64_t start = std::max<int64_t>(offBits, 14 + int64_t(headerSize));
  if (start > size) return false;
  switch (compression) {
  case 0: // uncompressed rows of whole 32-bit words
  case 3: // the same, with colour masks
  case 6: {
    const int64_t stride = (width * bits + 31) / 32 * 4;
    return (size - start) / stride >= height;
  }
  case 1:
  case 2:
    return RunsComplete(data.Memory() + start, data.Memory() + size, height, compression == 2);
  default:
    return true;
  }
}

} // namespace

void CheckPictureSize(int64_t width, int64_t height, int bitsPerPixel, const char *name) {
  const int64_t bytesPerPixel = std::max(1, (bitsPerPixel + 7) / 8);
  const int64_t maxPixels = MaxPictureBytes / bytesPerPixel;
  if (width > 0 && height > maxPixels / width)
    throw EInvalidGraphic(std::string(name) + " picture too large (more than " +
                          std::to_string(maxPixels) + " pixels)");
}

QImage ReadPicture(TStream &stream, const char *format, const char *name) {
  TMemoryStream data;
  data.CopyRest(stream);
  const std::string invalid = std::string(name) + " image is not valid";
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data.Memory()),
                                             static_cast<qsizetype>(data.ByteCount()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  reader.setAutoDetectImageFormat(false); // a PNG is read as a PNG or not at all
  const QSize size = reader.size();
  if (!size.isValid()) throw EInvalidGraphic(invalid);
  const QImage::Format pixels = reader.imageFormat();
  CheckPictureSize(
      size.width(), size.height(),
      pixels == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(pixels).bitsPerPixel(), name);
  if (std::strcmp(format, "bmp") == 0 && !BitmapPixelsComplete(data))
    throw EInvalidGraphic(std::string(name) + " image is truncated");
  // The readers fill an image of the right size and format in place: pixels that a file
  // legitimately leaves out (skips in compressed bitmaps) are then index 0, not whatever
  // the memory held.
  QImage image;
  if (pixels != QImage::Format_Invalid) {
    image = QImage(size, pixels);
    if (!image.isNull()) image.fill(0);
  }
  if (!reader.read(&image) || image.isNull()) throw EInvalidGraphic(invalid);
  return image;
}

void WritePicture(TStream &stream, const QImage &image, const char *format, const char *name) {
  if (image.isNull()) throw EInvalidGraphicOperation("Cannot save an empty bitmap");
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, format))
    throw EInvalidGraphicOperation(std::string("Cannot write ") + name + " image");
  stream.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void TPNGImage::LoadFromStream(TStream &stream) { Assign(ReadPicture(stream, "png", "PNG")); }

void TPNGImage::SaveToStream(TStream &stream) const { WritePicture(stream, Image(), "png", "PNG"); }

void TTIFFImage::LoadFromStream(TStream &stream) { Assign(ReadPicture(stream, "tiff", "TIFF")); }

void TTIFFImage::SaveToStream(TStream &stream) const {
  WritePicture(stream, Image(), "tiff", "TIFF");
}

} // namespace plm
