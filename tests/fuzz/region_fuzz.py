#!/usr/bin/env python3
"""Region stress driver for the mgn executable.

Generates closed regions and meshes them with tetras:

  - boxes: one to three cells of a grid of boxes with random extents (some
    thin), each cell a region or cells merged into one region (an L or a
    bar, with reentrant edges); neighbouring regions share the face between
    them (one surface, listed positive by the region on one side and
    negative by the other); cells may also touch along an edge or at a
    corner only; six bilinear surfaces per cell;
  - spheres of eight rational octants with collapsed pole sides;
  - tori of sixteen rational biquadratic patches, thin to fat;
  - boxes with one to three spherical voids (walls down to 0.5 % of the
    radius), some filled by a ball region sharing the sphere's surfaces;
  - boxes with fixed surfaces (planar or twisted quads), curves (straight or
    rational arcs) and vertices inside them, sometimes close to the walls
    or a vertex close beside a quad; spheres and tori with a vertex fixed
    inside.

Surfaces are flipped at random (their sides listed with u and v exchanged,
which turns Su x Sv around, and the sign in the region line with it) and
curves are given backwards at random.  Every model is scaled, rotated (an
arbitrary rotation, a right-angle turn or none) and translated (sometimes
about 1e4 times its extent, or 1e4, away from the origin); rational weights
are kept, since an affine map of the control points maps the geometry; a
model scaled down gets the user epsilon (-e) scaled with it.  Sizes are
uniform (-u) or default (-d), chosen from an estimate of the tetra count
(at most --max-tetras), sometimes coarser than the model's thinnest part;
half the models are graded: one vertex (a corner, a pole or a fixed vertex)
gets a size ten times smaller than the rest; regions may get sizes of their
own.  Some runs add -k 2, -S, -s 0 to 3, -p 8, 16, 32, 56, 128 or 184, -r 1
to 3, -f, -q 2 or 3, or a log file (-g).

A run is a finding when

  - it ends by a signal, prints a sanitizer report (on standard error or in
    the -g log file, where standard error then goes), or runs past the time
    limit;
  - it ends with any status other than 0: every generated model is valid,
    and a mesher must close every valid region (a fatal manipulation error,
    status 10, is a finding too; its partial mesh is checked as well);
  - it ends with status 0 and the mesh file fails a check:
      * every tetra has a positive volume, computed from the written
        coordinates; a tetra flatter than the rounding of the eight written
        digits can tell is counted as unresolved, not as a finding;
      * no tetra is flat: the worst tetra quality the program reports (from
        its own coordinates) is not below 1e-12, nor the smallest dihedral
        angle (with -q 2) printed as 0.000 degrees;
      * every tetra face is shared by exactly two tetras of one region, on
        opposite sides, or is a triangle of a surface; every triangle of a
        surface is the face of exactly one tetra on each side that a region
        lies on (both sides of a fixed surface, one side of each region of a
        shared surface) and of none on a side without a region;
      * the tetra volumes of each region add up to the volume its boundary
        triangles enclose (an identity of the written coordinates: 1e-9
        relative); each closed shell of the boundary encloses its analytic
        volume: within 1e-6 relative plus the rounding of the written
        coordinates for boxes, within chord error bounds for spheres, voids
        and tori;
      * every node lies on its entity: a vertex's node at the vertex, a
        curve's or surface's node on the planes, spheres, tori or lines it
        belongs to, a region's node inside the region; every node is a
        corner of a tetra; the fixed vertices are nodes, the edges of the
        fixed curves are tetra edges and run from one end of their curve to
        the other;
      * quadratic meshes (-k 2): the checks above on the corner nodes, and
        every edge of the mesh has one midside node shared by all the
        elements along it, at the middle of the edge (or on the edge's
        curve or surface near it);
      * with -p 32 the tetra neighbour columns name the tetra across each
        face (across a surface too) or 0; with -p 8 the boundary entity
        columns name the surface of each face lying on one; with -p 16 the
        boundary association lists the tetras at each surface triangle;
      * printed counts differ from the mesh file's, or (on a few reruns) the
        mesh file differs between two runs of the same case.

Usage:
  region_fuzz.py [--mgn build-sanitize/mgn] [--seconds 120] [--seed 1]
                 [--timeout 60] [--max-tetras 20000] [--out DIR] [--runs N]
                 [--kinds boxes,sphere,torus,void,fixed] [--quads SHARE] [--verbose]

With --quads, that share of the cases puts QUAD on every surface: the
regions then get a pyramid on every boundary quad, and each pyramid and
each quad is checked as the two tetras and triangles its base diagonal
(through its lowest node number) cuts it into.  The test script does not
use it yet: pyramids on coarse warped quads and flat tetras beside
pyramids still fail in about one such case in a hundred.
  region_fuzz.py --replay DIR/finding-N   (runs one saved case again; also
                                           a case file, CASE.json)
  region_fuzz.py --reduce DIR/finding-N   (simplifies it: case.min.json,
                                           model.min.mgn, args.min.json)

A finding is saved as a directory with the case (case.json: the generation
parameters), model.mgn, args.json, standard output and error and the reason;
the script exits with 1 when there is any finding.  The case sequence
depends only on the seed; with --runs the set of cases is fixed.  Standard
library only.
"""

import argparse
import copy
import json
import math
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from fuzz_vectors import cross, dist, dot, norm, sub

SANITIZER_MARKS = ("AddressSanitizer", "UndefinedBehaviorSanitizer", "runtime error:", "LeakSanitizer")
KINDS = ["boxes", "sphere", "torus", "void", "fixed"]
W45 = math.sqrt(0.5)          # weight of a quarter circle's middle control point
WRITTEN_ROUNDING = 5e-8       # relative rounding of a coordinate written with eight digits


# ---------------------------------------------------------------------------
# Vectors.

def add(a, b):
    return (a[0] + b[0], a[1] + b[1], a[2] + b[2])


def mul(a, s):
    return (a[0] * s, a[1] * s, a[2] * s)


def det3(a, b, c):
    return dot(a, cross(b, c))


def rotation_matrix(q):
    """Rotation matrix of the quaternion q = (w, x, y, z), normalised."""
    w, x, y, z = q
    n = math.sqrt(w * w + x * x + y * y + z * z)
    w, x, y, z = w / n, x / n, y / n, z / n
    return ((1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)),
            (2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)),
            (2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)))


def random_quaternion(rng):
    """A uniformly distributed rotation (Shoemake)."""
    u1, u2, u3 = rng.random(), rng.random(), rng.random()
    a, b = math.sqrt(1 - u1), math.sqrt(u1)
    return [a * math.sin(2 * math.pi * u2), a * math.cos(2 * math.pi * u2),
            b * math.sin(2 * math.pi * u3), b * math.cos(2 * math.pi * u3)]


class Transform:
    """x -> shift + scale * R x."""

    def __init__(self, t):
        self.scale = t["scale"]
        self.shift = tuple(t["shift"])
        self.rot = rotation_matrix(t["rot"]) if t["rot"] else None

    def __call__(self, p):
        if self.rot:
            r = self.rot
            p = (dot(r[0], p), dot(r[1], p), dot(r[2], p))
        return add(self.shift, mul(p, self.scale))

    def inverse(self, p):
        p = mul(sub(p, self.shift), 1.0 / self.scale)
        if self.rot:
            r = self.rot
            p = tuple(r[0][k] * p[0] + r[1][k] * p[1] + r[2][k] * p[2] for k in range(3))
        return p


def fmt(x):
    x = float(x)
    if x == 0.0:
        return "0"
    if x.is_integer() and abs(x) < 1e15:
        return str(int(x))
    return repr(x)


# ---------------------------------------------------------------------------
# Models.

class Model:
    """A model in its own coordinates, written through a transform.

    Regions carry what their mesh must satisfy: the sides of their boundary
    surfaces, their fixed entities, the closed shells of their boundary
    (parts) with the volume each encloses and how closely a mesh of it
    follows that volume ('exact' for boxes, 'inscribed' for a ball, 'void'
    for a ball taken out, 'approx' for a torus), and a test of whether a
    point lies in the region.  Surfaces carry their shape ('plane',
    'sphere', 'torus' or none) for the test that their nodes lie on them."""

    def __init__(self):
        self.vertices = {}        # id -> [point, size or None]
        self.curves = {}          # id -> (a, b, [(point, weight), ...])
        self.surfaces = {}        # id -> (sides, [(i, j, point, weight), ...])
        self.regions = {}         # id -> dict
        self.shapes = {}          # surface id -> ("plane", point, normal) | ("sphere", centre, r) | ("torus", R, r)
        self.fixed_curve_info = {}
        self.curve_shapes = {}    # curve id -> ("line", point, unit direction)
        self.comments = []
        self.reverse = None       # random.Random deciding which curves are given backwards
        self.quads = False        # QUAD on every surface: pyramids on the region boundaries

    def vertex(self, p):
        vid = len(self.vertices) + 1
        self.vertices[vid] = [tuple(p), None]
        return vid

    def curve(self, a, b, inner=()):
        cid = len(self.curves) + 1
        self.curves[cid] = (a, b, list(inner))
        return cid

    def surface(self, sides, inner=()):
        sid = len(self.surfaces) + 1
        self.surfaces[sid] = (tuple(sides), list(inner))
        return sid

    def region(self, boundary, parts, inside):
        """parts: [(surface ids, volume, kind, deficit)]; inside(point, tol)."""
        rid = len(self.regions) + 1
        self.regions[rid] = {"boundary": list(boundary), "parts": list(parts), "inside": inside,
                             "fixed_surfaces": [], "fixed_curves": [], "fixed_vertices": []}
        return rid

    def text(self, xf):
        out = ["# " + c for c in self.comments]
        for vid, (p, size) in self.vertices.items():
            q = xf(p)
            line = "vertex %d xyz %s %s %s" % (vid, fmt(q[0]), fmt(q[1]), fmt(q[2]))
            if size is not None:
                line += " size %s" % fmt(size)
            out.append(line)
        for cid, (a, b, inner) in self.curves.items():
            if self.reverse is not None and self.reverse.random() < 0.3 and a != b:
                a, b, inner = b, a, list(reversed(inner))
            line = "curve %d vertex %d %d" % (cid, a, b)
            if inner:
                line += " order %d" % (len(inner) + 2)
            out.append(line)
            for k, (p, w) in enumerate(inner, start=1):
                q = xf(p)
                out.append("polygon %d xyz %s %s %s%s" % (k, fmt(q[0]), fmt(q[1]), fmt(q[2]),
                                                          "" if w == 1.0 else " weight %s" % fmt(w)))
        for sid, (sides, inner) in self.surfaces.items():
            out.append("surface %d curve %d %d %d %d%s" % ((sid,) + sides + (" quad" if self.quads else "",)))
            for i, j, p, w in inner:
                q = xf(p)
                out.append("polygon %d %d xyz %s %s %s%s" % (i, j, fmt(q[0]), fmt(q[1]), fmt(q[2]),
                                                             "" if w == 1.0 else " weight %s" % fmt(w)))
        for rid, r in self.regions.items():
            line = "region %d boundary surface %s" % (rid, " ".join(str(s) for s in r["boundary"]))
            for word, key in (("surface", "fixed_surfaces"), ("curve", "fixed_curves"),
                              ("vertex", "fixed_vertices")):
                if r[key]:
                    line += " fixed %s %s" % (word, " ".join(str(x) for x in r[key]))
            if r.get("size") is not None:
                line += " size %s" % fmt(float("%.6g" % r["size"]))
            out.append(line)
        return "\n".join(out) + "\n"

    def sides_of_surfaces(self):
        """surface id -> {+1: [regions], -1: [regions]}: the regions on the
        side Su x Sv points to and on the other side."""
        sides = {}
        for rid, r in self.regions.items():
            for s in r["boundary"]:
                sides.setdefault(abs(s), {1: [], -1: []})[1 if s > 0 else -1].append(rid)
            for s in r["fixed_surfaces"]:
                d = sides.setdefault(s, {1: [], -1: []})
                d[1].append(rid)
                d[-1].append(rid)
        return sides


def quad_surface(m, corners, flip):
    """A bilinear surface on the corners c00, c10, c11, c01 (vertex ids) of
    the square u, v in [0, 1], with Su x Sv as the corners give it, or turned
    around (flip: u and v exchanged).  Curves between corners are shared
    through m.edge_curves."""
    c00, c10, c11, c01 = corners

    def edge(a, b):
        key = (a, b) if a < b else (b, a)
        if key not in m.edge_curves:
            m.edge_curves[key] = m.curve(a, b)
        return m.edge_curves[key]

    s1, s2, s3, s4 = edge(c00, c10), edge(c00, c01), edge(c01, c11), edge(c10, c11)
    return m.surface((s2, s1, s4, s3) if flip else (s1, s2, s3, s4))


# Boxes ---------------------------------------------------------------------

def grid_cells_connected(cells):
    cells = [tuple(c) for c in cells]
    if not cells:
        return False
    seen = {cells[0]}
    todo = [cells[0]]
    while todo:
        c = todo.pop()
        for d in range(3):
            for s in (-1, 1):
                n = list(c)
                n[d] += s
                n = tuple(n)
                if n in cells and n not in seen:
                    seen.add(n)
                    todo.append(n)
    return len(seen) == len(cells)


def build_boxes(m, p, flips):
    """Cells of a grid of boxes; the cells of one group (p["groups"], or
    each cell alone) form one region, whose boundary is the faces between
    its cells and the other cells or the outside (an L-shaped group is a
    region with a reentrant edge).  Returns the vertex ids of the grid
    corners by index."""
    xs, ys, zs = p["xs"], p["ys"], p["zs"]
    cells = [tuple(c) for c in p["cells"]]
    groups = p.get("groups") or list(range(len(cells)))
    group_of = dict(zip(cells, groups))
    m.edge_curves = {}
    vid = {}

    def v(i, j, k):
        if (i, j, k) not in vid:
            vid[(i, j, k)] = m.vertex((xs[i], ys[j], zs[k]))
        return vid[(i, j, k)]

    def face_of(c, d, s):
        """Face d (axis) of cell c on its low (s = 0) or high side, and the
        cell beyond it."""
        f = (d, c[0] + (s if d == 0 else 0), c[1] + (s if d == 1 else 0), c[2] + (s if d == 2 else 0))
        beyond = list(c)
        beyond[d] += 1 if s else -1
        return f, tuple(beyond)

    # Faces of the grid between groups, normal toward +axis before the flip.
    faces = {}
    for c in cells:
        for d in range(3):
            for s in (0, 1):
                f, beyond = face_of(c, d, s)
                if f in faces or group_of.get(beyond) == group_of[c]:
                    continue
                _, i, j, k = f
                if d == 2:    # u along x, v along y: Su x Sv = +z
                    corners = (v(i, j, k), v(i + 1, j, k), v(i + 1, j + 1, k), v(i, j + 1, k))
                elif d == 0:  # u along y, v along z: +x
                    corners = (v(i, j, k), v(i, j + 1, k), v(i, j + 1, k + 1), v(i, j, k + 1))
                else:         # u along z, v along x: +y
                    corners = (v(i, j, k), v(i, j, k + 1), v(i + 1, j, k + 1), v(i + 1, j, k))
                flip = flips.random() < 0.5 if flips else False
                sid = quad_surface(m, corners, flip)
                faces[f] = (sid, flip)
                normal = [0.0, 0.0, 0.0]
                normal[d] = -1.0 if flip else 1.0
                m.shapes[sid] = ("plane", (xs[i], ys[j], zs[k]), tuple(normal))
    for group in sorted(set(groups)):
        mine = [c for c in cells if group_of[c] == group]
        boundary = []
        boxes = []
        vol = 0.0
        for c in mine:
            for d in range(3):
                for s in (0, 1):
                    f, beyond = face_of(c, d, s)
                    if group_of.get(beyond) == group:
                        continue
                    sid, flip = faces[f]
                    # The unflipped normal points +axis: into the cell on
                    # its low face (s = 0), out of it on its high face.
                    sign = 1 if s == 0 else -1
                    boundary.append(-sign * sid if flip else sign * sid)
            lo = (xs[c[0]], ys[c[1]], zs[c[2]])
            hi = (xs[c[0] + 1], ys[c[1] + 1], zs[c[2] + 1])
            vol += (hi[0] - lo[0]) * (hi[1] - lo[1]) * (hi[2] - lo[2])
            boxes.append(in_box(lo, hi))
        m.region(boundary, [(set(abs(b) for b in boundary), vol, "exact", 0.0)],
                 lambda q, tol, boxes=boxes: any(b(q, tol) for b in boxes))
    return vid


def in_ball(centre, r):
    return lambda p, tol: dist(p, centre) <= r + tol


def in_box(lo, hi):
    return lambda p, tol: all(lo[d] - tol <= p[d] <= hi[d] + tol for d in range(3))


def gen_boxes(rng):
    n = rng.choice([1, 1, 2, 2, 3])
    dims = [1, 1, 1]
    if n > 1:
        # Cells on a grid of up to 3 x 2 x 2; a face-connected set of n.
        dims = [rng.choice([1, 2, 3]), rng.choice([1, 2]), rng.choice([1, 2])]
        while dims[0] * dims[1] * dims[2] < n:
            dims[rng.randrange(3)] += 1
    all_cells = [(i, j, k) for i in range(dims[0]) for j in range(dims[1]) for k in range(dims[2])]
    # Mostly cells sharing faces; sometimes cells touching along an edge or
    # at a corner only, or apart.
    anyhow = rng.random() < 0.25
    while True:
        cells = rng.sample(all_cells, n)
        if anyhow or grid_cells_connected(cells):
            break

    def axis(count):
        vals = [0.0]
        for _ in range(count):
            vals.append(vals[-1] + rng.choice([0.01, 0.05, 0.2, 0.5, 1.0, 1.0, 1.7, 3.0]) * rng.uniform(0.6, 1.4))
        return [round(x, 6) for x in vals]

    cells = sorted(cells)
    groups = None
    if n > 1 and grid_cells_connected(cells) and rng.random() < 0.4:
        # Some cells merged into one region (an L or a bar of boxes).
        for _ in range(20):
            trial = [rng.randrange(n - 1) if rng.random() < 0.5 else 0 for _ in cells]
            if all(grid_cells_connected([c for c, t in zip(cells, trial) if t == k]) for k in set(trial)) \
                    and len(set(trial)) < n:
                groups = trial
                break
    return {"kind": "boxes", "xs": axis(dims[0]), "ys": axis(dims[1]), "zs": axis(dims[2]),
            "cells": [list(c) for c in cells], "groups": groups}


# Spheres -------------------------------------------------------------------

def build_sphere(m, c, r, flips):
    """The sphere of eight rational octants around c with radius r, normals
    Su x Sv pointing out (before flips); returns ({surface: sign giving the
    side outside the ball}, vertex ids)."""
    cx, cy, cz = c
    eq = [m.vertex((cx + r, cy, cz)), m.vertex((cx, cy + r, cz)), m.vertex((cx - r, cy, cz)),
          m.vertex((cx, cy - r, cz))]
    north = m.vertex((cx, cy, cz + r))
    south = m.vertex((cx, cy, cz - r))
    dirs = [(1, 0), (0, 1), (-1, 0), (0, -1)]
    equator = []
    for k in range(4):
        a, b = dirs[k], dirs[(k + 1) % 4]
        mid = (cx + r * (a[0] + b[0]), cy + r * (a[1] + b[1]), cz)
        equator.append(m.curve(eq[k], eq[(k + 1) % 4], [(mid, W45)]))
    up, down = [], []
    for k in range(4):
        a = dirs[k]
        up.append(m.curve(eq[k], north, [((cx + r * a[0], cy + r * a[1], cz + r), W45)]))
        down.append(m.curve(eq[k], south, [((cx + r * a[0], cy + r * a[1], cz - r), W45)]))
    pole_n = [m.curve(north, north, [((cx, cy, cz + r), W45)]) for _ in range(4)]
    pole_s = [m.curve(south, south, [((cx, cy, cz - r), W45)]) for _ in range(4)]
    out = {}
    for k in range(4):
        a, b = dirs[k], dirs[(k + 1) % 4]
        corner = (cx + r * (a[0] + b[0]), cy + r * (a[1] + b[1]))
        # Northern octant: u along the equator, v up to the pole.
        sides = (equator[k], up[k], pole_n[k], up[(k + 1) % 4])
        flip = flips.random() < 0.5 if flips else False
        sid = m.surface((sides[1], sides[0], sides[3], sides[2]) if flip else sides,
                        [(1, 1, (corner[0], corner[1], cz + r), 0.5)])
        out[sid] = -1 if flip else 1
        m.shapes[sid] = ("sphere", c, r)
    for k in range(4):
        a, b = dirs[k], dirs[(k + 1) % 4]
        corner = (cx + r * (a[0] + b[0]), cy + r * (a[1] + b[1]))
        # Southern octant: u down to the pole, v along the equator.
        sides = (down[k], equator[k], down[(k + 1) % 4], pole_s[k])
        flip = flips.random() < 0.5 if flips else False
        sid = m.surface((sides[1], sides[0], sides[3], sides[2]) if flip else sides,
                        [(1, 1, (corner[0], corner[1], cz - r), 0.5)])
        out[sid] = -1 if flip else 1
        m.shapes[sid] = ("sphere", c, r)
    return out, eq + [north, south]


def sphere_deficit(size, r):
    """A bound of the relative volume an inscribed polyhedron of edges up to
    about `size` loses on a ball of radius r (three times the sagitta ratio,
    doubled for the rounding of coarse meshes), capped for the coarsest."""
    return min(0.75, 6.0 * (size / r) ** 2 / 8.0 + 0.02)


def gen_sphere(rng):
    r = round(rng.uniform(0.5, 3.0), 4)
    inner = None
    if rng.random() < 0.3:
        # A vertex fixed inside, at the centre or off it.
        inner = [0.0, 0.0, 0.0] if rng.random() < 0.3 else \
            [round(x, 4) for x in mul(unit_vector(rng), r * rng.uniform(0.1, 0.7))]
    return {"kind": "sphere", "r": r, "inner": inner}


def unit_vector(rng):
    while True:
        p = (rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1))
        if 0.01 < norm(p) <= 1.0:
            return mul(p, 1.0 / norm(p))


def gen_void(rng):
    """A box with one to three spherical voids, some of them filled by a
    ball region; the walls between voids and box are at least 0.5 % of the
    radius thick, mostly more."""
    r0 = round(rng.uniform(0.4, 1.5), 4)
    count = rng.choice([1, 1, 1, 2, 3])
    half = [round(r0 * rng.uniform(1.25, 3.0) * (1.0 if count == 1 else 1.6), 4) for _ in range(3)]
    spheres = []
    for _ in range(200):
        if len(spheres) == count:
            break
        r = r0 if not spheres else round(r0 * rng.uniform(0.3, 1.0), 4)
        wall = r * rng.choice([0.005, 0.03, 0.1, 0.2, 0.2, 0.4])
        if any(h < r + wall for h in half):
            continue
        centre = [round(rng.uniform(-(h - r - wall), h - r - wall), 4) for h in half]
        if all(dist(centre, q[:3]) >= r + q[3] + max(wall, 0.005 * min(r, q[3])) for q in spheres):
            spheres.append(centre + [r])
    return {"kind": "void", "half": half, "spheres": spheres, "balls": [rng.random() < 0.35 for _ in spheres]}


# Tori ----------------------------------------------------------------------

def build_torus(m, big, small, flips):
    """The torus around the z axis (radii big and small) of sixteen rational
    patches, normals Su x Sv pointing out of the tube before flips."""
    phis = [(1, 0), (0, 1), (-1, 0), (0, -1)]
    tube = [(1, 0), (0, 1), (-1, 0), (0, -1)]   # (radial, z) around the tube, counterclockwise in (rho, z)

    def point(i, j):
        rho = big + small * tube[j][0]
        return (rho * phis[i][0], rho * phis[i][1], small * tube[j][1])

    vid = {(i, j): m.vertex(point(i, j)) for i in range(4) for j in range(4)}
    around = {}   # (i, j): arc from phi i to i + 1 at tube angle j
    for i in range(4):
        for j in range(4):
            rho = big + small * tube[j][0]
            a, b = phis[i], phis[(i + 1) % 4]
            mid = (rho * (a[0] + b[0]), rho * (a[1] + b[1]), small * tube[j][1])
            around[(i, j)] = m.curve(vid[(i, j)], vid[((i + 1) % 4, j)], [(mid, W45)])
    across = {}   # (i, j): arc from tube angle j to j + 1 at phi i
    for i in range(4):
        for j in range(4):
            a, b = tube[j], tube[(j + 1) % 4]
            rho = big + small * (a[0] + b[0])
            mid = (rho * phis[i][0], rho * phis[i][1], small * (a[1] + b[1]))
            across[(i, j)] = m.curve(vid[(i, j)], vid[(i, (j + 1) % 4)], [(mid, W45)])
    signs = {}
    for i in range(4):
        for j in range(4):
            # u along phi (from i to i + 1), v along the tube angle j to j + 1:
            # Su x Sv = e_phi x e_tube points out of the tube.
            a, b = phis[i], phis[(i + 1) % 4]
            ta, tb = tube[j], tube[(j + 1) % 4]
            rho = big + small * (ta[0] + tb[0])
            corner = (rho * (a[0] + b[0]), rho * (a[1] + b[1]), small * (ta[1] + tb[1]))
            sides = (around[(i, j)], across[(i, j)], around[(i, (j + 1) % 4)], across[((i + 1) % 4, j)])
            flip = flips.random() < 0.5 if flips else False
            sid = m.surface((sides[1], sides[0], sides[3], sides[2]) if flip else sides, [(1, 1, corner, 0.5)])
            signs[sid] = -1 if flip else 1
            m.shapes[sid] = ("torus", big, small)
    return signs, [vid[(i, j)] for i in range(4) for j in range(4)]


def gen_torus(rng):
    big = round(rng.uniform(1.0, 3.0), 4)
    small = round(big * (rng.uniform(0.15, 0.6) if rng.random() < 0.8 else rng.uniform(0.6, 0.95)), 4)
    inner = None
    if rng.random() < 0.3:
        # A vertex fixed inside the tube.
        phi, theta, rho = rng.uniform(0, 2 * math.pi), rng.uniform(0, 2 * math.pi), small * rng.uniform(0, 0.6)
        radial = big + rho * math.cos(theta)
        inner = [round(radial * math.cos(phi), 4), round(radial * math.sin(phi), 4), round(rho * math.sin(theta), 4)]
    return {"kind": "torus", "R": big, "r": small, "inner": inner}


# Fixed entities --------------------------------------------------------------

def gen_fixed(rng):
    """A box cut into slabs along its longest side, one fixed entity (a
    vertex, a straight or curved curve, a planar or twisted quad) in each;
    sometimes a vertex close beside the quad or entities close to the
    walls."""
    ext = [round(rng.choice([1.0, 1.5, 2.0, 3.0]) * rng.uniform(0.7, 1.3), 4) for _ in range(3)]
    longest = max(range(3), key=lambda d: ext[d])
    order = [rng.choice(["surface", "curve", "vertex"]) for _ in range(rng.choice([2, 3, 3, 4]))]
    if rng.random() < 0.6:
        order[:3] = ["surface", "curve", "vertex"][:len(order)]
        rng.shuffle(order)
    slab = ext[longest] / len(order)
    items = []
    for k, what in enumerate(order):
        lo, hi = [0.0] * 3, list(ext)
        lo[longest], hi[longest] = k * slab, (k + 1) * slab
        margin = rng.choice([0.2, 0.2, 0.2, 0.05, 0.01])
        box = [(lo[d] + margin * (hi[d] - lo[d]), hi[d] - margin * (hi[d] - lo[d])) for d in range(3)]
        centre = [round(rng.uniform(a, b), 4) for a, b in box]
        room = min(min(c - a, b - c) for c, (a, b) in zip(centre, box)) + margin * 0.75 * min(hi[d] - lo[d] for d in range(3))
        if what == "vertex":
            items.append({"what": "vertex", "p": centre})
        elif what == "curve":
            q = random_quaternion(rng)
            half = room * rng.uniform(0.6, 0.95)
            bulge = round(rng.choice([0.0, 0.0, 0.3, 0.6]) * half, 4)
            items.append({"what": "curve", "centre": centre, "rot": q, "half": round(half, 4), "bulge": bulge,
                          "weight": rng.choice([1.0, W45, 0.5, 2.0])})
        else:
            q = random_quaternion(rng) if rng.random() < 0.7 else None
            a = room * rng.uniform(0.4, 0.7)
            b = room * rng.uniform(0.4, 0.7)
            twist = round(rng.choice([0.0, 0.0, 0.0, 0.3]) * min(a, b), 4)
            items.append({"what": "surface", "centre": centre, "rot": q, "a": round(a, 4), "b": round(b, 4),
                          "twist": twist})
            if rng.random() < 0.2 and not twist:
                # A vertex close beside the quad, off its middle.
                e = local_frame(q)
                gap = room * rng.choice([0.02, 0.1, 0.3])
                p = add(add(centre, mul(e[2], gap)), mul(e[0], 0.3 * a))
                items.append({"what": "vertex", "p": [round(x, 6) for x in p]})
    return {"kind": "fixed", "ext": ext, "items": items}


def local_frame(q):
    r = rotation_matrix(q) if q else ((1, 0, 0), (0, 1, 0), (0, 0, 1))
    return [(r[0][k], r[1][k], r[2][k]) for k in range(3)]


def build_fixed(m, p, flips):
    ext = p["ext"]
    box = {"kind": "boxes", "xs": [0.0, ext[0]], "ys": [0.0, ext[1]], "zs": [0.0, ext[2]], "cells": [[0, 0, 0]]}
    corners = build_boxes(m, box, flips)
    region = m.regions[1]
    fixed_vertex = None
    for it in p["items"]:
        if it["what"] == "vertex":
            fixed_vertex = m.vertex(tuple(it["p"]))
            region["fixed_vertices"].append(fixed_vertex)
        elif it["what"] == "curve":
            e = local_frame(it["rot"])
            c = tuple(it["centre"])
            a = m.vertex(add(c, mul(e[0], -it["half"])))
            b = m.vertex(add(c, mul(e[0], it["half"])))
            inner = []
            if it["bulge"]:
                inner = [(add(c, mul(e[1], it["bulge"])), it["weight"])]
            cid = m.curve(a, b, inner)
            region["fixed_curves"].append(cid)
            if not inner:
                m.curve_shapes[cid] = ("line", add(c, mul(e[0], -it["half"])), e[0])
            m.fixed_curve_info[cid] = (a, b, 2 * it["half"], curve_length_of(m, cid))
        else:
            e = local_frame(it["rot"])
            c = tuple(it["centre"])
            pts = []
            for su, sv in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
                q = add(c, add(mul(e[0], su * it["a"]), mul(e[1], sv * it["b"])))
                q = add(q, mul(e[2], su * sv * it["twist"]))
                pts.append(m.vertex(q))
            sid = quad_surface(m, pts, flips.random() < 0.5 if flips else False)
            region["fixed_surfaces"].append(sid)
            if not it["twist"]:
                m.shapes[sid] = ("plane", c, e[2])
    return corners, fixed_vertex


def bezier_point(net, t):
    """Point of a rational Bezier curve given as [(point, weight), ...]."""
    pts = [(q[0] * w, q[1] * w, q[2] * w, w) for q, w in net]
    n = len(pts)
    for r in range(1, n):
        pts = [tuple((1 - t) * a + t * b for a, b in zip(pts[i], pts[i + 1])) for i in range(n - r)]
    x, y, z, w = pts[0]
    return (x / w, y / w, z / w)


def curve_length_of(m, cid, samples=400):
    a, b, inner = m.curves[cid]
    net = [(m.vertices[a][0], 1.0)] + inner + [(m.vertices[b][0], 1.0)]
    total = 0.0
    prev = bezier_point(net, 0.0)
    for i in range(1, samples + 1):
        cur = bezier_point(net, i / samples)
        total += dist(prev, cur)
        prev = cur
    return total


# Cases -----------------------------------------------------------------------

def build_model(case):
    """The model of a case (its generation parameters); the same case gives
    the same text."""
    g = case["geometry"]
    m = Model()
    flips = random.Random(case["flip_seed"]) if case.get("flip_seed") is not None else None
    if case.get("reverse_seed") is not None:
        m.reverse = random.Random(case["reverse_seed"])
    m.quads = bool(case.get("quads"))
    graded_candidates = []
    # The share of a ball around each candidate that the regions fill.
    fraction = {}
    size = case["size"]
    if g["kind"] == "boxes":
        m.comments.append("boxes: %d cell(s) of a grid, each a region" % len(g["cells"]))
        vid = build_boxes(m, g, flips)
        graded_candidates = sorted(vid.values())
        cells = set(tuple(c) for c in g["cells"])
        for (i, j, k), v in vid.items():
            around = [(i - a, j - b, k - c) for a in (0, 1) for b in (0, 1) for c in (0, 1)]
            fraction[v] = sum(1 for c in around if c in cells) / 8.0
    elif g["kind"] == "sphere":
        m.comments.append("sphere of eight rational octants, radius %s" % g["r"])
        signs, verts = build_sphere(m, (0.0, 0.0, 0.0), g["r"], flips)
        r = g["r"]
        m.region([-s * sid for sid, s in signs.items()],
                 [(set(signs), 4.0 / 3.0 * math.pi * r ** 3, "inscribed", sphere_deficit(size, r))],
                 in_ball((0.0, 0.0, 0.0), r))
        graded_candidates = verts
        fraction = {v: 0.5 for v in verts}
        add_inner_vertex(m, g, graded_candidates, fraction)
    elif g["kind"] == "torus":
        m.comments.append("torus of sixteen rational patches, radii %s and %s" % (g["R"], g["r"]))
        signs, verts = build_torus(m, g["R"], g["r"], flips)
        vol = 2.0 * math.pi ** 2 * g["R"] * g["r"] ** 2
        big, small = g["R"], g["r"]
        m.region([-s * sid for sid, s in signs.items()], [(set(signs), vol, "approx", sphere_deficit(size, small))],
                 lambda p, tol: (math.hypot(p[0], p[1]) - big) ** 2 + p[2] ** 2 <= (small + tol) ** 2)
        graded_candidates = verts
        fraction = {v: 0.5 for v in verts}
        add_inner_vertex(m, g, graded_candidates, fraction)
    elif g["kind"] == "void":
        m.comments.append("box with %d spherical void(s), %d of them filled by a ball region"
                          % (len(g["spheres"]), sum(g["balls"])))
        h = g["half"]
        box = {"xs": [-h[0], h[0]], "ys": [-h[1], h[1]], "zs": [-h[2], h[2]], "cells": [[0, 0, 0]]}
        vid = build_boxes(m, box, flips)
        outer = m.regions[1]
        graded_candidates = sorted(vid.values())
        fraction = {v: 0.125 for v in vid.values()}
        voids = []
        for q, filled in zip(g["spheres"], g["balls"]):
            centre, r = tuple(q[:3]), q[3]
            signs, verts = build_sphere(m, centre, r, flips)
            ball = 4.0 / 3.0 * math.pi * r ** 3
            deficit = sphere_deficit(size, r)
            outer["boundary"] += [s * sid for sid, s in signs.items()]
            outer["parts"].append((set(signs), ball, "void", deficit))
            # A node of the region may lie inside the ball by the sagitta of
            # the void's triangles.
            voids.append((centre, r * (1 - deficit)))
            if filled:
                m.region([-s * sid for sid, s in signs.items()], [(set(signs), ball, "inscribed", deficit)],
                         in_ball(centre, r))
            graded_candidates += verts
            fraction.update({v: 1.0 if filled else 0.5 for v in verts})
        in_outer_box = outer["inside"]
        outer["inside"] = lambda p, tol: in_outer_box(p, tol) and all(dist(p, c) >= r - tol for c, r in voids)
    elif g["kind"] == "fixed":
        m.comments.append("box with a surface, a curve and a vertex fixed inside")
        vid, fixed_vertex = build_fixed(m, g, flips)
        graded_candidates = sorted(vid.values()) + ([fixed_vertex] if fixed_vertex else [])
        fraction = {v: 0.125 for v in vid.values()}
        fraction[fixed_vertex] = 1.0
    for rid, factor in zip(sorted(m.regions), case.get("region_sizes") or []):
        if factor is not None:
            m.regions[rid]["size"] = factor * size * case["transform"]["scale"]
    graded = case.get("graded")
    if graded is not None and graded_candidates:
        v = graded_candidates[graded % len(graded_candidates)]
        m.vertices[v][1] = size * case["transform"]["scale"] / 10.0
        m.graded_vertex = v
        m.graded_fraction = fraction[v]
    else:
        m.graded_vertex = None
        m.graded_fraction = 0.0
    return m


def add_inner_vertex(m, g, candidates, fraction):
    if g.get("inner") is not None:
        v = m.vertex(tuple(g["inner"]))
        m.regions[1]["fixed_vertices"].append(v)
        candidates.append(v)
        fraction[v] = 1.0


def case_options(case):
    """The command-line options of a case, sizes in the transformed model's units."""
    scale = case["transform"]["scale"]
    s = case["size"] * scale
    opts = [case["size_option"], fmt(float("%.9g" % s))]
    if scale < 1.0:
        # The user epsilon is an absolute length (1e-5 by default): below it
        # a triangle or tetra counts as degenerate.  A user meshing a small
        # model scales it down with the model.
        opts += ["-e", fmt(float("%.3g" % (1e-5 * scale)))]
    return opts + list(case["extra"])


def model_volume(g):
    if g["kind"] == "boxes":
        return sum((g["xs"][c[0] + 1] - g["xs"][c[0]]) * (g["ys"][c[1] + 1] - g["ys"][c[1]]) *
                   (g["zs"][c[2] + 1] - g["zs"][c[2]]) for c in g["cells"])
    if g["kind"] == "sphere":
        return 4.0 / 3.0 * math.pi * g["r"] ** 3
    if g["kind"] == "torus":
        return 2.0 * math.pi ** 2 * g["R"] * g["r"] ** 2
    if g["kind"] == "void":
        return 8.0 * g["half"][0] * g["half"][1] * g["half"][2]
    return g["ext"][0] * g["ext"][1] * g["ext"][2]


def model_extent(g):
    if g["kind"] == "boxes":
        return max(g["xs"][-1], g["ys"][-1], g["zs"][-1])
    if g["kind"] == "sphere":
        return 2 * g["r"]
    if g["kind"] == "torus":
        return 2 * (g["R"] + g["r"])
    if g["kind"] == "void":
        return 2 * max(g["half"])
    return max(g["ext"])


def smallest_feature(g):
    if g["kind"] == "boxes":
        return min(min(b - a for a, b in zip(v, v[1:])) for v in (g["xs"], g["ys"], g["zs"]))
    if g["kind"] == "sphere":
        return g["r"]
    if g["kind"] == "torus":
        return g["r"]
    if g["kind"] == "void":
        return min(q[3] for q in g["spheres"])
    return min(g["ext"]) / 3.0


def model_area(g):
    if g["kind"] == "boxes":
        return sum(2 * (a * b + b * c + c * a) for a, b, c in
                   ((g["xs"][i + 1] - g["xs"][i], g["ys"][j + 1] - g["ys"][j], g["zs"][k + 1] - g["zs"][k])
                    for i, j, k in g["cells"]))
    if g["kind"] == "sphere":
        return 4.0 * math.pi * g["r"] ** 2
    if g["kind"] == "torus":
        return 4.0 * math.pi ** 2 * g["R"] * g["r"]
    if g["kind"] == "void":
        h = g["half"]
        return 8.0 * (h[0] * h[1] + h[1] * h[2] + h[2] * h[0]) + sum(4.0 * math.pi * q[3] ** 2 for q in g["spheres"])
    e = g["ext"]
    return 2.0 * (e[0] * e[1] + e[1] * e[2] + e[2] * e[0])


# Tetras at size s, measured: about 15 / s^3 per unit of volume (a regular
# tetra of edge s fills 0.118 s^3; the advancing front's are smaller on
# average) and 2 / s^2 per unit of boundary area for coarse meshes.  A vertex
# ten times finer adds a graded zone that grows with the model's extent over
# the size: about 8000 L / s tetras for a whole ball around the vertex,
# less the share of the ball outside the regions.
TETRAS_PER_CUBE = 15.0
TETRAS_PER_SQUARE = 2.0
GRADED_PER_EXTENT = 8000.0


def graded_extra(case):
    if case.get("graded") is None:
        return 0.0
    fraction = max(build_model(case).graded_fraction, 0.1)
    return GRADED_PER_EXTENT * fraction * max(1.0, model_extent(case["geometry"]) / case["size"])


def estimate_tetras(case):
    g = case["geometry"]
    s = case["size"] * min([f for f in case.get("region_sizes") or [] if f is not None] + [1.0])
    return TETRAS_PER_CUBE * model_volume(g) / s ** 3 + TETRAS_PER_SQUARE * model_area(g) / s ** 2 + \
        graded_extra(case)


def gen_case(rng, max_tetras, kinds, quad_share=0.0):
    kind = rng.choice(kinds)
    gen = {"boxes": gen_boxes, "sphere": gen_sphere, "torus": gen_torus, "void": gen_void, "fixed": gen_fixed}[kind]
    # Mostly sizes up to the smallest feature (a box's thinnest side, a
    # radius) and a half; sometimes three times that, coarser than the model.
    coarse = rng.choice([1.5, 1.5, 1.5, 3.0])
    while True:
        g = gen(rng)
        coarsest = min(coarse * smallest_feature(g), 0.8 * model_extent(g))
        probe = {"geometry": g, "size": coarsest, "transform": {"scale": 1.0}}
        if estimate_tetras(probe) <= max_tetras:
            break
    # Transform: scale, rotation and shift.
    scale = rng.choice([1.0, 1.0, 1.0, 1e-3, 0.05, 20.0, 1e3])
    rot = None
    pick = rng.random()
    if pick < 0.6:
        rot = random_quaternion(rng)
    elif pick < 0.75:
        rot = rng.choice([[1, 1, 0, 0], [1, 0, 1, 0], [0, 0, 0, 1], [1, 1, 1, 1]])  # right-angle turns
    ext = model_extent(g) * scale
    pick = rng.random()
    if pick < 0.4:
        shift = [0.0, 0.0, 0.0]
    elif pick < 0.75:
        shift = [round(rng.uniform(-3, 3) * ext, 6) for _ in range(3)]
    elif pick < 0.9:
        shift = [rng.choice([-1, 1]) * 1e4 * ext * rng.uniform(0.5, 1.0) for _ in range(3)]
    else:
        # About 1e4 from the origin, but never more than 1e4 times the
        # model's extent: the mesh file's eight digits must still resolve it.
        far = min(1e4, 1e4 * ext)
        shift = [rng.choice([-1, 1]) * far, rng.uniform(-far, far), 0.0]
    case = {"geometry": g, "transform": {"scale": scale, "rot": rot, "shift": shift},
            "flip_seed": rng.randrange(1 << 30) if rng.random() < 0.5 else None,
            "reverse_seed": rng.randrange(1 << 30) if rng.random() < 0.3 else None,
            "graded": rng.randrange(64) if rng.random() < 0.5 else None,
            "size_option": "-u" if rng.random() < 0.75 else "-d"}
    regions = len(build_model(dict(case, size=1.0)).regions)
    if regions > 1 and rng.random() < 0.3:
        # Regions with sizes of their own, finer or coarser than the rest.
        case["region_sizes"] = [rng.choice([None, 0.4, 0.6, 1.5]) for _ in range(regions)]
    # Size: a target tetra count, log-uniform, within the limit.
    target = math.exp(rng.uniform(math.log(60), math.log(max_tetras)))
    if case["graded"] is not None:
        case["size"] = coarsest
        if estimate_tetras(case) > max_tetras:
            case["graded"] = None
    size = (TETRAS_PER_CUBE * model_volume(g) / target) ** (1.0 / 3.0)
    case["size"] = float("%.4g" % min(size, coarsest))
    if estimate_tetras(case) > max_tetras:
        case["region_sizes"] = None
    while estimate_tetras(case) > max(target, 60.0) and case["size"] < coarsest:
        case["size"] = float("%.4g" % (case["size"] * 1.1))
    extra = []
    if rng.random() < 0.2:
        extra += ["-k", "2"]
    if rng.random() < 0.15:
        extra += ["-S"]
    if rng.random() < 0.15:
        extra += ["-s", rng.choice(["3", "1", "2", "0"])]
    if rng.random() < 0.25:
        extra += ["-p", rng.choice(["56", "56", "32", "8", "16", "128", "184"])]
    if rng.random() < 0.15:
        extra += ["-r", rng.choice(["1", "2", "3"])]
    if rng.random() < 0.08:
        extra += ["-f", str(rng.randint(0, 100)), str(rng.randint(0, 100))]
    if rng.random() < 0.1:
        extra += ["-q", rng.choice(["2", "3"])]
    if rng.random() < 0.1:
        extra += ["-g", "run.log"]
    # With --quads, that share of the models mesh their surfaces with quads,
    # and so their regions with pyramids on them (no quadratic elements
    # there: the checks of midside nodes know tetras only).  Without it no
    # number is drawn, so a seed gives the cases it always gave.
    if quad_share > 0.0 and rng.random() < quad_share:
        case["quads"] = True
        if "-k" in extra:
            i = extra.index("-k")
            del extra[i:i + 2]
    case["extra"] = extra
    return case


# ---------------------------------------------------------------------------
# Running.

def run_program(mgn, text, opts, timeout):
    work = tempfile.mkdtemp(prefix="mgn_rf_")
    with open(os.path.join(work, "model.mgn"), "w") as f:
        f.write(text)
    args = [mgn, "-i", "model.mgn", "-o", "mesh.out"] + opts
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=0")
    env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1")
    start = time.time()
    proc = subprocess.Popen(args, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, env=env, start_new_session=True)
    try:
        out, err = proc.communicate(timeout=timeout)
        timed_out = False
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        timed_out = True
    err_text = err.decode("utf-8", "replace")
    # With -g the program reopens its standard error on the log file: its
    # messages, and a sanitizer's report, are there.
    for i, o in enumerate(opts[:-1]):
        if o == "-g":
            log = os.path.join(work, opts[i + 1])
            if os.path.isfile(log):
                with open(log, "rb") as f:
                    err_text += f.read().decode("utf-8", "replace")
    mesh = None
    path = os.path.join(work, "mesh.out")
    if os.path.exists(path):
        with open(path, "rb") as f:
            mesh = f.read()
    shutil.rmtree(work, ignore_errors=True)
    return {"status": proc.returncode, "stdout": out.decode("utf-8", "replace"), "stderr": err_text,
            "timed_out": timed_out, "elapsed": time.time() - start, "args": args[1:], "mesh": mesh}


def error_message(stderr):
    lines = [l for l in stderr.splitlines() if l.strip()]
    for k, l in enumerate(lines):
        if "-->" in l:
            rest = [x for x in lines[k + 1:] if not x.startswith("(routine")]
            place = [x for x in lines[k + 1:] if x.startswith("(routine")]
            return (l.split("-->")[1].strip() + ": " + (rest[0] if rest else "") +
                    (" " + place[0] if place else "")).strip()
    return ""


def judge(result, case, model, opts):
    """Problems of one run, and what it measured (stats)."""
    stats = {}
    if result["timed_out"]:
        return ["hang: no end within the time limit"], stats
    st = result["status"]
    problems = []
    for mark in SANITIZER_MARKS:
        if mark in result["stderr"]:
            line = next((l for l in result["stderr"].splitlines() if mark in l), mark)
            problems.append("sanitizer: %s" % line.strip()[:200])
            break
    if st < 0:
        problems.append("killed by signal %d" % -st)
    elif st != 0:
        problems.append("status %d: %s" % (st, error_message(result["stderr"])))
        if result["mesh"] is not None:
            # The partial mesh of a fatal error must still be sound.
            try:
                mesh = parse_mesh(result["mesh"].decode())
                partial = check_partial(mesh)
                problems += ["partial mesh: " + p for p in partial]
            except MeshError as e:
                problems.append("partial mesh file: %s" % e)
    if problems or st != 0:
        return problems, stats
    if result["mesh"] is None:
        return ["status 0 without a mesh file"], stats
    try:
        mesh = parse_mesh(result["mesh"].decode())
        problems += check_mesh(mesh, case, model, result["stdout"], stats)
    except MeshError as e:
        problems.append("mesh file: %s" % e)
    except (ValueError, IndexError, KeyError) as e:
        problems.append("mesh file unreadable: %r" % e)
    return problems, stats


# ---------------------------------------------------------------------------
# Mesh file.

class MeshError(Exception):
    pass


NODES_PER = {1: {"edge": 2, "tria": 3, "quad": 4, "tetra": 4, "pyram": 5, "wedge": 6, "hexa": 8},
             2: {"edge": 3, "tria": 6, "quad": 8, "tetra": 10, "pyram": 13, "wedge": 15, "hexa": 20}}
# Columns after ent_prop: element iso type (bit 64), neighbours (32),
# boundary entity ids, keys and properties (8).
EXTRA_COLUMNS = {"edge": (0, 0, 0), "tria": (1, 3, 6), "quad": (1, 4, 8), "tetra": (0, 4, 12),
                 "pyram": (0, 5, 15), "wedge": (0, 5, 15), "hexa": (1, 6, 18)}
TETRA_FACES = ((0, 1, 2), (0, 1, 3), (1, 2, 3), (2, 0, 3))
TETRA_EDGES = ((0, 1), (1, 2), (2, 0), (0, 3), (1, 3), (2, 3))
TRIA_EDGES = ((0, 1), (1, 2), (2, 0))


class Mesh:
    pass


def parse_mesh(raw):
    if not raw.endswith("\n"):
        raise MeshError("the file does not end with a newline")
    blocks, cur = [], []
    for line in raw.split("\n")[:-1]:
        if line.strip() == "":
            if cur:
                blocks.append(cur)
            cur = []
        else:
            cur.append(line)
    if cur:
        blocks.append(cur)
    if not blocks or len(blocks[0]) != 2:
        raise MeshError("header and count lines expected first")
    header = [int(t) for t in blocks[0][0].split()]
    counts = [int(t) for t in blocks[0][1].split()]
    if len(header) != 4:
        raise MeshError("header line with %d fields" % len(header))
    mesh_type, degree, _renum, spec = header
    if degree not in (1, 2):
        raise MeshError("element degree %d" % degree)
    names = {3: ["node", "edge", "tria", "tetra"],
             7: ["node", "edge", "tria", "quad", "tetra", "pyram", "wedge", "hexa"]}.get(mesh_type)
    if names is None or len(counts) != len(names):
        raise MeshError("mesh type %d with %d counts" % (mesh_type, len(counts)))
    count = dict(zip(names, counts))
    sections = [n for n in names if count[n] > 0]
    if len(blocks) - 1 < len(sections):
        raise MeshError("%d sections for counts %s" % (len(blocks) - 1, counts))
    mesh = Mesh()
    mesh.degree, mesh.spec, mesh.count = degree, spec, count
    mesh.nodes = {}
    mesh.node_entity = {}
    mesh.elements = {}
    mesh.element_number = {}     # element id -> (kind, index)
    for b, name in enumerate(sections, start=1):
        block = blocks[b]
        if len(block) != count[name]:
            raise MeshError("%s section of %d lines, count %d" % (name, len(block), count[name]))
        if name == "node":
            for line in block:
                t = line.split()
                num = int(t[0])
                if num in mesh.nodes:
                    raise MeshError("node %d listed twice" % num)
                p = (float(t[1]), float(t[2]), float(t[3]))
                if not all(math.isfinite(v) for v in p):
                    raise MeshError("node %d at %s" % (num, p))
                mesh.nodes[num] = p
                mesh.node_entity[num] = (int(t[4]), int(t[5]))
            continue
        per = NODES_PER[degree][name]
        iso, ngb, bnd = EXTRA_COLUMNS[name]
        extra = (iso if spec & 64 else 0) + (ngb if spec & 32 else 0) + (bnd if spec & 8 else 0)
        rows = []
        for line in block:
            t = line.split()
            if len(t) != 4 + per + extra:
                raise MeshError("%s line with %d fields, %d expected: %s" % (name, len(t), 4 + per + extra, line))
            num = int(t[0])
            if num in mesh.element_number:
                raise MeshError("element %d listed twice" % num)
            mesh.element_number[num] = (name, len(rows))
            ns = [int(v) for v in t[1:1 + per]]
            for n in ns:
                if n not in mesh.nodes:
                    raise MeshError("%s %d names node %d, not in the node section" % (name, num, n))
            if len(set(ns)) != len(ns):
                raise MeshError("%s %d repeats a node: %s" % (name, num, ns))
            col = 1 + per + 3 + (iso if spec & 64 else 0)
            row = {"id": num, "nodes": ns, "key": int(t[1 + per]), "eid": int(t[2 + per])}
            if spec & 32:
                row["ngb"] = [int(v) for v in t[col:col + ngb]]
                col += ngb
            if spec & 8:
                row["bnd"] = [int(v) for v in t[col:col + bnd]]
            rows.append(row)
        mesh.elements[name] = rows
    mesh.rest = blocks[1 + len(sections):]
    return mesh


def permutation_parity(order):
    """0 for an even permutation of 0..n-1, 1 for an odd one."""
    order = list(order)
    parity = 0
    for i in range(len(order)):
        while order[i] != i:
            j = order[i]
            order[i], order[j] = order[j], order[i]
            parity ^= 1
    return parity


def face_side(tetra, face):
    """+1 when the tetra lies on the side to which (q - p) x (r - p) of the
    face (p, q, r) points, -1 on the other side, for a tetra whose nodes 1 2 3
    turn counterclockwise seen from node 4 (decided from the node order
    alone)."""
    rest = [n for n in tetra if n not in face]
    order = [tetra.index(n) for n in list(face) + rest]
    return 1 if permutation_parity(order) == 0 else -1


def tetra_volume(mesh, ns):
    a, b, c, d = (mesh.nodes[n] for n in ns[:4])
    return det3(sub(b, a), sub(c, a), sub(d, a)) / 6.0


FLAT_QUALITY = 1e-12
FLAT_ANGLE = 0.0005   # degrees: the report prints three decimals, so 0.000
KEY_NAMES = {1: "vertex", 2: "curve", 3: "surface", 4: "region"}


def relative_volume(mesh, ns):
    pts = [mesh.nodes[n] for n in ns]
    longest = max(dist(pts[i], pts[j]) for i in range(4) for j in range(i + 1, 4))
    return tetra_volume(mesh, ns) / longest ** 3 if longest > 0 else 0.0


def rounding_of(p):
    return WRITTEN_ROUNDING * max(abs(p[0]), abs(p[1]), abs(p[2])) * math.sqrt(3.0)


def tetra_rounding(mesh, ns):
    """How much the volume of a tetra may change when its nodes move by the
    rounding of their written coordinates (first order: the area of the face
    opposite a node times its displacement, over three)."""
    pts = [mesh.nodes[n] for n in ns[:4]]
    total = 0.0
    for i in range(4):
        f = [pts[k] for k in range(4) if k != i]
        area = norm(cross(sub(f[1], f[0]), sub(f[2], f[0]))) / 2.0
        total += area * rounding_of(pts[i]) / 3.0
    return 2.0 * total


def check_partial(mesh):
    """A partial mesh: its tetras are not inverted beyond the rounding and
    no face is shared by more than two of them."""
    problems = []
    faces = {}
    for t in mesh.elements.get("tetra", []):
        ns = t["nodes"][:4]
        v = tetra_volume(mesh, ns)
        if v < -tetra_rounding(mesh, ns):
            problems.append("tetra %d is inverted (volume %.3g)" % (t["id"], v))
            break
        for f in TETRA_FACES:
            key = tuple(sorted(ns[k] for k in f))
            faces[key] = faces.get(key, 0) + 1
    over = [k for k, n in faces.items() if n > 2]
    if over:
        problems.append("face %s shared by %d tetras" % (over[0], faces[over[0]]))
    return problems


def split_quad(ns):
    """The two triangles (or, with the apex, tetras) of a quad's corners in
    circuit order, cut along the diagonal through its lowest node number: a
    pyramid and the quad it stands on are cut alike."""
    i = ns.index(min(ns))
    a, b, c, d = (ns[(i + k) % 4] for k in range(4))
    return (a, b, c), (a, c, d)


def with_pyramid_halves(mesh):
    """The tetras of the mesh, then each pyramid as the two tetras its base
    diagonal cuts it into; quads of surfaces join the triangles likewise,
    so that every check of tetras and triangles covers pyramids and quads
    too."""
    tetras = list(mesh.elements.get("tetra", []))
    for p in mesh.elements.get("pyram", []):
        for half in split_quad(p["nodes"][:4]):
            tetras.append(dict(p, nodes=list(half) + [p["nodes"][4]]))
    trias = list(mesh.elements.get("tria", []))
    for q in mesh.elements.get("quad", []):
        for half in split_quad(q["nodes"][:4]):
            trias.append(dict(q, nodes=list(half)))
    return tetras, trias


def check_mesh(mesh, case, model, stdout, stats):
    """The checks of a status-0 mesh; fills stats with what it measured."""
    tetras, trias = with_pyramid_halves(mesh)
    pyramids = len(tetras) - len(mesh.elements.get("tetra", []))
    stats["tetras"] = len(tetras) - pyramids
    problems = read_report(mesh, stdout, stats)
    if not tetras:
        return problems + ["no tetras in the mesh"]
    why, tetra_volumes = check_orientation(mesh, model, tetras, stats)
    if why:
        return problems + why
    problems += check_flat(mesh, tetras, stats)
    faces = face_table(tetras)
    surface_faces, why = surface_triangles(trias)
    problems += why or check_faces(tetras, faces, surface_faces)
    if problems:
        return problems
    why, boundary_volumes, shell_volumes = check_surface_sides(mesh, model, tetras, faces, surface_faces)
    problems += why + check_used_nodes(mesh, tetras)
    if problems:
        return problems
    problems += check_volumes(model, case["transform"]["scale"], tetra_volumes, boundary_volumes, shell_volumes,
                              stats)
    midside = {}
    if mesh.degree == 2:
        midside, why = midside_nodes(mesh)
        if why:
            return problems + why
    problems += check_node_places(mesh, case, model, midside)
    problems += check_fixed(mesh, case, model, tetras)
    if mesh.degree == 2:
        problems += check_midside_places(mesh, case, model, midside)
    # Neighbours, boundary entities and boundary association (of tetras
    # only: they are not checked where pyramids are).
    if pyramids:
        return problems
    if mesh.spec & 32:
        problems += check_neighbours(mesh, tetras, faces)
    if mesh.spec & 8:
        problems += check_boundary_entities(tetras, surface_faces)
    if mesh.spec & 16:
        problems += check_bassoc(mesh, mesh.elements.get("tria", []), faces, tetras)
    return problems


def read_report(mesh, stdout, stats):
    """The counts printed against the mesh file's; the worst tetra quality
    and the smallest dihedral angle into stats."""
    problems = []
    for label, name in (("nodes", "node"), ("edges", "edge"), ("trias", "tria"), ("tetras", "tetra")):
        m = re.search(r"Number of %s:\s+(\d+) \(FE\)" % label, stdout)
        printed = int(m.group(1)) if m else 0
        if printed != mesh.count.get(name, 0):
            problems.append("printed %s count %d, mesh file %d" % (label, printed, mesh.count.get(name, 0)))
    m = re.search(r"([0-9.]+(?:e[-+]?[0-9]+)?) - worst tetra quality", stdout)
    if m:
        stats["worst_quality"] = float(m.group(1))
    m = re.search(r"([0-9.]+(?:e[-+]?[0-9]+)?) - minimum dihedral angle", stdout.partition("Tetras angles:")[2])
    if m:
        stats["min_dihedral"] = float(m.group(1))
    return problems


def volume_origin(mesh):
    """Volumes are summed about a node of the mesh, so that a model far from
    the origin loses no digits."""
    return mesh.nodes[mesh.elements["tetra"][0]["nodes"][0]]


def check_orientation(mesh, model, tetras, stats):
    """Every tetra belongs to a region and has a positive volume (or one
    below what the written digits resolve); returns the tetra volume of
    each region."""
    unresolved = 0
    volumes = {}
    for t in tetras:
        ns = t["nodes"][:4]
        if t["key"] != 4 or t["eid"] not in model.regions:
            return ["tetra %d belongs to key %d id %d, not to a region" % (t["id"], t["key"], t["eid"])], volumes
        v = tetra_volume(mesh, ns)
        bound = tetra_rounding(mesh, ns)
        if v <= bound:
            if v < -bound:
                return ["tetra %d %s has volume %.6g (rounding allows %.3g): inverted" % (t["id"], ns, v, bound)], volumes
            unresolved += 1
        volumes[t["eid"]] = volumes.get(t["eid"], 0.0) + v
    stats["unresolved"] = unresolved
    return [], volumes


def check_flat(mesh, tetras, stats):
    """A tetra whose quality, as the program computes it from its own
    coordinates, is below FLAT_QUALITY is flat: quality 374 V^2 / S^3 below
    1e-12 puts its four nodes within about 1e-7 of its size of one plane.  It
    passes the program's "zero quality" test but is no element a solver can
    use.  With -q 2 alone the report gives the smallest dihedral angle
    instead: printed as 0.000, below 0.0005 degrees, it is as flat."""
    if stats.get("worst_quality", 1.0) >= FLAT_QUALITY and stats.get("min_dihedral", 1.0) >= FLAT_ANGLE:
        return []
    flattest = min(tetras, key=lambda t: relative_volume(mesh, t["nodes"][:4]))
    ns = flattest["nodes"][:4]
    where = ", ".join("%s %d" % (KEY_NAMES.get(mesh.node_entity[n][0], "key %d" % mesh.node_entity[n][0]),
                                 mesh.node_entity[n][1]) for n in ns)
    return ["flat tetra: worst tetra quality %s, smallest dihedral angle %s; the flattest in the file, tetra %d %s "
            "of region %d, has volume %.2g times its longest edge cubed, its nodes on %s"
            % (stats.get("worst_quality", "-"), stats.get("min_dihedral", "-"), flattest["id"], ns, flattest["eid"],
               relative_volume(mesh, ns), where)]


def face_table(tetras):
    """Sorted node triple -> [(tetra index, side)] over all tetra faces."""
    faces = {}
    for idx, t in enumerate(tetras):
        ns = t["nodes"][:4]
        for f in TETRA_FACES:
            key = tuple(sorted(ns[k] for k in f))
            faces.setdefault(key, []).append((idx, face_side(ns, key)))
    return faces


def surface_triangles(trias):
    """Sorted node triple -> triangle record, for the triangles of surfaces."""
    surface_faces = {}
    for tr in trias:
        if tr["key"] != 3:
            continue
        key = tuple(sorted(tr["nodes"][:3]))
        if key in surface_faces:
            return surface_faces, ["triangles %d and %d have the same nodes" % (surface_faces[key]["id"], tr["id"])]
        surface_faces[key] = tr
    return surface_faces, []


def check_faces(tetras, faces, surface_faces):
    """A tetra face that is no surface triangle is shared by exactly two
    tetras of one region lying on its two sides."""
    for key, users in faces.items():
        if key in surface_faces:
            continue
        if len(users) != 2:
            where = ", ".join("tetra %d (region %d)" % (tetras[i]["id"], tetras[i]["eid"]) for i, _ in users)
            return ["face %s is shared by %d tetras (%s) and is no surface triangle" % (list(key), len(users), where)]
        (i, si), (j, sj) = users
        if si == sj:
            return ["tetras %d and %d lie on the same side of their common face %s"
                    % (tetras[i]["id"], tetras[j]["id"], list(key))]
        if tetras[i]["eid"] != tetras[j]["eid"]:
            return ["tetras %d (region %d) and %d (region %d) share face %s, which is no surface triangle"
                    % (tetras[i]["id"], tetras[i]["eid"], tetras[j]["id"], tetras[j]["eid"], list(key))]
    return []


def check_surface_sides(mesh, model, tetras, faces, surface_faces):
    """Every surface triangle is the face of exactly one tetra on each side
    a region lies on and of none on a side without one.  Returns also the
    volume the boundary triangles of each region enclose, and that of each
    closed shell of its boundary with its rounding slack."""
    sides = model.sides_of_surfaces()
    origin = volume_origin(mesh)
    region_volume = {}
    shell_volume = {}           # (region, part) -> (volume, rounding slack)
    for key, tr in surface_faces.items():
        sid = tr["eid"]
        want = sides.get(sid, {1: [], -1: []})
        face = tuple(tr["nodes"][:3])
        got = {1: [], -1: []}
        for i, _ in faces.get(key, []):
            got[face_side(tetras[i]["nodes"][:4], face)].append(tetras[i]["eid"])
        for side in (1, -1):
            if sorted(got[side]) != sorted(want[side]):
                return (["triangle %d %s of surface %d: tetras of regions %s on its %s side, expected %s"
                         % (tr["id"], list(face), sid, sorted(got[side]), "+" if side > 0 else "-",
                            sorted(want[side]))], region_volume, shell_volume)
        a, b, c = (sub(mesh.nodes[n], origin) for n in face)
        # det(a, b - a, c - a) is det(a, b, c), but its rounding scales with
        # the short edges instead of with |b| |c|: the cones of a thin region
        # far from the origin node nearly cancel, and det(a, b, c) would lose
        # the digits that the comparison with the tetras needs.
        cone = det3(a, sub(b, a), sub(c, a)) / 6.0
        # How far the volume may move with the rounding of the written
        # coordinates of the triangle's nodes.
        pa, pb, pc = (mesh.nodes[n] for n in face)
        slack = norm(cross(sub(pb, pa), sub(pc, pa))) / 2.0 * max(rounding_of(pa), rounding_of(pb), rounding_of(pc))
        for side in (1, -1):
            for rid in want[side]:
                if sid in model.regions[rid]["fixed_surfaces"]:
                    continue
                # The region on the side the triangle's normal points to
                # sees it turning clockwise from outside.
                region_volume[rid] = region_volume.get(rid, 0.0) - side * cone
                for k, part in enumerate(model.regions[rid]["parts"]):
                    if sid in part[0]:
                        v, sl = shell_volume.get((rid, k), (0.0, 0.0))
                        shell_volume[(rid, k)] = (v - side * cone, sl + slack)
    return [], region_volume, shell_volume


def check_used_nodes(mesh, tetras):
    """No node is left out: every node is in an element, every corner node in
    a tetra."""
    problems = []
    used = set()
    for rows in mesh.elements.values():
        for r in rows:
            used.update(r["nodes"])
    unused = [n for n in mesh.nodes if n not in used]
    if unused:
        problems.append("%d node(s) in no element, e.g. node %d at %s" % (len(unused), unused[0], mesh.nodes[unused[0]]))
    tetra_nodes = set()
    for t in tetras:
        tetra_nodes.update(t["nodes"][:4])
    loose = [n for n in mesh.nodes if n not in tetra_nodes and (mesh.degree == 1 or n in corner_nodes(mesh))]
    if loose:
        problems.append("%d corner node(s) in no tetra, e.g. node %d at %s" % (len(loose), loose[0], mesh.nodes[loose[0]]))
    return problems


def check_volumes(model, scale, tetra_volumes, boundary_volumes, shell_volumes, stats):
    """The tetras of each region fill what its boundary encloses, and each
    closed shell of the boundary encloses its analytic volume."""
    problems = []
    for rid, r in model.regions.items():
        vt = tetra_volumes.get(rid, 0.0)
        vb = boundary_volumes.get(rid, 0.0)
        if abs(vt - vb) > 1e-9 * abs(vb) + 1e-300:
            problems.append("tetras of region %d fill %.12g, its boundary triangles enclose %.12g" % (rid, vt, vb))
            continue
        for k, (surfaces, volume, kind, deficit) in enumerate(r["parts"]):
            got, slack = shell_volumes.get((rid, k), (0.0, 0.0))
            want = volume * scale ** 3
            if kind == "void":
                got = -got
            if kind == "exact":
                lo, hi = want * (1 - 1e-6), want * (1 + 1e-6)
                stats["box_volume_error"] = max(stats.get("box_volume_error", 0.0), abs(got - want) / want)
            elif kind in ("inscribed", "void"):
                lo, hi = want * (1 - deficit), want * (1 + 1e-6)
            else:
                lo, hi = want * (1 - deficit), want * (1 + deficit)
            stats.setdefault("volume_error", []).append((got - want) / want)
            if not lo - slack <= got <= hi + slack:
                problems.append("%s of region %d encloses %.12g, expected %s (rounding slack %.3g)"
                                % ("the void" if kind == "void" else "the outer boundary" if k == 0 else "shell %d" % k,
                                   rid, got, "%.12g" % want if kind == "exact" else "%.9g to %.9g" % (lo, hi), slack))
    return problems


def check_fixed(mesh, case, model, tetras):
    """Fixed vertices are nodes in tetras at their place; the edges of fixed
    curves are tetra edges running from one end of the curve to the other,
    no shorter than its chord and no longer than the curve."""
    problems = []
    xf = Transform(case["transform"])
    scale = case["transform"]["scale"]
    edges = mesh.elements.get("edge", [])
    edge_set = set()
    tetra_nodes = set()
    for t in tetras:
        ns = t["nodes"][:4]
        tetra_nodes.update(ns)
        for i, j in TETRA_EDGES:
            edge_set.add((min(ns[i], ns[j]), max(ns[i], ns[j])))
    for rid, r in model.regions.items():
        for v in r["fixed_vertices"]:
            nodes = [n for n, e in mesh.node_entity.items() if e == (1, v)]
            where = xf(model.vertices[v][0])
            if len(nodes) != 1:
                problems.append("fixed vertex %d has %d nodes" % (v, len(nodes)))
            elif dist(mesh.nodes[nodes[0]], where) > 4 * rounding_of(where) + 1e-12 * scale:
                problems.append("node of fixed vertex %d at %s, the vertex at %s" % (v, mesh.nodes[nodes[0]], where))
            elif nodes[0] not in tetra_nodes:
                problems.append("node of fixed vertex %d is in no tetra" % v)
        for c in r["fixed_curves"]:
            mine = [e for e in edges if e["key"] == 2 and e["eid"] == c]
            if not mine:
                problems.append("fixed curve %d has no edges" % c)
                continue
            degree = {}
            length = 0.0
            for e in mine:
                a, b = e["nodes"][:2]
                if (min(a, b), max(a, b)) not in edge_set:
                    problems.append("edge %d of fixed curve %d is no tetra edge" % (e["id"], c))
                    break
                degree[a] = degree.get(a, 0) + 1
                degree[b] = degree.get(b, 0) + 1
                length += dist(mesh.nodes[a], mesh.nodes[b])
            ends = sorted(n for n, d in degree.items() if d == 1)
            va, vb, chord, arc = model.fixed_curve_info[c]
            want_ends = sorted(n for n, e in mesh.node_entity.items() if e in ((1, va), (1, vb)))
            if ends != want_ends or any(d > 2 for d in degree.values()):
                problems.append("edges of fixed curve %d do not run from one end vertex to the other" % c)
            slack = 1e-6 * arc * scale + sum(2 * rounding_of(mesh.nodes[n]) for n in degree)
            if not (chord * scale - slack <= length <= arc * scale + slack):
                problems.append("edges of fixed curve %d have length %.9g, the curve %.9g (chord %.9g)"
                                % (c, length, arc * scale, chord * scale))
    return problems


def check_midside_places(mesh, case, model, midside):
    """A midside node lies at the middle of its edge, or on the curve or
    surface of the edge near its middle."""
    places = NodePlaces(mesh, case, model)
    scale = case["transform"]["scale"]
    for node, (a, b) in sorted(midside.items()):
        pa, pb, pm = mesh.nodes[a], mesh.nodes[b], mesh.nodes[node]
        off = dist(pm, mul(add(pa, pb), 0.5))
        if off <= places.tolerance(pm) * scale:
            continue
        why = places.problem(node)
        if mesh.node_entity[node][0] == 4 or why or off > 0.5 * dist(pa, pb):
            return ["midside node %d of edge %s lies %.3g from its middle%s"
                    % (node, [a, b], off, " and " + why if why else "")]
    return []


def shape_distance(shape, p):
    """Distance of p from a plane, sphere, torus or line (model units)."""
    if shape[0] == "plane":
        return abs(dot(sub(p, shape[1]), shape[2]))
    if shape[0] == "sphere":
        return abs(dist(p, shape[1]) - shape[2])
    if shape[0] == "torus":
        return abs(math.hypot(math.hypot(p[0], p[1]) - shape[1], p[2]) - shape[2])
    return norm(cross(sub(p, shape[1]), shape[2]))


class NodePlaces:
    """Whether a node lies on its entity: a vertex's node at the vertex, a
    node of a curve or surface on the planes, spheres, tori and lines it
    belongs to (a curve to those of the surfaces it bounds), a node of a
    region inside the region; within the rounding of the written
    coordinates."""

    def __init__(self, mesh, case, model):
        self.mesh, self.model = mesh, model
        self.xf = Transform(case["transform"])
        self.extent = model_extent(case["geometry"])
        self.surfaces_of_curve = {}
        for sid, (sides, _) in model.surfaces.items():
            for c in sides:
                self.surfaces_of_curve.setdefault(c, []).append(sid)

    def tolerance(self, world):
        """In model units."""
        return 4.0 * rounding_of(world) / self.xf.scale + 1e-9 * self.extent

    def problem(self, n):
        """What is wrong with the place of node n, or None."""
        model = self.model
        key, eid = self.mesh.node_entity[n]
        world = self.mesh.nodes[n]
        p = self.xf.inverse(world)
        tol = self.tolerance(world)
        if key == 1:
            if eid not in model.vertices:
                return "node %d lies on vertex %d, which the model does not have" % (n, eid)
            if dist(p, model.vertices[eid][0]) > tol:
                return "node %d of vertex %d lies %.3g from it (model units)" % (n, eid, dist(p, model.vertices[eid][0]))
        elif key == 2 or key == 3:
            shapes = []
            if key == 2:
                if eid not in model.curves:
                    return "node %d lies on curve %d, which the model does not have" % (n, eid)
                if eid in model.curve_shapes:
                    shapes.append(("curve", eid, model.curve_shapes[eid]))
                shapes += [("surface", s, model.shapes[s]) for s in self.surfaces_of_curve.get(eid, [])
                           if s in model.shapes]
            else:
                if eid not in model.surfaces:
                    return "node %d lies on surface %d, which the model does not have" % (n, eid)
                if eid in model.shapes:
                    shapes.append(("surface", eid, model.shapes[eid]))
            for what, sid, shape in shapes:
                d = shape_distance(shape, p)
                if d > tol:
                    return ("node %d of %s %d lies %.3g off %s %d (a %s; model units, allowed %.3g)"
                            % (n, "curve" if key == 2 else "surface", eid, d, what, sid, shape[0], tol))
        elif key == 4:
            r = model.regions.get(eid)
            if r is None:
                return "node %d lies in region %d, which the model does not have" % (n, eid)
            if not r["inside"](p, tol):
                return "node %d of region %d at %s (model units) lies outside the region" % (n, eid, p)
        else:
            return "node %d lies on an entity of key %d" % (n, key)
        return None


def check_node_places(mesh, case, model, skip):
    places = NodePlaces(mesh, case, model)
    for n in sorted(mesh.nodes):
        if n not in skip:
            why = places.problem(n)
            if why:
                return [why]
    return []


def corner_nodes(mesh):
    if not hasattr(mesh, "_corners"):
        s = set()
        for name, rows in mesh.elements.items():
            k = {"edge": 2, "tria": 3, "tetra": 4}.get(name, 0)
            for r in rows:
                s.update(r["nodes"][:k])
        mesh._corners = s
    return mesh._corners


def midside_nodes(mesh):
    """midside node -> its edge (two corner nodes): one midside node per
    edge, shared by every element along the edge, no corner node."""
    mid = {}
    corners = corner_nodes(mesh)
    for name, pairs in (("tetra", TETRA_EDGES), ("tria", TRIA_EDGES), ("edge", ((0, 1),))):
        k = {"tetra": 4, "tria": 3, "edge": 2}[name]
        for r in mesh.elements.get(name, []):
            for e, (i, j) in enumerate(pairs):
                a, b = r["nodes"][i], r["nodes"][j]
                key = (min(a, b), max(a, b))
                node = r["nodes"][k + e]
                if node in corners:
                    return {}, ["midside node %d of %s %d is a corner node" % (node, name, r["id"])]
                if mid.setdefault(key, node) != node:
                    return {}, ["edge %s has midside nodes %d and %d" % (list(key), mid[key], node)]
    owners = {}
    for key, node in mid.items():
        if node in owners:
            return {}, ["node %d is the midside node of edges %s and %s" % (node, list(owners[node]), list(key))]
        owners[node] = key
    return owners, []


def check_neighbours(mesh, tetras, faces):
    for t in tetras:
        ns = t["nodes"][:4]
        for f, (i, j, k) in enumerate(TETRA_FACES):
            key = tuple(sorted((ns[i], ns[j], ns[k])))
            others = [tetras[x]["id"] for x, _ in faces[key] if tetras[x]["id"] != t["id"]]
            want = others[0] if others else 0
            if t["ngb"][f] != want:
                return ["tetra %d: neighbour %d across face %d, expected %d" % (t["id"], t["ngb"][f], f + 1, want)]
    return []


def check_boundary_entities(tetras, surface_faces):
    for t in tetras:
        ns = t["nodes"][:4]
        ids, keys = t["bnd"][0:4], t["bnd"][4:8]
        for f, (i, j, k) in enumerate(TETRA_FACES):
            key = tuple(sorted((ns[i], ns[j], ns[k])))
            tr = surface_faces.get(key)
            want = (tr["eid"], 3) if tr else (0, 0)
            if (ids[f], keys[f]) != want:
                return ["tetra %d: boundary entity %d (key %d) on face %d, expected %d (key %d)"
                        % (t["id"], ids[f], keys[f], f + 1, want[0], want[1])]
    return []


def check_bassoc(mesh, trias, faces, tetras):
    """The boundary association section: per surface, in the order of its
    triangles, the tetras at each."""
    if not mesh.rest:
        return ["boundary association section missing with -p 16"]
    lines = [l.split() for block in mesh.rest for l in block]
    if not lines or len(lines[0]) != 4:
        return ["boundary association section does not start with its four counts"]
    ncurves, nsurfaces = int(lines[0][0]), int(lines[0][1])
    pos = 1
    for _ in range(ncurves):
        nedges = int(lines[pos][3])
        pos += 1 + nedges
    by_surface = {}
    for tr in trias:
        by_surface.setdefault(tr["eid"], []).append(tr)
    for _ in range(nsurfaces):
        key, sid, _prop, nfaces = (int(v) for v in lines[pos])
        pos += 1
        mine = by_surface.get(sid, [])
        if key != 3 or nfaces != len(mine):
            return ["boundary association of surface %d: key %d, %d faces, the surface has %d triangles"
                    % (sid, key, nfaces, len(mine))]
        for tr in mine:
            rec = [int(v) for v in lines[pos]]
            pos += 1
            fkey = tuple(sorted(tr["nodes"][:3]))
            want = sorted(tetras[i]["id"] for i, _ in faces.get(fkey, []))
            if rec[0] != len(rec) - 1 or sorted(rec[1:]) != want:
                return ["boundary association of triangle %d of surface %d lists %s, its tetras are %s"
                        % (tr["id"], sid, rec[1:], want)]
    return []


# ---------------------------------------------------------------------------
# Cases, findings, replay and reduction.

def run_case(mgn, case, timeout, rerun=False):
    model = build_model(case)
    text = model.text(Transform(case["transform"]))
    opts = case_options(case)
    result = run_program(mgn, text, opts, timeout)
    problems, stats = judge(result, case, model, opts)
    if rerun and not problems and result["status"] == 0:
        again = run_program(mgn, text, opts, timeout)
        if again["mesh"] != result["mesh"]:
            problems.append("the mesh file differs between two runs of the same case")
    return text, opts, result, problems, stats


def problem_kind(problems):
    if not problems:
        return None
    # The words before the first ';' name the kind (a fatal error keeps its
    # message and routine).
    p = problems[0].split(";")[0]
    return re.sub(r"-?\d+(\.\d+)?(e[-+]?\d+)?", "#", re.sub(r"\[[^\]]*\]", "[]", p))


def save_finding(out_dir, name, case, text, result, problems):
    d = os.path.join(out_dir, name)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "case.json"), "w") as f:
        json.dump(case, f, indent=1)
        f.write("\n")
    with open(os.path.join(d, "model.mgn"), "w") as f:
        f.write(text)
    with open(os.path.join(d, "args.json"), "w") as f:
        json.dump(result["args"], f)
        f.write("\n")
    with open(os.path.join(d, "stdout.txt"), "w") as f:
        f.write(result["stdout"])
    with open(os.path.join(d, "stderr.txt"), "w") as f:
        f.write(result["stderr"])
    with open(os.path.join(d, "reason.txt"), "w") as f:
        f.write("\n".join(problems) + "\n")
    return d


def simplifications(case):
    """Simpler variants of a case, most drastic first."""
    out = []

    def variant(**changes):
        c = copy.deepcopy(case)
        for k, v in changes.items():
            if k in ("rot", "shift", "scale"):
                c["transform"][k] = v
            else:
                c[k] = v
        return c

    t = case["transform"]
    if t["shift"] != [0.0, 0.0, 0.0]:
        out.append(variant(shift=[0.0, 0.0, 0.0]))
    if t["rot"] is not None:
        out.append(variant(rot=None))
    if t["scale"] != 1.0:
        out.append(variant(scale=1.0))
    for key in ("graded", "flip_seed", "reverse_seed", "region_sizes"):
        if case.get(key) is not None:
            out.append(variant(**{key: None}))
    extra = case["extra"]
    i = 0
    while i < len(extra):
        n = 1
        while i + n < len(extra) and not extra[i + n].startswith("-"):
            n += 1
        out.append(variant(extra=extra[:i] + extra[i + n:]))
        i += n
    if case["size_option"] != "-u":
        out.append(variant(size_option="-u"))
    g = case["geometry"]
    if g["kind"] == "boxes" and len(g["cells"]) > 1:
        for k in range(len(g["cells"])):
            cells = g["cells"][:k] + g["cells"][k + 1:]
            c = copy.deepcopy(case)
            c["geometry"]["cells"] = cells
            if g.get("groups"):
                c["geometry"]["groups"] = g["groups"][:k] + g["groups"][k + 1:]
            out.append(c)
        if g.get("groups"):
            c = copy.deepcopy(case)
            c["geometry"]["groups"] = None
            out.append(c)
    if g["kind"] == "fixed" and len(g["items"]) > 1:
        for k in range(len(g["items"])):
            c = copy.deepcopy(case)
            del c["geometry"]["items"][k]
            out.append(c)
    if g["kind"] == "void":
        for k in range(len(g["spheres"])):
            if len(g["spheres"]) > 1:
                c = copy.deepcopy(case)
                del c["geometry"]["spheres"][k]
                del c["geometry"]["balls"][k]
                out.append(c)
            if g["balls"][k]:
                c = copy.deepcopy(case)
                c["geometry"]["balls"][k] = False
                out.append(c)
    for f in (1.3, 0.85):
        if case["size"] * f <= model_extent(g):
            c = copy.deepcopy(case)
            c["size"] = float("%.4g" % (case["size"] * f))
            out.append(c)
    return out


def reduce_finding(mgn, d, timeout, max_tetras):
    with open(os.path.join(d, "case.json")) as f:
        case = json.load(f)
    _, _, result, problems, _ = run_case(mgn, case, timeout)
    want = problem_kind(problems)
    print("reducing: %s" % want)
    if want is None:
        print("no problem on replay")
        return 1
    tried = set()
    changed = True
    while changed:
        changed = False
        for c in simplifications(case):
            sig = json.dumps(c, sort_keys=True)
            if sig in tried or estimate_tetras(c) > max_tetras:
                continue
            tried.add(sig)
            _, _, _, p, _ = run_case(mgn, c, timeout)
            if problem_kind(p) == want:
                case = c
                changed = True
                print("  kept: %s" % describe(case))
                break
    text = build_model(case).text(Transform(case["transform"]))
    with open(os.path.join(d, "case.min.json"), "w") as f:
        json.dump(case, f, indent=1)
        f.write("\n")
    with open(os.path.join(d, "model.min.mgn"), "w") as f:
        f.write(text)
    with open(os.path.join(d, "args.min.json"), "w") as f:
        json.dump(["-i", "model.mgn", "-o", "mesh.out"] + case_options(case), f)
        f.write("\n")
    print("options: %s" % " ".join(case_options(case)))
    return 0


def describe(case):
    g = case["geometry"]
    t = case["transform"]
    what = g["kind"]
    if what == "boxes":
        what += " %d" % len(g["cells"])
        if g.get("groups"):
            what += " in %d region(s)" % len(set(g["groups"]))
    if what == "void":
        what += " %d" % len(g["spheres"]) + "+ball" * sum(g["balls"])
    bits = [what, "scale %g" % t["scale"], "rotated" if t["rot"] else "unrotated",
            "shift %.3g" % max(abs(x) for x in t["shift"])]
    if case.get("graded") is not None:
        bits.append("graded")
    if case.get("region_sizes"):
        bits.append("region sizes %s" % case["region_sizes"])
    return ", ".join(bits) + "; " + " ".join(case_options(case))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.normpath(os.path.join(here, "..", ".."))
    ap.add_argument("--mgn", default=os.path.join(root, "build-sanitize", "mgn"))
    ap.add_argument("--seconds", type=float, default=120.0, help="total time budget")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=60.0, help="time limit of one run")
    ap.add_argument("--max-tetras", type=int, default=20000, help="largest estimated tetra count of a case")
    ap.add_argument("--runs", type=int, default=0, help="stop after this many runs (0: budget only)")
    ap.add_argument("--kinds", default=",".join(KINDS), help="model kinds to generate")
    ap.add_argument("--rerun", type=float, default=0.05, help="share of status-0 cases run twice and compared")
    ap.add_argument("--out", default=None, help="findings directory (default: <mgn dir>/region_findings)")
    ap.add_argument("--replay", default=None, help="run one saved finding again")
    ap.add_argument("--reduce", default=None, help="simplify one saved finding")
    ap.add_argument("--quads", type=float, default=0.0,
                    help="share of cases with QUAD on every surface (pyramids on the region boundaries)")
    ap.add_argument("--verbose", action="store_true")
    a = ap.parse_args()

    mgn = os.path.abspath(a.mgn)
    if not os.access(mgn, os.X_OK):
        print("region_fuzz: no executable %s" % mgn, file=sys.stderr)
        return 2
    if a.replay:
        if os.path.isdir(a.replay):
            name = "case.min.json" if os.path.exists(os.path.join(a.replay, "case.min.json")) else "case.json"
            name = os.path.join(a.replay, name)
        else:
            name = a.replay
        with open(name) as f:
            case = json.load(f)
        text, opts, result, problems, stats = run_case(mgn, case, a.timeout)
        print(result["stdout"])
        print(result["stderr"], file=sys.stderr)
        print("%s: %s" % (name, describe(case)))
        print("status %s; problems: %s" % (result["status"], problems or "none"))
        return 1 if problems else 0
    if a.reduce:
        return reduce_finding(mgn, a.reduce, a.timeout, a.max_tetras)

    kinds = [k for k in a.kinds.split(",") if k]
    for k in kinds:
        if k not in KINDS:
            print("region_fuzz: unknown kind %s" % k, file=sys.stderr)
            return 2
    out_dir = a.out or os.path.join(os.path.dirname(mgn), "region_findings")
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir, exist_ok=True)
    master = random.Random(a.seed)
    start = time.time()
    runs = 0
    findings = []
    seen = {}
    by_kind = {}
    tetra_total = 0
    unresolved = 0
    worst = None
    poor = 0
    dihedral = []
    largest = 0
    worst_volume_error = 0.0
    while time.time() - start < a.seconds and (a.runs == 0 or runs < a.runs):
        case_seed = master.randrange(1 << 30)
        rng = random.Random(case_seed)
        case = gen_case(rng, a.max_tetras, kinds, a.quads)
        case["seed"] = case_seed
        rerun = rng.random() < a.rerun
        text, opts, result, problems, stats = run_case(mgn, case, a.timeout, rerun)
        runs += 1
        kind = case["geometry"]["kind"]
        k = by_kind.setdefault(kind, [0, 0])
        k[0] += 1
        tetra_total += stats.get("tetras", 0)
        largest = max(largest, stats.get("tetras", 0))
        unresolved += stats.get("unresolved", 0)
        if "worst_quality" in stats:
            worst = stats["worst_quality"] if worst is None else min(worst, stats["worst_quality"])
            if stats["worst_quality"] < 0.01:
                poor += 1
        if "min_dihedral" in stats:
            dihedral.append(stats["min_dihedral"])
        worst_volume_error = max(worst_volume_error, stats.get("box_volume_error", 0.0))
        if a.verbose:
            print("case %d seed %d: %s -> status %s, %.1fs, %s tetras (est %.0f, worst quality %s)%s" % (
                runs, case_seed, describe(case), result["status"], result["elapsed"], stats.get("tetras", "-"),
                estimate_tetras(case), stats.get("worst_quality", "-"),
                (": " + "; ".join(problems)) if problems else "")
                + (" volume error %.2g" % max(abs(e) for e in stats["volume_error"]) if stats.get("volume_error") else ""))
            sys.stdout.flush()
        if problems:
            k[1] += 1
            d = save_finding(out_dir, "finding-%d" % (len(findings) + 1), case, text, result, problems)
            findings.append(d)
            key = problem_kind(problems)
            if key not in seen:
                seen[key] = d
                print("FINDING %s: %s [%s]" % (d, "; ".join(problems)[:400], describe(case)))
                sys.stdout.flush()
    elapsed = time.time() - start
    print("region_fuzz: %d runs in %.0f s (%s), %d tetras checked (largest mesh %d), %d tetras flatter than the "
          "written digits resolve, worst tetra quality %s (below 0.01 in %d runs), largest box volume error %.2g" % (
              runs, elapsed, ", ".join("%s %d" % (kk, v[0]) for kk, v in sorted(by_kind.items())), tetra_total,
              largest, unresolved, worst, poor, worst_volume_error))
    if dihedral:
        dihedral.sort()
        print("region_fuzz: smallest dihedral angle of the %d runs with -q 2 or 3: below 5 degrees in %d, "
              "below 10 in %d, median %.3g" % (len(dihedral), sum(1 for a in dihedral if a < 5),
                                               sum(1 for a in dihedral if a < 10), dihedral[len(dihedral) // 2]))
    for key, d in sorted(seen.items()):
        print("  kind of finding: %s  [first: %s]" % (key[:200], d))
    print("region_fuzz: %d findings%s" % (len(findings), " in %s" % out_dir if findings else ""))
    print("%d passed, %d failed" % (runs - len(findings), len(findings)))
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
