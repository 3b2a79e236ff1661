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

// A page with two pictures, and where the snapshot must show each.
struct PicturePage {
  const char *Name;
  std::string Page;
  std::vector<TemplateEntry> Pictures;
  QPoint First, Second; // where the snapshot shows the first picture, and the second
};

void PrintTo(const PicturePage &c, std::ostream *os) { *os << c.Name; }

const std::string kPageEnd = "<TABLE><TR><TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: DejaVu Sans\">x"
                             "</TD></TR></TABLE></BODY></HTML>\r\n";

class PlmtoolSnapshotPictures : public PlmtoolSnapshot,
                                public ::testing::WithParamInterface<PicturePage> {};

TEST_P(PlmtoolSnapshotPictures, AreShown) {
  const PicturePage &c = GetParam();
  std::vector<TemplateEntry> entries = {Text("content.ini", TemplateContent("Images")),
                                        Text("Flavor.htm", c.Page)};
  entries.insert(entries.end(), c.Pictures.begin(), c.Pictures.end());
  WriteTemplate(dir + "/images.plm", entries);
  const ToolRun r = Plmtool({Q(dir + "/images.plm"), Q(dir + "/images.jpg")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QImage shot(Q(dir + "/images.jpg"));
  ASSERT_FALSE(shot.isNull());
  const QColor first = shot.pixelColor(c.First), second = shot.pixelColor(c.Second);
  EXPECT_TRUE(first.green() > 150 && first.red() < 90 && first.blue() < 90)
      << first.name().toStdString();
  EXPECT_TRUE(second.blue() > 150 && second.red() < 90 && second.green() < 90)
      << second.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PlmtoolSnapshotPictures,
    ::testing::Values(
        // The page names its pictures in another letter case than the template stores
        // them, as templates made where file names ignore case do.
        PicturePage{"NamedInAnotherCase",
                    "<HTML><BODY style=\"margin:0\" bgColor=#ffffff>\r\n"
                    "<IMG src=\"FOND.PNG\" style=\"position:absolute;left:0;top:0;width:200px;"
                    "height:200px\"><DIV style=\"position:absolute;left:300px;top:0;width:200px;"
                    "height:200px;background-image:url(IMAGES/etoile.png)\"></DIV>\r\n" +
                        kPageEnd,
                    {{"fond.png", Png(200, 200, QColor(30, 200, 30))},
                     {"Images\\Etoile.PNG", Png(200, 200, QColor(30, 30, 200))}},
                    {100, 100},
                    {400, 100}},
        // Large pictures take the engine a while to decode, and it draws the page without
        // them meanwhile.
        PicturePage{"LargeOnesOnceDecoded",
                    "<HTML><BODY style=\"margin:0\" bgColor=#ffffff background=fond.jpg>\r\n"
                    "<IMG src=\"photo.png\" style=\"position:absolute;left:300px;top:0;"
                    "width:200px;height:200px\">" +
                        kPageEnd,
                    {{"fond.jpg", Jpeg(3000, 3000, QColor(30, 200, 30))},
                     {"photo.png", Png(3000, 3000, QColor(30, 30, 200))}},
                    {100, 300},
                    {400, 100}}),
    [](const auto &info) { return std::string(info.param.Name); });
