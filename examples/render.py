#!/usr/bin/env python3
"""Meshes every example of this folder with the command in its header and
draws its mesh into pictures/<name>.png.

    python3 examples/render.py [--mgn build/mgn] [name ...]

Needs meshio (for the mesh file reader python/mgn_meshio.py) and matplotlib
(Debian: python3-meshio python3-matplotlib).  Volume meshes are drawn cut
open, so that the tetrahedra inside show: the faces on the model's surfaces
in blue, the faces of the cut in sand.
"""

import argparse
from collections import Counter
import os
import re
import shlex
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "python"))

import numpy as np  # noqa: E402

import matplotlib  # noqa: E402

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from mpl_toolkits.mplot3d.art3d import Line3DCollection, Poly3DCollection  # noqa: E402

import mgn_meshio  # noqa: E402

# How each picture looks: the camera (elevation and azimuth in degrees) and,
# for volume meshes, the part removed to open the mesh: the tetras whose
# centroid x has n . x > c for every (n, c) listed.
QUARTER = [((1, 0, 0), 0), ((0, -1, 0), 0)]
VIEWS = {
    "wire": {"camera": (25, -60)},
    "surface": {"camera": (90, -90)},
    "plate": {"camera": (35, -65), "cut": [((0, -1, 0), -20), ((1, 0, 0), 50)]},
    "cylinder": {"camera": (25, -50), "cut": QUARTER},
    "sphere": {"camera": (25, -50), "cut": QUARTER},
    "torus": {"camera": (45, -60), "cut": QUARTER},
    "plate_with_hole": {"camera": (40, -60), "cut": QUARTER},
    "box_with_void": {"camera": (25, -50), "cut": QUARTER},
    "flange": {"camera": (35, -65), "cut": [((1, 0, 0), 30), ((0, -1, 0), 0)]},
    "quad_plate": {"camera": (35, -65), "cut": [((0, -1, 0), -20), ((1, 0, 0), 50)]},
}
SURFACE_COLOUR = np.array([0.55, 0.70, 0.90])
CUT_COLOUR = np.array([0.93, 0.80, 0.55])
LIGHT = np.array([0.3, -0.5, 0.8])

# Tetra faces (corner indices) and the corners of the lower kinds.
TETRA_FACES = [(0, 2, 1), (0, 1, 3), (1, 2, 3), (2, 0, 3)]
PYRAMID_FACES = [(0, 1, 2, 3), (0, 1, 4), (1, 2, 4), (2, 3, 4), (3, 0, 4)]


def example_command(path):
    """The meshing command of an example: the header line that runs build/mgn."""
    for line in open(path):
        found = re.match(r"^#\s+(build/mgn\s.*)$", line.rstrip())
        if found:
            return shlex.split(found.group(1))
    raise SystemExit(f"{path}: no 'build/mgn ...' command in the header")


def mesh_example(name, mgn, folder):
    """Runs the example's command in folder; returns the mesh file it wrote."""
    command = example_command(os.path.join(HERE, name + ".mgn"))
    command = [mgn] + [os.path.join(ROOT, a) if a.startswith("examples/") else a for a in command[1:]]
    subprocess.run(command, cwd=folder, check=True, stdout=subprocess.DEVNULL)
    output = command[command.index("-o") + 1]
    return os.path.join(folder, output)


def shade(normals, colour):
    """Face colours lit from one direction (both sides alike)."""
    unit = normals / np.maximum(np.linalg.norm(normals, axis=1, keepdims=True), 1e-300)
    light = LIGHT / np.linalg.norm(LIGHT)
    intensity = 0.45 + 0.55 * np.abs(unit @ light)
    return np.clip(colour[None, :] * intensity[:, None], 0, 1)


def opened_volume(points, volumes, cut):
    """Faces of the volume elements left after the cut that bound them: the
    model's surface and the faces of the cut, each with its kind.  volumes:
    (corner array, face list) of each element kind."""
    kept_faces, counts, outer_counts = [], Counter(), Counter()
    for cells, face_list in volumes:
        centroids = points[cells].mean(axis=1)
        removed = np.ones(len(cells), dtype=bool)
        for normal, offset in cut:
            removed &= centroids @ np.array(normal, dtype=float) > offset
        kept = cells[~removed]
        for f in face_list:
            for face in map(tuple, kept[:, list(f)]):
                kept_faces.append(face)
                counts[tuple(sorted(face))] += 1
            for face in map(tuple, cells[:, list(f)]):
                outer_counts[tuple(sorted(face))] += 1
    # Faces of the whole mesh's boundary are the model's surface.
    boundary = [f for f in kept_faces if counts[tuple(sorted(f))] == 1]
    on_surface = np.array([outer_counts[tuple(sorted(f))] == 1 for f in boundary], dtype=bool)
    return boundary, on_surface


def draw(name, mesh_file, picture):
    mesh = mgn_meshio.read(mesh_file)
    points = mesh.points
    view = VIEWS.get(name, {"camera": (25, -60)})
    fig = plt.figure(figsize=(6.4, 4.8), dpi=100)
    ax = fig.add_subplot(projection="3d", computed_zorder=False)
    blocks = {}
    for block in mesh.cells:
        blocks.setdefault(block.type[:5], []).append(block.data)
    corners = {"tetra": 4, "pyram": 5, "trian": 3, "line": 2, "line3": 2}
    cells = {kind: np.concatenate(data)[:, :corners.get(kind, data[0].shape[1])] for kind, data in blocks.items()}

    if "tetra" in cells:
        volumes = [(cells["tetra"], TETRA_FACES)]
        if "pyram" in cells:
            volumes.append((cells["pyram"], PYRAMID_FACES))
        faces, on_surface = opened_volume(points, volumes, view["cut"])
        polygons = [points[list(f)] for f in faces]
        normals = np.array([np.cross(p[1] - p[0], p[2] - p[0]) for p in polygons])
        colours = np.where(on_surface[:, None], shade(normals, SURFACE_COLOUR), shade(normals, CUT_COLOUR))
        ax.add_collection3d(Poly3DCollection(polygons, facecolors=colours, edgecolors=(0.1, 0.1, 0.1, 0.6),
                                             linewidths=0.2))
        shown = np.concatenate(polygons)
    elif "trian" in cells:
        # A surface mesh: each surface in its own colour.
        triangles = points[cells["trian"]]
        owners = np.concatenate([ids for block, ids in zip(mesh.cells, mesh.cell_data["mgn:entity_id"])
                                 if block.type.startswith("triangle")])
        palette = np.array([SURFACE_COLOUR, [0.60, 0.82, 0.60], CUT_COLOUR, [0.85, 0.60, 0.65]])
        normals = np.cross(triangles[:, 1] - triangles[:, 0], triangles[:, 2] - triangles[:, 0])
        colours = np.concatenate([shade(normals[k:k + 1], palette[owner % len(palette)])
                                  for k, owner in enumerate(owners)])
        ax.add_collection3d(Poly3DCollection(triangles, facecolors=colours,
                                             edgecolors=(0.1, 0.1, 0.1, 0.8), linewidths=0.3))
        shown = triangles.reshape(-1, 3)
    else:
        segments = points[cells["line"]]
        ax.add_collection3d(Line3DCollection(segments, colors=(0.15, 0.3, 0.6), linewidths=1.0))
        ax.scatter(*points.T, s=6, color=(0.8, 0.3, 0.1), depthshade=False)
        shown = points

    # True proportions, the model filling the frame.
    low, high = shown.min(axis=0), shown.max(axis=0)
    extent = np.maximum(high - low, 1e-3 * (high - low).max())
    for axis, start, length in zip("xyz", low, extent):
        getattr(ax, f"set_{axis}lim")(start, start + length)
    ax.set_box_aspect(extent, zoom=0.95)
    ax.view_init(*view["camera"])
    ax.set_axis_off()
    ax.set_title(os.path.basename(mesh_file), fontsize=10)
    fig.subplots_adjust(0, 0, 1, 1)
    fig.savefig(picture, metadata={"Software": None})
    plt.close(fig)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mgn", default=os.path.join(ROOT, "build", "mgn"), help="the program (build/mgn)")
    parser.add_argument("names", nargs="*", help="examples to draw (all by default)")
    args = parser.parse_args()
    names = args.names or sorted(os.path.splitext(f)[0] for f in os.listdir(HERE) if f.endswith(".mgn"))
    os.makedirs(os.path.join(HERE, "pictures"), exist_ok=True)
    with tempfile.TemporaryDirectory() as folder:
        for name in names:
            mesh_file = mesh_example(name, os.path.abspath(args.mgn), folder)
            picture = os.path.join(HERE, "pictures", name + ".png")
            draw(name, mesh_file, picture)
            print(f"{name}: {os.path.relpath(picture, ROOT)}")


if __name__ == "__main__":
    main()
