// plmtool snapshot from the command line: the button's sizes, names and quality, for
// templates made on the spot.
#include "Pictures.h"
#include "Templates.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using namespace fixtures;

namespace {

struct ToolRun {
  int code = -1;
  QString out, err;
};

ToolRun Plmtool(const QStringList &args) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
  env.remove("QT_QPA_PLATFORM"); // the tool needs no screen of its own
  p.setProcessEnvironment(env);
  p.start(QString(PLM_BIN_DIR) + "/plmtool", QStringList{"snapshot"} + args);
  ToolRun r;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

class PlmtoolSnapshot : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    dir = tmp.path().toStdString();
    if (!fs::exists(std::string(PLM_BIN_DIR) + "/plmtool")) GTEST_SKIP() << "plmtool not built";
    WriteSimpleTemplate(dir + "/my.letter.plm", "Essai");
  }
  QString Q(const std::string &s) const { return QString::fromStdString(s); }
  QTemporaryDir tmp;
  std::string dir;
};

} // namespace

TEST_F(PlmtoolSnapshot, WritesTheButtonsSnapshotIntoAFolderOrAFile) {
  ToolRun r = Plmtool({Q(dir + "/my.letter.plm"), Q(dir), "--scale", "50", "--quality", "10"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const auto facts = ReadJpegFacts(ReadBytes(dir + "/my_snap.jpg"));
  EXPECT_EQ(facts.Width, 338);
  EXPECT_EQ(facts.Height, 282);
  ASSERT_FALSE(facts.Tables.empty());
  EXPECT_TRUE(
      std::all_of(facts.Tables[0].begin(), facts.Tables[0].end(), [](int v) { return v == 1; }));

  r = Plmtool({Q(dir + "/my.letter.plm"), Q(dir + "/thumb.jpg")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const auto full = ReadJpegFacts(ReadBytes(dir + "/thumb.jpg"));
  EXPECT_EQ(full.Width, 677);
  EXPECT_EQ(full.Height, 565);
  std::vector<int> got = full.Tables[0], want = ExpectedLuminanceTable(80);
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
}

TEST_F(PlmtoolSnapshot, RefusesBadArgumentsAndReportsBadTemplates) {
  EXPECT_EQ(Plmtool({Q(dir + "/my.letter.plm"), Q(dir), "--scale", "5"}).code, 2);
  EXPECT_EQ(Plmtool({Q(dir + "/my.letter.plm"), Q(dir), "--quality", "11"}).code, 2);
  EXPECT_EQ(Plmtool({Q(dir + "/my.letter.plm"), Q(dir), "--quality", "x"}).code, 2);
  EXPECT_EQ(Plmtool({Q(dir + "/my.letter.plm")}).code, 2);
  EXPECT_EQ(Plmtool({Q(dir + "/my.letter.plm"), Q(dir), "--colour"}).code, 2);
  WriteText(dir + "/broken.plm", "not a cabinet");
  const ToolRun r = Plmtool({Q(dir + "/broken.plm"), Q(dir)});
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(r.err.isEmpty());
  EXPECT_FALSE(fs::exists(dir + "/broken_snap.jpg"));
  EXPECT_FALSE(fs::exists(dir + "/my_snap.jpg"));
}

// Large pictures take the engine a while to decode, and it draws the page without them
// meanwhile: the snapshot waits for them.
TEST_F(PlmtoolSnapshot, ShowsLargePicturesOnceDecoded) {
  const std::string page =
      "<HTML><BODY style=\"margin:0\" bgColor=#ffffff background=fond.jpg>\r\n"
      "<IMG src=\"photo.png\" style=\"position:absolute;left:300px;top:0;width:200px;height:200px\">"
      "<TABLE><TR><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: DejaVu Sans\">x</TD></TR>"
      "</TABLE></BODY></HTML>\r\n";
  WriteTemplate(dir + "/grandes.plm", {Text("content.ini", TemplateContent("Grandes")),
                                       Text("Flavor.htm", page),
                                       {"fond.jpg", Jpeg(3000, 3000, QColor(200, 30, 30))},
                                       {"photo.png", Png(3000, 3000, QColor(30, 30, 200))}});
  const ToolRun r = Plmtool({Q(dir + "/grandes.plm"), Q(dir + "/grandes.jpg")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QImage shot(Q(dir + "/grandes.jpg"));
  ASSERT_FALSE(shot.isNull());
  const QColor fond = shot.pixelColor(100, 300), photo = shot.pixelColor(400, 100);
  EXPECT_TRUE(fond.red() > 150 && fond.green() < 90 && fond.blue() < 90) << fond.name().toStdString();
  EXPECT_TRUE(photo.blue() > 150 && photo.red() < 90 && photo.green() < 90)
      << photo.name().toStdString();
}

// The page names its pictures in another letter case than the template stores them, as
// templates made where file names ignore case do: the snapshot shows the pictures.
TEST_F(PlmtoolSnapshot, ShowsPicturesNamedInAnotherCase) {
  const std::string page =
      "<HTML><BODY style=\"margin:0\" bgColor=#ffffff>\r\n"
      "<IMG src=\"FOND.PNG\" style=\"position:absolute;left:0;top:0;width:200px;height:200px\">"
      "<DIV style=\"position:absolute;left:300px;top:0;width:200px;height:200px;"
      "background-image:url(IMAGES/etoile.png)\"></DIV>\r\n"
      "<TABLE><TR><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: DejaVu Sans\">x</TD></TR>"
      "</TABLE></BODY></HTML>\r\n";
  WriteTemplate(dir + "/case.plm", {Text("content.ini", TemplateContent("Casse")),
                                    Text("Flavor.htm", page),
                                    {"fond.png", Png(200, 200, QColor(30, 200, 30))},
                                    {"Images\\Etoile.PNG", Png(200, 200, QColor(30, 30, 200))}});
  const ToolRun r = Plmtool({Q(dir + "/case.plm"), Q(dir + "/case.jpg")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QImage shot(Q(dir + "/case.jpg"));
  ASSERT_FALSE(shot.isNull());
  const QColor fond = shot.pixelColor(100, 100), etoile = shot.pixelColor(400, 100);
  EXPECT_TRUE(fond.green() > 150 && fond.red() < 90 && fond.blue() < 90)
      << fond.name().toStdString();
  EXPECT_TRUE(etoile.blue() > 150 && etoile.red() < 90 && etoile.green() < 90)
      << etoile.name().toStdString();
}
