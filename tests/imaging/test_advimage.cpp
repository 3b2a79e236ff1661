// The picture viewer control: properties, loading by name, geometry and painting.
#include "GifFixtures.h"
#include "TestUtil.h"

#include "imaging/AdvImage.h"
#include "imaging/MPGifImg.h"
#include "imaging/MPTimer.h"
#include "platform/graphics/Streams.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

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

TEST_F(AdvImageTest, FormatsWithoutAClassLeaveItEmptySilently) {
  TAdvImage w;
  w.resize(50, 50);
  for (const char *name : {"pic.PNG", "pic.tif", "pic.pcx", "pic.bin"}) {
    const std::string path = fDir.Path(name);
    QImage(8, 8, QImage::Format_RGB32).save(QString::fromStdString(path), "PNG");
    EXPECT_NO_THROW(w.SetImageName(path)) << name;
    EXPECT_EQ(w.ImageType(), itUnknown) << name;
    EXPECT_EQ(w.Picture().Width(), 0) << name;
    EXPECT_EQ(w.ImageName(), path);
    EXPECT_GT(w.FileSize(), 0);
    Paint(w);
  }
  // A damaged file of a registered kind also leaves it empty.
  const std::string bad = fDir.Path("bad.jpg");
  fixtures::WriteFile(bad, std::vector<uint8_t>(64, 0x11));
  EXPECT_NO_THROW(w.SetImageName(bad));
  EXPECT_EQ(w.ImageType(), itUnknown);
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
