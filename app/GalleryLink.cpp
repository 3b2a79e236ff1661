#include "app/GalleryLink.h"

#include "app/FileListBox.h"
#include "app/GalleryExport.h"
#include "app/GallerySearch.h"
#include "catalogue/Catalogue.h"
#include "app/UGallery.h"
#include "app/UMain.h"
#include "gallery/ThumbnailSource.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/gui/ErrorReport.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFileSystemWatcher>
#include <QListView>
#include <QTimer>

using namespace plm;

namespace {

// Changes on disk come in bursts (a copy, an unpacked archive): one scan after they settle.
constexpr int kRescanDelayMs = 150;
// Beyond this many templates, rewrites are seen through the folder's own changes only
// (each watched file costs the user one of a limited number of kernel watches).
constexpr int kMaxWatchedFiles = 4000;
// Setting up a watch costs some tens of microseconds: a big folder's are set up a batch
// per turn of the event loop, never holding the interface for long.
constexpr size_t kWatchBatch = 200;

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

  fWatcher = new QFileSystemWatcher(this);
  fRescan = new QTimer(this);
  fRescan->setSingleShot(true);
  fRescan->setInterval(kRescanDelayMs);
  fWatchMore = new QTimer(this);
  fWatchMore->setSingleShot(true);
  fWatchMore->setInterval(0);
  connect(fWatchMore, &QTimer::timeout, this, [this] { WatchMore(); });
  connect(fRescan, &QTimer::timeout, this, Guarded([this](auto &&...) { Rescan(); }, &main));
  connect(fWatcher, &QFileSystemWatcher::directoryChanged, fRescan, qOverload<>(&QTimer::start));
  connect(fWatcher, &QFileSystemWatcher::fileChanged, this, [this](const QString &path) {
    fWritten.insert(QFile::encodeName(path).toStdString());
    fRescan->start();
  });
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

void TGalleryLink::Reload() {
  const TFileListBox &list = *fMain.FileListBox;
  if (fSearch && fSearch->Active()) {
    // The results stay while the main window moves within the searched folder (a result
    // picked in a subfolder opens it); elsewhere the search follows the main window.
    if (!fSearch->Covers(list.Directory())) fSearch->SetFolder(list.Directory());
    fWindow->SelectPath(list.FileName());
    Watch();
    return;
  }
  if (fSearch) fSearch->SetFolder(list.Directory());
  const std::string folder = AddBackslash(list.Directory());
  std::vector<TGalleryEntry> entries;
  entries.reserve(size_t(list.count()));
  decltype(fStamps) stamps;
  for (int i = 0; i < list.count(); ++i) {
    TGalleryEntry e;
    e.Path = folder + list.ItemText(i);
    stamps[e.Path] = {FileModTime(e.Path), FileSize(e.Path)};
    entries.push_back(std::move(e));
  }
  fWindow->ShowTemplates(std::move(entries));
  // A template rewritten in place keeps its name: its picture is made again.
  for (const auto &[path, stamp] : stamps) {
    const auto old = fStamps.find(path);
    if ((old != fStamps.end() && old->second != stamp) || fWritten.count(path))
      fWindow->Model().Refresh(path);
  }
  fStamps = std::move(stamps);
  fWritten.clear();
  fWindow->SelectPath(list.FileName());
  if (fSearch) fSearch->Describe();
  Watch();
}

void TGalleryLink::Watch() {
  const std::string &folder = fMain.FileListBox->Directory();
  const bool exists = !folder.empty() && DirectoryExists(folder);
  const QString dir = QFile::decodeName(folder.c_str());
  if (fWatcher->directories() != QStringList(dir)) {
    if (!fWatcher->directories().isEmpty()) fWatcher->removePaths(fWatcher->directories());
    if (exists) fWatcher->addPath(dir);
  }
  // Only what changed: the watches of templates no longer listed go, new ones come.
  std::set<std::string> watched;
  QStringList gone;
  for (const QString &file : fWatcher->files()) {
    std::string path = QFile::encodeName(file).toStdString();
    if (exists && fStamps.count(path) && fStamps.size() <= size_t(kMaxWatchedFiles))
      watched.insert(std::move(path));
    else
      gone << file;
  }
  if (!gone.isEmpty()) fWatcher->removePaths(gone);
  fToWatch.clear();
  if (!exists || fStamps.size() > size_t(kMaxWatchedFiles)) return;
  for (const auto &entry : fStamps)
    if (!watched.count(entry.first)) fToWatch.push_back(entry.first);
  if (!fToWatch.empty()) fWatchMore->start();
}

void TGalleryLink::WatchMore() {
  QStringList files;
  while (!fToWatch.empty() && size_t(files.size()) < kWatchBatch) {
    files << QFile::decodeName(fToWatch.back().c_str());
    fToWatch.pop_back();
  }
  if (!files.isEmpty()) fWatcher->addPaths(files);
  if (!fToWatch.empty()) fWatchMore->start();
}

void TGalleryLink::Stop() {
  fRescan->stop();
  fWatchMore->stop();
  fToWatch.clear();
  if (!fWatcher->directories().isEmpty()) fWatcher->removePaths(fWatcher->directories());
  if (!fWatcher->files().isEmpty()) fWatcher->removePaths(fWatcher->files());
  fStamps.clear();
  fWritten.clear();
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

void TGalleryLink::Rescan() {
  if (!Shown()) return;
  // Not under another window of the viewer: its handlers may rely on the list as it is.
  const QWidget *modal = QApplication::activeModalWidget();
  if (modal && modal != &fMain) {
    fRescan->start();
    return;
  }
  TFileListBox &list = *fMain.FileListBox;
  const std::string selected = list.ItemText(list.ItemIndex());
  if (fSearch) fSearch->Invalidate();
  list.Update();
  const int row = selected.empty() ? -1 : RowOf(list, selected);
  if (row >= 0) list.setItemIndex(row);
}
