// The pictures read through Qt's readers (PNG, BMP, TIFF): registered by extension, read with
// their pixels, saved and read back; content of another format, damaged files, truncated and
// compressed bitmaps, and pictures too large.
#include "GifFixtures.h"
#include "TestUtil.h"

#include "imaging/PictureClasses.h"
#include "platform/Exceptions.h"
#include "platform/graphics/PictureFormats.h"
#include "platform/graphics/Streams.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

using namespace plm;

namespace {

// A picture of w x h whose every pixel differs from its neighbours, in the given format.
QImage Pattern(int w, int h, QImage::Format format) {
  QImage image(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, qRgba(x * 19, y * 36, (x + y) * 7, 255 - x * 5));
  if (format == QImage::Format_Indexed8) {
    QImage indexed(w, h, format);
    QList<QRgb> table;
    for (int i = 0; i < 7; ++i)
      table.append(qRgb(i * 30, 200 - i * 20, i * i));
    indexed.setColorTable(table);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        indexed.setPixel(x, y, uint((x * 3 + y) % 7));
    return indexed;
  }
  return image.convertToFormat(format);
}

std::vector<QRgb> Pixels(const QImage &image) {
  std::vector<QRgb> v;
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < argb.height(); ++y)
    for (int x = 0; x < argb.width(); ++x)
      v.push_back(argb.pixel(x, y));
  return v;
}

std::vector<uint8_t> Encoded(const QImage &image, const char *format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(image.save(&buffer, format)) << format;
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The message of the EInvalidGraphic that loading the file through the registry raises.
std::string LoadError(TPicture &picture, const std::string &path) {
  RegisterPictureClasses();
  try {
    picture.LoadFromFile(path);
  } catch (const EInvalidGraphic &e) {
    return e.what();
  } catch (const std::exception &e) {
    return std::string("wrong kind: ") + e.what();
  }
  return "no error";
}

void Le16(std::vector<uint8_t> &b, int v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Le32(std::vector<uint8_t> &b, int64_t v) {
  Le16(b, int(v & 0xFFFF));
  Le16(b, int((v >> 16) & 0xFFFF));
}

// A BMP with a 40-byte header, a table of two colours and the given pixel bytes.
std::vector<uint8_t> Bmp(int w, int h, int bits, int compression,
                         const std::vector<uint8_t> &pixels) {
  const int offset = 14 + 40 + 8;
  std::vector<uint8_t> b = {'B', 'M'};
  Le32(b, offset + int64_t(pixels.size()));
  Le32(b, 0);
  Le32(b, offset);
  Le32(b, 40);
  Le32(b, w);
  Le32(b, h);
  Le16(b, 1);
  Le16(b, bits);
  Le32(b, compression);
  Le32(b, int64_t(pixels.size()));
  Le32(b, 2835);
  Le32(b, 2835);
  Le32(b, 2);
  Le32(b, 0);
  b.insert(b.end(), {10, 20, 30, 0, 40, 200, 90, 0}); // blue, green, red, 0
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

const QRgb kColour0 = qRgb(30, 20, 10), kColour1 = qRgb(90, 200, 40);

struct Format {
  const char *extension, *qtFormat, *className, *name;
};
const Format kFormats[] = {{"png", "PNG", "TPNGImage", "PNG"},
                           {"bmp", "BMP", "TBitmap", "Bitmap"},
                           {"tif", "TIFF", "TTIFFImage", "TIFF"},
                           {"TIFF", "TIFF", "TTIFFImage", "TIFF"}};

} // namespace

TEST(PictureFormats, ReadThroughTheRegistryWithTheirPixelsAndSavedBack) {
  testutil::TempDir dir;
  for (const Format &f : kFormats) {
    for (QImage::Format pixels : {QImage::Format_RGB32, QImage::Format_ARGB32,
                                  QImage::Format_Indexed8, QImage::Format_Grayscale8}) {
      // A BMP has no alpha; a TIFF keeps it premultiplied, which rounds the colours.
      if (pixels == QImage::Format_ARGB32 && std::string(f.qtFormat) != "PNG") continue;
      SCOPED_TRACE(std::string(f.extension) + " " + std::to_string(int(pixels)));
      const QImage source = Pattern(13, 7, pixels);
      const std::string path = dir.Path(std::string("pic.") + f.extension);
      fixtures::WriteFile(path, Encoded(source, f.qtFormat));
      TPicture picture;
      ASSERT_EQ(LoadError(picture, path), "no error");
      EXPECT_STREQ(picture.Graphic()->ClassName(), f.className);
      EXPECT_EQ(picture.Width(), 13);
      EXPECT_EQ(picture.Height(), 7);
      EXPECT_EQ(Pixels(picture.Graphic()->ToImage()), Pixels(source));
      // Saved in its own format and read again.
      const std::string copy = dir.Path(std::string("copy.") + f.extension);
      picture.SaveToFile(copy);
      TPicture again;
      ASSERT_EQ(LoadError(again, copy), "no error");
      EXPECT_EQ(Pixels(again.Graphic()->ToImage()), Pixels(source));
    }
  }
}

TEST(PictureFormats, ContentOfAnotherFormatAndDamagedFilesAreRefused) {
  testutil::TempDir dir;
  const QImage source = Pattern(40, 30, QImage::Format_RGB32);
  const std::vector<uint8_t> png = Encoded(source, "PNG"), bmp = Encoded(source, "BMP"),
                             tiff = Encoded(source, "TIFF");
  auto cut = [](const std::vector<uint8_t> &b, size_t n) {
    return std::vector<uint8_t>(b.begin(), b.begin() + long(n));
  };
  auto garbled = [](std::vector<uint8_t> b) {
    for (size_t i = 0; i < 4; ++i)
      b[i] ^= 0x5A;
    return b;
  };
  const std::tuple<const char *, std::vector<uint8_t>, std::string> cases[] = {
      // The extension chooses the class, and the class reads its own format only.
      {"png", bmp, "PNG image is not valid"},
      {"tif", png, "TIFF image is not valid"},
      {"bmp", tiff, "Bitmap image is not valid"},
      // Cut short or with a damaged signature.
      {"png", cut(png, png.size() / 2), "PNG image is not valid"},
      {"png", cut(png, 20), "PNG image is not valid"},
      {"png", garbled(png), "PNG image is not valid"},
      {"tif", cut(tiff, tiff.size() / 2), "TIFF image is not valid"},
      {"tif", cut(tiff, tiff.size() - 1), "TIFF image is not valid"},
      {"tif", garbled(tiff), "TIFF image is not valid"},
      {"bmp", cut(bmp, 20), "Bitmap image is not valid"},
      {"bmp", garbled(bmp), "Bitmap image is not valid"},
      // Qt would show a cut bitmap with whatever its memory held in the missing rows.
      {"bmp", cut(bmp, bmp.size() / 2), "Bitmap image is truncated"},
      {"bmp", cut(bmp, bmp.size() - 1), "Bitmap image is truncated"},
      {"bmp", cut(bmp, 60), "Bitmap image is truncated"},
  };
  for (const auto &[extension, bytes, message] : cases) {
    const std::string path = dir.Path(std::string("bad.") + extension);
    fixtures::WriteFile(path, bytes);
    TPicture picture;
    EXPECT_EQ(LoadError(picture, path), message) << extension << " " << bytes.size();
    EXPECT_EQ(picture.Graphic(), nullptr);
  }
}

TEST(PictureFormats, CompressedBitmapsAreReadWholeOrRefused) {
  // 8 x 4 pixels of 8 bits, stored bottom up: row r holds 8 - 2r pixels of colour 1, then
  // 2r of colour 0.
  const std::vector<uint8_t> rle8 = {8, 1, 0, 0, 6, 1, 2, 0, 0, 0, 4, 1,
                                     4, 0, 0, 0, 2, 1, 6, 0, 0, 0, 0, 1};
  TBitmap bitmap;
  {
    TMemoryStream m(Bmp(8, 4, 8, 1, rle8));
    bitmap.LoadFromStream(m);
  }
  ASSERT_EQ(bitmap.Width(), 8);
  const QImage image = bitmap.ToImage();
  for (int row = 0; row < 4; ++row)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(image.pixel(x, 3 - row), x < 8 - 2 * row ? kColour1 : kColour0) << x << "," << row;

  // Ending early, as the format allows: the rows left out have colour 0, every time.
  const std::vector<uint8_t> early = {8, 1, 0, 1};
  for (int i = 0; i < 3; ++i) {
    TMemoryStream m(Bmp(8, 4, 8, 1, early));
    bitmap.LoadFromStream(m);
    EXPECT_EQ(Pixels(bitmap.ToImage().copy(0, 0, 8, 3)), std::vector<QRgb>(24, kColour0));
    EXPECT_EQ(bitmap.ToImage().pixel(7, 3), kColour1);
  }

  // 4 bits, 8 x 3: a run, a stored group of three pixels, the end of the line; a move two
  // pixels right, a run of alternating pixels; the end before the last row.
  const std::vector<uint8_t> rle4 = {4, 0x11, 0, 3, 0x10, 0x10, 0, 0, 0, 2, 2, 0, 5, 0x01, 0, 1};
  {
    TMemoryStream m(Bmp(8, 3, 4, 2, rle4));
    bitmap.LoadFromStream(m);
  }
  const QImage four = bitmap.ToImage();
  const QRgb c0 = kColour0, c1 = kColour1;
  EXPECT_EQ(Pixels(four.copy(0, 2, 8, 1)), (std::vector<QRgb>{c1, c1, c1, c1, c1, c0, c1, c0}));
  EXPECT_EQ(Pixels(four.copy(0, 1, 8, 1)), (std::vector<QRgb>{c0, c0, c0, c1, c0, c1, c0, c0}));
  EXPECT_EQ(Pixels(four.copy(0, 0, 8, 1)), std::vector<QRgb>(8, c0));

  // Runs that stop before the bitmap's end, and a stored group cut short.
  for (const auto &[bits, compression, bytes] :
       {std::tuple{8, 1, std::vector<uint8_t>(rle8.begin(), rle8.begin() + 13)},
        std::tuple{8, 1, std::vector<uint8_t>{8, 1, 0, 5, 1, 1}},
        std::tuple{4, 2, std::vector<uint8_t>(rle4.begin(), rle4.begin() + 5)},
        std::tuple{4, 2, std::vector<uint8_t>{4, 0x11, 0, 2, 1}}}) {
    TMemoryStream m(Bmp(8, 4, bits, compression, bytes));
    try {
      bitmap.LoadFromStream(m);
      ADD_FAILURE() << "no error for " << bytes.size() << " bytes";
    } catch (const EInvalidGraphic &e) {
      EXPECT_STREQ(e.what(), "Bitmap image is truncated");
    }
  }
}

TEST(PictureFormats, PicturesTooLargeAreRefusedBeforeTheirPixelsAreRead) {
  testutil::TempDir dir;
  // A bitmap header of 8193 x 8193 true-colour pixels, without them. (Qt refuses larger sizes
  // outright.)
  const std::string path = dir.Path("huge.bmp");
  std::vector<uint8_t> huge = Bmp(8193, 8193, 24, 0, {});
  fixtures::WriteFile(path, huge);
  TPicture picture;
  EXPECT_EQ(LoadError(picture, path), "Bitmap picture too large (more than 67108864 pixels)");

  // The limit lowered to 1000 true-colour pixels: 40 x 25 passes, 40 x 26 does not.
  const int64_t saved = MaxPictureBytes;
  MaxPictureBytes = 4000;
  for (const Format &f : kFormats) {
    for (int h : {25, 26}) {
      const std::string p = dir.Path(std::string("limit.") + f.extension);
      fixtures::WriteFile(p, Encoded(Pattern(40, h, QImage::Format_RGB32), f.qtFormat));
      EXPECT_EQ(LoadError(picture, p),
                h == 25 ? std::string("no error")
                        : std::string(f.name) + " picture too large (more than 1000 pixels)")
          << f.extension;
    }
  }
  MaxPictureBytes = saved;
}
