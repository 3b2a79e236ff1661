#pragma once
// TGallerySearch: the search above the gallery's grid. A field "Rechercher" and two check
// boxes narrow the gallery to the catalogue's matching templates of the folder (and of
// its subfolders when asked), as the user types; each result shows its folder relative to
// the searched one under its name. Cataloguing the folder runs off the interface thread
// and shows its progress. With the field empty and no font filter, the gallery shows the
// folder as before (Cleared).
//
// Two more check boxes keep the templates that have a copy under the searched folder
// (group by group) or that have problems; each tile says its problems and the copy it
// duplicates. "Mettre les doublons à la corbeille…" keeps the first of each group shown
// and, once confirmed, moves the others to the desktop's trash on a thread of its own
// (each file is read again first), with its progress in the status line.
#include <QObject>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "app/CatalogueSearch.h"
#include "catalogue/Catalogue.h"
#include "catalogue/TemplateRecord.h"
#include "platform/gui/Cursors.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QLineEdit;
class QThread;
class QTimer;
class TF_Gallery;

class TGallerySearch : public QObject {
  Q_OBJECT
public:
  // Puts its controls into the gallery's filter bar; a child of the gallery.
  TGallerySearch(TF_Gallery &gallery, const std::string &databaseFile);
  // Stops a trash step between two files and waits for it.
  ~TGallerySearch() override;

  QLineEdit *SearchEdit = nullptr;
  QCheckBox *SubfoldersCheck = nullptr;
  QCheckBox *MissingFontCheck = nullptr;
  QCheckBox *DuplicatesCheck = nullptr;
  QCheckBox *ProblemsCheck = nullptr;
  QPushButton *TrashButton = nullptr; // shown with the duplicates
  QLabel *Status = nullptr;

  // Whether the gallery shows search results rather than the folder.
  bool Active() const;
  // The folder searched (the main window's); a search under way is asked again.
  void SetFolder(const std::string &folder);
  const std::string &Folder() const { return fFolder; }
  // Whether a path lies in the searched folder or below it.
  bool Covers(const std::string &folder) const;
  // The folder's files changed: the next answer catalogues it again.
  void Invalidate();
  // Gives the gallery's templates of the folder their display name and collection as their
  // description, once the catalogue has read them (off the interface thread).
  void Describe();
  // Whether duplicates are being moved to the trash.
  bool Trashing() const { return fTrash != nullptr; }

signals:
  void Cleared();
  // The trash step is over; its report has been shown.
  void TrashFinished();

private:
  void Changed();
  void Ask();
  void Show(quint64 request, const TCatalogueSearch::Answer &answer);
  void ShowProgress(int done, int total);
  void TrashDuplicates();
  void TrashDone(const plm::TrashReport &report);

  TF_Gallery &fGallery;
  TCatalogueSearch *fSearch = nullptr;
  QTimer *fDelay = nullptr;
  std::string fFolder;
  bool fWasActive = false;
  quint64 fDescribing = 0; // the request of Describe, while it is the newest
  TCatalogueSearch::Answer fShown; // the results on the grid
  QThread *fTrash = nullptr;               // the trash step, while it runs
  std::atomic<bool> fCancelTrash{false};
  std::optional<plm::TBusyCursor> fTrashCursor; // working in the background, while it runs
};
