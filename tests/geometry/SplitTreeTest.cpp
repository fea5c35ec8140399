// The region split trees: the documented split and collapse behaviour, and a typed suite over every rectangle
// member that checks the tree's invariants after each insertion and deletion on seeded random boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <set>
#include <random>

#include "TestUtil.h"
#include "geometry/SplitTree.h"

namespace vez {
namespace {

struct Box : TTreeItem {
  Box(int32_t ax1, int32_t ay1, int32_t ax2, int32_t ay2) : x1(ax1), y1(ay1), x2(ax2), y2(ay2) {}
  int32_t x1, y1, x2, y2;
};
const Box& B(const TTreeItem* o) { return *static_cast<const Box*>(o); }

// The chain members also report the extent of a box.
template <class Tree, bool = std::is_base_of_v<detail::ChainStorage, Tree>>
struct WithExtent : Tree {
  using Tree::Tree;
};
template <class Tree>
struct WithExtent<Tree, true> : Tree {
  using Tree::Tree;
  bool GetMinMax(TTreeItem* o, int32_t& a, int32_t& b, int32_t& c, int32_t& d) override {
    a = B(o).x1, b = B(o).y1, c = B(o).x2, d = B(o).y2;
    return true;
  }
};

// A box belongs to a half when it lies on its side of the split line (touching it included). The branches are
// boxes trees of class Child: the tree's own class, or the two-branch base of a three-branch tree.
template <class Tree, class Child = Tree>
class BoxTree : public WithExtent<Tree> {
public:
  using C = typename Tree::Coord;
  using Base = Tree;
  using WithExtent<Tree>::WithExtent;
  std::unique_ptr<typename Tree::SelfType> CreateAst(uint8_t d, C x1, C y1, C x2, C y2) override {
    return std::make_unique<BoxTree<Child>>(d, x1, y1, x2, y2);
  }
  bool BelongsToAst1(TTreeItem* o) override {
    return this->SplitAxis == 1 ? B(o).x2 <= this->SplitValue : B(o).y2 <= this->SplitValue;
  }
  bool BelongsToAst2(TTreeItem* o) override {
    return this->SplitAxis == 1 ? B(o).x1 >= this->SplitValue : B(o).y1 >= this->SplitValue;
  }
};

template <class Tree>
constexpr bool kThree = requires(Tree t) { t.Ast3; };

// Walks the subtree: every item once, inside its node (touching for the nodes over a split line), in the branch
// its ancestors route it to (Ast1 first; Ast3 for none), branches in pairs one level deeper over the node's halves.
template <class Tree>
using Path = std::vector<std::pair<typename Tree::SelfType*, int>>;
template <class Tree>
void CheckNode(typename Tree::SelfType& n, std::map<const TTreeItem*, int>& seen, bool onLine, const Path<Tree>& path) {
  int own = 0;
  n.ForEachOwn([&](TTreeItem* o) {
    ++seen[o], ++own;
    const Box& b = B(o);
    const bool touches = b.x1 <= n.X2 && b.x2 >= n.X1 && b.y1 <= n.Y2 && b.y2 >= n.Y1;
    const bool inside = b.x1 >= n.X1 && b.x2 <= n.X2 && b.y1 >= n.Y1 && b.y2 <= n.Y2;
    EXPECT_TRUE(onLine ? touches : inside);
    EXPECT_FALSE(n.Ast1 && (n.BelongsToAst1(o) || n.BelongsToAst2(o)));
    for (const auto& [a, branch] : path) {
      EXPECT_EQ(std::pair(branch == 1, branch == 2), std::pair(a->BelongsToAst1(o), !a->BelongsToAst1(o) &&
                                                                                   a->BelongsToAst2(o)));
    }
    if constexpr (std::is_base_of_v<detail::ChainStorage, Tree>) {
      EXPECT_TRUE(b.x1 >= n.MinX && b.x2 <= n.MaxX && b.y1 >= n.MinY && b.y2 <= n.MaxY);
    }
  });
  if constexpr (std::is_base_of_v<detail::ChainStorage, Tree>) {
    EXPECT_EQ(own, n.Count);
  }
  EXPECT_TRUE(n.Ast1 || path.empty() || own <= 11 || n.Depth >= 24);  // splits at the 12th below the root
  ASSERT_EQ(!n.Ast1, !n.Ast2);
  auto below = [&](auto& child, int branch, bool line) {
    Path<Tree> p = path;
    p.emplace_back(&n, branch);
    CheckNode<Tree>(child, seen, line, p);
  };
  if (n.Ast1) {
    EXPECT_TRUE(n.Ast1->Depth == n.Depth + 1 && n.Ast2->Depth == n.Depth + 1);
    const bool x = n.SplitAxis == 1;
    EXPECT_TRUE(n.Ast1->X1 == n.X1 && n.Ast1->Y1 == n.Y1 && n.Ast2->X2 == n.X2 && n.Ast2->Y2 == n.Y2);
    EXPECT_TRUE(n.SplitValue == (x ? n.Ast1->X2 : n.Ast1->Y2) && n.SplitValue == (x ? n.Ast2->X1 : n.Ast2->Y1));
    below(*n.Ast1, 1, onLine);
    below(*n.Ast2, 2, onLine);
  }
  if constexpr (kThree<Tree>) {
    if (auto* t = dynamic_cast<Tree*>(&n); t && t->Ast3) {
      EXPECT_TRUE(t->Ast1 != nullptr);
      EXPECT_TRUE(t->Ast3->X1 == t->Ast3->X2 || t->Ast3->Y1 == t->Ast3->Y2);
      below(*t->Ast3, 3, true);
    }
  }
}

template <class Tree>
void CheckTree(Tree& root, size_t expected) {
  std::map<const TTreeItem*, int> seen;
  CheckNode<typename Tree::Base>(root, seen, false, {});
  ASSERT_EQ(expected, seen.size());
  for (const auto& [item, times] : seen) ASSERT_EQ(1, times);
  ASSERT_EQ(static_cast<int32_t>(expected), root.CountEle());
}

template <class Tree>
class SplitTreeTest : public testing::Test {};
using RectTrees =
    testing::Types<BoxTree<TBaumStruktur>, BoxTree<TBaumStruktur2>, BoxTree<TBaumStruktur2, TBaumStruktur>,
                   BoxTree<TIntCoordBaum>, BoxTree<TIntCoordBaum2>, BoxTree<TIntCoordBaum2, TIntCoordBaum>,
                   BoxTree<TIntKoordBaum>, BoxTree<TIntKoordBaum3>, BoxTree<TIntKoordBaum3, TIntKoordBaum>>;
TYPED_TEST_SUITE(SplitTreeTest, RectTrees);

TYPED_TEST(SplitTreeTest, InvariantsHoldThroughRandomInsertAndDeleteAndFreeItems) {
  for (const size_t size : {1, 3, 12, 300, 2000, 10000}) {
    std::mt19937 rng(static_cast<uint32_t>(size));
    auto r = [&](int n) { return static_cast<int32_t>(rng() % static_cast<uint32_t>(n)); };
    std::vector<std::unique_ptr<Box>> boxes;
    for (size_t i = 0; i < size; ++i) {
      const int32_t x = r(1024), y = r(1024), ext = r(5) == 0 ? 600 : 20;
      boxes.push_back(std::make_unique<Box>(x, y, std::min(1024, x + r(ext)), std::min(1024, y + r(ext))));
    }
    const size_t every = size > 300 ? size / 50 : 1;  // every operation on the small sets
    TypeParam root(0, 0, 0, 1024, 1024);
    const int32_t maxCount = 2 + r(10);
    for (size_t i = 0; i < size; ++i) {
      root.AddItem(boxes[i].get(), maxCount, 24);
      if (i % every == 0 || i + 1 == size) CheckTree(root, i + 1);
    }
    Box stranger(5, 5, 6, 6);
    root.DelItem(&stranger);
    CheckTree(root, size);
    std::shuffle(boxes.begin(), boxes.end(), rng);
    for (size_t i = 0; i < size; ++i) {
      const bool empty = root.DelItem(boxes[i].get());
      ASSERT_TRUE(kThree<typename TypeParam::Base> || (i + 1 == size) == empty) << i;
      if (i % every == 0 || i + 1 == size) CheckTree(root, size - i - 1);
    }
    EXPECT_TRUE(kThree<typename TypeParam::Base> || root.IsEmpty());
  }
  TypeParam owner(0, 0, 0, 100, 100);  // FreeItems destroys the objects: a leak or double free shows under ASan
  for (int i = 0; i < 200; ++i) owner.AddItem(new Box(i % 100, i / 2, i % 100, i / 2 + (i % 3 ? 0 : 60)), 3, 24);
  owner.FreeItems();
  EXPECT_EQ(0, owner.CountEle());
}

// Where a node splits, when an insertion splits it and a deletion collapses it. Below the root every insertion uses
// the capacity 10 and the depth limit 24, whatever the root was given.
TEST(SplitTreeTest, SplitsAfterMaxCountAndDepthAndDeletionCollapses) {
  // Across the longer side (x2, y2, axis, split value); y on a square.
  for (const auto& [x2, y2, axis, split] : {std::array{10, 4, 1, 5}, {4, 4, 0, 2}}) {
    TBaumStruktur t(0, 0, 0, x2, y2);
    t.Aufteilen();
    EXPECT_EQ(std::tuple(axis, split, 2), std::tuple(int(t.SplitAxis), int(t.SplitValue), int(t.Ast1->Depth)));
  }
  for (const auto& [lo, hi, split] : {std::array{0, 5, 2}, {1, 6, 4}, {-5, 0, -2}, {-6, -1, -4}, {-3, 3, 0}}) {
    TIntCoordBaum t(0, lo, 0, hi, 0);
    TIntKoordBaum t32(0, 0, lo, 0, hi);
    TIntegerBaum line(0, lo, hi);
    t.Aufteilen(), t32.Aufteilen(), line.Aufteilen();
    EXPECT_EQ((std::array<int64_t, 4>{split, split, split, split}),
              (std::array<int64_t, 4>{t.SplitValue, t32.SplitValue, line.Ast1->Hi, line.Ast2->Lo}));
  }
  // The split after the maximum count, and the collapse.
  Box a(1, 1, 2, 2), b(6, 1, 7, 2), c(3, 1, 7, 2), d(8, 1, 9, 2);
  BoxTree<TBaumStruktur> t(0, 0, 0, 10, 4);
  for (Box* o : {&a, &b, &c}) EXPECT_FALSE(t.AddItem(o, 2, 8));
  EXPECT_TRUE(t.AddItem(&d, 2, 8));  // splits first, then routes d; c straddles x = 5 and stays
  EXPECT_EQ((std::array{1, 1, 2, 4}), (std::array{t.Count(), t.Ast1->Count(), t.Ast2->Count(), t.CountEle()}));
  EXPECT_EQ(&c, t.Get(0));
  EXPECT_EQ(std::pair(false, true), std::pair(t.DelItem(&a), t.Ast1 != nullptr));  // the sibling holds b and d
  for (Box* o : {&b, &d}) EXPECT_FALSE(t.DelItem(o));
  EXPECT_FALSE(t.Ast1);  // both leaves empty: the pair is gone
  EXPECT_TRUE(t.DelItem(&c));
  // The same deletions in a three-branch tree leave the children (a three-branch leaf never reports empty).
  BoxTree<TBaumStruktur2> t2(0, 0, 0, 10, 4);
  for (Box* o : {&a, &b, &c, &d}) t2.AddItem(o, 2, 8);
  for (Box* o : {&a, &b, &d}) t2.DelItem(o);
  EXPECT_TRUE(t2.Ast1 != nullptr);
  BoxTree<TBaumStruktur> flat(0, 0, 0, 10, 4);
  for (int i = 0; i < 12; ++i) {  // the collapsed root splits at the 4th insertion, its branch at the 12th
    EXPECT_TRUE(!t.Ast1 || !t.Ast1->Ast1) << i;
    t.AddItem(&a, 2, 2);
    flat.AddItem(&a, 2, 1);  // the root is at depth 1: never split
  }
  EXPECT_EQ(std::tuple(true, 12, false), std::tuple(t.Ast1->Ast1 != nullptr, t.Ast1->CountEle(), flat.Ast1 != nullptr));
  // Twelve equal points never lie on a split line: the nodes split down to depth 24, which keeps them all.
  BoxTree<TBaumStruktur> deep(0, 0, 0, 10, 4);
  BoxTree<TBaumStruktur2> deep2(0, 0, 0, 10, 4);
  std::vector<Box> points(12, Box(1, 1, 1, 1));
  for (Box& p : points) deep.AddItem(&p, 2, 24), deep2.AddItem(&p, 2, 24);
  std::function<int(TBaumStruktur&)> bottom = [&](TBaumStruktur& n) {
    return n.Ast1 ? std::max(bottom(*n.Ast1), bottom(*n.Ast2)) : n.Count() ? int(n.Depth) : -1;
  };
  EXPECT_EQ(std::pair(24, 24), std::pair(bottom(deep), bottom(deep2)));
}

// The 1-D tree against a model of the stored spans, through random insertions and deletions.
struct Span : TTreeItem {
  Span(int32_t l, int32_t h) : lo(l), hi(h) {}
  int32_t lo, hi;
};
struct SpanTree : TIntegerBaum {
  using TIntegerBaum::TIntegerBaum;
  std::unique_ptr<TIntegerBaum> CreateAst(uint8_t d, int32_t lo, int32_t hi) override {
    return std::make_unique<SpanTree>(d, lo, hi);
  }
  bool BelongsToAst1(TTreeItem* o) override { return static_cast<Span*>(o)->hi <= SplitValue; }
  bool BelongsToAst2(TTreeItem* o) override { return static_cast<Span*>(o)->lo >= SplitValue; }
};
void Collect(TIntegerBaum& n, std::multiset<const TTreeItem*>& out) {
  for (TTreeItem* o : n) {
    out.insert(o);
    EXPECT_FALSE(n.Ast1 && (n.BelongsToAst1(o) || n.BelongsToAst2(o)));
  }
  if (n.Ast1) Collect(*n.Ast1, out), Collect(*n.Ast2, out);
}

TEST(SplitTreeTest, IntegerTreeAgainstAModel) {
  Span a(0, 1), b(1, 4), c(3, 5), d(0, 5);
  SpanTree small(0, 0, 5);
  for (Span* o : {&a, &b, &c, &d}) small.AddItem(o, 2, 8);  // the 4th splits at 2: b straddles and goes to Ast2
  EXPECT_EQ((std::array{1, 1, 2}), (std::array{small.Count(), small.Ast1->Count(), small.Ast2->Count()}));
  SpanTree capacity(0, 0, 5);  // below the root the capacity is 10 whatever the root was given
  for (int i = 0; i < 12; ++i) {
    EXPECT_TRUE(!capacity.Ast1 || !capacity.Ast1->Ast1) << i;
    capacity.AddItem(&a, 2, 24);
  }
  EXPECT_TRUE(capacity.Ast1->Ast1 != nullptr);
  std::mt19937 rng(4);
  std::vector<std::unique_ptr<Span>> spans;
  for (int i = 0; i < 800; ++i) {  // points: a straddler that went to Ast2 at a split is not found again there
    const auto at = static_cast<int32_t>(rng() % 1001);
    spans.push_back(std::make_unique<Span>(at, at));
  }
  SpanTree root(0, 0, 1000);
  std::multiset<const TTreeItem*> model;
  auto check = [&] {
    std::multiset<const TTreeItem*> stored;
    Collect(root, stored);
    ASSERT_EQ(model, stored);
    ASSERT_EQ(static_cast<int32_t>(model.size()), root.CountEle());
  };
  for (auto& s : spans) {
    root.AddItem(s.get(), 3, 24);
    model.insert(s.get());
    check();
  }
  std::shuffle(spans.begin(), spans.end(), rng);
  for (auto& s : spans) {
    model.erase(s.get());
    ASSERT_EQ(model.empty(), root.DelItem(s.get()));
    check();
  }
  EXPECT_TRUE(root.IsEmpty());
}

// Straddlers move into the line branch once there are more than two. Deleting the last straddler: the double tree
// drops its line branch, the integer trees keep it until the halves are empty too; with branches of their own
// three-branch class (whose leaves never report empty) nothing collapses.
TEST(SplitTreeTest, ThirdBranchFillsWithStraddlersAndEmpties) {
  auto run = [](auto tree, bool lineDropped, bool collapses) {
    Box left(1, 1, 1, 1), across(4, 1, 6, 1);
    for (Box* o : {&left, &left, &left, &across, &across, &across, &across}) tree.AddItem(o, 2, 8);
    ASSERT_TRUE(tree.Ast3 != nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(tree.DelItem(&across));
    EXPECT_EQ(std::pair(lineDropped, true), std::pair(!tree.Ast3, tree.Ast1 != nullptr));
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(tree.DelItem(&left));
    EXPECT_EQ(std::tuple(collapses, collapses, 0), (std::tuple{tree.DelItem(&left), tree.IsEmpty(), tree.CountEle()}));
  };
  run(BoxTree<TBaumStruktur2, TBaumStruktur>(0, 0, 0, 10, 4), true, true);
  run(BoxTree<TIntCoordBaum2, TIntCoordBaum>(0, 0, 0, 10, 4), false, true);
  run(BoxTree<TIntKoordBaum3, TIntKoordBaum>(0, 0, 0, 10, 4), false, true);
  run(BoxTree<TBaumStruktur2>(0, 0, 0, 10, 4), false, false);
  std::vector<std::unique_ptr<Box>> across;
  for (int i = 0; i < 5; ++i) across.push_back(std::make_unique<Box>(4, i % 4, 6, i % 4));
  BoxTree<TBaumStruktur2> t(0, 0, 0, 10, 4);
  Box left(1, 1, 1, 1);
  for (Box* o : {&left, across[0].get(), across[1].get(), across[2].get()}) {
    t.AddItem(o, 2, 8);  // the 4th splits: two straddlers stay (not more than two) and the 4th joins them
    EXPECT_FALSE(t.Ast3);
  }
  EXPECT_EQ((std::array{3, 1}), (std::array{t.Count(), t.Ast1->Count()}));
  t.AddItem(across[3].get(), 2, 8);  // more than two straddlers: they move to the line branch
  ASSERT_TRUE(t.Ast3 != nullptr);
  EXPECT_EQ((std::vector<double>{0, 5, 5, 4, 5}),
            (std::vector<double>{double(t.Count()), t.Ast3->X1, t.Ast3->X2, double(t.Ast3->CountEle()),
                                 double(t.CountEle())}));
  t.AddItem(across[4].get(), 2, 8);  // once the line branch exists, straddlers go there
  EXPECT_EQ((std::array{0, 5}), (std::array{t.Count(), t.Ast3->CountEle()}));
}

TEST(SplitTreeTest, ElementChain) {
  BoxTree<TIntKoordBaum> t(0, 0, 0, 10, 10);
  Box a(1, 2, 3, 4), b(0, 5, 2, 9), absent(0, 0, 0, 0);
  t.AddEle(std::make_unique<TBaumEle>(&a));
  EXPECT_EQ(1, t.MinX);
  t.AddEle(std::make_unique<TBaumEle>(&b));
  t.DelEle(&absent);
  EXPECT_EQ((std::vector<int32_t>{2, 0, 9}), (std::vector{t.Count, t.MinX, t.MaxY}));
  t.DelEle(&b);  // the box is not shrunk
  EXPECT_EQ((std::vector<int32_t>{1, 0}), (std::vector{t.Count, t.MinX}));
  EXPECT_EQ((std::array<TTreeItem*, 2>{&a, &a}), (std::array{t.First->Obj, t.Last->Obj}));
}

// The pointer lists under the trees: null entries, packing, index checks, capacity, and the owning list.
TEST(SplitTreeTest, PointerLists) {
  static int destroyed = 0;
  struct Counted : TTreeItem {
    ~Counted() override { ++destroyed; }
  } a, b;
  TPtrList<TTreeItem> list;
  const std::array<int, 2> added{list.Add(&a), list.Add(&b)};  // a braced list runs left to right
  list.SetCount(4);
  list.Put(2, &a);
  EXPECT_EQ(0, list.Remove(&a));  // b, a, null
  EXPECT_EQ(std::tuple(std::array{0, 1}, 3, nullptr), std::tuple(added, list.Count(), list.Get(2)));
  list.Pack();
  EXPECT_EQ(std::tuple(2, &b, &a), std::tuple(list.Count(), list.First(), list.Last()));
  EXPECT_THROW_MSG(list.Get(2), EListError, "List index out of bounds (2)");
  EXPECT_THROW_MSG(list.SetCapacity(1), EListError, "List capacity out of bounds (1)");
  EXPECT_THROW_MSG(list.SetCount(-1), EListError, "List count out of bounds (-1)");
  list.SetCapacity(2);
  list.SetCapacity(100);
  list.Delete(0);
  EXPECT_EQ(std::tuple(&a, true), std::tuple(list.First(), list.Capacity() >= 100));
  list.SetCount(0);
  {
    TOwningPtrList<TTreeItem> owning;
    for (TTreeItem* o : std::initializer_list<TTreeItem*>{new Counted, new Counted, &a}) owning.Add(o);
    owning.Remove(owning.First());
    EXPECT_EQ(std::tuple(1, &a, 0), std::tuple(destroyed, owning.Extract(&a), list.Count()));
  }
  EXPECT_EQ(2, destroyed);  // the one left in the list went with it; the extracted one was not destroyed
}

}  // namespace
}  // namespace vez