// The circle tree: a hierarchy of circles over 2-D points and line segments supplied by the caller.
//
// Every knot is a circle enclosing its own items; its up to seven children lie in a hexagonal pattern inside it
// (a concentric circle of half the radius and six circles of two thirds of the radius, 60 degrees apart, their
// centres at three quarters of the radius). Queries answer which knots a strip along a line passes (Schnitt),
// which knots a sector-shaped beam reaches (SearchBeam) and which knots lie within a distance of a point
// (Abstandsuchen); the caller makes the exact tests on the items of those knots. Coordinates are the caller's
// world units (metres in the suite); angles in radians.
//
// Ownership: the tree owns its knots and the knots own their items (a knot's list does not own the items while
// the knot lives, because items move between knots, and takes them along when the knot is destroyed). Query
// result lists only refer to items and knots of the tree.
//
// This library's choices:
// - A knot made with a parent is placed into the parent's child slot by whoever made it (the tree does so for
//   every knot it makes); the constructor fits the circle and takes over the parent's items but does not link
//   itself, so that every knot has exactly one owner (a std::unique_ptr).
// - C++ does not dispatch virtual calls from a constructor. A derived tree whose CreateKnot makes its own knots
//   constructs the base with TCircleTree(margin) and then calls Build(list) or InitRect(...) itself.
// - TCTDataList does not own its items unless told so (OwnsObjects); the tree sets the switch on the lists it
//   takes over. This keeps query result lists from destroying the tree's items.
// - At the depth limit of 50 levels below the root (construction and distance query) the plain depth-first order
//   simply stops descending: each child number is built or examined at most once, in ascending order.
// - Containment of the items in their fitted circles relies on the margin: with a margin of 0 a corner item may
//   fall outside its circle by rounding, so callers use a small positive margin.
// - Knots come from a pool of fixed-size blocks, one size class per knot class size: a build lays a knot's
//   descendants out right behind it, which the queries read ahead. Freed blocks are kept for reuse until the last
//   knot of their size is freed; then the pool gives the memory back.
// - An item with a coordinate that is not finite, a margin that is not finite and a rectangle with a corner that
//   is not finite are refused with a vez::Exception: the circles around them would become NaN or infinite, and
//   every query of the tree would find nothing. A list that the list constructor refuses goes with its items.
// - Schnitt frames the strip with the arc tangent of the slope, so a direction with dx < 0 reverses the local
//   axis and the interval (a, b) is measured from (x0, y0) in the direction (−dx, −dy).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "geometry/Algebra.h"
#include "geometry/PtrList.h"

namespace vez {

// The position of a child in its parent: the centre and six circles at 0, 60, ... 300 degrees.
enum TCircleNumber : uint8_t { cnCenter, cn0, cn60, cn120, cn180, cn240, cn300 };
enum TSegType : uint8_t { stPoint, stLine };

class TCTKnot;

// The base class of the caller's items: a point (X1, Y1) or a segment (X1, Y1)–(X2, Y2).
class TCTCustomDataItem : public TTreeItem {
public:
  virtual TSegType SegType() const = 0;
  virtual double X1() const = 0;
  virtual double X2() const = 0;
  virtual double Y1() const = 0;
  virtual double Y2() const = 0;
  // Whether the item (both ends of a segment) lies in the knot's circle; false for no knot.
  bool BelongsTo(const TCTKnot* knot) const;
};

// A list of items; it destroys them only while OwnsObjects is set.
class TCTDataList : public TOwningPtrList<TCTCustomDataItem> {
public:
  explicit TCTDataList(bool ownsObjects = false) : TOwningPtrList(ownsObjects) {}
  TCTCustomDataItem* GetItem(int32_t i) const { return Get(i); }
  void SetItem(int32_t i, TCTCustomDataItem* item) { Put(i, item); }
  // Appends all items of the knot's list.
  void AddKnoten(const TCTKnot& knot);
};

// A 2x2 rotation and an origin: world p maps to Matrix·(p − origin).
struct TTransM {
  TMatrix2x2 Matrix{};
  double X = 0, Y = 0;
};

class TCTCircle {
public:
  TCTCircle() = default;
  TCTCircle(double cx, double cy, double r) : X(cx), Y(cy), R(r) {}
  virtual ~TCTCircle() = default;

  // Places this circle as child `number` of the circle (cx, cy, r).
  void Init(TCircleNumber number, double cx, double cy, double r);
  bool Punkt_in_Kreis(double x, double y) const { return (x - X) * (x - X) + (y - Y) * (y - Y) <= R * R; }
  bool PunktinKreisD(double x, double y, double d) const {
    return (x - X) * (x - X) + (y - Y) * (y - Y) <= (R + d) * (R + d);
  }
  // The circle crosses the local x axis of T within the open interval (a, b).
  bool SchnittMitKreis(const TTransM& t, double a, double b) const;
  // The circle reaches into the sector u > c·|v|, a < u < b of T's frame; inside: it lies wholly in it.
  bool Strahl_in_Kreis(const TTransM& t, double a, double b, double c, bool& inside) const;

  double X = 0, Y = 0, R = 0;
};

class TCTKnot : public TCTCircle {
public:
  // Takes over the items of `list` (none when null); with a parent, places itself as child `number` of it
  // and takes over the parent's items that lie in that circle; then fits the circle around its data with the
  // margin. The flag has no effect.
  TCTKnot(std::unique_ptr<TCTDataList> list, TCTKnot* parent, TCircleNumber number, bool flag, double margin);
  ~TCTKnot() override;
  TCTKnot(const TCTKnot&) = delete;
  TCTKnot& operator=(const TCTKnot&) = delete;
  // Knots (also those of derived classes) come from a pool of fixed-size blocks; see the source.
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;

  bool Daten_vorhanden() const { return Daten.Count() > 0; }
  // Takes over the parent's items inside the placed circle and fits the circle around the data.
  void Kreis_um_Daten(bool flag, double margin);
  // The deepest knot of the descent through the first fitting child at each level.
  TCTKnot* FindKnot(const TCTCustomDataItem* item);
  void Schnitt(const TTransM& t, double a, double b, TCTDataList& result) const;
  void SearchBeam(const TTransM& t, double a, double b, double c, bool& inside, TCTDataList& result) const;
  // Puts a knot made with this knot as its parent into its child slot (replacing what was there).
  TCTKnot* Adopt(TCircleNumber number, std::unique_ptr<TCTKnot> child);

  TCTDataList Daten;  // held in the knot itself: one allocation and one indirection less per knot
  TCTKnot* Parent = nullptr;
  std::array<std::unique_ptr<TCTKnot>, 7> Kinder;
};

class TCircleTree {
public:
  // Builds the tree over the items of list and takes them over; an empty list gives a tree without root. Throws
  // when an item or the margin is not finite.
  TCircleTree(std::unique_ptr<TCTDataList> list, double margin);
  // An empty tree over the rectangle (x1, y1)–(x2, y2).
  TCircleTree(double x1, double y1, double x2, double y2, double margin);
  virtual ~TCircleTree();
  TCircleTree(const TCircleTree&) = delete;
  TCircleTree& operator=(const TCircleTree&) = delete;

  virtual std::unique_ptr<TCTKnot> CreateKnot(std::unique_ptr<TCTDataList> list, TCTKnot* parent,
                                              TCircleNumber number, bool flag);
  // Inserts one item (the tree takes it over). Requires a root; throws when the item is not finite.
  void AddItem(std::unique_ptr<TCTCustomDataItem> item);
  // Items of the knots that the strip along the line through (x0, y0) with direction (dx, dy), dx ≠ 0, passes
  // between the local abscissae a and b. result is cleared first.
  void Schnitt(double x0, double y0, double dx, double dy, double a, double b, TCTDataList& result) const;
  // Knots with data whose circle widened by d contains (x, y). result is cleared first and remembered.
  void Abstandsuchen(double x, double y, double d, TPtrList<TCTKnot>& result);
  // Every knot with data, in pre-order.
  std::unique_ptr<TPtrList<TCTKnot>> CreateLeafList() const;
  // Destroys the knot with its subtree and items and sets the variable to its parent.
  void Knoten_loeschen(TCTKnot*& knot);

  double Margin;
  std::unique_ptr<TCTKnot> Root;
  TPtrList<TCTKnot>* AbstandListe = nullptr;

protected:
  explicit TCircleTree(double margin) : Margin(margin) {}
  void Build(std::unique_ptr<TCTDataList> list);
  void InitRect(double x1, double y1, double x2, double y2);

private:
  void Subdivide(TCTKnot* knot, int level);
};

}  // namespace vez
