#pragma once
// TF_Gallery: the window "Galerie des modèles", a grid of pictures of template pages with
// the file names under them. It only shows and reports: what it shows comes from
// ShowTemplates, pictures from its source, and the user's choices leave as signals.
//
// A filter above the grid (FilterBar, empty until one is put there) narrows what is shown
// by calling ShowTemplates with the matching entries, each with its second line.
#include "app/GalleryModel.h"

#include <QWidget>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QBoxLayout;
class QLabel;
class QListView;
class QTimer;
class TThumbnailSource;

// The run of rows [first, end) whose tiles meet the shown rectangle, found by halving: rows
// run in reading order, their tiles top to bottom. rectOf gives a row's tile, an empty
// rectangle for one not laid out yet (the grid lays its tiles out in order, a batch at a
// time: such a tile comes after the shown ones).
std::pair<int, int> ShownRows(int rows, const std::function<QRect(int)> &rectOf, const QRect &shown);

class TF_Gallery : public QWidget {
  Q_OBJECT
public:
  // The source must outlive the window.
  TF_Gallery(TThumbnailSource &source, QWidget *owner);

  QBoxLayout *FilterBar = nullptr; // above the grid
  QListView *Grid = nullptr;
  QLabel *Progress = nullptr; // "Vignettes : 12 / 340"

  TGalleryModel &Model() { return *fModel; }

  // Shows the entries in their order; the template selected stays selected when it is
  // still among them. Raises no signal.
  void ShowTemplates(std::vector<TGalleryEntry> entries);
  // Selects the template and scrolls to it (nothing for "" or a path not shown). Raises no
  // signal.
  void SelectPath(const std::string &path);
  // The template previewed: the current one when selected, else the first selected.
  std::string SelectedPath() const;
  // Every selected template, in the grid's order.
  std::vector<std::string> SelectedPaths() const;

  // "Exporter la sélection…" and "Exporter le dossier…", in the grid's context menu and
  // the window's "Exporter" button; what they do is given by whoever shows the window.
  QAction *ExportSelectionAction = nullptr;
  QAction *ExportFolderAction = nullptr;

  // Size and position in the settings file, in a section of their own.
  void ReadGeometry();
  void WriteGeometry() const;

signals:
  // The user selected a template (mouse, arrows, Home/End, Page Up/Down).
  void TemplatePicked(const std::string &path);
  // The user chose a template (Enter, double click): it is selected as well.
  void TemplateActivated(const std::string &path);

protected:
  void closeEvent(QCloseEvent *e) override;
  void showEvent(QShowEvent *e) override;

private:
  void ShowProgress(int answered, int total);
  void AskVisibleFirst();
  void UserSelectionChanged();
  void UserActivated(const QModelIndex &index);

  TGalleryModel *fModel = nullptr;
  QTimer *fVisibleTimer = nullptr;
  int fSilent = 0;
  std::string fPicked; // the template last reported picked, or selected from outside
};
