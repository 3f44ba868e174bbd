// Mesh quality: element measures, the evaluation of every element of the
// mesh, and the quality report.
#include "quality.h"

#include <algorithm>
#include <cmath>

#include "element.h"
#include "list.h"
#include "message.h"
#include "progress.h"
#include "vec3.h"


namespace {

constexpr double kDegrees = 180.0 / MGN_PI;

// Limits and texts of one element kind.  Labels fill 18 columns.
struct kind_info {
  const char* quality_label;
  const char* angle_label;
  const char* valency_label;
  const char* name;  // in "worst ... quality"
  double upper, lower;  // quality class limits
  double small_angle, large_angle;  // angle class limits, radians
  double small_degrees, large_degrees;
  int angles;  // angles per element
  int valency_low, valency_high;  // last values of the first and the second class
  int valency_top;  // highest valency counted value by value
};

const kind_info tria_info{"Trias quality:", "Trias angles:", "Trias valency:", "tria", 0.866, 0.577,
                          0.523598775, 1.570796327, 30.0, 90.0, 3, 4, 7, 15};
const kind_info quad_info{"Quads quality:", "Quads angles:", "Quads valency:", "quad", 0.8, 0.5,
                          0.785398163, 2.356194490, 45.0, 135.0, 4, 2, 5, 10};
const kind_info map_info{"Map quads quality:", "Map quads angles:", "", "quad", 0.666, 0.5,
                         0.785398163, 2.356194490, 45.0, 135.0, 4, 0, 0, 0};
const kind_info tetra_info{"Tetras quality:", "Tetras angles:", "Tetras valency:", "tetra", 0.75, 0.5,
                           0.610865238, 1.832595715, 35.0, 105.0, 6, 6, 16, 30};
const kind_info pyram_info{"Pyrams quality:", "", "", "pyram", 0.75, 0.5, 0.0, 0.0, 0.0, 0.0, 0, 0, 0, 0};

bool bit(int mask) { return (mgn_set.quality_report & mask) != 0; }

// Angle between two vectors of known lengths.
double angle_between(const mgn_vec3& a, double la, const mgn_vec3& b, double lb) {
  return std::acos(std::clamp(mgn_dot(a, b) / (la * lb), -1.0, 1.0));
}

// ---------------------------------------------------------------------------
// Accumulation
// ---------------------------------------------------------------------------

void add_quality(mgn_quality_acc& acc, double q, const kind_info& kind) {
  acc.sum += q;
  acc.sum_inverse += 1.0 / q;
  acc.worst = std::min(acc.worst, q);
  acc.best = std::max(acc.best, q);
  // A quality a little above 1 (round-off, warped quads) stays in the top bin.
  const int b = static_cast<int>(0.999999 * q * MGN_QUALITY_BINS);
  ++acc.bins[std::clamp(b, 0, MGN_QUALITY_BINS - 1)];
  ++acc.classes[q < kind.lower ? 2 : q < kind.upper ? 1 : 0];
}

void add_angle(mgn_quality_acc& acc, double angle, const kind_info& kind) {
  acc.angle_sum += angle;
  acc.min_angle = std::min(acc.min_angle, angle);
  acc.max_angle = std::max(acc.max_angle, angle);
  ++acc.angle_classes[angle < kind.small_angle ? 0 : angle > kind.large_angle ? 2 : 1];
  const int b = static_cast<int>((angle * kDegrees - 5.0) / 170.0 * MGN_ANGLE_BINS);
  ++acc.angle_bins[std::clamp(b, 0, MGN_ANGLE_BINS - 1)];
}

void add_valency(mgn_quality_acc& acc, int valency, const kind_info& kind) {
  ++acc.nodes;
  acc.valency_sum += valency;
  acc.min_valency = std::min(acc.min_valency, valency);
  acc.max_valency = std::max(acc.max_valency, valency);
  ++acc.valency_classes[valency <= kind.valency_low ? 0 : valency <= kind.valency_high ? 1 : 2];
  if (valency <= kind.valency_top) ++acc.valency_values[valency];
}

// One element with its quality (when measured) and angles, into the global
// and the entity statistics.
void add_element(mgn_quality_acc& global, mgn_quality_acc* entity, const kind_info& kind, bool quality,
                 double q, const double* angles, int angle_count) {
  for (mgn_quality_acc* acc : {&global, entity}) {
    if (acc == nullptr) continue;
    ++acc->count;
    if (quality) add_quality(*acc, q, kind);
    for (int i = 0; i < angle_count; ++i) add_angle(*acc, angles[i], kind);
  }
}

// Number of edges at the node whose kind is accepted.
template <typename Accept>
int count_node_edges(const mgn_node* node, Accept accept) {
  int count = 0;
  for (const mgn_edge* edge : mgn_node_edges(node)) {
    if (edge != nullptr && accept(edge->kind)) ++count;
  }
  return count;
}

bool surface_kind(int kind) { return kind == MGN_SURFACE || kind == MGN_PATCH || kind == MGN_SHELL; }

// A quad on a planar entity cannot be warped (its corner normals are
// parallel up to round-off): the warp factor is skipped there.
bool quad_on_planar_entity(const mgn_quad* quad) {
  if (quad->entity == nullptr) return false;
  switch (quad->kind) {
    case MGN_PATCH: return true;
    case MGN_SURFACE: return static_cast<const mgn_surface*>(quad->entity)->planar;
    case MGN_SHELL: {
      const mgn_surface* bg = static_cast<const mgn_shell*>(quad->entity)->bg_surface;
      return bg != nullptr && bg->planar;
    }
    default: return false;
  }
}

// ---------------------------------------------------------------------------
// Walks over the records of one entity
// ---------------------------------------------------------------------------

// The per-entity listings hold references.  Once collected, an entity's
// chain of blocks is linked inside the global finite-element listing, so
// the walk takes the blocks around the entity's block that hold the
// entity's records, and only those records.

bool block_used(const mgn_listing* block) {
  return block->base != nullptr && block->next_free != block->base;
}

const char* block_end(const mgn_listing* block) {
  return block->next_free != nullptr ? block->next_free : block->last + block->size;
}

template <typename T, typename Owner>
bool block_owned(const mgn_listing* block, const void* owner, Owner owner_of) {
  for (const char* slot = block->base; slot != block_end(block); slot += block->size) {
    const T* record = *reinterpret_cast<T* const*>(slot);
    if (record != nullptr && owner_of(record) == owner) return true;
  }
  return false;
}

// Calls visit(record) for every live record (identifier above 0) of the
// entity's listing owned by the entity; returns the number visited.
template <typename T, typename Owner, typename Visit>
long walk_entity_records(mgn_listing* block, const void* owner, Owner owner_of, Visit visit) {
  if (block == nullptr) return 0;
  mgn_listing* first = block;
  for (mgn_listing* b = block->prev; b != nullptr; b = b->prev) {
    if (!block_used(b)) continue;
    if (!block_owned<T>(b, owner, owner_of)) break;
    first = b;
  }
  mgn_listing* last = block;
  for (mgn_listing* b = block->next; b != nullptr; b = b->next) {
    if (!block_used(b)) continue;
    if (!block_owned<T>(b, owner, owner_of)) break;
    last = b;
  }
  long visited = 0;
  for (mgn_listing* b = first;; b = b->next) {
    if (block_used(b)) {
      for (const char* slot = b->base; slot != block_end(b); slot += b->size) {
        T* record = *reinterpret_cast<T* const*>(slot);
        if (record == nullptr || record->id <= 0 || owner_of(record) != owner) continue;
        visit(record);
        ++visited;
      }
    }
    if (b == last) break;
  }
  return visited;
}

// ---------------------------------------------------------------------------
// Per-entity lines
// ---------------------------------------------------------------------------

bool poor_quality(const mgn_quality_acc& acc) { return acc.classes[2] > 0; }
bool poor_angles(const mgn_quality_acc& acc) { return acc.angle_classes[0] + acc.angle_classes[2] > 0; }
bool poor_valency(const mgn_quality_acc& acc) { return acc.valency_classes[0] + acc.valency_classes[2] > 0; }

// Marker of a per-entity line: "M" for the quads of a mapped mesh, "*" when
// the line counts elements (or angles, nodes) outside the good classes.
const char* marker(bool mapped, bool poor) {
  if (mapped) return poor ? "M*" : "M";
  return poor ? "*" : "";
}

double mean(const mgn_quality_acc& acc) { return acc.sum / static_cast<double>(acc.count); }
double harmonic(const mgn_quality_acc& acc) { return static_cast<double>(acc.count) / acc.sum_inverse; }
double mean_valency(const mgn_quality_acc& acc) {
  return static_cast<double>(acc.valency_sum) / static_cast<double>(acc.nodes);
}

void print_entity_quality(const char* label, long id, const char* mark, const char* what,
                          const mgn_quality_acc& acc) {
  mgn_print(stderr, "  %-8s%5ld: %2s %s quality: %6ld %6ld %6ld   (%5.3f %5.3f %5.3f)\n", label, id, mark,
            what, acc.classes[0], acc.classes[1], acc.classes[2], mean(acc), harmonic(acc), acc.worst);
}

void print_face_entity_lines(const char* label, long id, bool mapped, const mgn_quality_acc& tria,
                             const mgn_quality_acc& quad) {
  if (bit(MGN_QUALITY_ELEMENT) && tria.count > 0)
    print_entity_quality(label, id, marker(false, poor_quality(tria)), "tria", tria);
  if (bit(MGN_QUALITY_ANGLE) && tria.count > 0)
    mgn_print(stderr, "  %-8s%5ld: %2s tria  angles: %6ld %6ld %6ld   (%5.1f %5.1f)\n", label, id,
              marker(false, poor_angles(tria)), tria.angle_classes[0], tria.angle_classes[1],
              tria.angle_classes[2], tria.min_angle * kDegrees, tria.max_angle * kDegrees);
  if (bit(MGN_QUALITY_ELEMENT) && quad.count > 0)
    print_entity_quality(label, id, marker(mapped, poor_quality(quad)), "quad", quad);
  if (bit(MGN_QUALITY_ANGLE) && quad.count > 0)
    mgn_print(stderr, "  %-8s%5ld: %2s quad  angles: %6ld %6ld %6ld   (%5.1f %5.1f)\n", label, id,
              marker(mapped, poor_angles(quad)), quad.angle_classes[0], quad.angle_classes[1],
              quad.angle_classes[2], quad.min_angle * kDegrees, quad.max_angle * kDegrees);
  if (bit(MGN_QUALITY_VALENCY) && tria.nodes > 0)
    mgn_print(stderr, "  %-8s%5ld: %2s tria valency: %6ld %6ld %6ld   (%5.3f %5d %5d)\n", label, id,
              marker(false, poor_valency(tria)), tria.valency_classes[0], tria.valency_classes[1],
              tria.valency_classes[2], mean_valency(tria), tria.min_valency, tria.max_valency);
  if (bit(MGN_QUALITY_VALENCY) && quad.nodes > 0)
    mgn_print(stderr, "  %-8s%5ld: %2s quad valency: %6ld %6ld %6ld   (%5.3f %5d %5d)\n", label, id,
              marker(false, poor_valency(quad)), quad.valency_classes[0], quad.valency_classes[1],
              quad.valency_classes[2], mean_valency(quad), quad.min_valency, quad.max_valency);
}

void print_region_lines(long id, const mgn_quality_acc& tetra, const mgn_quality_acc& pyram) {
  if (bit(MGN_QUALITY_ELEMENT) && tetra.count > 0)
    mgn_print(stderr, "  Region  %5ld: %1s tetra quality: %6ld %6ld %6ld   (%5.3f %5.3f %5.3f)\n", id,
              marker(false, poor_quality(tetra)), tetra.classes[0], tetra.classes[1], tetra.classes[2],
              mean(tetra), harmonic(tetra), tetra.worst);
  if (bit(MGN_QUALITY_ANGLE) && tetra.count > 0)
    mgn_print(stderr, "  Region  %5ld: %1s tetra  angles: %6ld %6ld %6ld   (%5.1f %5.1f %5.1f)\n", id,
              marker(false, poor_angles(tetra)), tetra.angle_classes[0], tetra.angle_classes[1],
              tetra.angle_classes[2], tetra.min_angle * kDegrees,
              tetra.angle_sum / static_cast<double>(tetra.count * tetra_info.angles) * kDegrees,
              tetra.max_angle * kDegrees);
  if (bit(MGN_QUALITY_ELEMENT) && pyram.count > 0)
    mgn_print(stderr, "  Region  %5ld: %1s pyram quality: %6ld %6ld %6ld   (%5.3f %5.3f %5.3f)\n", id,
              marker(false, poor_quality(pyram)), pyram.classes[0], pyram.classes[1], pyram.classes[2],
              mean(pyram), harmonic(pyram), pyram.worst);
  if (bit(MGN_QUALITY_VALENCY) && tetra.nodes > 0)
    mgn_print(stderr, "  Region  %5ld: %1s tetra valency: %6ld %6ld %6ld   (%5.2f %5d %5d)\n", id,
              marker(false, poor_valency(tetra)), tetra.valency_classes[0], tetra.valency_classes[1],
              tetra.valency_classes[2], mean_valency(tetra), tetra.min_valency, tetra.max_valency);
}

// ---------------------------------------------------------------------------
// Evaluation of one entity
// ---------------------------------------------------------------------------

// Whether an entity takes part: never virtual or hole entities; entities
// whose elements are not output only with bit 64.
template <typename E>
bool entity_selected(const E* entity) {
  if (entity->id <= 0 || entity->is_virtual || entity->hole) return false;
  return entity->output || bit(MGN_QUALITY_ALL_ENTITIES);
}

// A surface, patch or shell: its triangles, its quads (mapped quads when it
// requests mapping) and the valency of its own nodes.
template <typename E>
void evaluate_face_entity(E* entity, const char* label, const char* kind_word) {
  if (!entity_selected(entity)) return;
  mgn_quality_acc tria;
  mgn_quality_acc quad;
  const bool mapped = entity->map;
  auto face_owner = [](const mgn_face* face) -> const void* { return face->entity; };
  auto quad_owner = [](const mgn_quad* quad) -> const void* { return quad->entity; };
  auto node_owner = [](const mgn_node* node) -> const void* { return node->entity; };
  long elements = walk_entity_records<mgn_face>(entity->mesh.faces, entity, face_owner,
                                                [&](mgn_face* face) { mgn_report_face(face, &tria); });
  elements += walk_entity_records<mgn_quad>(entity->mesh.quads, entity, quad_owner, [&](mgn_quad* q) {
    if (mapped)
      mgn_report_quad_map(q, &quad);
    else
      mgn_report_quad(q, &quad);
  });
  if (elements == 0) {
    mgn_warning("Warning: Quality evaluation on %s %ld skipped\n", kind_word, static_cast<long>(entity->id));
    return;
  }
  // Valency of the nodes the entity owns; mapped meshes are regular by
  // construction and have none.
  if (bit(MGN_QUALITY_VALENCY) && !mapped) {
    const bool quads = quad.count > 0;
    walk_entity_records<mgn_node>(entity->mesh.nodes, entity, node_owner, [&](mgn_node* node) {
      if (node->flags & MGN_NODE_MIDSIDE) return;
      if (quads)
        mgn_report_quad_node(node, &quad);
      else
        mgn_report_face_node(node, &tria);
    });
  }
  if (bit(MGN_QUALITY_PER_ENTITY)) print_face_entity_lines(label, entity->id, mapped, tria, quad);
}

void evaluate_region(mgn_region* region) {
  if (!entity_selected(region)) return;
  mgn_quality_acc tetra;
  mgn_quality_acc pyram;
  auto tetra_owner = [](const mgn_tetra* t) -> const void* { return t->region; };
  auto pyram_owner = [](const mgn_pyram* p) -> const void* { return p->region; };
  auto node_owner = [](const mgn_node* node) -> const void* { return node->entity; };
  walk_entity_records<mgn_tetra>(region->mesh.tetras, region, tetra_owner,
                                 [&](mgn_tetra* t) {
                                   mgn_report_tetra(t, &tetra);
                                   mgn_progress_tick();
                                 });
  walk_entity_records<mgn_pyram>(region->mesh.pyrams, region, pyram_owner,
                                 [&](mgn_pyram* p) { mgn_report_pyram(p, &pyram); });
  if (bit(MGN_QUALITY_VALENCY) && tetra.count > 0) {
    walk_entity_records<mgn_node>(region->mesh.nodes, region, node_owner, [&](mgn_node* node) {
      if (!(node->flags & MGN_NODE_MIDSIDE)) mgn_report_tetra_node(node, &tetra);
    });
  }
  if (bit(MGN_QUALITY_PER_ENTITY)) print_region_lines(region->id, tetra, pyram);
}

// ---------------------------------------------------------------------------
// Global summary
// ---------------------------------------------------------------------------

// Prints the bins [0, count) of a distribution: a run of two or more empty
// bins at the start and the run of empty bins at the end become one line
// each; bin i spans [origin + i width, origin + (i + 1) width].
template <std::size_t N>
void print_distribution(const std::array<long, N>& bins, double origin, double width, double total,
                        bool angles) {
  auto line = [&](long count, std::size_t from, std::size_t to) {
    const double low = origin + static_cast<double>(from) * width;
    const double high = origin + static_cast<double>(to + 1) * width;
    const double percent = static_cast<double>(count) * 100.0 / total;
    if (angles)
      mgn_print(stdout, "                  %6ld : (%5.1f - %5.1f) %6.2f %%\n", count, low, high, percent);
    else
      mgn_print(stdout, "                  %6ld : (%5.3f - %5.3f) %6.2f %%\n", count, low, high, percent);
  };
  std::size_t first = 0;
  while (first < N && bins[first] == 0) ++first;
  if (first == N) {
    line(0, 0, N - 1);
    return;
  }
  std::size_t last = N - 1;
  while (bins[last] == 0) --last;
  std::size_t i = 0;
  if (first >= 2) {
    line(0, 0, first - 1);
    i = first;
  }
  for (; i <= last; ++i) line(bins[i], i, i);
  if (last < N - 1) line(0, last + 1, N - 1);
}

void print_quality_section(const mgn_quality_acc& acc, const kind_info& kind) {
  const double n = static_cast<double>(acc.count);
  mgn_print(stdout, "%-18s%6ld : (%5.3f - %5.3f) %6.2f %%\n", kind.quality_label, acc.classes[0], 1.0, kind.upper,
            static_cast<double>(acc.classes[0]) * 100.0 / n);
  mgn_print(stdout, "                  %6ld : (%5.3f - %5.3f) %6.2f %%\n", acc.classes[1], kind.upper, kind.lower,
            static_cast<double>(acc.classes[1]) * 100.0 / n);
  mgn_print(stdout, "                  %6ld : (%5.3f - %5.3f) %6.2f %%\n", acc.classes[2], kind.lower, 0.0,
            static_cast<double>(acc.classes[2]) * 100.0 / n);
  mgn_print(stdout, "                 %7.5f - arithmetic mean quality\n", mean(acc));
  mgn_print(stdout, "                 %7.5f - harmonic mean quality\n", harmonic(acc));
  if (acc.worst >= 0.0001)
    mgn_print(stdout, "                 %7.5f - worst %s quality\n", acc.worst, kind.name);
  else
    mgn_print(stdout, "                 %7.1e - worst %s quality\n", acc.worst, kind.name);
  if (bit(MGN_QUALITY_DISTRIBUTION)) {
    mgn_print(stdout, "\n");
    print_distribution(acc.bins, 0.0, 1.0 / MGN_QUALITY_BINS, n, false);
  }
  mgn_print(stdout, "\n");
}

void print_angle_section(const mgn_quality_acc& acc, const kind_info& kind, bool dihedral) {
  const double total = static_cast<double>(acc.count) * kind.angles;
  mgn_print(stdout, "%-18s%6ld : (%5.1f - %5.1f) %6.2f %%\n", kind.angle_label, acc.angle_classes[0], 0.0,
            kind.small_degrees, static_cast<double>(acc.angle_classes[0]) * 100.0 / total);
  mgn_print(stdout, "                  %6ld : (%5.1f - %5.1f) %6.2f %%\n", acc.angle_classes[1],
            kind.small_degrees, kind.large_degrees, static_cast<double>(acc.angle_classes[1]) * 100.0 / total);
  mgn_print(stdout, "                  %6ld : (%5.1f - %5.1f) %6.2f %%\n", acc.angle_classes[2],
            kind.large_degrees, 180.0, static_cast<double>(acc.angle_classes[2]) * 100.0 / total);
  if (dihedral) {
    mgn_print(stdout, "                 %7.3f - average dihedral angle\n", acc.angle_sum / total * kDegrees);
    mgn_print(stdout, "                 %7.3f - minimum dihedral angle\n", acc.min_angle * kDegrees);
  } else {
    mgn_print(stdout, "                 %7.3f - minimum dihedral angle\n", acc.min_angle * kDegrees);
    mgn_print(stdout, "                 %7.3f - maximum dihedral angle\n", acc.max_angle * kDegrees);
  }
  if (bit(MGN_QUALITY_DISTRIBUTION)) {
    mgn_print(stdout, "\n");
    print_distribution(acc.angle_bins, 5.0, 10.0, total, true);
  }
  mgn_print(stdout, "\n");
}

void print_valency_section(const mgn_quality_acc& acc, const kind_info& kind) {
  const double n = static_cast<double>(acc.nodes);
  mgn_print(stdout, "%-18s%6ld : (%5d - %5d) %6.2f %%\n", kind.valency_label, acc.valency_classes[0], 0,
            kind.valency_low, static_cast<double>(acc.valency_classes[0]) * 100.0 / n);
  mgn_print(stdout, "                  %6ld : (%5d - %5d) %6.2f %%\n", acc.valency_classes[1], kind.valency_low + 1,
            kind.valency_high, static_cast<double>(acc.valency_classes[1]) * 100.0 / n);
  mgn_print(stdout, "                  %6ld : (%5d - %5d) %6.2f %%\n", acc.valency_classes[2],
            kind.valency_high + 1, 1000, static_cast<double>(acc.valency_classes[2]) * 100.0 / n);
  mgn_print(stdout, "                  %6.3f - average valency\n", mean_valency(acc));
  mgn_print(stdout, "                  %6d - minimum valency\n", acc.min_valency);
  mgn_print(stdout, "                  %6d - maximum valency\n", acc.max_valency);
  if (bit(MGN_QUALITY_DISTRIBUTION)) {
    mgn_print(stdout, "\n");
    const int top = std::min(acc.max_valency, kind.valency_top);
    for (int v = acc.min_valency; v <= top; ++v)
      mgn_print(stdout, "                  %6ld :  %5d          %6.2f %%\n", acc.valency_values[v], v,
                static_cast<double>(acc.valency_values[v]) * 100.0 / n);
  }
  mgn_print(stdout, "\n");
}

}  // namespace

// ---------------------------------------------------------------------------
// Measures
// ---------------------------------------------------------------------------

double mgn_get_triangle_quality(const double* a, const double* b, const double* c) {
  const mgn_vec3 ab = mgn_sub(b, a);
  const mgn_vec3 bc = mgn_sub(c, b);
  const mgn_vec3 ca = mgn_sub(a, c);
  const double area = 0.5 * mgn_norm(mgn_cross(ab, mgn_sub(c, a)));
  if (area <= mgn_tol.user_eps2) return 0.0;
  return 6.92820323 * area / (mgn_dot(ab, ab) + mgn_dot(bc, bc) + mgn_dot(ca, ca));
}

void mgn_get_triangle_angles(const double* a, const double* b, const double* c, double angles[3]) {
  const double* p[3] = {a, b, c};
  mgn_vec3 edge[3];  // edge i from p[i] to p[i + 1]
  double length[3];
  for (int i = 0; i < 3; ++i) {
    edge[i] = mgn_sub(p[(i + 1) % 3], p[i]);
    length[i] = mgn_norm(edge[i]);
  }
  if (length[0] <= mgn_tol.user_eps || length[1] <= mgn_tol.user_eps || length[2] <= mgn_tol.user_eps) {
    angles[0] = angles[1] = angles[2] = 0.0;
    return;
  }
  for (int i = 0; i < 3; ++i) {
    const int previous = (i + 2) % 3;  // the edge arriving at p[i]
    angles[i] = angle_between(edge[i], length[i], mgn_scale(edge[previous], -1.0), length[previous]);
  }
}

double mgn_get_quad_quality(const double* const p[4], bool warp) {
  mgn_vec3 normal[4];
  double normal_length[4];
  double q = 256.0;
  for (int i = 0; i < 4; ++i) {
    const double* next = p[(i + 1) % 4];
    const double* prev = p[(i + 3) % 4];
    const mgn_vec3 a = mgn_sub(next, p[i]);
    const mgn_vec3 b = mgn_sub(prev, p[i]);
    const mgn_vec3 d = mgn_sub(next, prev);
    normal[i] = mgn_cross(a, b);
    normal_length[i] = mgn_norm(normal[i]);
    const double denominator = mgn_dot(a, a) + mgn_dot(b, b) + mgn_dot(d, d);
    if (normal_length[i] <= 0.0 || denominator <= 0.0) return 0.0;
    q *= normal_length[i] / denominator;
  }
  const double c13 = mgn_dot(normal[0], normal[2]) / (normal_length[0] * normal_length[2]);
  const double c24 = mgn_dot(normal[1], normal[3]) / (normal_length[1] * normal_length[3]);
  if (c13 < 0.0 || c24 < 0.0) return -1.0;
  if (warp) q *= c13 * c24;
  return q;
}

double mgn_get_quad_angle_quality(const double* const p[4], double angles[4]) {
  mgn_vec3 edge[4];  // edge i from p[i] to p[i + 1]
  double length[4];
  bool short_edge = false;
  for (int i = 0; i < 4; ++i) {
    edge[i] = mgn_sub(p[(i + 1) % 4], p[i]);
    length[i] = mgn_norm(edge[i]);
    if (length[i] <= mgn_tol.user_eps) short_edge = true;
  }
  if (short_edge) {
    std::fill(angles, angles + 4, 0.0);
    return 0.0;
  }
  double sum = 0.0;
  double smallest = MGN_PI;
  double largest = 0.0;
  for (int i = 0; i < 4; ++i) {
    const int previous = (i + 3) % 4;
    angles[i] = angle_between(edge[i], length[i], mgn_scale(edge[previous], -1.0), length[previous]);
    sum += angles[i];
    smallest = std::min(smallest, angles[i]);
    largest = std::max(largest, angles[i]);
  }
  if (sum <= 5.969026041820607) return 0.0;
  return 1.0 - std::max(0.5 * MGN_PI - smallest, largest - 0.5 * MGN_PI) / (0.5 * MGN_PI);
}

double mgn_get_pyram_quality(const double* const p[5]) {
  // At base corner k the edges e1 (to the next corner), e2 (to the previous
  // one) and e3 (to the apex) map the ideal corner (1,0,0), (0,1,0),
  // (1/2, 1/2, 1/sqrt 2) onto the pyramid by T = [e1, e2, sqrt 2 (e3 - (e1 +
  // e2) / 2)]; the mean ratio 3 det(T)^(2/3) / |T|^2 is 1 exactly when T is
  // a scaled rotation.
  const double root2 = std::sqrt(2.0);
  double quality = 1.0;
  for (int k = 0; k < 4; ++k) {
    const mgn_vec3 e1 = mgn_sub(p[(k + 1) % 4], p[k]);
    const mgn_vec3 e2 = mgn_sub(p[(k + 3) % 4], p[k]);
    const mgn_vec3 e3 = mgn_sub(p[4], p[k]);
    const mgn_vec3 t3 = mgn_scale(mgn_sub(e3, mgn_scale(mgn_vec3{e1.x + e2.x, e1.y + e2.y, e1.z + e2.z}, 0.5)), root2);
    const double det = mgn_dot(mgn_cross(e1, e2), t3);
    if (det <= mgn_tol.eps3) return 0.0;
    const double frobenius = mgn_dot(e1, e1) + mgn_dot(e2, e2) + mgn_dot(t3, t3);
    quality = std::min(quality, 3.0 * std::cbrt(det * det) / frobenius);
  }
  return quality;
}

// ---------------------------------------------------------------------------
// Reporters
// ---------------------------------------------------------------------------

void mgn_clear_quality() { mgn_quality = mgn_quality_state{}; }

void mgn_report_face(mgn_face* face, mgn_quality_acc* entity) {
  const double* a = face->n[0]->xyz;
  const double* b = face->n[1]->xyz;
  const double* c = face->n[2]->xyz;
  const bool quality = bit(MGN_QUALITY_ELEMENT);
  double q = 0.0;
  if (quality) {
    q = mgn_get_triangle_quality(a, b, c);
    if (q <= 0.0) {
      if (!mgn_is_terminating()) mgn_note_partial_face(face);
      mgn_manipulation_error("Zero quality face detected", MGN_HERE);
    }
  }
  double angles[3];
  const int angle_count = bit(MGN_QUALITY_ANGLE) ? 3 : 0;
  if (angle_count > 0) mgn_get_triangle_angles(a, b, c, angles);
  add_element(mgn_quality.tria, entity, tria_info, quality, q, angles, angle_count);
}

void mgn_report_quad(mgn_quad* quad, mgn_quality_acc* entity) {
  const double* p[4] = {quad->n[0]->xyz, quad->n[1]->xyz, quad->n[2]->xyz, quad->n[3]->xyz};
  const bool quality = bit(MGN_QUALITY_ELEMENT);
  double q = 0.0;
  if (quality) {
    q = mgn_get_quad_quality(p, !quad_on_planar_entity(quad));
    if (q <= 0.0) {
      if (!mgn_is_terminating()) mgn_note_partial_quad(quad);
      mgn_manipulation_error("Zero quality quad detected", MGN_HERE);
    }
  }
  double angles[4];
  const int angle_count = bit(MGN_QUALITY_ANGLE) ? 4 : 0;
  if (angle_count > 0) mgn_get_quad_angle_quality(p, angles);
  add_element(mgn_quality.quad, entity, quad_info, quality, q, angles, angle_count);
}

void mgn_report_quad_map(mgn_quad* quad, mgn_quality_acc* entity) {
  const double* p[4] = {quad->n[0]->xyz, quad->n[1]->xyz, quad->n[2]->xyz, quad->n[3]->xyz};
  const bool quality = bit(MGN_QUALITY_ELEMENT);
  double angles[4];
  const double q = mgn_get_quad_angle_quality(p, angles);
  if (quality && q <= 0.0) {
    if (!mgn_is_terminating()) mgn_note_partial_quad(quad);
    mgn_manipulation_error("Zero quality quad detected", MGN_HERE);
  }
  add_element(mgn_quality.map_quad, entity, map_info, quality, q, angles, bit(MGN_QUALITY_ANGLE) ? 4 : 0);
}

void mgn_report_tetra(mgn_tetra* tetra, mgn_quality_acc* entity) {
  const bool quality = bit(MGN_QUALITY_ELEMENT);
  double q = 0.0;
  if (quality) {
    double volume = 0.0;
    q = mgn_get_tetra_boundary_quality(tetra, &volume);
    if (q <= 0.0) {
      if (!mgn_is_terminating()) mgn_note_partial_tetra(tetra);
      mgn_manipulation_error("Zero quality tetra detected", MGN_HERE);
    }
  }
  double angles[6];
  const int angle_count = bit(MGN_QUALITY_ANGLE) ? 6 : 0;
  if (angle_count > 0) {
    double smallest = 0.0, largest = 0.0;
    mgn_get_tetra_angle_quality(tetra, angles, &smallest, &largest);
  }
  add_element(mgn_quality.tetra, entity, tetra_info, quality, q, angles, angle_count);
}

void mgn_report_pyram(mgn_pyram* pyram, mgn_quality_acc* entity) {
  const bool quality = bit(MGN_QUALITY_ELEMENT);
  double q = 0.0;
  if (quality) {
    const double* p[5] = {pyram->n[0]->xyz, pyram->n[1]->xyz, pyram->n[2]->xyz, pyram->n[3]->xyz,
                          pyram->n[4]->xyz};
    q = mgn_get_pyram_quality(p);
    if (q <= 0.0) {
      if (!mgn_is_terminating()) mgn_note_partial_pyram(pyram);
      mgn_manipulation_error("Zero quality pyram detected", MGN_HERE);
    }
  }
  add_element(mgn_quality.pyram, entity, pyram_info, quality, q, nullptr, 0);
}

namespace {

// Valency of one node: its edges accepted by kind; a node without any is
// an inconsistent mesh, reported under the name of the calling reporter.
template <typename Accept>
void report_node_valency(mgn_node* node, mgn_quality_acc* entity, mgn_quality_acc& total, const kind_info& info,
                         Accept accept, const char* routine) {
  const int valency = count_node_edges(node, accept);
  if (valency == 0) {
    if (!mgn_is_terminating()) mgn_note_partial_node(node);
    mgn_manipulation_error("Unexpected situation", routine, mgn_module_name(__FILE__), __LINE__);
  }
  add_valency(total, valency, info);
  if (entity != nullptr) add_valency(*entity, valency, info);
}

}  // namespace

void mgn_report_face_node(mgn_node* node, mgn_quality_acc* entity) {
  report_node_valency(node, entity, mgn_quality.tria, tria_info, surface_kind, __func__);
}

void mgn_report_quad_node(mgn_node* node, mgn_quality_acc* entity) {
  report_node_valency(node, entity, mgn_quality.quad, quad_info, surface_kind, __func__);
}

void mgn_report_tetra_node(mgn_node* node, mgn_quality_acc* entity) {
  report_node_valency(node, entity, mgn_quality.tetra, tetra_info, [](int kind) { return kind == MGN_REGION; },
                      __func__);
}

// ---------------------------------------------------------------------------
// Evaluation and report
// ---------------------------------------------------------------------------

void mgn_evaluate_quality() {
  mgn_clear_quality();
  if (mgn_set.quality_report == 0) return;
  if (!bit(MGN_QUALITY_NO_FACES)) {
    for (mgn_surface* surface : mgn_list_range<mgn_surface>(mgn_model.surfaces.list))
      evaluate_face_entity(surface, "Surface", "surface");
    for (mgn_patch* patch : mgn_list_range<mgn_patch>(mgn_model.patches.list))
      evaluate_face_entity(patch, "Patch", "patch");
    for (mgn_shell* shell : mgn_list_range<mgn_shell>(mgn_model.shells.list))
      evaluate_face_entity(shell, "Shell", "shell");
  }
  if (!bit(MGN_QUALITY_NO_CELLS)) {
    for (mgn_region* region : mgn_list_range<mgn_region>(mgn_model.regions.list)) evaluate_region(region);
  }
}

void mgn_print_quality_report() {
  if (mgn_set.quality_report == 0) return;
  const bool quality = bit(MGN_QUALITY_ELEMENT);
  const bool angles = bit(MGN_QUALITY_ANGLE);
  const bool valency = bit(MGN_QUALITY_VALENCY);
  if (!bit(MGN_QUALITY_NO_FACES)) {
    const mgn_quality_acc& tria = mgn_quality.tria;
    const mgn_quality_acc& quad = mgn_quality.quad;
    const mgn_quality_acc& map = mgn_quality.map_quad;
    if (quality && tria.count > 0) print_quality_section(tria, tria_info);
    if (angles && tria.count > 0) print_angle_section(tria, tria_info, false);
    if (valency && tria.nodes > 0) print_valency_section(tria, tria_info);
    if (quality && quad.count > 0) print_quality_section(quad, quad_info);
    if (angles && quad.count > 0) print_angle_section(quad, quad_info, false);
    if (valency && quad.nodes > 0) print_valency_section(quad, quad_info);
    if (quality && map.count > 0) print_quality_section(map, map_info);
    if (angles && map.count > 0) print_angle_section(map, map_info, false);
  }
  if (!bit(MGN_QUALITY_NO_CELLS)) {
    const mgn_quality_acc& tetra = mgn_quality.tetra;
    const mgn_quality_acc& pyram = mgn_quality.pyram;
    if (quality && tetra.count > 0) print_quality_section(tetra, tetra_info);
    if (angles && tetra.count > 0) print_angle_section(tetra, tetra_info, true);
    if (valency && tetra.nodes > 0) print_valency_section(tetra, tetra_info);
    if (quality && pyram.count > 0) print_quality_section(pyram, pyram_info);
  }
}
