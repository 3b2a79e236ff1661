#include "imaging/PCXImage.h"

#include "platform/Exceptions.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/graphics/Streams.h"

#include <QImage>

#include <algorithm>
#include <cstdio>
#include <string>

namespace plm {

namespace {

constexpr int HeaderSize = 128;
constexpr uint8_t PaletteMarker = 0x0C; // before the 768 bytes of a 256-colour table
constexpr int TrailingPaletteSize = 1 + 768;

// How the bytes of one line hold the pixels.
enum class Layout { Mono, Planes16, Packed16, Indexed256, Rgb };

// The colours of files that carry none of their own: black and white, and the 16 colours of
// the EGA display.
constexpr QRgb BlackAndWhite[2] = {0x000000, 0xFFFFFF};
constexpr QRgb EgaColors[16] = {0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA,
                                0xAA5500, 0xAAAAAA, 0x555555, 0x5555FF, 0x55FF55, 0x55FFFF,
                                0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF};

EInvalidGraphic Invalid(const std::string &message) { return EInvalidGraphic(message); }

// The bytes of the pixel data in order, runs expanded. A byte with its two high bits set
// counts a run (its low six bits) of the byte that follows; runs may cross line ends.
class RunReader {
public:
  RunReader(const uint8_t *begin, const uint8_t *end, bool encoded)
      : fPos(begin), fEnd(end), fEncoded(encoded) {}

  uint8_t Next() {
    if (fCount == 0) {
      for (;;) {
        if (fPos == fEnd) throw Invalid("PCX image data is truncated");
        const uint8_t b = *fPos++;
        if (!fEncoded || (b & 0xC0) != 0xC0) return b;
        if (fPos == fEnd) throw Invalid("PCX image data is truncated");
        fValue = *fPos++;
        fCount = b & 0x3F;
        if (fCount > 0) break; // a run of none is passed over
      }
    }
    --fCount;
    return fValue;
  }
  // Where the bytes not read yet begin.
  const uint8_t *Position() const { return fPos; }

private:
  const uint8_t *fPos, *fEnd;
  bool fEncoded;
  int fCount = 0;
  uint8_t fValue = 0;
};

// The first count colours of the header's table. Version 3 files say they have none, and
// many writers leave the table empty: the fallback colours then serve.
QList<QRgb> HeaderColors(const uint8_t *table, int count, int version, const QRgb *fallback) {
  QList<QRgb> colors(count);
  bool distinct = false;
  for (int i = 0; i < count; ++i) {
    colors[i] = qRgb(table[3 * i], table[3 * i + 1], table[3 * i + 2]);
    distinct = distinct || colors[i] != colors[0];
  }
  if (version == 3 || !distinct)
    for (int i = 0; i < count; ++i)
      colors[i] = 0xFF000000u | fallback[i];
  return colors;
}

void PutLE16(std::vector<uint8_t> &out, int v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void PutRuns(std::vector<uint8_t> &out, const uint8_t *line, int count) {
  for (int i = 0; i < count;) {
    const uint8_t v = line[i];
    int run = 1;
    while (i + run < count && run < 63 && line[i + run] == v)
      ++run;
    if (run > 1 || (v & 0xC0) == 0xC0) out.push_back(uint8_t(0xC0 | run));
    out.push_back(v);
    i += run;
  }
}

} // namespace

QImage DecodePCX(TMemoryStream &data) {
  const int64_t size = data.Size();
  if (size < HeaderSize) throw Invalid("PCX header is incomplete");
  data.SetPosition(0);
  const uint8_t signature = data.ReadByte();
  const int version = data.ReadByte(), encoding = data.ReadByte(), bits = data.ReadByte();
  const int xmin = data.ReadLE16(), ymin = data.ReadLE16();
  const int xmax = data.ReadLE16(), ymax = data.ReadLE16();
  data.SetPosition(65);
  const int planes = data.ReadByte(), bytesPerLine = data.ReadLE16();
  const uint8_t *bytes = data.Memory();

  if (signature != 0x0A) {
    char text[48];
    std::snprintf(text, sizeof text, "Invalid PCX signature: $%X", signature);
    throw Invalid(text);
  }
  if (encoding > 1) throw Invalid("Unsupported PCX encoding: " + std::to_string(encoding));
  Layout layout;
  if (bits == 1 && planes == 1)
    layout = Layout::Mono;
  else if (bits == 1 && planes == 4)
    layout = Layout::Planes16;
  else if (bits == 4 && planes == 1)
    layout = Layout::Packed16;
  else if (bits == 8 && planes == 1)
    layout = Layout::Indexed256;
  else if (bits == 8 && planes == 3)
    layout = Layout::Rgb;
  else
    throw Invalid("Unsupported PCX format: " + std::to_string(bits) + " bits, " +
                  std::to_string(planes) + " planes");
  const int width = xmax - xmin + 1, height = ymax - ymin + 1;
  if (width <= 0 || height <= 0)
    throw Invalid("Invalid PCX image size: " + std::to_string(width) + " x " +
                  std::to_string(height));
  const int lineNeeded = (width * bits + 7) / 8;
  if (bytesPerLine < lineNeeded)
    throw Invalid("Invalid PCX line length: " + std::to_string(bytesPerLine) + " (at least " +
                  std::to_string(lineNeeded) + ")");
  const bool rgb = layout == Layout::Rgb;
  CheckPictureSize(width, height, rgb ? 32 : 8, "PCX");

  QList<QRgb> colors;
  int64_t dataEnd = size;
  bool trailingTable = false;
  switch (layout) {
  case Layout::Mono:
    colors = HeaderColors(bytes + 16, 2, version, BlackAndWhite);
    break;
  case Layout::Planes16:
  case Layout::Packed16:
    colors = HeaderColors(bytes + 16, 16, version, EgaColors);
    break;
  case Layout::Indexed256:
    if (size >= HeaderSize + TrailingPaletteSize &&
        bytes[size - TrailingPaletteSize] == PaletteMarker) {
      dataEnd = size - TrailingPaletteSize;
      trailingTable = true;
      const uint8_t *table = bytes + dataEnd + 1;
      for (int i = 0; i < 256; ++i)
        colors.append(qRgb(table[3 * i], table[3 * i + 1], table[3 * i + 2]));
    } else {
      for (int i = 0; i < 256; ++i)
        colors.append(qRgb(i, i, i));
    }
    break;
  case Layout::Rgb:
    break;
  }

  QImage image(width, height, rgb ? QImage::Format_RGB32 : QImage::Format_Indexed8);
  if (image.isNull()) throw EOutOfMemory("Out of memory");
  if (!rgb) image.setColorTable(colors);
  RunReader runs(bytes + HeaderSize, bytes + dataEnd, encoding == 1);
  std::vector<uint8_t> line(size_t(bytesPerLine) * size_t(planes));
  for (int y = 0; y < height; ++y) {
    for (uint8_t &b : line)
      b = runs.Next();
    uchar *out = image.scanLine(y);
    const uint8_t *in = line.data();
    switch (layout) {
    case Layout::Mono:
      for (int x = 0; x < width; ++x)
        out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
      break;
    case Layout::Planes16:
      for (int x = 0; x < width; ++x) {
        uint8_t index = 0;
        for (int p = 0; p < 4; ++p)
          index |= uint8_t(((in[p * bytesPerLine + (x >> 3)] >> (7 - (x & 7))) & 1) << p);
        out[x] = index;
      }
      break;
    case Layout::Packed16:
      for (int x = 0; x < width; ++x)
        out[x] = (x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4);
      break;
    case Layout::Indexed256:
      std::copy(in, in + width, out);
      break;
    case Layout::Rgb: {
      auto *rgbOut = reinterpret_cast<QRgb *>(out);
      for (int x = 0; x < width; ++x)
        rgbOut[x] = qRgb(in[x], in[bytesPerLine + x], in[2 * bytesPerLine + x]);
      break;
    }
    }
  }
  // A table that was begun after the pixels but not finished: the file was cut there.
  if (layout == Layout::Indexed256 && !trailingTable) {
    const uint8_t *rest = runs.Position();
    if (rest < bytes + size && *rest == PaletteMarker && bytes + size - rest < TrailingPaletteSize)
      throw Invalid("PCX colour table is truncated");
  }
  return image;
}

std::vector<uint8_t> EncodePCX(const QImage &image) {
  if (image.isNull()) throw EInvalidGraphicOperation("Cannot save an empty bitmap");
  const int width = image.width(), height = image.height();
  if (width > 0xFFFF || height > 0x10000)
    throw EInvalidGraphicOperation("PCX pictures are limited to 65535 x 65536 pixels");
  // Lines of whole 16-bit words, as readers expect, but for the widest picture.
  const int bytesPerLine = std::min((width + 1) & ~1, 0xFFFF);
  const bool indexed = image.format() == QImage::Format_Indexed8;
  const QImage source = indexed ? image : image.convertToFormat(QImage::Format_RGB32);
  QList<QRgb> colors = indexed ? source.colorTable() : QList<QRgb>();
  colors.resize(256, qRgb(0, 0, 0));
  const int planes = indexed ? 1 : 3;

  std::vector<uint8_t> out = {0x0A, 5, 1, 8};
  PutLE16(out, 0);
  PutLE16(out, 0);
  PutLE16(out, width - 1);
  PutLE16(out, height - 1);
  PutLE16(out, 72);
  PutLE16(out, 72);
  for (int i = 0; i < 16; ++i)
    out.insert(out.end(),
               {uint8_t(qRed(colors[i])), uint8_t(qGreen(colors[i])), uint8_t(qBlue(colors[i]))});
  out.push_back(0);
  out.push_back(uint8_t(planes));
  PutLE16(out, bytesPerLine);
  PutLE16(out, 1); // colour
  out.resize(HeaderSize, 0);

  std::vector<uint8_t> line(size_t(bytesPerLine), 0);
  for (int y = 0; y < height; ++y) {
    const uchar *row = source.constScanLine(y);
    for (int p = 0; p < planes; ++p) {
      if (indexed) {
        std::copy(row, row + width, line.begin());
      } else {
        const auto *pixels = reinterpret_cast<const QRgb *>(row);
        for (int x = 0; x < width; ++x)
          line[size_t(x)] = uint8_t(p == 0   ? qRed(pixels[x])
                                    : p == 1 ? qGreen(pixels[x])
                                             : qBlue(pixels[x]));
      }
      PutRuns(out, line.data(), bytesPerLine);
    }
  }
  if (indexed) {
    out.push_back(PaletteMarker);
    for (QRgb c : colors)
      out.insert(out.end(), {uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
  }
  return out;
}

TPCXImage::TPCXImage() = default;

void TPCXImage::LoadFromStream(TStream &stream) {
  TMemoryStream data;
  data.CopyRest(stream);
  Assign(DecodePCX(data));
}

void TPCXImage::SaveToStream(TStream &stream) const {
  const std::vector<uint8_t> bytes = EncodePCX(Image());
  stream.WriteBuffer(bytes.data(), bytes.size());
}

} // namespace plm
