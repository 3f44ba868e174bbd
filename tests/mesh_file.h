// Reading a written mesh file in the tests: its nodes, edges and
// triangles with the entity of each triangle.
#ifndef MGN_TEST_MESH_FILE_H
#define MGN_TEST_MESH_FILE_H

#include <map>
#include <sstream>
#include <string>
#include <vector>

// The nodes, edges, triangles and tetras of a mesh file of a run with
// quad-hexa support (two header lines: mesh type, then the counts of nodes,
// edges, triangles, quads, tetras and the other kinds).
struct written_mesh {
  long counts[5] = {0, 0, 0, 0, 0};
  std::map<long, std::vector<double>> nodes;
  std::vector<std::vector<long>> edges, trias, quads, tetras;
  std::vector<long> tria_keys;      // entity key of each triangle (kind code + 1)
  std::vector<long> tria_entities;  // identifier of the entity of each triangle
};

inline written_mesh read_written_mesh(const std::string& text) {
  written_mesh m;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  std::getline(in, line);
  std::istringstream(line) >> m.counts[0] >> m.counts[1] >> m.counts[2] >> m.counts[3] >> m.counts[4];
  auto records = [&](long count, int fields, auto take) {
    while (count > 0 && std::getline(in, line)) {
      std::istringstream row(line);
      long id;
      if (!(row >> id)) continue;  // the empty line before a section
      take(id, row, fields);
      --count;
    }
  };
  records(m.counts[0], 3, [&](long id, std::istringstream& row, int n) {
    std::vector<double> xyz(n);
    for (double& x : xyz) row >> x;
    m.nodes[id] = xyz;
  });
  auto element = [](std::vector<std::vector<long>>& out) {
    return [&out](long, std::istringstream& row, int n) {
      std::vector<long> nodes(n);
      for (long& x : nodes) row >> x;
      out.push_back(nodes);
    };
  };
  records(m.counts[1], 2, element(m.edges));
  records(m.counts[2], 3, [&](long id, std::istringstream& row, int n) {
    element(m.trias)(id, row, n);
    long key = 0, entity = 0;
    row >> key >> entity;
    m.tria_keys.push_back(key);
    m.tria_entities.push_back(entity);
  });
  records(m.counts[3], 4, element(m.quads));
  records(m.counts[4], 4, element(m.tetras));
  return m;
}

#endif  // MGN_TEST_MESH_FILE_H
