#include "geometry/CircleTree.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "core/Exceptions.h"

namespace vez {

namespace {
constexpr int kMaxLevels = 50;
constexpr int kMaxKnotItems = 10;
// Knot memory. Knots come in fixed-size blocks, one size class per knot class size, carved in order from slabs
// that grow to 2 MB (marked for huge pages, so that a large tree costs few TLB entries). A depth-first build thus
// lays a knot's descendants out right after it, and a chain of single children is one stretch of memory that the
// queries read ahead. Freed blocks are reused last in, first out (the empty sibling that a build makes and deletes
// at once leaves no hole); a size class gives its slabs back when its last knot is freed. Under AddressSanitizer
// the knots come from the ordinary heap, so that a use after free is still caught.
#if defined(__SANITIZE_ADDRESS__)
#define VEZ_KNOT_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEZ_KNOT_POOL 0
#endif
#endif
#ifndef VEZ_KNOT_POOL
#define VEZ_KNOT_POOL 1
#endif

#if VEZ_KNOT_POOL
class KnotPool {
public:
  void* Allocate(std::size_t size) {
    const std::lock_guard lock(mutex_);
    SizeClass& c = ClassFor(size);
    if (c.free) {
      void* p = c.free;
      c.free = *static_cast<void**>(p);
      ++c.live;
      return p;
    }
    if (c.next == c.end) NewSlab(c);
    void* p = c.next;
    c.next += c.size;
    ++c.live;
    return p;
  }
  void Free(void* p, std::size_t size) noexcept {
    const std::lock_guard lock(mutex_);
    SizeClass& c = ClassFor(size);
    *static_cast<void**>(p) = c.free;
    c.free = p;
    if (--c.live == 0) {
      c.slabs.clear();
      c.free = nullptr;
      c.next = c.end = nullptr;
      c.lastBytes = 0;
    }
  }

private:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
  struct Slab {
    std::byte* data = nullptr;
    bool huge = false;
    Slab(std::byte* d, bool h) : data(d), huge(h) {}
    Slab(Slab&& o) noexcept : data(std::exchange(o.data, nullptr)), huge(o.huge) {}
    Slab& operator=(Slab&&) = delete;
    ~Slab() {
      if (!data) return;
      if (huge)
        ::operator delete(data, std::align_val_t{kHugePage});
      else
        ::operator delete(data);
    }
  };
  struct SizeClass {
    std::size_t size = 0, live = 0, lastBytes = 0;
    void* free = nullptr;
    std::byte *next = nullptr, *end = nullptr;
    std::vector<Slab> slabs;
  };
  static void NewSlab(SizeClass& c) {
    const std::size_t bytes = c.lastBytes == 0 ? 64 * c.size : std::min(kHugePage, 2 * c.lastBytes);
    const bool huge = bytes == kHugePage;
    c.slabs.reserve(c.slabs.size() + 1);  // so that recording the slab cannot fail once it is allocated
    auto* data = static_cast<std::byte*>(huge ? ::operator new(bytes, std::align_val_t{kHugePage})
                                              : ::operator new(bytes));
#ifdef MADV_HUGEPAGE
    if (huge) madvise(data, bytes, MADV_HUGEPAGE);  // a hint; refusal changes nothing
#endif
    c.slabs.emplace_back(data, huge);
    c.lastBytes = bytes;
    c.next = data;
    c.end = data + bytes / c.size * c.size;
  }
  SizeClass& ClassFor(std::size_t size) {
    constexpr std::size_t align = alignof(std::max_align_t);
    size = (size + align - 1) / align * align;
    for (SizeClass& c : classes_)
      if (c.size == size) return c;
    classes_.emplace_back().size = size;
    return classes_.back();
  }
  std::mutex mutex_;
  std::vector<SizeClass> classes_;
};

// Never destroyed: a tree held in a static object may free its knots after function-local statics are gone.
KnotPool& Pool() {
  alignas(KnotPool) static std::byte storage[sizeof(KnotPool)];
  static KnotPool* const pool = ::new (storage) KnotPool;
  return *pool;
}
#endif

// Hints to the memory system; no effect on results.
inline void Prefetch(const void* p, int lines) {
#if defined(__GNUC__)
  const auto* c = static_cast<const char*>(p);
  for (int i = 0; i < lines; ++i) __builtin_prefetch(c + 64 * i);
#else
  (void)p, (void)lines;
#endif
}

// The walk of the strip and distance queries: depth-first from `root` in pre-order, children in TCircleNumber
// order, entering a knot when `passes` holds for it (its parent having been entered) and calling `enter` for it;
// no knot more than maxLevel levels below root is examined. The tests depend on a knot's circle alone, so a child
// with its parent's circle (the chains that a build makes below a knot whose items all fit its centre child)
// passes without a test. The walk keeps its own stack and asks for the children's memory when it pushes them,
// so that it arrives while the walk is still busy with their elder siblings; a single child gets a longer read
// ahead, as the knots below it usually follow it in memory.
template <class Passes, class Enter>
void Walk(const TCTKnot& root, int maxLevel, Passes&& passes, Enter&& enter) {
  struct Entry {
    const TCTKnot* knot;
    const TCTKnot* parent;
    int level;
  };
  std::vector<Entry> stack;
  stack.reserve(128);
  stack.push_back({&root, nullptr, 0});
  while (!stack.empty()) {
    const Entry e = stack.back();
    stack.pop_back();
    const TCTKnot& k = *e.knot;
    const bool inherited = e.parent && k.X == e.parent->X && k.Y == e.parent->Y && k.R == e.parent->R;
    if (!inherited && !passes(k)) continue;
    enter(k);
    if (e.level >= maxLevel) continue;
    const size_t before = stack.size();
    for (int n = cn300; n >= cnCenter; --n)
      if (const TCTKnot* child = k.Kinder[static_cast<size_t>(n)].get()) stack.push_back({child, &k, e.level + 1});
    const size_t pushed = stack.size() - before;
    if (pushed == 1)
      Prefetch(stack.back().knot, 16);
    else
      for (size_t i = before; i < stack.size(); ++i) Prefetch(stack[i].knot, 2);
  }
}
}  // namespace

#if VEZ_KNOT_POOL
void* TCTKnot::operator new(std::size_t size) { return Pool().Allocate(size); }
void TCTKnot::operator delete(void* p, std::size_t size) noexcept { Pool().Free(p, size); }
#else
void* TCTKnot::operator new(std::size_t size) { return ::operator new(size); }
void TCTKnot::operator delete(void* p, std::size_t size) noexcept { ::operator delete(p, size); }
#endif

namespace {
// A non-finite coordinate or margin would make the circle around the data NaN or infinite, and then every query
// of the tree would find nothing: such input is refused before it enters the tree.
bool Finite(const TCTCustomDataItem& item) {
  return std::isfinite(item.X1()) && std::isfinite(item.Y1()) &&
         (item.SegType() != stLine || (std::isfinite(item.X2()) && std::isfinite(item.Y2())));
}
void CheckMargin(double margin) {
  if (!std::isfinite(margin)) throw Exception("The margin of a circle tree must be a finite number");
}
constexpr const char* kNotFinite = "A circle tree item must have finite coordinates";
}  // namespace

bool TCTCustomDataItem::BelongsTo(const TCTKnot* knot) const {
  if (!knot) return false;
  switch (SegType()) {
    case stPoint: return knot->Punkt_in_Kreis(X1(), Y1());
    case stLine: return knot->Punkt_in_Kreis(X1(), Y1()) && knot->Punkt_in_Kreis(X2(), Y2());
  }
  return false;
}

void TCTDataList::AddKnoten(const TCTKnot& knot) {
  items_.insert(items_.end(), knot.Daten.begin(), knot.Daten.end());
}

void TCTCircle::Init(TCircleNumber number, double cx, double cy, double r) {
  if (number == cnCenter) {
    X = cx, Y = cy, R = 0.5 * r;
    return;
  }
  const double phi = (static_cast<int>(number) - 1) * std::numbers::pi / 3;
  X = cx + 0.75 * r * std::cos(phi);
  Y = cy + 0.75 * r * std::sin(phi);
  R = 2.0 / 3.0 * r;
}

bool TCTCircle::SchnittMitKreis(const TTransM& t, double a, double b) const {
  const double px = X - t.X, py = Y - t.Y;
  const double u = t.Matrix[0][0] * px + t.Matrix[0][1] * py;
  const double v = t.Matrix[1][0] * px + t.Matrix[1][1] * py;
  return std::fabs(v) < R && u + R > a && u - R < b;
}

bool TCTCircle::Strahl_in_Kreis(const TTransM& t, double a, double b, double c, bool& inside) const {
  const double px = X - t.X, py = Y - t.Y;
  const double u = t.Matrix[0][0] * px + t.Matrix[0][1] * py;
  const double av = std::fabs(t.Matrix[1][0] * px + t.Matrix[1][1] * py);
  inside = false;
  if (u + R <= a || u - R >= b || av - R >= b) return false;
  const bool hit = u + R > (av - R) * c;
  inside = hit && u - R > (av + R) * c;
  return hit;
}

TCTKnot::TCTKnot(std::unique_ptr<TCTDataList> list, TCTKnot* parent, TCircleNumber number, bool flag,
                 double margin)
    : Parent(parent) {
  if (list) Daten.Swap(*list);
  if (parent) Init(number, parent->X, parent->Y, parent->R);
  Kreis_um_Daten(flag, margin);
}

TCTKnot::~TCTKnot() {
  for (auto& child : Kinder) child.reset();
  Daten.OwnsObjects = true;
}

void TCTKnot::Kreis_um_Daten(bool /*flag*/, double margin) {
  double minX = 1e35, minY = 1e35, maxX = -1e35, maxY = -1e35;
  auto widen = [&](double x, double y) {
    minX = std::min(minX, x), maxX = std::max(maxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y);
  };
  auto widenItem = [&](const TCTCustomDataItem* item) {
    widen(item->X1(), item->Y1());
    if (item->SegType() == stLine) widen(item->X2(), item->Y2());
  };
  if (Parent) {
    TCTDataList& from = Parent->Daten;
    for (int32_t i = 0; i < from.Count(); ++i) {
      TCTCustomDataItem* item = from.Get(i);
      if (!item->BelongsTo(this)) continue;
      Daten.Add(item);
      widenItem(item);
      from.Put(i, nullptr);
    }
    from.Pack();
  } else {
    for (const TCTCustomDataItem* item : Daten) widenItem(item);
  }
  X = (minX + maxX) / 2;
  Y = (minY + maxY) / 2;
  R = 0.5 * std::sqrt((maxX - minX) * (maxX - minX) + (maxY - minY) * (maxY - minY)) + margin;
}

TCTKnot* TCTKnot::FindKnot(const TCTCustomDataItem* item) {
  TCTKnot* k = this;
  for (;;) {
    TCTKnot* next = nullptr;
    for (auto& child : k->Kinder)
      if (child && item->BelongsTo(child.get())) {
        next = child.get();
        break;
      }
    if (!next) return k;
    k = next;
  }
}

void TCTKnot::Schnitt(const TTransM& t, double a, double b, TCTDataList& result) const {
  // The knots with data are gathered first and their lists fetched meanwhile; their items follow in walk order.
  std::vector<const TCTKnot*> hits;
  Walk(*this, std::numeric_limits<int>::max(), [&](const TCTKnot& k) { return k.SchnittMitKreis(t, a, b); },
       [&](const TCTKnot& k) {
         if (!k.Daten_vorhanden()) return;
         Prefetch(std::to_address(k.Daten.begin()), 1);
         hits.push_back(&k);
       });
  for (const TCTKnot* k : hits) {
    for (const TCTCustomDataItem* item : k->Daten) Prefetch(item, 1);  // the caller tests the items next
    result.AddKnoten(*k);
  }
}

void TCTKnot::SearchBeam(const TTransM& t, double a, double b, double c, bool& inside, TCTDataList& result) const {
  if (!Strahl_in_Kreis(t, a, b, c, inside)) return;
  if (Daten_vorhanden()) result.AddKnoten(*this);
  for (const auto& child : Kinder)
    if (child) child->SearchBeam(t, a, b, c, inside, result);
}

TCTKnot* TCTKnot::Adopt(TCircleNumber number, std::unique_ptr<TCTKnot> child) {
  child->Parent = this;
  Kinder[number] = std::move(child);
  return Kinder[number].get();
}

TCircleTree::TCircleTree(std::unique_ptr<TCTDataList> list, double margin) : Margin(margin) {
  Build(std::move(list));
}

TCircleTree::TCircleTree(double x1, double y1, double x2, double y2, double margin) : Margin(margin) {
  InitRect(x1, y1, x2, y2);
}

TCircleTree::~TCircleTree() = default;

std::unique_ptr<TCTKnot> TCircleTree::CreateKnot(std::unique_ptr<TCTDataList> list, TCTKnot* parent,
                                                 TCircleNumber number, bool flag) {
  return std::make_unique<TCTKnot>(std::move(list), parent, number, flag, Margin);
}

void TCircleTree::Build(std::unique_ptr<TCTDataList> list) {
  Root.reset();
  if (list) list->OwnsObjects = true;  // the items are the tree's: a list refused here destroys them
  CheckMargin(Margin);
  if (!list || list->Count() == 0) return;  // an empty list is destroyed here
  if (!std::all_of(list->begin(), list->end(), [](const TCTCustomDataItem* item) { return Finite(*item); }))
    throw Exception(kNotFinite);
  Root = CreateKnot(std::move(list), nullptr, cnCenter, true);
  if (!Root->Daten_vorhanden()) {
    Root.reset();
    return;
  }
  Subdivide(Root.get(), 0);
}

void TCircleTree::InitRect(double x1, double y1, double x2, double y2) {
  CheckMargin(Margin);
  for (double v : {x1, y1, x2, y2})
    if (!std::isfinite(v)) throw Exception("The rectangle of a circle tree must have finite corners");
  Root = CreateKnot(nullptr, nullptr, cnCenter, false);
  Root->X = (x1 + x2) / 2;
  Root->Y = (y1 + y2) / 2;
  Root->R = 0.5 * std::sqrt((x2 - x1) * (x2 - x1) + (y2 - y1) * (y2 - y1)) + Margin;
}

void TCircleTree::Subdivide(TCTKnot* knot, int level) {
  if (level >= kMaxLevels) return;
  for (uint8_t n = cnCenter; n <= cn300; ++n) {
    const auto number = static_cast<TCircleNumber>(n);
    TCTKnot* child = knot->Adopt(number, CreateKnot(nullptr, knot, number, true));
    if (!child->Daten_vorhanden()) {
      Knoten_loeschen(child);
      continue;
    }
    if (child->R < 0.5) return;  // kept data but too small to subdivide: the remaining siblings are not built
    Subdivide(child, level + 1);
  }
}

void TCircleTree::AddItem(std::unique_ptr<TCTCustomDataItem> item) {
  if (!Finite(*item)) throw Exception(kNotFinite);
  TCTKnot* k = Root->FindKnot(item.get());
  k->Daten.Add(item.release());
  if (k->Daten.Count() <= kMaxKnotItems) return;
  for (uint8_t n = cnCenter; n <= cn300; ++n) {
    const auto number = static_cast<TCircleNumber>(n);
    if (!k->Kinder[number]) k->Adopt(number, std::make_unique<TCTKnot>(nullptr, k, number, false, Margin));
  }
}

void TCircleTree::Schnitt(double x0, double y0, double dx, double dy, double a, double b,
                          TCTDataList& result) const {
  TTransM t;
  t.Matrix = M2x2dreh(-std::atan(dy / dx));
  t.X = x0;
  t.Y = y0;
  result.Clear();
  if (Root) Root->Schnitt(t, a, b, result);
}

void TCircleTree::Abstandsuchen(double x, double y, double d, TPtrList<TCTKnot>& result) {
  AbstandListe = &result;
  result.Clear();
  if (!Root) return;
  Walk(*Root, kMaxLevels, [&](const TCTKnot& k) { return k.PunktinKreisD(x, y, d); },
       [&](const TCTKnot& k) {
         if (!k.Daten_vorhanden()) return;
         Prefetch(std::to_address(k.Daten.begin()), 1);  // the caller reads the lists next
         result.Add(const_cast<TCTKnot*>(&k));
       });
  for (const TCTKnot* k : result)
    for (const TCTCustomDataItem* item : k->Daten) Prefetch(item, 1);  // the caller tests the items next
}

std::unique_ptr<TPtrList<TCTKnot>> TCircleTree::CreateLeafList() const {
  auto list = std::make_unique<TPtrList<TCTKnot>>();
  auto visit = [&](auto&& self, TCTKnot* k) -> void {
    if (k->Daten_vorhanden()) list->Add(k);
    for (auto& child : k->Kinder)
      if (child) self(self, child.get());
  };
  if (Root) visit(visit, Root.get());
  return list;
}

void TCircleTree::Knoten_loeschen(TCTKnot*& knot) {
  TCTKnot* parent = knot->Parent;
  if (parent) {
    for (auto& slot : parent->Kinder)
      if (slot.get() == knot) {
        slot.reset();
        break;
      }
  } else if (Root.get() == knot) {
    Root.reset();
  }
  knot = parent;
}

}  // namespace vez
