#pragma once
// Object lists: TMPObjectList is a plain list of object pointers; TMPOwnedObjectList
// frees the objects it holds when it is destroyed (or on FreeAll). Emptying or deleting
// entries in any other way does not free objects.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/Exceptions.h"

namespace plm {

template <class T> class TMPObjectList {
public:
  TMPObjectList() = default;
  TMPObjectList(const TMPObjectList &) = delete;
  TMPObjectList &operator=(const TMPObjectList &) = delete;
  virtual ~TMPObjectList() = default;

  int Count() const { return static_cast<int>(fItems.size()); }
  T *Items(int index) const {
    CheckIndex(index);
    return fItems[static_cast<size_t>(index)];
  }
  T *operator[](int index) const { return Items(index); }
  int Add(T *item) {
    fItems.push_back(item);
    return Count() - 1;
  }
  void Insert(int index, T *item) {
    if (index < 0 || index > Count()) ListIndexError(index);
    fItems.insert(fItems.begin() + index, item);
  }
  void Delete(int index) {
    CheckIndex(index);
    fItems.erase(fItems.begin() + index);
  }
  int IndexOf(const T *item) const {
    auto it = std::find(fItems.begin(), fItems.end(), item);
    return it == fItems.end() ? -1 : static_cast<int>(it - fItems.begin());
  }
  // Removes the first entry holding item; returns its former index or -1.
  int Remove(const T *item) {
    int i = IndexOf(item);
    if (i >= 0) Delete(i);
    return i;
  }
  T *First() const { return Items(0); }
  T *Last() const { return Items(Count() - 1); }
  void Clear() { fItems.clear(); }

  auto begin() const { return fItems.begin(); }
  auto end() const { return fItems.end(); }

protected:
  std::vector<T *> fItems;

private:
  void CheckIndex(int index) const {
    if (index < 0 || index >= Count()) ListIndexError(index);
  }
  [[noreturn]] static void ListIndexError(int index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
};

template <class T> class TMPOwnedObjectList : public TMPObjectList<T> {
public:
  TMPOwnedObjectList() = default;
  ~TMPOwnedObjectList() override { FreeAll(); }
  // Frees the object of every entry, in index order from 0, then empties the list.
  void FreeAll() {
    std::vector<T *> items;
    items.swap(this->fItems);
    for (T *item : items)
      delete item;
  }
};

} // namespace plm
