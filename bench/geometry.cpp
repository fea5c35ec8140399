// The circle tree's queries and construction against Boost.Geometry's R-tree and a linear scan, on the same
// 100 000 random segments in a 10 km x 10 km square, measured in the same run.
//
// Counters: CPU ns per query (or ms per build) of each method and the ratios circle tree / R-tree and linear scan /
// circle tree; for the strip query also the candidates per query that each index hands to the exact test. The strip query runs on a tree with the strip's half width as margin, the distance query on a tree
// with a small margin (and, for comparison, on the strip query's tree). Every method ends with the same exact test
// on the candidate segments, and the set-up checks that all three find the same segments.
#include <benchmark/benchmark.h>

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>

#include <ctime>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

#include "geometry/SortBaum.h"

namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
using BPoint = bg::model::point<double, 2, bg::cs::cartesian>;
using BBox = bg::model::box<BPoint>;
using BSeg = bg::model::segment<BPoint>;
using RValue = std::pair<BBox, uint32_t>;
using RTree = bgi::rtree<RValue, bgi::rstar<16>>;

constexpr size_t kSegments = 100000;
constexpr double kSide = 10000, kReach = 100, kStripLength = 2000, kHalfWidth = 10;
// The strip query needs a tree whose margin is the strip's half width. The distance query takes its reach as an
// argument, so its tree has a small margin: below 0.5 m knots stop subdividing once their segment no longer fits
// a child, while a margin of 0.5 m or more lets every short segment sink through a chain of 50 knots.
constexpr double kFineMargin = 0.1;

struct Seg {
  double x1, y1, x2, y2;
};

class SegItem : public vez::TCTCustomDataItem {
public:
  SegItem(const Seg& s, uint32_t id) : s_(s), Id(id) {}
  vez::TSegType SegType() const override { return vez::stLine; }
  double X1() const override { return s_.x1; }
  double X2() const override { return s_.x2; }
  double Y1() const override { return s_.y1; }
  double Y2() const override { return s_.y2; }
  const Seg& S() const { return s_; }

private:
  Seg s_;

public:
  uint32_t Id;
};

double PointSegDist(double px, double py, const Seg& s) {
  const double dx = s.x2 - s.x1, dy = s.y2 - s.y1, l2 = dx * dx + dy * dy;
  double t = l2 > 0 ? ((px - s.x1) * dx + (py - s.y1) * dy) / l2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(px - s.x1 - t * dx, py - s.y1 - t * dy);
}
double Cross(double ax, double ay, double bx, double by, double cx, double cy) {
  return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}
double SegSegDist(const Seg& a, const Seg& b) {
  const double c1 = Cross(a.x1, a.y1, a.x2, a.y2, b.x1, b.y1), c2 = Cross(a.x1, a.y1, a.x2, a.y2, b.x2, b.y2);
  const double c3 = Cross(b.x1, b.y1, b.x2, b.y2, a.x1, a.y1), c4 = Cross(b.x1, b.y1, b.x2, b.y2, a.x2, a.y2);
  if (c1 * c2 < 0 && c3 * c4 < 0) return 0;
  return std::min({PointSegDist(a.x1, a.y1, b), PointSegDist(a.x2, a.y2, b), PointSegDist(b.x1, b.y1, a),
                   PointSegDist(b.x2, b.y2, a)});
}

struct Query {
  double x, y;  // point of the distance query, start of the strip
  double c, s;  // strip direction (c > 0)
  Seg Axis() const { return {x, y, x + kStripLength * c, y + kStripLength * s}; }
};

BBox BoxOf(const Seg& s, double grow) {
  return {{std::min(s.x1, s.x2) - grow, std::min(s.y1, s.y2) - grow},
          {std::max(s.x1, s.x2) + grow, std::max(s.y1, s.y2) + grow}};
}

struct Data {
  std::vector<Seg> segs;
  std::vector<Query> queries;
  std::unique_ptr<vez::TCircleTree> tree, treeFine;  // margins kHalfWidth and kFineMargin
  RTree rtree, rtreeGrown;  // exact boxes; boxes grown by the strip's half width

  Data() {
    std::mt19937_64 rng(2026);
    std::uniform_real_distribution<double> pos(0, kSide), len(5, 100), dir(0, 2 * std::numbers::pi), q(-1.4, 1.4);
    for (size_t i = 0; i < kSegments; ++i) {
      const double x = pos(rng), y = pos(rng), l = len(rng), a = dir(rng);
      segs.push_back({x, y, x + l * std::cos(a), y + l * std::sin(a)});
    }
    for (int i = 0; i < 1000; ++i) {
      const double a = q(rng);
      queries.push_back({pos(rng), pos(rng), std::cos(a), std::sin(a)});
    }
    tree = BuildTree(kHalfWidth);
    treeFine = BuildTree(kFineMargin);
    rtree = BuildRTree(0);
    rtreeGrown = BuildRTree(kHalfWidth);
  }
  std::unique_ptr<vez::TCircleTree> BuildTree(double margin) const {
    auto list = std::make_unique<vez::TCTDataList>();
    list->SetCapacity(static_cast<int32_t>(segs.size()));
    for (uint32_t i = 0; i < segs.size(); ++i) list->Add(new SegItem(segs[i], i));
    return std::make_unique<vez::TCircleTree>(std::move(list), margin);
  }
  std::vector<RValue> Values(double grow) const {
    std::vector<RValue> v;
    v.reserve(segs.size());
    for (uint32_t i = 0; i < segs.size(); ++i) v.emplace_back(BoxOf(segs[i], grow), i);
    return v;
  }
  RTree BuildRTree(double grow) const {
    const auto v = Values(grow);
    return RTree(v.begin(), v.end());  // packing (bulk) construction
  }

  // Each returns the number of segments that pass the exact test.
  size_t DistTree(const Query& q, vez::TCircleTree& t) const {
    vez::TPtrList<vez::TCTKnot> knots;
    t.Abstandsuchen(q.x, q.y, kReach, knots);
    size_t n = 0;
    for (const vez::TCTKnot* k : knots)
      for (const vez::TCTCustomDataItem* it : k->Daten)
        n += PointSegDist(q.x, q.y, static_cast<const SegItem*>(it)->S()) <= kReach;
    return n;
  }
  size_t DistRTree(const Query& q) const {
    size_t n = 0;
    const BBox box{{q.x - kReach, q.y - kReach}, {q.x + kReach, q.y + kReach}};
    for (auto it = rtree.qbegin(bgi::intersects(box)); it != rtree.qend(); ++it)
      n += PointSegDist(q.x, q.y, segs[it->second]) <= kReach;
    return n;
  }
  size_t DistLinear(const Query& q) const {
    size_t n = 0;
    for (const Seg& s : segs) n += PointSegDist(q.x, q.y, s) <= kReach;
    return n;
  }
  size_t StripTree(const Query& q, vez::TCTDataList& result) const {
    tree->Schnitt(q.x, q.y, q.c, q.s, 0, kStripLength, result);
    const Seg axis = q.Axis();
    size_t n = 0;
    for (const vez::TCTCustomDataItem* it : result)
      n += SegSegDist(static_cast<const SegItem*>(it)->S(), axis) < kHalfWidth;
    return n;
  }
  size_t StripRTree(const Query& q) const {
    const Seg axis = q.Axis();
    const BSeg seg{{axis.x1, axis.y1}, {axis.x2, axis.y2}};
    size_t n = 0;
    for (auto it = rtreeGrown.qbegin(bgi::intersects(seg)); it != rtreeGrown.qend(); ++it)
      n += SegSegDist(segs[it->second], axis) < kHalfWidth;
    return n;
  }
  size_t StripLinear(const Query& q) const {
    const Seg axis = q.Axis();
    size_t n = 0;
    for (const Seg& s : segs) n += SegSegDist(s, axis) < kHalfWidth;
    return n;
  }
};

const Data& TheData() {
  static const Data data;
  static const bool checked = [] {
    vez::TCTDataList scratch;
    for (size_t i = 0; i < 50; ++i) {
      const Query& q = data.queries[i];
      const size_t d = data.DistLinear(q), s = data.StripLinear(q);
      if (data.DistTree(q, *data.treeFine) != d || data.DistTree(q, *data.tree) != d || data.DistRTree(q) != d ||
          data.StripTree(q, scratch) != s || data.StripRTree(q) != s)
        throw std::runtime_error("the methods disagree on query " + std::to_string(i));
    }
    return true;
  }();
  (void)checked;
  return data;
}

// CPU time of this thread in ns: the machines the benchmarks run on are shared, and CPU time keeps the ratios
// apart from the load of other processes.
double CpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}
template <class F>
double NsPerCall(size_t calls, F&& f) {
  const double t0 = CpuNs();
  for (size_t i = 0; i < calls; ++i) f(i);
  return (CpuNs() - t0) / static_cast<double>(calls);
}

void Report(benchmark::State& state, double tree, double rtree, double linear) {
  state.counters["tree_ns"] = tree;
  state.counters["rtree_ns"] = rtree;
  state.counters["linear_ns"] = linear;
  state.counters["tree_over_rtree"] = tree / rtree;
  state.counters["linear_over_tree"] = linear / tree;
}

void BM_DistanceQuery(benchmark::State& state) {
  const Data& d = TheData();
  double tree = 0, wide = 0, rtree = 0, linear = 0;
  size_t sink = 0;
  for (auto _ : state) {
    tree = NsPerCall(d.queries.size(), [&](size_t i) { sink += d.DistTree(d.queries[i], *d.treeFine); });
    wide = NsPerCall(d.queries.size(), [&](size_t i) { sink += d.DistTree(d.queries[i], *d.tree); });
    rtree = NsPerCall(d.queries.size(), [&](size_t i) { sink += d.DistRTree(d.queries[i]); });
    linear = NsPerCall(50, [&](size_t i) { sink += d.DistLinear(d.queries[i]); });
  }
  benchmark::DoNotOptimize(sink);
  Report(state, tree, rtree, linear);
  state.counters["tree_margin10_ns"] = wide;  // the same query on the strip query's tree
}
BENCHMARK(BM_DistanceQuery)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_StripQuery(benchmark::State& state) {
  const Data& d = TheData();
  double tree = 0, rtree = 0, linear = 0;
  size_t sink = 0;
  vez::TCTDataList scratch;
  for (auto _ : state) {
    tree = NsPerCall(d.queries.size(), [&](size_t i) { sink += d.StripTree(d.queries[i], scratch); });
    rtree = NsPerCall(d.queries.size(), [&](size_t i) { sink += d.StripRTree(d.queries[i]); });
    linear = NsPerCall(50, [&](size_t i) { sink += d.StripLinear(d.queries[i]); });
  }
  benchmark::DoNotOptimize(sink);
  Report(state, tree, rtree, linear);
  // Candidates per query that each index hands to the exact test (not timed).
  double treeCandidates = 0, rtreeCandidates = 0;
  for (const Query& q : d.queries) {
    d.tree->Schnitt(q.x, q.y, q.c, q.s, 0, kStripLength, scratch);
    treeCandidates += scratch.Count();
    const Seg axis = q.Axis();
    const BSeg seg{{axis.x1, axis.y1}, {axis.x2, axis.y2}};
    rtreeCandidates += static_cast<double>(
        std::distance(d.rtreeGrown.qbegin(bgi::intersects(seg)), d.rtreeGrown.qend()));
  }
  state.counters["tree_candidates"] = treeCandidates / static_cast<double>(d.queries.size());
  state.counters["rtree_candidates"] = rtreeCandidates / static_cast<double>(d.queries.size());
}
BENCHMARK(BM_StripQuery)->Unit(benchmark::kMillisecond)->Iterations(3);

// Building for 100 000 segments: the circle tree from its item list against the R-tree's bulk load from its
// value vector (making the items and values is not timed).
void BM_Build(benchmark::State& state) {
  const Data& d = TheData();
  double tree = 0, wide = 0, rtree = 0;
  auto items = [&] {
    auto list = std::make_unique<vez::TCTDataList>();
    for (uint32_t i = 0; i < d.segs.size(); ++i) list->Add(new SegItem(d.segs[i], i));
    return list;
  };
  for (auto _ : state) {
    auto fine = items(), wideList = items();
    const auto values = d.Values(0);
    double t0 = CpuNs();
    vez::TCircleTree builtFine(std::move(fine), kFineMargin);
    tree = CpuNs() - t0;
    t0 = CpuNs();
    vez::TCircleTree builtWide(std::move(wideList), kHalfWidth);
    wide = CpuNs() - t0;
    t0 = CpuNs();
    RTree r(values.begin(), values.end());
    rtree = CpuNs() - t0;
    benchmark::DoNotOptimize(r.size());
  }
  state.counters["tree_ms"] = tree / 1e6;
  state.counters["tree_margin10_ms"] = wide / 1e6;
  state.counters["rtree_bulk_ms"] = rtree / 1e6;
  state.counters["tree_over_rtree"] = tree / rtree;
}
BENCHMARK(BM_Build)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
