"""The mgn mesh file as a meshio format.

Importing this module registers the format "mgn" for files ending in
.mgnmesh, so that meshio.read("part.mgnmesh") returns a meshio.Mesh that any
meshio writer takes (Gmsh 4.1 .msh, .vtu, .xdmf, Abaqus .inp, ...).  Run as
a program (or through the mgn-meshio command) it is the meshio command line
with the format registered, writing .msh files as Gmsh 4.1:

    mgn-meshio convert part.mgnmesh part.msh
    mgn-meshio info part.mgnmesh

What the mesh file holds and where it goes in the meshio mesh:

- Nodes become the points, in the order of the file.  Their numbers and the
  model entity each lies on go to the point data "mgn:node_id",
  "mgn:entity_key", "mgn:entity_id" and "mgn:entity_property"; the node data
  of the output specification to "mgn:tangent" (3 components), "mgn:normal"
  (3), "mgn:t" (parameter on a curve), "mgn:u" and "mgn:v" (parameters on a
  surface, patch or shell), 0 for nodes that carry none.  "gmsh:dim_tags"
  gives the Gmsh entity of each node.
- Elements become cells, one block per element kind and owning entity:
  edges "line" ("line3" when quadratic), triangles "triangle" ("triangle6"),
  quads "quad" ("quad8"), tetras "tetra" ("tetra10"), pyramids "pyramid"
  ("pyramid13"), wedges "wedge" ("wedge15"), hexas "hexahedron"
  ("hexahedron20").  The corner and midside node orders of the mesh file are
  those of meshio (and VTK), so the nodes go over unchanged.  Interface
  elements (entity key 7) keep their kinds and are told apart by their
  entity key.
- Each cell carries "mgn:element_id" (its number in the file, which the
  neighbour columns refer to), "mgn:entity_key", "mgn:entity_id" and
  "mgn:entity_property" of its owning entity, and the Gmsh tags
  "gmsh:physical" and "gmsh:geometrical".  The element data of the output
  specification go to "mgn:iso_type" and, one array per side k (in the
  file's side order, 0 beyond an element's sides), "mgn:neighbour_k",
  "mgn:side_entity_id_k", "mgn:side_entity_key_k" and
  "mgn:side_entity_property_k" (the key of a triangle or quad side is 2, a
  curve, where its id is not 0).
- Every entity with elements becomes a named group: field_data maps
  "region_1", "surface_3", "curve_7", ... to [physical tag, dimension] (the
  Gmsh physical names) and cell_sets lists its cells (interface elements
  make one group per dimension, "interface_2_3d").  The physical tag is the
  entity's identifier for curves, surfaces and regions; patches, shells and
  interfaces, whose identifiers may repeat those of another kind of the
  same dimension, are numbered after the largest tag used in that dimension.

write() (and the command) fits the mesh to the output format first; see
fit_to_format() for what Abaqus files get.  The boundary-association
section of the mesh file is not carried over.
"""

import os
import sys

import numpy as np

import meshio

FORMAT_NAME = "mgn"
EXTENSIONS = [".mgnmesh"]

# Entity keys of the mesh file and the names of the groups made of them.
KIND_NAMES = {1: "vertex", 2: "curve", 3: "surface", 4: "region", 5: "patch", 6: "shell", 7: "interface"}

# The element sections in file order: meshio cell type (linear, quadratic),
# node count (linear, quadratic), number of sides, whether the iso type
# column exists, and the layout of the boundary entity columns (None: no
# columns; "ids_props": ids then properties of sides on curves; "ids_keys_props":
# ids, keys, then properties).
SECTIONS = [
    ("edge", ("line", "line3"), (2, 3), 0, False, None),
    ("triangle", ("triangle", "triangle6"), (3, 6), 3, True, "ids_props"),
    ("quad", ("quad", "quad8"), (4, 8), 4, True, "ids_props"),
    ("tetra", ("tetra", "tetra10"), (4, 10), 4, False, "ids_keys_props"),
    ("pyramid", ("pyramid", "pyramid13"), (5, 13), 5, False, "ids_keys_props"),
    ("wedge", ("wedge", "wedge15"), (6, 15), 5, False, "ids_keys_props"),
    ("hexa", ("hexahedron", "hexahedron20"), (8, 20), 6, True, "ids_keys_props"),
]
MAX_SIDES = 6

# Gmsh dimension of the entity a node or an element lies on, by key.
NODE_DIMENSION = {1: 0, 2: 1, 3: 2, 4: 3, 5: 2, 6: 2}
CELL_DIMENSION = {
    "line": 1, "line3": 1, "triangle": 2, "triangle6": 2, "quad": 2, "quad8": 2,
    "tetra": 3, "tetra10": 3, "pyramid": 3, "pyramid13": 3, "wedge": 3, "wedge15": 3,
    "hexahedron": 3, "hexahedron20": 3,
}
# Order in which kinds of one dimension are numbered for the Gmsh tags: the
# first keeps its identifiers, the others follow the largest one used.
TAG_ORDER = [2, 3, 4, 5, 6, 7]


class _Lines:
    """The lines of a mesh file with their numbers, for error messages."""

    def __init__(self, path):
        with open(path, "r", encoding="ascii", errors="replace") as f:
            self.lines = f.read().split("\n")
        self.path = path
        self.at = 0

    def fail(self, message, line=None):
        number = (self.at if line is None else line) + 1
        raise meshio.ReadError(f"{self.path}, line {number}: {message}")

    def take(self, count, what):
        """The next count lines, which must not be empty."""
        if self.at + count > len(self.lines):
            self.fail(f"the file ends inside the {what} section")
        block = self.lines[self.at:self.at + count]
        for k, line in enumerate(block):
            if not line.strip():
                self.fail(f"{count} {what} lines expected, the section has {k}", self.at + k)
        self.at += count
        return block

    def blank(self, after):
        if self.at >= len(self.lines) or self.lines[self.at].strip():
            self.fail(f"an empty line expected after the {after}")
        self.at += 1

    def integers(self, line_index, count, what):
        fields = self.lines[line_index].split()
        if len(fields) != count:
            self.fail(f"{count} numbers expected on the {what} line, found {len(fields)}", line_index)
        try:
            return [int(f) for f in fields]
        except ValueError:
            self.fail(f"integers expected on the {what} line", line_index)


def _table(lines, block, width, dtype, what):
    """The fields of equally long lines as a (len(block), width) array."""
    fields = " ".join(block).split()
    if len(fields) != len(block) * width:
        # Find the first line of the wrong length for the message.
        for k, line in enumerate(block):
            if len(line.split()) != width:
                lines.fail(f"{width} fields expected on a {what} line, found {len(line.split())}",
                           lines.at - len(block) + k)
    try:
        return np.array(fields, dtype=dtype).reshape(len(block), width)
    except ValueError:
        lines.fail(f"a malformed number in the {what} section")


def _read_nodes(lines, count, spec):
    """Coordinates, classification and node data of the node section."""
    block = lines.take(count, "node")
    first = lines.at - count
    if spec & 7 == 0:
        table = _table(lines, block, 7, np.float64, "node")
        node_data = None
    else:
        # Nodes carry data by the kind of entity they lie on, so the lines
        # differ in length.
        table = np.empty((count, 7))
        node_data = {name: np.zeros((count, width)) for name, width in
                     (("tangent", 3), ("normal", 3), ("t", 1), ("u", 1), ("v", 1))}
        for k, line in enumerate(block):
            fields = line.split()
            if len(fields) < 7:
                lines.fail("a node line has at least 7 fields", first + k)
            try:
                values = [float(f) for f in fields]
            except ValueError:
                lines.fail("a malformed number on a node line", first + k)
            table[k] = values[:7]
            key = int(values[4])
            rest = values[7:]
            expected = []
            if key == 2:
                expected = [("tangent", 3)] * bool(spec & 2) + [("t", 1)] * bool(spec & 1)
            elif key in (3, 5, 6):
                expected = [("normal", 3)] * bool(spec & 4) + [("uv", 2)] * bool(spec & 1)
            if len(rest) != sum(width for _, width in expected):
                lines.fail("the node data do not match the output specification and the node's entity",
                           first + k)
            at = 0
            for name, width in expected:
                if name == "uv":
                    node_data["u"][k, 0], node_data["v"][k, 0] = rest[at], rest[at + 1]
                else:
                    node_data[name][k] = rest[at:at + width]
                at += width
    ids = table[:, 0].astype(np.int64)
    classification = table[:, 4:7].astype(np.int64)
    return ids, table[:, 1:4].copy(), classification, node_data


def _read_elements(lines, count, section, degree, spec):
    """Node numbers, classification and element data of one section."""
    kind, _, node_counts, sides, has_iso, boundary = section
    nodes = node_counts[degree - 1]
    iso = 1 if (has_iso and spec & 64) else 0
    neighbours = sides if spec & 32 else 0
    if spec & 8 and boundary == "ids_props":
        side_columns = 2 * sides
    elif spec & 8 and boundary == "ids_keys_props":
        side_columns = 3 * sides
    else:
        side_columns = 0
    width = 1 + nodes + 3 + iso + neighbours + side_columns
    table = _table(lines, lines.take(count, kind), width, np.int64, kind)
    data = {"id": table[:, 0], "nodes": table[:, 1:1 + nodes], "class": table[:, 1 + nodes:4 + nodes]}
    at = 4 + nodes
    if iso:
        data["iso_type"] = table[:, at]
        at += 1
    if neighbours:
        padded = np.zeros((count, MAX_SIDES), dtype=np.int64)
        padded[:, :sides] = table[:, at:at + sides]
        data["neighbours"] = padded
        at += sides
    if side_columns:
        side = {name: np.zeros((count, MAX_SIDES), dtype=np.int64) for name in ("id", "key", "property")}
        side["id"][:, :sides] = table[:, at:at + sides]
        if boundary == "ids_props":
            # Sides of triangles and quads lie on curves.
            side["key"][:, :sides] = np.where(table[:, at:at + sides] != 0, 2, 0)
            side["property"][:, :sides] = table[:, at + sides:at + 2 * sides]
        else:
            side["key"][:, :sides] = table[:, at + sides:at + 2 * sides]
            side["property"][:, :sides] = table[:, at + 2 * sides:at + 3 * sides]
        data["sides"] = side
    return data


def read(filename):
    """Reads an mgn mesh file into a meshio.Mesh (see the module text)."""
    lines = _Lines(os.fspath(filename))
    header = lines.integers(0, 4, "header")
    mesh_type, degree, _, spec = header
    if mesh_type not in (3, 7):
        lines.fail(f"mesh type 3 or 7 expected, found {mesh_type}", 0)
    if degree not in (1, 2):
        lines.fail(f"element degree 1 or 2 expected, found {degree}", 0)
    if mesh_type == 3:
        n_nodes, n_edges, n_trias, n_tetras = lines.integers(1, 4, "count")
        counts = [n_edges, n_trias, 0, n_tetras, 0, 0, 0]
    else:
        n_nodes, *counts = lines.integers(1, 8, "count")
    if min([n_nodes] + counts) < 0:
        lines.fail("negative counts", 1)
    lines.at = 2
    lines.blank("counts")

    points = np.zeros((0, 3))
    node_ids = np.zeros(0, dtype=np.int64)
    node_class = np.zeros((0, 3), dtype=np.int64)
    node_data = None
    if n_nodes > 0:
        node_ids, points, node_class, node_data = _read_nodes(lines, n_nodes, spec)
        lines.blank("nodes")

    # Node numbers to point indices.
    if n_nodes > 0:
        order = np.argsort(node_ids, kind="stable")
        sorted_ids = node_ids[order]
        if np.any(sorted_ids[1:] == sorted_ids[:-1]):
            lines.fail("a node number occurs twice")

    sections = []
    for section, count in zip(SECTIONS, counts):
        if count == 0:
            continue
        start = lines.at
        data = _read_elements(lines, count, section, degree, spec)
        lines.blank(section[0] + "s")
        flat = data["nodes"].ravel()
        if n_nodes == 0:
            lines.fail(f"{section[0]}s refer to nodes but the file has none", start)
        position = np.searchsorted(sorted_ids, flat)
        position = np.minimum(position, len(sorted_ids) - 1)
        if np.any(sorted_ids[position] != flat):
            lines.fail(f"a {section[0]} refers to a node that is not in the node section", start)
        data["points"] = order[position].reshape(data["nodes"].shape)
        sections.append((section, data))

    return _build_mesh(points, node_ids, node_class, node_data, sections, degree)


def _owners(classification):
    """The distinct (key, id) pairs of a classification table, and for each
    row the index of its pair."""
    if len(classification) == 0:
        return np.zeros((0, 2), dtype=np.int64), np.zeros(0, dtype=np.int64)
    pairs, inverse = np.unique(classification[:, :2], axis=0, return_inverse=True)
    return pairs, inverse.ravel()


def _gmsh_tags(sections, node_class):
    """Physical tag of every (dimension, key, id) that owns elements or nodes.

    In each dimension the first kind present (in the order curve, surface,
    region, patch, shell, interface) keeps its identifiers and each further
    kind is numbered after the largest tag given so far; vertices keep
    theirs."""
    owners = set()
    for (_, types, _, _, _, _), data in sections:
        for key, ident in _owners(data["class"])[0]:
            owners.add((CELL_DIMENSION[types[0]], int(key), int(ident)))
    for key, ident in _owners(node_class)[0]:
        if int(key) in NODE_DIMENSION:
            owners.add((NODE_DIMENSION[int(key)], int(key), int(ident)))
    tags = {(d, k, i): i for d, k, i in owners if k == 1}
    for dim in range(1, 4):
        largest = None
        for key in TAG_ORDER:
            ids = sorted(i for d, k, i in owners if d == dim and k == key)
            if not ids:
                continue
            offset = 0 if largest is None else largest
            for i in ids:
                tags[(dim, key, i)] = i + offset
            largest = ids[-1] + offset
    return tags


def _element_columns(sections):
    """The element data arrays present in the file, each with the function
    that gives its column of one section's data (None: not in that section).
    One scalar array per column, for the largest number of sides among the
    kinds present, since some writers (Gmsh) take only 1, 3 or 9 components."""
    present = [data for _, data in sections]
    sides = max([section[3] for section, _ in sections], default=0)
    columns = {}
    if any("iso_type" in data for data in present):
        columns["mgn:iso_type"] = lambda data: data.get("iso_type")
    if any("neighbours" in data for data in present):
        for k in range(sides):
            columns[f"mgn:neighbour_{k + 1}"] = (
                lambda data, k=k: data["neighbours"][:, k] if "neighbours" in data else None)
    if any("sides" in data for data in present):
        for name in ("id", "key", "property"):
            for k in range(sides):
                columns[f"mgn:side_entity_{name}_{k + 1}"] = (
                    lambda data, name=name, k=k: data["sides"][name][:, k] if "sides" in data else None)
    return columns


def _build_mesh(points, node_ids, node_class, node_data, sections, degree):
    tags = _gmsh_tags(sections, node_class)

    point_data = {
        "mgn:node_id": node_ids,
        "mgn:entity_key": node_class[:, 0],
        "mgn:entity_id": node_class[:, 1],
        "mgn:entity_property": node_class[:, 2],
    }
    pairs, inverse = _owners(node_class)
    pair_tags = np.array([[NODE_DIMENSION.get(int(k), 3),
                           tags.get((NODE_DIMENSION.get(int(k), 3), int(k), int(i)), int(i))]
                          for k, i in pairs], dtype=np.int64).reshape(-1, 2)
    point_data["gmsh:dim_tags"] = pair_tags[inverse] if len(inverse) else np.zeros((0, 2), dtype=np.int64)
    if node_data is not None:
        for name, values in node_data.items():
            point_data["mgn:" + name] = values if values.shape[1] > 1 else values[:, 0]

    columns = _element_columns(sections)
    cell_data = {name: [] for name in ("mgn:element_id", "mgn:entity_key", "mgn:entity_id",
                                       "mgn:entity_property", "gmsh:physical", "gmsh:geometrical")}
    cell_data.update({name: [] for name in columns})
    cells = []
    groups = {}
    field_data = {}
    used_geometrical = set()
    next_free = {dim: 1 + max([t for (d, _, _), t in tags.items() if d == dim], default=0) for dim in range(4)}

    for section, data in sections:
        cell_type = section[1][degree - 1]
        dim = CELL_DIMENSION[cell_type]
        pairs, inverse = _owners(data["class"])
        # One block per owning entity, in the order entities first appear;
        # a stable sort keeps the file's order within each block.
        by_owner = np.argsort(inverse, kind="stable")
        bounds = np.searchsorted(inverse[by_owner], np.arange(len(pairs) + 1))
        first_row = [by_owner[bounds[p]] for p in range(len(pairs))]
        for p in sorted(range(len(pairs)), key=lambda p: first_row[p]):
            key, ident = int(pairs[p, 0]), int(pairs[p, 1])
            rows = by_owner[bounds[p]:bounds[p + 1]]
            n = len(rows)
            physical = tags[(dim, key, ident)]
            geometrical = physical
            if (dim, geometrical) in used_geometrical:
                # A second kind of element on the same entity: Gmsh wants one
                # element type per entity block, so it gets an entity of its own.
                geometrical = next_free[dim]
                next_free[dim] += 1
            used_geometrical.add((dim, geometrical))
            block = len(cells)
            cells.append(meshio.CellBlock(cell_type, data["points"][rows]))
            cell_data["mgn:element_id"].append(data["id"][rows])
            cell_data["mgn:entity_key"].append(data["class"][rows, 0])
            cell_data["mgn:entity_id"].append(data["class"][rows, 1])
            cell_data["mgn:entity_property"].append(data["class"][rows, 2])
            cell_data["gmsh:physical"].append(np.full(n, physical, dtype=np.int64))
            cell_data["gmsh:geometrical"].append(np.full(n, geometrical, dtype=np.int64))
            for name, column in columns.items():
                values = column(data)
                cell_data[name].append(values[rows] if values is not None else np.zeros(n, dtype=np.int64))
            group = f"{KIND_NAMES.get(key, 'entity' + str(key))}_{ident}"
            if key == 7:
                # An interface has elements of several dimensions: one group each.
                group = f"interface_{ident}_{dim}d"
            field_data.setdefault(group, np.array([physical, dim]))
            groups.setdefault(group, {})[block] = np.arange(n)

    # A set lists its cells in every block (none in most of them).
    empty = np.zeros(0, dtype=np.int64)
    cell_sets = {name: [members.get(b, empty) for b in range(len(cells))] for name, members in groups.items()}
    return meshio.Mesh(points, cells, point_data=point_data, cell_data=cell_data,
                       field_data=field_data, cell_sets=cell_sets)


def register():
    """Registers the format (also done when the module is imported)."""
    meshio.register_format(FORMAT_NAME, EXTENSIONS, read, {})


register()


def _know_quadratic_kinds():
    """Older meshio versions lack the dimension of two quadratic kinds,
    without which their cells cannot be made."""
    from meshio import _mesh

    _mesh.topological_dimension.setdefault("pyramid13", 3)
    _mesh.topological_dimension.setdefault("wedge15", 3)


_know_quadratic_kinds()


def _declare_element_entities():
    """meshio's Gmsh 4.1 writer declares only the entities that nodes lie on,
    and Gmsh refuses elements of an undeclared entity ("Unknown entity"), as
    a coarse mesh has them: a curve of one edge has no node of its own.  The
    entity list is made from the node entities and those of the cell blocks
    together.  Left as it is when meshio's writer is not the expected one."""
    try:
        from meshio.gmsh import _gmsh41
    except ImportError:
        return
    write_entities = getattr(_gmsh41, "_write_entities", None)
    if write_entities is None or getattr(write_entities, "mgn_declares_cells", False):
        return

    def declare_cells_too(fh, cells, tag_data, cell_sets, point_data, binary):
        if "gmsh:dim_tags" in point_data and "gmsh:geometrical" in tag_data:
            cell_tags = np.array([[block.dim, tag_data["gmsh:geometrical"][k][0]] for k, block in enumerate(cells)],
                                 dtype=np.asarray(point_data["gmsh:dim_tags"]).dtype).reshape(-1, 2)
            point_data = dict(point_data)
            point_data["gmsh:dim_tags"] = np.concatenate([point_data["gmsh:dim_tags"], cell_tags])
        return write_entities(fh, cells, tag_data, cell_sets, point_data, binary)

    declare_cells_too.mgn_declares_cells = True
    _gmsh41._write_entities = declare_cells_too


_declare_element_entities()


# Abaqus element names of the cells written to an .inp file: solid
# elements, truss elements for lines and shells for surface cells (of a mesh
# without volume cells).  The node orders are those of meshio.
ABAQUS_TYPES = {
    "line": "T3D2", "line3": "T3D3", "triangle": "S3", "triangle6": "STRI65", "quad": "S4", "quad8": "S8R",
    "tetra": "C3D4", "tetra10": "C3D10", "wedge": "C3D6", "wedge15": "C3D15", "hexahedron": "C3D8",
    "hexahedron20": "C3D20",
}
# Pyramids as hexahedra whose top face is collapsed onto the apex (Abaqus
# and CalculiX have no pyramid of their own): the corner and midside nodes
# of the hexahedron taken from those of the pyramid.
COLLAPSED_PYRAMID = {
    "pyramid": ("hexahedron", [0, 1, 2, 3, 4, 4, 4, 4]),
    "pyramid13": ("hexahedron20", [0, 1, 2, 3, 4, 4, 4, 4, 5, 6, 7, 8, 4, 4, 4, 4, 9, 10, 11, 12]),
}


def fit_to_format(mesh, file_format):
    """Fits a mesh read from an mgn mesh file to an output format, in place,
    and returns the extra arguments its meshio writer needs.

    - Outside Gmsh files the Gmsh node entities (2 components) are dropped.
    - VTK files cannot hold sets: the entity sets are dropped (the entity of
      each cell is in its cell data anyway).
    - Abaqus files get solver elements: when the mesh has volume cells, the
      cells of lower dimension become node sets named after their entity
      (surface_3, curve_7: for loads and boundary conditions) and only the
      volume cells are written, with the element sets of their regions;
      pyramids become collapsed hexahedra; the cells take Abaqus element
      names (C3D4, C3D10, ..., S3 and S4 shells for a surface mesh)."""
    if file_format not in ("gmsh", "gmsh22"):
        mesh.point_data.pop("gmsh:dim_tags", None)
    if file_format in ("vtu", "vtk"):
        mesh.cell_sets = {}
    if file_format != "abaqus":
        return {}
    top = max((block.dim for block in mesh.cells), default=0)
    if top == 3:
        keep = [k for k, block in enumerate(mesh.cells) if block.dim == 3]
        for name, members in mesh.cell_sets.items():
            nodes = [np.unique(mesh.cells[k].data[members[k]]) for k in range(len(mesh.cells))
                     if k not in keep and len(members[k])]
            if nodes:
                mesh.point_sets[name] = np.unique(np.concatenate(nodes))
        mesh.cell_sets = {name: [members[k] for k in keep] for name, members in mesh.cell_sets.items()
                          if any(len(members[k]) for k in keep)}
        mesh.cell_data = {name: [arrays[k] for k in keep] for name, arrays in mesh.cell_data.items()}
        mesh.cells = [mesh.cells[k] for k in keep]
    for k, block in enumerate(mesh.cells):
        cell_type, data = block.type, block.data
        if cell_type in COLLAPSED_PYRAMID:
            cell_type, columns = COLLAPSED_PYRAMID[cell_type]
            data = data[:, columns]
        # Made as the meshio kind, then named for the Abaqus writer.
        mesh.cells[k] = meshio.CellBlock(cell_type, data)
        mesh.cells[k].type = ABAQUS_TYPES.get(cell_type, cell_type)
    return {"translate_cell_names": False}


def write(filename, mesh, file_format=None, **kwargs):
    """meshio.write for a mesh read from an mgn mesh file: the format comes
    from the extension (.msh is Gmsh 4.1 here, where meshio would take ANSYS
    first), and the mesh is fitted to it (fit_to_format) before writing."""
    from pathlib import Path

    from meshio._helpers import _filetypes_from_path

    if file_format is None:
        found = _filetypes_from_path(Path(filename))
        file_format = "gmsh" if "gmsh" in found else found[0]
    if "mgn:entity_key" in mesh.cell_data:
        kwargs.update(fit_to_format(mesh, file_format))
    return meshio.write(filename, mesh, file_format=file_format, **kwargs)


def main(argv=None):
    """The meshio command line with the mgn format registered; a converted
    mgn mesh is written by write() above."""
    from meshio._cli import _convert
    from meshio._cli import main as meshio_main

    _convert.write = write
    return meshio_main(argv)


if __name__ == "__main__":
    sys.exit(main())
