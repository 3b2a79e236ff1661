#pragma once
// TF_ViewPic: the picture window. It shows one picture of the template (a GIF animated,
// its frames composed on its logical screen) at its own size, closes on Enter, Escape or Space, and saves a copy of the
// picture where the user chooses.
#include "ui_U_ViewPic.h"

#include "platform/gui/Dialogs.h"

#include <QDialog>

#include <string>

// The extension of a picture's real format by its inspector type (".GIF", ".JPG", ".PNG",
// ".BMP", ".PCX", ".TIFF"), empty for any other type.
std::string ViewingExtension(int imageType);
// The name of the viewing copy of the preview folder's entry name: the name with the real
// format's extension. Empty when the type is unknown or the name is not a plain entry of
// the folder (empty, ".", "..", or holding a "/"), so no copy can land elsewhere.
std::string ViewingCopyName(const std::string &name, int imageType);

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
