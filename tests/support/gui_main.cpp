// Tests of graphical code run inside one graphical application (offscreen or under Xvfb),
// which timers, text drawing and the controls need.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (as the build does to register them) needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
