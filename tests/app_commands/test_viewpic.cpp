// The picture window on its own: its stored settings, the keys that close it, the
// animation of a GIF, and saving copies of the picture.
#include "Pictures.h"
#include "app/U_ViewPic.h"
#include "app/Uglobalvar.h"
#include "imaging/GifScreen.h"
#include "imaging/MPGifImg.h"
#include "imaging/MPTimer.h"
#include "platform/gui/Dialogs.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using namespace plm;

namespace {

// Answers the save dialog and records the message boxes instead of a person.
class DialogAnswers {
public:
  DialogAnswers() {
    fOldMessage = SetMessageHandler([this](const MessageRequest &r) {
      Messages.push_back(r);
      return mrOk;
    });
    fOldSave = SetSaveDialogHandler([this](const SaveDialogRequest &r) -> std::optional<QString> {
      Requests.push_back(r);
      if (Answers.empty()) return std::nullopt;
      QString a = Answers.front();
      Answers.erase(Answers.begin());
      if (a.isEmpty()) return std::nullopt; // Cancel
      return a;
    });
  }
  ~DialogAnswers() {
    SetMessageHandler(std::move(fOldMessage));
    SetSaveDialogHandler(std::move(fOldSave));
  }
  std::vector<QString> Answers; // one per dialog; an empty one cancels
  std::vector<SaveDialogRequest> Requests;
  std::vector<MessageRequest> Messages;

private:
  MessageHandler fOldMessage;
  SaveDialogHandler fOldSave;
};

class ViewPic : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    dir = tmp.path().toStdString();
    fs::create_directories(dir + "/preview");
    gif = dir + "/preview/image1.GIF";
    fixtures::WriteBytes(gif, fixtures::AnimatedGif(40, 30, {Qt::red, Qt::green, Qt::blue}, 2));
    SavePath.clear();
  }
  void TearDown() override { SavePath.clear(); }
  std::unique_ptr<TF_ViewPic> Open(const std::string &file) {
    auto w = std::make_unique<TF_ViewPic>();
    w->AdvImage1->SetImageName(file);
    w->SourceFile = file;
    w->SetClientSize(128, 128);
    return w;
  }
  QTemporaryDir tmp;
  std::string dir, gif;
};

} // namespace

TEST_F(ViewPic, StoredSettingsOfTheWindow) {
  TF_ViewPic w;
  EXPECT_EQ(w.objectName(), "TF_ViewPic");
  const TAdvImage *a = w.AdvImage1;
  EXPECT_TRUE(a->GIFAnimate());
  EXPECT_EQ(a->GifAnimateSpeed(), 10);
  EXPECT_EQ(a->BevelWidth(), 1);
  EXPECT_FALSE(a->ShowFrame3D());
  EXPECT_FALSE(a->StretchRatio());
  EXPECT_FALSE(a->CenterView());
  EXPECT_FALSE(a->ShowEmptyLabel());
  EXPECT_EQ(a->EmptyLabel(), "Vide");
  EXPECT_EQ(a->JPEGPixelFormat(), jf24Bit);
  EXPECT_EQ(a->JPEGScale(), jsFullSize);
  EXPECT_FALSE(a->JPEGGrayscale());
  EXPECT_EQ(a->JPEGPerformance(), jpBestQuality);
  EXPECT_FALSE(a->JPEGSmoothing());
  EXPECT_FALSE(a->JPEGProgressiveDisplay());
  ASSERT_EQ(w.Savepic->actions().size(), 1);
  EXPECT_EQ(w.Savepic->actions()[0], w.Savepicas);
  EXPECT_EQ(w.Savepicas->text(), "Enregistrer l'image sous ...");
  EXPECT_TRUE(w.SaveDialog.filter.isEmpty());
  EXPECT_TRUE(w.SaveDialog.defaultExt.isEmpty());
  EXPECT_TRUE(w.SaveDialog.overwritePrompt);
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
}

TEST_F(ViewPic, ClientSizeIsKeptAsSet) {
  TF_ViewPic w;
  w.SetClientSize(1600, 1200);
  EXPECT_EQ(w.size(), QSize(1600, 1200));
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
}

TEST_F(ViewPic, EnterEscapeAndSpaceCloseTheWindow) {
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
    auto w = Open(gif);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    QTest::keyClick(w->AdvImage1, key); // aimed at the picture: the window sees it first
    EXPECT_FALSE(w->isVisible()) << key;
  }
  auto w = Open(gif);
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  QTest::keyClick(w.get(), Qt::Key_A);
  QTest::keyClick(w.get(), Qt::Key_Tab);
  EXPECT_TRUE(w->isVisible());
}

TEST_F(ViewPic, GifAnimatesWhileShown) {
  auto w = Open(gif);
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  auto *g = dynamic_cast<TGIFImage *>(w->AdvImage1->Picture().Graphic());
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->FrameCount(), 3);
  const int first = g->CurrentFrame();
  EXPECT_TRUE(QTest::qWaitFor([&] { return g->CurrentFrame() != first; }, 5000));
}

TEST_F(ViewPic, OptimizedAnimationShowsEachWholeFrameOnScreen) {
  // Three whole frames; gifsicle keeps of the later ones only the rectangles that change,
  // with transparent pixels where the frame before shows through.
  std::vector<QImage> frames(3, QImage(40, 30, QImage::Format_RGB32));
  frames[0].fill(QColor(0, 0, 255));
  QPainter(&frames[0]).fillRect(4, 4, 20, 10, QColor(255, 0, 0));
  frames[1] = frames[0].copy();
  QPainter(&frames[1]).fillRect(22, 12, 9, 9, QColor(0, 255, 0));
  frames[2] = frames[1].copy();
  {
    QPainter p(&frames[2]);
    p.fillRect(4, 4, 20, 10, QColor(0, 0, 255));
    p.fillRect(6, 20, 4, 4, QColor(255, 255, 0));
    p.fillRect(23, 13, 3, 3, QColor(255, 0, 0));
  }
  std::string names;
  for (int i = 0; i < 3; ++i) {
    const std::string png = dir + "/f" + std::to_string(i) + ".png";
    ASSERT_TRUE(frames[size_t(i)].save(QString::fromStdString(png)));
    ASSERT_EQ(std::system(("convert-im6.q16 " + png + " " + png + ".gif").c_str()), 0);
    names += " " + png + ".gif";
  }
  const std::string anim = dir + "/preview/anim.gif";
  ASSERT_EQ(std::system(("gifsicle -O2 --delay 10 --loopcount" + names + " -o " + anim).c_str()),
            0);

  auto w = Open(anim);
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  auto *g = dynamic_cast<TGIFImage *>(w->AdvImage1->Picture().Graphic());
  ASSERT_NE(g, nullptr);
  ASSERT_TRUE(g->Composed());
  ASSERT_EQ(g->Screen().Count(), 3);
  ASSERT_LT(g->Data()->FrameBitmap(1).Width(), 40) << "not an optimized animation";
  // The steps come from the picture's trigger, fired here rather than by the clock.
  g->SetAnimate(false);
  TTrigger *t = GIFTimerPool()->TriggerByHandle(g->TriggerHandle());
  // What the window paints, whatever other tests' windows cover it on a shared display.
  auto onScreen = [&] {
    return w->grab(QRect(0, 0, 40, 30)).toImage().convertToFormat(QImage::Format_RGB32);
  };
  for (int step = 0; step < 4; ++step) {
    if (step > 0) t->Fire(t->LastTick + 100);
    const QImage &expected = frames[size_t(step % 3)];
    EXPECT_TRUE(QTest::qWaitFor([&] { return onScreen() == expected; }, 5000))
        << "step " << step;
  }
}

TEST_F(ViewPic, SavingTwiceOpensWhereTheFirstSaveWent) {
  DialogAnswers answers;
  fs::create_directories(dir + "/chosen");
  fs::create_directories(dir + "/other");
  answers.Answers = {QString::fromStdString(dir + "/chosen/copy one.GIF"),
                     QString::fromStdString(dir + "/other/copy two.GIF")};
  auto w = Open(gif);
  w->Savepicas->trigger();
  w->Savepicas->trigger();
  ASSERT_EQ(answers.Requests.size(), 2u);
  EXPECT_EQ(answers.Requests[0].fileName, "image1.GIF");
  EXPECT_TRUE(answers.Requests[0].initialDir.isEmpty());
  EXPECT_EQ(answers.Requests[1].initialDir.toStdString(), dir + "/chosen/");
  EXPECT_EQ(answers.Requests[1].parent, w.get());
  EXPECT_EQ(SavePath, dir + "/other/");
  EXPECT_EQ(fixtures::ReadBytes(dir + "/chosen/copy one.GIF"), fixtures::ReadBytes(gif));
  EXPECT_EQ(fixtures::ReadBytes(dir + "/other/copy two.GIF"), fixtures::ReadBytes(gif));
  EXPECT_TRUE(answers.Messages.empty());
}

TEST_F(ViewPic, SavingReplacesAnExistingFile) {
  DialogAnswers answers;
  fixtures::WriteText(dir + "/old.GIF", "previous");
  answers.Answers = {QString::fromStdString(dir + "/old.GIF")};
  auto w = Open(gif);
  w->Savepicas->trigger();
  EXPECT_EQ(fixtures::ReadBytes(dir + "/old.GIF"), fixtures::ReadBytes(gif));
}

TEST_F(ViewPic, CancelSavesNothing) {
  DialogAnswers answers;
  answers.Answers = {QString()};
  SavePath = dir + "/before/";
  auto w = Open(gif);
  w->Savepicas->trigger();
  ASSERT_EQ(answers.Requests.size(), 1u);
  EXPECT_EQ(answers.Requests[0].initialDir.toStdString(), dir + "/before/");
  EXPECT_EQ(SavePath, dir + "/before/");
  EXPECT_TRUE(answers.Messages.empty());
}

TEST_F(ViewPic, FailedCopyIsReportedAndNotRemembered) {
  DialogAnswers answers;
  fs::create_directories(dir + "/a folder.GIF");
  answers.Answers = {QString::fromStdString(dir + "/missing/x.GIF"),
                     QString::fromStdString(dir + "/a folder.GIF")};
  SavePath = dir + "/before/";
  auto w = Open(gif);
  w->Savepicas->trigger();
  w->Savepicas->trigger();
  ASSERT_EQ(answers.Messages.size(), 2u);
  EXPECT_EQ(answers.Messages[0].type, TMsgDlgType::mtError);
  EXPECT_TRUE(answers.Messages[0].text.startsWith("Impossible d'enregistrer l'image sous"))
      << answers.Messages[0].text.toStdString();
  EXPECT_TRUE(answers.Messages[0].text.contains("missing/x.GIF"));
  EXPECT_EQ(SavePath, dir + "/before/");
  EXPECT_FALSE(fs::exists(dir + "/missing"));
  EXPECT_TRUE(fs::is_directory(dir + "/a folder.GIF"));
}

TEST_F(ViewPic, MissingSourceIsReportedNotPassedForSaved) {
  DialogAnswers answers;
  answers.Answers = {QString::fromStdString(dir + "/copy.GIF")};
  auto w = Open(gif);
  w->SourceFile = dir + "/preview/vanished.GIF";
  w->Savepicas->trigger();
  EXPECT_EQ(answers.Messages.size(), 1u);
  EXPECT_FALSE(fs::exists(dir + "/copy.GIF"));
  EXPECT_TRUE(SavePath.empty());
}

TEST(ViewingCopy, NamesCarryTheRealFormatAndStayInTheFolder) {
  EXPECT_EQ(ViewingCopyName("image1.dat", 1), "image1.GIF");
  EXPECT_EQ(ViewingCopyName("photo.jpeg", 2), "photo.JPG");
  EXPECT_EQ(ViewingCopyName("photo.jpg", 2), "photo.JPG");
  EXPECT_EQ(ViewingCopyName("scan", 6), "scan.TIFF");
  EXPECT_EQ(ViewingCopyName("a.b.c", 3), "a.b.PNG");
  EXPECT_EQ(ViewingCopyName("pic.pcx", 5), "pic.PCX");
  EXPECT_EQ(ViewingCopyName("pic.bmp", 4), "pic.BMP");
  EXPECT_EQ(ViewingCopyName("notes.txt", 0), "");
  EXPECT_EQ(ViewingCopyName("odd.bin", 7), "");
  EXPECT_EQ(ViewingCopyName("..", 1), "");
  EXPECT_EQ(ViewingCopyName(".", 1), "");
  EXPECT_EQ(ViewingCopyName("", 1), "");
  EXPECT_EQ(ViewingCopyName("../escape.dat", 1), "");
  EXPECT_EQ(ViewingCopyName("sub/inner.dat", 1), "");
}
