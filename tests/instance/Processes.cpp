#include "tests/instance/Processes.h"

#include "platform/LocalChannel.h"

#include <QElapsedTimer>
#include <QTest>

#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <utility>

extern char **environ;

namespace plmtest {

bool WaitUntil(const std::function<bool()> &condition, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    if (condition()) return true;
    if (clock.elapsed() >= timeoutMs) return false;
    QTest::qWait(20);
  }
}

std::future<bool> SendAsync(const std::string &name, const std::string &message, int timeoutMs) {
  return std::async(std::launch::async,
                    [=] { return plm::SendToListener(name, message, timeoutMs); });
}

bool Finished(std::future<bool> &sending, int timeoutMs) {
  return WaitUntil(
      [&] { return sending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
      timeoutMs);
}

Child::Child(Child &&other) noexcept { *this = std::move(other); }

Child &Child::operator=(Child &&other) noexcept {
  if (this != &other) {
    Reset();
    fPid = std::exchange(other.fPid, -1);
    fPidFd = std::exchange(other.fPidFd, -1);
    fStatus = std::exchange(other.fStatus, std::nullopt);
    fLog = std::move(other.fLog);
  }
  return *this;
}

Child::~Child() { Reset(); }

void Child::Reset() {
  if (fPid > 0 && Running()) {
    Kill(SIGKILL);
    Wait(10000);
  }
  if (fPidFd >= 0) ::close(fPidFd);
  fPid = -1;
  fPidFd = -1;
}

Child Child::Start(const std::vector<std::string> &argv,
                   const std::map<std::string, std::string> &env, const std::string &logPath,
                   int extraFd) {
  std::vector<std::string> envStrings;
  for (const auto &[k, v] : env)
    envStrings.push_back(k + "=" + v);
  std::vector<char *> args, envp;
  for (const auto &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (auto &e : envStrings)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  Child c;
  c.fLog = logPath;
  const int out = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only calls that are safe after a fork in a threaded program, then the program. It
    // leads a process group of its own, and dies with the test even when the test is killed.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0)
      ::_exit(127);
    if (extraFd >= 0 && ::dup2(extraFd, 3) < 0) ::_exit(127);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  if (out >= 0) ::close(out);
  if (pid < 0) return c;
  ::setpgid(pid, pid); // also here, so that the group exists whoever runs first
  c.fPid = pid;
  c.fPidFd = int(::syscall(SYS_pidfd_open, pid, 0));
  return c;
}

bool Child::Running() { return fPid > 0 && !Wait(0); }

std::optional<int> Child::Wait(int timeoutMs) {
  if (fStatus || fPid <= 0) return fStatus;
  if (fPidFd >= 0) {
    pollfd p{fPidFd, POLLIN, 0};
    int r;
    while ((r = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (r == 0) return std::nullopt;
  }
  int status = 0;
  const pid_t w = ::waitpid(fPid, &status, fPidFd >= 0 ? 0 : WNOHANG);
  if (w != fPid) return std::nullopt;
  fStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return fStatus;
}

void Child::Kill(int signal) {
  if (fPid > 0 && !fStatus) ::kill(-fPid, signal);
}

std::string Child::Log() const {
  std::ifstream in(fLog);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::map<std::string, std::string> CurrentEnvironment() {
  std::map<std::string, std::string> env;
  for (char **e = environ; e && *e; ++e) {
    const std::string s = *e;
    const size_t eq = s.find('=');
    if (eq != std::string::npos) env[s.substr(0, eq)] = s.substr(eq + 1);
  }
  return env;
}

// ---------------------------------------------------------------------------------------

namespace {

template <class T> std::unique_ptr<T, decltype(&std::free)> Own(T *p) {
  return std::unique_ptr<T, decltype(&std::free)>(p, &std::free);
}

} // namespace

PrivateDisplay::~PrivateDisplay() {
  if (fConnection) xcb_disconnect(fConnection);
  fManager.Kill(SIGTERM);
  fManager.Wait(5000);
  fServer.Kill(SIGTERM);
  fServer.Wait(5000);
}

bool PrivateDisplay::Start(const std::string &folder, bool withWindowManager) {
  // The server writes its display number on descriptor 3 once it takes connections.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    fError = "pipe";
    return false;
  }
  auto env = CurrentEnvironment();
  fServer = Child::Start({"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24",
                          "-nolisten", "tcp", "-noreset"},
                         env, folder + "/xvfb.log", fds[1]);
  ::close(fds[1]);
  std::string number;
  QElapsedTimer clock;
  clock.start();
  while (number.find('\n') == std::string::npos && clock.elapsed() < 20000) {
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, int(20000 - clock.elapsed())) <= 0) break;
    char buf[32];
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, size_t(n));
  }
  ::close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    fError = "Xvfb gave no display: " + fServer.Log();
    return false;
  }
  fName = ":" + number.substr(0, number.find('\n'));
  fConnection = xcb_connect(fName.c_str(), nullptr);
  if (xcb_connection_has_error(fConnection)) {
    fError = "no connection to " + fName;
    return false;
  }
  fRoot = xcb_setup_roots_iterator(xcb_get_setup(fConnection)).data->root;
  if (!withWindowManager) return true;

  env["DISPLAY"] = fName;
  env["HOME"] = folder;
  env["XDG_CONFIG_HOME"] = folder + "/wm-config";
  fManager = Child::Start({"/usr/bin/openbox", "--sm-disable"}, env, folder + "/openbox.log");
  // The manager is in charge once it names its check window on the root.
  const bool up = WaitUntil(
      [this] {
        const auto check = Property32(fRoot, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW);
        return !check.empty() && check[0] != 0;
      },
      20000);
  if (!up) fError = "openbox did not start: " + fManager.Log();
  return up;
}

uint32_t PrivateDisplay::Atom(const char *name) const {
  auto r = Own(xcb_intern_atom_reply(
      fConnection, xcb_intern_atom(fConnection, 0, uint16_t(std::strlen(name)), name), nullptr));
  return r ? r->atom : 0;
}

std::vector<uint32_t> PrivateDisplay::Property32(uint32_t window, const char *name,
                                                 uint32_t type) const {
  xcb_generic_error_t *error = nullptr;
  auto r = Own(xcb_get_property_reply(
      fConnection, xcb_get_property(fConnection, 0, window, Atom(name), type, 0, 64), &error));
  std::free(error);
  if (!r || r->format != 32) return {};
  const auto *items = static_cast<const uint32_t *>(xcb_get_property_value(r.get()));
  return std::vector<uint32_t>(items, items + xcb_get_property_value_length(r.get()) / 4);
}

uint32_t PrivateDisplay::ActiveWindow() const {
  const auto v = Property32(fRoot, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
  return v.empty() ? 0 : v[0];
}

uint32_t PrivateDisplay::InputFocus() const {
  auto r = Own(xcb_get_input_focus_reply(fConnection, xcb_get_input_focus(fConnection), nullptr));
  return r ? r->focus : 0;
}

bool PrivateDisplay::IsViewable(uint32_t window) const {
  xcb_generic_error_t *error = nullptr;
  auto r = Own(xcb_get_window_attributes_reply(
      fConnection, xcb_get_window_attributes(fConnection, window), &error));
  std::free(error);
  return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool PrivateDisplay::IsIconic(uint32_t window) const {
  const auto v = Property32(window, "WM_STATE", Atom("WM_STATE"));
  return !v.empty() && v[0] == 3;
}

uint32_t PrivateDisplay::CreateWindow(const std::string &title) {
  const xcb_window_t w = xcb_generate_id(fConnection);
  const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(fConnection)).data;
  xcb_create_window(fConnection, XCB_COPY_FROM_PARENT, w, fRoot, 40, 40, 300, 200, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  xcb_change_property(fConnection, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                      uint32_t(title.size()), title.data());
  xcb_map_window(fConnection, w);
  xcb_flush(fConnection);
  return w;
}

void PrivateDisplay::SendToRoot(uint32_t window, const char *type, uint32_t d0, uint32_t d1) {
  xcb_client_message_event_t ev;
  std::memset(&ev, 0, sizeof ev);
  ev.response_type = XCB_CLIENT_MESSAGE;
  ev.format = 32;
  ev.window = window;
  ev.type = Atom(type);
  ev.data.data32[0] = d0;
  ev.data.data32[1] = d1;
  xcb_send_event(fConnection, 0, fRoot,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char *>(&ev));
  xcb_flush(fConnection);
}

void PrivateDisplay::RequestActivation(uint32_t window) {
  SendToRoot(window, "_NET_ACTIVE_WINDOW", 2, XCB_CURRENT_TIME);
}

void PrivateDisplay::RequestMinimise(uint32_t window) {
  SendToRoot(window, "WM_CHANGE_STATE", 3 /* IconicState */, 0);
}

void PrivateDisplay::SetFocus(uint32_t window) {
  std::free(xcb_request_check(fConnection,
                              xcb_set_input_focus_checked(fConnection, XCB_INPUT_FOCUS_POINTER_ROOT,
                                                          window, XCB_CURRENT_TIME)));
}

} // namespace plmtest
