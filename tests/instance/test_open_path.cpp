// The main window given a file or folder: on its command line, or handed over through its
// socket by a later start, as if the user had picked it.
#include "app/UAbout.h"
#include "app/Uglobalvar.h"
#include "components/UnPas2.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "tests/app/AppFixture.h"
#include "tests/instance/Processes.h"

#include <gtest/gtest.h>

#include <QTest>

using namespace plmtest;

namespace {

class OpenPath : public AppTest {
protected:
  void SetUp() override {
    AppTest::SetUp();
    fA = Dir("a");
    fB = Dir("b");
    Letter(fA, "seule.plm", "Seule");
    Letter(fB, "un.plm", "Un");
    Letter(fB, "deux.plm", "Deux");
  }
  void TearDown() override {
    plm::StartPath.clear();
    AppTest::TearDown();
  }

  std::string Letter(const std::string &folder, const std::string &name,
                     const std::string &display) {
    return MakeTemplate(folder, name,
                        {{"content.ini", ContentIni("Essai", display, "Plumora")},
                         {"Flavor.htm", Page(display, "Liberation Sans")}});
  }

  // The template selected and previewed, its preview ended.
  static bool Previews(TF_Main &f, const std::string &name, const QString &display) {
    return QTest::qWaitFor(
        [&] {
          const int i = f.FileListBox->ItemIndex();
          return i >= 0 && f.FileListBox->ItemText(i) == name &&
                 f.LabDisplay->text() == display && !plm::PreviewBusy;
        },
        30000);
  }

  std::string fA, fB;
};

TEST_F(OpenPath, AFolderIsShownAndATemplateIsSelectedAndPreviewed) {
  auto f = Open(fA);
  f->openpath(fB + "/./");
  EXPECT_EQ(f->ShellTreePath(), fB);
  EXPECT_EQ(f->LastFolder, fB);
  EXPECT_EQ(f->FileListBox->count(), 2);
  EXPECT_LT(f->FileListBox->ItemIndex(), 0);

  f->openpath(fA + "/../b/deux.plm");
  EXPECT_EQ(f->ShellTreePath(), fB);
  EXPECT_TRUE(Previews(*f, "deux.plm", "Deux"));
  EXPECT_TRUE(fMessages.isEmpty());
}

TEST_F(OpenPath, WhatIsMissingOrNoTemplateIsRefusedAndNothingChanges) {
  plm::WriteFileBytes(fB + "/notes.txt", "x");
  plm::WriteFileBytes(fB + "/.cachee.plm", "x");
  auto f = Open(fB);
  ClickItem(*f, 1);
  ASSERT_TRUE(Previews(*f, "un.plm", "Un"));

  for (const std::string &path :
       {fRoot + "/absent", fRoot + "/absent/lettre.plm", fB + "/notes.txt", fB + "/.cachee.plm"}) {
    SCOPED_TRACE(path);
    fMessages.clear();
    f->openpath(path);
    ASSERT_EQ(fMessages.size(), 1);
    EXPECT_TRUE(fMessages[0].contains(QString::fromStdString(path)));
    EXPECT_EQ(f->ShellTreePath(), fB);
    EXPECT_EQ(f->FileListBox->ItemIndex(), 1);
    EXPECT_EQ(f->LabDisplay->text(), "Un");
  }
  f->openpath(fRoot + "/absent");
  EXPECT_TRUE(fMessages.last().contains("n'existe pas"));
  f->openpath(fB + "/notes.txt");
  EXPECT_TRUE(fMessages.last().contains("n'est pas un modèle de lettre"));
}

TEST_F(OpenPath, APathGivenWhileAPreviewLoadsFollowsIt) {
  auto f = Open(fB);
  ClickItem(*f, 1); // un.plm starts loading
  ASSERT_TRUE(plm::PreviewBusy);
  f->openpath(fA + "/seule.plm");
  EXPECT_EQ(f->ShellTreePath(), fB);
  EXPECT_TRUE(Previews(*f, "seule.plm", "Seule"));
  EXPECT_EQ(f->ShellTreePath(), fA);
}

TEST_F(OpenPath, APathGivenWhileAnotherWindowIsOpenWaitsForItToClose) {
  auto f = Open(fA);
  TFAbout about(f.get());
  about.setWindowModality(Qt::ApplicationModal);
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  f->openpath(fB + "/un.plm");
  f->openpath(fB + "/deux.plm"); // the latest wins
  QTest::qWait(0);
  EXPECT_EQ(f->ShellTreePath(), fA);
  about.close();
  EXPECT_TRUE(Previews(*f, "deux.plm", "Deux"));
}

TEST_F(OpenPath, TheCommandLinePathWinsOverTheLastFolderAtTheFirstShow) {
  plm::StartPath = fB + "/deux.plm";
  auto f = Open(fA);
  EXPECT_TRUE(Previews(*f, "deux.plm", "Deux"));
  EXPECT_TRUE(plm::StartPath.empty());
}

TEST_F(OpenPath, TheFirstInstanceTakesPathsHandedOverThroughItsSocket) {
  auto f = Open(fA);
  ASSERT_FALSE(f->UnPas21->DejaLance());
  auto sent = SendAsync(f->UnPas21->MutexName(), fB + "/un.plm", 10000);
  ASSERT_TRUE(Finished(sent, 15000));
  EXPECT_TRUE(sent.get());
  EXPECT_TRUE(Previews(*f, "un.plm", "Un"));

  auto missing = SendAsync(f->UnPas21->MutexName(), fRoot + "/absent.plm", 10000);
  ASSERT_TRUE(Finished(missing, 15000));
  EXPECT_TRUE(missing.get()); // received, then refused
  ASSERT_TRUE(QTest::qWaitFor([&] { return !fMessages.isEmpty(); }, 5000));
  EXPECT_TRUE(fMessages[0].contains("absent.plm"));
  EXPECT_EQ(f->ShellTreePath(), fB);
  EXPECT_EQ(f->LabDisplay->text(), "Un");
}

} // namespace
