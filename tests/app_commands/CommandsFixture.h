#pragma once
// What the main-window tests share: a private folder per test standing for the user's
// temporary folder and settings, the volume provider replaced so a folder can be any
// kind of drive, the launcher recorded, and the message boxes and the save dialog
// answered by the test.
#include "../components/FakeVolumes.h"
#include "app/UMain.h"
#include "platform/gui/Dialogs.h"
#include "tests/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Failed comparisons of texts print the texts.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace fixtures {

class CommandsTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // A folder under this test's root (made when missing), no trailing "/"; registered as
  // a volume of the given drive type.
  std::string Folder(const std::string &name, int driveType = plm::DRIVE_FIXED);
  // A simple template whose "Display" is display, with the given pictures.
  std::string Template(const std::string &folder, const std::string &name,
                       const std::string &display);

  // A shown main window, pointed at the folder.
  std::unique_ptr<TF_Main> Open(const std::string &folder);
  static void LeftClick(TF_Main &f, int index);
  static void RightClick(TF_Main &f, int index);
  static void RightClickBelowItems(TF_Main &f);
  static bool WaitForPreview(TF_Main &f, int timeoutMs = 30000);
  // Waits until the browser shows the page (its background colour at the centre).
  static bool WaitForPainted(TF_Main &f, int timeoutMs = 10000);
  // Closes the file list's popup menu when it is open.
  static void CloseMenu(TF_Main &f);
  // Runs start, which runs a modal window; once a shown window of the class is the active
  // modal one, inspect runs inside that window's event loop, and the window is then
  // closed if it is still open. Returns whether such a window appeared.
  static bool WhileModal(const char *className, const std::function<void()> &start,
                         const std::function<void(QWidget &)> &inspect);

  std::string fRoot;
  FakeVolumes fVolumes;
  std::vector<plm::MessageRequest> fMessages;
  plm::TModalResult fAnswer = plm::mrYes;
  std::vector<plm::SaveDialogRequest> fSaveRequests;
  std::vector<QString> fSaveAnswers; // one per dialog; an empty one cancels
  std::vector<std::string> fLaunched;
  bool fSavedMailClient = false;
  plmtest::ScopedEnv fEnv;
};

} // namespace fixtures
