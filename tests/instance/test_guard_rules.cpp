// The single-instance guard and its platform services in one process: the guard's names
// and rules with the key store in a private $XDG_CONFIG_HOME, the key store itself, the
// lock-file mutex, the local channel between instances, and the command line.
#include "app/CommandLine.h"
#include "components/UnPas2.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/LineList.h"
#include "platform/LocalChannel.h"
#include "platform/NamedMutex.h"
#include "platform/Registry.h"
#include "platform/WindowActivation.h"
#include "tests/ScopedEnv.h"
#include "tests/instance/Processes.h"

#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

using plmtest::Finished;
using plmtest::ScopedEnv;
using plmtest::SendAsync;

namespace {

// A private runtime folder and key store per test: each test is a session of its own.
class Session : public ::testing::Test {
protected:
  void SetUp() override {
    char tmpl[] = "/tmp/plm-guard-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    fRoot = tmpl;
    fRun = fRoot + "/run";
    plm::ForceDirectories(fRun, 0700);
    fEnv.PrivateSession(fRun, fRoot + "/config");
    plm::ClearTerminateRequest();
    plm::SetWindowRequestHandler([this](plm::TWindowRequest r, uint32_t w) {
      fRequests.emplace_back(r, w);
    });
  }
  void TearDown() override {
    plm::SetWindowRequestHandler(nullptr);
    plm::ClearTerminateRequest();
    std::system(("rm -rf '" + fRoot + "'").c_str());
  }

  static std::string Exe() { return "test_instance"; }
  static std::string Key() { return "\\Software\\UnPas2" + Exe(); }

  std::string fRoot, fRun;
  ScopedEnv fEnv;
  std::vector<std::pair<plm::TWindowRequest, uint32_t>> fRequests;
};

using Guard = Session;

TEST_F(Guard, AFirstInstanceHoldsItsNamedMutexPublishesItsWindowAndRemovesItAtTheEnd) {
  QWidget form;
  std::vector<std::string> events;
  {
    TUnPas2 guard(&form);
    EXPECT_EQ(guard.ExeName(), Exe());
    EXPECT_EQ(guard.MutexName(), "UnPas2test_instance");
    EXPECT_EQ(guard.KeyName(), "\\Software\\UnPas2test_instance");
    EXPECT_EQ(guard.FormValueName(), "test_instanceform1");
    EXPECT_EQ(guard.AppValueName(), "test_instanceapplication");
    EXPECT_TRUE(guard.StopSiDejaLance());
    EXPECT_FALSE(guard.DejaLance());
    EXPECT_TRUE(plm::FileExists(fRun + "/UnPas2test_instance"));
    guard.OnDejaLance = [&](QObject *) { events.push_back("DejaLance"); };
    guard.OnPasDejaLance = [&](QObject *s) {
      EXPECT_EQ(s, &guard);
      // The event comes before the window is published.
      EXPECT_FALSE(plm::TRegistry().KeyExists(Key()));
      events.push_back("PasDejaLance");
    };
    guard.Loaded();

    plm::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key(), false));
    EXPECT_EQ(uint32_t(reg.ReadInteger("test_instanceform1")), uint32_t(form.winId()));
    EXPECT_EQ(uint32_t(reg.ReadInteger("test_instanceapplication")), uint32_t(form.winId()));
    EXPECT_FALSE(plm::ApplicationTerminated());
    EXPECT_TRUE(fRequests.empty());
  }
  EXPECT_EQ(events, std::vector<std::string>{"PasDejaLance"});
  EXPECT_FALSE(plm::TRegistry().KeyExists(Key()));
  // The mutex is never given back while the process lives.
  EXPECT_EQ(plm::CreateNamedMutex("UnPas2test_instance"), plm::ERROR_ALREADY_EXISTS);
}

TEST_F(Guard, AWindowMadeAnewIsPublishedAgain) {
  QWidget form;
  TUnPas2 guard(&form);
  guard.Loaded();
  const auto before = uint32_t(form.winId());
  // The windowing system makes the window anew (as it does for a new kind of surface).
  form.windowHandle()->destroy();
  form.windowHandle()->create();
  const auto after = uint32_t(form.winId());
  ASSERT_NE(before, after);
  plm::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(Key(), false));
  EXPECT_EQ(uint32_t(reg.ReadInteger("test_instanceform1")), after);
}

TEST_F(Guard, ALaterInstanceRaisesItsEventThenBringsTheFirstForwardAndAsksToEnd) {
  ASSERT_EQ(plm::CreateNamedMutex("UnPas2test_instance"), 0); // the running instance
  {
    plm::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key(), true));
    reg.WriteInteger("test_instanceform1", 0x0040001c);
    reg.WriteInteger("test_instanceapplication", int32_t(0x80000001u));
  }
  QWidget form;
  bool pasDejaLance = false;
  {
    TUnPas2 guard(&form);
    EXPECT_TRUE(guard.DejaLance());
    EXPECT_EQ(guard.PrevFormHandle(), 0x0040001cu);
    EXPECT_EQ(guard.PrevAppHandle(), 0x80000001u);
    guard.OnDejaLance = [&](QObject *) {
      // Raised before anything is handed over.
      EXPECT_TRUE(fRequests.empty());
      EXPECT_FALSE(plm::ApplicationTerminated());
      fRequests.emplace_back(plm::TWindowRequest::ShowNormal, 0xE7E7);
    };
    guard.OnPasDejaLance = [&](QObject *) { pasDejaLance = true; };
    guard.Loaded();
  }
  const std::vector<std::pair<plm::TWindowRequest, uint32_t>> expected{
      {plm::TWindowRequest::ShowNormal, 0xE7E7},
      {plm::TWindowRequest::ShowNormal, 0x80000001u},
      {plm::TWindowRequest::Foreground, 0x0040001cu}};
  EXPECT_EQ(fRequests, expected);
  EXPECT_TRUE(plm::ApplicationTerminated());
  EXPECT_FALSE(pasDejaLance);
  // The first instance's key is left as it was.
  plm::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(Key(), false));
  EXPECT_EQ(reg.ReadInteger("test_instanceform1"), 0x0040001c);
}

TEST_F(Guard, WithoutStopSiDejaLanceALaterInstanceOnlyRaisesItsEventAndTouchesNoKey) {
  ASSERT_EQ(plm::CreateNamedMutex("UnPas2test_instance"), 0);
  QWidget form;
  int dejaLance = 0;
  {
    TUnPas2 guard(&form);
    guard.setStopSiDejaLance(false);
    guard.OnDejaLance = [&](QObject *) { ++dejaLance; };
    guard.Loaded();
  }
  EXPECT_EQ(dejaLance, 1);
  EXPECT_TRUE(fRequests.empty());
  EXPECT_FALSE(plm::ApplicationTerminated());
  EXPECT_FALSE(plm::TRegistry().KeyExists(Key())); // nothing written

  // An existing key outlives such an instance too.
  {
    plm::TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key(), true));
    reg.WriteInteger("test_instanceform1", 7);
  }
  {
    TUnPas2 guard(&form);
    guard.setStopSiDejaLance(false);
    guard.Loaded();
  }
  plm::TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(Key(), false));
  EXPECT_EQ(reg.ReadInteger("test_instanceform1"), 7);
}

TEST_F(Guard, MissingValuesOrValuesOfAnotherKindLeaveTheHandlesAtZero) {
  ASSERT_EQ(plm::CreateNamedMutex("UnPas2test_instance"), 0);
  struct Case {
    const char *what;
    std::function<void(plm::TRegistry &)> fill;
    uint32_t form, app;
  };
  const std::vector<Case> cases{
      {"a key without values", [](plm::TRegistry &) {}, 0, 0},
      {"both as strings",
       [](plm::TRegistry &r) {
         r.WriteString("test_instanceform1", "4194332");
         r.WriteString("test_instanceapplication", "4194332");
       },
       0, 0},
      // The reading stops at the first failure: the valid value after it is not read.
      {"the form value as a string",
       [](plm::TRegistry &r) {
         r.WriteString("test_instanceform1", "12");
         r.WriteInteger("test_instanceapplication", 34);
       },
       0, 0},
      {"the application value missing",
       [](plm::TRegistry &r) { r.WriteInteger("test_instanceform1", 12); }, 12, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    plm::TRegistry reg;
    reg.DeleteKey(Key());
    ASSERT_TRUE(reg.OpenKey(Key(), true));
    c.fill(reg);
    fRequests.clear();
    plm::ClearTerminateRequest();
    QWidget form;
    TUnPas2 guard(&form);
    EXPECT_EQ(guard.PrevFormHandle(), c.form);
    EXPECT_EQ(guard.PrevAppHandle(), c.app);
    guard.Loaded();
    EXPECT_TRUE(plm::ApplicationTerminated());
  }
  // A damaged line reads as a value of another kind.
  {
    plm::TRegistry reg;
    reg.DeleteKey(Key());
    ASSERT_TRUE(reg.OpenKey(Key(), true));
  }
  ASSERT_TRUE(plm::WriteFileBytes(plm::TRegistry::RootFolder() + "/Software/UnPas2test_instance.key",
                                  "test_instanceform1=dword:00zz0001\n") == 0);
  QWidget form;
  TUnPas2 guard(&form);
  EXPECT_EQ(guard.PrevFormHandle(), 0u);
}

TEST_F(Guard, AKeyStoreThatTakesNoWritesDoesNotStopTheFirstInstance) {
  // The configuration folder is a file: nothing can be made under it.
  plm::WriteFileBytes(fRoot + "/not-a-folder", "x");
  fEnv.Set("XDG_CONFIG_HOME", fRoot + "/not-a-folder");
  QWidget form;
  bool pasDejaLance = false;
  {
    TUnPas2 guard(&form);
    guard.OnPasDejaLance = [&](QObject *) { pasDejaLance = true; };
    EXPECT_NO_THROW(guard.Loaded());
  }
  EXPECT_TRUE(pasDejaLance);
  EXPECT_FALSE(plm::ApplicationTerminated());
}

// --- The key store ----------------------------------------------------------------------

using KeyStore = Session;

TEST_F(KeyStore, ValuesKeepTheirKindAndBytesAndTheStoreIsPrivate) {
  plm::TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("\\Software\\Essai", false));
  ASSERT_TRUE(reg.OpenKey("\\Software\\Essai", true));
  reg.WriteInteger("moins", -2);
  reg.WriteInteger("grand", int32_t(0xFFFFFFFEu));
  const std::string odd = "a=b\r\nc%41\x01\xe9";
  reg.WriteString(odd, odd);
  reg.WriteInteger("moins", -3); // replaced in place

  plm::TRegistry again;
  ASSERT_TRUE(again.OpenKey("Software\\Essai", false)); // the leading "\" is optional
  EXPECT_EQ(again.ReadInteger("moins"), -3);
  EXPECT_EQ(uint32_t(again.ReadInteger("grand")), 0xFFFFFFFEu);
  EXPECT_EQ(again.ReadString(odd), odd);
  EXPECT_TRUE(again.ValueExists(odd));
  EXPECT_FALSE(again.ValueExists("a"));
  EXPECT_THROW(again.ReadInteger(odd), plm::ERegistryException);
  EXPECT_THROW(again.ReadString("moins"), plm::ERegistryException);
  EXPECT_THROW(again.ReadInteger("absent"), plm::ERegistryException);

  struct stat st;
  ASSERT_EQ(::stat((plm::TRegistry::RootFolder() + "/Software").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  ASSERT_EQ(::stat((plm::TRegistry::RootFolder() + "/Software/Essai.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST_F(KeyStore, KeysAreSeparateDeletedWithTheKeysBelowAndBadPathsRefused) {
  plm::TRegistry reg;
  // A key whose name looks like a key file never meets the key of the shorter name.
  ASSERT_TRUE(reg.OpenKey("\\B", true));
  reg.WriteInteger("v", 1);
  ASSERT_TRUE(reg.OpenKey("\\B.key\\C", true));
  reg.WriteInteger("v", 2);
  ASSERT_TRUE(reg.OpenKey("\\B\\D", true));
  reg.WriteInteger("v", 3);
  ASSERT_TRUE(reg.OpenKey("\\B", false));
  EXPECT_EQ(reg.ReadInteger("v"), 1);

  EXPECT_TRUE(reg.DeleteKey("\\B"));
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_FALSE(reg.KeyExists("\\B"));
  EXPECT_FALSE(reg.KeyExists("\\B\\D"));
  EXPECT_TRUE(reg.KeyExists("\\B.key\\C"));
  EXPECT_FALSE(reg.DeleteKey("\\B"));

  for (const char *bad : {"", "\\", "\\A\\\\B", "\\A\\"})
    EXPECT_FALSE(reg.OpenKey(bad, true)) << bad;
  // Dots and slashes are only characters of a name: nothing lands outside the store.
  EXPECT_TRUE(reg.OpenKey("\\..\\a/b", true));
  EXPECT_TRUE(plm::FileExists(plm::TRegistry::RootFolder() + "/%2E%2E/a%2Fb.key"));
}

// --- The named mutex --------------------------------------------------------------------

using NamedMutex = Session;

TEST_F(NamedMutex, OneHolderPerNameAndNoNameOutsideTheRuntimeFolder) {
  EXPECT_EQ(plm::CreateNamedMutex("UnPas2a"), 0);
  EXPECT_EQ(plm::CreateNamedMutex("UnPas2a"), plm::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(plm::CreateNamedMutex("UnPas2b"), 0);
  struct stat st;
  ASSERT_EQ(::stat((fRun + "/UnPas2a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  for (const char *bad : {"", ".", "..", "../UnPas2a", "a/b"}) {
    const int r = plm::CreateNamedMutex(bad);
    EXPECT_NE(r, 0) << bad;
    EXPECT_NE(r, plm::ERROR_ALREADY_EXISTS) << bad;
  }
  // A link planted in place of the lock file is not followed.
  ASSERT_EQ(::symlink((fRoot + "/elsewhere").c_str(), (fRun + "/UnPas2c").c_str()), 0);
  EXPECT_NE(plm::CreateNamedMutex("UnPas2c"), 0);
  EXPECT_FALSE(plm::FileExists(fRoot + "/elsewhere"));
}

TEST_F(NamedMutex, TheLockEndsWithItsHolderEvenWhenAProgramItStartedLivesOn) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    // The holder takes the mutex, starts a long-lived program and reports its id.
    ::close(ready[0]);
    if (plm::CreateNamedMutex("UnPas2held") != 0) ::_exit(3);
    pid_t child = -1;
    char sleepProgram[] = "/bin/sleep", arg[] = "120";
    char *argv[] = {sleepProgram, arg, nullptr};
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) != 0) ::_exit(4);
    if (::write(ready[1], &child, sizeof child) != sizeof child) ::_exit(5);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  pid_t started = -1;
  ASSERT_EQ(::read(ready[0], &started, sizeof started), ssize_t(sizeof started));
  ::close(ready[0]);
  EXPECT_EQ(plm::CreateNamedMutex("UnPas2held"), plm::ERROR_ALREADY_EXISTS);
  // The program runs as itself once the system has given it its name, which comes after
  // the descriptors it was not to inherit are closed. Until then it still holds a copy of
  // them, whatever its starter does: its starter hears of it a little before.
  ASSERT_TRUE(plmtest::WaitUntil(
      [&] {
        std::ifstream comm("/proc/" + std::to_string(started) + "/comm");
        std::string name;
        return std::getline(comm, name) && name == "sleep";
      },
      10000));

  ::kill(holder, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  EXPECT_EQ(::kill(started, 0), 0); // the program it started still runs
  EXPECT_EQ(plm::CreateNamedMutex("UnPas2held"), 0);
  ::kill(started, SIGKILL);
}

// --- The local channel ------------------------------------------------------------------

using Channel = Session;

TEST_F(Channel, AMessageArrivesWholeAfterItsReceiptAndTheSocketIsPrivate) {
  plm::TLocalListener listener;
  std::vector<std::string> got;
  listener.OnMessage = [&](const std::string &m) { got.push_back(m); };
  ASSERT_TRUE(listener.Listen("UnPas2canal"));
  struct stat st;
  ASSERT_EQ(::stat((fRun + "/UnPas2canal.sock").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u);

  std::string message = "/tmp/dossier \xe9t\xe9/lettre.plm";
  message += std::string(5000, 'x');
  auto sent = SendAsync("UnPas2canal", message, 10000);
  ASSERT_TRUE(Finished(sent, 15000));
  EXPECT_TRUE(sent.get());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !got.empty(); }, 5000));
  EXPECT_EQ(got, std::vector<std::string>{message});
}

TEST_F(Channel, NoListenerOrAStaleSocketFailsAfterTheTimeAndAListenerReplacesTheStaleSocket) {
  auto none = SendAsync("UnPas2canal", "x", 300);
  ASSERT_TRUE(Finished(none, 10000));
  EXPECT_FALSE(none.get());

  // A socket file left by a listener that died: connecting is refused.
  const std::string path = fRun + "/UnPas2canal.sock";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  ::close(fd);
  auto stale = SendAsync("UnPas2canal", "x", 300);
  ASSERT_TRUE(Finished(stale, 10000));
  EXPECT_FALSE(stale.get());

  plm::TLocalListener listener;
  ASSERT_TRUE(listener.Listen("UnPas2canal"));
  auto sent = SendAsync("UnPas2canal", "x", 10000);
  ASSERT_TRUE(Finished(sent, 15000));
  EXPECT_TRUE(sent.get());
}

TEST_F(Channel, SendersThatMisbehaveHoldUpNoOther) {
  plm::TLocalListener listener;
  std::vector<std::string> got;
  listener.OnMessage = [&](const std::string &m) { got.push_back(m); };
  ASSERT_TRUE(listener.Listen("UnPas2canal"));
  const QString path = QString::fromStdString(fRun + "/UnPas2canal.sock");

  QLocalSocket silent; // connects and says nothing
  silent.connectToServer(path);
  ASSERT_TRUE(silent.waitForConnected(5000));
  QLocalSocket huge; // announces far more than a message may hold
  huge.connectToServer(path);
  ASSERT_TRUE(huge.waitForConnected(5000));
  huge.write(QByteArray("\x7f\xff\xff\xff", 4));
  huge.flush();
  QLocalSocket empty; // announces nothing at all
  empty.connectToServer(path);
  ASSERT_TRUE(empty.waitForConnected(5000));
  empty.write(QByteArray(4, '\0'));
  empty.flush();

  auto sent = SendAsync("UnPas2canal", "/un/chemin", 10000);
  ASSERT_TRUE(Finished(sent, 15000));
  EXPECT_TRUE(sent.get());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !got.empty(); }, 5000));
  EXPECT_EQ(got, std::vector<std::string>{"/un/chemin"});
  // The bad ones are dropped; the silent one when its time is up.
  EXPECT_TRUE(QTest::qWaitFor([&] { return huge.state() == QLocalSocket::UnconnectedState; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return empty.state() == QLocalSocket::UnconnectedState; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return silent.state() == QLocalSocket::UnconnectedState; },
                              plm::TLocalListener::ConnectionTimeout + 5000));
}

// --- The command line -------------------------------------------------------------------

TEST(CommandLine, OneFileOrFolderMadeAbsoluteHelpAndRefusals) {
  using A = plm::TCommandLine::Action;
  EXPECT_EQ(plm::ParseCommandLine({}).action, A::Run);
  EXPECT_EQ(plm::ParseCommandLine({}).path, "");

  char buf[4096];
  const std::string here = ::getcwd(buf, sizeof buf);
  const auto rel = plm::ParseCommandLine({"modeles/../lettre.plm"});
  EXPECT_EQ(rel.action, A::Run);
  EXPECT_EQ(rel.path, (here == "/" ? "" : here) + "/lettre.plm");
  EXPECT_EQ(plm::ParseCommandLine({"/a/dossier/"}).path, "/a/dossier");

  EXPECT_EQ(plm::ParseCommandLine({"--help"}).action, A::Help);
  EXPECT_EQ(plm::ParseCommandLine({"-h", "x"}).action, A::Help);
  const auto unknown = plm::ParseCommandLine({"-x"});
  EXPECT_EQ(unknown.action, A::Error);
  EXPECT_NE(unknown.message.find("-x"), std::string::npos);
  EXPECT_EQ(plm::ParseCommandLine({"/a.plm", "/b.plm"}).action, A::Error);
  // After "--", a name starting with "-" is a name.
  const auto dashed = plm::ParseCommandLine({"--", "/-h.plm"});
  EXPECT_EQ(dashed.action, A::Run);
  EXPECT_EQ(dashed.path, "/-h.plm");
}

} // namespace
