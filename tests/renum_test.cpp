// Renumbering: natural numbering with shifts, Sloan profile reduction with
// pseudo-peripheral pairs, components, isolated nodes, quadratic reversal
// and element numbering.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "element.h"
#include "list.h"
#include "message.h"
#include "renum.h"
#include "support.h"

namespace {

using edge_list = std::vector<std::pair<int, int>>;

class Renumbering : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = mgn_set;
    fresh();
  }
  // An empty mesh store and the default renumbering settings.
  void fresh() {
    mgn_reset_mesh_store();
    mgn_create_mesh_store(0);
    mgn_set.numbering_shift = {0, 0};
    mgn_set.renumbering_type = 1;
    mgn_set.output_spec = 0;
    mgn_set.element_degree = 1;
  }
  void TearDown() override {
    mgn_reset_mesh_store();
    mgn_set = saved_;
  }
  // Nodes 0..count-1 in the finite-element listing in this order, joined by
  // the given edges (all output).
  void build(int count, const edge_list& edges) {
    nodes_.clear();
    for (int i = 0; i < count; ++i) {
      const double xyz[3] = {double(i), 0.0, 0.0};
      nodes_.push_back(mgn_create_node(xyz, nullptr, MGN_REGION, nullptr, &mgn_mesh.fe_nodes));
    }
    for (auto [a, b] : edges)
      edges_.push_back(mgn_create_edge(nodes_[a], nodes_[b], MGN_CURVE, nullptr, &mgn_mesh.fe_edges));
  }
  std::vector<long> numbers() const {
    std::vector<long> v;
    for (mgn_node* node : nodes_) v.push_back(node->id);
    return v;
  }
  std::string renumber() {
    ::testing::internal::CaptureStdout();
    mgn_renumber_mesh();
    return ::testing::internal::GetCapturedStdout();
  }
  mgn_settings saved_;
  std::vector<mgn_node*> nodes_;
  std::vector<mgn_edge*> edges_;
};

// Profile of a numbering computed directly from the edge list.
double profile_of(int count, const edge_list& edges, const std::vector<long>& number) {
  std::vector<long> low(number.begin(), number.end());
  for (auto [a, b] : edges) {
    low[a] = std::min(low[a], number[b]);
    low[b] = std::min(low[b], number[a]);
  }
  double sum = 0;
  for (int i = 0; i < count; ++i) sum += double(number[i] - low[i] + 1);
  return sum;
}

// Reverse Cuthill-McKee from a pseudo-peripheral node (repeated farthest
// breadth-first search), neighbours by ascending degree: the reference the
// profile reduction must match.
std::vector<long> reverse_cuthill_mckee(int count, const edge_list& edges) {
  std::vector<std::vector<int>> adj(count);
  for (auto [a, b] : edges) {
    adj[a].push_back(b);
    adj[b].push_back(a);
  }
  auto bfs_far = [&](int root) {
    std::vector<int> dist(count, -1);
    std::deque<int> q{root};
    dist[root] = 0;
    int far = root;
    while (!q.empty()) {
      int x = q.front();
      q.pop_front();
      if (dist[x] > dist[far] || (dist[x] == dist[far] && adj[x].size() < adj[far].size())) far = x;
      for (int y : adj[x])
        if (dist[y] < 0) {
          dist[y] = dist[x] + 1;
          q.push_back(y);
        }
    }
    return far;
  };
  std::vector<long> number(count, 0);
  std::vector<int> order;
  std::vector<bool> seen(count, false);
  for (int s = 0; s < count; ++s) {
    if (seen[s]) continue;
    int root = bfs_far(bfs_far(s));
    std::deque<int> q{root};
    seen[root] = true;
    while (!q.empty()) {
      int x = q.front();
      q.pop_front();
      order.push_back(x);
      std::vector<int> next;
      for (int y : adj[x])
        if (!seen[y]) {
          seen[y] = true;
          next.push_back(y);
        }
      std::stable_sort(next.begin(), next.end(), [&](int a, int b) { return adj[a].size() < adj[b].size(); });
      for (int y : next) q.push_back(y);
    }
  }
  for (int k = 0; k < count; ++k) number[order[k]] = count - k;
  return number;
}

// A w x h grid of nodes listed in a scrambled order, with its edges;
// diagonals make it a triangulated grid.
edge_list grid(int w, int h, bool diagonals, std::vector<int>* position) {
  std::vector<int> pos(w * h);
  std::iota(pos.begin(), pos.end(), 0);
  // Deterministic scramble: a multiplicative permutation of the indices.
  const int n = w * h;
  int mult = 7;
  while (std::gcd(mult, n) != 1) ++mult;
  for (int k = 0; k < n; ++k) pos[k] = (k * mult + 3) % n;
  auto id = [&](int x, int y) { return pos[y * w + x]; };
  edge_list edges;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (x + 1 < w) edges.push_back({id(x, y), id(x + 1, y)});
      if (y + 1 < h) edges.push_back({id(x, y), id(x, y + 1)});
      if (diagonals && x + 1 < w && y + 1 < h) edges.push_back({id(x, y), id(x + 1, y + 1)});
    }
  if (position != nullptr) *position = pos;
  return edges;
}

bool is_permutation_from(std::vector<long> v, long first) {
  std::sort(v.begin(), v.end());
  for (std::size_t k = 0; k < v.size(); ++k)
    if (v[k] != first + long(k)) return false;
  return true;
}

struct graph_case {
  const char* name;
  int w, h;
  bool diagonals;
};

TEST_F(Renumbering, ProfileReductionOnGridsMatchesReverseCuthillMcKee) {
  const graph_case cases[] = {{"grid 30x8", 30, 8, false},
                              {"triangulated 40x5", 40, 5, true},
                              {"square 15x15", 15, 15, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const int n = c.w * c.h;
    edge_list edges = grid(c.w, c.h, c.diagonals, nullptr);
    build(n, edges);
    std::string out = renumber();
    EXPECT_NE(out.find("Renumbering completed"), std::string::npos);
    std::vector<long> ours = numbers();
    ASSERT_TRUE(is_permutation_from(ours, 1));
    std::vector<long> natural(n);
    std::iota(natural.begin(), natural.end(), 1);
    EXPECT_DOUBLE_EQ(mgn_run.profile_old, profile_of(n, edges, natural));
    EXPECT_DOUBLE_EQ(mgn_run.profile_new, profile_of(n, edges, ours));
    EXPECT_LT(mgn_run.profile_new, 0.5 * mgn_run.profile_old);
    double reference = profile_of(n, edges, reverse_cuthill_mckee(n, edges));
    EXPECT_LE(mgn_run.profile_new, 1.05 * reference) << "reference " << reference;
    // The order array lists the nodes by their new numbers.
    ASSERT_EQ(mgn_mesh.order.size(), std::size_t(n));
    for (int k = 0; k < n; ++k) EXPECT_EQ(mgn_mesh.order[k]->id, k + 1);
    EXPECT_FALSE(mgn_mesh.reverse);
  }
}

TEST_F(Renumbering, IsDeterministic) {
  edge_list edges = grid(12, 9, true, nullptr);
  build(108, edges);
  renumber();
  std::vector<long> first = numbers();
  double profile = mgn_run.profile_new;
  renumber();
  EXPECT_EQ(numbers(), first);
  EXPECT_EQ(mgn_run.profile_new, profile);
}

TEST_F(Renumbering, ShiftsApplyToNodesAndElementsButNotToCounts) {
  mgn_set.numbering_shift = {100, 1000};
  edge_list edges = grid(6, 4, false, nullptr);
  build(24, edges);
  renumber();
  EXPECT_TRUE(is_permutation_from(numbers(), 101));
  std::vector<long> element_ids;
  for (mgn_edge* e : edges_) element_ids.push_back(e->id);
  EXPECT_TRUE(is_permutation_from(element_ids, 1001));
  EXPECT_EQ(edges_.front()->id, 1001);  // elements in listing order
  EXPECT_EQ(mgn_run.nodes.fe, 24);
  EXPECT_EQ(mgn_run.edges.fe, long(edges.size()));
  // The profile does not depend on the shift.
  std::vector<long> unshifted = numbers();
  for (long& v : unshifted) v -= 100;
  EXPECT_DOUBLE_EQ(mgn_run.profile_new, profile_of(24, edges, unshifted));
}

TEST_F(Renumbering, TypeZeroKeepsListingOrderWithoutOrderArray) {
  mgn_set.renumbering_type = 0;
  mgn_set.numbering_shift = {100, 1000};
  build(5, {{0, 4}, {4, 2}, {2, 1}, {1, 3}});
  std::string out = renumber();
  EXPECT_EQ(out.find("Renumbering completed"), std::string::npos);
  EXPECT_EQ(numbers(), (std::vector<long>{101, 102, 103, 104, 105}));
  EXPECT_TRUE(mgn_mesh.order.empty());
  EXPECT_EQ(edges_[0]->id, 1001);
  EXPECT_EQ(edges_[3]->id, 1004);
}

TEST_F(Renumbering, IsolatedNodesComeFirstInListingOrder) {
  // Nodes 1 and 4 have no edge; the path 0-2-3-5 follows them.
  build(6, {{0, 2}, {2, 3}, {3, 5}});
  renumber();
  std::vector<long> v = numbers();
  EXPECT_EQ(v[1], 1);
  EXPECT_EQ(v[4], 2);
  std::set<long> path = {v[0], v[2], v[3], v[5]};
  EXPECT_EQ(path, (std::set<long>{3, 4, 5, 6}));
  // The path is numbered from one end to the other.
  EXPECT_EQ(std::abs(v[0] - v[2]), 1);
  EXPECT_EQ(std::abs(v[2] - v[3]), 1);
  EXPECT_EQ(std::abs(v[3] - v[5]), 1);
}

TEST_F(Renumbering, TwoComponentsAreNumberedOneAfterTheOther) {
  // Two paths whose nodes alternate in the listing.
  edge_list edges;
  for (int k = 0; k + 2 < 20; k += 2) {
    edges.push_back({k, k + 2});          // even nodes
    edges.push_back({k + 1, k + 3});      // odd nodes
  }
  build(20, edges);
  renumber();
  std::vector<long> v = numbers();
  long even_max = 0, odd_min = 100, odd_max = 0, even_min = 100;
  for (int i = 0; i < 20; ++i) {
    if (i % 2 == 0) { even_min = std::min(even_min, v[i]); even_max = std::max(even_max, v[i]); }
    else { odd_min = std::min(odd_min, v[i]); odd_max = std::max(odd_max, v[i]); }
  }
  // Each component takes a contiguous block, each path in its own order
  // from one end: profile 1 + 2 * 9 per path.
  EXPECT_TRUE((even_max < odd_min) || (odd_max < even_min));
  EXPECT_DOUBLE_EQ(mgn_run.profile_new, 2 * (1 + 2 * 9));
  EXPECT_DOUBLE_EQ(mgn_run.profile_new, profile_of(20, edges, v));
}

TEST_F(Renumbering, BestNaturalNumberingIsKept) {
  // A path listed from one end to the other already has the least profile.
  build(6, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}});
  renumber();
  EXPECT_EQ(mgn_run.profile_new, mgn_run.profile_old);
  EXPECT_DOUBLE_EQ(mgn_run.profile_old, 11.0);
}

TEST_F(Renumbering, NativeOrderingKeepsNumbersButNoOrderArray) {
  mgn_set.output_spec = 128;
  edge_list edges = grid(10, 3, false, nullptr);
  build(30, edges);
  renumber();
  EXPECT_TRUE(mgn_mesh.order.empty());
  EXPECT_LT(mgn_run.profile_new, mgn_run.profile_old);
  EXPECT_DOUBLE_EQ(mgn_run.profile_new, profile_of(30, edges, numbers()));
}

TEST_F(Renumbering, FastRenumberingStillReduces) {
  mgn_set.renumbering_type = 5;
  edge_list edges = grid(20, 4, false, nullptr);
  build(80, edges);
  renumber();
  EXPECT_LT(mgn_run.profile_new, 0.5 * mgn_run.profile_old);
}

TEST_F(Renumbering, PeripheralPairOfAPathIsItsEnds) {
  // Path listed as 3-1-4-0-2 (ends 3 and 2).
  build(5, {{3, 1}, {1, 4}, {4, 0}, {0, 2}});
  mgn_node_graph g;
  mgn_build_node_graph(g);
  int s = -1, e = -1;
  mgn_get_peripheral_nodes(g, 4, &s, &e);
  EXPECT_EQ(std::set<int>({s, e}), std::set<int>({3, 2}));
}

TEST_F(Renumbering, QuadraticMeshIsReversedWithMidsideNodes) {
  mgn_set.element_degree = 2;
  mgn_set.numbering_shift = {10, 0};
  edge_list edges = grid(8, 3, true, nullptr);
  build(24, edges);
  for (mgn_edge* e : edges_) mgn_create_midnode(e);
  mgn_mesh.fe_nodes = mgn_append_listing(mgn_mesh.fe_nodes, mgn_get_first_listing_block(mgn_mesh.midnodes));
  mgn_mesh.midnodes = nullptr;
  const long n = 24 + long(edges_.size());
  renumber();
  EXPECT_TRUE(mgn_mesh.reverse);
  EXPECT_EQ(mgn_run.nodes.fe, n);
  std::vector<long> all;
  for (mgn_node* node : nodes_) all.push_back(node->id);
  for (mgn_edge* e : edges_) all.push_back(mgn_edge_mid(e)->id);
  EXPECT_TRUE(is_permutation_from(all, 11));
  EXPECT_LE(mgn_run.profile_new, mgn_run.profile_old);
  // Written from the end of the order array, the nodes come in ascending
  // numbers.
  ASSERT_EQ(long(mgn_mesh.order.size()), n);
  for (long k = 0; k < n; ++k) EXPECT_EQ(mgn_mesh.order[n - 1 - k]->id, 11 + k);
  // Every midside node is numbered next to its edge: it follows the later
  // of its ends in the unreversed numbering, so it precedes the smaller end
  // number after the reversal.
  for (mgn_edge* e : edges_) {
    long low = std::min(e->n[0]->id, e->n[1]->id);
    EXPECT_LT(mgn_edge_mid(e)->id, low);
  }
}

}  // namespace

namespace {

// Irregular meshes: random points in a domain joined to every point closer
// than a radius, as the nodes and edges of an unstructured triangulation
// are.  The nodes are listed in the random order of their creation.
struct irregular_case {
  const char* name;
  int count;
  double radius;
  bool (*inside)(double x, double y);
  double width;  // the points are drawn in [0, width] x [0, 1]
};

edge_list random_geometric_graph(const irregular_case& c, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<std::pair<double, double>> points;
  while (static_cast<int>(points.size()) < c.count) {
    const double x = c.width * unit(random), y = unit(random);
    if (c.inside(x, y)) points.push_back({x, y});
  }
  edge_list edges;
  for (int a = 0; a < c.count; ++a)
    for (int b = a + 1; b < c.count; ++b) {
      const double dx = points[a].first - points[b].first, dy = points[a].second - points[b].second;
      if (dx * dx + dy * dy < c.radius * c.radius) edges.push_back({a, b});
    }
  return edges;
}

class IrregularRenumbering : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = mgn_set; }
  void TearDown() override {
    mgn_reset_mesh_store();
    mgn_set = saved_;
  }
  mgn_settings saved_;
};

TEST_F(IrregularRenumbering, ProfileIsNeverAboveTheNaturalOneNorWorseThanReverseCuthillMcKee) {
  const irregular_case cases[] = {
      {"square", 600, 0.07, [](double, double) { return true; }, 1.0},
      {"L-shape", 500, 0.08, [](double x, double y) { return x < 0.5 || y < 0.5; }, 1.0},
      {"strip with a hole", 700, 0.09,
       [](double x, double y) { return (x - 2.0) * (x - 2.0) + (y - 0.5) * (y - 0.5) > 0.09; }, 4.0},
      {"sparse, several components", 300, 0.05, [](double, double) { return true; }, 1.0},
  };
  for (const irregular_case& c : cases) {
    for (unsigned seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(testing::Message() << c.name << " seed " << seed);
      mgn_reset_mesh_store();
      mgn_create_mesh_store(0);
      mgn_set.numbering_shift = {0, 0};
      mgn_set.renumbering_type = 1;
      mgn_set.output_spec = 0;
      mgn_set.element_degree = 1;
      const edge_list edges = random_geometric_graph(c, seed);
      std::vector<mgn_node*> nodes;
      for (int i = 0; i < c.count; ++i) {
        const double xyz[3] = {double(i), 0.0, 0.0};
        nodes.push_back(mgn_create_node(xyz, nullptr, MGN_REGION, nullptr, &mgn_mesh.fe_nodes));
      }
      for (auto [a, b] : edges) mgn_create_edge(nodes[a], nodes[b], MGN_CURVE, nullptr, &mgn_mesh.fe_edges);
      ::testing::internal::CaptureStdout();
      mgn_renumber_mesh();
      ::testing::internal::GetCapturedStdout();
      std::vector<long> ours;
      for (mgn_node* node : nodes) ours.push_back(node->id);
      ASSERT_TRUE(is_permutation_from(ours, 1));
      EXPECT_DOUBLE_EQ(mgn_run.profile_new, profile_of(c.count, edges, ours));
      EXPECT_LE(mgn_run.profile_new, mgn_run.profile_old);
      const double reference = profile_of(c.count, edges, reverse_cuthill_mckee(c.count, edges));
      EXPECT_LE(mgn_run.profile_new, 1.05 * reference)
          << "reference " << reference << ", natural " << mgn_run.profile_old;
    }
  }
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Through the program: every element refers to a written node
// ---------------------------------------------------------------------------

// Nodes are written because an element uses them, whatever the output
// requests of the entity that owns them: the nodes of curves with OUTPUT NO
// (and of their vertex) under the triangles of an output surface, and the
// nodes of slave and master curves, which a complete run enters with the
// master and slave pass, in the partial mesh of a run that fails before it.
struct written_nodes_case {
  const char* name;
  const char* model;
  std::vector<std::string> options;
  int status;
  long node_shift;
};

void PrintTo(const written_nodes_case& c, std::ostream* os) { *os << c.name; }

class WrittenNodesProgramTest : public ::testing::TestWithParam<written_nodes_case> {};

double triangle_area(const mgn_mesh_file& m, const std::vector<long>& t, long shift) {
  const double* a = m.nodes[t[0] - shift - 1].xyz;
  const double* b = m.nodes[t[1] - shift - 1].xyz;
  const double* c = m.nodes[t[2] - shift - 1].xyz;
  const double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
  const double v[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

TEST_P(WrittenNodesProgramTest, EveryElementNodeIsWritten) {
  const written_nodes_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  std::vector<std::string> args = {"-i", std::string(MGN_TEST_MODELS) + "/" + c.model, "-o", "mesh.msh"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const mgn_run_result r = mgn_run_program(args, dir);
  ASSERT_EQ(r.status, c.status) << r.err;
  const mgn_mesh_file m = mgn_parse_mesh_file(mgn_read_file(dir + "/mesh.msh"));
  ASSERT_EQ(mgn_check_mesh_file(m, c.node_shift), "");
  // The node of each element lies where the element is: node numbers
  // that fell on other nodes put triangles across the square and edges off
  // their curves.
  const auto& edges = m.sections[0];
  const auto& trias = m.sections[1];
  auto node = [&](long number) { return m.nodes[number - c.node_shift - 1]; };
  if (c.status == 0) {
    double area = 0.0;
    for (const auto& t : trias) area += triangle_area(m, t.nodes, c.node_shift);
    EXPECT_NEAR(area, 100.0, 1e-9);
    for (const auto& e : edges) EXPECT_TRUE(e.entity == 3 || e.entity == 4) << "edge of curve " << e.entity;
    long on_silent_curves = 0;
    for (const auto& n : m.nodes) on_silent_curves += n.key == 2 && (n.entity == 1 || n.entity == 2);
    EXPECT_EQ(on_silent_curves, 2 * (c.options[1] == "2" ? 4 : 0) + (m.degree == 2 ? 10 : 0));
  } else {
    // Curves 20 (slave) and 21 (master) lie on y = 0 from x = 20 to 30 and
    // from 40 to 50, in edges of length 0.5.
    long written[2] = {0, 0};
    for (const auto& e : edges) {
      if (e.entity != 20 && e.entity != 21) continue;
      ++written[e.entity - 20];
      const double low = e.entity == 20 ? 20.0 : 40.0;
      for (long n : e.nodes) {
        EXPECT_EQ(node(n).xyz[1], 0.0) << "curve " << e.entity;
        EXPECT_GE(node(n).xyz[0], low);
        EXPECT_LE(node(n).xyz[0], low + 10.0);
      }
      EXPECT_NEAR(std::fabs(node(e.nodes[1]).xyz[0] - node(e.nodes[0]).xyz[0]), 0.5, 1e-9);
    }
    EXPECT_EQ(written[0], 20);
    EXPECT_EQ(written[1], 20);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, WrittenNodesProgramTest,
    ::testing::Values(written_nodes_case{"OutputNoSides", "square_sides_output_no.mgn", {"-u", "2"}, 0, 0},
                      written_nodes_case{"OutputNoSidesShifted", "square_sides_output_no.mgn", {"-u", "2", "-f", "10", "0"}, 0, 10},
                      written_nodes_case{"OutputNoSidesRenumbered", "square_sides_output_no.mgn", {"-u", "2", "-r", "1"}, 0, 0},
                      written_nodes_case{"OutputNoSidesQuadratic", "square_sides_output_no.mgn", {"-u", "2", "-k", "2"}, 0, 0},
                      written_nodes_case{"OutputNoSidesQuadraticRenumbered", "square_sides_output_no.mgn",
                                         {"-u", "2", "-k", "2", "-r", "1", "-f", "7", "3"}, 0, 7},
                      written_nodes_case{"PartialMeshWithSlaveAndMasterCurves", "square_beside_slave_curve.mgn",
                                         {"-u", "0.5"}, 10, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
