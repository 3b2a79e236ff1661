// The picture viewer control: properties, loading by name, geometry and painting.
#include "GifFixtures.h"
#include "PcxFixtures.h"
#include "TestUtil.h"

#include "imaging/AdvImage.h"
#include "imaging/DCImageInfo.h"
#include "imaging/MPGifImg.h"
#include "imaging/MPTimer.h"
#include "platform/graphics/Streams.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>
#include "tests/support/QtTry.h"

using namespace plm;

namespace {

class AdvImageTest : public ::testing::Test {
protected:
  // A one-frame GIF of w x h (index 1 everywhere; grey table).
  std::string Gif(const std::string &name, int w, int h, int frames = 1) {
    fixtures::Gif g;
    g.width = w;
    g.height = h;
    g.colors = fixtures::Palette(4);
    for (int i = 0; i < frames; ++i) {
      fixtures::Frame f;
      f.width = w;
      f.height = h;
      f.pixels.assign(size_t(w) * h, uint8_t(i % 4));
      f.delay = 50;
      g.frames.push_back(f);
    }
    const std::string path = fDir.Path(name);
    fixtures::WriteFile(path, fixtures::Encode(g));
    return path;
  }
  std::string Bmp(const std::string &name, int w, int h, QRgb color = qRgb(0, 0, 255)) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(color);
    const std::string path = fDir.Path(name);
    img.save(QString::fromStdString(path), "BMP");
    return path;
  }
  std::string Jpeg(const std::string &name, int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(qRgb(200, 100, 50));
    TJPEGImage j;
    j.Assign(img);
    const std::string path = fDir.Path(name);
    j.SaveToFile(path);
    return path;
  }
  // Paints the control into an image (the control need not be shown).
  QImage Paint(TAdvImage &w) { return w.grab().toImage(); }

  testutil::TempDir fDir;
};

} // namespace

TEST_F(AdvImageTest, InitialValues) {
  TAdvImage w;
  EXPECT_EQ(w.ImageType(), itUnknown);
  EXPECT_EQ(w.ImageName(), "");
  EXPECT_EQ(w.BevelWidth(), 1);
  EXPECT_FALSE(w.GIFAnimate());
  EXPECT_FALSE(w.ShowFrame3D());
  EXPECT_FALSE(w.StretchRatio());
  EXPECT_FALSE(w.CenterView());
  EXPECT_FALSE(w.ShowEmptyLabel());
  EXPECT_EQ(w.JPEGPixelFormat(), jf24Bit);
  EXPECT_EQ(w.JPEGScale(), jsFullSize);
  EXPECT_FALSE(w.JPEGGrayscale());
  EXPECT_EQ(w.JPEGPerformance(), jpBestQuality);
  EXPECT_FALSE(w.JPEGSmoothing());
  EXPECT_FALSE(w.JPEGProgressiveEncoding());
  EXPECT_EQ(w.JPEGCompressionQuality(), 0);
  EXPECT_FALSE(w.JPEGProgressiveDisplay());
  EXPECT_EQ(w.Caption(), "");
  EXPECT_FALSE(w.Checked());
  EXPECT_EQ(w.CheckColor(), QColor(255, 0, 0));
  EXPECT_EQ(w.GifAnimateSpeed(), 10);
  EXPECT_EQ(w.EmptyLabel(), "Empty");
  EXPECT_EQ(w.FileSize(), 0);
  EXPECT_EQ(w.ImageRect(), TRect{});
}

TEST(AdvImageGeometry, FitRectKeepsProportionsAndNeverEnlarges) {
  EXPECT_EQ(TAdvImage::FitRect(400, 400, 1000, 500), Rect(0, 0, 400, 200));
  EXPECT_EQ(TAdvImage::FitRect(400, 400, 300, 800), Rect(0, 0, 150, 400));
  EXPECT_EQ(TAdvImage::FitRect(400, 400, 200, 100), Rect(0, 0, 200, 100));
  EXPECT_EQ(TAdvImage::FitRect(400, 400, 800, 1000), Rect(0, 0, 320, 400)); // both too large
  EXPECT_EQ(TAdvImage::FitRect(100, 50, 300, 90), Rect(0, 0, 100, 30));
  EXPECT_EQ(TAdvImage::FitRect(100, 50, 3, 7), Rect(0, 0, 3, 7));
  EXPECT_EQ(TAdvImage::FitRect(333, 100, 1000, 999), Rect(0, 0, 100, 100)); // [100/332 x 333]
}

TEST(AdvImageGeometry, CenterRect) {
  EXPECT_EQ(TAdvImage::CenterRect(Rect(0, 0, 400, 400), Rect(0, 0, 200, 100)),
            Rect(100, 150, 300, 250));
  EXPECT_EQ(TAdvImage::CenterRect(Rect(3, 3, 397, 397), Rect(3, 3, 204, 104)),
            Rect(100, 150, 301, 251));
  EXPECT_EQ(TAdvImage::CenterRect(Rect(0, 0, 10, 10), Rect(0, 0, 30, 20)), Rect(-10, -5, 20, 15));
}

TEST(AdvImageGeometry, CaptionIsCutAsItGrowsPastTheWidth) {
  QFont font;
  const QFontMetrics fm(font);
  const QString caption = QStringLiteral("Un titre assez long pour être coupé");
  EXPECT_EQ(TAdvImage::CaptionText(fm, caption, fm.horizontalAdvance(caption)), caption);
  const int limit = fm.horizontalAdvance(QStringLiteral("Un titre"));
  const QString cut = TAdvImage::CaptionText(fm, caption, limit);
  ASSERT_FALSE(cut.isEmpty());
  EXPECT_TRUE(caption.startsWith(cut));
  EXPECT_LT(cut.size(), caption.size());
  EXPECT_LT(fm.horizontalAdvance(cut.chopped(1)), limit); // the last one appended may pass
  EXPECT_GE(fm.horizontalAdvance(cut), limit);
  EXPECT_EQ(TAdvImage::CaptionText(fm, caption, 0), QString());
  // At most the first 255 characters.
  const QString longOne(400, QLatin1Char('i'));
  EXPECT_EQ(TAdvImage::CaptionText(fm, longOne, fm.horizontalAdvance(longOne) - 1).size(), 255);
}

TEST_F(AdvImageTest, StretchCenterAndFrameGeometryWhenPainted) {
  TAdvImage w;
  w.resize(400, 400);
  w.SetStretchRatio(true);
  w.SetImageName(Gif("wide.gif", 1000, 500));
  EXPECT_EQ(w.ImageType(), itGif);
  Paint(w);
  EXPECT_EQ(w.ImageRect(), Rect(0, 0, 400, 200));
  w.SetImageName(Bmp("tall.bmp", 300, 800));
  EXPECT_EQ(w.ImageType(), itBmp);
  Paint(w);
  EXPECT_EQ(w.ImageRect(), Rect(0, 0, 150, 400));
  w.SetImageName(Bmp("small.bmp", 200, 100));
  Paint(w);
  EXPECT_EQ(w.ImageRect(), Rect(0, 0, 200, 100));
  w.SetCenterView(true);
  Paint(w);
  EXPECT_EQ(w.ImageRect(), Rect(100, 150, 300, 250));

  w.SetCenterView(false);
  w.SetStretchRatio(false);
  w.SetShowFrame3D(true);
  w.SetBevelWidth(3);
  const QImage shot = Paint(w);
  EXPECT_EQ(w.ImageRect(), Rect(3, 3, 203, 103));
  EXPECT_EQ(shot.pixel(1, 1), w.palette().color(QPalette::Light).rgb());
  EXPECT_EQ(shot.pixel(398, 398), w.palette().color(QPalette::Dark).rgb());
  EXPECT_EQ(shot.pixel(3, 3), qRgb(0, 0, 255));

  // A caption takes its text height off the bottom of the area.
  w.SetShowFrame3D(false);
  w.SetStretchRatio(true);
  w.SetCaption("Légende");
  w.SetImageName(Bmp("tall2.bmp", 300, 800));
  Paint(w);
  const int th = QFontMetrics(w.font()).height();
  EXPECT_EQ(w.ImageRect(), TAdvImage::FitRect(400, 400 - th, 300, 800));
  EXPECT_EQ(w.ImageRect().Bottom, 400 - th);
}

TEST_F(AdvImageTest, SurroundIsFilledWithTheCheckColour) {
  TAdvImage w;
  w.resize(100, 80);
  w.SetImageName(Bmp("p.bmp", 40, 30, qRgb(0, 255, 0)));
  QImage shot = Paint(w);
  EXPECT_EQ(shot.pixel(10, 10), qRgb(0, 255, 0));
  EXPECT_EQ(shot.pixel(90, 70), w.palette().color(QPalette::Window).rgb());
  w.SetChecked(true);
  shot = Paint(w);
  EXPECT_EQ(shot.pixel(90, 70), qRgb(255, 0, 0));
  EXPECT_EQ(shot.pixel(50, 10), qRgb(255, 0, 0));
  EXPECT_EQ(shot.pixel(10, 50), qRgb(255, 0, 0));
  EXPECT_EQ(shot.pixel(39, 29), qRgb(0, 255, 0));
  w.SetCheckColor(QColor(0, 0, 0));
  EXPECT_EQ(Paint(w).pixel(90, 70), qRgb(0, 0, 0));
}

TEST_F(AdvImageTest, EmptyLabelOnlyWhenAsked) {
  TAdvImage w;
  w.resize(200, 100);
  auto inkInCentre = [&](const QImage &img) {
    const QRgb bg = img.pixel(0, 0);
    int n = 0;
    for (int y = 30; y < 70; ++y)
      for (int x = 50; x < 150; ++x)
        n += img.pixel(x, y) != bg;
    return n;
  };
  EXPECT_EQ(inkInCentre(Paint(w)), 0);
  w.SetShowEmptyLabel(true);
  w.SetEmptyLabel("Vide");
  EXPECT_GT(inkInCentre(Paint(w)), 0);
}

TEST_F(AdvImageTest, LoadingByName) {
  TAdvImage w;
  const std::string a = Bmp("a.bmp", 20, 10);
  w.SetImageName(a);
  EXPECT_EQ(w.ImageName(), a);
  EXPECT_EQ(w.Picture().Width(), 20);
  EXPECT_EQ(w.FileSize(), int64_t(QFileInfo(QString::fromStdString(a)).size()));
  // The same name does not reload the file.
  QImage(50, 50, QImage::Format_RGB32).save(QString::fromStdString(a), "BMP");
  w.SetImageName(a);
  EXPECT_EQ(w.Picture().Width(), 20);
  // A missing file empties the control, and the name reads back empty.
  w.SetImageName(fDir.Path("missing.bmp"));
  EXPECT_EQ(w.ImageName(), "");
  EXPECT_EQ(w.ImageType(), itUnknown);
  EXPECT_EQ(w.ImageRect(), TRect{});
  w.SetImageName(a);
  EXPECT_EQ(w.Picture().Width(), 50);
  w.SetImageName("");
  EXPECT_EQ(w.Picture().Graphic(), nullptr);
}

namespace {

// The four colours of the sample pictures, and which one each pixel has.
const QRgb kSampleColours[4] = {qRgb(200, 30, 40), qRgb(20, 180, 60), qRgb(30, 40, 220),
                                qRgb(250, 240, 200)};
int SampleIndex(int x, int y) { return (x + 2 * y + x / 5) % 4; }

// A 13 x 7 sample picture in each format the header inspector tells, named with the
// extension the picture window gives a viewing copy of that format.
struct SampleFile {
  uint8_t type; // as TDCImageInfo reports it
  const char *name;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> QtEncoded(const char *format) {
  QImage image(13, 7, QImage::Format_RGB32);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 13; ++x)
      image.setPixel(x, y, kSampleColours[SampleIndex(x, y)]);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<SampleFile> SampleFiles() {
  fixtures::Gif gif;
  gif.width = 13;
  gif.height = 7;
  for (QRgb c : kSampleColours)
    gif.colors.push_back({uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c))});
  fixtures::Frame frame;
  frame.width = 13;
  frame.height = 7;
  fixtures::Pcx pcx;
  pcx.width = 13;
  pcx.height = 7;
  pcx.trailingColors.assign(std::begin(kSampleColours), std::end(kSampleColours));
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 13; ++x) {
      frame.pixels.push_back(uint8_t(SampleIndex(x, y)));
      pcx.pixels.push_back(uint32_t(SampleIndex(x, y)));
    }
  gif.frames.push_back(frame);
  return {{itGIFCode, "sample.GIF", fixtures::Encode(gif)},
          {itJPEGCode, "sample.JPG", QtEncoded("JPEG")},
          {itPNGCode, "sample.PNG", QtEncoded("PNG")},
          {itBMPCode, "sample.BMP", QtEncoded("BMP")},
          {itPCXCode, "sample.PCX", fixtures::Encode(pcx)},
          {itTIFFCode, "sample.TIFF", QtEncoded("TIFF")}};
}

} // namespace

TEST_F(AdvImageTest, EveryFormatTheInspectorTellsIsDrawnAtItsSize) {
  for (const SampleFile &f : SampleFiles()) {
    SCOPED_TRACE(f.name);
    const std::string path = fDir.Path(f.name);
    fixtures::WriteFile(path, f.bytes);
    TDCImageInfo info;
    info.ReadInfo(path);
    EXPECT_EQ(info.ImageType, f.type);
    TAdvImage w;
    w.resize(60, 40);
    w.SetImageName(path);
    ASSERT_EQ(w.Picture().Width(), 13);
    EXPECT_EQ(w.Picture().Height(), 7);
    const QImage shot = Paint(w);
    EXPECT_EQ(w.ImageRect(), Rect(0, 0, 13, 7));
    EXPECT_EQ(shot.pixel(13, 7), w.palette().color(QPalette::Window).rgb());
    // Lossless formats give each pixel its colour; the JPEG, lossy, the same colours on average.
    int sumWant[3] = {}, sumGot[3] = {};
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 13; ++x) {
        const QRgb want = kSampleColours[SampleIndex(x, y)], got = shot.pixel(x, y);
        if (f.type != itJPEGCode) {
          ASSERT_EQ(got, want) << x << "," << y;
        }
        for (int c = 0; c < 3; ++c) {
          sumWant[c] += (want >> (16 - 8 * c)) & 0xFF;
          sumGot[c] += (got >> (16 - 8 * c)) & 0xFF;
        }
      }
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(sumGot[c] / 91.0, sumWant[c] / 91.0, 8.0) << "channel " << c;
  }
}

TEST_F(AdvImageTest, DamagedOrMislabelledFilesLeaveItEmptySilently) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  const std::vector<SampleFile> samples = SampleFiles();
  for (const SampleFile &f : samples) {
    files.push_back({std::string("junk-") + f.name, std::vector<uint8_t>(64, 0x11)});
    // Cut short: the JPEG class shows what it decodes of a cut file (grey below), as it does
    // for any JPEG, and the GIF class the frames read before the cut (none here).
    if (f.type != itJPEGCode)
      files.push_back(
          {std::string("cut-") + f.name,
           std::vector<uint8_t>(f.bytes.begin(), f.bytes.begin() + long(f.bytes.size() / 2))});
  }
  // A class reads its own format only; an extension without a class reads nothing.
  files.push_back({"png-as.TIFF", samples[2].bytes});
  files.push_back({"bmp-as.PNG", samples[3].bytes});
  files.push_back({"png-as.PCX", samples[2].bytes});
  files.push_back({"pic.bin", samples[2].bytes});
  TAdvImage w;
  w.resize(50, 50);
  const QRgb background = w.palette().color(QPalette::Window).rgb();
  for (const auto &[name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string path = fDir.Path(name);
    fixtures::WriteFile(path, bytes);
    EXPECT_NO_THROW(w.SetImageName(path));
    EXPECT_EQ(w.ImageName(), path);
    EXPECT_EQ(w.FileSize(), int64_t(bytes.size()));
    const QImage shot = Paint(w);
    int drawn = 0;
    for (int y = 0; y < 50; ++y)
      for (int x = 0; x < 50; ++x)
        drawn += shot.pixel(x, y) != background;
    EXPECT_EQ(drawn, 0);
    if (name.find(".GIF") == std::string::npos) {
      EXPECT_EQ(w.ImageType(), itUnknown);
      EXPECT_EQ(w.Picture().Width(), 0);
    }
  }
}

TEST_F(AdvImageTest, JpegSettingsAreHandedOverAtLoad) {
  TAdvImage w;
  w.SetJPEGScale(jsHalf);
  w.SetJPEGGrayscale(true);
  w.SetJPEGPerformance(jpBestSpeed);
  w.SetJPEGPixelFormat(jf8Bit);
  const std::string j = Jpeg("p.jpg", 64, 32);
  w.SetImageName(j);
  ASSERT_EQ(w.ImageType(), itJpeg);
  auto *jpeg = dynamic_cast<TJPEGImage *>(w.Picture().Graphic());
  EXPECT_EQ(jpeg->Scale(), jsHalf);
  EXPECT_TRUE(jpeg->Grayscale());
  EXPECT_EQ(jpeg->Performance(), jpBestSpeed);
  EXPECT_EQ(jpeg->PixelFormat(), jf8Bit);
  EXPECT_EQ(w.Picture().Width(), 32);
  // A change applies from the next load.
  w.SetJPEGScale(jsQuarter);
  EXPECT_EQ(w.Picture().Width(), 32);
  w.SetImageName("");
  w.SetImageName(j);
  EXPECT_EQ(w.Picture().Width(), 16);
}

TEST_F(AdvImageTest, GifAnimationSettings) {
  TAdvImage w;
  w.SetGIFAnimate(true);
  w.SetGifAnimateSpeed(25);
  w.SetImageName(Gif("anim.gif", 10, 10, 3));
  auto *gif = dynamic_cast<TGIFImage *>(w.Picture().Graphic());
  ASSERT_NE(gif, nullptr);
  TTrigger *t = GIFTimerPool()->TriggerByHandle(gif->TriggerHandle());
  EXPECT_TRUE(t->Enabled());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(gif->Data()->FrameDelay(i), 25);
  EXPECT_EQ(t->Interval(), 55); // the first frame keeps the interval of its own delay
  gif->NextFrame();
  EXPECT_EQ(t->Interval(), 250);
  w.SetGifAnimateSpeed(8);
  EXPECT_EQ(t->Interval(), 250); // from the next frame change
  gif->NextFrame();
  EXPECT_EQ(t->Interval(), 80);
  w.SetGIFAnimate(false);
  EXPECT_FALSE(t->Enabled());
  w.SetImageName("");
  EXPECT_EQ(GIFTimerPool(), nullptr); // the picture and its trigger are gone
}

TEST_F(AdvImageTest, FrameStepsRepaintWhileAnimating) {
  TAdvImage w;
  w.resize(60, 60);
  int paints = 0;
  struct Counter : QObject {
    int *n;
    bool eventFilter(QObject *, QEvent *e) override {
      if (e->type() == QEvent::Paint) ++*n;
      return false;
    }
  } counter;
  counter.n = &paints;
  w.installEventFilter(&counter);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.SetImageName(Gif("anim.gif", 10, 10, 2));
  auto *gif = dynamic_cast<TGIFImage *>(w.Picture().Graphic());
  ASSERT_NE(gif, nullptr);
  int before = paints;
  gif->NextFrame(); // not animating: no repaint
  EXPECT_EQ(paints, before);
  w.SetGIFAnimate(true);
  before = paints;
  gif->NextFrame();
  EXPECT_EQ(paints, before + 1);
  EXPECT_EQ(gif->CurrentFrame(), 0);
  // The pool's own timer steps it, each step repainting.
  before = paints;
  QTRY_COMPARE_WITH_TIMEOUT(gif->CurrentFrame(), 1, 5000);
  EXPECT_GT(paints, before);
}
