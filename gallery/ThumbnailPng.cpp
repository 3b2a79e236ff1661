#include "gallery/ThumbnailPng.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace plm {

namespace {

// Thumbnails are at most 1024 pixels a side ("xx-large"); bigger pictures go to the
// general reader, which has its own limits.
constexpr uint32_t kMaxSide = 1024;
// The longest text value read from a compressed key.
constexpr size_t kMaxText = 1u << 20;

const unsigned char kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

uint32_t BigEndian32(const unsigned char *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

struct DecompressorDeleter {
  void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};
using Decompressor = std::unique_ptr<libdeflate_decompressor, DecompressorDeleter>;

// A zlib stream of a text key, at most kMaxText bytes once inflated; false when damaged or
// longer.
bool InflateText(libdeflate_decompressor *d, const unsigned char *in, size_t size, std::string &out) {
  for (size_t room = std::max<size_t>(256, size * 4);; room *= 4) {
    room = std::min(room, kMaxText);
    out.resize(room);
    size_t got = 0;
    const libdeflate_result r = libdeflate_zlib_decompress(d, in, size, out.data(), room, &got);
    if (r == LIBDEFLATE_SUCCESS) {
      out.resize(got);
      return true;
    }
    if (r != LIBDEFLATE_INSUFFICIENT_SPACE || room == kMaxText) return false;
  }
}

using TextKeys = std::vector<std::pair<QString, QString>>;

// One text chunk's key and value; false when the chunk is damaged.
bool ReadText(libdeflate_decompressor *d, const char type[4], const unsigned char *body,
              size_t size, TextKeys &keys) {
  const auto *nul = static_cast<const unsigned char *>(std::memchr(body, 0, size));
  if (!nul || nul == body) return false;
  const QString key = QString::fromLatin1(reinterpret_cast<const char *>(body), int(nul - body));
  const unsigned char *p = nul + 1, *end = body + size;
  std::string text;
  bool utf8 = false;
  if (std::memcmp(type, "tEXt", 4) == 0) {
    text.assign(p, end);
  } else if (std::memcmp(type, "zTXt", 4) == 0) {
    if (p == end || *p != 0 || !InflateText(d, p + 1, size_t(end - p - 1), text)) return false;
  } else { // iTXt: compressed flag, method, language, translated key, text
    if (end - p < 2) return false;
    const bool compressed = p[0] != 0;
    p += 2;
    for (int skip = 0; skip < 2; ++skip) {
      const auto *z = static_cast<const unsigned char *>(std::memchr(p, 0, size_t(end - p)));
      if (!z) return false;
      p = z + 1;
    }
    if (compressed) {
      if (!InflateText(d, p, size_t(end - p), text)) return false;
    } else {
      text.assign(p, end);
    }
    utf8 = true;
  }
  keys.emplace_back(key, utf8 ? QString::fromUtf8(text.data(), int(text.size()))
                              : QString::fromLatin1(text.data(), int(text.size())));
  return true;
}

unsigned char Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes the row's filter in place, prev being the row above, already undone (zeros for
// the first). False for an unknown filter.
bool Unfilter(int filter, unsigned char *row, const unsigned char *prev, size_t bytes, size_t bpp) {
  switch (filter) {
  case 0: return true;
  case 1:
    for (size_t i = bpp; i < bytes; ++i) row[i] = static_cast<unsigned char>(row[i] + row[i - bpp]);
    return true;
  case 2:
    for (size_t i = 0; i < bytes; ++i) row[i] = static_cast<unsigned char>(row[i] + prev[i]);
    return true;
  case 3:
    for (size_t i = 0; i < bpp; ++i) row[i] = static_cast<unsigned char>(row[i] + (prev[i] >> 1));
    for (size_t i = bpp; i < bytes; ++i)
      row[i] = static_cast<unsigned char>(row[i] + ((row[i - bpp] + prev[i]) >> 1));
    return true;
  case 4:
    for (size_t i = 0; i < bpp; ++i) row[i] = static_cast<unsigned char>(row[i] + prev[i]);
    for (size_t i = bpp; i < bytes; ++i)
      row[i] = static_cast<unsigned char>(row[i] + Paeth(row[i - bpp], prev[i], prev[i - bpp]));
    return true;
  default: return false;
  }
}

} // namespace

PngRead ReadThumbnailPng(const char *data, size_t size, QImage &picture) {
  picture = QImage();
  const auto *bytes = reinterpret_cast<const unsigned char *>(data);
  if (size < sizeof kSignature || std::memcmp(bytes, kSignature, sizeof kSignature) != 0)
    return PngRead::Damaged;
  Decompressor inflater(libdeflate_alloc_decompressor());
  if (!inflater) return PngRead::Unsupported; // no memory: the general reader may still do
  uint32_t width = 0, height = 0;
  bool alpha = false, ended = false;
  std::vector<unsigned char> compressed;
  TextKeys keys;
  for (size_t pos = sizeof kSignature; !ended;) {
    if (size - pos < 12) return PngRead::Damaged;
    const uint32_t length = BigEndian32(bytes + pos);
    if (length > size - pos - 12) return PngRead::Damaged;
    const char *type = reinterpret_cast<const char *>(bytes + pos + 4);
    const unsigned char *body = bytes + pos + 8;
    if (libdeflate_crc32(0, bytes + pos + 4, size_t(length) + 4) != BigEndian32(body + length))
      return PngRead::Damaged;
    const bool first = pos == sizeof kSignature;
    pos += size_t(length) + 12;
    if (first != (std::memcmp(type, "IHDR", 4) == 0)) return PngRead::Damaged;
    if (first) {
      if (length != 13) return PngRead::Damaged;
      width = BigEndian32(body);
      height = BigEndian32(body + 4);
      if (width == 0 || height == 0) return PngRead::Damaged;
      const bool eightBitColour = body[8] == 8 && (body[9] == 2 || body[9] == 6);
      if (!eightBitColour || body[10] != 0 || body[11] != 0 || body[12] != 0 || width > kMaxSide ||
          height > kMaxSide)
        return PngRead::Unsupported;
      alpha = body[9] == 6;
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      compressed.insert(compressed.end(), body, body + length);
    } else if (std::memcmp(type, "IEND", 4) == 0) {
      ended = true;
    } else if (std::memcmp(type, "tEXt", 4) == 0 || std::memcmp(type, "zTXt", 4) == 0 ||
               std::memcmp(type, "iTXt", 4) == 0) {
      if (!ReadText(inflater.get(), type, body, length, keys)) return PngRead::Damaged;
    } else if (std::memcmp(type, "tRNS", 4) == 0) {
      return PngRead::Unsupported; // a transparent colour: the general reader makes it alpha
    } else if (!(type[0] & 0x20) && std::memcmp(type, "PLTE", 4) != 0) {
      return PngRead::Unsupported; // a critical chunk unknown here
    }
  }
  if (compressed.empty()) return PngRead::Damaged;

  const size_t bpp = alpha ? 4 : 3, rowBytes = size_t(width) * bpp;
  std::vector<unsigned char> raw(size_t(height) * (rowBytes + 1));
  if (libdeflate_zlib_decompress(inflater.get(), compressed.data(), compressed.size(), raw.data(),
                                 raw.size(), nullptr) != LIBDEFLATE_SUCCESS)
    return PngRead::Damaged;
  QImage image(int(width), int(height), alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  if (image.isNull()) return PngRead::Unsupported;
  const std::vector<unsigned char> zeros(rowBytes, 0);
  const unsigned char *prev = zeros.data();
  for (uint32_t y = 0; y < height; ++y) {
    unsigned char *row = raw.data() + size_t(y) * (rowBytes + 1) + 1; // after its filter byte
    if (!Unfilter(row[-1], row, prev, rowBytes, bpp)) return PngRead::Damaged;
    auto *out = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
    for (uint32_t x = 0; x < width; ++x) {
      const unsigned char *px = row + size_t(x) * bpp;
      out[x] = qRgba(px[0], px[1], px[2], alpha ? px[3] : 255);
    }
    prev = row;
  }
  for (const auto &[key, value] : keys) image.setText(key, value);
  picture = std::move(image);
  return PngRead::Done;
}

} // namespace plm
