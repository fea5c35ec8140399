// The ordered pointer lists that the spatial trees keep their objects in.
//
// TPtrList is a growable list of references to objects it does not own (Count, Add, Get, Put, Remove, Pack,
// SetCapacity, SetCount). TOwningPtrList adds the owns-objects switch: while it is set, objects removed from the
// list or still in it at destruction are destroyed. TTreeItem is the root class of the objects stored in the
// split trees; its virtual destructor lets a tree destroy a caller's object in FreeItems.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Exceptions.h"

namespace vez {

class TTreeItem {
public:
  virtual ~TTreeItem() = default;
};

template <class T>
class TPtrList {
public:
  TPtrList() = default;
  TPtrList(const TPtrList&) = delete;
  TPtrList& operator=(const TPtrList&) = delete;
  virtual ~TPtrList() = default;

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  int32_t Capacity() const { return static_cast<int32_t>(items_.capacity()); }
  // Appends and returns the new index.
  int32_t Add(T* item) {
    items_.push_back(item);
    return Count() - 1;
  }
  T* Get(int32_t index) const { return items_[Checked(index)]; }
  void Put(int32_t index, T* item) { items_[Checked(index)] = item; }
  int32_t IndexOf(const T* item) const {
    const auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int32_t>(it - items_.begin());
  }
  // Removes the first occurrence; returns its former index or -1.
  int32_t Remove(const T* item) {
    const int32_t i = IndexOf(item);
    if (i >= 0) items_.erase(items_.begin() + i);
    return i;
  }
  void Delete(int32_t index) { items_.erase(items_.begin() + Checked(index)); }
  // Drops the empty (null) entries.
  void Pack() { std::erase(items_, nullptr); }
  void SetCapacity(int32_t n) {
    if (n < Count()) throw EListError("List capacity out of bounds (" + std::to_string(n) + ")");
    if (n > Capacity()) items_.reserve(static_cast<size_t>(n));
    if (n == Count()) items_.shrink_to_fit();
  }
  // Grows with null entries or cuts the list (cut entries are not destroyed).
  void SetCount(int32_t n) {
    if (n < 0) throw EListError("List count out of bounds (" + std::to_string(n) + ")");
    items_.resize(static_cast<size_t>(n), nullptr);
  }
  void Clear() { items_.clear(); }
  // Exchanges the contents (not the ownership switch of an owning list).
  void Swap(TPtrList& other) noexcept { items_.swap(other.items_); }
  T* First() const { return Get(0); }
  T* Last() const { return Get(Count() - 1); }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

protected:
  std::vector<T*> items_;

private:
  size_t Checked(int32_t index) const {
    if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return static_cast<size_t>(index);
  }
};

template <class T>
class TOwningPtrList : public TPtrList<T> {
public:
  explicit TOwningPtrList(bool ownsObjects = true) : OwnsObjects(ownsObjects) {}
  ~TOwningPtrList() override { Clear(); }
  // Empties the list, destroying the objects when it owns them.
  void Clear() {
    if (OwnsObjects)
      for (T* item : this->items_) delete item;
    this->items_.clear();
  }
  int32_t Remove(const T* item) {
    const int32_t i = TPtrList<T>::Remove(item);
    if (i >= 0 && OwnsObjects) delete item;
    return i;
  }
  // Takes the object out without destroying it, whatever the switch says.
  T* Extract(T* item) {
    TPtrList<T>::Remove(item);
    return item;
  }

  bool OwnsObjects;
};

}  // namespace vez
