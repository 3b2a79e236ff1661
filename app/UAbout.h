#pragma once
// TFAbout: the About window. Closes with its button, or with Escape, Space, Backspace,
// Tab, Delete, Clear or Cancel; Enter acts only through the focused control.
#include "ui_UAbout.h"

#include <QDialog>

class TFAbout : public QDialog, public Ui::TFAbout {
  Q_OBJECT
public:
  explicit TFAbout(QWidget *owner = nullptr);

  void Button1Click();
  void FormKeyDown(int &key, Qt::KeyboardModifiers shift);
};
