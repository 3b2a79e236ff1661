// PCX pictures: every layout decoded to its pixels, from files written by hand and by netpbm
// and ImageMagick; damaged files refused with clear errors; saved pictures read back the same,
// by the program and by netpbm.
#include "GifFixtures.h"
#include "PcxFixtures.h"
#include "TestUtil.h"

#include "imaging/PictureClasses.h"
#include "imaging/PCXImage.h"
#include "platform/Exceptions.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/graphics/Streams.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace plm;

namespace {

// n distinct opaque colours.
std::vector<QRgb> Colours(int n, uint32_t seed) {
  std::vector<QRgb> c;
  for (int i = 0; i < n; ++i)
    c.push_back(qRgb((i * 37 + int(seed)) & 0xFF, (i * 11 + 90) & 0xFF, (255 - i) & 0xFF));
  return c;
}

QImage Decode(const std::vector<uint8_t> &bytes) {
  TMemoryStream m(bytes);
  return DecodePCX(m);
}

std::string ErrorOf(const std::vector<uint8_t> &bytes) {
  try {
    Decode(bytes);
  } catch (const EInvalidGraphic &e) {
    return e.what();
  } catch (const std::exception &e) {
    return std::string("wrong kind: ") + e.what();
  }
  return "no error";
}

// The colour every pixel should have: through the lookup table, or the value itself.
std::vector<QRgb> Expected(const fixtures::Pcx &pcx, const std::vector<QRgb> &lookup) {
  std::vector<QRgb> v;
  for (uint32_t p : pcx.pixels)
    v.push_back(lookup.empty() ? (0xFF000000u | p) : lookup[p]);
  return v;
}

std::vector<QRgb> Pixels(const QImage &image) {
  std::vector<QRgb> v;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      v.push_back(image.pixel(x, y));
  return v;
}

std::string Shell(const std::string &cmd) {
  const int rc = std::system(cmd.c_str());
  return rc == 0 ? std::string() : "command failed (" + std::to_string(rc) + "): " + cmd;
}

// A binary PPM of the colours, row by row.
void WritePpm(const std::string &path, int w, int h, const std::vector<QRgb> &colours) {
  std::string b = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (QRgb c : colours)
    b.append({char(qRed(c)), char(qGreen(c)), char(qBlue(c))});
  fixtures::WriteFile(path, std::vector<uint8_t>(b.begin(), b.end()));
}

// The colours of a binary PPM, checking its size.
std::vector<QRgb> ReadPpm(const std::string &path, int w, int h) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int fw = 0, fh = 0, max = 0;
  f >> magic >> fw >> fh >> max;
  f.get();
  if (magic != "P6" || fw != w || fh != h || max != 255) return {};
  std::vector<QRgb> v;
  for (int i = 0; i < w * h; ++i) {
    unsigned char c[3] = {};
    f.read(reinterpret_cast<char *>(c), 3);
    v.push_back(qRgb(c[0], c[1], c[2]));
  }
  return f ? v : std::vector<QRgb>();
}

struct Layout {
  int bits, planes, colours; // colours 0: true colour
};
const Layout kLayouts[] = {{1, 1, 2}, {1, 4, 16}, {4, 1, 16}, {8, 1, 256}, {8, 3, 0}};

// A picture of every layout, with its colours where the format keeps them.
fixtures::Pcx Sample(const Layout &l, int w, int h, uint32_t seed) {
  fixtures::Pcx pcx;
  pcx.bits = l.bits;
  pcx.planes = l.planes;
  pcx.width = w;
  pcx.height = h;
  pcx.pixels = fixtures::PcxPixels(w, h, l.colours, seed);
  if (l.colours == 2 || l.colours == 16) pcx.headerColors = Colours(l.colours, seed);
  if (l.colours == 256) pcx.trailingColors = Colours(256, seed);
  return pcx;
}

} // namespace

TEST(PcxDecoder, EveryLayoutGivesItsPixelsRunLengthEncodedOrStored) {
  for (const Layout &l : kLayouts) {
    for (int encoding : {1, 0}) {
      fixtures::Pcx pcx = Sample(l, 13, 5, uint32_t(l.bits * 10 + l.planes));
      pcx.encoding = encoding;
      // The window need not start at 0; only its size counts.
      pcx.xmin = 7;
      pcx.ymin = 300;
      const QImage image = Decode(fixtures::Encode(pcx));
      SCOPED_TRACE(std::to_string(l.bits) + "x" + std::to_string(l.planes) + " encoding " +
                   std::to_string(encoding));
      ASSERT_EQ(image.size(), QSize(13, 5));
      EXPECT_EQ(image.format(), l.colours ? QImage::Format_Indexed8 : QImage::Format_RGB32);
      if (l.colours) {
        EXPECT_EQ(image.colorCount(), l.colours);
      }
      const std::vector<QRgb> table = l.colours == 256 ? pcx.trailingColors
                                      : l.colours      ? pcx.headerColors
                                                       : std::vector<QRgb>();
      EXPECT_EQ(Pixels(image), Expected(pcx, table));
    }
  }
}

TEST(PcxDecoder, RunsMayCrossLineEndsAndPaddingIsSkipped) {
  // 3 x 2 pixels of 8 bits in lines of 4 bytes (one byte of padding each).
  fixtures::Pcx pcx;
  pcx.width = 3;
  pcx.height = 2;
  pcx.bytesPerLine = 4;
  std::vector<uint8_t> bytes = fixtures::Encode(pcx);
  bytes.insert(bytes.end(),
               {
                   0xC5, 0x07, // five 7s: the first line with its padding, then one more
                   0xC0, 0x55, // a run of none
                   0xC1, 0xC8, // a single byte that looks like a count
                   0x09, 0x00, // the last pixel and the padding
               });
  const QImage image = Decode(bytes);
  ASSERT_EQ(image.size(), QSize(3, 2));
  const int indices[2][3] = {{7, 7, 7}, {7, 0xC8, 9}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(image.pixelIndex(x, y), indices[y][x]) << x << "," << y;
  // No table after the pixels: shades of grey.
  EXPECT_EQ(image.pixel(1, 1), qRgb(0xC8, 0xC8, 0xC8));
}

TEST(PcxDecoder, FilesWithoutColoursOfTheirOwn) {
  fixtures::Pcx mono = Sample(kLayouts[0], 9, 2, 1);
  mono.headerColors = {qRgb(255, 255, 255), qRgb(0, 0, 0)}; // as some writers put them
  QImage image = Decode(fixtures::Encode(mono));
  EXPECT_EQ(image.color(0), qRgb(255, 255, 255));
  EXPECT_EQ(image.color(1), qRgb(0, 0, 0));
  mono.headerColors.clear(); // none at all: black and white
  image = Decode(fixtures::Encode(mono));
  EXPECT_EQ(image.color(0), qRgb(0, 0, 0));
  EXPECT_EQ(image.color(1), qRgb(255, 255, 255));

  fixtures::Pcx ega = Sample(kLayouts[1], 9, 2, 2);
  ega.headerColors.clear();
  image = Decode(fixtures::Encode(ega));
  EXPECT_EQ(image.color(1), qRgb(0, 0, 0xAA));
  EXPECT_EQ(image.color(6), qRgb(0xAA, 0x55, 0));
  EXPECT_EQ(image.color(15), qRgb(0xFF, 0xFF, 0xFF));
  ega.headerColors = Colours(16, 3);
  ega.version = 3; // "no colour information", whatever the table holds
  EXPECT_EQ(Decode(fixtures::Encode(ega)).color(1), qRgb(0, 0, 0xAA));

  fixtures::Pcx grey = Sample(kLayouts[3], 9, 2, 4);
  grey.trailingColors.clear();
  image = Decode(fixtures::Encode(grey));
  EXPECT_EQ(image.colorCount(), 256);
  EXPECT_EQ(image.color(200), qRgb(200, 200, 200));
}

TEST(PcxDecoder, DamagedFilesAreRefusedWithClearErrors) {
  const fixtures::Pcx base = Sample(kLayouts[3], 13, 5, 9);
  const std::vector<uint8_t> good = fixtures::Encode(base);
  auto with = [&](auto change) {
    fixtures::Pcx p = base;
    change(p);
    return fixtures::Encode(p);
  };
  auto patched = [&](std::initializer_list<std::pair<size_t, uint8_t>> changes) {
    std::vector<uint8_t> b = good;
    for (auto [at, value] : changes)
      b[at] = value;
    return b;
  };
  // Pixel data without the colour table that follows it.
  const size_t dataEnd = good.size() - 769;
  auto cut = [&](size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + long(n)); };
  // Half the pixels, followed by a complete colour table: the table is not taken for pixels.
  std::vector<uint8_t> halfWithTable = cut(128 + (dataEnd - 128) / 2);
  halfWithTable.insert(halfWithTable.end(), good.end() - 769, good.end());

  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {cut(127), "PCX header is incomplete"},
      {patched({{0, 0x0B}}), "Invalid PCX signature: $B"},
      {patched({{2, 2}}), "Unsupported PCX encoding: 2"},
      {with([](fixtures::Pcx &p) { p.bits = 2; }), "Unsupported PCX format: 2 bits, 1 planes"},
      {with([](fixtures::Pcx &p) { p.planes = 4; }), "Unsupported PCX format: 8 bits, 4 planes"},
      {patched({{4, 7}, {8, 2}}), "Invalid PCX image size: -4 x 5"}, // xmin 7, xmax 2
      {with([](fixtures::Pcx &p) { p.bytesPerLine = 12; }),
       "Invalid PCX line length: 12 (at least 13)"},
      {with([](fixtures::Pcx &p) {
         p.bits = 1;
         p.bytesPerLine = 1;
         p.pixels.assign(p.pixels.size(), 1);
       }),
       "Invalid PCX line length: 1 (at least 2)"},
      {cut(128), "PCX image data is truncated"},
      {cut(dataEnd - 1), "PCX image data is truncated"},
      {halfWithTable, "PCX image data is truncated"},
      {cut(dataEnd + 1), "PCX colour table is truncated"},
      {cut(good.size() - 1), "PCX colour table is truncated"},
  };
  for (const auto &[bytes, message] : cases)
    EXPECT_EQ(ErrorOf(bytes), message);
  // A run whose value byte is missing.
  std::vector<uint8_t> split = with([](fixtures::Pcx &p) {
    p.pixels.assign(p.pixels.size(), 0xC3);
    p.trailingColors.clear();
  });
  split.pop_back();
  EXPECT_EQ(ErrorOf(split), "PCX image data is truncated");
  EXPECT_EQ(ErrorOf(good), "no error");
}

TEST(PcxDecoder, PicturesTooLargeAreRefusedBeforeAnythingIsAllocated) {
  fixtures::Pcx huge; // a header alone, of the largest size it can give
  huge.width = 65535;
  huge.height = 65535;
  huge.bytesPerLine = 65535;
  EXPECT_EQ(ErrorOf(fixtures::Encode(huge)), "PCX picture too large (more than 268435456 pixels)");
  huge.planes = 3; // true colour takes four bytes a pixel
  EXPECT_EQ(ErrorOf(fixtures::Encode(huge)), "PCX picture too large (more than 67108864 pixels)");

  // The limit itself, lowered to keep the pictures small: 1000 pixels of true colour.
  const int64_t saved = MaxPictureBytes;
  MaxPictureBytes = 4000;
  fixtures::Pcx pcx = Sample(kLayouts[4], 40, 25, 3);
  EXPECT_EQ(ErrorOf(fixtures::Encode(pcx)), "no error");
  pcx = Sample(kLayouts[4], 40, 26, 3);
  EXPECT_EQ(ErrorOf(fixtures::Encode(pcx)), "PCX picture too large (more than 1000 pixels)");
  pcx = Sample(kLayouts[3], 40, 100, 3);
  EXPECT_EQ(ErrorOf(fixtures::Encode(pcx)), "no error");
  MaxPictureBytes = saved;
}

TEST(PcxDecoder, FilesWrittenByNetpbmAndImageMagick) {
  testutil::TempDir dir;
  const int w = 13, h = 5;
  struct Case {
    const char *command; // the writer, reading in.ppm
    int colours;         // of the picture written
    int bits, planes;    // the layout the writer chooses for it
  };
  const Case cases[] = {
      {"ppmtopcx", 2, 1, 1},
      {"ppmtopcx", 12, 1, 4},
      {"ppmtopcx -packed", 12, 4, 1},
      {"ppmtopcx -8bit", 12, 8, 1},
      {"ppmtopcx -24bit", 12, 8, 3},
      {"convert-im6.q16 ppm:- -type palette", 12, 8, 1},
      {"convert-im6.q16 ppm:- -type truecolor", 12, 8, 3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.command);
    const std::vector<QRgb> palette =
        c.colours == 2 ? std::vector<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)} : Colours(12, 5);
    std::vector<QRgb> colours;
    for (uint32_t i : fixtures::PcxPixels(w, h, c.colours, 77))
      colours.push_back(palette[i]);
    const std::string in = dir.Path("in.ppm"), out = dir.Path("out.pcx");
    WritePpm(in, w, h, colours);
    const bool im = std::string(c.command).rfind("convert", 0) == 0;
    ASSERT_EQ(Shell(std::string(c.command) + (im ? " pcx:" + out + " < " : " < ") + in +
                    (im ? "" : " > " + out + " 2>/dev/null")),
              "");
    const std::vector<uint8_t> bytes = fixtures::ReadFile(out);
    ASSERT_GT(bytes.size(), 128u);
    EXPECT_EQ(bytes[3], c.bits);
    EXPECT_EQ(bytes[65], c.planes);
    EXPECT_EQ(Pixels(Decode(bytes)), colours);
  }
}

TEST(PcxEncoder, SavedPicturesReadBackTheSameHereAndInNetpbm) {
  testutil::TempDir dir;
  // An indexed picture and a true-colour one with long runs and bytes that look like counts.
  QImage indexed(70, 3, QImage::Format_Indexed8);
  indexed.setColorTable({qRgb(1, 2, 3), qRgb(250, 200, 0xC5), qRgb(0xFF, 0xFF, 0xFF)});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 70; ++x)
      indexed.setPixel(x, y, uint((x / 9 + y) % 3));
  QImage rgb(71, 4, QImage::Format_RGB32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 71; ++x)
      rgb.setPixel(x, y, x < 66 ? qRgb(0xC1, 0xFE, y) : qRgb(x * 3, 0xC0 + x % 7, 255 - y));
  for (const QImage &image : {indexed, rgb}) {
    const std::vector<uint8_t> bytes = EncodePCX(image);
    const QImage back = Decode(bytes);
    EXPECT_EQ(back.format(), image.format());
    EXPECT_EQ(Pixels(back), Pixels(image));
    const std::string path = dir.Path("saved.pcx"), ppm = dir.Path("saved.ppm");
    fixtures::WriteFile(path, bytes);
    ASSERT_EQ(Shell("pcxtoppm " + path + " > " + ppm), "");
    EXPECT_EQ(ReadPpm(ppm, image.width(), image.height()), Pixels(image));
  }
  try {
    EncodePCX(QImage());
    ADD_FAILURE() << "no error";
  } catch (const EInvalidGraphicOperation &e) {
    EXPECT_STREQ(e.what(), "Cannot save an empty bitmap");
  }
  // The widest picture has lines of an odd length; one pixel more cannot be written.
  QImage widest(65535, 1, QImage::Format_Indexed8);
  widest.setColorTable({qRgb(9, 9, 9)});
  widest.fill(0);
  const std::vector<uint8_t> wide = EncodePCX(widest);
  EXPECT_EQ(wide[66] | wide[67] << 8, 65535);
  EXPECT_EQ(Decode(wide).width(), 65535);
  EXPECT_THROW(EncodePCX(QImage(65536, 1, QImage::Format_Indexed8)), EInvalidGraphicOperation);
}

TEST(PcxImage, RegisteredForPcxAndLoadedThroughThePicture) {
  RegisterPictureClasses();
  testutil::TempDir dir;
  const fixtures::Pcx pcx = Sample(kLayouts[4], 6, 4, 12);
  const std::string path = dir.Path("photo.PCX");
  fixtures::WriteFile(path, fixtures::Encode(pcx));
  ASSERT_NE(TPicture::FindFileFormat("pcx"), nullptr);
  TPicture picture;
  picture.LoadFromFile(path);
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TPCXImage");
  EXPECT_EQ(picture.Width(), 6);
  EXPECT_EQ(Pixels(picture.Graphic()->ToImage()), Expected(pcx, {}));
  // Saved and loaded again through the registry.
  const std::string copy = dir.Path("copy.pcx");
  picture.SaveToFile(copy);
  TPicture again;
  again.LoadFromFile(copy);
  EXPECT_EQ(Pixels(again.Graphic()->ToImage()), Expected(pcx, {}));
  // A damaged file leaves the picture empty.
  fixtures::WriteFile(path, std::vector<uint8_t>(130, 0x0A));
  EXPECT_THROW(picture.LoadFromFile(path), EInvalidGraphic);
  EXPECT_EQ(picture.Graphic(), nullptr);
}
