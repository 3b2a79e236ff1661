#include "app/FileListBox.h"

#include "platform/DisplayText.h"
#include "platform/FileSys.h"
#include "platform/FolderWatch.h"
#include "platform/Paths.h"
#include "platform/Strings.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <set>

namespace {

constexpr int kItemHeight = 16;
// Beyond this many changes at once, one reading of the folder costs less than following
// each of them.
constexpr size_t kMostFollowed = 256;
// While another window of the viewer is modal, changes wait this long and are tried again.
constexpr int kRetryMs = 100;

bool Before(const std::string &a, const std::string &b) {
  const int c = plm::CompareText(a, b);
  return c != 0 ? c < 0 : a < b;
}

// Program changes to the list raise no events.
class Silence {
public:
  explicit Silence(int &counter) : fCounter(counter) { ++fCounter; }
  ~Silence() { --fCounter; }

private:
  int &fCounter;
};

bool Match(const char *n, const char *m) {
  // Iterative wildcard match with one backtrack point for the last "*".
  const char *star = nullptr;
  const char *resume = nullptr;
  while (*n) {
    const unsigned char a = static_cast<unsigned char>(*n);
    const unsigned char b = static_cast<unsigned char>(*m);
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    if (*m == '*') {
      star = m++;
      resume = n;
    } else if (*m && (*m == '?' || lower(a) == lower(b))) {
      ++n;
      ++m;
    } else if (star) {
      m = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (*m == '*')
    ++m;
  return *m == '\0';
}

} // namespace

TFileListBox::TFileListBox(QWidget *parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setIconSize(QSize(kItemHeight, kItemHeight));
  connect(this, &QListWidget::itemSelectionChanged, this, &TFileListBox::UserSelectionChanged);
  fWatch = new plm::TFolderWatch(this);
  connect(fWatch, &plm::TFolderWatch::Changed, this, &TFileListBox::Apply);
  // Deleted, or replaced (by a link, another folder): what is there now, watched anew;
  // and once more when a missing folder is there again.
  connect(fWatch, &plm::TFolderWatch::Gone, this, [this] { Reread(); });
  connect(fWatch, &plm::TFolderWatch::Returned, this, [this] { Reread(); });
  fRetry = new QTimer(this);
  fRetry->setSingleShot(true);
  fRetry->setInterval(kRetryMs);
  connect(fRetry, &QTimer::timeout, this, [this] { Apply({}); });
}

bool TFileListBox::MatchesMask(const std::string &name, const std::string &mask) {
  return Match(name.c_str(), mask.c_str());
}

void TFileListBox::setMask(const std::string &mask) {
  if (mask == fMask) return;
  fMask = mask;
  if (!fDirectory.empty()) Update();
}

void TFileListBox::setDirectory(const std::string &dir) {
  fDirectory = dir;
  plm::SetCurrentDir(dir);
  Update();
}

void TFileListBox::Update() {
  // Read again on purpose: what is there now is watched, even when the folder that was
  // watched under this name has gone or been replaced and its watch has not told it yet.
  fWatch->Stop();
  ListFolder();
  emit Listed();
}

void TFileListBox::ListFolder() {
  Silence quiet(fSilent);
  clear();
  fNames.clear();
  fPending.clear();
  fLastSel = -1;
  Watch();
  if (fDirectory.empty()) return;
  for (auto &n : plm::ListDirectory(fDirectory)) {
    if (n.empty() || n[0] == '.' || !MatchesMask(n, fMask)) continue;
    if (!plm::FileExists(plm::AddBackslash(fDirectory) + n)) continue; // folders stay out
    fNames.push_back(std::move(n));
  }
  std::sort(fNames.begin(), fNames.end(), Before);
  fIcon = QIcon();
  for (const auto &n : fNames) {
    if (fIcon.isNull())
      fIcon = QFileIconProvider().icon(
          QFileInfo(QString::fromStdString(plm::AddBackslash(fDirectory) + n)));
    auto *item = new QListWidgetItem(fIcon, plm::ToDisplay(n), this);
    item->setSizeHint(QSize(0, kItemHeight));
  }
}

void TFileListBox::Watch() {
  // One watch for the folder, whatever the number of its files; a folder that cannot be
  // watched is still listed, and a missing one is waited for.
  if (fDirectory.empty()) {
    fWatch->Stop();
    return;
  }
  if ((fWatch->Watching() || fWatch->Waiting()) && fWatch->Folder() == fDirectory) return;
  fWatch->Watch(fDirectory);
}

void TFileListBox::Reread() {
  const std::string selected = ItemText(ItemIndex());
  const int scrolled = verticalScrollBar()->value();
  fWatch->Stop(); // watched anew: a replaced folder is another one
  ListFolder();
  if (!selected.empty()) {
    const size_t row = RowFor(selected);
    if (row < fNames.size() && fNames[row] == selected) setItemIndex(int(row));
  }
  verticalScrollBar()->setValue(scrolled);
  emit Listed();
}

size_t TFileListBox::RowFor(const std::string &name) const {
  return size_t(std::lower_bound(fNames.begin(), fNames.end(), name, Before) - fNames.begin());
}

bool TFileListBox::Listable(const std::string &name) const {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
         MatchesMask(name, fMask);
}

bool TFileListBox::Insert(const std::string &name) {
  const size_t row = RowFor(name);
  if (row < fNames.size() && fNames[row] == name) return false;
  fNames.insert(fNames.begin() + std::ptrdiff_t(row), name);
  if (fIcon.isNull())
    fIcon = QFileIconProvider().icon(
        QFileInfo(QString::fromStdString(plm::AddBackslash(fDirectory) + name)));
  auto *item = new QListWidgetItem(fIcon, plm::ToDisplay(name));
  item->setSizeHint(QSize(0, kItemHeight));
  insertItem(int(row), item);
  return true;
}

bool TFileListBox::Remove(const std::string &name) {
  const size_t row = RowFor(name);
  if (row >= fNames.size() || fNames[row] != name) return false;
  // Gone with its file: nothing is selected then (the view would move the selection on).
  if (ItemIndex() == int(row)) setItemIndex(-1);
  fNames.erase(fNames.begin() + std::ptrdiff_t(row));
  delete takeItem(int(row));
  return true;
}

void TFileListBox::Apply(const std::vector<plm::TFolderChange> &changes) {
  using Kind = plm::TFolderChange::Kind;
  if (fDirectory.empty()) return;
  fPending.insert(fPending.end(), changes.begin(), changes.end());
  if (fPending.empty()) return;
  // Not under another window of the viewer: its handlers may rely on the list as it is.
  const QWidget *modal = QApplication::activeModalWidget();
  if (modal && modal != window()) {
    if (fPending.size() > kMostFollowed) fPending.assign(1, plm::TFolderChange{});
    fRetry->start();
    return;
  }
  const std::vector<plm::TFolderChange> todo = std::exchange(fPending, {});
  if (todo.size() > kMostFollowed ||
      std::any_of(todo.begin(), todo.end(), [](const auto &c) { return c.What == Kind::Overflow; })) {
    Reread();
    return;
  }
  // Each name is looked at as the folder is now: the disk has the last word, whatever
  // order the changes were told in (a file renamed back and forth, removed and made again).
  const std::string folder = plm::AddBackslash(fDirectory);
  bool rows = false;
  std::set<std::string> inserted, written;
  {
    Silence quiet(fSilent);
    // The view stays where the user scrolled it, whatever moves above or below.
    const int scrolled = verticalScrollBar()->value();
    // there: the change says the file is in the folder (added, written, renamed to it).
    const auto follow = [&](const std::string &name, bool there) {
      if (!Listable(name)) return;
      if (plm::FileExists(folder + name)) { // folders stay out
        if (Insert(name)) {
          inserted.insert(name);
          rows = true;
        } else if (there && !inserted.count(name)) {
          written.insert(name);
        }
      } else if (Remove(name)) {
        inserted.erase(name);
        written.erase(name);
        rows = true;
      }
    };
    std::string selected = ItemText(ItemIndex());
    for (const auto &c : todo) {
      if (c.What == Kind::Renamed) follow(c.OldName, false);
      follow(c.Name, c.What != Kind::Removed);
      // The selected file renamed: the selection goes with it.
      if (c.What == Kind::Renamed && !selected.empty() && c.OldName == selected && ItemIndex() < 0) {
        const size_t row = RowFor(c.Name);
        if (row < fNames.size() && fNames[row] == c.Name) {
          setItemIndex(int(row));
          selected = c.Name;
        }
      }
    }
    fLastSel = ItemIndex();
    verticalScrollBar()->setValue(scrolled);
  }
  if (rows) emit RowsChanged();
  for (const auto &name : written) emit Written(name);
}

int TFileListBox::ItemIndex() const {
  const auto sel = selectedItems();
  return sel.isEmpty() ? -1 : row(sel.first());
}

void TFileListBox::setItemIndex(int index) {
  Silence quiet(fSilent);
  if (index < 0 || index >= count()) {
    clearSelection();
    setCurrentRow(-1, QItemSelectionModel::NoUpdate);
    fLastSel = -1;
    return;
  }
  setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
  fLastSel = index;
}

std::string TFileListBox::ItemText(int index) const {
  return index >= 0 && size_t(index) < fNames.size() ? fNames[size_t(index)] : std::string();
}

std::string TFileListBox::FileName() const {
  const int i = ItemIndex();
  return i < 0 ? std::string() : plm::AddBackslash(fDirectory) + ItemText(i);
}

int TFileListBox::ItemAtPos(const QPoint &pos) const {
  const QListWidgetItem *it = itemAt(pos);
  return it ? row(it) : -1;
}

QItemSelectionModel::SelectionFlags TFileListBox::selectionCommand(const QModelIndex &index,
                                                                   const QEvent *event) const {
  // Like a plain list box: a click on the empty area keeps the selection, and the
  // selected item cannot be unselected (no Ctrl+click toggling).
  if (!index.isValid()) return QItemSelectionModel::NoUpdate;
  const QItemSelectionModel::SelectionFlags f = QListWidget::selectionCommand(index, event);
  if (f == QItemSelectionModel::NoUpdate) return f;
  return QItemSelectionModel::ClearAndSelect;
}

void TFileListBox::focusInEvent(QFocusEvent *e) {
  QListWidget::focusInEvent(e);
  // Focus alone moves no cursor onto an item: the first arrow key selects the first one.
  if (selectedItems().isEmpty() && currentIndex().isValid()) {
    Silence quiet(fSilent);
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
}

void TFileListBox::UserSelectionChanged() {
  if (fSilent) return;
  const int i = ItemIndex();
  if (i < 0) return;
  if (OnClick) OnClick(this);
  if (ItemIndex() != fLastSel) {
    fLastSel = ItemIndex();
    if (OnChange) OnChange(this);
  }
}
