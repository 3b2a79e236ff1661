#include "app/GalleryModel.h"

#include "gallery/ThumbnailSource.h"
#include "platform/DisplayText.h"
#include "platform/Paths.h"
#include "preview/TemplateRules.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr int kTile = plm::kThumbnailSize;

// A tile of the pictures' size: a frame, and a mark for what it stands for.
QImage Tile(const QColor &ink, bool crossed) {
  QImage tile(kTile / 2, kTile / 2, QImage::Format_ARGB32_Premultiplied);
  tile.fill(Qt::transparent);
  QPainter p(&tile);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(ink, 2));
  p.setBrush(QColor(245, 245, 245));
  const QRectF page(24.5, 8.5, tile.width() - 49, tile.height() - 17);
  p.drawRoundedRect(page, 4, 4);
  if (crossed) {
    p.setPen(QPen(ink, 4));
    const QRectF mark = page.adjusted(18, 28, -18, -28);
    p.drawLine(mark.topLeft(), mark.bottomRight());
    p.drawLine(mark.topRight(), mark.bottomLeft());
  } else {
    for (int line = 0; line < 5; ++line) {
      const qreal y = page.top() + 20 + line * 16;
      p.drawLine(QPointF(page.left() + 12, y), QPointF(page.right() - 12, y));
    }
  }
  return tile;
}

QImage Fit(const QImage &picture) {
  return picture.width() > kTile || picture.height() > kTile
             ? picture.scaled(kTile, kTile, Qt::KeepAspectRatio, Qt::SmoothTransformation)
             : picture;
}

} // namespace

TGalleryModel::TGalleryModel(TThumbnailSource &source, QObject *parent)
    : QAbstractListModel(parent), fSource(source), fWaitingTile(Tile(QColor(190, 190, 190), false)),
      fFailedTile(Tile(QColor(200, 40, 40), true)) {
  connect(&fSource, &TThumbnailSource::thumbnailReady, this,
          [this](const std::string &path, const QImage &picture) {
            TAnswer a;
            a.state = State::Shown;
            // Kept as it came: the source's copy is shared, not doubled, and dropped when
            // the source drops its own.
            a.picture = Fit(picture);
            Answer(path, std::move(a));
          });
  connect(&fSource, &TThumbnailSource::thumbnailDropped, this, [this](const std::string &path) {
    if (const auto it = fAnswers.find(path); it != fAnswers.end()) it->second.picture = QImage();
  });
  connect(&fSource, &TThumbnailSource::thumbnailFailed, this,
          [this](const std::string &path, const QString &reason) {
            TAnswer a;
            a.state = State::Failed;
            a.reason = reason;
            Answer(path, std::move(a));
          });
}

void TGalleryModel::setEntries(std::vector<TGalleryEntry> entries) {
  // A description read by the catalogue stays with its template when the new list has none.
  for (auto &e : entries)
    if (e.Description.isEmpty())
      if (const int row = RowOf(e.Path); row >= 0) {
        e.Description = fEntries[size_t(row)].Description;
        e.Health = fEntries[size_t(row)].Health;
      }
  if (std::equal(entries.begin(), entries.end(), fEntries.begin(), fEntries.end(),
                 [](const auto &a, const auto &b) { return a.Path == b.Path; })) {
    // The same templates (a rewrite, a change to another file): the view keeps its place,
    // and the source keeps its work.
    Take(std::move(entries));
    return;
  }
  if (!Merge(entries)) {
    // Another folder or another order: everything anew.
    beginResetModel();
    fEntries = std::move(entries);
    Reindex();
    endResetModel();
  } else {
    Take(std::move(entries));
  }
  std::erase_if(fAnswers, [this](const auto &a) { return !fRows.count(a.first); });
  std::vector<std::string> paths;
  paths.reserve(fEntries.size());
  for (const auto &e : fEntries) paths.push_back(e.Path);
  fSource.setTemplates(paths);
}

bool TGalleryModel::Merge(const std::vector<TGalleryEntry> &entries) {
  // Templates added or removed among the same ones kept in the same order: rows are
  // removed and inserted in runs, so the view keeps its place and its selection.
  std::unordered_map<std::string, int> wanted;
  wanted.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) wanted.emplace(entries[i].Path, int(i));
  size_t kept = 0;
  int last = -1;
  for (const auto &e : fEntries) {
    const auto it = wanted.find(e.Path);
    if (it == wanted.end()) continue;
    if (it->second <= last) return false; // reordered
    last = it->second;
    ++kept;
  }
  // Mostly new rows: one reset is cheaper than many small moves.
  if (kept * 2 < fEntries.size() || kept * 2 < entries.size()) return false;
  for (size_t end = fEntries.size(); end > 0;) {
    if (wanted.count(fEntries[end - 1].Path)) {
      --end;
      continue;
    }
    size_t begin = end - 1;
    while (begin > 0 && !wanted.count(fEntries[begin - 1].Path)) --begin;
    beginRemoveRows({}, int(begin), int(end) - 1);
    fEntries.erase(fEntries.begin() + std::ptrdiff_t(begin), fEntries.begin() + std::ptrdiff_t(end));
    Reindex();
    endRemoveRows();
    end = begin;
  }
  for (size_t i = 0; i < entries.size();) {
    if (i < fEntries.size() && fEntries[i].Path == entries[i].Path) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < entries.size() && !fRows.count(entries[end].Path)) ++end;
    beginInsertRows({}, int(i), int(end) - 1);
    fEntries.insert(fEntries.begin() + std::ptrdiff_t(i), entries.begin() + std::ptrdiff_t(i),
                    entries.begin() + std::ptrdiff_t(end));
    Reindex();
    endInsertRows();
    i = end;
  }
  return true;
}

void TGalleryModel::Take(std::vector<TGalleryEntry> entries) {
  // Only the rows whose text changed: the grid measures each changed row again.
  int first = -1, last = -1;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].Detail != fEntries[i].Detail || entries[i].Description != fEntries[i].Description ||
        entries[i].Health != fEntries[i].Health) {
      if (first < 0) first = int(i);
      last = int(i);
    }
  fEntries = std::move(entries);
  if (first >= 0) emit dataChanged(index(first), index(last));
}

void TGalleryModel::Reindex() {
  fRows.clear();
  fRows.reserve(fEntries.size());
  for (size_t i = 0; i < fEntries.size(); ++i) fRows.emplace(fEntries[i].Path, int(i));
}

int TGalleryModel::RowOf(const std::string &path) const {
  const auto it = fRows.find(path);
  return it == fRows.end() ? -1 : it->second;
}

std::string TGalleryModel::PathAt(int row) const {
  return row >= 0 && size_t(row) < fEntries.size() ? fEntries[size_t(row)].Path : std::string();
}

TGalleryModel::State TGalleryModel::StateAt(int row) const {
  const auto it = fAnswers.find(PathAt(row));
  return it == fAnswers.end() ? State::Waiting : it->second.state;
}

void TGalleryModel::Refresh(const std::string &path) {
  const int row = RowOf(path);
  if (row < 0) return;
  fAnswers.erase(path);
  const QModelIndex i = index(row);
  emit dataChanged(i, i);
  fSource.refresh(path);
}

void TGalleryModel::SetHealth(const std::vector<std::pair<std::string, QString>> &health) {
  int first = rowCount(), last = -1;
  for (const auto &[path, text] : health) {
    const int row = RowOf(path);
    if (row < 0 || fEntries[size_t(row)].Health == text) continue;
    fEntries[size_t(row)].Health = text;
    first = std::min(first, row);
    last = std::max(last, row);
  }
  if (last >= 0) emit dataChanged(index(first), index(last));
}

void TGalleryModel::SetDescriptions(const std::vector<std::pair<std::string, QString>> &descriptions) {
  int first = rowCount(), last = -1;
  for (const auto &[path, description] : descriptions) {
    const int row = RowOf(path);
    if (row < 0 || fEntries[size_t(row)].Description == description) continue;
    fEntries[size_t(row)].Description = description;
    first = std::min(first, row);
    last = std::max(last, row);
  }
  if (last >= 0) emit dataChanged(index(first), index(last), {Qt::AccessibleDescriptionRole});
}

void TGalleryModel::SetVisibleRows(int first, int last) {
  std::vector<std::string> paths;
  for (int row = std::max(first, 0); row <= last && size_t(row) < fEntries.size(); ++row)
    paths.push_back(fEntries[size_t(row)].Path);
  fSource.setVisible(paths);
}

void TGalleryModel::Answer(const std::string &path, TAnswer answer) {
  const int row = RowOf(path);
  if (row < 0) return; // no longer shown
  fAnswers[path] = std::move(answer);
  const QModelIndex i = index(row);
  emit dataChanged(i, i);
}

int TGalleryModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(fEntries.size());
}

QVariant TGalleryModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || size_t(index.row()) >= fEntries.size()) return {};
  const TGalleryEntry &e = fEntries[size_t(index.row())];
  const auto found = fAnswers.find(e.Path);
  const TAnswer *answer = found == fAnswers.end() ? nullptr : &found->second;
  const bool failed = answer && answer->state == State::Failed;
  const QString name = plm::ToDisplay(plm::ExtractFileName(e.Path));
  // A template with something to say carries a mark before its name.
  const QString marked = e.Health.isEmpty() ? name : QString::fromUtf8("\u26A0 ") + name;
  switch (role) {
  case Qt::DisplayRole:
    return e.Detail.isEmpty() ? marked : marked + QLatin1Char('\n') + e.Detail;
  case Qt::DecorationRole: {
    if (failed) return fFailedTile;
    if (answer && !answer->picture.isNull()) return answer->picture;
    // Not answered yet, or dropped by the source to save memory: the source may have it
    // at once for the row shown now (not kept here, so that the source's budget alone
    // decides what stays).
    const QImage again = Fit(fSource.picture(e.Path));
    return again.isNull() ? fWaitingTile : again;
  }
  case Qt::ToolTipRole: {
    const QString tip = failed ? answer->reason : name;
    return e.Health.isEmpty() ? tip : tip + QLatin1Char('\n') + e.Health;
  }
  case Qt::AccessibleTextRole:
    return name;
  case Qt::AccessibleDescriptionRole: {
    const QString d = failed ? answer->reason : e.Description;
    if (e.Health.isEmpty()) return d;
    QString health = e.Health;
    health.replace(QLatin1Char('\n'), QStringLiteral(" ; "));
    return d.isEmpty() ? health : d + QStringLiteral(" ; ") + health;
  }
  case PathRole:
    return QByteArray::fromStdString(e.Path);
  case StateRole:
    return int(answer ? answer->state : State::Waiting);
  default:
    return {};
  }
}
