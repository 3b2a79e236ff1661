#pragma once
// The windows the provider's commands show: a name prompt, error messages (through the
// application's dialog seam) and the properties window.
#include "platform/shell/ShellUI.h"

#include <QDialog>

class QLabel;

namespace plm {

class TWidgetShellUI : public TShellUI {
public:
  std::optional<std::string> AskName(HWND owner, const std::string &title,
                                     const std::string &prompt,
                                     const std::string &initial) override;
  void ShowError(HWND owner, const std::string &text) override;
  void ShowProperties(HWND owner, const TItemProperties &properties) override;
};

// Installs the windows above as the shell's user interface unless one is installed.
void InstallWidgetShellUI();

// "Propriétés de …": one line per property, and a close button.
class TPropertiesWindow : public QDialog {
public:
  TPropertiesWindow(const TItemProperties &p, QWidget *parent = nullptr);
  QString Value(const QString &objectName) const;
};

} // namespace plm
