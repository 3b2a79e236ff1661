// The image header inspector on headers written byte by byte.
#include "TestUtil.h"

#include "imaging/DCImageInfo.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace plm;

namespace {

using Bytes = std::vector<uint8_t>;

struct Info {
  int type, width, height, depth;
  bool operator==(const Info &) const = default;
};
std::ostream &operator<<(std::ostream &o, const Info &i) {
  return o << "{type " << i.type << ", " << i.width << " x " << i.height << ", depth " << i.depth
           << "}";
}

class ImageInfo : public ::testing::Test {
protected:
  std::string Write(const Bytes &b, const std::string &name = "pic") {
    const std::string path = fDir.Path(name);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
    return path;
  }
  Info Read(const Bytes &b) {
    TDCImageInfo info;
    info.ReadInfo(Write(b));
    EXPECT_EQ(info.FileSize, int64_t(b.size()));
    return {info.ImageType, info.Width, info.Height, info.Depth};
  }
  testutil::TempDir fDir;
};

void Put16LE(Bytes &b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32LE(Bytes &b, size_t at, uint32_t v) {
  Put16LE(b, at, v & 0xFFFF);
  Put16LE(b, at + 2, v >> 16);
}
void Put16BE(Bytes &b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}
void Put32BE(Bytes &b, size_t at, uint32_t v) {
  Put16BE(b, at, v >> 16);
  Put16BE(b, at + 2, v & 0xFFFF);
}

Bytes Png(uint32_t w, uint32_t h, uint8_t bitDepth, uint8_t colourType) {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  Put32BE(b, 16, w);
  Put32BE(b, 20, h);
  b.push_back(bitDepth);
  b.push_back(colourType);
  b.insert(b.end(), {0, 0, 0, 0x12, 0x34, 0x56, 0x78});
  return b;
}

Bytes Gif(uint16_t w, uint16_t h, uint8_t flags) {
  Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
  Put16LE(b, 6, w);
  Put16LE(b, 8, h);
  b.push_back(flags);
  b.insert(b.end(), {0, 0, 0x3B});
  return b;
}

Bytes Bmp(int32_t w, int32_t h, uint16_t bpp) {
  Bytes b(54, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32LE(b, 2, 54);
  Put32LE(b, 14, 40);
  Put32LE(b, 18, uint32_t(w));
  Put32LE(b, 22, uint32_t(h));
  Put16LE(b, 26, 1);
  Put16LE(b, 28, bpp);
  return b;
}

Bytes Pcx(uint16_t xmin, uint16_t ymin, uint16_t xmax, uint16_t ymax, uint8_t bits,
          uint8_t planes) {
  Bytes b(128, 0);
  b[0] = 0x0A;
  b[1] = 5;
  b[2] = 1;
  b[3] = bits;
  Put16LE(b, 4, xmin);
  Put16LE(b, 6, ymin);
  Put16LE(b, 8, xmax);
  Put16LE(b, 10, ymax);
  b[65] = planes;
  return b;
}

struct TiffEntry {
  uint16_t tag, type;
  uint32_t count, value; // value as the 32-bit value field (a short sits in its first bytes)
};

Bytes Tiff(bool bigEndian, const std::vector<TiffEntry> &entries) {
  Bytes b = bigEndian ? Bytes{'M', 'M', 0, 0x2A} : Bytes{'I', 'I', 0x2A, 0};
  auto p16 = bigEndian ? Put16BE : Put16LE;
  auto p32 = bigEndian ? Put32BE : Put32LE;
  p32(b, 4, 8);
  p16(b, 8, uint16_t(entries.size()));
  size_t e = 10;
  for (const TiffEntry &t : entries) {
    p16(b, e, t.tag);
    p16(b, e + 2, t.type);
    p32(b, e + 4, t.count);
    if (t.type == 3 && t.count == 1)
      p16(b, e + 8, uint16_t(t.value)), p16(b, e + 10, 0);
    else if (t.type == 1 && t.count == 1)
      b.resize(std::max(b.size(), e + 12)), b[e + 8] = uint8_t(t.value);
    else
      p32(b, e + 8, t.value);
    e += 12;
  }
  p32(b, e, 0); // no next directory
  return b;
}

// SOI, an APP0 segment, then a frame header of the given marker.
Bytes Jpeg(uint8_t marker, uint16_t w, uint16_t h, uint8_t components) {
  Bytes b = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  b.insert(b.end(), {0xFF, marker, 0x00, uint8_t(8 + 3 * components), 8});
  Put16BE(b, b.size(), h);
  Put16BE(b, b.size(), w);
  b.push_back(components);
  for (int i = 0; i < components; ++i)
    b.insert(b.end(), {uint8_t(i + 1), 0x11, 0});
  b.insert(b.end(), {0xFF, 0xD9});
  return b;
}

} // namespace

TEST_F(ImageInfo, PngDepthByColourTypeAndLowHalfOfTheSize) {
  EXPECT_EQ(Read(Png(640, 480, 8, 2)), (Info{3, 640, 480, 24}));
  EXPECT_EQ(Read(Png(640, 480, 8, 6)), (Info{3, 640, 480, 32}));
  EXPECT_EQ(Read(Png(16, 16, 4, 3)), (Info{3, 16, 16, 8}));
  EXPECT_EQ(Read(Png(16, 16, 16, 0)), (Info{3, 16, 16, 16}));
  EXPECT_EQ(Read(Png(16, 16, 8, 4)), (Info{3, 16, 16, 16}));
  EXPECT_EQ(Read(Png(0x12345, 0x10002, 8, 2)), (Info{3, 0x2345, 2, 24}));
}

TEST_F(ImageInfo, PngWithAnUnknownColourTypeFallsToTheJpegScan) {
  EXPECT_EQ(Read(Png(640, 480, 8, 1)), (Info{0, 0, 0, 0}));
  Bytes b = Png(640, 480, 8, 5);
  const Bytes j = Jpeg(0xC0, 33, 44, 3);
  b.insert(b.end(), j.begin(), j.end());
  EXPECT_EQ(Read(b), (Info{2, 33, 44, 24}));
}

TEST_F(ImageInfo, GifDepthFromTheLowBitsOfTheFlags) {
  EXPECT_EQ(Read(Gif(120, 60, 0xF7)), (Info{1, 120, 60, 8}));
  EXPECT_EQ(Read(Gif(120, 60, 0x00)), (Info{1, 120, 60, 1}));
  EXPECT_EQ(Read(Gif(120, 60, 0x80)), (Info{1, 120, 60, 1}));
  EXPECT_EQ(Read(Gif(65535, 1, 0x03)), (Info{1, 65535, 1, 4}));
}

TEST_F(ImageInfo, BmpLowHalvesOfTheSizeFields) {
  EXPECT_EQ(Read(Bmp(33, 21, 24)), (Info{4, 33, 21, 24}));
  EXPECT_EQ(Read(Bmp(100, -100, 8)), (Info{4, 100, 65436, 8})); // top-down
  EXPECT_EQ(Read(Bmp(70000, 3, 32)), (Info{4, 70000 & 0xFFFF, 3, 32}));
}

TEST_F(ImageInfo, PcxSizeFromTheWindowAndDepthFromThePlanes) {
  EXPECT_EQ(Read(Pcx(0, 0, 99, 49, 8, 1)), (Info{5, 100, 50, 8}));
  EXPECT_EQ(Read(Pcx(10, 20, 109, 20, 8, 3)), (Info{5, 100, 1, 24}));
  EXPECT_EQ(Read(Pcx(10, 0, 5, 0, 1, 4)), (Info{5, -4, 1, 4})); // signed arithmetic
}

TEST_F(ImageInfo, TiffLittleEndian) {
  EXPECT_EQ(Read(Tiff(false, {{256, 3, 1, 300}, {257, 4, 1, 200}, {258, 3, 1, 8}})),
            (Info{6, 300, 200, 8}));
  // Three samples: the value field holds an offset, whose low 16 bits are reported.
  EXPECT_EQ(Read(Tiff(false, {{256, 4, 1, 10}, {257, 3, 1, 20}, {258, 3, 3, 0x0001002A}})),
            (Info{6, 10, 20, 42}));
  // Byte values, unknown tags passed over, a later entry overwriting an earlier one.
  EXPECT_EQ(
      Read(Tiff(false,
                {{256, 1, 1, 7}, {300, 3, 1, 5}, {257, 1, 1, 9}, {258, 1, 1, 1}, {256, 3, 1, 77}})),
      (Info{6, 77, 9, 1}));
}

TEST_F(ImageInfo, TiffBigEndian) {
  EXPECT_EQ(Read(Tiff(true, {{256, 3, 1, 640}, {257, 4, 1, 70000}, {258, 3, 1, 16}})),
            (Info{6, 640, 70000, 16}));
}

TEST_F(ImageInfo, TiffWithoutAPositiveSizeOrDepthIsCleared) {
  EXPECT_EQ(Read(Tiff(false, {{256, 3, 1, 300}, {257, 3, 1, 200}})), (Info{0, 0, 0, 0}));
  EXPECT_EQ(Read(Tiff(false, {{256, 5, 1, 300}, {257, 3, 1, 200}, {258, 3, 1, 8}})),
            (Info{0, 0, 0, 0}));
  EXPECT_EQ(Read(Tiff(false, {{256, 4, 1, 0x80000000u}, {257, 3, 1, 200}, {258, 3, 1, 8}})),
            (Info{0, 0, 0, 0}));
  // Cleared, then scanned as JPEG.
  Bytes b = Tiff(false, {{256, 3, 1, 300}, {257, 3, 1, 200}});
  const Bytes j = Jpeg(0xC0, 5, 6, 1);
  b.insert(b.end(), j.begin(), j.end());
  EXPECT_EQ(Read(b), (Info{2, 5, 6, 8}));
}

TEST_F(ImageInfo, JpegFrameHeadersAfterOtherSegments) {
  EXPECT_EQ(Read(Jpeg(0xC0, 800, 600, 3)), (Info{2, 800, 600, 24}));
  EXPECT_EQ(Read(Jpeg(0xC0, 800, 600, 1)), (Info{2, 800, 600, 8}));
  EXPECT_EQ(Read(Jpeg(0xC2, 17, 9, 3)), (Info{2, 17, 9, 24}));
  EXPECT_EQ(Read(Jpeg(0xC1, 1, 2, 4)), (Info{2, 1, 2, 32}));
  // A frame header of another kind (C5) is skipped like any segment.
  Bytes b = {0xFF, 0xD8, 0xFF, 0xC5, 0x00, 0x0B, 8, 0, 99, 0, 99, 1, 1, 0x11, 0};
  const Bytes j = Jpeg(0xC3, 70, 80, 3);
  b.insert(b.end(), j.begin() + 2, j.end()); // from its APP0 on
  EXPECT_EQ(Read(b), (Info{2, 70, 80, 24}));
  // The signature may stand anywhere: the scan starts at the first FF D8 FF.
  Bytes junk(1000, 0x41);
  junk.insert(junk.end(), j.begin(), j.end());
  EXPECT_EQ(Read(junk), (Info{2, 70, 80, 24}));
}

TEST_F(ImageInfo, JpegSegmentOfLengthZeroDoesNotStopTheScan) {
  // A zero length would leave the scan in place for ever.
  Bytes b = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x00, 0xFF, 0xC0,
             0x00, 0x11, 8,    0x00, 0x20, 0x00, 0x40, 3};
  b.resize(40, 0);
  EXPECT_EQ(Read(b), (Info{2, 64, 32, 24}));
}

TEST_F(ImageInfo, HeadersCutShortAreUnknown) {
  // Each cut just before the last byte its reader needs.
  const Bytes gif = Gif(1, 2, 0);
  EXPECT_EQ(Read(Bytes(gif.begin(), gif.begin() + 10)), (Info{0, 0, 0, 0}));
  auto head = [](const Bytes &b, size_t n) { return Bytes(b.begin(), b.begin() + long(n)); };
  EXPECT_EQ(Read(head(Png(1, 1, 8, 2), 25)), (Info{0, 0, 0, 0}));
  EXPECT_EQ(Read(head(Bmp(1, 1, 8), 28)), (Info{0, 0, 0, 0}));
  EXPECT_EQ(Read(head(Pcx(0, 0, 1, 1, 8, 1), 65)), (Info{0, 0, 0, 0}));
  const Bytes jpeg = Jpeg(0xC0, 9, 9, 3);
  EXPECT_EQ(Read(head(jpeg, 29)), (Info{0, 0, 0, 0}));
  // The TIFF directory past the end of the file.
  Bytes t = Tiff(false, {{256, 3, 1, 3}});
  Put32LE(t, 4, 5000);
  EXPECT_EQ(Read(t), (Info{0, 0, 0, 0}));
}

TEST_F(ImageInfo, OtherFilesAreUnknownWithTheirTrueSize) {
  const std::string text = "Bonjour, ceci n'est pas une image.\n";
  EXPECT_EQ(Read(Bytes(text.begin(), text.end())), (Info{0, 0, 0, 0}));
  EXPECT_EQ(Read(Bytes{'G', 'I'}), (Info{0, 0, 0, 0}));
  EXPECT_EQ(Read(Bytes{}), (Info{0, 0, 0, 0}));
  // A large file of an unknown kind is scanned to its end, through a buffer.
  EXPECT_EQ(Read(Bytes(4 << 20, 0xFF)), (Info{0, 0, 0, 0}));
}

TEST_F(ImageInfo, FilesThatCannotBeOpenedKeepTheSize) {
  TDCImageInfo info;
  info.ReadInfo(Write(Gif(5, 6, 0)));
  EXPECT_EQ(info.ImageType, 1);
  info.ReadInfo(fDir.Path("missing"));
  EXPECT_EQ(info.ImageType, 0);
  EXPECT_EQ(info.Width, 0);
  EXPECT_EQ(info.FileSize, 14); // unchanged
  info.ReadInfo(fDir.Root());   // a folder
  EXPECT_EQ(info.ImageType, 0);
  EXPECT_EQ(info.FileSize, 14);
  info.Width = 4;
  info.ClearInfo();
  EXPECT_EQ(info.Width, 0);
  EXPECT_EQ(info.FileSize, 14);
}

TEST(ImageInfoText, TheFiveLines) {
  TDCImageInfo info;
  info.ImageType = 1;
  info.Width = 120;
  info.Height = 60;
  info.Depth = 8;
  info.FileSize = 2345;
  EXPECT_EQ(ImageInfoText(info),
            "Image Type: GIF\r\nWidth:120\r\nHeight:60\r\nDepth:8\r\nFile Size:2345 octets");
  info.ImageType = 6;
  EXPECT_EQ(ImageInfoText(info, "|").substr(0, 17), "Image Type: TIFF|");
  info.ImageType = 9;
  EXPECT_EQ(ImageInfoText(info, "|").substr(0, 21), "Image Type Undefined|");
}
