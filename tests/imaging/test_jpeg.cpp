// JPEG pictures over libjpeg: encoding for the snapshot, decoding with the viewer's options.
#include "TestUtil.h"

#include "imaging/PictureClasses.h"
#include "imaging/DCImageInfo.h"
#include "imaging/JPEGImage.h"
#include "platform/graphics/Streams.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace plm;

namespace {

QImage Sample(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x + y) % 256));
  return img;
}

std::vector<uint8_t> Encode(const QImage &img, int quality, bool progressive = false) {
  TJPEGImage j;
  j.Assign(img);
  j.SetCompressionQuality(quality);
  j.SetProgressiveEncoding(progressive);
  TMemoryStream m;
  j.SaveToStream(m);
  return m.Bytes();
}

bool HasMarker(const std::vector<uint8_t> &b, uint8_t marker) {
  for (size_t i = 0; i + 1 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == marker) return true;
  return false;
}

double MeanError(const QImage &a, const QImage &b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
             std::abs(qBlue(p) - qBlue(q));
    }
  return sum / (3.0 * a.width() * a.height());
}

void Load(TJPEGImage &j, const std::vector<uint8_t> &bytes) {
  TMemoryStream m(bytes);
  j.LoadFromStream(m);
}

std::string Capture(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p))
      out += buf;
    pclose(p);
  }
  return out;
}

} // namespace

TEST(JpegEncode, BaselineColourAtTheChosenQuality) {
  const QImage img = Sample(64, 48);
  const auto q10 = Encode(img, 10), q95 = Encode(img, 95);
  for (const auto *b : {&q10, &q95}) {
    ASSERT_GE(b->size(), 4u);
    EXPECT_EQ((*b)[0], 0xFF);
    EXPECT_EQ((*b)[1], 0xD8);
    EXPECT_TRUE(HasMarker(*b, 0xC0));
    EXPECT_FALSE(HasMarker(*b, 0xC2));
  }
  EXPECT_LT(q10.size(), q95.size());
  TJPEGImage back;
  Load(back, q95);
  EXPECT_EQ(back.Width(), 64);
  EXPECT_EQ(back.Height(), 48);
  EXPECT_FALSE(back.ProgressiveEncoded());
  EXPECT_LT(MeanError(img, back.Bitmap().Image()), 4.0);
  TJPEGImage poor;
  Load(poor, q10);
  EXPECT_GT(MeanError(img, poor.Bitmap().Image()), MeanError(img, back.Bitmap().Image()));

  TJPEGImage j;
  j.SetCompressionQuality(0);
  EXPECT_EQ(j.CompressionQuality(), 1);
  j.SetCompressionQuality(101);
  EXPECT_EQ(j.CompressionQuality(), 100);
}

TEST(JpegEncode, SnapshotFileReadByIndependentTools) {
  testutil::TempDir dir;
  const std::string path = dir.Path("page_snap.jpg");
  {
    TJPEGImage j;
    TBitmap bmp(Sample(120, 80).convertToFormat(QImage::Format_Grayscale8));
    j.Assign(&bmp);
    j.SetCompressionQuality(70);
    j.SaveToFile(path);
  }
  TDCImageInfo info;
  info.ReadInfo(path);
  EXPECT_EQ(info.ImageType, 2);
  EXPECT_EQ(info.Width, 120);
  EXPECT_EQ(info.Height, 80);
  EXPECT_EQ(info.Depth, 24); // colour, even from a grey picture
  EXPECT_EQ(Capture("/usr/bin/identify-im6.q16 -format '%w %h %[interlace] %Q' " + path + " 2>&1"),
            "120 80 None 70");
  // An existing file is replaced.
  TJPEGImage small;
  small.Assign(Sample(8, 8));
  small.SaveToFile(path);
  info.ReadInfo(path);
  EXPECT_EQ(info.Width, 8);
}

TEST(JpegDecode, ScaleGrayscalePixelFormatAndPerformance) {
  const auto bytes = Encode(Sample(99, 77), 90);
  TJPEGImage j;
  Load(j, bytes);
  EXPECT_EQ(j.Width(), 99);
  struct Case {
    TJPEGScale scale;
    int w, h;
  };
  for (Case c : {Case{jsHalf, 50, 39}, Case{jsQuarter, 25, 20}, Case{jsEighth, 13, 10},
                 Case{jsFullSize, 99, 77}}) {
    j.SetScale(c.scale);
    EXPECT_EQ(j.Width(), c.w);
    EXPECT_EQ(j.Height(), c.h);
    EXPECT_EQ(j.Bitmap().Width(), c.w);
    EXPECT_EQ(j.Bitmap().Height(), c.h);
  }
  const QImage full = j.Bitmap().Image();
  EXPECT_EQ(j.Bitmap().PixelFormat(), TPixelFormat::pf24bit);

  j.SetGrayscale(true);
  const QImage grey = j.Bitmap().Image();
  EXPECT_EQ(j.Bitmap().PixelFormat(), TPixelFormat::pf8bit);
  for (int x = 0; x < 99; x += 7) {
    const QRgb p = grey.pixel(x, 40);
    EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p));
  }
  j.SetGrayscale(false);

  j.SetPixelFormat(jf8Bit);
  EXPECT_EQ(j.Bitmap().PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_LE(j.Bitmap().Image().colorCount(), 256);
  EXPECT_LT(MeanError(full, j.Bitmap().Image()), 12.0);
  j.SetPixelFormat(jf24Bit);

  j.SetPerformance(jpBestSpeed);
  EXPECT_LT(MeanError(full, j.Bitmap().Image()), 3.0);
}

TEST(JpegDecode, OptionChangesSignalAndTakeEffectAtTheNextDecode) {
  TJPEGImage j;
  Load(j, Encode(Sample(40, 40), 80));
  int changes = 0;
  j.OnChange = [&](TGraphic *) { ++changes; };
  j.SetScale(jsHalf);
  j.SetScale(jsHalf);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(j.Width(), 20);
  // An assigned picture keeps its image whatever the decoding options.
  TJPEGImage a;
  a.Assign(Sample(40, 40));
  a.SetScale(jsEighth);
  EXPECT_EQ(a.Width(), 40);
}

TEST(JpegDecode, ProgressiveDisplaySignalsEachPass) {
  const auto bytes = Encode(Sample(64, 64), 85, true);
  EXPECT_TRUE(HasMarker(bytes, 0xC2));
  {
    TJPEGImage j;
    Load(j, bytes);
    EXPECT_TRUE(j.ProgressiveEncoded());
    j.SetProgressiveDisplay(true);
    int passes = 0;
    int widthSeen = 0;
    j.OnChange = [&](TGraphic *) {
      ++passes;
      widthSeen = j.Bitmap().Width(); // the partial bitmap, no nested decode
    };
    j.DIBNeeded();
    EXPECT_GT(passes, 2);
    EXPECT_EQ(widthSeen, 64);
  }
  TJPEGImage plain;
  Load(plain, bytes);
  int changes = 0;
  plain.OnChange = [&](TGraphic *) { ++changes; };
  plain.DIBNeeded();
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(plain.Bitmap().Width(), 64);
}

TEST(JpegErrors, LibraryErrorsAreRaisedNotFatal) {
  TJPEGImage j;
  std::vector<uint8_t> junk(100, 0x42);
  try {
    Load(j, junk);
    ADD_FAILURE();
  } catch (const EInvalidGraphic &e) {
    EXPECT_NE(std::string(e.what()), "");
  }
  EXPECT_TRUE(j.Empty());
  EXPECT_THROW(Load(j, {}), EJPEG);

  // Cut short inside the scan: the header reads, the decode completes with what is there.
  auto bytes = Encode(Sample(256, 256), 95);
  ASSERT_GT(bytes.size(), 3000u);
  bytes.resize(bytes.size() - 1500);
  Load(j, bytes);
  EXPECT_EQ(j.Bitmap().Width(), 256);

  // A frame header claiming a huge picture is refused before any allocation.
  auto big = Encode(Sample(16, 16), 90);
  for (size_t i = 0; i + 8 < big.size(); ++i)
    if (big[i] == 0xFF && big[i + 1] == 0xC0) {
      big[i + 5] = big[i + 7] = 0xEA; // 60000 x 60000
      big[i + 6] = big[i + 8] = 0x60;
      break;
    }
  TJPEGImage huge;
  Load(huge, big);
  EXPECT_EQ(huge.Width(), 60000);
  try {
    huge.DIBNeeded();
    ADD_FAILURE();
  } catch (const EJPEG &e) {
    EXPECT_STREQ(e.what(), "JPEG image too large");
  }
  QImage canvas(4, 4, QImage::Format_RGB32);
  QPainter p(&canvas);
  huge.Draw(p, QRect(0, 0, 4, 4)); // draws nothing, raises nothing
  EXPECT_THROW(huge.SetWidth(3), EInvalidGraphicOperation);
}

TEST(JpegPicture, RegisteredExtensionsAndCopies) {
  RegisterPictureClasses();
  testutil::TempDir dir;
  const auto bytes = Encode(Sample(30, 20), 90);
  for (const char *name : {"a.jpg", "b.JPEG", "c.jpe", "d.Jfif"}) {
    FILE *f = std::fopen(dir.Path(name).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    TPicture picture;
    picture.LoadFromFile(dir.Path(name));
    ASSERT_NE(dynamic_cast<TJPEGImage *>(picture.Graphic()), nullptr) << name;
    EXPECT_EQ(picture.Width(), 30);
  }
  TJPEGImage a;
  Load(a, bytes);
  a.SetScale(jsHalf);
  TJPEGImage b;
  b.Assign(&a);
  EXPECT_EQ(b.Width(), 15);
  TMemoryStream saved;
  b.SaveToStream(saved);
  EXPECT_EQ(saved.Bytes(), bytes); // loaded bytes are saved unchanged

  TMemoryStream persisted;
  a.WriteData(persisted);
  persisted.SetPosition(0);
  TJPEGImage c;
  c.ReadData(persisted);
  EXPECT_EQ(c.Width(), 30);

  TJPEGImage empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(empty.Width(), 0);
  TMemoryStream none;
  empty.SaveToStream(none);
  EXPECT_EQ(none.Size(), 0);
}

TEST(JpegDecode, ImageMagickCmykAndProgressiveFiles) {
  testutil::TempDir dir;
  const std::string im = "/usr/bin/convert-im6.q16 -size 16x16 xc:'rgb(255,128,0)' ";
  ASSERT_EQ(std::system((im + "-colorspace CMYK " + dir.Path("cmyk.jpg")).c_str()), 0);
  ASSERT_EQ(std::system((im + "-interlace Plane " + dir.Path("prog.jpg")).c_str()), 0);
  auto near = [](QRgb p, int r, int g, int b) {
    return std::abs(qRed(p) - r) < 12 && std::abs(qGreen(p) - g) < 12 &&
           std::abs(qBlue(p) - b) < 12;
  };
  TJPEGImage cmyk;
  cmyk.LoadFromFile(dir.Path("cmyk.jpg"));
  EXPECT_TRUE(near(cmyk.Bitmap().Image().pixel(8, 8), 255, 128, 0))
      << std::hex << cmyk.Bitmap().Image().pixel(8, 8);
  cmyk.SetPixelFormat(jf8Bit); // reduced after the conversion
  EXPECT_EQ(cmyk.Bitmap().PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_TRUE(near(cmyk.Bitmap().Image().pixel(8, 8), 255, 128, 0));

  TJPEGImage prog;
  prog.LoadFromFile(dir.Path("prog.jpg"));
  EXPECT_TRUE(prog.ProgressiveEncoded());
  prog.SetProgressiveDisplay(true);
  prog.SetPixelFormat(jf8Bit);
  int passes = 0;
  prog.OnChange = [&](TGraphic *) { ++passes; };
  prog.DIBNeeded();
  EXPECT_GT(passes, 1);
  EXPECT_EQ(prog.Bitmap().PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_TRUE(near(prog.Bitmap().Image().pixel(8, 8), 255, 128, 0));
}
