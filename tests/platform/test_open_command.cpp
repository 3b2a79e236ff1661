// The program a template is handed to: never the viewer itself, the same one at the
// check and at the start, started through GIO in a session without a desktop environment
// (an openbox session, where xdg-open cannot tell a template's type).
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

std::string ReadAll(const std::string &path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

// Private XDG folders holding the template type, the entries of the case and its
// mimeapps.list; each entry runs a script that records its name and arguments.
class Desktop {
public:
  Desktop() {
    char tmpl[] = "/tmp/plm-desktop-XXXXXX";
    fRoot = ::mkdtemp(tmpl);
    for (const char *d : {"/data", "/data/mime", "/data/mime/packages", "/data/applications",
                          "/dirs", "/config", "/cdirs"})
      ::mkdir((fRoot + d).c_str(), 0700);
    // The template type as the installation declares it.
    Write(fRoot + "/data/mime/packages/plmlooker.xml",
          ReadAll(std::string(PLM_SOURCE_DIR) + "/desktop/plmlooker.xml"));
    std::system(("update-mime-database '" + fRoot + "/data/mime'").c_str());
    Write(fRoot + "/record", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + fRoot +
                                 "/started.tmp'\nmv '" + fRoot + "/started.tmp' '" + fRoot +
                                 "/started'\n");
    ::chmod((fRoot + "/record").c_str(), 0700);
    Write(Template(), "MSCF");
  }
  ~Desktop() { std::system(("rm -rf '" + fRoot + "'").c_str()); }

  void Entry(const std::string &id, const std::string &name) const {
    Write(fRoot + "/data/applications/" + id,
          "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + fRoot + "/record " +
              name + " %f\nMimeType=application/x-plumora-template;\n");
  }
  void Default(const std::string &id) const {
    Write(fRoot + "/config/mimeapps.list",
          "[Default Applications]\napplication/x-plumora-template=" + id + "\n");
  }
  std::string Template() const { return fRoot + "/ma lettre.plm"; }
  std::string Started() const { return fRoot + "/started"; }
  std::string Recorder() const { return fRoot + "/record"; }

  // The probe's output, run in the session's environment once the entries are indexed
  // as an installation indexes them.
  std::string Probe() const {
    std::system(("update-desktop-database '" + fRoot + "/data/applications'").c_str());
    const std::string cmd =
        "env -u XDG_CURRENT_DESKTOP -u GNOME_DESKTOP_SESSION_ID -u KDE_FULL_SESSION "
        "DESKTOP_SESSION=openbox XDG_DATA_HOME='" +
        fRoot + "/data' XDG_DATA_DIRS='" + fRoot + "/dirs' XDG_CONFIG_HOME='" + fRoot +
        "/config' XDG_CONFIG_DIRS='" + fRoot + "/cdirs' '" + PLM_BIN_DIR +
        "/open_command_probe' '" + Template() + "'";
    std::string out;
    if (FILE *p = ::popen(cmd.c_str(), "r")) {
      char buf[512];
      while (std::fgets(buf, sizeof buf, p))
        out += buf;
      ::pclose(p);
    }
    return out;
  }

private:
  std::string fRoot;
};

struct Session {
  const char *name;
  bool viewer, mailer;
  const char *defaultEntry; // in mimeapps.list; "" none
  bool handedOn;            // the mail client is found and started
};

class OpenCommandSession : public testing::TestWithParam<Session> {};

TEST_P(OpenCommandSession, TheCheckAndTheStartAgreeAndTheViewerIsLeftOut) {
  const Session &s = GetParam();
  const Desktop d;
  if (s.viewer) d.Entry("plmlooker.desktop", "viewer");
  if (s.mailer) d.Entry("mailer.desktop", "mailer");
  if (*s.defaultEntry) d.Default(s.defaultEntry);
  const std::string out = d.Probe();
  if (!s.handedOn) {
    EXPECT_EQ(out, "command: \nstarted: 0\n");
    EXPECT_NE(::access(d.Started().c_str(), F_OK), 0);
    return;
  }
  EXPECT_EQ(out, "command: " + d.Recorder() + " mailer %f\nstarted: 1\n");
  // The program runs on its own; its record appears once it has started.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (::access(d.Started().c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ReadAll(d.Started()), "mailer\n" + d.Template() + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, OpenCommandSession,
    testing::Values(Session{"ViewerOnly", true, false, "", false},
                    Session{"ViewerOnlyAsDefault", true, false, "plmlooker.desktop", false},
                    Session{"ViewerDefaultAndMailer", true, true, "plmlooker.desktop", true},
                    Session{"BothWithoutDefault", true, true, "", true},
                    Session{"MailerDefaultAndViewer", true, true, "mailer.desktop", true},
                    Session{"MailerOnly", false, true, "", true}),
    [](const testing::TestParamInfo<Session> &i) { return std::string(i.param.name); });

} // namespace
