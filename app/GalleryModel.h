#pragma once
// TGalleryModel: the templates the gallery shows, one row each, with the picture of its
// page as its source answers it. Rows start with a placeholder and change to the picture
// or to a failure tile as answers come; the answers of templates no longer listed are
// dropped. A picture the source drops to stay within its memory budget is dropped here
// too, and asked of the source again when its row is painted.
#include <QAbstractListModel>
#include <QImage>
#include <QString>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class TThumbnailSource;

// One template to show. A filter shows a subset of a folder, possibly from its subfolders:
// detail is the second line under the name (e.g. the subfolder), empty for none.
struct TGalleryEntry {
  std::string Path;    // bytes of the file's full path
  QString Detail;      // second line under the file name
  QString Description; // what assistive technologies read after the name
  // The template's problems and the copy it duplicates, in French, one a line; empty when
  // it is sound. The tile then carries a mark, and its tooltip and description say them.
  QString Health = {};
};

class TGalleryModel : public QAbstractListModel {
  Q_OBJECT
public:
  enum Role { PathRole = Qt::UserRole + 1, StateRole };
  enum class State { Waiting, Shown, Failed };

  // The source must outlive the model.
  explicit TGalleryModel(TThumbnailSource &source, QObject *parent = nullptr);

  // Shows these templates in this order. Rows whose path stays keep their picture; the
  // source is asked for the new list.
  void setEntries(std::vector<TGalleryEntry> entries);
  const std::vector<TGalleryEntry> &Entries() const { return fEntries; }
  // The row of a path, or -1.
  int RowOf(const std::string &path) const;
  std::string PathAt(int row) const;
  State StateAt(int row) const;
  // The template changed on disk: its placeholder comes back until the source answers.
  void Refresh(const std::string &path);
  // What assistive technologies read after the template's name (its display name and
  // collection, once something has read them).
  void SetDescriptions(const std::vector<std::pair<std::string, QString>> &descriptions);
  // The entries' Health, as the catalogue found it.
  void SetHealth(const std::vector<std::pair<std::string, QString>> &health);
  // The rows shown on screen, asked before the others.
  void SetVisibleRows(int first, int last);

  int rowCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role) const override;

private:
  struct TAnswer {
    State state = State::Waiting;
    QImage picture;
    QString reason;
  };
  void Answer(const std::string &path, TAnswer answer);
  // Moves the rows to the entries by removing and inserting runs; false when they are
  // reordered or mostly new (nothing is changed then).
  bool Merge(const std::vector<TGalleryEntry> &entries);
  void Reindex();
  // Entries of the same paths, in the same order, as the rows.
  void Take(std::vector<TGalleryEntry> entries);

  TThumbnailSource &fSource;
  std::vector<TGalleryEntry> fEntries;
  std::unordered_map<std::string, int> fRows;
  std::unordered_map<std::string, TAnswer> fAnswers;
  // The tiles shown while a picture is made and when it cannot be.
  QImage fWaitingTile;
  QImage fFailedTile;
};
