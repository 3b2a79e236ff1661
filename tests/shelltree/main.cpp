// The shell tests run inside one graphical application (offscreen or under Xvfb), with a
// home folder of their own: it is set before GLib or Qt read the environment, so the
// trash and the user folders are the test's.
#include "platform/TempDir.h"

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  std::string home = "/tmp/plm-shelltest-XXXXXX";
  if (!::mkdtemp(home.data())) return 1;
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int rc;
  {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    rc = RUN_ALL_TESTS();
  }
  plm::DeleteEntryNoFollow(home);
  return rc;
}
