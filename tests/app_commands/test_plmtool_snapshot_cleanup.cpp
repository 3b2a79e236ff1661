// plmtool snapshot leaves no temporary folder behind: not after a refused bomb, not after
// a template whose file names are not UTF-8, not when Ctrl-C or SIGTERM stops it.
#include "Templates.h"

#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "samples/HostileCabinets.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

#include <signal.h>

using namespace fixtures;

namespace {

class SnapshotCleanup : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(fTmp.isValid());
    fDir = fTmp.path().toStdString();
    fTmpDir = fDir + "/tmp";
    ASSERT_TRUE(plm::ForceDirectories(fTmpDir));
  }
  void Start(QProcess &p, const std::string &tpl) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("TMPDIR", QString::fromStdString(fTmpDir));
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QString(PLM_BIN_DIR) + "/plmtool",
            {"snapshot", QString::fromStdString(tpl), QString::fromStdString(fDir)});
    ASSERT_TRUE(p.waitForStarted());
  }
  int Snapshot(const std::string &tpl, QString *err = nullptr) {
    QProcess p;
    Start(p, tpl);
    EXPECT_TRUE(p.waitForFinished(120000));
    if (err) *err = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  }
  // What is in TMPDIR: the tool's own folder while it runs, nothing afterwards.
  std::vector<std::string> ToolFolders() const { return plm::ListDirectory(fTmpDir); }
  // Whether a template's unpacked file of that name lies anywhere under TMPDIR.
  bool Unpacked(const std::string &name) const {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(fTmpDir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      if (it->path().filename() == name && it->path().parent_path().filename() == "~plmlook")
        return true;
    return false;
  }
  // The temporary folder's watcher may still be at work just after the program's end.
  bool TempEmpties() {
    return QTest::qWaitFor([&] { return ToolFolders().empty(); }, 10000);
  }
  QTemporaryDir fTmp;
  std::string fDir, fTmpDir;
};

const std::string kBadName = "caf\xe9\xff.gif"; // flagged UTF-8, and not

} // namespace

TEST_F(SnapshotCleanup, ARefusedBombLeavesNothing) {
  const std::string tpl = fDir + "/bomb.plm";
  ASSERT_EQ(plm::WriteFileBytes(tpl, plm::samples::ZeroBombCabinet(
                                         {{"Flavor.htm", TemplatePage()},
                                          {kBadName, "GIF89a", 0, 0xA0},
                                          {"huge.bmp", "", 1ull << 30}})),
            0);
  QString err;
  EXPECT_EQ(Snapshot(tpl, &err), 1);
  EXPECT_TRUE(err.contains("256 Mo")) << err.toStdString();
  EXPECT_TRUE(ToolFolders().empty());
  EXPECT_FALSE(plm::FileExists(fDir + "/bomb_snap.jpg"));
}

TEST_F(SnapshotCleanup, NamesThatAreNotUtf8GoWithTheFolder) {
  const std::string tpl = fDir + "/names.plm";
  ASSERT_EQ(plm::WriteFileBytes(tpl, plm::samples::StoredCabinet(
                                         {{"Flavor.htm", TemplatePage()},
                                          {kBadName, std::string(1 << 20, 'x'), 0, 0xA0},
                                          {"sub\\" + kBadName, "x", 0, 0xA0}})),
            0);
  EXPECT_EQ(Snapshot(tpl), 0);
  EXPECT_TRUE(plm::FileExists(fDir + "/names_snap.jpg"));
  EXPECT_TRUE(ToolFolders().empty());
}

TEST_F(SnapshotCleanup, CtrlCAndSigtermLeaveNothing) {
  const std::string tpl = fDir + "/slow.plm";
  ASSERT_EQ(plm::WriteFileBytes(tpl, plm::samples::ZeroBombCabinet(
                                         {{"Flavor.htm", TemplatePage()},
                                          {kBadName, "GIF89a", 0, 0xA0},
                                          {"big.bmp", "", 64ull << 20}})),
            0);
  for (const int sig : {SIGINT, SIGTERM}) {
    // The signal must come while the tool works; a run that ends first is tried again.
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
      QProcess p;
      Start(p, tpl);
      const bool working = QTest::qWaitFor(
          [&] { return Unpacked(kBadName) || p.state() == QProcess::NotRunning; },
          60000);
      ASSERT_TRUE(working);
      if (p.state() != QProcess::NotRunning) ::kill(pid_t(p.processId()), sig);
      ASSERT_TRUE(p.waitForFinished(60000));
      caught = p.exitStatus() == QProcess::CrashExit;
      EXPECT_TRUE(TempEmpties()) << sig;
    }
    EXPECT_TRUE(caught) << sig;
  }
}
