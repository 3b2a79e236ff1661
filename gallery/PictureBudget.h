#pragma once
// The decoded pictures the gallery keeps: at most a number of bytes of them, the least
// recently shown dropped first to make room. What is dropped is read again from the shared
// thumbnail cache when it is shown again; the budget only decides what stays. Used on one
// thread.
#include <QImage>

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace plm {

class TPictureBudget {
public:
  explicit TPictureBudget(size_t limitBytes) : fLimit(limitBytes) {}

  // Keeps the picture, in place of one kept before for the path: as the most recently
  // shown one, or, for a picture not shown, as the least (the first to go). Returns the
  // paths whose pictures were dropped to stay within the budget, the path itself when
  // there is no room left for it.
  std::vector<std::string> Keep(const std::string &path, QImage picture, bool shown = true);
  // The picture kept for the path, now the most recently shown; null when none.
  const QImage *Use(const std::string &path);
  // The same without counting as shown.
  const QImage *Find(const std::string &path) const;
  bool Holds(const std::string &path) const { return fIndex.count(path) != 0; }
  void Drop(const std::string &path);
  void Clear();

  size_t Bytes() const { return fBytes; }
  size_t Limit() const { return fLimit; }
  size_t Count() const { return fIndex.size(); }
  static size_t Cost(const QImage &picture) { return size_t(picture.sizeInBytes()); }

private:
  using List = std::list<std::pair<std::string, QImage>>; // most recently shown first
  List fKept;
  std::unordered_map<std::string, List::iterator> fIndex;
  size_t fBytes = 0;
  size_t fLimit;
};

} // namespace plm
