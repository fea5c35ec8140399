// Region split trees: spatial sort trees whose nodes cover an axis-parallel rectangle (TIntegerBaum: an integer
// interval) and keep a list of the caller's objects. A node that holds too many objects is halved across its
// longer side into the branches Ast1 (lower half) and Ast2 (upper half). The tree never looks at coordinates
// itself: the caller's derived class answers BelongsToAst1 / BelongsToAst2, and objects that fit neither half
// stay in the node. The three-branch members collect those straddling objects in a third branch Ast3, a node over
// the split line itself, once there are too many of them.
//
// Ownership: the trees hold references to objects owned by the caller; FreeItems destroys them (they derive from
// TTreeItem). A node owns its branches, which exist in pairs (Ast1 and Ast2 both or neither).
//
// Members: TBaumStruktur / TBaumStruktur2 (double coordinates), TIntCoordBaum / TIntCoordBaum2 (64-bit),
// TIntKoordBaum / TIntKoordBaum3 (32-bit, objects kept in a chain of TBaumEle with a bounding box) and
// TIntegerBaum (32-bit interval). The integer members split at the midpoint rounded half to even.
//
// This library's choices: the double-coordinate members refuse bounds that are not finite (a vez::Exception), as
// a NaN bound would keep the tree from ever splitting. AddItem answers, in every member, whether this call split
// the node or made a third branch (the double-coordinate members' callers may ignore it). Depths are 8-bit and are
// not checked for overflow; trees deeper than the depth limit of 24 used below the root do not arise.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/Exceptions.h"
#include "geometry/PtrList.h"

namespace vez {

// One link of the object chain of TIntKoordBaum: the object reference (not owned) and the next link.
class TBaumEle {
public:
  explicit TBaumEle(TTreeItem* obj) : Obj(obj) {}
  TTreeItem* Obj;
  std::unique_ptr<TBaumEle> Next;
};

namespace detail {

// Own-object storage of the list members: the node is the list.
class ListStorage : public TPtrList<TTreeItem> {
public:
  // Storage operations of the tree algorithm (not meant for callers).
  void OwnAppend(TTreeItem* obj) { Add(obj); }
  void OwnRemove(TTreeItem* obj) { Remove(obj); }
  int32_t OwnCount() const { return Count(); }
  std::vector<TTreeItem*> OwnTakeAll() { return std::exchange(items_, {}); }
  void OwnTrim() { items_.shrink_to_fit(); }
  void OwnFree() {
    for (TTreeItem* o : items_) delete o;
    items_.clear();
  }
  void ForEachOwn(const std::function<void(TTreeItem*)>& fn) const {
    for (TTreeItem* o : items_) fn(o);
  }
};

// Own-object storage of the TIntKoordBaum members: a chain of TBaumEle with the bounding box of its objects.
class ChainStorage {
public:
  ChainStorage() = default;
  ChainStorage(const ChainStorage&) = delete;
  ChainStorage& operator=(const ChainStorage&) = delete;
  virtual ~ChainStorage() { FreeChain(); }

  // Extent of an object; false in the base class (the bounding box then ignores it).
  virtual bool GetMinMax(TTreeItem* obj, int32_t& minX, int32_t& minY, int32_t& maxX, int32_t& maxY) {
    (void)obj, (void)minX, (void)minY, (void)maxX, (void)maxY;
    return false;
  }
  // Appends the element and widens the bounding box by its object's extent.
  void AddEle(std::unique_ptr<TBaumEle> ele);
  // Unlinks and destroys the first element of obj (not obj itself); nothing when absent. The box stays.
  void DelEle(TTreeItem* obj);
  // Destroys every object of this node and its element.
  void FreeAstItems();
  void ForEachOwn(const std::function<void(TTreeItem*)>& fn) const {
    for (const TBaumEle* e = First.get(); e; e = e->Next.get()) fn(e->Obj);
  }

  int32_t Count = 0;
  int32_t MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
  std::unique_ptr<TBaumEle> First;
  TBaumEle* Last = nullptr;

  // Storage operations of the tree algorithm (not meant for callers).
  void OwnAppend(TTreeItem* obj) { AddEle(std::make_unique<TBaumEle>(obj)); }
  void OwnRemove(TTreeItem* obj) { DelEle(obj); }
  int32_t OwnCount() const { return Count; }
  std::vector<TTreeItem*> OwnTakeAll();
  void OwnTrim() {}
  void OwnFree() { FreeAstItems(); }

private:
  void FreeChain();
};

// The two-branch algorithm over a coordinate type C and an own-object storage; Self is the member class whose
// nodes the branches are.
template <class Self, class C, class Storage>
class RectTree : public Storage {
public:
  using Coord = C;
  using SelfType = Self;

  RectTree(uint8_t depth, C x1, C y1, C x2, C y2)
      : Depth(static_cast<uint8_t>(depth + 1)), X1(x1), Y1(y1), X2(x2), Y2(y2) {
    if constexpr (!std::is_integral_v<C>) {
      for (C v : {x1, y1, x2, y2})
        if (!std::isfinite(v)) throw Exception("The bounds of a split tree must be finite numbers");
    }
  }
  ~RectTree() override = default;

  // A new node for a half; the base makes a node of the member class itself.
  virtual std::unique_ptr<Self> CreateAst(uint8_t depth, C x1, C y1, C x2, C y2) {
    return std::make_unique<Self>(depth, x1, y1, x2, y2);
  }
  // Whether obj lies in the lower / upper half; false in the base class.
  virtual bool BelongsToAst1(TTreeItem* obj) { return (void)obj, false; }
  virtual bool BelongsToAst2(TTreeItem* obj) { return (void)obj, false; }
  // No own objects and no branches.
  virtual bool IsEmpty() const { return this->OwnCount() == 0 && !Ast1 && !Ast2; }
  // Inserts obj; true when this call split the node.
  virtual bool AddItem(TTreeItem* obj, int32_t maxCount, uint8_t maxDepth) {
    bool split = false;
    if (!Ast1 && this->OwnCount() > maxCount && Depth < maxDepth) {
      Aufteilen();
      split = true;
    }
    if (Ast1 && BelongsToAst1(obj))
      Ast1->AddItem(obj, 10, 24);
    else if (Ast2 && BelongsToAst2(obj))
      Ast2->AddItem(obj, 10, 24);
    else
      this->OwnAppend(obj);
    return split;
  }
  // Removes obj (not destroying it); true when the subtree became empty. Empty branch pairs are destroyed.
  virtual bool DelItem(TTreeItem* obj) {
    if (Ast1 && BelongsToAst1(obj)) {
      if (Ast1->DelItem(obj) && Ast2->IsEmpty()) DropBranches();
    } else if (Ast2 && BelongsToAst2(obj)) {
      if (Ast2->DelItem(obj) && Ast1->IsEmpty()) DropBranches();
    } else {
      this->OwnRemove(obj);
    }
    return this->OwnCount() == 0 && (!Ast1 || Ast1->IsEmpty()) && (!Ast2 || Ast2->IsEmpty());
  }
  virtual int32_t CountEle() const {
    return this->OwnCount() + (Ast1 ? Ast1->CountEle() : 0) + (Ast2 ? Ast2->CountEle() : 0);
  }
  // Destroys every object of the subtree; the branches stay.
  virtual void FreeItems() {
    if (Ast1) Ast1->FreeItems();
    if (Ast2) Ast2->FreeItems();
    this->OwnFree();
  }
  // Halves the node across its longer side and moves the objects that fit a half into it.
  void Aufteilen() {
    if (!kInteger || !Ast1) {
      if (X2 - X1 > Y2 - Y1) {
        SplitAxis = 1;
        SplitValue = Mid(X1, X2);
        Ast1 = CreateAst(Depth, X1, Y1, SplitValue, Y2);
        Ast2 = CreateAst(Depth, SplitValue, Y1, X2, Y2);
      } else {
        SplitAxis = 0;
        SplitValue = Mid(Y1, Y2);
        Ast1 = CreateAst(Depth, X1, Y1, X2, SplitValue);
        Ast2 = CreateAst(Depth, X1, SplitValue, X2, Y2);
      }
    }
    Distribute();
  }

  uint8_t Depth;
  C X1, Y1, X2, Y2;
  uint8_t SplitAxis = 0;
  C SplitValue = 0;
  std::unique_ptr<Self> Ast1, Ast2;

protected:
  static constexpr bool kInteger = std::is_integral_v<C>;

  static C Mid(C a, C b) {
    if constexpr (kInteger) {
      const int64_t s = static_cast<int64_t>(a) + b;
      int64_t f = s >= 0 ? s / 2 : -((-s + 1) / 2);  // floor(s / 2)
      if (s % 2 != 0 && f % 2 != 0) ++f;             // the even one of floor and ceiling
      return static_cast<C>(f);
    } else {
      return (a + b) / 2;
    }
  }
  void Distribute() {
    for (TTreeItem* o : this->OwnTakeAll()) {
      if (BelongsToAst1(o))
        Ast1->OwnAppend(o);
      else if (BelongsToAst2(o))
        Ast2->OwnAppend(o);
      else
        this->OwnAppend(o);
    }
    this->OwnTrim();
    Ast1->OwnTrim();
    Ast2->OwnTrim();
  }
  void DropBranches() {
    Ast1.reset();
    Ast2.reset();
  }

  template <class, class, class>
  friend class RectTree;
  template <class>
  friend class RectTree3;
};

// The three-branch algorithm on top of a two-branch member Base.
template <class Base>
class RectTree3 : public Base {
public:
  using Self = typename Base::SelfType;
  using C = typename Base::Coord;
  using Base::Base;

  bool IsEmpty() const override { return Base::IsEmpty() && !Ast3; }
  bool AddItem(TTreeItem* obj, int32_t maxCount, uint8_t maxDepth) override {
    bool made = false;
    if (!this->Ast1 && this->OwnCount() > maxCount && this->Depth < maxDepth) {
      Aufteilen(maxCount);
      made = true;
    }
    if (this->Ast1 && this->BelongsToAst1(obj)) {
      this->Ast1->AddItem(obj, 10, 24);
    } else if (this->Ast2 && this->BelongsToAst2(obj)) {
      this->Ast2->AddItem(obj, 10, 24);
    } else if (Ast3) {
      Ast3->AddItem(obj, 10, 24);
    } else if (this->OwnCount() > maxCount && this->Depth < maxDepth) {
      CreateAst3();
      Ast3->AddItem(obj, 10, 24);
      made = true;
    } else {
      this->OwnAppend(obj);
    }
    return made;
  }
  bool DelItem(TTreeItem* obj) override {
    if (this->Ast1 && this->BelongsToAst1(obj)) return this->Ast1->DelItem(obj) && Collapse();
    if (this->Ast2 && this->BelongsToAst2(obj)) return this->Ast2->DelItem(obj) && Collapse();
    if (Ast3) {
      const bool empty = Ast3->DelItem(obj);
      if constexpr (!Base::kInteger) {
        if (empty) {
          const bool collapsed = this->Ast1 && Collapse();
          if (!collapsed) Ast3.reset();
          return collapsed;
        }
      }
      return false;
    }
    this->OwnRemove(obj);
    if (this->OwnCount() == 0 && (this->Ast1 || this->Ast2)) return Collapse();
    return false;
  }
  int32_t CountEle() const override { return Base::CountEle() + (Ast3 ? Ast3->CountEle() : 0); }
  void FreeItems() override {
    if (Ast3) Ast3->FreeItems();
    Base::FreeItems();
  }
  // Creates the halves when they do not exist yet, distributes the objects, and opens the third branch when
  // more than maxCount objects stay.
  void Aufteilen(int32_t maxCount) {
    if (!this->Ast1) {
      Base::Aufteilen();
    } else {
      this->Distribute();
    }
    if (this->OwnCount() > maxCount) CreateAst3();
  }
  // Makes the third branch over the split line, moves all own objects into it and halves it along the line.
  virtual bool CreateAst3() {
    if (this->SplitAxis == 1)
      Ast3 = this->CreateAst(this->Depth, this->SplitValue, this->Y1, this->SplitValue, this->Y2);
    else
      Ast3 = this->CreateAst(this->Depth, this->X1, this->SplitValue, this->X2, this->SplitValue);
    for (TTreeItem* o : this->OwnTakeAll()) Ast3->OwnAppend(o);
    this->OwnTrim();
    Ast3->Base::Aufteilen();
    return true;
  }

  std::unique_ptr<Self> Ast3;

private:
  // All branches empty: destroy them; the answer is whether the node has no own objects.
  bool Collapse() {
    auto empty = [](const auto& b) { return !b || b->IsEmpty(); };
    if (empty(this->Ast1) && empty(this->Ast2) && empty(Ast3)) {
      this->DropBranches();
      Ast3.reset();
      return this->OwnCount() == 0;
    }
    return false;
  }
};

}  // namespace detail

// Double coordinates, two branches.
class TBaumStruktur : public detail::RectTree<TBaumStruktur, double, detail::ListStorage> {
public:
  using RectTree::RectTree;
};

// Double coordinates, three branches.
class TBaumStruktur2 : public detail::RectTree3<TBaumStruktur> {
public:
  using RectTree3::RectTree3;
};

// Signed 64-bit coordinates, two branches.
class TIntCoordBaum : public detail::RectTree<TIntCoordBaum, int64_t, detail::ListStorage> {
public:
  using RectTree::RectTree;
};

// Signed 64-bit coordinates, three branches; deleting through Ast3 never frees it.
class TIntCoordBaum2 : public detail::RectTree3<TIntCoordBaum> {
public:
  using RectTree3::RectTree3;
};

// Signed 32-bit coordinates, objects in a TBaumEle chain with their bounding box (MinX .. MaxY).
class TIntKoordBaum : public detail::RectTree<TIntKoordBaum, int32_t, detail::ChainStorage> {
public:
  using RectTree::RectTree;
};

// Signed 32-bit coordinates, three branches.
class TIntKoordBaum3 : public detail::RectTree3<TIntKoordBaum> {
public:
  using RectTree3::RectTree3;
};

// A 1-D tree over the integer interval [Lo, Hi]. At a split every object goes to a branch (Ast2 when it does not
// belong to Ast1); later insertions keep an object in the node when it belongs to neither.
class TIntegerBaum : public TPtrList<TTreeItem> {
public:
  TIntegerBaum(uint8_t depth, int32_t lo, int32_t hi) : Depth(static_cast<uint8_t>(depth + 1)), Lo(lo), Hi(hi) {}

  virtual std::unique_ptr<TIntegerBaum> CreateAst(uint8_t depth, int32_t lo, int32_t hi) {
    return std::make_unique<TIntegerBaum>(depth, lo, hi);
  }
  virtual bool BelongsToAst1(TTreeItem* obj) { return (void)obj, false; }
  virtual bool BelongsToAst2(TTreeItem* obj) { return (void)obj, false; }

  bool IsEmpty() const { return Count() == 0 && !Ast1 && !Ast2; }
  void AddItem(TTreeItem* obj, int32_t maxCount, uint8_t maxDepth);
  bool DelItem(TTreeItem* obj);
  int32_t CountEle() const;
  void FreeItems();
  void Aufteilen();

  uint8_t Depth;
  int32_t Lo, Hi;
  int32_t SplitValue = 0;
  std::unique_ptr<TIntegerBaum> Ast1, Ast2;
};

}  // namespace vez
