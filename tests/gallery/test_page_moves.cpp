// A page that tries to move (a refresh, a form that sends itself, a script changing its
// location) stays where it is: the snapshot and the thumbnail of the built plmtool succeed
// and show the template's page, and nothing outside is ever asked for.
#include "GalleryFixtures.h"

#include "preview/PageRender.h"
#include "platform/TempFolder.h"

#include <gtest/gtest.h>

#include <QTcpServer>

using namespace gallerytest;

namespace {

struct MoveCase {
  const char *Name;
  std::string Head, Body; // "PORT" stands for the outside server's port
};

std::string WithPort(std::string s, quint16 port) {
  for (size_t at; (at = s.find("PORT")) != std::string::npos;)
    s.replace(at, 4, std::to_string(port));
  return s;
}

class PageMoves : public ::testing::TestWithParam<MoveCase> {
protected:
  void SetUp() override {
    ASSERT_TRUE(outside.listen(QHostAddress::LocalHost));
    const MoveCase &c = GetParam();
    tpl = WriteTemplate(fRoot.Path() + "/moving.plm",
                        Page(WithPort(c.Head, outside.serverPort()), WithPort(c.Body, outside.serverPort())));
  }
  bool OutsideWasAsked() { return outside.waitForNewConnection(200) && outside.hasPendingConnections(); }
  plm::TTempFolder fRoot{"plm-page-moves-"};
  QTcpServer outside;
  std::string tpl;
};

TEST_P(PageMoves, SnapshotAndThumbnailShowTheTemplatesPage) {
  const std::string png = fRoot.Path() + "/t.png", jpg = fRoot.Path() + "/s.jpg";
  ToolRun r = RunPlmtool({"thumbnail", tpl, png});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(ShowsPage(QImage(QString::fromStdString(png))));
  r = RunPlmtool({"snapshot", tpl, jpg});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(ShowsPage(QImage(QString::fromStdString(jpg))));
  EXPECT_FALSE(OutsideWasAsked());
}

TEST_P(PageMoves, TheRendererHoldsEvenWithScriptsOn) {
  plm::TPageRenderer renderer;
  renderer.EnableScriptsForTests();
  EXPECT_TRUE(ShowsPage(renderer.RenderTemplate(tpl)));
  EXPECT_FALSE(OutsideWasAsked());
}

const char kSubmit[] = "<FORM id=f method=post action=\"http://127.0.0.1:PORT/form\">"
                       "<INPUT name=a value=1></FORM>"
                       "<SCRIPT>document.getElementById('f').submit()</SCRIPT>";

INSTANTIATE_TEST_SUITE_P(
    Moves, PageMoves,
    ::testing::Values(
        MoveCase{"RefreshOutsideAtOnce", "<META http-equiv=refresh content=\"0;url=http://127.0.0.1:PORT/r\">", ""},
        MoveCase{"RefreshOutsideLater", "<META http-equiv=refresh content=\"1;url=http://127.0.0.1:PORT/r\">", ""},
        MoveCase{"RefreshToAnotherFile", "<META http-equiv=refresh content=\"0;url=other.htm\">", ""},
        MoveCase{"RefreshOfItself", "<META http-equiv=refresh content=\"0\">", ""},
        MoveCase{"FormSendingItself", "", kSubmit},
        MoveCase{"ScriptMovingThePage", "", "<SCRIPT>location.href='http://127.0.0.1:PORT/s'</SCRIPT>"},
        MoveCase{"ScriptMovingToAnotherFile", "", "<SCRIPT>location.replace('other.htm')</SCRIPT>"}),
    [](const auto &info) { return std::string(info.param.Name); });

} // namespace
