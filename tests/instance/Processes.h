#pragma once
// Programs started by the two-instance tests, each in a process group of its own that
// dies with the test, with their output kept in a log; a private X server with or without a window manager; and
// the X11 facts the tests read (active window, focus, window states).
#include <sys/types.h>

#include <functional>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace plmtest {

// Polls the condition until it holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()> &condition, int timeoutMs);

// Sends to a local listener from another thread, so that this one can run the
// listener's event loop, and waits (running it) for the sending to end.
std::future<bool> SendAsync(const std::string &name, const std::string &message, int timeoutMs);
bool Finished(std::future<bool> &sending, int timeoutMs);

class Child {
public:
  Child() = default;
  Child(Child &&other) noexcept;
  Child &operator=(Child &&other) noexcept;
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  // A child still running is killed with its whole group.
  ~Child();

  // Starts argv[0] with exactly this environment; its output goes to logPath. extraFd,
  // when given, becomes the child's descriptor 3.
  static Child Start(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                     const std::string &logPath, int extraFd = -1);

  bool Started() const { return fPid > 0; }
  pid_t Pid() const { return fPid; }
  // Not ended yet.
  bool Running();
  // The exit status (128 + signal for a signal), or nothing when it is still running
  // after timeoutMs.
  std::optional<int> Wait(int timeoutMs);
  // Signals the whole process group (the program and what it started).
  void Kill(int signal);
  std::string Log() const;

private:
  void Reset();

  pid_t fPid = -1;
  int fPidFd = -1;
  std::optional<int> fStatus;
  std::string fLog;
};

// The environment of this test process, as a map.
std::map<std::string, std::string> CurrentEnvironment();

// A private X server (Xvfb) on a display of its own, optionally with the openbox window
// manager, and a connection to it for reading the window states.
class PrivateDisplay {
public:
  PrivateDisplay() = default;
  ~PrivateDisplay();
  // False (with the reason in Error()) when the server or the manager did not come up.
  bool Start(const std::string &folder, bool withWindowManager);
  const std::string &Name() const { return fName; } // ":N"
  const std::string &Error() const { return fError; }

  uint32_t ActiveWindow() const; // _NET_ACTIVE_WINDOW of the root, 0 when none
  uint32_t InputFocus() const;
  bool IsViewable(uint32_t window) const;
  bool IsIconic(uint32_t window) const; // WM_STATE says IconicState
  // A plain top-level window of the test's own, mapped.
  uint32_t CreateWindow(const std::string &title);
  // Asks the window manager to activate or to minimise a window, as a pager would.
  void RequestActivation(uint32_t window);
  void RequestMinimise(uint32_t window);
  // Gives the input focus directly (no window manager).
  void SetFocus(uint32_t window);

private:
  uint32_t Atom(const char *name) const;
  std::vector<uint32_t> Property32(uint32_t window, const char *name, uint32_t type) const;
  void SendToRoot(uint32_t window, const char *type, uint32_t d0, uint32_t d1);

  Child fServer;
  Child fManager;
  std::string fName;
  std::string fError;
  xcb_connection_t *fConnection = nullptr;
  uint32_t fRoot = 0;
};

} // namespace plmtest
