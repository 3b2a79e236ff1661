#pragma once
// A shown TShellTree over a private folder tree, with the home folder moved into it so
// that the desktop's contents are known, and a shell user interface that answers in place
// of a person.
#include "platform/shell/ShellUI.h"
#include "shelltree/ShellTree.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plmtest {

// Records what the shell would show; never opens a window.
class RecordingShellUI : public plm::TShellUI {
public:
  std::optional<std::string> AskName(plm::HWND, const std::string &, const std::string &,
                                     const std::string &) override {
    return std::nullopt;
  }
  void ShowError(plm::HWND, const std::string &text) override { Errors.push_back(text); }
  void ShowProperties(plm::HWND, const plm::TItemProperties &) override {}
  std::vector<std::string> Errors;
};

class TreeTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // A folder (made with its parents) under the test's folder; its full path.
  std::string Dir(const std::string &relative) const;
  std::string File(const std::string &relative, const std::string &bytes = "") const;
  // A tree rooted at the folder (RootUsePIDL off), shown; OnChange calls are counted.
  plm::TShellTree &Tree(const std::string &rootDir, plm::TVisOptions options = plm::TF_FOLDERS);
  // A tree rooted at the desktop, shown.
  plm::TShellTree &DesktopTree();

  // The child of node labelled name, or null.
  static plm::TShellnode *ChildNamed(plm::TShellnode *node, const std::string &name);
  static std::vector<std::string> Labels(plm::TShellnode *node);

  std::string fRoot;
  std::unique_ptr<QWidget> fWindow;
  plm::TShellTree *fTree = nullptr;
  int fChanges = 0; // OnChange calls
  RecordingShellUI fUI;
  plm::TShellUI *fPreviousUI = nullptr;
};

} // namespace plmtest
