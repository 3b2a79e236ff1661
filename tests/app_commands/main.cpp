// The tests of the main window's commands run inside one graphical application
// (offscreen or under Xvfb), as the windows, the browser and the timers need.
#include "imaging/PictureClasses.h"
#include "platform/GraphicsStart.h"
#include "platform/LeakCheck.h"
#include "platform/gui/Translations.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  plm::RegisterPictureClasses(); // as the viewer does at its start
  // Listing the tests (as the build does to register them) needs no display.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  plm::StartWithSharedGraphics(); // as the viewer starts
  QApplication app(argc, argv);
  // French as in the program, before the first browser view.
  plm::LoadFrenchTranslations();
  const int result = RUN_ALL_TESTS();
  // The browser engine's threads are idle here; see platform/LeakCheck.h.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  plm::CheckLeaksNow();
  return result;
}
