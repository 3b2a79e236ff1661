#pragma once
// TGalleryLink: ties the gallery window to the main window. It puts "Galerie des modèles"
// (F4) in the "Fichier" menu; while the gallery is shown, the gallery lists the templates
// of the main window's file list in its order, follows its folder and selection, and
// follows the list's changes on disk: templates added, removed, renamed or rewritten. A template
// selected in the gallery is selected in the file list as a click there would, and
// previewed under the same rules.
#include <QObject>
#include <QPointer>

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QAction;
class QTimer;
class TF_Gallery;
class TF_Main;
class TGallerySearch;
class TThumbnailSource;

class TGalleryLink : public QObject {
  Q_OBJECT
public:
  // Makes the pictures' source when the gallery first opens; it may raise.
  using TSourceMaker = std::function<std::unique_ptr<TThumbnailSource>()>;

  // A child of the main window, living as long as it.
  TGalleryLink(TF_Main &main, TSourceMaker makeSource);
  ~TGalleryLink() override;

  QAction *OpenAction = nullptr;

  // Shows the gallery (made on first use), brings it forward and gives its grid the focus.
  void Open();
  // Null until the gallery has been opened once.
  TF_Gallery *Window() const;
  // The search above the grid; null until the gallery has been opened once.
  TGallerySearch *Search() const { return fSearch; }
  // The catalogue the search uses (the user's cache by default); before the first Open.
  void SetCatalogueFile(std::string file) { fCatalogueFile = std::move(file); }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  bool Shown() const;
  // The gallery lists the file list's templates again; after the list read its folder
  // (full), templates whose file changed meanwhile are made again.
  void Reload(bool full = true);
  // The main window's selection moved: the gallery's follows.
  void FollowSelection();
  // The user picked a template in the gallery; activate brings the main window forward.
  void Pick(const std::string &path, bool activate);
  // The list followed the folder: the gallery follows the list.
  void Follow();
  void Stop();

  TF_Main &fMain;
  TSourceMaker fMakeSource;
  std::unique_ptr<TThumbnailSource> fSource;
  QPointer<TF_Gallery> fWindow;
  QTimer *fFollow = nullptr;
  // Each listed template's modification time and size when the folder was last read.
  std::map<std::string, std::pair<std::time_t, long long>> fStamps;
  std::string fCatalogueFile;
  TGallerySearch *fSearch = nullptr;
};
