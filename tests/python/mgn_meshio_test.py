"""Round trips of mgn mesh files through the meshio format of
python/mgn_meshio.py: mesh files of every element kind, linear and
quadratic, written here and by the program, are converted to Gmsh 4.1,
VTU, XDMF and Abaqus files and read back; Gmsh itself reads the .msh files
where its Python module is installed.

Run: python3 tests/python/mgn_meshio_test.py (MGN_EXE names the program
for the cases that mesh test models; exit status 77 when meshio is missing).
"""

import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "python"))

try:
    import numpy as np

    import meshio
    import mgn_meshio
except ImportError as missing:
    print(f"skipped: {missing}")
    sys.exit(77)

try:
    import gmsh
except ImportError:
    gmsh = None

# Element kinds of the mesh file: corners of a reference element in the
# file's node order, and the corner pairs of the midside nodes in order.
KINDS = {
    "edge": ([(0, 0, 0), (1, 0, 0)], [(0, 1)]),
    "triangle": ([(0, 0, 0), (1, 0, 0), (0, 1, 0)], [(0, 1), (1, 2), (2, 0)]),
    "quad": ([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)], [(0, 1), (1, 2), (2, 3), (3, 0)]),
    "tetra": ([(0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1)],
              [(0, 1), (1, 2), (2, 0), (0, 3), (1, 3), (2, 3)]),
    "pyramid": ([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0.5, 0.5, 1)],
                [(0, 1), (1, 2), (2, 3), (3, 0), (0, 4), (1, 4), (2, 4), (3, 4)]),
    "wedge": ([(0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (0, 1, 1)],
              [(0, 1), (1, 2), (2, 0), (3, 4), (4, 5), (5, 3), (0, 3), (1, 4), (2, 5)]),
    "hexa": ([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)],
             [(0, 1), (1, 2), (2, 3), (3, 0), (4, 5), (5, 6), (6, 7), (7, 4), (0, 4), (1, 5), (2, 6), (3, 7)]),
}
ORDER = ["edge", "triangle", "quad", "tetra", "pyramid", "wedge", "hexa"]
SIDES = {"edge": 0, "triangle": 3, "quad": 4, "tetra": 4, "pyramid": 5, "wedge": 5, "hexa": 6}
MESHIO_TYPE = {
    ("edge", 1): "line", ("edge", 2): "line3", ("triangle", 1): "triangle", ("triangle", 2): "triangle6",
    ("quad", 1): "quad", ("quad", 2): "quad8", ("tetra", 1): "tetra", ("tetra", 2): "tetra10",
    ("pyramid", 1): "pyramid", ("pyramid", 2): "pyramid13", ("wedge", 1): "wedge", ("wedge", 2): "wedge15",
    ("hexa", 1): "hexahedron", ("hexa", 2): "hexahedron20",
}
XDMF_TYPES = {0x2: ("line", 2), 0x4: ("triangle", 3), 0x5: ("quad", 4), 0x6: ("tetra", 4), 0x7: ("pyramid", 5),
              0x8: ("wedge", 6), 0x9: ("hexahedron", 8), 0x22: ("line3", 3), 0x24: ("triangle6", 6),
              0x25: ("quad8", 8), 0x26: ("tetra10", 10), 0x27: ("pyramid13", 13), 0x28: ("wedge15", 15),
              0x30: ("hexahedron20", 20)}

# The synthetic model: each element kind owned by an entity (key, id,
# property).  Surface 3 and patch 1 share the dimension of their
# elements, so the patch is numbered after the surface (physical tag 4);
# the interface quad has coincident sides like a real interface quad.
ELEMENTS = [
    ("edge", (2, 5, 11)),
    ("triangle", (3, 3, 12)),
    ("quad", (5, 1, 13)),
    ("quad", (7, 2, 0)),
    ("tetra", (4, 1, 14)),
    ("pyramid", (4, 1, 14)),
    ("wedge", (4, 2, 15)),
    ("hexa", (4, 2, 15)),
]
EXPECTED_GROUPS = {"curve_5": (5, 1), "surface_3": (3, 2), "patch_1": (4, 2), "interface_2_2d": (6, 2),
                   "region_1": (1, 3), "region_2": (2, 3)}
SPEC_ALL = 1 | 2 | 4 | 8 | 16 | 32 | 64


def write_mesh_file(path, degree, spec, node_shift=0, element_shift=0):
    """Writes the synthetic model as an mgn mesh file; returns what it wrote
    (points, per element its kind, owner, number and point indices)."""
    points, owners, elements = [], [], []
    for k, (kind, owner) in enumerate(ELEMENTS):
        corners, edges = KINDS[kind]
        corners = [np.array(c, dtype=float) + (3.0 * k, 0.25 * k, 0.0) for c in corners]
        if owner[0] == 7:
            # Interface quad: its second side lies on the first.
            corners[2], corners[3] = corners[1].copy(), corners[0].copy()
        nodes = corners + ([(corners[a] + corners[b]) / 2 for a, b in edges] if degree == 2 else [])
        first = len(points)
        points += nodes
        owners += [owner] * len(nodes)
        elements.append((kind, owner, list(range(first, first + len(nodes)))))
    counts = [sum(1 for kind, _, _ in elements if kind == name) for name in ORDER]
    lines = [f" {7:9d} {degree:9d} {0:9d} {spec:9d}",
             " " + " ".join(f"{c:9d}" for c in [len(points)] + counts), ""]
    for i, (p, (key, ident, prop)) in enumerate(zip(points, owners)):
        line = f" {i + 1 + node_shift:9d} {p[0]:14.7e} {p[1]:14.7e} {p[2]:14.7e} {key:4d} {ident:9d} {prop:9d}"
        data = []
        if key == 2:
            data = ([1.0, 0.0, 0.0] if spec & 2 else []) + ([0.125 * i] if spec & 1 else [])
        elif key in (3, 5, 6):
            data = ([0.0, 0.0, 1.0] if spec & 4 else []) + ([0.5, 0.001 * i] if spec & 1 else [])
        if data:
            line += "     " + "".join(f" {v:9.6f}" for v in data)
        lines.append(line)
    lines.append("")
    numbered = []
    number = element_shift
    for name in ORDER:
        section = [e for e in elements if e[0] == name]
        for kind, (key, ident, prop), nodes in section:
            number += 1
            numbered.append((kind, (key, ident, prop), number, nodes))
            fields = [number] + [n + 1 + node_shift for n in nodes]
            line = " " + " ".join(f"{f:9d}" for f in fields) + f" {key:4d} {ident:9d} {prop:9d}"
            sides = SIDES[kind]
            if spec & 64 and kind in ("triangle", "quad", "hexa"):
                line += f" {7:4d}"
            if spec & 32 and sides:
                line += "".join(f" {number * 10 + s:9d}" for s in range(sides))
            if spec & 8 and sides:
                ids = [100 + s for s in range(sides)]
                props = [200 + s for s in range(sides)]
                if kind in ("triangle", "quad"):
                    line += "".join(f" {v:9d}" for v in ids + props)
                else:
                    line += "".join(f" {v:9d}" for v in ids) + "".join(f" {3:4d}" for _ in ids)
                    line += "".join(f" {v:9d}" for v in props)
            lines.append(line)
        if section:
            lines.append("")
    if spec & 16:
        # A boundary-association section, which the reader passes over.
        lines += [f" {1:9d} {0:9d} {0:9d} {0:9d}", "", f" {2:9d} {5:9d} {11:9d} {1:9d}", f" {0:9d}", ""]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return np.array(points), numbered


def cells_of(mesh, points=None):
    """Cell type and node coordinates of every cell, block by block (some
    formats keep the nodes in another order)."""
    points = mesh.points if points is None else points
    return [(block.type, tuple(tuple(points[i]) for i in row)) for block in mesh.cells for row in block.data]


def cell_values(mesh, name):
    return np.concatenate([np.asarray(a).ravel() for a in mesh.cell_data[name]])


def read_xdmf(path):
    """Points, cells and one integer cell array of an XDMF file with one grid,
    read directly (meshio's XDMF reader does not know mixed quadratic
    topologies)."""
    import h5py

    root = ElementTree.parse(path).getroot()
    folder = os.path.dirname(path)

    def data(item):
        file_name, dataset = item.text.strip().split(":")
        with h5py.File(os.path.join(folder, file_name), "r") as h5:
            return np.array(h5[dataset])

    grid = root.find(".//Grid")
    points = data(grid.find("Geometry/DataItem"))
    topology = grid.find("Topology")
    flat = data(topology.find("DataItem")).ravel()
    cells = []
    if topology.get("TopologyType") == "Mixed":
        at = 0
        while at < len(flat):
            name, count = XDMF_TYPES[int(flat[at])]
            at += 2 if name == "line" else 1  # a line carries its node count
            cells.append((name, tuple(int(i) for i in flat[at:at + count])))
            at += count
    else:
        raise AssertionError("a mixed topology expected")
    arrays = {a.get("Name"): data(a.find("DataItem")).ravel() for a in grid.findall("Attribute")}
    return points, cells, arrays


class Synthetic(unittest.TestCase):
    """Every element kind, linear and quadratic, with every column of node
    and element data, through each output format."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def read_synthetic(self, degree, spec, **shift):
        path = self.path(f"synthetic{degree}.mgnmesh")
        points, elements = write_mesh_file(path, degree, spec, **shift)
        return meshio.read(path), points, elements

    def test_reader_places_every_element_and_datum(self):
        for degree in (1, 2):
            with self.subTest(degree=degree):
                mesh, points, elements = self.read_synthetic(degree, SPEC_ALL, node_shift=1000,
                                                             element_shift=50)
                # Coordinates as written, to eight digits.
                np.testing.assert_array_equal(mesh.points, [[float(f"{c:14.7e}") for c in p] for p in points])
                expected = [(MESHIO_TYPE[(kind, degree)], tuple(tuple(mesh.points[i]) for i in nodes))
                            for kind, _, _, nodes in elements]
                self.assertEqual(sorted(cells_of(mesh)), sorted(expected))
                # Cell data follow the cells.
                by_id = {number: (kind, owner) for kind, owner, number, _ in elements}
                ids = cell_values(mesh, "mgn:element_id")
                keys = cell_values(mesh, "mgn:entity_key")
                props = cell_values(mesh, "mgn:entity_property")
                for number, key, prop in zip(ids, keys, props):
                    self.assertEqual((key, prop), (by_id[number][1][0], by_id[number][1][2]))
                iso = cell_values(mesh, "mgn:iso_type")
                for number, value in zip(ids, iso):
                    self.assertEqual(value, 7 if by_id[number][0] in ("triangle", "quad", "hexa") else 0)
                for side in range(6):
                    neighbours = cell_values(mesh, f"mgn:neighbour_{side + 1}")
                    side_ids = cell_values(mesh, f"mgn:side_entity_id_{side + 1}")
                    side_keys = cell_values(mesh, f"mgn:side_entity_key_{side + 1}")
                    side_props = cell_values(mesh, f"mgn:side_entity_property_{side + 1}")
                    for k, number in enumerate(ids):
                        kind = by_id[number][0]
                        inside = side < SIDES[kind]
                        self.assertEqual(neighbours[k], number * 10 + side if inside else 0)
                        self.assertEqual(side_ids[k], 100 + side if inside else 0)
                        self.assertEqual(side_props[k], 200 + side if inside else 0)
                        curve_side = kind in ("triangle", "quad")
                        self.assertEqual(side_keys[k], (2 if curve_side else 3) if inside else 0)
                # Node data by the entity a node lies on.
                node_keys = mesh.point_data["mgn:entity_key"]
                np.testing.assert_array_equal(mesh.point_data["mgn:node_id"], np.arange(len(points)) + 1001)
                on_curve, on_face = node_keys == 2, np.isin(node_keys, (3, 5, 6))
                np.testing.assert_array_equal(mesh.point_data["mgn:tangent"][on_curve], [[1, 0, 0]] * on_curve.sum())
                np.testing.assert_array_equal(mesh.point_data["mgn:normal"][on_face], [[0, 0, 1]] * on_face.sum())
                np.testing.assert_allclose(mesh.point_data["mgn:t"][on_curve], 0.125 * np.flatnonzero(on_curve),
                                           atol=5e-7)
                np.testing.assert_allclose(mesh.point_data["mgn:v"][on_face], 0.001 * np.flatnonzero(on_face),
                                           atol=5e-7)
                self.assertTrue(np.all(mesh.point_data["mgn:u"][on_face] == 0.5))
                self.assertFalse(np.any(mesh.point_data["mgn:tangent"][~on_curve]))
                # Entities as named groups with their Gmsh physical tags.
                self.assertEqual({k: tuple(v) for k, v in mesh.field_data.items()}, EXPECTED_GROUPS)
                for name, members in mesh.cell_sets.items():
                    key, ident = {"curve": 2, "surface": 3, "patch": 5, "interface": 7,
                                  "region": 4}[name.split("_")[0]], int(name.split("_")[1])
                    for block, member in enumerate(members):
                        for row in member:
                            self.assertEqual(mesh.cell_data["mgn:entity_key"][block][row], key)
                            self.assertEqual(mesh.cell_data["mgn:entity_id"][block][row], ident)

    def test_round_trip_through_every_format(self):
        for degree in (1, 2):
            mesh, points, elements = self.read_synthetic(degree, 0)
            cells = cells_of(mesh)
            physical = dict(zip(cells, cell_values(mesh, "gmsh:physical")))
            entity = dict(zip(cells, zip(cell_values(mesh, "mgn:entity_key"), cell_values(mesh, "mgn:entity_id"))))
            for ext in ("msh", "vtu", "xdmf", "inp"):
                with self.subTest(degree=degree, format=ext):
                    out = self.path(f"round{degree}.{ext}")
                    run_converter(["convert", self.path(f"synthetic{degree}.mgnmesh"), out])
                    if ext == "xdmf":
                        back_points, back_cells, arrays = read_xdmf(out)
                        back_cells = [(t, tuple(tuple(back_points[i]) for i in c)) for t, c in back_cells]
                        self.assertEqual(sorted(back_cells), sorted(cells))
                        for cell, key, ident in zip(back_cells, arrays["mgn:entity_key"], arrays["mgn:entity_id"]):
                            self.assertEqual(entity[cell], (key, ident))
                        continue
                    back = meshio.read(out, file_format="gmsh" if ext == "msh" else None)
                    # Every node, exactly (binary or 17 digits).
                    self.assertEqual(sorted(map(tuple, back.points)), sorted(map(tuple, mesh.points)))
                    if ext == "msh":
                        self.assertEqual(sorted(cells_of(back)), sorted(cells))
                        for cell, tag in zip(cells_of(back), cell_values(back, "gmsh:physical")):
                            self.assertEqual(physical[cell], tag)
                        self.assertEqual({k: tuple(v) for k, v in back.field_data.items()}, EXPECTED_GROUPS)
                    if ext == "vtu":
                        self.assertEqual(sorted(cells_of(back)), sorted(cells))
                        for cell, key, ident in zip(cells_of(back), cell_values(back, "mgn:entity_key"),
                                                    cell_values(back, "mgn:entity_id")):
                            self.assertEqual(entity[cell], (key, ident))
                    if ext == "inp":
                        # The volume cells (pyramids as collapsed hexahedra) in
                        # the element sets of their regions; the lower
                        # entities as node sets.
                        volume = [abaqus_cell(c) for c in cells if c[0] in VOLUME_TYPES]
                        self.assertEqual(sorted(cells_of(back)), sorted(volume))
                        back_cells = cells_of(back)
                        element_sets = abaqus_element_sets(out)
                        for name, numbers in element_sets.items():
                            found = [back_cells[n - 1] for n in numbers]
                            wanted = [abaqus_cell(c) for c in cells
                                      if c[0] in VOLUME_TYPES and group_name(*entity[c], c[0]) == name]
                            self.assertEqual(sorted(found), sorted(wanted), name)
                        self.assertEqual(set(element_sets), {"region_1", "region_2"})
                        for name, nodes in back.point_sets.items():
                            found = sorted(tuple(back.points[i]) for i in nodes)
                            indices = {i for block, data in zip(mesh.cells, cell_groups(mesh)) for row, group
                                       in zip(block.data, data) if group == name for i in row}
                            wanted = sorted(tuple(mesh.points[i]) for i in indices)
                            self.assertEqual(found, wanted, name)
                        self.assertEqual(set(back.point_sets), {"curve_5", "surface_3", "patch_1", "interface_2_2d"})

    @unittest.skipIf(gmsh is None, "the gmsh Python module is not installed")
    def test_gmsh_reads_the_elements_with_positive_jacobians(self):
        for degree in (1, 2):
            with self.subTest(degree=degree):
                self.read_synthetic(degree, 0)
                out = self.path(f"gmsh{degree}.msh")
                run_converter(["convert", self.path(f"synthetic{degree}.mgnmesh"), out])
                counts, jacobians, groups = gmsh_summary(out)
                expected = {}
                for kind, (key, _, _) in ELEMENTS:
                    gmsh_name = MESHIO_TYPE[(kind, degree)]
                    expected[gmsh_name] = expected.get(gmsh_name, 0) + 1
                self.assertEqual(counts, expected)
                self.assertEqual(groups, {(dim, tag): name for name, (tag, dim) in EXPECTED_GROUPS.items()})
                for name, values in jacobians.items():
                    self.assertGreater(min(values), 0, name)
                    if name != "pyramid" and not name.startswith("pyramid"):
                        # Affine elements with straight sides: one Jacobian.
                        self.assertAlmostEqual(min(values), max(values), places=9, msg=name)


class Errors(unittest.TestCase):
    """Malformed mesh files end with a read error naming the line."""

    def test_malformed_files(self):
        with tempfile.TemporaryDirectory() as folder:
            good = os.path.join(folder, "good.mgnmesh")
            write_mesh_file(good, 1, 0)
            text = open(good).read().split("\n")
            cases = {
                "unknown mesh type": (["         5" + text[0][10:]] + text[1:], "line 1"),
                "truncated": (text[:8], "ends inside"),
                "short element line": (text[:-3] + [text[-3].rsplit(" ", 3)[0]] + text[-2:], "fields expected"),
                "unknown node": (text[:-3] + [text[-3].replace("        29", "       929", 1)] + text[-2:],
                                 "not in the node section"),
                "missing empty line": (text[:2] + text[3:], "line 3"),
            }
            for name, (lines, message) in cases.items():
                with self.subTest(name):
                    path = os.path.join(folder, "bad.mgnmesh")
                    with open(path, "w") as f:
                        f.write("\n".join(lines))
                    with self.assertRaises(meshio.ReadError) as raised:
                        mgn_meshio.read(path)
                    self.assertIn(message, str(raised.exception))


@unittest.skipUnless(os.environ.get("MGN_EXE"), "MGN_EXE not set")
class ProgramMeshes(unittest.TestCase):
    """Meshes of the program, with all node and element data, converted and
    read back."""

    def test_quadratic_cube_with_all_data(self):
        with tempfile.TemporaryDirectory() as folder:
            mesh_file = os.path.join(folder, "cube.mgnmesh")
            subprocess.run([os.environ["MGN_EXE"], "-i", os.path.join(ROOT, "tests/models/unit_cube.mgn"),
                            "-d", "0.5", "-k", "2", "-p", str(SPEC_ALL), "-o", mesh_file],
                           check=True, stdout=subprocess.DEVNULL)
            counts = [int(v) for v in open(mesh_file).read().split("\n")[1].split()]
            mesh = meshio.read(mesh_file)
            self.assertEqual(len(mesh.points), counts[0])
            by_type = {}
            for block in mesh.cells:
                by_type[block.type] = by_type.get(block.type, 0) + len(block.data)
            self.assertEqual(by_type, {"line3": counts[1], "triangle6": counts[2], "tetra10": counts[4]})
            # Node data where the file has them: a curve node's tangent is a
            # unit vector, a surface node's normal too, region nodes have none.
            keys = mesh.point_data["mgn:entity_key"]
            np.testing.assert_allclose(np.linalg.norm(mesh.point_data["mgn:tangent"][keys == 2], axis=1), 1,
                                       atol=1e-5)
            np.testing.assert_allclose(np.linalg.norm(mesh.point_data["mgn:normal"][keys == 3], axis=1), 1,
                                       atol=1e-5)
            self.assertFalse(np.any(mesh.point_data["mgn:normal"][keys == 4]))
            # Neighbours are element numbers of the file (or 0).
            ids = set(cell_values(mesh, "mgn:element_id").tolist()) | {0}
            for side in range(4):
                self.assertTrue(set(cell_values(mesh, f"mgn:neighbour_{side + 1}").tolist()) <= ids)
            self.assertEqual(sorted(mesh.field_data), sorted(
                [f"curve_{i}" for i in range(1, 13)] + [f"surface_{i}" for i in range(1, 7)] + ["region_1"]))
            for ext in ("msh", "vtu", "inp"):
                with self.subTest(format=ext):
                    out = os.path.join(folder, "cube." + ext)
                    run_converter(["convert", mesh_file, out])
                    back = meshio.read(out, file_format="gmsh" if ext == "msh" else None)
                    wanted = [c for c in cells_of(mesh) if ext != "inp" or c[0] == "tetra10"]
                    self.assertEqual(sorted(cells_of(back)), sorted(wanted))
                    self.assertEqual(sorted(map(tuple, back.points)), sorted(map(tuple, mesh.points)))
                    if ext == "inp":
                        self.assertEqual(set(abaqus_element_sets(out)), {"region_1"})
                        self.assertEqual(len(back.point_sets), 18)
            out = os.path.join(folder, "cube.xdmf")
            run_converter(["convert", mesh_file, out])
            points, cells, _ = read_xdmf(out)
            cells = [(t, tuple(tuple(points[i]) for i in c)) for t, c in cells]
            self.assertEqual(sorted(cells), sorted(cells_of(mesh)))
            if gmsh is not None:
                counts_gmsh, jacobians, _ = gmsh_summary(os.path.join(folder, "cube.msh"))
                self.assertEqual(counts_gmsh, by_type)
                self.assertGreater(min(jacobians["tetra10"]), 0)

    def test_coarse_mesh_with_entities_without_nodes(self):
        # One edge per curve, no node inside a surface: Gmsh must still be
        # told every entity that has elements.
        with tempfile.TemporaryDirectory() as folder:
            mesh_file = os.path.join(folder, "coarse.mgnmesh")
            subprocess.run([os.environ["MGN_EXE"], "-i", os.path.join(ROOT, "tests/models/unit_cube.mgn"),
                            "-d", "2", "-o", mesh_file], check=True, stdout=subprocess.DEVNULL)
            out = os.path.join(folder, "coarse.msh")
            run_converter(["convert", mesh_file, out])
            back = meshio.read(out, file_format="gmsh")
            self.assertEqual(sorted(cells_of(back)), sorted(cells_of(meshio.read(mesh_file))))
            if gmsh is not None:
                counts, _, groups = gmsh_summary(out)
                self.assertEqual(counts["line"], 12)
                self.assertEqual(len(groups), 19)


def group_name(key, ident, cell_type):
    kind = {2: "curve", 3: "surface", 4: "region", 5: "patch", 6: "shell", 7: "interface"}[key]
    if key == 7:
        return f"interface_{ident}_{meshio._mesh.topological_dimension[cell_type]}d"
    return f"{kind}_{ident}"


def cells_of_block(mesh, block, members):
    return [(mesh.cells[block].type, tuple(tuple(mesh.points[i]) for i in mesh.cells[block].data[m]))
            for m in members]


def cell_groups(mesh):
    """The group name of every cell, block by block."""
    return [[group_name(key, ident, block.type) for key, ident in zip(keys, ids)]
            for block, keys, ids in zip(mesh.cells, mesh.cell_data["mgn:entity_key"], mesh.cell_data["mgn:entity_id"])]


def abaqus_element_sets(path):
    """The element numbers of each *ELSET of an Abaqus file, a set given in
    several parts taken together (meshio's reader keeps only the last)."""
    sets, name = {}, None
    for line in open(path):
        if line.startswith("*"):
            name = line.split("ELSET=")[1].strip() if line.upper().startswith("*ELSET") else None
            if name is not None:
                sets.setdefault(name, [])
        elif name is not None:
            sets[name] += [int(v) for v in line.replace(",", " ").split()]
    return sets


VOLUME_TYPES = {"tetra", "tetra10", "pyramid", "pyramid13", "wedge", "wedge15", "hexahedron", "hexahedron20"}


def abaqus_cell(cell):
    """A cell as the Abaqus file holds it: a pyramid as a hexahedron whose
    top face is its apex."""
    kind, nodes = cell
    if kind == "pyramid":
        return ("hexahedron", nodes[:5] + (nodes[4],) * 3)
    if kind == "pyramid13":
        return ("hexahedron20", nodes[:5] + (nodes[4],) * 3 + nodes[5:9] + (nodes[4],) * 4 + nodes[9:13])
    return cell


def run_converter(args):
    """The mgn-meshio command, as a user runs it."""
    subprocess.run([os.path.join(ROOT, "python", "mgn-meshio")] + args, check=True,
                   env=dict(os.environ, MGN_PYTHON=sys.executable), stdout=subprocess.DEVNULL)


GMSH_NAMES = {"Line 2": "line", "Line 3": "line3", "Triangle 3": "triangle", "Triangle 6": "triangle6",
              "Quadrilateral 4": "quad", "Quadrilateral 8": "quad8", "Tetrahedron 4": "tetra",
              "Tetrahedron 10": "tetra10", "Pyramid 5": "pyramid", "Pyramid 13": "pyramid13",
              "Prism 6": "wedge", "Prism 15": "wedge15", "Hexahedron 8": "hexahedron",
              "Hexahedron 20": "hexahedron20"}


def gmsh_summary(path):
    """Element counts by type, Jacobian determinants of the 3D elements at
    a few points of each (interface elements, which are flat, left out),
    and the physical groups, as Gmsh reads the file."""
    gmsh.initialize()
    try:
        gmsh.option.setNumber("General.Terminal", 0)
        gmsh.open(path)
        counts, jacobians = {}, {}
        for element_type, tags, _ in zip(*gmsh.model.mesh.getElements()):
            name, dim = gmsh.model.mesh.getElementProperties(element_type)[:2]
            name = GMSH_NAMES[name]
            counts[name] = counts.get(name, 0) + len(tags)
        for dim, tag in gmsh.model.getEntities(3):
            physical = gmsh.model.getPhysicalGroupsForEntity(dim, tag)
            names = [gmsh.model.getPhysicalName(3, p) for p in physical]
            if any(n.startswith("interface") for n in names):
                continue
            types, _, _ = gmsh.model.mesh.getElements(dim, tag)
            for element_type in types:
                name = GMSH_NAMES[gmsh.model.mesh.getElementProperties(element_type)[0]]
                local = [0.1, 0.2, 0.3, 0.2, 0.1, 0.05, 0.3, 0.3, 0.1]
                _, determinants, _ = gmsh.model.mesh.getJacobians(element_type, local, tag=tag)
                jacobians.setdefault(name, []).extend(determinants)
        groups = {(dim, tag): gmsh.model.getPhysicalName(dim, tag) for dim, tag in gmsh.model.getPhysicalGroups()}
        return counts, jacobians, groups
    finally:
        gmsh.finalize()


if __name__ == "__main__":
    unittest.main()
