#pragma once
// Message boxes and the save dialog, reached through one seam: tests install handlers
// that answer them instead of a person.
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace plm {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons of a message box, combined with |.
enum TMsgDlgBtn : unsigned {
  mbYes = 1u << 0,
  mbNo = 1u << 1,
  mbOK = 1u << 2,
  mbCancel = 1u << 3,
  mbAbort = 1u << 4,
  mbRetry = 1u << 5,
  mbIgnore = 1u << 6,
};

// What a message box answers: the button pressed.
enum TModalResult : int {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
};

// The application's title: the caption of message boxes that name none. Window titles
// never carry it.
void SetApplicationTitle(const QString &title);
QString ApplicationTitle();

struct MessageRequest {
  QWidget *parent = nullptr;
  QString title; // the application's title when empty
  QString text;
  TMsgDlgType type = TMsgDlgType::mtInformation;
  unsigned buttons = mbOK;
  TMsgDlgBtn defaultButton = mbOK; // Enter
  TMsgDlgBtn escapeButton = mbOK;  // Escape
};

// Shows the box modally and returns the button pressed.
TModalResult MessageDlg(const MessageRequest &request);
// A plain box with an OK button.
void ShowMessage(QWidget *parent, const QString &text);

struct SaveDialogRequest {
  QWidget *parent = nullptr;
  QString title;
  QString fileName;   // proposed name
  QString initialDir; // the dialog's own choice when empty
  QString filter;     // no file-type filter when empty
  QString defaultExt; // none when empty
  bool overwritePrompt = true;
};

// The chosen path, or nothing when the user cancelled.
std::optional<QString> ExecuteSaveDialog(const SaveDialogRequest &request);

using MessageHandler = std::function<TModalResult(const MessageRequest &)>;
using SaveDialogHandler = std::function<std::optional<QString>(const SaveDialogRequest &)>;
// Install a handler in place of the real window; an empty one restores it. Each
// returns the handler it replaced.
MessageHandler SetMessageHandler(MessageHandler handler);
SaveDialogHandler SetSaveDialogHandler(SaveDialogHandler handler);

} // namespace plm
