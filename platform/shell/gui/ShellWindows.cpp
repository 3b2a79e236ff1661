#include "platform/shell/gui/ShellWindows.h"

#include "platform/gui/Dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace plm {

std::optional<std::string> TWidgetShellUI::AskName(HWND owner, const std::string &title,
                                                   const std::string &prompt,
                                                   const std::string &initial) {
  QInputDialog dlg(owner);
  dlg.setObjectName(QStringLiteral("ShellNamePrompt"));
  dlg.setWindowTitle(QString::fromStdString(title));
  dlg.setLabelText(QString::fromStdString(prompt));
  dlg.setTextValue(QString::fromStdString(initial));
  dlg.setOkButtonText(QStringLiteral("OK"));
  dlg.setCancelButtonText(QStringLiteral("Annuler"));
  if (auto *edit = dlg.findChild<QLineEdit *>()) edit->setAccessibleName(QString::fromStdString(prompt));
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return dlg.textValue().toStdString();
}

void TWidgetShellUI::ShowError(HWND owner, const std::string &text) {
  MessageRequest r;
  r.parent = owner;
  r.text = QString::fromStdString(text);
  r.type = TMsgDlgType::mtError;
  MessageDlg(r);
}

void TWidgetShellUI::ShowProperties(HWND owner, const TItemProperties &properties) {
  TPropertiesWindow w(properties, owner);
  w.exec();
}

void InstallWidgetShellUI() {
  static TWidgetShellUI ui;
  if (!ShellUI()) SetShellUI(&ui);
}

TPropertiesWindow::TPropertiesWindow(const TItemProperties &p, QWidget *parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ShellProperties"));
  const QString name = QString::fromStdString(p.Name);
  setWindowTitle(QStringLiteral("Propriétés de %1").arg(name));
  setAccessibleName(windowTitle());
  auto *form = new QFormLayout;
  auto row = [&](const char *object, const QString &caption, const std::string &value) {
    auto *label = new QLabel(QString::fromStdString(value));
    label->setObjectName(QString::fromLatin1(object));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setAccessibleName(caption);
    label->setWordWrap(true);
    form->addRow(caption + QStringLiteral(" :"), label);
  };
  row("PropName", QStringLiteral("Nom"), p.Name);
  row("PropType", QStringLiteral("Type"), p.Type);
  row("PropLocation", QStringLiteral("Emplacement"), p.Location);
  row("PropSize", QStringLiteral("Taille"), p.Size);
  row("PropModified", QStringLiteral("Modifié le"), p.Modified);
  row("PropPermissions", QStringLiteral("Permissions"), p.Permissions);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  QPushButton *close = buttons->button(QDialogButtonBox::Close);
  close->setText(QStringLiteral("Fermer"));
  close->setAccessibleName(QStringLiteral("Fermer"));
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

QString TPropertiesWindow::Value(const QString &objectName) const {
  const auto *l = findChild<QLabel *>(objectName);
  return l ? l->text() : QString();
}

} // namespace plm
