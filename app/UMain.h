#pragma once
// TF_Main: the viewer's main window. Its components come from UMain.ui; the event
// handlers carry the window's behaviour (start-up load, close step, preview).
#include "ui_UMain.h"

#include <QDialog>
#include <QUrl>

#include <string>

class QLabel;
class QWebEngineProfile;
class QWebEngineLoadingInfo;
class TDiskCaps;
class TPreviewGuard;
namespace plm {
class TKeyPreview;
class TSTCabReader;
class TSTCabWriter;
} // namespace plm

// Registers the windows' pictures and fonts; the windows call it themselves.
void InitViewerResources();

class TF_Main : public QDialog, public Ui::TF_Main {
  Q_OBJECT
public:
  explicit TF_Main(QWidget *owner = nullptr);
  ~TF_Main() override;

  // Fields of the window.
  std::string LastFolder;
  bool ClickSeen = false;
  bool PopupOnEmptyArea = false;
  int SavedComboWidth = 0;

  // Non-visual components, owned by the window.
  QObject *UnPas21 = nullptr; // the single-instance guard's place
  TDiskCaps *DiskCaps1 = nullptr;
  plm::TSTCabReader *CabReader = nullptr;
  plm::TSTCabWriter *STCabWriter1 = nullptr;
  // Refuses every request of a shown page that would leave the preview folder.
  TPreviewGuard *PreviewGuard = nullptr;
  // Shown over the browser when a page took its renderer down.
  QLabel *PageFailedLabel = nullptr;

  // Settings load (start-up and FormShow) and close step.
  void Majdata();
  bool FormCloseQuery();
  void FormShow();
  void cleartempdir();
  void Exit1Click();
  void FormKeyDown(int &key, Qt::KeyboardModifiers shift);
  void AboutboxClick();

  // The preview.
  void FileListBoxClick();
  void FileListBoxChange();
  void selectedfile();
  void resetright();
  void WebBrowserDownloadComplete();
  // The browser's renderer ended abnormally (a page that crashed it).
  void WebBrowserRenderProcessFailed();
  void selectimage();

  // The pictures list and the picture window.
  void ListimagesClick();
  void ListimagesKeyDown(int &key, Qt::KeyboardModifiers shift);
  void ListimagesDblClick();

  // The preview snapshot.
  void Snapshot_btnClick();
  void TrackBar1Change();
  void coefsizeChange();

  // The file list's popup commands.
  void FileListBoxMouseDown(Qt::MouseButton button, const QPoint &pos);
  void PopuplistfilePopup();
  void Installplm1Click();
  void Removefile1Click();

  // The folder shown: the folder tree's path, and its change handler.
  const std::string &ShellTreePath() const { return fShellPath; }
  void setShellTreePath(const std::string &path);
  void ShellTreeChange();

  // Asks the browser for a local page given by its path, or a blank page for "".
  void Navigate(const std::string &path);

signals:
  // Raised after WebBrowserDownloadComplete has run.
  void DownloadComplete();
  // Raised after WebBrowserRenderProcessFailed has run.
  void PageFailed();

protected:
  void done(int r) override;
  void showEvent(QShowEvent *e) override;
  // Right-clicks on the file list, key presses and double clicks on the pictures list.
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void LoadingChanged(const QWebEngineLoadingInfo &info);

  std::string fShellPath;
  QWebEngineProfile *fProfile = nullptr;
  plm::TKeyPreview *fKeyPreview = nullptr;
  QUrl fPendingUrl;              // the navigation whose end is awaited
  bool fShowingTemplate = false; // that navigation is a template page
  bool fClosed = false;
};
