#pragma once
// TF_Main: the viewer's main window. Its components come from UMain.ui; the event
// handlers carry the window's behaviour (start-up load, close step, preview).
#include "preview/TemplateBrowser.h"
#include "ui_UMain.h"

#include <QDialog>
#include <QUrl>

#include <memory>
#include <string>

class QLabel;
class QWebEngineLoadingInfo;
class TDiskCaps;
class TPreviewGuard;
class TUnPas2;
namespace plm {
class TLocalListener;
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
  TUnPas2 *UnPas21 = nullptr;
  TDiskCaps *DiskCaps1 = nullptr;
  // The cabinet components are plain objects, not children of the window.
  std::unique_ptr<plm::TSTCabReader> CabReader;
  std::unique_ptr<plm::TSTCabWriter> STCabWriter1;
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
  std::string ShellTreePath() const;
  void setShellTreePath(const std::string &path);
  void ShellTreeChange();
  // The usual folders.
  void CB_UsualFolder_bckChange();
  void CB_UsualFolder_bckDropDown();
  void CB_UsualFolderDropUp();
  void PPMn_UsualFolderPopup();
  void AddfolderClick();
  void RemovefolderClick();
  // What the disk probe is pointed at for a folder: its volume's mount point, or the
  // server part of a network path.
  static std::string ProbeDriveOf(const std::string &folder);

  // Asks the browser for a local page given by its path, or a blank page for "".
  void Navigate(const std::string &path);

  // A file or folder given to the viewer (on its command line, or handed over by a later
  // start): its folder is shown and a template is selected and previewed, as if the user
  // had picked them. A path that does not exist, or a file that is no template, is
  // refused with a message. While another window of the viewer is open or a preview
  // loads, the latest path waits for them.
  void openpath(const std::string &path);
  // The single-instance guard's events: a later start hands its path over; the first
  // listens for paths.
  void UnPas21DejaLance();
  void UnPas21PasDejaLance();

signals:
  // Raised after WebBrowserDownloadComplete has run.
  void DownloadComplete();
  // Raised after WebBrowserRenderProcessFailed has run.
  void PageFailed();

protected:
  bool event(QEvent *e) override;
  void done(int r) override;
  void showEvent(QShowEvent *e) override;
  // Right-clicks on the file list, key presses and double clicks on the pictures list.
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void LoadingChanged(const QWebEngineLoadingInfo &info);
  void openpendingpath();

  TTemplateBrowser fBrowser;
  plm::TKeyPreview *fKeyPreview = nullptr;
  QUrl fPendingUrl;              // the navigation whose end is awaited
  bool fShowingTemplate = false; // that navigation is a template page
  bool fClosed = false;
  plm::TLocalListener *fPathListener = nullptr;
  std::string fPendingPath; // a path that waits for a window to close or a preview to end
};
