// The circle tree: documented placements and builds, invariants after construction, insertion and deletion, and
// the three queries against brute-force scans over all knots and items on seeded random points and segments.
#include <gtest/gtest.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <set>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "geometry/SortBaum.h"

namespace vez {
namespace {

struct Item : TCTCustomDataItem {
  Item(double ax1, double ay1, double ax2, double ay2, TSegType t) : x1(ax1), y1(ay1), x2(ax2), y2(ay2), type(t) {}
  TSegType SegType() const override { return type; }
  double X1() const override { return x1; }
  double X2() const override { return x2; }
  double Y1() const override { return y1; }
  double Y2() const override { return y2; }
  double x1, y1, x2, y2;
  TSegType type;
};

// Distance from (px, py) to the segment (ax, ay)–(bx, by), and between two segments, written out by hand.
double PointDist(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
  const double t = l2 == 0 ? 0 : std::clamp(((px - ax) * dx + (py - ay) * dy) / l2, 0.0, 1.0);
  return std::hypot(px - ax - t * dx, py - ay - t * dy);
}
double SegDist(const Item& it, double ax, double ay, double bx, double by) {
  auto side = [](double x0, double y0, double x1, double y1, double x, double y) {
    return (x1 - x0) * (y - y0) - (y1 - y0) * (x - x0);
  };
  if (side(ax, ay, bx, by, it.x1, it.y1) * side(ax, ay, bx, by, it.x2, it.y2) < 0 &&
      side(it.x1, it.y1, it.x2, it.y2, ax, ay) * side(it.x1, it.y1, it.x2, it.y2, bx, by) < 0)
    return 0;  // proper crossing
  return std::min({PointDist(ax, ay, it.x1, it.y1, it.x2, it.y2), PointDist(bx, by, it.x1, it.y1, it.x2, it.y2),
                   PointDist(it.x1, it.y1, ax, ay, bx, by), PointDist(it.x2, it.y2, ax, ay, bx, by)});
}

std::unique_ptr<TCTDataList> RandomItems(size_t n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0, 1000), len(-30, 30);
  auto list = std::make_unique<TCTDataList>();
  for (size_t i = 0; i < n; ++i) {
    const double x = u(rng), y = u(rng);
    list->Add(i % 3 == 0 ? new Item(x, y, x, y, stPoint) : new Item(x, y, x + len(rng), y + len(rng), stLine));
  }
  return list;
}

int Children(const TCTKnot& k) {
  return static_cast<int>(std::count_if(k.Kinder.begin(), k.Kinder.end(), [](auto& c) { return !!c; }));
}

void AllKnots(TCTKnot* k, std::vector<TCTKnot*>& out) {
  out.push_back(k);
  for (auto& c : k->Kinder)
    if (c) AllKnots(c.get(), out);
}

// Every item in exactly one knot and inside its circle; children linked to their parent; in a built tree every
// knot holds data (directly or below) and a child's items lie in its hexagon position of the parent.
void CheckTree(const TCircleTree& tree, size_t items, bool built) {
  std::vector<TCTKnot*> knots;
  if (tree.Root) AllKnots(tree.Root.get(), knots);
  std::set<const TCTCustomDataItem*> seen;
  for (TCTKnot* k : knots) {
    TCTCircle placed;
    if (k->Parent) {
      const auto slot = std::find_if(k->Parent->Kinder.begin(), k->Parent->Kinder.end(),
                                     [&](const auto& c) { return c.get() == k; });
      ASSERT_NE(k->Parent->Kinder.end(), slot);
      placed.Init(static_cast<TCircleNumber>(slot - k->Parent->Kinder.begin()), k->Parent->X, k->Parent->Y,
                  k->Parent->R);
    }
    for (const TCTCustomDataItem* it : k->Daten) {
      ASSERT_TRUE(seen.insert(it).second);
      EXPECT_TRUE(k == tree.Root.get() || it->BelongsTo(k));
      EXPECT_TRUE(!built || !k->Parent ||
                  (placed.Punkt_in_Kreis(it->X1(), it->Y1()) && placed.Punkt_in_Kreis(it->X2(), it->Y2())));
    }
  }
  EXPECT_EQ(items, seen.size());
  auto holding = [&](auto&& self, const TCTKnot& k) -> int32_t {  // items in the subtree; none empty when built
    int32_t n = k.Daten.Count();
    for (const auto& c : k.Kinder) n += c ? self(self, *c) : 0;
    EXPECT_TRUE(!built || n > 0);
    return n;
  };
  if (tree.Root) holding(holding, *tree.Root);
}

// What a traversal with the test `pass` must return, in pre-order: the knots with data whose ancestors all pass
// (up to maxLevel levels below the root), and their items in that order.
std::vector<const TCTKnot*> Expected(const TCircleTree& tree, const std::function<bool(const TCTKnot&)>& pass,
                                     int maxLevel) {
  std::vector<TCTKnot*> knots;
  if (tree.Root) AllKnots(tree.Root.get(), knots);
  std::vector<const TCTKnot*> out;
  for (const TCTKnot* k : knots) {
    bool ok = k->Daten_vorhanden();
    int level = 0;
    for (const TCTKnot* a = k; a && ok; a = a->Parent, ++level) ok = pass(*a);
    if (ok && level - 1 <= maxLevel) out.push_back(k);
  }
  return out;
}
std::vector<const TCTCustomDataItem*> ItemsOf(const std::vector<const TCTKnot*>& knots) {
  std::vector<const TCTCustomDataItem*> out;
  for (const TCTKnot* k : knots) out.insert(out.end(), k->Daten.begin(), k->Daten.end());
  return out;
}
void CheckQueries(TCircleTree& tree, std::mt19937_64& rng, bool built) {
  std::uniform_real_distribution<double> u(-50, 1050), dist(0, 80), ang(-1.5, 1.5);
  std::vector<TCTKnot*> knots;
  AllKnots(tree.Root.get(), knots);
  for (int q = 0; q < 20; ++q) {
    const double x = u(rng), y = u(rng), d = dist(rng), phi = ang(rng), a = -dist(rng), b = 5 * dist(rng);
    const double c = dist(rng) / 40, co = std::cos(phi), si = std::sin(phi);
    TPtrList<TCTKnot> found;
    tree.Abstandsuchen(x, y, d, found);
    const std::vector<const TCTKnot*> got(found.begin(), found.end());
    EXPECT_EQ(Expected(tree, [&](const TCTKnot& k) { return std::hypot(x - k.X, y - k.Y) <= k.R + d; }, 50), got);
    // Strip from (x, y) along phi over the abscissae (a, b), and the beam u > c·|v| up to b in the same frame.
    TCTDataList strip, beam;
    tree.Schnitt(x, y, co, si, a, b, strip);
    const TTransM t{M2x2dreh(-phi), x, y};
    bool inside = false;
    tree.Root->SearchBeam(t, 0, b, c, inside, beam);
    auto lu = [&](const TCTKnot& k) { return (k.X - x) * co + (k.Y - y) * si; };
    auto lv = [&](const TCTKnot& k) { return std::fabs((k.Y - y) * co - (k.X - x) * si); };
    EXPECT_EQ(ItemsOf(Expected(
                  tree, [&](const TCTKnot& k) { return lv(k) < k.R && lu(k) + k.R > a && lu(k) - k.R < b; }, 1000)),
              std::vector<const TCTCustomDataItem*>(strip.begin(), strip.end()));
    EXPECT_EQ(ItemsOf(Expected(tree, [&](const TCTKnot& k) {
                return lu(k) + k.R > 0 && lu(k) - k.R < b && lv(k) - k.R < b && lu(k) + k.R > (lv(k) - k.R) * c;
              }, 1000)),
              std::vector<const TCTCustomDataItem*>(beam.begin(), beam.end()));
    // No item within reach is missed: the distance d of the point, the margin of the strip's axis segment.
    const std::set<const TCTCustomDataItem*> hit(strip.begin(), strip.end());
    for (const TCTKnot* k : knots)
      for (const TCTCustomDataItem* it : k->Daten) {
        const Item& item = static_cast<const Item&>(*it);
        EXPECT_TRUE(PointDist(x, y, item.x1, item.y1, item.x2, item.y2) >= d * (1 - 1e-9) ||
                    std::count(got.begin(), got.end(), k));
        EXPECT_TRUE(!built || hit.count(it) ||
                    SegDist(item, x + a * co, y + a * si, x + b * co, y + b * si) >= tree.Margin * (1 - 1e-9));
      }
  }
}

class CircleTreeTest : public testing::TestWithParam<size_t> {};

TEST_P(CircleTreeTest, BuiltTreeAnswersLikeABruteForceScan) {
  std::mt19937_64 rng(GetParam());
  TCircleTree tree(RandomItems(GetParam(), rng), GetParam() < 2000 ? 2.0 : 0.25);  // 2.0: 50-knot chains
  CheckTree(tree, GetParam(), true);
  CheckQueries(tree, rng, true);
  // Deleting knots while walking the pre-order leaf list backwards (children before their parents).
  auto leaves = tree.CreateLeafList();
  size_t left = GetParam();
  for (int32_t i = leaves->Count() - 1; i >= 0; i -= 2) {
    TCTKnot* k = leaves->Get(i);
    std::vector<TCTKnot*> sub;
    AllKnots(k, sub);
    for (TCTKnot* s : sub) left -= static_cast<size_t>(s->Daten.Count());
    TCTKnot* parent = k->Parent;
    tree.Knoten_loeschen(k);
    EXPECT_EQ(parent, k);
  }
  if (tree.Root) CheckTree(tree, left, false);
}

TEST_P(CircleTreeTest, InsertedTreeAnswersLikeABruteForceScan) {
  std::mt19937_64 rng(GetParam() + 1);
  auto items = RandomItems(GetParam(), rng);
  items->OwnsObjects = false;
  TCircleTree tree(0, 0, 1000, 1000, 2.0);
  for (int32_t i = 0; i < items->Count(); ++i) {
    tree.AddItem(std::unique_ptr<TCTCustomDataItem>(items->Get(i)));
    if (GetParam() <= 300 || i % 50 == 0) CheckTree(tree, static_cast<size_t>(i) + 1, false);
  }
  CheckQueries(tree, rng, false);
}

INSTANTIATE_TEST_SUITE_P(Sizes, CircleTreeTest, testing::Values(1, 2, 11, 150, 2000, 10000));

// A caller's tree with knots of its own (larger) class, next to a base-class tree whose knots come and go.
struct TaggedKnot : TCTKnot {
  using TCTKnot::TCTKnot;
  std::array<double, 5> tag{1, 2, 3, 4, 5};
};
struct TaggedTree : TCircleTree {
  TaggedTree(std::unique_ptr<TCTDataList> list, double margin) : TCircleTree(margin) { Build(std::move(list)); }
  std::unique_ptr<TCTKnot> CreateKnot(std::unique_ptr<TCTDataList> list, TCTKnot* parent, TCircleNumber number,
                                      bool flag) override {
    return std::make_unique<TaggedKnot>(std::move(list), parent, number, flag, Margin);
  }
};

TEST(CircleTreeDerivedTest, KnotsOfTheCallersClass) {
  std::mt19937_64 rng(9);
  TaggedTree tree(RandomItems(500, rng), 1.0);
  for (int round = 0; round < 3; ++round) TCircleTree other(RandomItems(300, rng), 1.0);
  std::vector<TCTKnot*> knots;
  AllKnots(tree.Root.get(), knots);
  for (TCTKnot* k : knots) ASSERT_EQ(5, dynamic_cast<TaggedKnot&>(*k).tag[4]);
  CheckTree(tree, 500, true);
  CheckQueries(tree, rng, true);
}

std::unique_ptr<TCTDataList> Points(std::initializer_list<std::pair<double, double>> points) {
  auto list = std::make_unique<TCTDataList>();
  for (const auto& [x, y] : points) list->Add(new Item(x, y, x, y, stPoint));
  return list;
}

TEST(CircleTreeDocumentedTest, PlacementBuildRulesAndSplit) {
  TCTCircle c;
  c.Init(cn60, 0, 0, 4);
  for (const auto& [expected, value] : {std::pair{1.5, c.X}, {3 * std::sqrt(3.0) / 2, c.Y}, {8.0 / 3, c.R}})
    EXPECT_DOUBLE_EQ(expected, value);
  c.Init(cnCenter, 0, 0, 4);
  EXPECT_EQ(2, c.R);
  const TCTCircle unit(0, 0, 1);
  const TTransM t{M2x2dreh(0), 0, 0};
  EXPECT_EQ((std::array{true, true, false, true}),  // the third touches the axis only
            (std::array{unit.Punkt_in_Kreis(1, 0), unit.PunktinKreisD(0, 3, 2),
                        TCTCircle(0, 1, 1).SchnittMitKreis(t, -5, 5), TCTCircle(0, 0.5, 1).SchnittMitKreis(t, -5, 5)}));
  // One point, margin below 0.5: root and a centre child on the point; the item lies in the child.
  auto one = std::make_unique<TCTDataList>();
  one->Add(new Item(3, 4, 3, 4, stPoint));
  const TCircleTree tree(std::move(one), 0.25);
  ASSERT_TRUE(tree.Root && tree.Root->Kinder[cnCenter]);
  const TCTKnot& child = *tree.Root->Kinder[cnCenter];
  EXPECT_EQ((std::array{0.0, 1.0, 1.0, 3.0, 0.25}),
            (std::array{double(tree.Root->Daten.Count()), double(Children(*tree.Root)), double(child.Daten.Count()),
                        child.X, child.R}));
  EXPECT_FALSE(TCircleTree(std::make_unique<TCTDataList>(), 1).Root);
  // Eleven insertions into a childless knot make seven children; a long line stays in the knot.
  const TCircleTree rect(10, 20, 40, 60, 0.5);  // the rectangle's centre, half its diagonal plus the margin
  EXPECT_EQ((std::array{25.0, 40.0, 25.5}), (std::array{rect.Root->X, rect.Root->Y, rect.Root->R}));
  TCircleTree grown(0, 0, 100, 100, 0.5);
  grown.AddItem(std::make_unique<Item>(1, 1, 99, 99, stLine));
  for (int i = 0; i < 10; ++i) {
    grown.AddItem(std::make_unique<Item>(40 + i, 50, 40 + i, 50, stPoint));
    EXPECT_EQ(i < 9 ? 0 : 7, Children(*grown.Root));
  }
  ASSERT_EQ(1, grown.Root->Daten.Count());
  EXPECT_EQ(99, grown.Root->Daten.Get(0)->X2());
  CheckTree(grown, 11, false);
  // Root (5, 0) r 5.1: the centre child holds nothing; cn0 at (8.825, 0) takes (10, 0) and shrinks to r 0.1, too
  // small to subdivide, so its later siblings are not built and (0, 0), which cn180 would take, stays in the root.
  const TCircleTree stop(Points({{0, 0}, {10, 0}}), 0.1);
  ASSERT_TRUE(stop.Root->Kinder[cn0] && stop.Root->Daten.Count() == 1);
  EXPECT_EQ((std::array{0.0, 10.0, 1.0}),
            (std::array{stop.Root->Daten.Get(0)->X1(), stop.Root->Kinder[cn0]->X, double(Children(*stop.Root))}));
  // A single point with a margin of 1: every knot subdivides into its centre child, down to 50 levels below
  // the root, where the point ends; the distance query still reaches it there.
  TCircleTree deep(Points({{3, 4}}), 1.0);
  EXPECT_TRUE(TCircleTree(Points({{3, 4}}), 0.5).Root->Kinder[cnCenter]->Kinder[cnCenter]);  // r 0.5 subdivides
  int levels = 0;
  const TCTKnot* k = deep.Root.get();
  for (; k->Kinder[cnCenter]; k = k->Kinder[cnCenter].get()) ++levels;
  TPtrList<TCTKnot> found;
  deep.Abstandsuchen(3, 4, 0, found);
  EXPECT_EQ((std::array{50, 1, 1}), (std::array{levels, k->Daten.Count(), found.Count()}));
  EXPECT_EQ(k, found.Get(0));
  // The beam u > 0.5·|v| along the x axis: "inside" when the circle lies wholly in it.
  for (const auto& b : test::DataRows("geometry/beams.txt")) {
    const TCTCircle circle(std::stod(b.at(0)), std::stod(b[1]), std::stod(b[2]));
    bool in = b.at(4) == "0";
    EXPECT_EQ(std::pair(b[3] == "1", b[4] == "1"), (std::pair{circle.Strahl_in_Kreis(t, -0.5, 20, 0.5, in), in}))
        << b[0] << " " << b[1];
  }
}

// Input that is not finite is refused: one such item would hide all the others from every query.
TEST(CircleTreeDocumentedTest, NonFiniteInputIsRefused) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  for (const double bad : {inf, -inf, nan}) {
    std::mt19937_64 rng(1);
    auto list = RandomItems(100, rng);
    list->Add(new Item(1, 2, bad, 3, stLine));
    EXPECT_THROW_MSG(TCircleTree(std::move(list), 1), Exception, "A circle tree item must have finite coordinates");
    EXPECT_THROW_MSG(TCircleTree(RandomItems(10, rng), bad), Exception,
                     "The margin of a circle tree must be a finite number");
    EXPECT_THROW(TCircleTree(0, 0, bad, 1, 1), Exception);
    TCircleTree tree(RandomItems(100, rng), 1);
    EXPECT_THROW(tree.AddItem(std::make_unique<Item>(bad, 0, 0, 0, stPoint)), Exception);
    EXPECT_THROW(tree.AddItem(std::make_unique<Item>(0, 0, 0, bad, stLine)), Exception);
    tree.AddItem(std::make_unique<Item>(0, 0, 0, bad, stPoint));  // a point has no second end
    TPtrList<TCTKnot> found;
    tree.Abstandsuchen(500, 500, 2000, found);
    EXPECT_GT(found.Count(), 0);
    EXPECT_THROW(TBaumStruktur(0, 0, bad, 1, 1), Exception);
  }
}

// The knots of a dropped tree go back to the heap (a long-running server builds many trees).
TEST(CircleTreeDocumentedTest, DroppedTreeGivesItsMemoryBack) {
#ifdef __GLIBC__
  const auto used = [] { const struct mallinfo2 m = mallinfo2(); return m.uordblks + m.hblkhd; };
  const std::size_t before = used();
  std::mt19937_64 rng(5);
  { const TCircleTree tree(RandomItems(5000, rng), 1); }
  EXPECT_LT(used(), before + (std::size_t{1} << 20));
#endif
}

}  // namespace
}  // namespace vez
