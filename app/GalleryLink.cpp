#include "app/GalleryLink.h"

#include "app/FileListBox.h"
#include "app/GalleryExport.h"
#include "app/GallerySearch.h"
#include "catalogue/Catalogue.h"
#include "app/UGallery.h"
#include "app/UMain.h"
#include "gallery/ThumbnailSource.h"
#include "platform/DirScan.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/gui/ErrorReport.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QListView>
#include <QTimer>

using namespace plm;

namespace {

// Changes on disk come in bursts (a copy, an unpacked archive): the gallery follows the
// list once they settle.
constexpr int kFollowDelayMs = 50;

int RowOf(const TFileListBox &list, const std::string &name) {
  for (int i = 0; i < list.count(); ++i)
    if (list.ItemText(i) == name) return i;
  return -1;
}

} // namespace

TGalleryLink::TGalleryLink(TF_Main &main, TSourceMaker makeSource)
    : QObject(&main), fMain(main), fMakeSource(std::move(makeSource)),
      fCatalogueFile(DefaultCatalogueFileName()) {
  OpenAction = new QAction(QString::fromUtf8("Galerie des modèles"), &main);
  OpenAction->setObjectName(QStringLiteral("Gallery1"));
  OpenAction->setShortcut(QKeySequence(Qt::Key_F4));
  main.File1->insertAction(main.Exit1, OpenAction);
  connect(OpenAction, &QAction::triggered, this, Guarded([this](bool) { Open(); }, &main));

  connect(main.FileListBox, &TFileListBox::Listed, this,
          Guarded(
              [this](auto &&...) {
                if (Shown()) Reload();
              },
              &main));
  connect(main.FileListBox, &QListWidget::itemSelectionChanged, this,
          Guarded(
              [this](auto &&...) {
                if (Shown()) FollowSelection();
              },
              &main));
  // The gallery closes with the main window (and keeps its place for next time).
  connect(&main, &QDialog::finished, this, [this] {
    if (Shown()) fWindow->close();
  });

  fFollow = new QTimer(this);
  fFollow->setSingleShot(true);
  fFollow->setInterval(kFollowDelayMs);
  connect(fFollow, &QTimer::timeout, this, Guarded([this](auto &&...) { Follow(); }, &main));
  connect(main.FileListBox, &TFileListBox::RowsChanged, this, [this] {
    if (Shown()) fFollow->start();
  });
  // Rewritten in place, under the same name: its picture is made again.
  connect(main.FileListBox, &TFileListBox::Written, this,
          Guarded(
              [this](const std::string &name) {
                if (!Shown()) return;
                const std::string path = AddBackslash(fMain.FileListBox->Directory()) + name;
                if (const auto it = fStamps.find(path); it != fStamps.end())
                  it->second = {FileModTime(path), FileSize(path)};
                if (fSearch) fSearch->Invalidate();
                fWindow->Model().Refresh(path);
              },
              &main));
}

TGalleryLink::~TGalleryLink() {
  // The window asks its source until it goes: it goes first.
  delete fWindow.data();
}

TF_Gallery *TGalleryLink::Window() const { return fWindow; }

bool TGalleryLink::Shown() const { return fWindow && fWindow->isVisible(); }

void TGalleryLink::Open() {
  if (!fWindow) {
    fSource = fMakeSource ? fMakeSource() : nullptr;
    if (!fSource) return;
    fWindow = new TF_Gallery(*fSource, &fMain);
    fWindow->addAction(OpenAction);
    fWindow->installEventFilter(this);
    connect(fWindow, &TF_Gallery::TemplatePicked, this,
            Guarded([this](const std::string &path) { Pick(path, false); }, fWindow.data()));
    connect(fWindow, &TF_Gallery::TemplateActivated, this,
            Guarded([this](const std::string &path) { Pick(path, true); }, fWindow.data()));
    InstallGalleryExport(*fWindow, [this] { return fMain.FileListBox->Directory(); });
    fSearch = new TGallerySearch(*fWindow, fCatalogueFile);
    // The field emptied: the folder as before.
    connect(fSearch, &TGallerySearch::Cleared, this,
            Guarded([this](auto &&...) { Reload(); }, fWindow.data()));
    fWindow->ReadGeometry();
  }
  if (!fWindow->isVisible()) Reload();
  fWindow->show();
  fWindow->raise();
  fWindow->activateWindow();
  fWindow->Grid->setFocus(Qt::ActiveWindowFocusReason);
}

bool TGalleryLink::eventFilter(QObject *watched, QEvent *event) {
  // The type first: while the window is being destroyed it is no longer a TF_Gallery.
  if (event->type() == QEvent::Close && watched == fWindow) Stop();
  return QObject::eventFilter(watched, event);
}

void TGalleryLink::Reload(bool full) {
  const TFileListBox &list = *fMain.FileListBox;
  if (fSearch && fSearch->Active()) {
    // The results stay while the main window moves within the searched folder (a result
    // picked in a subfolder opens it); elsewhere the search follows the main window.
    if (!fSearch->Covers(list.Directory())) fSearch->SetFolder(list.Directory());
    fWindow->SelectPath(list.FileName());
    return;
  }
  if (fSearch) fSearch->SetFolder(list.Directory());
  const std::string folder = AddBackslash(list.Directory());
  std::vector<TGalleryEntry> entries;
  entries.reserve(size_t(list.count()));
  decltype(fStamps) stamps;
  if (full) // one pass over the folder, not a look at each file
    for (const auto &d : ScanDirectory(list.Directory()))
      if (d.kind == DirEntryInfo::File)
        stamps.emplace(folder + d.name, std::make_pair(std::time_t(d.mtimeNs / 1000000000), (long long)d.size));
  for (int i = 0; i < list.count(); ++i) {
    TGalleryEntry e;
    e.Path = folder + list.ItemText(i);
    entries.push_back(std::move(e));
  }
  fWindow->ShowTemplates(std::move(entries));
  if (full) {
    // A template rewritten while its changes could not be followed keeps its name: its
    // picture is made again.
    for (const auto &[path, stamp] : stamps) {
      const auto old = fStamps.find(path);
      if (old != fStamps.end() && old->second != stamp) fWindow->Model().Refresh(path);
    }
    fStamps = std::move(stamps);
  }
  fWindow->SelectPath(list.FileName());
  if (fSearch) fSearch->Describe();
}

void TGalleryLink::Stop() {
  fFollow->stop();
  fStamps.clear();
  // Closed, the gallery has nothing made for it.
  fWindow->ShowTemplates({});
}

void TGalleryLink::FollowSelection() { fWindow->SelectPath(fMain.FileListBox->FileName()); }

void TGalleryLink::Pick(const std::string &path, bool activate) {
  TFileListBox &list = *fMain.FileListBox;
  const std::string name = ExtractFileName(path);
  std::string folder = ExtractFilePath(path);
  if (folder != AddBackslash(list.Directory())) {
    // A template of another folder (a filter reaching into subfolders): its folder first.
    if (folder.size() > 1) folder.pop_back();
    fMain.setShellTreePath(folder);
  }
  int row = RowOf(list, name);
  if (row < 0) {
    // Come since the list was read: read it again.
    list.Update();
    row = RowOf(list, name);
  }
  if (row < 0) return;
  // As a click in the list: the list's own selection handlers preview it.
  if (list.ItemIndex() != row) list.setCurrentRow(row);
  list.scrollToItem(list.item(row));
  if (activate) {
    fMain.raise();
    fMain.activateWindow();
  }
}

void TGalleryLink::Follow() {
  if (!Shown()) return;
  if (fSearch) fSearch->Invalidate();
  Reload(false);
}
