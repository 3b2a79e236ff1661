#include "app/UGallery.h"

#include "gallery/ThumbnailSource.h"
#include "platform/AppPaths.h"
#include "platform/Exceptions.h"
#include "platform/FileCopy.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/gui/ErrorReport.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>
#include <functional>

using namespace plm;

namespace {

const char *const kIniGallery = "Gallery";
constexpr int kPicture = 256;
// Scrolling and resizing settle before the source is told what is on screen.
constexpr int kVisibleDelayMs = 40;

// The grid: one template selected at a time, as in the main window's file list.
class TGalleryView : public QListView {
public:
  using QListView::QListView;
  std::function<void(const QModelIndex &)> OnEnter;

protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                       const QEvent *event) const override {
    // A click on the empty area keeps the selection; Ctrl+click cannot unselect.
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    const auto f = QListView::selectionCommand(index, event);
    return f == QItemSelectionModel::NoUpdate ? f : QItemSelectionModel::ClearAndSelect;
  }
  void focusInEvent(QFocusEvent *e) override {
    QListView::focusInEvent(e);
    // Focus alone puts no cursor on an item: the first arrow key selects the first one.
    if (selectionModel() && !selectionModel()->hasSelection() && currentIndex().isValid())
      selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
  // From no current item Qt sends every key to the first row; End and Page Down go where
  // they say, from the top of the grid.
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    if (currentIndex().isValid() || rows == 0) return QListView::moveCursor(action, modifiers);
    if (action == MoveEnd) return model()->index(rows - 1, modelColumn(), rootIndex());
    if (action != MovePageDown) return QListView::moveCursor(action, modifiers);
    const QSignalBlocker quiet(selectionModel());
    selectionModel()->setCurrentIndex(model()->index(0, modelColumn(), rootIndex()),
                                      QItemSelectionModel::NoUpdate);
    const QModelIndex to = QListView::moveCursor(action, modifiers);
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    return to;
  }
  void keyPressEvent(QKeyEvent *e) override {
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && OnEnter) {
      if (currentIndex().isValid()) OnEnter(currentIndex());
      return;
    }
    QListView::keyPressEvent(e);
  }
};

// Every tile takes a full picture's room, its picture centred in it, whatever the
// picture's own size: the names line up under the pictures, row after row.
class TTileDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

protected:
  void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->decorationSize = QSize(kPicture, kPicture);
  }
};

} // namespace

TF_Gallery::TF_Gallery(TThumbnailSource &source, QWidget *owner) : QWidget(owner, Qt::Window) {
  setObjectName(QStringLiteral("F_Gallery"));
  setWindowTitle(QString::fromUtf8("Galerie des modèles"));
  setAccessibleName(windowTitle());
  resize(900, 680);

  auto *layout = new QVBoxLayout(this);
  FilterBar = new QHBoxLayout;
  layout->addLayout(FilterBar);

  auto *grid = new TGalleryView(this);
  Grid = grid;
  Grid->setObjectName(QStringLiteral("Grid"));
  Grid->setAccessibleName(QString::fromUtf8("Modèles"));
  Grid->setAccessibleDescription(
      QString::fromUtf8("Les modèles du dossier affiché, en images de leur page"));
  Grid->setViewMode(QListView::IconMode);
  Grid->setMovement(QListView::Static);
  Grid->setResizeMode(QListView::Adjust);
  Grid->setLayoutMode(QListView::Batched);
  Grid->setUniformItemSizes(true);
  Grid->setWrapping(true);
  Grid->setWordWrap(true);
  Grid->setTextElideMode(Qt::ElideMiddle);
  Grid->setSelectionMode(QAbstractItemView::SingleSelection);
  Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid->setDragEnabled(false);
  Grid->setIconSize(QSize(kPicture, kPicture));
  Grid->setItemDelegate(new TTileDelegate(Grid));
  // Room for the picture and two lines: the file name and, under a filter, its folder.
  Grid->setGridSize(QSize(kPicture + 24, kPicture + 3 * fontMetrics().height() + 8));
  layout->addWidget(Grid, 1);

  Progress = new QLabel(this);
  Progress->setObjectName(QStringLiteral("Progress"));
  layout->addWidget(Progress);

  fModel = new TGalleryModel(source, this);
  Grid->setModel(fModel);

  fVisibleTimer = new QTimer(this);
  fVisibleTimer->setSingleShot(true);
  fVisibleTimer->setInterval(kVisibleDelayMs);
  connect(fVisibleTimer, &QTimer::timeout, this,
          Guarded([this](auto &&...) { AskVisibleFirst(); }, this));
  auto soon = [this] { fVisibleTimer->start(); };
  connect(Grid->verticalScrollBar(), &QScrollBar::valueChanged, this, soon);
  connect(Grid->verticalScrollBar(), &QScrollBar::rangeChanged, this, soon);
  connect(fModel, &QAbstractItemModel::modelReset, this, soon);

  connect(Grid->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          Guarded([this](auto &&...) { UserSelectionChanged(); }, this));
  grid->OnEnter = [this](const QModelIndex &i) { GuardCall([&] { UserActivated(i); }, this); };
  connect(Grid, &QAbstractItemView::doubleClicked, this,
          Guarded([this](const QModelIndex &i) { UserActivated(i); }, this));
  connect(&source, &TThumbnailSource::progressChanged, this, &TF_Gallery::ShowProgress);
  ShowProgress(source.answered(), source.total());

  auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
}

void TF_Gallery::ShowTemplates(std::vector<TGalleryEntry> entries) {
  const std::string selected = SelectedPath();
  ++fSilent;
  fModel->setEntries(std::move(entries));
  --fSilent;
  SelectPath(selected);
}

void TF_Gallery::SelectPath(const std::string &path) {
  // Already so: the view stays where the user has scrolled it.
  if (path == SelectedPath()) return;
  const int row = path.empty() ? -1 : fModel->RowOf(path);
  ++fSilent;
  if (row < 0) {
    Grid->selectionModel()->clearSelection();
    Grid->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  } else {
    const QModelIndex i = fModel->index(row);
    Grid->selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
    Grid->scrollTo(i);
  }
  --fSilent;
}

std::string TF_Gallery::SelectedPath() const {
  const QModelIndexList rows = Grid->selectionModel()->selectedIndexes();
  return rows.isEmpty() ? std::string() : fModel->PathAt(rows.first().row());
}

void TF_Gallery::ShowProgress(int answered, int total) {
  Progress->setText(QStringLiteral("Vignettes : %1 / %2").arg(answered).arg(total));
  Progress->setAccessibleName(Progress->text());
}

void TF_Gallery::AskVisibleFirst() {
  const QRect shown = Grid->viewport()->rect();
  const int n = fModel->rowCount();
  // Rows run in reading order, their tiles top to bottom: the shown ones are one run,
  // found by halving (a folder of 10,000 is not looked through tile by tile).
  const auto firstFrom = [&](auto below) {
    int lo = 0, hi = n;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (below(Grid->visualRect(fModel->index(mid)))) hi = mid;
      else lo = mid + 1;
    }
    return lo;
  };
  const int first = firstFrom([&](const QRect &r) { return r.bottom() >= shown.top(); });
  const int end = firstFrom([&](const QRect &r) { return r.top() > shown.bottom(); });
  if (first < end) fModel->SetVisibleRows(first, end - 1);
}

void TF_Gallery::UserSelectionChanged() {
  if (fSilent) return;
  const std::string path = SelectedPath();
  if (!path.empty()) emit TemplatePicked(path);
}

void TF_Gallery::UserActivated(const QModelIndex &index) {
  if (!index.isValid()) return;
  const std::string path = fModel->PathAt(index.row());
  if (SelectedPath() != path)
    Grid->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  emit TemplateActivated(path);
}

void TF_Gallery::showEvent(QShowEvent *e) {
  QWidget::showEvent(e);
  fVisibleTimer->start();
}

void TF_Gallery::closeEvent(QCloseEvent *e) {
  GuardCall([this] { WriteGeometry(); }, this);
  QWidget::closeEvent(e);
}

void TF_Gallery::ReadGeometry() {
  const std::string iniName = SettingsFileName();
  if (!FileExists(iniName)) return;
  const TIniFile ini(iniName);
  if (!ini.SectionExists(kIniGallery)) return;
  const QRect saved(ini.ReadInteger(kIniGallery, "Left", x()),
                    ini.ReadInteger(kIniGallery, "Top", y()),
                    ini.ReadInteger(kIniGallery, "Width", width()),
                    ini.ReadInteger(kIniGallery, "Height", height()));
  if (saved.width() < 200 || saved.height() < 150) return;
  resize(saved.size());
  // A position on a screen that has gone is dropped: the window must stay reachable.
  for (const QScreen *s : QGuiApplication::screens())
    if (s->availableGeometry().intersects(QRect(saved.topLeft(), QSize(100, 40)))) {
      move(saved.topLeft());
      return;
    }
}

void TF_Gallery::WriteGeometry() const {
  const std::string iniName = SettingsFileName();
  if (!FileExists(iniName)) {
    ForceDirectories(ExtractFilePath(iniName), 0700);
    if (const int e = WriteFileBytes(iniName, ""))
      throw EFOpenError("Impossible de créer le fichier \"" + iniName + "\". " + std::strerror(e));
  }
  TIniFile ini(iniName);
  // The frame's position and the inner size: what move() and resize() take back.
  ini.WriteInteger(kIniGallery, "Left", x());
  ini.WriteInteger(kIniGallery, "Top", y());
  ini.WriteInteger(kIniGallery, "Width", width());
  ini.WriteInteger(kIniGallery, "Height", height());
}
