// The pictures list and the picture window on the real main window: the
// information text, the viewing copy under the real format's extension, the
// window's size rules, its keys, and saving a picture.
#include "CommandsFixture.h"
#include "Pictures.h"
#include "Templates.h"
#include "app/U_ViewPic.h"
#include "app/Uglobalvar.h"
#include "imaging/MPGifImg.h"
#include "platform/FileSys.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using namespace plm;
using namespace fixtures;

namespace {

class Pictures : public CommandsTest {
protected:
  void SetUp() override {
    CommandsTest::SetUp();
    fLetters = Folder("letters");
    fGif = AnimatedGif(40, 30, {Qt::red, Qt::green, Qt::blue}, 2);
    std::vector<TemplateEntry> entries = {Text("content.ini", TemplateContent("Images")),
                                          Text("Flavor.htm", TemplatePage()),
                                          {"image1.dat", fGif},
                                          {"photo.jpeg", Jpeg(80, 40)},
                                          {"big.png", Png(1600, 1200)},
                                          Text("notes.txt", "pas une image")};
    WriteTemplate(fLetters + "/images.plm", entries);
  }
  std::unique_ptr<TF_Main> Loaded() {
    auto f = Open(fLetters);
    LeftClick(*f, 0);
    EXPECT_TRUE(WaitForPreview(*f));
    return f;
  }
  static int Row(TF_Main &f, const QString &name) {
    for (int i = 0; i < f.Listimages->count(); ++i)
      if (f.Listimages->item(i)->text() == name) return i;
    return -1;
  }
  // Double-clicks the entry; inside the modal window, inspect runs, then the
  // window is closed with key (if it is still open). Returns whether a picture
  // window appeared.
  bool DoubleClick(TF_Main &f, int row, const std::function<void(TF_ViewPic &)> &inspect,
                   Qt::Key key = Qt::Key_Escape) {
    bool seen = false;
    // The window runs modally once the double click has been handled: look for it from
    // a timer, which keeps firing inside the window's own event loop.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto *w = qobject_cast<TF_ViewPic *>(QApplication::activeModalWidget());
      if (!w || !w->isVisible()) return;
      poll.stop();
      seen = true;
      inspect(*w);
      if (w->isVisible()) QTest::keyClick(w, key);
      if (w->isVisible()) w->reject(); // never leave a test hanging on an open window
    });
    poll.start();
    f.Listimages->setCurrentRow(row);
    const QRect r = f.Listimages->visualItemRect(f.Listimages->item(row));
    QTest::mouseDClick(f.Listimages->viewport(), Qt::LeftButton, {}, r.center());
    QTest::qWait(50);
    poll.stop();
    // No picture window may outlive its run.
    EXPECT_TRUE(f.findChildren<TF_ViewPic *>().isEmpty());
    return seen;
  }
  std::string Preview(const std::string &name) const { return PreviewFolder() + "/" + name; }

  std::string fLetters;
  std::vector<uint8_t> fGif;
};

} // namespace

TEST_F(Pictures, InformationTextOfTheSelectedPicture) {
  auto f = Loaded();
  ASSERT_EQ(f->Listimages->count(), 4);
  ASSERT_EQ(f->Listimages->currentRow(), 0);
  const int gif = Row(*f, "image1.dat");
  ASSERT_GE(gif, 0);
  f->Listimages->setCurrentRow(gif);
  const QStringList lines = f->Labimageinfo->text().split('\n');
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[0], "Image Type: GIF");
  EXPECT_EQ(lines[1], "Width:40");
  EXPECT_EQ(lines[2], "Height:30");
  EXPECT_TRUE(lines[3].startsWith("Depth:"));
  EXPECT_EQ(lines[4], QString("File Size:%1 octets").arg(fGif.size()));

  f->Listimages->setCurrentRow(Row(*f, "notes.txt"));
  EXPECT_TRUE(
      f->Labimageinfo->text().startsWith("Image Type Undefined\nWidth:0\nHeight:0\nDepth:0"));
  f->Listimages->setCurrentRow(Row(*f, "big.png"));
  EXPECT_TRUE(f->Labimageinfo->text().startsWith("Image Type: PNG\nWidth:1600\nHeight:1200"));
}

TEST_F(Pictures, KeysMoveTheSelectionAndTheInformationFollows) {
  auto f = Loaded();
  f->Listimages->setFocus();
  f->Listimages->setCurrentRow(0);
  const QString first = f->Listimages->item(0)->text();
  QTest::keyClick(f->Listimages, Qt::Key_Down);
  ASSERT_EQ(f->Listimages->currentRow(), 1);
  const QString shown = f->Labimageinfo->text();
  f->Listimages->setCurrentRow(0);
  f->selectimage();
  f->Listimages->setCurrentRow(1);
  f->selectimage();
  EXPECT_EQ(shown, f->Labimageinfo->text());
  EXPECT_FALSE(shown.isEmpty());
}

TEST_F(Pictures, GifUnderAWrongNameOpensAsGifAndAnimates) {
  auto f = Loaded();
  bool animated = false;
  std::string proposed;
  const bool opened = DoubleClick(*f, Row(*f, "image1.dat"), [&](TF_ViewPic &w) {
    EXPECT_EQ(w.windowTitle(), "image1.dat");
    EXPECT_EQ(w.size(), QSize(128, 128)); // 40 x 30 is below the minimum
    EXPECT_EQ(w.AdvImage1->ImageName(), Preview("image1.GIF"));
    EXPECT_EQ(w.SourceFile, Preview("image1.GIF"));
    auto *g = dynamic_cast<TGIFImage *>(w.AdvImage1->Picture().Graphic());
    ASSERT_NE(g, nullptr);
    const int frame = g->CurrentFrame();
    animated = QTest::qWaitFor([&] { return g->CurrentFrame() != frame; }, 5000);
    fSaveAnswers = {QString()}; // look at the proposal, then cancel
    w.Savepicas->trigger();
    ASSERT_EQ(fSaveRequests.size(), 1u);
    proposed = fSaveRequests[0].fileName.toStdString();
  });
  EXPECT_TRUE(opened);
  EXPECT_TRUE(animated);
  EXPECT_EQ(proposed, "image1.GIF");
  EXPECT_EQ(ReadBytes(Preview("image1.GIF")), fGif);
  EXPECT_TRUE(FileExists(Preview("image1.dat")));
  // The viewing copy is not added to the list.
  EXPECT_EQ(Row(*f, "image1.GIF"), -1);
}

TEST_F(Pictures, JpegGetsAViewingCopyAndBigPicturesAskForTheirSize) {
  auto f = Loaded();
  EXPECT_TRUE(DoubleClick(*f, Row(*f, "photo.jpeg"), [&](TF_ViewPic &w) {
    EXPECT_EQ(w.AdvImage1->ImageName(), Preview("photo.JPG"));
    EXPECT_EQ(w.size(), QSize(128, 128));
  }));
  EXPECT_TRUE(FileExists(Preview("photo.JPG")));
  EXPECT_TRUE(DoubleClick(*f, Row(*f, "big.png"), [&](TF_ViewPic &w) {
    EXPECT_EQ(w.size(), QSize(1600, 1200));
    EXPECT_EQ(w.AdvImage1->ImageName(), Preview("big.PNG"));
    EXPECT_EQ(w.AdvImage1->Picture().Width(), 1600); // shown, not an empty window
  }));
}

TEST_F(Pictures, EnterEscapeAndSpaceCloseThePictureWindow) {
  auto f = Loaded();
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space}) {
    bool stillOpen = false;
    EXPECT_TRUE(DoubleClick(
        *f, Row(*f, "image1.dat"),
        [&](TF_ViewPic &w) {
          QTest::keyClick(w.AdvImage1, key);
          stillOpen = w.isVisible();
        },
        key));
    EXPECT_FALSE(stillOpen) << key;
  }
}

TEST_F(Pictures, NothingOpensForAnUnknownEntryOrNoSelection) {
  auto f = Loaded();
  EXPECT_FALSE(DoubleClick(*f, Row(*f, "notes.txt"), [](TF_ViewPic &) {}));
  f->Listimages->setCurrentRow(-1);
  f->ListimagesDblClick(); // returns at once: nothing to show
  EXPECT_TRUE(f->findChildren<TF_ViewPic *>().isEmpty());
}

TEST_F(Pictures, ViewingCopyNeverWritesThroughALinkOutOfThePreviewFolder) {
  auto f = Loaded();
  const std::string outside = fRoot + "/outside.GIF";
  fs::create_symlink(outside,
                     Preview("image1.GIF")); // planted, pointing nowhere yet
  EXPECT_TRUE(DoubleClick(*f, Row(*f, "image1.dat"), [](TF_ViewPic &) {}));
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_TRUE(fs::is_symlink(Preview("image1.GIF")));
}

TEST_F(Pictures, SavingTwiceOpensTheFolderChosenTheFirstTime) {
  auto f = Loaded();
  const std::string first = fRoot + "/saved1", second = fRoot + "/saved2";
  fs::create_directories(first);
  fs::create_directories(second);
  fSaveAnswers = {QString::fromStdString(first + "/image1.GIF"),
                  QString::fromStdString(second + "/autre.GIF")};
  EXPECT_TRUE(DoubleClick(*f, Row(*f, "image1.dat"), [&](TF_ViewPic &w) {
    w.Savepicas->trigger();
    w.Savepicas->trigger();
  }));
  ASSERT_EQ(fSaveRequests.size(), 2u);
  EXPECT_TRUE(fSaveRequests[0].initialDir.isEmpty());
  EXPECT_EQ(fSaveRequests[1].initialDir.toStdString(), first + "/");
  EXPECT_EQ(SavePath, second + "/");
  EXPECT_EQ(ReadBytes(first + "/image1.GIF"), fGif);
  EXPECT_EQ(ReadBytes(second + "/autre.GIF"), fGif);
  EXPECT_TRUE(fMessages.empty());
}
