#include "app/UAbout.h"

#include "app/UMain.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/KeyPreview.h"

#include <QGuiApplication>
#include <QScreen>

#ifndef PLM_VERSION
#define PLM_VERSION "0"
#endif

TFAbout::TFAbout(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::WindowStaysOnTopHint) {
  InitViewerResources();
  setupUi(this);
  setFixedSize(388, 229);
  LabVersion->setText(QStringLiteral("Version %1").arg(QLatin1String(PLM_VERSION)));
  QPalette title = Label1->palette();
  title.setColor(QPalette::WindowText, title.color(QPalette::Highlight));
  Label1->setPalette(title);
  QPalette grey = Memo1->palette();
  grey.setColor(QPalette::Base, grey.color(QPalette::Window));
  grey.setColor(QPalette::Text, grey.color(QPalette::Disabled, QPalette::Text));
  Memo1->setPalette(grey);
  connect(Button1, &QPushButton::clicked, this, plm::Guarded([this](bool) { Button1Click(); }));
  new plm::TKeyPreview(this, [this](int &key, Qt::KeyboardModifiers shift) {
    plm::GuardCall([&] { FormKeyDown(key, shift); }, this);
  });
  if (const QScreen *s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
  Button1->setFocus();
}

void TFAbout::Button1Click() { close(); }

void TFAbout::FormKeyDown(int &key, Qt::KeyboardModifiers) {
  switch (key) {
  case Qt::Key_Escape:
  case Qt::Key_Space:
  case Qt::Key_Backspace:
  case Qt::Key_Tab:
  case Qt::Key_Backtab:
  case Qt::Key_Delete:
  case Qt::Key_Clear:
  case Qt::Key_Cancel:
    key = 0;
    close();
    break;
  case Qt::Key_Return:
  case Qt::Key_Enter:
    // Only the focused button acts on Enter; elsewhere it does nothing.
    if (focusWidget() != Button1) key = 0;
    break;
  default:
    break;
  }
}
