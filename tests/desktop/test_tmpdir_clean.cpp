// Every program of the package leaves TMPDIR as it found it: each program and verb is run
// with a fresh, empty TMPDIR, with and without XDG_RUNTIME_DIR, to its success, to its
// failure and stopped by SIGINT or SIGTERM while it works, and TMPDIR must be empty the
// moment the program's end is seen (a file manager's thumbnail factory removes its
// folder then).
#include "gallery/RenderProtocol.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/TempDir.h"
#include "samples/HostileCabinets.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

enum class End { Success, Failure, Sigint, Sigterm };
const char *const kEnds[] = {"Success", "Failure", "Sigint", "Sigterm"};
void PrintTo(End e, std::ostream *os) { *os << kEnds[int(e)]; }

// One program or verb. Paths in args: "@" stands for the test's work folder.
struct Program {
  const char *name;
  const char *binary; // under PLM_BIN_DIR
  std::vector<std::string> success, failure, busy;
  // A frame for the renderer process's standard input, naming this template, or "".
  const char *request = "";
  bool display = false; // needs an X server (the viewer)
};

void PrintTo(const Program &p, std::ostream *os) { *os << p.name; }

const std::string kMarker = "caf\xe9-marker.gif"; // extracted first from the slow template

const Program kPrograms[] = {
    {"plmtool_extract", "plmtool", {"extract", "@/good.plm", "@/out"}, {"extract", "@/missing.plm", "@/out"},
     {"extract", "@/slow.plm", "@/out"}},
    {"plmtool_export", "plmtool", {"export", "@/good.plm", "@/out.eml"},
     {"export", "@/nopage.plm", "@/out.eml"}, {"export", "@/slow.plm", "@/out.eml"}},
    {"plmtool_thumbnails", "plmtool", {"thumbnails", "@/good"}, {"thumbnails", "@/missing"},
     {"thumbnails", "@/slow"}},
    {"plmtool_thumbnail", "plmtool", {"thumbnail", "-s", "128", "@/good.plm", "@/t.png"},
     {"thumbnail", "-s", "128", "@/nopage.plm", "@/t.png"}, {"thumbnail", "@/slow.plm", "@/t.png"}},
    {"plmtool_snapshot", "plmtool", {"snapshot", "@/good.plm", "@/out"}, {"snapshot", "@/nopage.plm", "@/out"},
     {"snapshot", "@/slow.plm", "@/out"}},
    {"plmtool_gui_export", "plmtool-gui", {"export", "@/good.plm", "@/out.html"},
     {"export", "@/missing.plm", "@/out.html"}, {"export", "@/slow.plm", "@/out.html"}},
    {"render_server", "plmtool-browser", {"render-server", "--cache", "@/home/.cache"},
     {"render-server", "--timeout"}, {"render-server", "--cache", "@/home/.cache"}, "good.plm"},
    {"plmlooker", "plmlooker", {"--help"}, {"--no-such-option"}, {"@/slow.plm"}, "", true},
};

std::string Page() {
  return "<HTML><BODY style=\"margin:0\"><TABLE width=300 height=200 bgcolor=#3060c0><TR>"
         "<TD id=PLUMORATEXTREGION style=\"FONT-FAMILY: Arial\">x</TD></TR></TABLE></BODY></HTML>";
}

std::vector<std::string> Entries(const std::string &dir) {
  std::vector<std::string> r;
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(dir, ec))
    r.push_back(e.path().filename().string());
  return r;
}

bool HoldsFile(const std::string &dir, const std::string &name) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->path().filename() == name) return true;
  return false;
}

class LeavesTmpdir : public ::testing::TestWithParam<std::tuple<Program, End, bool>> {
protected:
  void SetUp() override {
    ASSERT_TRUE(fWork.isValid());
    fDir = fWork.path().toStdString();
    for (const char *d : {"/tmp", "/run", "/home", "/out", "/good", "/slow"})
      ASSERT_TRUE(plm::ForceDirectories(fDir + d));
    ::chmod((fDir + "/run").c_str(), 0700);
    const std::string meta = "[General]\r\nCollection=c\r\n";
    const std::string good = plm::samples::StoredCabinet({{"Flavor.htm", Page()}, {"content.ini", meta}});
    // Unpacking takes a while: 64 MB of zeros after the marker.
    const std::string slow = plm::samples::ZeroBombCabinet(
        {{"Flavor.htm", Page()}, {kMarker, "GIF89a", 0, 0xA0}, {"big.bmp", "", 64ull << 20}});
    for (const auto &[path, bytes] :
         std::vector<std::pair<std::string, std::string>>{{"/good.plm", good},
                                                          {"/good/a.plm", good},
                                                          {"/slow.plm", slow},
                                                          {"/slow/a.plm", slow},
                                                          {"/nopage.plm", plm::samples::StoredCabinet({{"content.ini", meta}})}})
      ASSERT_EQ(plm::WriteFileBytes(fDir + path, bytes), 0);
  }

  std::string Tmp() const { return fDir + "/tmp"; }

  void Start(QProcess &p, const Program &prog, End end, bool runtime) {
    const std::vector<std::string> &args =
        end == End::Success ? prog.success : end == End::Failure ? prog.failure : prog.busy;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", QString::fromStdString(Tmp()));
    env.insert("HOME", QString::fromStdString(fDir + "/home"));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(fDir + "/home/.config"));
    env.insert("XDG_CACHE_HOME", QString::fromStdString(fDir + "/home/.cache"));
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.remove("QT_QPA_PLATFORM");
    if (runtime)
      env.insert("XDG_RUNTIME_DIR", QString::fromStdString(fDir + "/run"));
    else
      env.remove("XDG_RUNTIME_DIR");
    p.setProcessEnvironment(env);
    QStringList list;
    for (std::string a : args) {
      if (!a.empty() && a[0] == '@') a = fDir + a.substr(1);
      list << QString::fromStdString(a);
    }
    p.start(QString(PLM_BIN_DIR) + "/" + prog.binary, list);
    ASSERT_TRUE(p.waitForStarted());
    if (*prog.request && end != End::Failure) {
      const std::string tpl = fDir + (end == End::Success ? std::string("/") + prog.request : "/slow.plm");
      const std::string frame = plm::render::Frame(tpl);
      p.write(frame.data(), qint64(frame.size()));
      ASSERT_TRUE(p.waitForBytesWritten());
      if (end == End::Success) p.closeWriteChannel(); // one template, then the end
    }
  }

  QTemporaryDir fWork;
  std::string fDir;
};

TEST_P(LeavesTmpdir, EmptyAfterwards) {
  const auto &[prog, end, runtime] = GetParam();
  if (prog.display && !std::getenv("DISPLAY")) GTEST_SKIP() << "no X server for the viewer";
  QProcess p;
  if (end == End::Success || end == End::Failure) {
    Start(p, prog, end, runtime);
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
    if (end == End::Success)
      EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    else
      EXPECT_NE(p.exitCode(), 0);
  } else {
    // The signal comes once the slow template is being unpacked; a run that ends first is
    // tried again.
    const int sig = end == End::Sigint ? SIGINT : SIGTERM;
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
      Start(p, prog, end, runtime);
      ASSERT_TRUE(QTest::qWaitFor(
          [&] {
            return HoldsFile(Tmp(), kMarker) || HoldsFile(fDir + "/run", kMarker) ||
                   HoldsFile(fDir + "/out", kMarker) || p.state() == QProcess::NotRunning;
          },
          60000));
      if (p.state() != QProcess::NotRunning) ::kill(pid_t(p.processId()), sig);
      ASSERT_TRUE(p.waitForFinished(60000));
      caught = p.exitStatus() == QProcess::CrashExit;
      EXPECT_TRUE(Entries(Tmp()).empty()) << Entries(Tmp()).front();
      plm::DeleteEntryNoFollow(fDir + "/out");
      plm::ForceDirectories(fDir + "/out");
    }
    EXPECT_TRUE(caught);
  }
  const auto left = Entries(Tmp());
  EXPECT_TRUE(left.empty()) << left.size() << " left, first " << left.front();
}

std::string Name(const ::testing::TestParamInfo<std::tuple<Program, End, bool>> &info) {
  return std::string(std::get<0>(info.param).name) + "_" + kEnds[int(std::get<1>(info.param))] +
         (std::get<2>(info.param) ? "_WithRuntimeDir" : "_NoRuntimeDir");
}

INSTANTIATE_TEST_SUITE_P(AllPrograms, LeavesTmpdir,
                         ::testing::Combine(::testing::ValuesIn(kPrograms),
                                            ::testing::Values(End::Success, End::Failure, End::Sigint,
                                                              End::Sigterm),
                                            ::testing::Bool()),
                         Name);

} // namespace

namespace {

// Runs a program to its end; its exit code, or -1 when it could not run or crashed.
int RunToEnd(const QString &program, const QStringList &args, const QProcessEnvironment &env,
             QString *output = nullptr) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForStarted() || !p.waitForFinished(300000)) return -1;
  if (output) *output = QString::fromUtf8(p.readAll());
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

std::vector<std::string> FactoryFolders() {
  std::vector<std::string> r;
  for (const auto &n : Entries("/tmp"))
    if (n.rfind("gnome-desktop-thumbnailer", 0) == 0) r.push_back(n);
  return r;
}

} // namespace

// GNOME's thumbnail factory, driven as the GNOME file manager drives it, by an ordinary
// user without XDG_RUNTIME_DIR or TMPDIR, runs the installed thumbnailer in its sandbox
// (bubblewrap) with a private, empty folder as /tmp, and removes that folder afterwards:
// no folder of the factory's may be left in /tmp.
TEST(DesktopThumbnailFactory, LeavesNoFolderBehind) {
  const QString driver = QStringLiteral(PLM_SOURCE_DIR "/tests/desktop/thumbnail_factory.py");
  QString out;
  const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
  if (RunToEnd("/usr/bin/python3", {driver}, system, &out) != 0)
    GTEST_SKIP() << "GNOME's thumbnail factory is not installed (gir1.2-gnomedesktop-3.0, "
                    "python3-gi): "
                 << out.toStdString();
  // An ordinary user, as a file manager runs: the test's own, or nobody when run as root.
  const bool root = ::getuid() == 0;
  const QStringList asUser = root ? QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"}
                                  : QStringList{};
  auto run = [&](const QStringList &command, const QProcessEnvironment &env, QString *output) {
    return root ? RunToEnd("setpriv", asUser + command, env, output)
                : RunToEnd(command.front(), command.mid(1), env, output);
  };
  if (run({"/usr/bin/bwrap", "--ro-bind", "/", "/", "true"}, system, &out) != 0)
    GTEST_SKIP() << "bubblewrap cannot make a sandbox here, so the factory runs no thumbnailer: "
                 << out.toStdString();

  // The install prefix lies outside /tmp, which the sandbox replaces, and where the factory's
  // user can reach it wherever the build folder is (a checkout under /root is not).
  QTemporaryDir prefixDir(QStringLiteral("/var/tmp/plm-factory-XXXXXX")), work;
  ASSERT_TRUE(prefixDir.isValid() && work.isValid());
  const std::string prefix = prefixDir.path().toStdString(), dir = work.path().toStdString();
  ASSERT_EQ(RunToEnd("cmake", {"--install", PLM_BUILD_DIR, "--prefix", prefixDir.path()}, system, &out), 0)
      << out.toStdString();
  ASSERT_EQ(RunToEnd("update-mime-database", {prefixDir.path() + "/share/mime"}, system), 0);
  for (const char *d : {"/home", "/bin"})
    ASSERT_TRUE(plm::ForceDirectories(dir + d));
  ASSERT_EQ(plm::CopyFileBytes(PLM_SOURCE_DIR "/tests/desktop/bwrap_expose.sh", dir + "/bin/bwrap", false), 0);
  ::chmod((dir + "/bin/bwrap").c_str(), 0755);
  for (const std::string &d : {prefix, dir}) ::chmod(d.c_str(), 0755);
  if (root) {
    ASSERT_EQ(::chown((dir + "/home").c_str(), 65534, 65534), 0);
  }
  const std::string tpl = dir + "/page.plm";
  ASSERT_EQ(plm::WriteFileBytes(tpl, plm::samples::StoredCabinet(
                                         {{"Flavor.htm", Page()}, {"content.ini", "[General]\r\n"}})),
            0);
  ::chmod(tpl.c_str(), 0644);

  QProcessEnvironment env;
  env.insert("PATH", QString::fromStdString(dir + "/bin:" + prefix + "/bin:/usr/bin:/bin"));
  env.insert("HOME", QString::fromStdString(dir + "/home"));
  env.insert("XDG_DATA_DIRS", QString::fromStdString(prefix + "/share:/usr/share"));
  env.insert("PLM_TEST_PREFIX", QString::fromStdString(prefix));
  // The browser engine's own sandbox is not what this test is about (the other tests of
  // the programs turn it off too).
  env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
  // In a sanitizer build, the options the suite runs with (the browser engine's own
  // mismatched deletes set aside), less the leak checker, which stops the world with
  // ptrace that the factory's seccomp filter refuses.
  env.insert("ASAN_OPTIONS", "new_delete_type_mismatch=0:detect_leaks=0");

  const auto before = FactoryFolders();
  const int status = run({"/usr/bin/python3", driver, QString::fromStdString(tpl)}, env, &out);
  auto after = FactoryFolders();
  std::erase_if(after, [&](const std::string &n) {
    return std::find(before.begin(), before.end(), n) != before.end();
  });
  ASSERT_EQ(status, 0) << out.toStdString();
  const QStringList size = out.trimmed().split(' ');
  ASSERT_EQ(size.size(), 2) << out.toStdString();
  EXPECT_EQ(std::max(size[0].toInt(), size[1].toInt()), 128) << out.toStdString();
  EXPECT_TRUE(after.empty()) << "/tmp/" << after.front() << " holds "
                             << Entries("/tmp/" + after.front()).front();
  for (const auto &n : after)
    plm::DeleteEntryNoFollow("/tmp/" + n);
}
