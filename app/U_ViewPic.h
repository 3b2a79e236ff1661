#pragma once
// TF_ViewPic: the picture window. It shows one picture of the template (animated when
// it is a GIF) at its own size, closes on Enter, Escape or Space, and saves a copy of the
// picture where the user chooses.
#include "ui_U_ViewPic.h"

#include "platform/gui/Dialogs.h"

#include <QDialog>

#include <string>

class TF_ViewPic : public QDialog, public Ui::TF_ViewPic {
  Q_OBJECT
public:
  explicit TF_ViewPic(QWidget *owner = nullptr);

  // The picture file shown, and the one copied when saving.
  std::string SourceFile;
  // The save dialog's settings: no filter, no default extension, asks before overwriting.
  plm::SaveDialogRequest SaveDialog;

  // The client area's size; the window keeps it (a dialog border does not resize).
  void SetClientSize(int width, int height);

  void FormKeyDown(int &key, Qt::KeyboardModifiers shift);
  void SavepicasClick();

protected:
  void showEvent(QShowEvent *e) override;
};
