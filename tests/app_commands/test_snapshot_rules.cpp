// The snapshot's rules without a window: sizes, label text, names, crop and scale, and the
// JPEG written (quality read back from its quantisation tables).
#include "Pictures.h"
#include "preview/Snapshot.h"
#include "imaging/JPEGImage.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using namespace plm;

namespace {
const QSize kBrowser(BrowserDesignWidth, BrowserDesignHeight);

std::vector<int> Sorted(std::vector<int> v) {
  std::sort(v.begin(), v.end());
  return v;
}
} // namespace

TEST(SnapshotRules, SizesAndLabelAtEachScale) {
  EXPECT_EQ(SnapshotSize(kBrowser, 100), QSize(677, 565));
  EXPECT_EQ(SnapshotSize(kBrowser, 50), QSize(338, 282)); // 338.5 and 282.5 truncated
  EXPECT_EQ(SnapshotSize(kBrowser, 10), QSize(67, 56));
  EXPECT_EQ(ImageSizeText(kBrowser, 100), "699 x 568");
  EXPECT_EQ(ImageSizeText(kBrowser, 50), "349 x 284");
  EXPECT_EQ(ImageSizeText(kBrowser, 10), "69 x 56");
  EXPECT_EQ(ImageSizeText(kBrowser, 33), "230 x 187");
}

TEST(SnapshotRules, QualityStepsAndNames) {
  EXPECT_EQ(SnapshotQuality(1), 10);
  EXPECT_EQ(SnapshotQuality(8), 80);
  EXPECT_EQ(SnapshotQuality(10), 100);
  EXPECT_EQ(SnapshotFileName("Noel.plm"), "Noel_snap.jpg");
  EXPECT_EQ(SnapshotFileName("my.letter.plm"), "my_snap.jpg");
  EXPECT_EQ(SnapshotFileName("sans extension"), "sans extension_snap.jpg");
  EXPECT_EQ(SnapshotPath("/data/Lettres", "Noel.plm"), "/data/Lettres/Noel_snap.jpg");
  EXPECT_EQ(SnapshotPath("/data/Lettres/", "Noel.plm"), "/data/Lettres/Noel_snap.jpg");
}

TEST(SnapshotRules, CropLeavesOutTheRightAndBottomEdges) {
  QImage grab(kBrowser, QImage::Format_RGB32);
  grab.fill(Qt::white);
  for (int y = 0; y < grab.height(); ++y)
    for (int x = 677; x < grab.width(); ++x)
      grab.setPixelColor(x, y, Qt::green);
  for (int y = 565; y < grab.height(); ++y)
    for (int x = 0; x < grab.width(); ++x)
      grab.setPixelColor(x, y, Qt::blue);
  grab.setPixelColor(0, 0, Qt::red);
  grab.setPixelColor(676, 564, Qt::red);

  const QImage full = SnapshotPicture(grab, kBrowser, 100);
  ASSERT_EQ(full.size(), QSize(677, 565));
  EXPECT_EQ(full.format(), QImage::Format_RGB888);
  EXPECT_EQ(full.pixelColor(0, 0), QColor(Qt::red));
  EXPECT_EQ(full.pixelColor(676, 564), QColor(Qt::red));
  for (int x = 0; x < full.width(); x += 13)
    for (int y = 0; y < full.height(); y += 11) {
      const QColor c = full.pixelColor(x, y);
      ASSERT_TRUE(c != QColor(Qt::green) && c != QColor(Qt::blue)) << x << "," << y;
    }

  const QImage half = SnapshotPicture(grab, kBrowser, 50);
  EXPECT_EQ(half.size(), QSize(338, 282));
  const QImage tenth = SnapshotPicture(grab, kBrowser, 10);
  EXPECT_EQ(tenth.size(), QSize(67, 56));
  // Nearest pixel: only colours of the source, never blends.
  for (int x = 0; x < half.width(); ++x) {
    const QColor c = half.pixelColor(x, 140);
    ASSERT_TRUE(c == QColor(Qt::white) || c == QColor(Qt::red)) << x;
  }
}

TEST(SnapshotRules, HighDensityGrabIsReadInDevicePixels) {
  QImage grab(kBrowser * 2, QImage::Format_RGB32);
  grab.fill(Qt::white);
  grab.setDevicePixelRatio(2.0);
  for (int y = 0; y < grab.height(); ++y)
    for (int x = 677 * 2; x < grab.width(); ++x)
      grab.setPixelColor(x, y, Qt::green);
  const QImage full = SnapshotPicture(grab, kBrowser, 100);
  ASSERT_EQ(full.size(), QSize(677, 565));
  EXPECT_EQ(full.devicePixelRatio(), 1.0);
  EXPECT_EQ(full.pixelColor(676, 300), QColor(Qt::white));
}

TEST(SnapshotRules, EmptyAreaIsRefused) {
  QImage grab(20, 2, QImage::Format_RGB32);
  EXPECT_THROW(SnapshotPicture(grab, QSize(20, 2), 100), EInvalidGraphicOperation);
}

TEST(SnapshotRules, QualityReadBackFromTheQuantisationTables) {
  QImage picture(64, 48, QImage::Format_RGB888);
  picture.fill(QColor(10, 120, 200));
  for (int quality : {10, 80, 100}) {
    const auto facts = fixtures::ReadJpegFacts(EncodeSnapshot(picture, quality));
    ASSERT_FALSE(facts.Tables.empty()) << quality;
    EXPECT_TRUE(facts.Baseline) << quality;
    EXPECT_EQ(facts.Components, 3) << quality; // colour
    EXPECT_EQ(facts.Width, 64);
    EXPECT_EQ(facts.Height, 48);
    EXPECT_EQ(Sorted(facts.Tables[0]), Sorted(fixtures::ExpectedLuminanceTable(quality)))
        << quality;
  }
  const auto best = fixtures::ReadJpegFacts(EncodeSnapshot(picture, 100));
  EXPECT_TRUE(
      std::all_of(best.Tables[0].begin(), best.Tables[0].end(), [](int v) { return v == 1; }));
}

class SnapshotFiles : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    dir = tmp.path().toStdString();
    picture = QImage(67, 56, QImage::Format_RGB888);
    picture.fill(QColor(250, 200, 10));
  }
  QTemporaryDir tmp;
  std::string dir;
  QImage picture;
};

TEST_F(SnapshotFiles, WritesAndReplacesTheSnapshot) {
  const std::string path = SnapshotPath(dir, "Noel.plm");
  fixtures::WriteText(path, "an older snapshot");
  SaveSnapshot(picture, 80, path);
  const auto bytes = fixtures::ReadBytes(path);
  const auto facts = fixtures::ReadJpegFacts(bytes);
  EXPECT_EQ(facts.Width, 67);
  EXPECT_EQ(facts.Height, 56);
  TJPEGImage back;
  back.LoadFromFile(path);
  EXPECT_EQ(back.Width(), 67);
  EXPECT_EQ(back.Height(), 56);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(SnapshotFiles, FailedWriteRaisesAndKeepsWhatWasThere) {
  const std::string blocked = SnapshotPath(dir, "Blocked.plm");
  fs::create_directory(blocked); // a folder stands where the file would go
  EXPECT_THROW(SaveSnapshot(picture, 80, blocked), EFOpenError);
  EXPECT_TRUE(fs::is_directory(blocked));
  try {
    SaveSnapshot(picture, 80, dir + "/gone/x_snap.jpg");
    FAIL() << "a missing folder must fail";
  } catch (const EFOpenError &e) {
    EXPECT_NE(e.message().find("gone/x_snap.jpg"), std::string::npos) << e.message();
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}
