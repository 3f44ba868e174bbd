// Renumbering of the finite-element nodes (natural or Sloan's profile
// reduction) and of the elements.
#include "renum.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <queue>

#include "element.h"
#include "list.h"
#include "message.h"
#include "progress.h"

namespace {

// Calls f(record) for every valid record referenced by a finite-element
// listing.
template <typename T, typename F>
void for_each_fe(mgn_listing* listing, F&& f) {
  for (T** ref : mgn_listing_range<T*>(mgn_get_first_listing_block(listing))) {
    if (*ref != nullptr && (*ref)->id != 0) f(*ref);
  }
}

bool quadratic_mesh() { return mgn_set.element_degree == 2; }

// Sloan statuses.
enum : int8_t { INACTIVE = 0, PREACTIVE = 1, ACTIVE = 2, NUMBERED = 3 };

struct heap_entry {
  int64_t priority;
  int64_t seq;  // queue position: the earlier one wins on equal priority
  int node;
  bool operator<(const heap_entry& other) const {
    if (priority != other.priority) return priority < other.priority;
    return seq > other.seq;
  }
};

// Frees the array of a vector (clear keeps it).
template <typename T>
void give_back(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

// Rooted level structure: the nodes by level, breadth first.
struct level_structure {
  std::vector<int> nodes;
  std::vector<int> level_start;  // start of each level in nodes, plus the end
  int depth() const { return static_cast<int>(level_start.size()) - 1; }
  int width = 0;
};

// Work state of one renumbering.
struct sloan_state {
  const mgn_node_graph& g;
  std::vector<long> number;     // current number of each node (0: none)
  std::vector<int8_t> status;
  std::vector<int64_t> priority;
  std::vector<int> distance;
  std::vector<int> mark;        // visit stamps of the level structures
  int stamp = 0;
  std::vector<int> order;       // node of each number, from the first number given
  long first_number = 0;        // number of order[0]
  bool quadratic = false;
  int max_degree = 0;
  explicit sloan_state(const mgn_node_graph& graph) : g(graph) {}
};

// Builds the level structure of root; abandons it (returns false) as soon
// as a level reaches limit nodes.
bool build_levels(const mgn_node_graph& g, std::vector<int>& mark, int& stamp, int root, long limit,
                  level_structure& ls) {
  ++stamp;
  ls.nodes.clear();
  ls.level_start.clear();
  ls.width = 0;
  ls.nodes.push_back(root);
  mark[root] = stamp;
  std::size_t begin = 0;
  while (begin < ls.nodes.size()) {
    std::size_t end = ls.nodes.size();
    long size = static_cast<long>(end - begin);
    if (size >= limit) return false;
    ls.level_start.push_back(static_cast<int>(begin));
    ls.width = std::max(ls.width, static_cast<int>(size));
    for (std::size_t k = begin; k < end; ++k) {
      int i = ls.nodes[k];
      for (int a = g.start[i]; a < g.start[i + 1]; ++a) {
        int j = g.adj[a];
        if (mark[j] != stamp) {
          mark[j] = stamp;
          ls.nodes.push_back(j);
        }
      }
    }
    begin = end;
  }
  ls.level_start.push_back(static_cast<int>(ls.nodes.size()));
  return true;
}

// Shell sort by ascending degree, gaps halving from the power of two above
// the count.
void sort_by_degree(const mgn_node_graph& g, std::vector<int>& v) {
  std::size_t n = v.size();
  std::size_t gap = 1;
  while (gap <= n) gap *= 2;
  for (gap /= 2; gap > 0; gap /= 2) {
    for (std::size_t i = gap; i < n; ++i) {
      int x = v[i];
      std::size_t j = i;
      while (j >= gap && g.degree(v[j - gap]) > g.degree(x)) {
        v[j] = v[j - gap];
        j -= gap;
      }
      v[j] = x;
    }
  }
}

// Numbers the component of s with the weights (w2, w1), giving the numbers
// after counter; final: also number the midside nodes of a quadratic mesh.
// Returns the new counter.
long number_component(sloan_state& st, const std::vector<int>& component, int s, int e, int64_t w2,
                      int64_t w1, bool final_pass, long counter) {
  const mgn_node_graph& g = st.g;
  // Distances from the end node: level(e) = 1.
  ++st.stamp;
  std::vector<int> queue;
  queue.reserve(component.size());
  queue.push_back(e);
  st.mark[e] = st.stamp;
  st.distance[e] = 1;
  for (std::size_t k = 0; k < queue.size(); ++k) {
    int i = queue[k];
    mgn_progress_tick();
    for (int a = g.start[i]; a < g.start[i + 1]; ++a) {
      int j = g.adj[a];
      if (st.mark[j] != st.stamp) {
        st.mark[j] = st.stamp;
        st.distance[j] = st.distance[i] + 1;
        queue.push_back(j);
      }
    }
  }
  const int64_t d = st.max_degree + (w1 == 0 ? 1 : 0);
  for (int i : component) {
    st.priority[i] = w2 * (d - g.degree(i) - 1) + w1 * st.distance[i];
    st.status[i] = INACTIVE;
    st.number[i] = 0;
  }
  // The queue holds the preactive and active nodes; stale heap entries
  // (changed priority, numbered node) are skipped.
  std::priority_queue<heap_entry> heap;
  int64_t next_seq = 0;
  // The distances are no longer needed: the field keeps the queue position.
  std::vector<int>& pos = st.distance;
  auto join = [&](int i) {
    st.status[i] = PREACTIVE;
    pos[i] = static_cast<int>(next_seq++);
    heap.push({st.priority[i], pos[i], i});
  };
  auto raise = [&](int i) {
    st.priority[i] += w2;
    if (st.status[i] == PREACTIVE || st.status[i] == ACTIVE) heap.push({st.priority[i], pos[i], i});
  };
  join(s);
  while (!heap.empty()) {
    heap_entry top = heap.top();
    heap.pop();
    int x = top.node;
    if (st.status[x] == NUMBERED || top.priority != st.priority[x]) continue;
    if (st.status[x] == PREACTIVE) {
      for (int a = g.start[x]; a < g.start[x + 1]; ++a) {
        int y = g.adj[a];
        raise(y);
        if (st.status[y] == INACTIVE) join(y);
      }
    }
    st.number[x] = ++counter;
    st.status[x] = NUMBERED;
    mgn_progress_tick();
    if (!st.order.empty()) st.order[counter - st.first_number] = x;
    for (int a = g.start[x]; a < g.start[x + 1]; ++a) {
      int y = g.adj[a];
      if (st.status[y] != PREACTIVE) continue;
      st.status[y] = ACTIVE;
      raise(y);
      for (int b = g.start[y]; b < g.start[y + 1]; ++b) {
        int z = g.adj[b];
        if (st.status[z] == NUMBERED) continue;
        raise(z);
        if (st.status[z] == INACTIVE) join(z);
      }
    }
    if (final_pass && st.quadratic) {
      // Midside nodes get their numbers as soon as both ends of their edge
      // are numbered; interface edges carry no midside node of their own.
      mgn_node* node = g.nodes[x];
      for (mgn_edge* edge : mgn_node_edges(node)) {
        if (edge->kind == MGN_INTERFACE || mgn_edge_mid(edge) == nullptr) continue;
        mgn_node* other = edge->n[0] == node ? edge->n[1] : edge->n[0];
        int o = g.index(other);
        if (o < 0 || st.status[o] != NUMBERED) continue;
        int m = g.index(mgn_edge_mid(edge));
        if (m < 0 || st.number[m] != 0) continue;
        st.number[m] = ++counter;
        st.status[m] = NUMBERED;
        if (!st.order.empty()) st.order[counter - st.first_number] = m;
      }
    }
  }
  return counter;
}

// Profile of a component numbered in a try (corner nodes only); on the
// reversed numbering the largest number replaces the smallest.
double component_profile(const sloan_state& st, const std::vector<int>& component, bool reverse) {
  const mgn_node_graph& g = st.g;
  double sum = 0.0;
  for (int i : component) {
    long own = st.number[i];
    long extreme = own;
    for (int a = g.start[i]; a < g.start[i + 1]; ++a) {
      long other = st.number[g.adj[a]];
      extreme = reverse ? std::max(extreme, other) : std::min(extreme, other);
    }
    sum += static_cast<double>(reverse ? extreme - own + 1 : own - extreme + 1);
  }
  return sum;
}

// Numbers every valid element in the order edges, triangles, quads, tetras,
// pyramids, wedges, hexas and counts them.
void number_elements() {
  long counter = mgn_set.numbering_shift[1];
  auto number_kind = [&counter]<typename T>(mgn_listing* listing, mgn_record_count& count, T*) {
    long n = 0;
    for_each_fe<T>(listing, [&](T* record) {
      record->id = static_cast<int32_t>(++counter);
      ++n;
    });
    count.fe = n;
  };
  number_kind(mgn_mesh.fe_edges, mgn_run.edges, static_cast<mgn_edge*>(nullptr));
  number_kind(mgn_mesh.fe_faces, mgn_run.trias, static_cast<mgn_face*>(nullptr));
  number_kind(mgn_mesh.fe_quads, mgn_run.quads, static_cast<mgn_quad*>(nullptr));
  number_kind(mgn_mesh.fe_tetras, mgn_run.tetras, static_cast<mgn_tetra*>(nullptr));
  number_kind(mgn_mesh.fe_pyrams, mgn_run.pyrams, static_cast<mgn_pyram*>(nullptr));
  number_kind(mgn_mesh.fe_wedges, mgn_run.wedges, static_cast<mgn_wedge*>(nullptr));
  number_kind(mgn_mesh.fe_hexas, mgn_run.hexas, static_cast<mgn_hexa*>(nullptr));
}

// Spreads the smallest number of each element over its nodes (corners and
// the midside nodes of its edges).
template <typename T, std::size_t N, std::size_t E>
void spread_element_minimum(const mgn_node_graph& g, const std::vector<long>& number,
                            std::vector<long>& smallest, mgn_listing* listing,
                            const int (&edges)[E][2]) {
  for_each_fe<T>(listing, [&](T* element) {
    int members[N + E];
    int count = 0;
    for (std::size_t k = 0; k < N; ++k) {
      int i = g.index(element->n[k]);
      if (i >= 0) members[count++] = i;
    }
    for (std::size_t k = 0; k < E; ++k) {
      mgn_edge* edge = mgn_get_node_edge(element->n[edges[k][0]], element->n[edges[k][1]]);
      if (edge == nullptr || mgn_edge_mid(edge) == nullptr) continue;
      int i = g.index(mgn_edge_mid(edge));
      if (i >= 0) members[count++] = i;
    }
    if (count == 0) return;
    long low = number[members[0]];
    for (int k = 1; k < count; ++k) low = std::min(low, number[members[k]]);
    for (int k = 0; k < count; ++k) smallest[members[k]] = std::min(smallest[members[k]], low);
  });
}

const int edge_of_edge[1][2] = {{0, 1}};
const int face_edges[3][2] = {{0, 1}, {1, 2}, {2, 0}};
const int quad_edges[4][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}};

// Calls f(node) for every node of every finite-element element of one kind:
// its corners and, in a quadratic mesh, the midside nodes of its edges.  The
// placeholder midside node of interface edges (identifier 0) is left out.
template <typename T, std::size_t N, std::size_t E, typename F>
void for_each_element_node(mgn_listing* listing, const int (&edges)[E][2], F&& f) {
  const bool quadratic = quadratic_mesh();
  for_each_fe<T>(listing, [&](T* element) {
    for (std::size_t k = 0; k < N; ++k)
      if (element->n[k] != nullptr && element->n[k]->id != 0) f(element->n[k]);
    if (!quadratic) return;
    for (std::size_t k = 0; k < E; ++k) {
      mgn_edge* edge = mgn_get_node_edge(element->n[edges[k][0]], element->n[edges[k][1]]);
      if (edge != nullptr && mgn_edge_mid(edge) != nullptr && mgn_edge_mid(edge)->id != 0) f(mgn_edge_mid(edge));
    }
  });
}

template <typename F>
void for_each_node_of_elements(F&& f) {
  for_each_element_node<mgn_edge, 2, 1>(mgn_mesh.fe_edges, edge_of_edge, f);
  for_each_element_node<mgn_face, 3, 3>(mgn_mesh.fe_faces, face_edges, f);
  for_each_element_node<mgn_quad, 4, 4>(mgn_mesh.fe_quads, quad_edges, f);
  for_each_element_node<mgn_tetra, 4, 6>(mgn_mesh.fe_tetras, mgn_tetra_edge_nodes, f);
  for_each_element_node<mgn_pyram, 5, 8>(mgn_mesh.fe_pyrams, mgn_pyram_edge_nodes, f);
  for_each_element_node<mgn_wedge, 6, 9>(mgn_mesh.fe_wedges, mgn_wedge_edge_nodes, f);
  for_each_element_node<mgn_hexa, 8, 12>(mgn_mesh.fe_hexas, mgn_hexa_edge_nodes, f);
}

}  // namespace

void mgn_enter_element_nodes() {
  // The work value of the nodes marks the listed ones: cleared on every
  // element node, set on every listed node, then set on each node entered.
  for_each_node_of_elements([](mgn_node* node) { node->work = 0; });
  for (mgn_node** ref : mgn_listing_range<mgn_node*>(mgn_get_first_listing_block(mgn_mesh.fe_nodes)))
    if (*ref != nullptr) (*ref)->work = 1;
  for_each_node_of_elements([](mgn_node* node) {
    if (node->work != 0) return;
    node->work = 1;
    if (mgn_mesh.fe_nodes == nullptr) mgn_mesh.fe_nodes = mgn_create_listing(10, sizeof(mgn_node*));
    mgn_mesh.fe_nodes = mgn_get_last_listing_block(mgn_mesh.fe_nodes);
    *static_cast<mgn_node**>(mgn_get_listing_item(mgn_mesh.fe_nodes)) = node;
  });
}

int mgn_node_graph::index(const mgn_node* node) const {
  if (node == nullptr) return -1;
  long w = node->work;
  if (w <= 0 || w > static_cast<long>(nodes.size()) || nodes[w - 1] != node) return -1;
  return static_cast<int>(w - 1);
}

void mgn_build_node_graph(mgn_node_graph& g) {
  g.nodes.clear();
  g.start.clear();
  g.adj.clear();
  g.midside.clear();
  for (mgn_node** ref : mgn_listing_range<mgn_node*>(mgn_get_first_listing_block(mgn_mesh.fe_nodes))) {
    mgn_node* node = *ref;
    if (node == nullptr || node->id == 0 || g.index(node) >= 0) continue;
    g.nodes.push_back(node);
    node->work = static_cast<int32_t>(g.nodes.size());
  }
  const int n = static_cast<int>(g.nodes.size());
  const bool partners = !quadratic_mesh() || mgn_set.quad_hexa_support;
  g.midside.assign(n, 0);
  for (int i = 0; i < n; ++i) g.midside[i] = (g.nodes[i]->flags & MGN_NODE_MIDSIDE) != 0;
  g.start.assign(n + 1, 0);
  // The adjacency array is reserved once at its largest possible size (every
  // edge and partner of every corner node): grown by doubling, it would hold
  // up to twice its records, and the old and new arrays side by side at each
  // growth, which made the peak of large meshes.
  std::size_t most = 0;
  for (int i = 0; i < n; ++i) {
    if (g.midside[i]) continue;
    most += static_cast<std::size_t>(g.nodes[i]->edge_count);
    if (partners)
      for (mgn_list_item* item = mgn_node_partners(g.nodes[i]); item != nullptr; item = item->next) ++most;
  }
  g.adj.reserve(most);
  std::vector<int> seen(n, -1);
  for (int i = 0; i < n; ++i) {
    g.start[i] = static_cast<int>(g.adj.size());
    mgn_progress_tick();
    if (g.midside[i]) continue;
    mgn_node* node = g.nodes[i];
    auto add = [&](const mgn_node* other) {
      int j = g.index(other);
      if (j < 0 || j == i || g.midside[j] || seen[j] == i) return;
      seen[j] = i;
      g.adj.push_back(j);
    };
    for (mgn_edge* edge : mgn_node_edges(node)) {
      if (edge->id == 0) continue;
      add(edge->n[0] == node ? edge->n[1] : edge->n[0]);
    }
    if (partners)
      for (mgn_list_item* item = mgn_node_partners(node); item != nullptr; item = item->next)
        add(static_cast<mgn_node*>(item->object));
  }
  g.start[n] = static_cast<int>(g.adj.size());
}

namespace {

// The pseudo-peripheral search with the visit stamps of the caller (one
// array for all components).
void find_peripheral_nodes(const mgn_node_graph& g, std::vector<int>& mark, int& stamp, int start, int* s_out,
                           int* e_out) {
  const int n = static_cast<int>(g.nodes.size());
  level_structure ls, lc;
  int s = start;
  int e = -1;
  for (;;) {
    build_levels(g, mark, stamp, s, std::numeric_limits<long>::max(), ls);
    std::vector<int> last(ls.nodes.begin() + ls.level_start[ls.depth() - 1], ls.nodes.end());
    sort_by_degree(g, last);
    long size = static_cast<long>(last.size());
    long keep = std::min(50L, (size + 2) / 2);
    keep = std::max(keep, std::min(10L, size));
    long limit = 10L * n + 1;
    e = -1;
    bool restarted = false;
    for (long k = 0; k < keep; ++k) {
      int c = last[k];
      if (!build_levels(g, mark, stamp, c, limit, lc)) continue;
      if (lc.depth() > ls.depth()) {
        s = c;
        restarted = true;
        break;
      }
      e = c;
      limit = lc.width;
    }
    if (!restarted) break;
  }
  *s_out = s;
  *e_out = e >= 0 ? e : s;
}

}  // namespace

void mgn_get_peripheral_nodes(const mgn_node_graph& g, int start, int* s_out, int* e_out) {
  std::vector<int> mark(g.nodes.size(), 0);
  int stamp = 0;
  find_peripheral_nodes(g, mark, stamp, start, s_out, e_out);
}

double mgn_get_mesh_profile(const mgn_node_graph& g, const std::vector<long>& number) {
  const int n = static_cast<int>(g.nodes.size());
  std::vector<long> smallest(number.begin(), number.begin() + n);
  for (int i = 0; i < n; ++i)
    for (int a = g.start[i]; a < g.start[i + 1]; ++a) {
      int j = g.adj[a];
      smallest[i] = std::min(smallest[i], number[j]);
    }
  if (quadratic_mesh()) {
    spread_element_minimum<mgn_edge, 2, 1>(g, number, smallest, mgn_mesh.fe_edges, edge_of_edge);
    spread_element_minimum<mgn_face, 3, 3>(g, number, smallest, mgn_mesh.fe_faces, face_edges);
    spread_element_minimum<mgn_quad, 4, 4>(g, number, smallest, mgn_mesh.fe_quads, quad_edges);
    spread_element_minimum<mgn_tetra, 4, 6>(g, number, smallest, mgn_mesh.fe_tetras, mgn_tetra_edge_nodes);
    spread_element_minimum<mgn_pyram, 5, 8>(g, number, smallest, mgn_mesh.fe_pyrams, mgn_pyram_edge_nodes);
    spread_element_minimum<mgn_wedge, 6, 9>(g, number, smallest, mgn_mesh.fe_wedges, mgn_wedge_edge_nodes);
    spread_element_minimum<mgn_hexa, 8, 12>(g, number, smallest, mgn_mesh.fe_hexas, mgn_hexa_edge_nodes);
  }
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += static_cast<double>(number[i] - smallest[i] + 1);
  return sum;
}

void mgn_renumber_mesh() {
  try {
    const long shift = mgn_set.numbering_shift[0];
    mgn_mesh.order.clear();
    mgn_mesh.order.shrink_to_fit();
    mgn_mesh.reverse = false;

    // 1. Natural numbering in listing order, after the nodes of the
    // elements that the node listing lacks.
    mgn_enter_element_nodes();
    mgn_node_graph g;
    mgn_build_node_graph(g);
    const int n = static_cast<int>(g.nodes.size());
    std::vector<long> natural(n);
    for (int i = 0; i < n; ++i) {
      natural[i] = shift + i + 1;
      g.nodes[i]->id = static_cast<int32_t>(natural[i]);
    }
    mgn_run.nodes.fe = n;

    const int type = mgn_set.renumbering_type;
    if (type != 0 && (type & 1) != 0) {
      // 3. The order array (nodes in new-number order).
      std::vector<int> order;
      bool ordered = (mgn_set.output_spec & 128) == 0;
      if (ordered) {
        try {
          order.assign(n, -1);
        } catch (const std::bad_alloc&) {
          ordered = false;
          if (!mgn_set.output_file_name.empty()) {
            mgn_print_warning(stderr, "WARNING: Nodes will be not ordered on output (due to lack of memory)\n");
            ++mgn_warning_count;
          }
        }
      }

      // 4. Profile before (the natural numbers go before the work arrays
      // come: the node identifiers hold them); isolated nodes first.
      mgn_run.profile_old = mgn_get_mesh_profile(g, natural);
      give_back(natural);
      sloan_state st(g);
      st.number.assign(n, 0);
      st.status.assign(n, INACTIVE);
      st.priority.assign(n, 0);
      st.distance.assign(n, 0);
      st.mark.assign(n, 0);
      st.order = std::move(order);
      st.first_number = shift + 1;
      st.quadratic = quadratic_mesh();
      long counter = shift;
      for (int i = 0; i < n; ++i) {
        st.max_degree = std::max(st.max_degree, g.degree(i));
        if (g.degree(i) == 0 && !g.midside[i]) {
          st.number[i] = ++counter;
          st.status[i] = NUMBERED;
          if (!st.order.empty()) st.order[counter - st.first_number] = i;
        }
      }
      // Start nodes: unnumbered corner nodes by ascending degree, first in
      // listing order.
      std::vector<int> starts;
      for (int i = 0; i < n; ++i)
        if (g.degree(i) > 0) starts.push_back(i);
      std::stable_sort(starts.begin(), starts.end(),
                       [&g](int a, int b) { return g.degree(a) < g.degree(b); });
      std::size_t next_start = 0;
      auto find_start = [&]() -> int {
        while (next_start < starts.size() && st.number[starts[next_start]] != 0) ++next_start;
        return next_start < starts.size() ? starts[next_start] : -1;
      };

      // 5.-6. Sloan numbering, component by component.
      int start = find_start();
      mgn_mesh.reverse = start >= 0 && st.quadratic;
      const bool fast = (type & 4) != 0;
      static const int64_t tried_pairs[5][2] = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {1, 0}};
      static const int64_t fast_pairs[2][2] = {{3, 1}, {1, 0}};
      level_structure component_levels;
      while (start >= 0) {
        int s, e;
        find_peripheral_nodes(g, st.mark, st.stamp, start, &s, &e);
        build_levels(g, st.mark, st.stamp, s, std::numeric_limits<long>::max(), component_levels);
        const std::vector<int>& component = component_levels.nodes;
        const long base = counter;
        double best = static_cast<double>(n) * static_cast<double>(n);
        int64_t best_w2 = 1, best_w1 = 1;
        bool last_was_best = false;
        int64_t largest_w2 = 0;
        double previous = 0.0;
        auto try_pair = [&](int64_t w2, int64_t w1) {
          number_component(st, component, s, e, w2, w1, false, base);
          double profile = component_profile(st, component, mgn_mesh.reverse);
          last_was_best = profile < best;
          if (last_was_best) {
            best = profile;
            best_w2 = w2;
            best_w1 = w1;
          }
          largest_w2 = std::max(largest_w2, w2);
          return profile;
        };
        const int pair_count = fast ? 2 : 5;
        for (int k = 0; k < pair_count; ++k) {
          const int64_t* pair = fast ? fast_pairs[k] : tried_pairs[k];
          double profile = try_pair(pair[0], pair[1]);
          // The W2 search continues the series of W1 = 1 from its last try.
          if (pair[1] == 1 && pair[0] == 4) previous = profile;
        }
        if (!fast) {
          // W2 = 5, 6, 8, 10, 14, 18, 22, 26, 34, ... while each try improves
          // on the previous one by 0.5 at least.
          int64_t w2 = largest_w2;
          int64_t step = 1;
          int64_t tries = 0;
          const int64_t w2_limit = int64_t{1} << 40;
          while (w2 < w2_limit) {
            w2 += step;
            double profile = try_pair(w2, 1);
            ++tries;
            if (tries / step == 2) step *= 2;
            if (!(profile <= previous - 0.5)) break;
            previous = profile;
          }
        }
        if (last_was_best && !st.quadratic)
          counter = base + static_cast<long>(component.size());
        else
          counter = number_component(st, component, s, e, best_w2, best_w1, true, base);
        start = find_start();
      }
      // Midside nodes whose edges end outside the finite-element nodes.
      for (int i = 0; i < n; ++i)
        if (st.number[i] == 0) {
          if (!g.midside[i]) mgn_manipulation_error("Unexpected situation", MGN_HERE);
          st.number[i] = ++counter;
          if (!st.order.empty()) st.order[counter - st.first_number] = i;
        }

      // 7. Profile after, on the reversed numbering of quadratic meshes;
      // the natural numbering stays when it is better.  The work arrays of
      // the numbering go first: only the numbers and the order are left.
      give_back(st.status);
      give_back(st.priority);
      give_back(st.distance);
      give_back(st.mark);
      give_back(starts);
      give_back(component_levels.nodes);
      give_back(component_levels.level_start);
      if (mgn_mesh.reverse)
        for (int i = 0; i < n; ++i) st.number[i] = n + 2 * shift - st.number[i] + 1;
      mgn_run.profile_new = mgn_get_mesh_profile(g, st.number);
      if (mgn_run.profile_new > mgn_run.profile_old) {
        mgn_run.profile_new = mgn_run.profile_old;
        mgn_mesh.reverse = false;
      } else {
        for (int i = 0; i < n; ++i) g.nodes[i]->id = static_cast<int32_t>(st.number[i]);
        if (ordered) {
          mgn_mesh.order.resize(n);
          for (int k = 0; k < n; ++k) mgn_mesh.order[k] = g.nodes[st.order[k]];
        }
      }
      if (mgn_mesh.order.empty()) mgn_mesh.reverse = false;
    }
    if (type != 0) mgn_print_message(stdout, "Renumbering completed");

    // 8. Elements.
    number_elements();
  } catch (const std::bad_alloc&) {
    mgn_allocation_error("Memory allocation failed", MGN_HERE);
  }
}
