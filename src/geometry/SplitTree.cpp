#include "geometry/SplitTree.h"

#include <algorithm>

namespace vez {
namespace detail {

void ChainStorage::AddEle(std::unique_ptr<TBaumEle> ele) {
  ++Count;
  TTreeItem* obj = ele->Obj;
  TBaumEle* raw = ele.get();
  if (Last)
    Last->Next = std::move(ele);
  else
    First = std::move(ele);
  Last = raw;
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  if (GetMinMax(obj, x1, y1, x2, y2)) {
    if (Count == 1) {
      MinX = x1, MinY = y1, MaxX = x2, MaxY = y2;
    } else {
      MinX = std::min(MinX, x1), MinY = std::min(MinY, y1);
      MaxX = std::max(MaxX, x2), MaxY = std::max(MaxY, y2);
    }
  }
}

void ChainStorage::DelEle(TTreeItem* obj) {
  TBaumEle* prev = nullptr;
  for (TBaumEle* e = First.get(); e; prev = e, e = e->Next.get()) {
    if (e->Obj != obj) continue;
    std::unique_ptr<TBaumEle>& link = prev ? prev->Next : First;
    if (Last == e) Last = prev;
    link = std::move(e->Next);  // destroys e
    --Count;
    return;
  }
}

std::vector<TTreeItem*> ChainStorage::OwnTakeAll() {
  std::vector<TTreeItem*> objs;
  objs.reserve(static_cast<size_t>(Count));
  ForEachOwn([&](TTreeItem* o) { objs.push_back(o); });
  FreeChain();
  return objs;
}

void ChainStorage::FreeAstItems() {
  ForEachOwn([](TTreeItem* o) { delete o; });
  FreeChain();
}

void ChainStorage::FreeChain() {
  // Unlinked one by one so that a long chain does not recurse in its destructor.
  while (First) First = std::move(First->Next);
  Last = nullptr;
  Count = 0;
}

}  // namespace detail

void TIntegerBaum::Aufteilen() {
  const int64_t s = static_cast<int64_t>(Lo) + Hi;
  int64_t f = s >= 0 ? s / 2 : -((-s + 1) / 2);
  if (s % 2 != 0 && f % 2 != 0) ++f;
  SplitValue = static_cast<int32_t>(f);
  Ast1 = CreateAst(Depth, Lo, SplitValue);
  Ast2 = CreateAst(Depth, SplitValue, Hi);
  for (TTreeItem* o : items_) (BelongsToAst1(o) ? Ast1 : Ast2)->Add(o);
  items_.clear();
  items_.shrink_to_fit();
}

void TIntegerBaum::AddItem(TTreeItem* obj, int32_t maxCount, uint8_t maxDepth) {
  if (!Ast1 && Count() > maxCount && Depth < maxDepth) Aufteilen();
  if (Ast1 && BelongsToAst1(obj))
    Ast1->AddItem(obj, 10, 24);
  else if (Ast2 && BelongsToAst2(obj))
    Ast2->AddItem(obj, 10, 24);
  else
    Add(obj);
}

bool TIntegerBaum::DelItem(TTreeItem* obj) {
  if (Ast1 && BelongsToAst1(obj)) {
    if (Ast1->DelItem(obj) && Ast2->IsEmpty()) Ast1.reset(), Ast2.reset();
  } else if (Ast2 && BelongsToAst2(obj)) {
    if (Ast2->DelItem(obj) && Ast1->IsEmpty()) Ast1.reset(), Ast2.reset();
  } else {
    Remove(obj);
  }
  return Count() == 0 && (!Ast1 || Ast1->IsEmpty()) && (!Ast2 || Ast2->IsEmpty());
}

int32_t TIntegerBaum::CountEle() const {
  return Count() + (Ast1 ? Ast1->CountEle() : 0) + (Ast2 ? Ast2->CountEle() : 0);
}

void TIntegerBaum::FreeItems() {
  if (Ast1) Ast1->FreeItems();
  if (Ast2) Ast2->FreeItems();
  for (TTreeItem* o : items_) delete o;
  items_.clear();
}

}  // namespace vez
