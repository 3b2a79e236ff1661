#pragma once
// What the window tests share: a QApplication, a private folder per test standing for
// the user's temporary folder, home and settings, template archives built on the spot
// with the project's own writer, and the message-box seam answered by the test.
#include "app/UMain.h"
#include "tests/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace plmtest {

// One file of a template: its stored name and its bytes.
using TemplateFile = std::pair<std::string, std::string>;

// A page with a text region whose style names the font.
std::string Page(const std::string &title, const std::string &font,
                 const std::string &pictures = "");
std::string ContentIni(const std::string &collection, const std::string &display,
                       const std::string &trademark);
// A GIF, JPEG, PNG or BMP picture ("gif", "jpeg", "png", "bmp") of the given size.
std::string Picture(const std::string &format, int w, int h);

class AppTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // A folder under this test's folder (made when missing), with no trailing "/".
  std::string Dir(const std::string &name) const;
  // Writes a template archive and returns its path.
  std::string MakeTemplate(const std::string &folder, const std::string &name,
                           const std::vector<TemplateFile> &files) const;
  std::string SettingsPath() const { return fRoot + "/settings/plmlooker.ini"; }

  // A shown main window, pointed at the folder (when not empty).
  std::unique_ptr<TF_Main> Open(const std::string &folder = "");
  // Clicks the list's item with the mouse.
  static void ClickItem(TF_Main &f, int index);
  // Waits for the window's download-complete event; false on time-out.
  static bool WaitForPreview(TF_Main &f, int timeoutMs = 30000);

  QStringList fMessages; // texts of the message boxes shown so far
  ScopedEnv fEnv;
  std::string fRoot;
};

} // namespace plmtest
