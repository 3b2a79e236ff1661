#include "app/FileListBox.h"

#include "platform/DisplayText.h"
#include "platform/FileSys.h"
#include "platform/Paths.h"
#include "platform/Strings.h"

#include <QFileIconProvider>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr int kItemHeight = 16;

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
  ListFolder();
  emit Listed();
}

void TFileListBox::ListFolder() {
  Silence quiet(fSilent);
  clear();
  fNames.clear();
  fLastSel = -1;
  if (fDirectory.empty()) return;
  for (auto &n : plm::ListDirectory(fDirectory)) {
    if (n.empty() || n[0] == '.' || !MatchesMask(n, fMask)) continue;
    if (!plm::FileExists(plm::AddBackslash(fDirectory) + n)) continue; // folders stay out
    fNames.push_back(std::move(n));
  }
  std::sort(fNames.begin(), fNames.end(), [](const std::string &a, const std::string &b) {
    const int c = plm::CompareText(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  // Every item matches the same mask: one icon lookup serves the whole list.
  QIcon icon;
  for (const auto &n : fNames) {
    if (icon.isNull())
      icon = QFileIconProvider().icon(
          QFileInfo(QString::fromStdString(plm::AddBackslash(fDirectory) + n)));
    auto *item = new QListWidgetItem(icon, plm::ToDisplay(n), this);
    item->setSizeHint(QSize(0, kItemHeight));
  }
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
