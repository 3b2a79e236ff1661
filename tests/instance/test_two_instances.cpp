// Two real viewers at once. Each test installs the viewer (a hard link, so that the
// executable's own name and folder are the test's) with its cabinet library in a
// private folder, and gives the programs a private runtime folder, key store and home.
// The lock, key store and socket tests run offscreen; the window tests run on an X
// server of their own, with the openbox window manager or without one.
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/Registry.h"
#include "samples/SampleArt.h"
#include "tests/ScopedEnv.h"
#include "tests/app/AppFixture.h"
#include "tests/instance/Processes.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <map>

using namespace plmtest;

namespace {

constexpr int kStartTimeout = 90000; // a viewer's first start, browser engine included

class TwoInstances : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/plm-two-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    fRoot = tmpl;
    fRun = fRoot + "/run";
    plm::ForceDirectories(fRun, 0700);
    plm::ForceDirectories(fRoot + "/home");
    plm::ForceDirectories(fRoot + "/config");
    fLetters = fRoot + "/letters";
    plm::ForceDirectories(fLetters);
    fBin = fRoot + "/bin";
    Install(fBin, "plmlooker");
    // The test reads the programs' key store.
    fEnv.Set("XDG_CONFIG_HOME", fRoot + "/config");
  }

  void TearDown() override {
    fChildren.clear();
    std::system(("rm -rf '" + fRoot + "'").c_str());
  }

  // The viewer under the given name in a folder, with its cabinet library beside it.
  void Install(const std::string &folder, const std::string &name) {
    plm::ForceDirectories(folder);
    for (const auto &[from, to] : {std::pair<std::string, std::string>{"plmlooker", name},
                                   {"libplmcab.so", "libplmcab.so"}}) {
      const std::string src = std::string(PLM_BIN_DIR) + "/" + from;
      const std::string dst = folder + "/" + to;
      if (plm::FileExists(dst)) continue;
      if (::link(src.c_str(), dst.c_str()) != 0) {
        ASSERT_EQ(std::system(("cp '" + src + "' '" + dst + "'").c_str()), 0);
      }
    }
  }

  std::map<std::string, std::string> Environment(const std::string &display) const {
    auto env = CurrentEnvironment();
    env["HOME"] = fRoot + "/home";
    env["XDG_RUNTIME_DIR"] = fRun;
    env["XDG_CONFIG_HOME"] = fRoot + "/config";
    env["TMPDIR"] = fRoot;
    env["QTWEBENGINE_DISABLE_SANDBOX"] = "1";
    env["QTWEBENGINE_CHROMIUM_FLAGS"] = "--disable-gpu --no-sandbox --disable-background-networking";
    env.erase("XAUTHORITY");
    if (display.empty()) {
      env["QT_QPA_PLATFORM"] = "offscreen";
    } else {
      env["QT_QPA_PLATFORM"] = "xcb";
      env["DISPLAY"] = display;
    }
    return env;
  }

  // Starts the viewer at exe with its arguments; kept until the test ends.
  Child &Start(const std::string &exe, const std::vector<std::string> &args = {}) {
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string log = fRoot + "/log" + std::to_string(fChildren.size()) + ".txt";
    fChildren.push_back(std::make_unique<Child>(Child::Start(argv, Environment(fDisplay), log)));
    EXPECT_TRUE(fChildren.back()->Started()) << exe;
    return *fChildren.back();
  }

  // The form window a first instance named exeName has published; 0 when none.
  static uint32_t Published(const std::string &exeName = "plmlooker") {
    plm::TRegistry reg;
    if (!reg.OpenKey("\\Software\\UnPas2" + exeName, false)) return 0;
    try {
      return uint32_t(reg.ReadInteger(exeName + "form1"));
    } catch (const std::exception &) {
      return 0;
    }
  }

  std::string Template(const std::string &name, const std::string &display) {
    const std::string stage = fRoot + "/stage-" + name;
    plm::ForceDirectories(stage);
    plm::samples::WriteFile(stage + "/content.ini", ContentIni("Essai", display, "Plumora"));
    const std::string page = Page(display, "Liberation Sans");
    plm::samples::WriteFile(stage + "/Flavor.htm", page);
    fPageSizes[display] = int64_t(page.size());
    const std::string path = fLetters + "/" + name;
    plm::samples::PackTemplate(path, {{stage + "/content.ini", "content.ini"},
                                      {stage + "/Flavor.htm", "Flavor.htm"}});
    return path;
  }

  // The description of the template the first instance previews now, once its page has
  // been rewritten (the last step before the browser shows it); "" until then.
  std::string Previewed() const {
    std::string text;
    plm::ReadFileBytes(fRun + "/~plmlook/content.ini", text);
    const size_t at = text.find("Display=");
    if (at == std::string::npos) return "";
    const std::string display = text.substr(at + 8, text.find('\r', at) - at - 8);
    const auto page = fPageSizes.find(display);
    const int64_t size = plm::FileSize(fRun + "/~plmlook/Flavor.htm");
    return page != fPageSizes.end() && size > 0 && size != page->second ? display : "";
  }

  // A file's or a folder's files' names, sizes, modification times and contents.
  static std::string Snapshot(const std::string &path) {
    std::string s;
    const bool folder = plm::DirectoryExists(path);
    for (const auto &name : folder ? plm::ListDirectory(path) : std::vector<std::string>{""}) {
      const std::string file = folder ? path + "/" + name : path;
      struct stat st;
      std::string bytes;
      if (::lstat(file.c_str(), &st) != 0) continue;
      plm::ReadFileBytes(file, bytes);
      s += name + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
           "." + std::to_string(st.st_mtim.tv_nsec) + " " +
           std::to_string(std::hash<std::string>()(bytes)) + "\n";
    }
    return s;
  }

  static std::string Logs(const Child &a, const Child &b) {
    return "first:\n" + a.Log() + "\nsecond:\n" + b.Log();
  }

  std::string fRoot, fRun, fLetters, fBin;
  std::string fDisplay; // empty: offscreen
  std::map<std::string, int64_t> fPageSizes; // each template's page as packed
  ScopedEnv fEnv;
  std::vector<std::unique_ptr<Child>> fChildren;
};

TEST_F(TwoInstances, ASecondStartEndsAndLeavesTheFirstsSettingsAndPreviewAlone) {
  const std::string letter = Template("lettre.plm", "Premier");
  const std::string settings = fBin + "/plmlooker.ini";
  plm::samples::WriteFile(settings, "[General]\r\nLastFolder=" + fLetters + "\r\n");
  Child &first = Start(fBin + "/plmlooker", {letter});
  ASSERT_TRUE(WaitUntil([&] { return Published() != 0 && Previewed() == "Premier"; },
                        kStartTimeout))
      << first.Log();
  const uint32_t window = Published();
  const std::string before = Snapshot(settings) + Snapshot(fRun + "/~plmlook");

  Child &second = Start(fBin + "/plmlooker");
  const auto status = second.Wait(kStartTimeout);
  ASSERT_TRUE(status.has_value()) << Logs(first, second);
  EXPECT_EQ(*status, 0) << Logs(first, second);
  EXPECT_EQ(Snapshot(settings) + Snapshot(fRun + "/~plmlook"), before);
  EXPECT_TRUE(first.Running());
  // The second start wrote nothing to the key store and deleted nothing from it.
  EXPECT_EQ(Published(), window);
}

TEST_F(TwoInstances, AKilledFirstLeavesNoLockAndTheNextStartTakesHandedOverTemplates) {
  const std::string one = Template("un.plm", "Un");
  const std::string two = Template("deux.plm", "Deux");
  Child &killed = Start(fBin + "/plmlooker");
  ASSERT_TRUE(WaitUntil([&] { return Published() != 0; }, kStartTimeout)) << killed.Log();
  killed.Kill(SIGKILL);
  ASSERT_TRUE(killed.Wait(10000).has_value());
  // Its key stays behind, stale; its lock went with it.
  EXPECT_NE(Published(), 0u);

  // A first instance again: it opens its own template and listens.
  Child &first = Start(fBin + "/plmlooker", {one});
  ASSERT_TRUE(WaitUntil([&] { return Previewed() == "Un"; }, kStartTimeout)) << first.Log();

  // A later start given a template, by a path relative to its own folder, hands it over.
  ASSERT_EQ(::chdir(fLetters.c_str()), 0);
  Child &second = Start(fBin + "/plmlooker", {"deux.plm"});
  ::chdir("/");
  const auto status = second.Wait(kStartTimeout);
  ASSERT_TRUE(status.has_value()) << Logs(first, second);
  EXPECT_EQ(*status, 0) << Logs(first, second);
  EXPECT_TRUE(WaitUntil([&] { return Previewed() == "Deux"; }, kStartTimeout)) << first.Log();
  EXPECT_TRUE(first.Running());
}

TEST_F(TwoInstances, CopiesUnderDifferentNamesRunSideBySide) {
  Install(fBin, "visionneuse");
  Child &a = Start(fBin + "/plmlooker");
  Child &b = Start(fBin + "/visionneuse");
  // Only first instances publish their window.
  ASSERT_TRUE(WaitUntil([&] { return Published("plmlooker") && Published("visionneuse"); },
                        kStartTimeout))
      << Logs(a, b);
  EXPECT_TRUE(a.Running());
  EXPECT_TRUE(b.Running());
  // Each name is still one program.
  Child &again = Start(fBin + "/visionneuse");
  const auto status = again.Wait(kStartTimeout);
  ASSERT_TRUE(status.has_value()) << again.Log();
  EXPECT_EQ(*status, 0) << again.Log();
}

TEST_F(TwoInstances, TheSameNameInAnotherFolderIsTheSameProgram) {
  const std::string elsewhere = fRoot + "/ailleurs";
  Install(elsewhere, "plmlooker");
  Child &first = Start(fBin + "/plmlooker");
  ASSERT_TRUE(WaitUntil([&] { return Published() != 0; }, kStartTimeout)) << first.Log();
  Child &second = Start(elsewhere + "/plmlooker");
  const auto status = second.Wait(kStartTimeout);
  ASSERT_TRUE(status.has_value()) << Logs(first, second);
  EXPECT_EQ(*status, 0) << Logs(first, second);
  EXPECT_FALSE(plm::FileExists(elsewhere + "/plmlooker.ini"));
}

// --- On an X server ---------------------------------------------------------------------

class TwoInstancesOnX11 : public TwoInstances {
protected:
  void SetUp() override {
    // The sanitizer run has no X server for the viewers (its browser engine leaks there).
    if (const char *p = std::getenv("QT_QPA_PLATFORM"); p && std::string(p) == "offscreen")
      GTEST_SKIP() << "offscreen run: no X11 window to bring forward";
    TwoInstances::SetUp();
  }

  void StartDisplay(bool withWindowManager) {
    ASSERT_TRUE(fX.Start(fRoot, withWindowManager)) << fX.Error();
    fDisplay = fX.Name();
  }

  // Starts the first instance and waits for its published window to be shown.
  uint32_t StartFirst() {
    Child &first = Start(fBin + "/plmlooker");
    uint32_t window = 0;
    const bool shown = WaitUntil(
        [&] {
          window = Published();
          return window != 0 && fX.IsViewable(window);
        },
        kStartTimeout);
    EXPECT_TRUE(shown) << first.Log();
    return shown ? window : 0;
  }

  // Runs a second start to its end; its time in milliseconds, or -1 when it failed.
  qint64 RunSecond() {
    QElapsedTimer clock;
    clock.start();
    Child &second = Start(fBin + "/plmlooker");
    const auto status = second.Wait(30000);
    const qint64 took = clock.elapsed();
    EXPECT_TRUE(status.has_value()) << second.Log();
    EXPECT_EQ(status.value_or(-1), 0) << second.Log();
    return status == 0 ? took : -1;
  }

  PrivateDisplay fX;
};

TEST_F(TwoInstancesOnX11, ASecondStartBringsTheFirstToTheFrontAndEndsWithinTwoSeconds) {
  StartDisplay(true);
  const uint32_t first = StartFirst();
  ASSERT_NE(first, 0u);
  const uint32_t other = fX.CreateWindow("Autre fenêtre");
  ASSERT_TRUE(WaitUntil([&] { return fX.IsViewable(other); }, 10000));
  // The window manager may still be giving the focus to the first window as it appears,
  // after this request: ask again until the other window holds it.
  bool otherActive = false;
  for (int i = 0; i < 10 && !otherActive; ++i) {
    fX.RequestActivation(other);
    otherActive = WaitUntil([&] { return fX.ActiveWindow() == other; }, 2000);
  }
  ASSERT_TRUE(otherActive);

  const qint64 took = RunSecond();
  ASSERT_GE(took, 0);
  RecordProperty("second_start_ms", int(took));
  EXPECT_LT(took, 2000);
  EXPECT_TRUE(WaitUntil([&] { return fX.ActiveWindow() == first; }, 5000))
      << "active: " << fX.ActiveWindow() << ", first: " << first;
}

TEST_F(TwoInstancesOnX11, AMinimisedFirstComesBackInItsNormalState) {
  StartDisplay(true);
  const uint32_t first = StartFirst();
  ASSERT_NE(first, 0u);
  // As for an activation, the window manager may not have taken the new window in when
  // the first request comes: ask again until it is minimised.
  bool minimised = false;
  for (int i = 0; i < 10 && !minimised; ++i) {
    fX.RequestMinimise(first);
    minimised = WaitUntil([&] { return fX.IsIconic(first) && !fX.IsViewable(first); }, 2000);
  }
  ASSERT_TRUE(minimised);

  ASSERT_GE(RunSecond(), 0);
  EXPECT_TRUE(WaitUntil(
      [&] { return fX.IsViewable(first) && !fX.IsIconic(first) && fX.ActiveWindow() == first; },
      5000));
}

TEST_F(TwoInstancesOnX11, WithoutAWindowManagerTheFirstGetsTheFocus) {
  StartDisplay(false);
  const uint32_t first = StartFirst();
  ASSERT_NE(first, 0u);
  const uint32_t other = fX.CreateWindow("Autre fenêtre");
  ASSERT_TRUE(WaitUntil([&] { return fX.IsViewable(other); }, 10000));
  fX.SetFocus(other);
  ASSERT_TRUE(WaitUntil([&] { return fX.InputFocus() == other; }, 10000));

  ASSERT_GE(RunSecond(), 0);
  EXPECT_TRUE(WaitUntil([&] { return fX.InputFocus() == first; }, 5000))
      << "focus: " << fX.InputFocus() << ", first: " << first;
}

} // namespace
