// The snapshot button on the real main window: the sizes at each scale with the
// size label, the quality steps read back from the file, the name rule,
// replacing an older snapshot, and a write that fails.
#include "CommandsFixture.h"
#include "Pictures.h"
#include "Templates.h"
#include "imaging/JPEGImage.h"
#include "platform/FileSys.h"

#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QWebEngineView>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using namespace plm;
using namespace fixtures;

namespace {

class SnapshotButton : public CommandsTest {
protected:
  void SetUp() override {
    CommandsTest::SetUp();
    fLetters = Folder("Lettres");
  }
  // Opens the folder, previews its first template and waits for the page on
  // screen.
  std::unique_ptr<TF_Main> Loaded(const std::string &name) {
    Template(fLetters, name, "Snap");
    auto f = Open(fLetters);
    LeftClick(*f, 0);
    EXPECT_TRUE(WaitForPreview(*f));
    EXPECT_TRUE(WaitForPainted(*f));
    return f;
  }
  static void Click(TF_Main &f) { QTest::mouseClick(f.Snapshot_btn, Qt::LeftButton); }
  static JpegFacts Facts(const std::string &path) { return ReadJpegFacts(ReadBytes(path)); }
  std::string fLetters;
};

} // namespace

TEST_F(SnapshotButton, SizesAtFullHalfAndATenthWithTheSizeLabel) {
  auto f = Loaded("Noel.plm");
  f->move(240, 170); // not at the screen's corner: the picture is the browser's
                     // all the same
  ASSERT_TRUE(f->Snapshot_btn->isEnabled());
  EXPECT_EQ(f->imagesize->text(), "699 x 568");
  EXPECT_EQ(f->Qualvalue->text(), "8");
  const std::string snap = fLetters + "/Noel_snap.jpg";

  Click(*f);
  ASSERT_TRUE(FileExists(snap));
  JpegFacts facts = Facts(snap);
  EXPECT_EQ(QSize(facts.Width, facts.Height), QSize(677, 565));
  EXPECT_TRUE(facts.Baseline);
  EXPECT_EQ(facts.Components, 3);
  ASSERT_FALSE(facts.Tables.empty());
  std::vector<int> got = facts.Tables[0], want = ExpectedLuminanceTable(80);
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want); // quality step 8 is JPEG quality 80
  TJPEGImage back;
  back.LoadFromFile(snap);
  const QImage pixels = back.ToImage();
  const QColor centre = pixels.pixelColor(pixels.width() / 2, pixels.height() / 2);
  EXPECT_GT(centre.red(),
            150); // the page's background, not the screen behind it
  EXPECT_LT(centre.green(), 100);

  f->coefsize->setValue(50);
  EXPECT_EQ(f->imagesize->text(), "349 x 284");
  Click(*f);
  facts = Facts(snap);
  EXPECT_EQ(QSize(facts.Width, facts.Height), QSize(338, 282));

  f->coefsize->setValue(10);
  EXPECT_EQ(f->imagesize->text(), "69 x 56");
  Click(*f);
  facts = Facts(snap);
  EXPECT_EQ(QSize(facts.Width, facts.Height), QSize(67, 56));
  EXPECT_TRUE(fMessages.empty());
  // Nothing else appears beside the template: no temporary files left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(fLetters), fs::directory_iterator()), 2);
}

TEST_F(SnapshotButton, ScaleChangesWithItsArrowsOnly) {
  auto f = Loaded("Noel.plm");
  f->coefsize->setFocus();
  QTest::keyClick(f->coefsize, Qt::Key_Down);
  EXPECT_EQ(f->coefsize->value(), 99);
  EXPECT_EQ(f->imagesize->text(), "692 x 562");
  QTest::keyClicks(f->coefsize, "5");
  EXPECT_EQ(f->coefsize->value(), 99);
  f->coefsize->setValue(5); // below the range
  EXPECT_EQ(f->coefsize->value(), 10);
}

TEST_F(SnapshotButton, QualityStepsReadBackFromTheFile) {
  auto f = Loaded("Noel.plm");
  const std::string snap = fLetters + "/Noel_snap.jpg";
  f->TrackBar1->setValue(1);
  EXPECT_EQ(f->Qualvalue->text(), "1");
  Click(*f);
  auto facts = Facts(snap);
  ASSERT_FALSE(facts.Tables.empty());
  EXPECT_EQ(facts.Tables[0].front(), ExpectedLuminanceTable(10).front());
  std::vector<int> low = facts.Tables[0], want = ExpectedLuminanceTable(10);
  std::sort(low.begin(), low.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(low, want);

  f->TrackBar1->setValue(10);
  EXPECT_EQ(f->Qualvalue->text(), "10");
  Click(*f);
  facts = Facts(snap);
  ASSERT_FALSE(facts.Tables.empty());
  EXPECT_TRUE(
      std::all_of(facts.Tables[0].begin(), facts.Tables[0].end(), [](int v) { return v == 1; }));
}

TEST_F(SnapshotButton, NameStopsAtTheFirstDotAndAnOlderSnapshotIsReplaced) {
  WriteText(fLetters + "/my_snap.jpg", "an older snapshot");
  auto f = Loaded("my.letter.plm");
  Click(*f);
  const auto bytes = ReadBytes(fLetters + "/my_snap.jpg");
  ASSERT_GT(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  EXPECT_FALSE(FileExists(fLetters + "/my.letter_snap.jpg"));
  EXPECT_TRUE(fMessages.empty());
}

TEST_F(SnapshotButton, AFailedWriteIsReportedAndLeavesWhatWasThere) {
  auto f = Loaded("Noel.plm");
  fs::create_directory(fLetters + "/Noel_snap.jpg"); // something that is not a file is in the way
  Click(*f);
  ASSERT_EQ(fMessages.size(), 1u);
  EXPECT_EQ(fMessages[0].type, TMsgDlgType::mtError);
  EXPECT_TRUE(fMessages[0].text.contains("Noel_snap.jpg")) << fMessages[0].text.toStdString();
  EXPECT_TRUE(fs::is_directory(fLetters + "/Noel_snap.jpg"));
  EXPECT_EQ(std::distance(fs::directory_iterator(fLetters), fs::directory_iterator()), 2);
}

TEST_F(SnapshotButton, NotOfferedOnACdRom) {
  const std::string cd = Folder("cdrom", DRIVE_CDROM);
  Template(cd, "Noel.plm", "Snap");
  auto f = Open(cd);
  LeftClick(*f, 0);
  ASSERT_TRUE(WaitForPreview(*f));
  EXPECT_FALSE(f->Snapshot_btn->isEnabled());
}
