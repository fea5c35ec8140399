#include "geometry/CircleTree.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vez {

namespace {
constexpr int kMaxLevels = 50;
constexpr int kMaxKnotItems = 10;
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
  if (!SchnittMitKreis(t, a, b)) return;
  if (Daten_vorhanden()) result.AddKnoten(*this);
  for (const auto& child : Kinder)
    if (child) child->Schnitt(t, a, b, result);
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
  if (!list || list->Count() == 0) return;  // an empty list is destroyed here
  Root = CreateKnot(std::move(list), nullptr, cnCenter, true);
  if (!Root->Daten_vorhanden()) {
    Root.reset();
    return;
  }
  Subdivide(Root.get(), 0);
}

void TCircleTree::InitRect(double x1, double y1, double x2, double y2) {
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
  auto visit = [&](auto&& self, TCTKnot* k, int level) -> void {
    if (!k->PunktinKreisD(x, y, d)) return;
    if (k->Daten_vorhanden()) result.Add(k);
    if (level >= kMaxLevels) return;
    for (auto& child : k->Kinder)
      if (child) self(self, child.get(), level + 1);
  };
  visit(visit, Root.get(), 0);
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
