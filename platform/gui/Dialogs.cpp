#include "platform/gui/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <utility>

namespace plm {

namespace {

MessageHandler &MessageSeam() {
  static MessageHandler h;
  return h;
}

SaveDialogHandler &SaveSeam() {
  static SaveDialogHandler h;
  return h;
}

QString &TitleOfApplication() {
  static QString t;
  return t;
}

struct ButtonMap {
  TMsgDlgBtn button;
  QMessageBox::StandardButton standard;
  TModalResult result;
};

constexpr ButtonMap kButtons[] = {
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},
    {mbRetry, QMessageBox::Retry, mrRetry},
    {mbIgnore, QMessageBox::Ignore, mrIgnore},
};

QMessageBox::Icon IconOf(TMsgDlgType t) {
  switch (t) {
  case TMsgDlgType::mtWarning:
    return QMessageBox::Warning;
  case TMsgDlgType::mtError:
    return QMessageBox::Critical;
  case TMsgDlgType::mtInformation:
    return QMessageBox::Information;
  case TMsgDlgType::mtConfirmation:
    return QMessageBox::Question;
  case TMsgDlgType::mtCustom:
    break;
  }
  return QMessageBox::NoIcon;
}

TModalResult RealMessageBox(const MessageRequest &r) {
  QMessageBox box(IconOf(r.type), r.title.isEmpty() ? ApplicationTitle() : r.title, r.text,
                  QMessageBox::NoButton, r.parent);
  for (const auto &b : kButtons) {
    if (!(r.buttons & b.button)) continue;
    QPushButton *pb = box.addButton(b.standard);
    if (b.button == r.defaultButton) box.setDefaultButton(pb);
    if (b.button == r.escapeButton) box.setEscapeButton(pb);
  }
  box.exec();
  const auto clicked = box.standardButton(box.clickedButton());
  for (const auto &b : kButtons)
    if (b.standard == clicked) return b.result;
  return mrCancel;
}

std::optional<QString> RealSaveDialog(const SaveDialogRequest &r) {
  QFileDialog dlg(r.parent, r.title, r.initialDir, r.filter);
  dlg.setOption(QFileDialog::DontUseNativeDialog, true);
  dlg.setOption(QFileDialog::DontConfirmOverwrite, !r.overwritePrompt);
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setFileMode(QFileDialog::AnyFile);
  if (!r.defaultExt.isEmpty()) {
    dlg.setDefaultSuffix(r.defaultExt);
    // A name typed without extension takes that of the type chosen ("Page (*.html)").
    QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&dlg](const QString &filter) {
      const int star = filter.indexOf(QLatin1String("(*."));
      const int end = filter.indexOf(QRegularExpression(QStringLiteral("[ ;)]")), star + 3);
      if (star >= 0 && end > star + 3) dlg.setDefaultSuffix(filter.mid(star + 3, end - star - 3));
    });
  }
  if (!r.fileName.isEmpty()) dlg.selectFile(r.fileName);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
  return dlg.selectedFiles().first();
}

} // namespace

void SetApplicationTitle(const QString &title) { TitleOfApplication() = title; }

QString ApplicationTitle() {
  const QString &t = TitleOfApplication();
  return t.isEmpty() ? QCoreApplication::applicationName() : t;
}

TModalResult MessageDlg(const MessageRequest &request) {
  if (const MessageHandler h = MessageSeam()) return h(request);
  return RealMessageBox(request);
}

void ShowMessage(QWidget *parent, const QString &text) {
  MessageRequest r;
  r.parent = parent;
  r.text = text;
  r.type = TMsgDlgType::mtCustom;
  MessageDlg(r);
}

std::optional<QString> ExecuteSaveDialog(const SaveDialogRequest &request) {
  if (const SaveDialogHandler h = SaveSeam()) return h(request);
  return RealSaveDialog(request);
}

MessageHandler SetMessageHandler(MessageHandler handler) {
  std::swap(MessageSeam(), handler);
  return handler;
}

SaveDialogHandler SetSaveDialogHandler(SaveDialogHandler handler) {
  std::swap(SaveSeam(), handler);
  return handler;
}

} // namespace plm
