// Construction of the octree from the model: model box, size propagation
// and the refinement from vertices, curves and surfaces.  Models are built
// as records in the test process, or read from model texts for surfaces.
#include "octree1.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bezier.h"
#include "geom.h"
#include "list.h"
#include "message.h"
#include "octree.h"
#include "model_fixture.h"
#include "octree_check.h"
#include "support.h"

namespace {

class Octree1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    release_model();
    mgn_set = mgn_settings{};
    mgn_tol = mgn_tolerances{};
    mgn_warning_count = 0;
  }
  void TearDown() override { release_model(); }

  // A new record owned by the test.
  template <typename T>
  T* make() {
    auto record = std::make_shared<T>();
    records_.push_back(record);
    return record.get();
  }

  // Empties the model lists and frees the records of the test.
  void release_model() {
    for (mgn_region* region : mgn_list_range<mgn_region>(mgn_model.regions.list)) {
      mgn_destroy_list(region->inner_surfaces);
    }
    for (mgn_list* list : {&mgn_model.vertices.list, &mgn_model.curves.list,
                           &mgn_model.surfaces.list, &mgn_model.regions.list,
                           &mgn_model.patches.list, &mgn_model.shells.list}) {
      mgn_destroy_list(*list);
    }
    mgn_model = mgn_model_store{};
    records_.clear();
  }

  // A vertex at (x, y, z) whose control point carries size (the vertex size
  // is the control point size times the factor, as the reader stores it).
  mgn_vertex* vertex(int id, double x, double y, double z, float size = 0.0f,
                     float factor = 1.0f) {
    auto* v = make<mgn_vertex>();
    v->id = id;
    v->ctrl_point = make<mgn_ctrl_point>();
    v->ctrl_point->xyz[0] = x;
    v->ctrl_point->xyz[1] = y;
    v->ctrl_point->xyz[2] = z;
    v->ctrl_point->size = size;
    v->xyz = v->ctrl_point->xyz;
    v->factor = factor;
    v->size = size * factor;
    mgn_add_item_to_tail(mgn_model.vertices.list, v);
    return v;
  }

  // A straight curve (order 2) between two vertices, without density.
  mgn_curve* line(int id, mgn_vertex* a, mgn_vertex* b, float size = 0.0f) {
    auto* c = make<mgn_curve>();
    c->id = id;
    c->vertex[0] = a;
    c->vertex[1] = b;
    c->size = size;
    c->density = 0.0f;
    mgn_create_curve_ctrl_polygon(c);
    mgn_check_curve_straightness(c);
    mgn_add_item_to_tail(mgn_model.curves.list, c);
    return c;
  }

  // A quarter circle of radius r in the plane z = 0 around the origin, from
  // (r, 0, 0) to (0, r, 0): order 3 with the middle point at the corner of
  // the square and weight cos 45 degrees.
  mgn_curve* quarter_circle(int id, double r, float rate) {
    mgn_vertex* a = vertex(id * 10 + 1, r, 0, 0);
    mgn_vertex* b = vertex(id * 10 + 2, 0, r, 0);
    auto* c = make<mgn_curve>();
    c->id = id;
    c->order = 3;
    c->shape_order = 3;
    c->vertex[0] = a;
    c->vertex[1] = b;
    c->rate = rate;
    c->density = 0.0f;
    mgn_create_curve_ctrl_polygon(c);
    mgn_ctrl_point* middle = c->polygon[0][1];
    middle->xyz[0] = r;
    middle->xyz[1] = r;
    middle->xyz[2] = 0;
    middle->w = std::cos(M_PI / 4);
    mgn_check_curve_straightness(c);
    mgn_add_item_to_tail(mgn_model.curves.list, c);
    return c;
  }

 private:
  std::vector<std::shared_ptr<void>> records_;
};

double query(const double p[3]) {
  mgn_octant* hint = nullptr;
  return mgn_get_octree_mesh_size(&hint, p, true);
}

// The finished pieces of the sampling of a curve.
std::vector<mgn_curve_piece> pieces_of(const mgn_curve* curve) {
  std::vector<mgn_curve_piece> pieces;
  mgn_sample_curve_size(
      curve,
      [](const mgn_curve_piece& piece, void* data) {
        static_cast<std::vector<mgn_curve_piece>*>(data)->push_back(piece);
      },
      &pieces);
  return pieces;
}

// Chord of a piece.
double chord(const mgn_curve* curve, const mgn_curve_piece& piece) {
  double a[3];
  double b[3];
  mgn_get_curve_point(curve, piece.t0, a);
  mgn_get_curve_point(curve, piece.t1, b);
  return std::sqrt(mgn_get_point_square_distance(a, b));
}

// The pieces cover [0, 1] in order.
void expect_cover(const std::vector<mgn_curve_piece>& pieces) {
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces.front().t0, 0.0);
  EXPECT_EQ(pieces.back().t1, 1.0);
  for (std::size_t i = 1; i < pieces.size(); ++i) EXPECT_EQ(pieces[i].t0, pieces[i - 1].t1);
}

// Sizes queried at n + 1 points along a curve.
std::vector<double> sizes_along(const mgn_curve* curve, int n) {
  std::vector<double> sizes;
  for (int i = 0; i <= n; ++i) {
    double p[3];
    mgn_get_curve_point(curve, static_cast<double>(i) / n, p);
    sizes.push_back(query(p));
  }
  return sizes;
}

// --- model box --------------------------------------------------------------

TEST_F(Octree1Test, ModelBoxLeavesOutVirtualVerticesUnlessIncluded) {
  vertex(1, 0, 0, 0);
  vertex(2, 2, 1, 0);
  mgn_vertex* far = vertex(3, 100, 0, 0);
  far->is_virtual = true;
  mgn_measure_model();
  EXPECT_EQ(mgn_tree.model_max[0], 2.0);
  EXPECT_EQ(mgn_tree.model_size, 2.0);
  EXPECT_NEAR(mgn_tol.eps, 2e-14, 1e-27);
  mgn_set.include_virtual = true;
  mgn_measure_model();
  EXPECT_EQ(mgn_tree.model_max[0], 100.0);
  EXPECT_EQ(mgn_tree.model_size, 100.0);
}

TEST_F(Octree1Test, ModelBoxHoldsTheBulgeOfCurves) {
  // A parabola from (0, 0, 0) to (2, 0, 0) over the control point (1, 2, 0):
  // its highest point is y = 1, above both vertices and below the polygon.
  auto* c = make<mgn_curve>();
  c->id = 1;
  c->order = 3;
  c->shape_order = 3;
  c->vertex[0] = vertex(1, 0, 0, 0);
  c->vertex[1] = vertex(2, 2, 0, 0);
  c->density = 0.0f;
  mgn_create_curve_ctrl_polygon(c);
  c->polygon[0][1]->xyz[1] = 2.0;
  mgn_add_item_to_tail(mgn_model.curves.list, c);
  mgn_measure_model();
  EXPECT_NEAR(mgn_tree.model_max[1], 1.0, 1e-6);
  EXPECT_EQ(mgn_tree.model_max[0], 2.0);
  EXPECT_NEAR(mgn_tree.model_size, 2.0, 1e-12);
}

// --- size propagation -------------------------------------------------------

TEST_F(Octree1Test, SizesAreHandedDownWithTheSignConvention) {
  // Root of size 10 for the level checks.
  vertex(90, 0, 0, 0);
  vertex(91, 10, 10, 10);
  mgn_vertex* v0 = vertex(1, 0, 0, 0, 0.0f, 0.0f);  // factor 0, nothing own
  mgn_vertex* v1 = vertex(2, 1, 0, 0, 0.2f, 0.0f);  // factor 0: its size is 0
  v1->size = 0.2f;                                   // an own positive size
  mgn_vertex* v2 = vertex(3, 2, 0, 0, 0.7f);         // larger own size
  mgn_vertex* v3 = vertex(4, 3, 0, 0, 0.1f);         // smaller own size
  auto* surface = make<mgn_surface>();
  surface->id = 1;
  surface->size = 0.5f;
  mgn_add_item_to_tail(mgn_model.surfaces.list, surface);
  mgn_curve* c0 = line(1, v0, v1);  // factor 0: stores -0.5
  c0->factor = 0.0f;
  mgn_curve* c1 = line(2, v2, v3, 0.8f);  // larger: takes 0.5
  mgn_curve* c2 = line(3, v3, v0, 0.3f);  // smaller: keeps 0.3
  surface->curve[0] = c0;
  surface->curve[1] = c1;
  surface->curve[2] = c2;
  auto* region = make<mgn_region>();
  region->id = 1;
  region->size = 0.4f;
  mgn_add_item_to_tail(region->inner_surfaces, surface);
  mgn_add_item_to_tail(mgn_model.regions.list, region);

  mgn_measure_model();
  mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
  mgn_propagate_mesh_size();
  EXPECT_FLOAT_EQ(region->size, 0.4f);
  EXPECT_FLOAT_EQ(surface->size, 0.4f);  // 0.5 replaced by the region's 0.4
  EXPECT_FLOAT_EQ(c0->size, -0.4f);
  EXPECT_FLOAT_EQ(c1->size, 0.4f);
  EXPECT_FLOAT_EQ(c2->size, 0.3f);
  // Curve 1 (factor 0, received 0.4) hands 0.4 on to v0 and v1; curve 3
  // hands 0.3 to v0 (factor 0: the smallest received) and v3.
  EXPECT_FLOAT_EQ(v0->size, -0.3f);
  EXPECT_FLOAT_EQ(v1->size, -0.4f);  // own 0.2 replaced by the received one
  EXPECT_FLOAT_EQ(v2->size, 0.4f);
  EXPECT_FLOAT_EQ(v3->size, 0.1f);
  // Entities without any size get 2 R.
  EXPECT_EQ(mgn_tree.root_size, 10.0);
  for (const mgn_vertex* v : mgn_list_range<mgn_vertex>(mgn_model.vertices.list)) {
    if (v->id >= 90) {
      EXPECT_FLOAT_EQ(v->size, 20.0f);
    }
  }
  EXPECT_EQ(mgn_warning_count, 0);
}

TEST_F(Octree1Test, FactorsArePushedFromSurfacesToCurvesToVertices) {
  mgn_vertex* a = vertex(1, 0, 0, 0, 2.0f, 1.0f);
  mgn_vertex* b = vertex(2, 1, 0, 0, 2.0f, 0.0f);
  mgn_vertex* c = vertex(3, 0, 1, 0, 2.0f, 0.25f);
  mgn_curve* ab = line(1, a, b);
  mgn_curve* bc = line(2, b, c);
  bc->factor = 0.0f;
  mgn_curve* ca = line(3, c, a);
  auto* surface = make<mgn_surface>();
  surface->id = 1;
  surface->factor = 0.5f;
  surface->curve[0] = ab;
  surface->curve[1] = bc;
  surface->curve[2] = ca;
  mgn_add_item_to_tail(mgn_model.surfaces.list, surface);
  mgn_measure_model();
  mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
  mgn_propagate_mesh_size();
  EXPECT_FLOAT_EQ(ab->factor, 0.5f);
  EXPECT_FLOAT_EQ(bc->factor, 0.0f);  // zero factors stay
  EXPECT_FLOAT_EQ(ca->factor, 0.5f);
  // Vertex a: factor 1 lowered to 0.5, size 2 rescaled to 1.
  EXPECT_FLOAT_EQ(a->factor, 0.5f);
  EXPECT_FLOAT_EQ(a->size, 1.0f);
  EXPECT_FLOAT_EQ(b->factor, 0.0f);
  EXPECT_FLOAT_EQ(c->factor, 0.25f);  // smaller factors stay
  EXPECT_FLOAT_EQ(c->size, 0.5f);
}

TEST_F(Octree1Test, DensityGivesTheCurveSize) {
  const struct {
    float own;
    float density;
    float factor;
    float expected;
  } cases[] = {
      {0.0f, 5.0f, 1.0f, 2.0f},   // length 10 / 5
      {3.0f, 5.0f, 1.0f, 2.0f},   // replaces a larger size
      {1.0f, 5.0f, 1.0f, 1.0f},   // a smaller size stays
      {0.0f, 0.0f, 1.0f, 40.0f},  // no density: 2 R
      {0.0f, 5.0f, 0.0f, 40.0f},  // factor 0: density ignored
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    SetUp();
    mgn_curve* curve = line(1, vertex(1, 0, 0, 0), vertex(2, 20, 0, 0), c.own);
    curve->density = c.density;
    curve->factor = c.factor;
    // A second curve of length 10 on top of the first one's start.
    mgn_curve* measured = line(2, vertex(3, 0, 0, 0), vertex(4, 10, 0, 0), c.own);
    measured->density = c.density;
    measured->factor = c.factor;
    mgn_measure_model();
    mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
    mgn_propagate_mesh_size();
    EXPECT_FLOAT_EQ(measured->size, c.expected);
  }
}

TEST_F(Octree1Test, TooFineEntitiesWarnAndGetTheFinestSize) {
  vertex(90, 0, 0, 0);
  vertex(91, 1, 1, 1);
  mgn_vertex* v = vertex(7, 0.5, 0.5, 0.5, 1e-20f);
  mgn_curve* c = line(8, vertex(92, 0, 0, 0), vertex(93, 1, 0, 0), 1e-20f);
  auto* surface = make<mgn_surface>();
  surface->id = 9;
  surface->size = 1e-20f;
  mgn_add_item_to_tail(mgn_model.surfaces.list, surface);
  auto* patch = make<mgn_patch>();
  patch->id = 10;
  patch->size = 1e-20f;
  mgn_add_item_to_tail(mgn_model.patches.list, patch);
  auto* shell = make<mgn_shell>();
  shell->id = 11;
  shell->size = 1e-20f;
  mgn_add_item_to_tail(mgn_model.shells.list, shell);
  auto* region = make<mgn_region>();
  region->id = 12;
  region->size = 1e-20f;
  mgn_add_item_to_tail(mgn_model.regions.list, region);
  mgn_measure_model();
  mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
  ASSERT_EQ(mgn_tree.max_depth, 43);
  ::testing::internal::CaptureStderr();
  mgn_propagate_mesh_size();
  const std::string err = ::testing::internal::GetCapturedStderr();
  const double finest = std::ldexp(1.0, -43);
  std::string expected;
  const struct {
    const char* where;
    const char* name;
    int id;
  } order[] = {{"in region", "Region", 12}, {"on shell", "Shell", 11},
               {"on patch", "Patch", 10},   {"on surface", "Surface", 9},
               {"on curve", "Curve", 8},    {"at vertex", "Vertex", 7}};
  for (const auto& o : order) {
    expected += mgn_format(
        "Warning: Too fine octree required %s %d\n"
        "         %s octree depth reduced to 43\n"
        "         %s octant size reduced to %e\n",
        o.where, o.id, o.name, o.name, finest);
  }
  EXPECT_EQ(err, expected);
  EXPECT_EQ(mgn_warning_count, 6);
  for (float size : {v->size, c->size, surface->size, patch->size, shell->size, region->size}) {
    EXPECT_FLOAT_EQ(size, static_cast<float>(finest * 1.05));
  }
}

TEST_F(Octree1Test, UniformSizeCapsTheEntitySizes) {
  mgn_set.uniform_size = 0.25;
  mgn_vertex* a = vertex(1, 0, 0, 0, 2.0f);
  mgn_vertex* b = vertex(2, 4, 0, 0);
  mgn_curve* c = line(1, a, b);
  mgn_measure_model();
  mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
  mgn_propagate_mesh_size();
  EXPECT_FLOAT_EQ(a->size, 0.25f);
  EXPECT_FLOAT_EQ(c->size, 0.25f);  // none: the uniform size
}

// --- refinement -------------------------------------------------------------

TEST_F(Octree1Test, StraightCurveOfConstantSizeGetsThatSizeAlongIt) {
  for (double s : {0.5, 0.13, 0.031}) {
    SCOPED_TRACE(s);
    SetUp();
    const float size = static_cast<float>(s);
    mgn_curve* curve =
        line(1, vertex(1, 0.1, 0.2, 0.3, size), vertex(2, 7.3, 5.1, 2.9, size), size);
    mgn_build_octree();
    ASSERT_TRUE(octree_invariants_hold());
    // Equal pieces, split until the chord is at most K s, and no further.
    const std::vector<mgn_curve_piece> pieces = pieces_of(curve);
    expect_cover(pieces);
    for (const mgn_curve_piece& piece : pieces) {
      const double length = chord(curve, piece);
      EXPECT_LE(length, MGN_CHORD_RATIO * size);
      EXPECT_GT(length, MGN_CHORD_RATIO * size / 2);
      EXPECT_FLOAT_EQ(piece.size, size);
      // Each piece's midpoint refined the octree to the level of s and got
      // s at the corners of its octant.
      mgn_octant* leaf = mgn_locate_leaf_octant(mgn_tree.root, piece.p);
      EXPECT_GE(leaf->size, size / 0.85);
      EXPECT_LT(leaf->size, 2 * size / 0.85);
      EXPECT_NEAR(query(piece.p), size, size * 1e-6);
    }
    // Along the whole curve the size is s, up to the octants that the curve
    // only crosses near an edge (their far corners keep a larger value).
    for (double along : sizes_along(curve, 400)) {
      EXPECT_GE(along, size * (1 - 1e-6));
      EXPECT_LE(along, size * 1.01);
    }
    EXPECT_EQ(mgn_warning_count, 0);
  }
}

TEST_F(Octree1Test, CurvePiecesFitTheirSizes) {
  // Control point sizes growing along the curve: the octree follows them.
  mgn_vertex* a = vertex(1, 0, 0, 0, 0.05f);
  mgn_vertex* b = vertex(2, 10, 0, 0, 0.8f);
  mgn_curve* curve = line(1, a, b, 1.0f);
  mgn_build_octree();
  ASSERT_TRUE(octree_invariants_hold());
  for (int i = 0; i <= 100; ++i) {
    const double t = i / 100.0;
    double p[3];
    mgn_get_curve_point(curve, t, p);
    const double wanted = 0.05 + t * (0.8 - 0.05);
    // Never coarser than wanted over the piece around the point (pieces may
    // reach K times the size at their middle), nor far finer.
    const double size = query(p);
    EXPECT_LE(size, wanted * 1.0001 + 0.75 * MGN_CHORD_RATIO * wanted) << t;
    EXPECT_GE(size, wanted / 4) << t;
  }
}

TEST_F(Octree1Test, CircleArcIsRefinedByItsCurvature) {
  const double radius = 4.0;
  for (float rate : {0.5f, 0.2f, 0.05f}) {
    SCOPED_TRACE(rate);
    SetUp();
    mgn_curve* arc = quarter_circle(1, radius, rate);
    ASSERT_FALSE(arc->straight);
    mgn_build_octree();
    ASSERT_TRUE(octree_invariants_hold());
    const double wanted = rate * radius;
    const std::vector<mgn_curve_piece> pieces = pieces_of(arc);
    expect_cover(pieces);
    for (const mgn_curve_piece& piece : pieces) {
      EXPECT_LE(chord(arc, piece), MGN_CHORD_RATIO * wanted * (1 + 1e-9));
      EXPECT_NEAR(piece.size, wanted, wanted * 1e-9);
      EXPECT_NEAR(query(piece.p), wanted, wanted * 1e-6);
    }
    for (double size : sizes_along(arc, 400)) {
      EXPECT_LE(size, wanted * 1.01);
      EXPECT_GE(size, wanted / 2);
    }
  }
  // Without a rate the arc gets nothing finer than the root's corners.
  SetUp();
  quarter_circle(1, radius, 0.0f);
  mgn_build_octree();
  EXPECT_EQ(mgn_tree.octant_count, 1);
}

TEST_F(Octree1Test, VertexOfFactorZeroRefinesOnlyWithAReceivedSize) {
  // Alone, a factor-0 vertex with its own size does not refine.
  mgn_vertex* v = vertex(1, 1, 1, 1, 0.0f, 0.0f);
  v->size = 0.01f;
  vertex(2, 0, 0, 0);
  vertex(3, 8, 8, 8);
  mgn_build_octree();
  EXPECT_EQ(mgn_tree.octant_count, 1);
  ASSERT_TRUE(octree_invariants_hold());

  // A curve of size 1 ending at it hands its size down: the vertex refines
  // with 1 (not its own 0.01).
  SetUp();
  v = vertex(1, 1, 1, 1, 0.0f, 0.0f);
  v->size = 0.01f;
  vertex(3, 8, 8, 8);
  mgn_curve* c = line(1, v, vertex(2, 0, 0, 0), 1.0f);
  c->factor = 1.0f;
  mgn_measure_model();
  mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
  mgn_propagate_mesh_size();
  EXPECT_FLOAT_EQ(v->size, -1.0f);
  mgn_build_octree_vertex(v);
  EXPECT_GT(mgn_tree.octant_count, 1);
  EXPECT_NEAR(query(v->xyz), 1.0, 1e-6);
  ASSERT_TRUE(octree_invariants_hold());
}

TEST_F(Octree1Test, VirtualVertexOutsideTheRootIsPulledIn) {
  vertex(1, 0, 0, 0, 2.0f);
  vertex(2, 4, 4, 4, 2.0f);
  mgn_vertex* outside = vertex(3, 4.5, 2, 2, 0.1f);
  outside->is_virtual = true;
  mgn_build_octree();
  ASSERT_TRUE(octree_invariants_hold());
  // Moved by 0.5 to the root face x = 4: the size there is 0.1 + 0.5 x 0.85 / 2.
  const double moved[3] = {4.0, 2.0, 2.0};
  EXPECT_NEAR(query(moved), 0.1 + 0.85 * 0.25, 1e-6);
  EXPECT_EQ(mgn_warning_count, 0);
}

}  // namespace

// --- surface sampling (models read from texts) ---------------------------------
namespace {

class SurfaceSampling : public ::testing::Test {
 protected:
  void SetUp() override { mgn_reset_model_settings(); }
  void TearDown() override { mgn_release_model(); }

  static void read_model_file(const std::string& name) {
    mgn_release_model();
    mgn_set.input_file_name = std::string(MGN_TEST_MODELS) + "/" + name;
    mgn_build_model_from_file();
  }
};

std::vector<mgn_surface_piece> pieces_of(const mgn_surface* surface) {
  std::vector<mgn_surface_piece> pieces;
  mgn_sample_surface_size(
      surface,
      [](const mgn_surface_piece& piece, void* data) {
        static_cast<std::vector<mgn_surface_piece>*>(data)->push_back(piece);
      },
      &pieces);
  return pieces;
}

double distance(const mgn_surface* s, double u0, double v0, double u1, double v1) {
  double a[3];
  double b[3];
  mgn_get_surface_point(s, u0, v0, a);
  mgn_get_surface_point(s, u1, v1, b);
  return std::sqrt(mgn_get_point_square_distance(a, b));
}

// The two chords of a piece through its centre, in u and in v.
double chord_u(const mgn_surface* s, const mgn_surface_piece& p) {
  const double um = 0.5 * (p.u0 + p.u1), vm = 0.5 * (p.v0 + p.v1);
  return distance(s, p.u0, vm, um, vm) + distance(s, um, vm, p.u1, vm);
}
double chord_v(const mgn_surface* s, const mgn_surface_piece& p) {
  const double um = 0.5 * (p.u0 + p.u1), vm = 0.5 * (p.v0 + p.v1);
  return distance(s, um, p.v0, um, vm) + distance(s, um, vm, um, p.v1);
}

double area_of(const std::vector<mgn_surface_piece>& pieces) {
  double area = 0.0;
  for (const mgn_surface_piece& p : pieces) area += (p.u1 - p.u0) * (p.v1 - p.v0);
  return area;
}

TEST_F(SurfaceSampling, CurvatureRateOnTheSphereOctant) {
  // Radius 2, no size finer than 10: the curvature asks for rate x R, and
  // every finished rectangle has chords of at most K x rate x R.
  const double radius = 2.0;
  for (double rate : {0.3, 0.1}) {
    SCOPED_TRACE(rate);
    mgn_reset_model_settings();
    mgn_set.default_size = 10.0;
    mgn_set.curvature_rate = rate;
    read_model_file("sphere_octant.mgn");
    mgn_build_octree();
    ASSERT_TRUE(octree_invariants_hold());
    const mgn_surface* s = mgn_find_surface(1);
    const double wanted = rate * radius;
    const std::vector<mgn_surface_piece> pieces = pieces_of(s);
    ASSERT_FALSE(pieces.empty());
    EXPECT_NEAR(area_of(pieces), 1.0, 1e-12);
    for (const mgn_surface_piece& p : pieces) {
      EXPECT_NEAR(p.size, wanted, wanted * 1e-6);
      EXPECT_LE(chord_u(s, p), MGN_CHORD_RATIO * wanted * (1 + 1e-9));
      EXPECT_LE(chord_v(s, p), MGN_CHORD_RATIO * wanted * (1 + 1e-9));
      EXPECT_NEAR(query(p.p), wanted, wanted * 1e-6);
    }
    // Everywhere on the surface the octree gives about rate x R.
    for (int i = 0; i <= 20; ++i)
      for (int j = 0; j <= 20; ++j) {
        double p[3];
        mgn_get_surface_point(s, i / 20.0, j / 20.0, p);
        const double size = query(p);
        EXPECT_LE(size, wanted * 1.01);
        EXPECT_GE(size, wanted / 2);
      }
    EXPECT_EQ(mgn_warning_count, 0);
  }
}

TEST_F(SurfaceSampling, UniformSizeOnTheSquare) {
  for (double size : {2.0, 0.7}) {
    SCOPED_TRACE(size);
    mgn_reset_model_settings();
    mgn_set.default_size = size;
    read_model_file("square.mgn");
    mgn_build_octree();
    ASSERT_TRUE(octree_invariants_hold());
    const mgn_surface* s = mgn_find_surface(1);
    const std::vector<mgn_surface_piece> pieces = pieces_of(s);
    EXPECT_NEAR(area_of(pieces), 1.0, 1e-12);
    for (const mgn_surface_piece& p : pieces) {
      EXPECT_NEAR(p.size, size, size * 1e-6);
      EXPECT_LE(chord_u(s, p), MGN_CHORD_RATIO * size);
      EXPECT_LE(chord_v(s, p), MGN_CHORD_RATIO * size);
      // Not split further than needed.
      EXPECT_GT(std::max(chord_u(s, p), chord_v(s, p)), MGN_CHORD_RATIO * size / 2);
    }
    for (int i = 0; i <= 20; ++i)
      for (int j = 0; j <= 20; ++j) {
        const double p[3] = {i * 0.5, j * 0.5, 0.0};
        EXPECT_NEAR(query(p), size, size * 1e-6);
      }
  }
}

TEST_F(SurfaceSampling, HolesAreSkipped) {
  // The square of size 0.5 with a surface on [0.2, 0.8]^2 fixed to it: as a
  // hole it is not sampled, and the parent skips it; as a plain child it is
  // sampled like the rest.
  const std::string model = mgn_square_model +
                            "surface 1 curve 1 2 3 4\n"
                            "vertex 11 fixed surface 1 uv 0.2 0.2\n"
                            "vertex 12 fixed surface 1 uv 0.8 0.2\n"
                            "vertex 13 fixed surface 1 uv 0.8 0.8\n"
                            "vertex 14 fixed surface 1 uv 0.2 0.8\n"
                            "curve 11 vertex 11 12 fixed surface 1\n"
                            "curve 12 vertex 11 14 fixed surface 1\n"
                            "curve 13 vertex 14 13 fixed surface 1\n"
                            "curve 14 vertex 12 13 fixed surface 1\n";
  const double centre[3] = {5.0, 5.0, 0.0};
  for (bool hole : {true, false}) {
    SCOPED_TRACE(hole);
    mgn_reset_model_settings();
    mgn_set.default_size = 0.5;
    mgn_read_model_text(model + "surface 2 curve 11 12 13 14 fixed surface 1" + (hole ? " hole\n" : "\n"));
    mgn_build_octree();
    ASSERT_TRUE(octree_invariants_hold());
    const std::vector<mgn_surface_piece> pieces = pieces_of(mgn_find_surface(1));
    const std::vector<mgn_surface_piece> inside = pieces_of(mgn_find_surface(2));
    if (hole) {
      EXPECT_TRUE(inside.empty());
      for (const mgn_surface_piece& p : pieces) {
        const double um = 0.5 * (p.u0 + p.u1), vm = 0.5 * (p.v0 + p.v1);
        EXPECT_FALSE(um > 0.2 && um < 0.8 && vm > 0.2 && vm < 0.8) << um << " " << vm;
      }
      // Away from the curves around the hole the tree is not refined to
      // the level of the size (leaves of 0.5 / 0.85 to twice that).
      EXPECT_GE(mgn_locate_leaf_octant(mgn_tree.root, centre)->size, 2 * 0.5 / 0.85);
      EXPECT_GT(query(centre), 2 * 0.5);
    } else {
      EXPECT_NEAR(area_of(pieces), 1.0, 1e-12);
      EXPECT_NEAR(area_of(inside), 1.0, 1e-12);
      EXPECT_NEAR(query(centre), 0.5, 1e-6);
      EXPECT_LT(mgn_locate_leaf_octant(mgn_tree.root, centre)->size, 2 * 0.5 / 0.85);
    }
  }
}

TEST_F(SurfaceSampling, CollapsedSideWithVaryingCurvatureIsSampledCloser) {
  // The sphere octant stretched to x / 4, y / 2, z / 2: across the pole the
  // curvature is 1/8 in the plane y = 0 and 1/2 in the plane x = 0, so the
  // rectangles at the pole are divided across it to the deepest level.  On
  // the sphere it is the same everywhere and the pole is sampled as usual.
  const std::string ellipsoid =
      "vertex 1 xyz 4 0 0\nvertex 2 xyz 0 2 0\nvertex 3 xyz 0 0 2\n"
      "curve 1 vertex 1 2 order 3\npolygon 1 xyz 4 2 0 weight 0.70710678118654752\n"
      "curve 2 vertex 1 3 order 3\npolygon 1 xyz 4 0 2 weight 0.70710678118654752\n"
      "curve 4 vertex 2 3 order 3\npolygon 1 xyz 0 2 2 weight 0.70710678118654752\n"
      "curve 3 vertex 3 3 order 3\npolygon 1 xyz 0 0 2 weight 0.70710678118654752\n"
      "surface 1 curve 1 2 3 4\npolygon 1 1 xyz 4 2 2 weight 0.5\n";
  mgn_set.curvature_rate = 0.3;
  mgn_read_model_text(ellipsoid);
  mgn_build_octree();
  ASSERT_TRUE(octree_invariants_hold());
  const mgn_surface* s = mgn_find_surface(1);
  EXPECT_EQ(mgn_check_surface_collapsed_side(s, 2), 1);
  EXPECT_EQ(mgn_check_surface_collapsed_side(s, 0), 0);  // not collapsed
  double tallest = 0.0;
  for (const mgn_surface_piece& p : pieces_of(s))
    if (p.v1 == 1.0) tallest = std::max(tallest, p.v1 - p.v0);
  EXPECT_LE(tallest, std::ldexp(1.0, 1 - MGN_COLLAPSED_SIDE_DEPTH));

  mgn_reset_model_settings();
  mgn_set.curvature_rate = 0.3;
  read_model_file("sphere_octant.mgn");
  mgn_build_octree();
  s = mgn_find_surface(1);
  EXPECT_EQ(mgn_check_surface_collapsed_side(s, 2), 0);
  tallest = 0.0;
  for (const mgn_surface_piece& p : pieces_of(s))
    if (p.v1 == 1.0) tallest = std::max(tallest, p.v1 - p.v0);
  EXPECT_GE(tallest, 1.0 / 64);
}

}  // namespace

namespace {

TEST_F(SurfaceSampling, ControlPointsWithoutSizeLeaveTheSizeBetweenTheGivenOnes) {
  // Sides with unsized control points make the blended net hold negative
  // sizes inside; the surface size field passes over them, so the sampling
  // ends (it used to refine without end toward the line where the field
  // crossed zero) with pieces no finer than the smallest positive size of
  // the net and no coarser than the surface's own size (25).
  mgn_set.default_size = 0.0;
  read_model_file("unsized_polygon_square.mgn");
  const mgn_surface* s = mgn_find_surface(1);
  bool negative_inside = false;
  double smallest = 25.0;
  for (const mgn_ctrl_point* q : s->net) {
    negative_inside = negative_inside || q->size < 0.0f;
    if (q->size > 0.0f) smallest = std::min(smallest, static_cast<double>(q->size));
  }
  ASSERT_TRUE(negative_inside);
  ASSERT_GT(smallest, 1.0);
  mgn_build_octree();
  ASSERT_TRUE(octree_invariants_hold());
  const std::vector<mgn_surface_piece> pieces = pieces_of(s);
  EXPECT_NEAR(area_of(pieces), 1.0, 1e-12);
  EXPECT_LT(pieces.size(), 5000u);
  for (const mgn_surface_piece& p : pieces) {
    EXPECT_GE(p.size, smallest * (1 - 1e-6));
    EXPECT_LE(p.size, 25.0 * (1 + 1e-6));
  }
}

}  // namespace

namespace {

TEST_F(SurfaceSampling, CurvatureOfFoldedAndPinchedSurfacesIsFollowedOnlySoFar) {
  // A fold (derivatives turning parallel along a line) and a pinch (one
  // derivative nearly vanishing at a point) make the curvature grow without
  // bound; the sampling used to refine toward them without end.  It now
  // ends, and no piece asks for less than the curvature floor.
  struct Case {
    const char* file;
    double uniform;
  };
  for (const Case& c : {Case{"folded_surface.mgn", 5.4}, Case{"pinched_surface.mgn", 0.0}}) {
    SCOPED_TRACE(c.file);
    mgn_reset_model_settings();
    mgn_set.uniform_size = c.uniform;
    mgn_set.default_size = c.uniform;
    read_model_file(c.file);
    // The root and the sizes only: the sampling is what is measured here.
    mgn_measure_model();
    mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
    mgn_propagate_mesh_size();
    const std::vector<mgn_surface_piece> pieces = pieces_of(mgn_find_surface(1));
    EXPECT_NEAR(area_of(pieces), 1.0, 1e-9);
    EXPECT_LT(pieces.size(), 400000u);
    for (const mgn_surface_piece& p : pieces)
      ASSERT_GE(p.size, MGN_CURVATURE_SIZE_FLOOR * mgn_tree.root_size * (1 - 1e-9));
  }
}

TEST_F(SurfaceSampling, CurvatureOfANearCuspCurveIsFollowedOnlySoFar) {
  // The curve leaves its first vertex with a weight of 1e-9: a near cusp
  // whose curvature asked for pieces of 1e-13.  No piece asks for less than
  // the curvature floor now; the curve's own size still applies elsewhere.
  read_model_file("near_cusp_curve.mgn");
  mgn_measure_model();
  mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
  mgn_propagate_mesh_size();
  const std::vector<mgn_curve_piece> pieces = pieces_of(mgn_find_curve(1));
  ASSERT_FALSE(pieces.empty());
  double smallest = 1.0;
  for (const mgn_curve_piece& p : pieces) smallest = std::min(smallest, p.size);
  EXPECT_GE(smallest, MGN_CURVATURE_SIZE_FLOOR * mgn_tree.root_size * (1 - 1e-9));
  EXPECT_LT(smallest, 1e-3);  // the near cusp is still refined toward the floor
}

TEST_F(SurfaceSampling, CurveFixedOnASurfaceFollowsOnlyTheSizesItsNetCarries) {
  // Curve 8 lies on the square and takes its control points from the
  // square's net, where blended inner points carry negative sizes; blended
  // with them its size passed through zero and the sampling asked for
  // pieces down to a few millionths (the mesh then held triangles too small
  // for the quality report).  Over its sized points alone it stays between
  // their smallest and largest sizes.
  mgn_set.default_size = 0.0;  // as in a run without -d
  read_model_file("hole_in_sized_square.mgn");
  const mgn_curve* curve = mgn_find_curve(8);
  double given_min = HUGE_VAL, given_max = 0.0;
  bool negative = false;
  for (const mgn_ctrl_point* q : curve->polygon[0]) {
    negative = negative || q->size < 0.0f;
    if (q->size > 0.0f) {
      given_min = std::min(given_min, static_cast<double>(q->size));
      given_max = std::max(given_max, static_cast<double>(q->size));
    }
  }
  ASSERT_TRUE(negative) << "the fixture no longer has negative sizes on curve 8";
  mgn_measure_model();
  mgn_create_root_octant(mgn_tree.model_min, mgn_tree.model_max);
  mgn_propagate_mesh_size();
  const std::vector<mgn_curve_piece> pieces = pieces_of(curve);
  ASSERT_FALSE(pieces.empty());
  for (const mgn_curve_piece& p : pieces) ASSERT_GE(p.size, 0.85 * given_min);
}

// ---------------------------------------------------------------------------
// Through the program: size fields that cannot be built, bounded warnings
// ---------------------------------------------------------------------------

// The warnings of standard error, each with its continuation lines.
std::vector<std::string> warning_blocks(const std::string& err) {
  std::vector<std::string> blocks;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Warning: ", 0) == 0)
      blocks.push_back(line);
    else if (line.rfind("         ", 0) == 0 && !blocks.empty())
      blocks.back() += "\n" + line;
  }
  return blocks;
}

// A size finer than the deepest octree level at every piece of a sampling
// gives the point warning once per entity, and the mesh is the one of the
// finest level: far from the origin the finest octant is 1.25 and the
// vertices ask for 0.5 (the program printed 1 warning per piece, 320 with
// a surface on these curves).
TEST(OctreeProgram, TooFineSizesWarnOncePerEntity) {
  const std::string dir = mgn_temp_dir();
  const mgn_run_result r =
      mgn_run_program({"-i", std::string(MGN_TEST_MODELS) + "/far_square_fine_sizes.mgn", "-o", "mesh.msh"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> blocks = warning_blocks(r.err);
  std::map<std::string, int> seen;
  for (const std::string& b : blocks) EXPECT_EQ(++seen[b], 1) << "repeated:\n" << b;
  long at_point = 0, at_vertex = 0;
  for (const std::string& b : blocks) {
    at_point += b.rfind("Warning: Too fine octree required at point [", 0) == 0;
    at_vertex += b.rfind("Warning: Too fine octree required at vertex ", 0) == 0;
  }
  // One for each curve (their first points print alike only for curves 1
  // and 2, which start at the same vertex: 3 or 4 in all).
  EXPECT_GE(at_point, 3);
  EXPECT_LE(at_point, 4);
  EXPECT_EQ(at_vertex, 4);
  EXPECT_NE(r.err.find(mgn_format("Altogether %ld warnings have been generated\n", at_point + 4)), std::string::npos)
      << r.err;
  const mgn_mesh_file m = mgn_parse_mesh_file(mgn_read_file(dir + "/mesh.msh"));
  EXPECT_EQ(mgn_check_mesh_file(m), "");
  // Edges of the finest level (about 0.53 long), not of the 1.3 of the
  // vertices' reduced size: more than 60 on the four sides of 10.
  EXPECT_GT(m.counts[1], 60);
}

// Size fields that cannot be built end at once with the message of what
// cannot be done (status 10), however long their sampling would have run:
// a size field needing more samples than 32-bit counts hold (a surface
// whose parameter lines run down a spike 2.5e19 deep, a square of side 10
// at sizes of 1e-12 or 1e-7, three curves that only together need too many)
// and a root octant beyond the single-precision range of mesh sizes.
struct unbuildable_case {
  const char* name;
  std::string model;  // a file of the test models, or the text of one
  std::vector<std::string> options;
  const char* message;  // regular expression
};

void PrintTo(const unbuildable_case& c, std::ostream* os) { *os << c.name; }

class UnbuildableSizeFieldTest : public ::testing::TestWithParam<unbuildable_case> {};

TEST_P(UnbuildableSizeFieldTest, RunEndsWithAMessage) {
  const unbuildable_case& c = GetParam();
  const std::string dir = mgn_temp_dir();
  std::string model = c.model;
  if (model.find('\n') != std::string::npos) {
    mgn_write_file(dir + "/model.mgn", model);
    model = "model.mgn";
  } else {
    model = std::string(MGN_TEST_MODELS) + "/" + model;
  }
  std::vector<std::string> args = {"-i", model, "-o", "mesh.msh", "-g", "run.log"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const mgn_run_result r = mgn_run_program(args, dir);
  EXPECT_EQ(r.status, 10);
  const std::string log = mgn_read_file(dir + "/run.log");
  EXPECT_TRUE(std::regex_search(log, std::regex("--> Manipulation error\n\\(routine mgn_[a-z_]+, file src/octree1?, line "
                                                "[0-9]+\\)\n" + std::string(c.message) + "\n\n")))
      << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
  // The log stays small: no warning repeated.
  EXPECT_LT(log.size(), 20000u);
  std::map<std::string, int> seen;
  for (const std::string& b : warning_blocks(log)) EXPECT_EQ(++seen[b], 1) << "repeated:\n" << b;
  // Nothing was meshed: no partial mesh.
  EXPECT_TRUE(mgn_read_file(dir + "/mesh.msh").empty());
}

const std::string kThreeLines =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 10 10 0\nvertex 4 xyz 0 10 0\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 2 3\ncurve 3 vertex 3 4\n";

// The spike of spiked_square.mgn 1e308 deep: the model box itself is beyond
// the range of single-precision sizes.
const std::string kFarSpike =
    "vertex 1 xyz 0 0 0\nvertex 2 xyz 10 0 0\nvertex 3 xyz 10 10 0\nvertex 4 xyz 0 10 0\n"
    "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n"
    "surface 1 curve 1 2 3 4 order 3 3\npolygon 1 1 xyz 5 5 -1e308\n";

INSTANTIATE_TEST_SUITE_P(
    Models, UnbuildableSizeFieldTest,
    ::testing::Values(
        unbuildable_case{"SpikedSurface", "spiked_square.mgn", {"-u", "1"},
                         "Too fine mesh required on surface 1: its size field needs about [0-9.]+e\\+2[0-9] samples "
                         "\\(at most 2147483647\\)"},
        unbuildable_case{"FarSpike", kFarSpike, {"-u", "1"},
                         "Root octant size 1\\.000000e\\+308 exceeds the range of mesh sizes \\(8\\.507059e\\+37\\)"},
        unbuildable_case{"TinyUniformSize", "square.mgn", {"-u", "1e-12"},
                         "Too fine mesh required on curve 1: its size field needs about [0-9.]+e\\+12 samples "
                         "\\(at most 2147483647\\)"},
        unbuildable_case{"SurfaceCheckedBeforeCurvesAreSampled", "square.mgn", {"-u", "1e-7"},
                         "Too fine mesh required on surface 1: its size field needs about [0-9.]+e\\+15 samples "
                         "\\(at most 2147483647\\)"},
        unbuildable_case{"CurvesTogether", kThreeLines, {"-u", "7e-9"},
                         "Too fine mesh required: the size field needs about [0-9.]+e\\+09 samples "
                         "\\(at most 2147483647\\)"},
        unbuildable_case{"HugeRootSize", "square.mgn", {"-u", "1", "-R", "1e300"},
                         "Root octant size 1\\.000000e\\+300 exceeds the range of mesh sizes \\(8\\.507059e\\+37\\)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
