#include "app/UGallery.h"

#include "gallery/ThumbnailSource.h"
#include "platform/AppPaths.h"
#include "platform/Exceptions.h"
#include "platform/FileSys.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/gui/ErrorReport.h"
#include "preview/TemplateRules.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

using namespace plm;

namespace {

const char *const kIniGallery = "Gallery";
constexpr int kPicture = kThumbnailSize;
// Scrolling and resizing settle before the source is told what is on screen.
constexpr int kVisibleDelayMs = 40;

// The grid: several templates may be selected (Ctrl and Shift with a click or an arrow,
// Ctrl+A); the current one is the one previewed.
class TGalleryView : public QListView {
public:
  using QListView::QListView;
  std::function<void(const QModelIndex &)> OnEnter;

protected:
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                       const QEvent *event) const override {
    // A click on the empty area keeps the selection.
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    return QListView::selectionCommand(index, event);
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
    if (currentIndex().isValid() || rows == 0) return Move(action, modifiers);
    if (action == MoveEnd) return model()->index(rows - 1, modelColumn(), rootIndex());
    if (action != MovePageDown) return Move(action, modifiers);
    const QSignalBlocker quiet(selectionModel());
    selectionModel()->setCurrentIndex(model()->index(0, modelColumn(), rootIndex()),
                                      QItemSelectionModel::NoUpdate);
    const QModelIndex to = Move(action, modifiers);
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    return to;
  }
  // Qt's pages in a grid stay put when fewer than two rows of tiles fit in the window: a
  // page is then at least a row.
  QModelIndex Move(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex to = QListView::moveCursor(action, modifiers);
    if ((action != MovePageDown && action != MovePageUp) || to != currentIndex()) return to;
    return QListView::moveCursor(action == MovePageDown ? MoveDown : MoveUp, modifiers);
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
  Grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid->setDragEnabled(false);
  Grid->setIconSize(QSize(kPicture, kPicture));
  Grid->setItemDelegate(new TTileDelegate(Grid));
  // Room for the picture and two lines: the file name and, under a filter, its folder.
  Grid->setGridSize(QSize(kPicture + 24, kPicture + 3 * fontMetrics().height() + 8));
  layout->addWidget(Grid, 1);

  auto *bottom = new QHBoxLayout;
  layout->addLayout(bottom);
  Progress = new QLabel(this);
  Progress->setObjectName(QStringLiteral("Progress"));
  bottom->addWidget(Progress, 1);

  ExportSelectionAction = new QAction(QString::fromUtf8("Exporter la sélection…"), this);
  ExportSelectionAction->setObjectName(QStringLiteral("ExportSelection"));
  ExportSelectionAction->setEnabled(false);
  ExportFolderAction = new QAction(QString::fromUtf8("Exporter le dossier…"), this);
  ExportFolderAction->setObjectName(QStringLiteral("ExportFolder"));
  Grid->setContextMenuPolicy(Qt::ActionsContextMenu);
  Grid->addAction(ExportSelectionAction);
  Grid->addAction(ExportFolderAction);
  auto *exportButton = new QToolButton(this);
  exportButton->setObjectName(QStringLiteral("ExportButton"));
  exportButton->setText(QString::fromUtf8("Exporter"));
  exportButton->setPopupMode(QToolButton::InstantPopup);
  auto *exportMenu = new QMenu(exportButton);
  exportMenu->addAction(ExportSelectionAction);
  exportMenu->addAction(ExportFolderAction);
  exportButton->setMenu(exportMenu);
  bottom->addWidget(exportButton);

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

  connect(Grid->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    ExportSelectionAction->setEnabled(Grid->selectionModel()->hasSelection());
  });
  connect(Grid->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          Guarded([this](auto &&...) { UserSelectionChanged(); }, this));
  // A Ctrl+arrow moves the current item alone: the preview follows it when selected.
  connect(Grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
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
  fPicked = row < 0 ? std::string() : path;
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
  // The current template when it is among the selected, else the first selected.
  const QModelIndex current = Grid->selectionModel()->currentIndex();
  if (current.isValid() && Grid->selectionModel()->isSelected(current))
    return fModel->PathAt(current.row());
  const QModelIndexList rows = Grid->selectionModel()->selectedIndexes();
  return rows.isEmpty() ? std::string() : fModel->PathAt(rows.first().row());
}

std::vector<std::string> TF_Gallery::SelectedPaths() const {
  std::vector<int> rows;
  for (const QModelIndex &i : Grid->selectionModel()->selectedIndexes())
    rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> paths;
  for (const int row : rows)
    paths.push_back(fModel->PathAt(row));
  return paths;
}

void TF_Gallery::ShowProgress(int answered, int total) {
  Progress->setText(QStringLiteral("Vignettes : %1 / %2").arg(answered).arg(total));
  Progress->setAccessibleName(Progress->text());
}

std::pair<int, int> ShownRows(int rows, const std::function<QRect(int)> &rectOf, const QRect &shown) {
  const auto firstFrom = [&](auto below) {
    int lo = 0, hi = rows;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      const QRect r = rectOf(mid);
      if (!r.isValid() || below(r)) hi = mid;
      else lo = mid + 1;
    }
    return lo;
  };
  const int first = firstFrom([&](const QRect &r) { return r.bottom() >= shown.top(); });
  const int end = firstFrom([&](const QRect &r) { return r.top() > shown.bottom(); });
  return {first, end};
}

void TF_Gallery::AskVisibleFirst() {
  // A folder of 10,000 is not looked through tile by tile.
  const auto [first, end] = ShownRows(
      fModel->rowCount(), [&](int row) { return Grid->visualRect(fModel->index(row)); },
      Grid->viewport()->rect());
  if (first < end) fModel->SetVisibleRows(first, end - 1);
}

void TF_Gallery::UserSelectionChanged() {
  if (fSilent) return;
  // A move is reported once, though Qt tells of the selection and of the current item.
  const std::string path = SelectedPath();
  if (path.empty() || path == fPicked) return;
  fPicked = path;
  emit TemplatePicked(path);
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
  TIniFile ini(CreateSettingsFile());
  // The frame's position and the inner size: what move() and resize() take back.
  ini.WriteInteger(kIniGallery, "Left", x());
  ini.WriteInteger(kIniGallery, "Top", y());
  ini.WriteInteger(kIniGallery, "Width", width());
  ini.WriteInteger(kIniGallery, "Height", height());
}
