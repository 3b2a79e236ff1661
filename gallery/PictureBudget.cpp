#include "gallery/PictureBudget.h"

namespace plm {

std::vector<std::string> TPictureBudget::Keep(const std::string &path, QImage picture, bool shown) {
  const auto place = shown ? fKept.begin() : fKept.end();
  List::iterator at;
  if (const auto it = fIndex.find(path); it != fIndex.end()) {
    fBytes -= Cost(it->second->second);
    fKept.splice(place, fKept, it->second);
    at = it->second;
    at->second = std::move(picture);
  } else {
    at = fKept.emplace(place, path, std::move(picture));
    fIndex.emplace(path, at);
  }
  fBytes += Cost(at->second);
  std::vector<std::string> dropped;
  while (fBytes > fLimit && !fKept.empty()) {
    auto &last = fKept.back();
    fBytes -= Cost(last.second);
    fIndex.erase(last.first);
    dropped.push_back(std::move(last.first));
    fKept.pop_back();
  }
  return dropped;
}

const QImage *TPictureBudget::Use(const std::string &path) {
  const auto it = fIndex.find(path);
  if (it == fIndex.end()) return nullptr;
  fKept.splice(fKept.begin(), fKept, it->second);
  return &it->second->second;
}

const QImage *TPictureBudget::Find(const std::string &path) const {
  const auto it = fIndex.find(path);
  return it == fIndex.end() ? nullptr : &it->second->second;
}

void TPictureBudget::Drop(const std::string &path) {
  const auto it = fIndex.find(path);
  if (it == fIndex.end()) return;
  fBytes -= Cost(it->second->second);
  fKept.erase(it->second);
  fIndex.erase(it);
}

void TPictureBudget::Clear() {
  fKept.clear();
  fIndex.clear();
  fBytes = 0;
}

} // namespace plm
