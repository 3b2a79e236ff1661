#include "app/U_ViewPic.h"

#include "app/UMain.h"
#include "app/Uglobalvar.h"
#include "platform/DisplayText.h"
#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/Paths.h"
#include "platform/gui/ErrorReport.h"
#include "platform/gui/KeyPreview.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

#include <cerrno>
#include <cstring>

using namespace plm;

std::string ViewingExtension(int imageType) {
  switch (imageType) {
  case 1:
    return ".GIF";
  case 2:
    return ".JPG";
  case 3:
    return ".PNG";
  case 4:
    return ".BMP";
  case 5:
    return ".PCX";
  case 6:
    return ".TIFF";
  default:
    return {};
  }
}

std::string ViewingCopyName(const std::string &name, int imageType) {
  const std::string ext = ViewingExtension(imageType);
  if (ext.empty() || name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos)
    return {};
  return ChangeFileExt(name, ext);
}

TF_ViewPic::TF_ViewPic(QWidget *owner) : QDialog(owner) {
  InitViewerResources();
  setupUi(this);
  // A dialog border with only the system menu.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  AdvImage1->SetGIFAnimate(true);
  AdvImage1->SetGIFComposed(true); // animations as the template's page shows them
  AdvImage1->SetGifAnimateSpeed(10);
  AdvImage1->SetBevelWidth(1);
  AdvImage1->SetShowFrame3D(false);
  AdvImage1->SetStretchRatio(false);
  AdvImage1->SetCenterView(false);
  AdvImage1->SetShowEmptyLabel(false);
  AdvImage1->SetEmptyLabel("Vide");
  AdvImage1->SetJPEGPixelFormat(jf24Bit);
  AdvImage1->SetJPEGScale(jsFullSize);
  AdvImage1->SetJPEGGrayscale(false);
  AdvImage1->SetJPEGPerformance(jpBestQuality);
  AdvImage1->SetJPEGSmoothing(false);
  AdvImage1->SetJPEGProgressiveDisplay(false);

  SaveDialog.parent = this;
  SaveDialog.overwritePrompt = true;

  connect(AdvImage1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &p) { Savepic->popup(AdvImage1->mapToGlobal(p)); });
  connect(Savepicas, &QAction::triggered, this, Guarded([this](bool) { SavepicasClick(); }, this));
  new TKeyPreview(this, [this](int &key, Qt::KeyboardModifiers shift) {
    GuardCall([&] { FormKeyDown(key, shift); }, this);
  });
}

void TF_ViewPic::SetClientSize(int width, int height) { setFixedSize(width, height); }

void TF_ViewPic::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  if (e->spontaneous()) return;
  const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (s) move(s->availableGeometry().center() - rect().center());
}

void TF_ViewPic::FormKeyDown(int &key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape ||
      key == Qt::Key_Space) {
    key = 0;
    close();
  }
}

void TF_ViewPic::SavepicasClick() {
  SaveDialog.fileName = ToDisplay(ExtractFileName(AdvImage1->ImageName()));
  SaveDialog.initialDir = ToDisplay(SavePath);
  const std::optional<QString> chosen = ExecuteSaveDialog(SaveDialog);
  if (!chosen) return;
  const std::string target = FromDisplay(*chosen);
  // The dialog has asked about an existing file already.
  if (const int e = CopyFileBytes(SourceFile, target, false))
    throw Exception("Impossible d'enregistrer l'image sous \"" + target + "\".\n" +
                    std::strerror(e));
  SavePath = ExtractFilePath(target);
}
