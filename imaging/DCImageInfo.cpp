#include "imaging/DCImageInfo.h"

#include "platform/graphics/Streams.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace plm {

namespace {

struct PictureType {
  const char *name;
  const char *mimeType;
};

// By type code: the types the inspector tells from a picture's first bytes.
constexpr PictureType kPictureTypes[] = {{"", nullptr},           {"GIF", "image/gif"},
                                         {"JPEG", "image/jpeg"},  {"PNG", "image/png"},
                                         {"BMP", "image/bmp"},    {"PCX", "image/x-pcx"},
                                         {"TIFF", "image/tiff"}};

} // namespace

const char *PictureTypeName(uint8_t imageType) {
  return imageType < std::size(kPictureTypes) ? kPictureTypes[imageType].name : "";
}

const char *PictureMimeType(uint8_t imageType) {
  return imageType < std::size(kPictureTypes) ? kPictureTypes[imageType].mimeType : nullptr;
}

namespace {

// Raised by the reader when a value lies (partly) past the end of the file.
struct PastEnd {};

// Positioned reads through one buffer, so that header readers and the byte-wise JPEG scan
// cost a read call per block instead of one per byte. Never reads past the file.
class PositionedReader {
public:
  PositionedReader(TStream &stream, int64_t size) : fStream(stream), fSize(size) {}

  uint8_t Byte(int64_t pos) {
    if (pos < fStart || pos >= fStart + fLength) Fill(pos);
    return fBuffer[pos - fStart];
  }
  uint16_t LE16(int64_t pos) { return uint16_t(Byte(pos) | (Byte(pos + 1) << 8)); }
  uint16_t BE16(int64_t pos) { return uint16_t((Byte(pos) << 8) | Byte(pos + 1)); }
  uint32_t LE32(int64_t pos) { return uint32_t(LE16(pos)) | (uint32_t(LE16(pos + 2)) << 16); }
  uint32_t BE32(int64_t pos) { return (uint32_t(BE16(pos)) << 16) | uint32_t(BE16(pos + 2)); }
  int64_t Size() const { return fSize; }
  // The first position at or after from holding value; PastEnd when there is none.
  int64_t Find(int64_t from, uint8_t value) {
    for (int64_t pos = from;;) {
      if (pos < fStart || pos >= fStart + fLength) Fill(pos);
      const uint8_t *start = fBuffer + (pos - fStart);
      const size_t left = static_cast<size_t>(fStart + fLength - pos);
      if (const void *hit = std::memchr(start, value, left))
        return pos + (static_cast<const uint8_t *>(hit) - start);
      pos += static_cast<int64_t>(left);
    }
  }

private:
  void Fill(int64_t pos) {
    if (pos < 0 || pos >= fSize) throw PastEnd();
    const int64_t want = std::min<int64_t>(sizeof fBuffer, fSize - pos);
    const size_t got = fStream.ReadAt(pos, fBuffer, static_cast<size_t>(want));
    if (got == 0) throw PastEnd();
    fStart = pos;
    fLength = static_cast<int64_t>(got);
  }

  TStream &fStream;
  int64_t fSize;
  int64_t fStart = 0, fLength = 0;
  uint8_t fBuffer[16384];
};

class Inspector {
public:
  Inspector(TDCImageInfo &info, PositionedReader &r) : fInfo(info), fR(r) {}

  void ReadPNG() {
    fInfo.ImageType = itPNGCode;
    const int32_t bitDepth = fR.Byte(24);
    switch (fR.Byte(25)) {
    case 0:
      fInfo.Depth = bitDepth;
      break;
    case 2:
      fInfo.Depth = bitDepth * 3;
      break;
    case 3:
      fInfo.Depth = 8;
      break;
    case 4:
      fInfo.Depth = bitDepth * 2;
      break;
    case 6:
      fInfo.Depth = bitDepth * 4;
      break;
    default:
      fInfo.ImageType = itUnknownCode;
      return;
    }
    fInfo.Width = fR.BE16(18);
    fInfo.Height = fR.BE16(22);
  }

  void ReadGIF() {
    fInfo.ImageType = itGIFCode;
    fInfo.Width = fR.LE16(6);
    fInfo.Height = fR.LE16(8);
    fInfo.Depth = (fR.Byte(10) & 7) + 1;
  }

  void ReadBMP() {
    fInfo.ImageType = itBMPCode;
    fInfo.Width = fR.LE16(18);
    fInfo.Height = fR.LE16(22);
    fInfo.Depth = fR.Byte(28);
  }

  void ReadPCX() {
    fInfo.ImageType = itPCXCode;
    const int32_t bits = fR.Byte(3);
    const int32_t xmin = fR.LE16(4), ymin = fR.LE16(6), xmax = fR.LE16(8), ymax = fR.LE16(10);
    const int32_t planes = fR.Byte(65);
    fInfo.Width = xmax - xmin + 1;
    fInfo.Height = ymax - ymin + 1;
    fInfo.Depth = bits * planes;
  }

  void ReadTIFF(bool bigEndian) {
    auto u16 = [&](int64_t p) { return bigEndian ? fR.BE16(p) : fR.LE16(p); };
    auto u32 = [&](int64_t p) { return bigEndian ? fR.BE32(p) : fR.LE32(p); };
    fInfo.ImageType = itTIFFCode;
    const int64_t dir = u32(4);
    const int count = u16(dir);
    for (int i = 0; i < count; ++i) {
      const int64_t e = dir + 2 + 12 * int64_t(i);
      int32_t *target = nullptr;
      switch (u16(e)) {
      case 256:
        target = &fInfo.Width;
        break;
      case 257:
        target = &fInfo.Height;
        break;
      case 258:
        target = &fInfo.Depth;
        break;
      default:
        continue;
      }
      // The count field is not read: a value kept elsewhere yields the first bytes of
      // the value field (its offset).
      switch (u16(e + 2)) {
      case 1:
        *target = fR.Byte(e + 8);
        break;
      case 3:
        *target = u16(e + 8);
        break;
      case 4:
        *target = static_cast<int32_t>(u32(e + 8));
        break;
      default:
        *target = 0;
        break;
      }
    }
    if (fInfo.Width <= 0 || fInfo.Height <= 0 || fInfo.Depth <= 0) fInfo.ClearInfo();
  }

  void ScanJPEG() {
    const int64_t size = fR.Size();
    int64_t p = 0;
    for (;; ++p) {
      p = fR.Find(p, 0xFF);
      if (p + 2 >= size) throw PastEnd();
      if (fR.Byte(p + 1) == 0xD8 && fR.Byte(p + 2) == 0xFF) break;
    }
    ++p;
    for (;;) {
      const uint8_t b0 = fR.Byte(p), b1 = fR.Byte(p + 1);
      if (b0 != 0xFF || b1 == 0xFF) {
        ++p;
        continue;
      }
      if (b1 >= 0xC0 && b1 <= 0xC3) break;
      // A segment length below 1 would leave p in place for ever; step over it instead.
      p += std::max<int64_t>(fR.BE16(p + 2), 1);
    }
    fInfo.ImageType = itJPEGCode;
    fInfo.Height = fR.BE16(p + 5);
    fInfo.Width = fR.BE16(p + 7);
    fInfo.Depth = fR.Byte(p + 9) * 8;
  }

  // Runs one reader; a read past the end (or any other failure) clears the result.
  template <class F> void Guarded(F reader) {
    try {
      reader();
    } catch (...) {
      fInfo.ClearInfo();
    }
  }

private:
  TDCImageInfo &fInfo;
  PositionedReader &fR;
};

} // namespace

void TDCImageInfo::ClearInfo() {
  ImageType = 0;
  Width = 0;
  Height = 0;
  Depth = 0;
}

void TDCImageInfo::ReadInfo(const std::string &fileName) {
  ClearInfo();
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(fileName, fmOpenRead);
  } catch (...) {
    return;
  }
  ReadInfo(*file);
}

void TDCImageInfo::ReadInfo(TStream &stream) {
  ClearInfo();
  try {
    const int64_t size = stream.Size();
    if (size < 0) return;
    FileSize = size;
    PositionedReader r(stream, size);
    uint8_t b0, b1, b2;
    try {
      b0 = r.Byte(0);
      b1 = r.Byte(1);
      b2 = r.Byte(2);
    } catch (...) {
      return;
    }
    Inspector in(*this, r);
    if (b0 == 0x89 && b1 == 'P' && b2 == 'N') in.Guarded([&] { in.ReadPNG(); });
    if (b0 == 'G' && b1 == 'I' && b2 == 'F') in.Guarded([&] { in.ReadGIF(); });
    if (b0 == 'B' && b1 == 'M') in.Guarded([&] { in.ReadBMP(); });
    if (b0 == 0x0A) in.Guarded([&] { in.ReadPCX(); });
    if (b0 == 'I' && b1 == 'I' && b2 == 0x2A) in.Guarded([&] { in.ReadTIFF(false); });
    if (b0 == 'M' && b1 == 'M' && b2 == 0x00) in.Guarded([&] { in.ReadTIFF(true); });
    if (ImageType == 0) in.Guarded([&] { in.ScanJPEG(); });
  } catch (...) {
    ClearInfo();
  }
}

std::string ImageInfoText(const TDCImageInfo &info, const std::string &separator) {
  static const char *const kTypes[] = {
      "Image Type Undefined", "Image Type: GIF", "Image Type: JPEG", "Image Type: PNG",
      "Image Type: BMP",      "Image Type: PCX", "Image Type: TIFF"};
  std::string s = info.ImageType <= 6 ? kTypes[info.ImageType] : kTypes[0];
  s += separator + "Width:" + std::to_string(info.Width);
  s += separator + "Height:" + std::to_string(info.Height);
  s += separator + "Depth:" + std::to_string(info.Depth);
  s += separator + "File Size:" + std::to_string(info.FileSize) + " octets";
  return s;
}

} // namespace plm
