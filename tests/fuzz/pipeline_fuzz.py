#!/usr/bin/env python3
"""Whole-pipeline stress driver for the mgn executable.

Generates small models (vertices; curves of orders 2 to 6 with weights,
sizes, counts, mirrors, fixed vertices and fixed curves; planar squares,
cylinder and sphere pieces, collapsed sides, surfaces sharing curves, fixed
vertices, curves and holes on surfaces; patches in turned planes with
bulging sides and circular holes; shells on cylinder pieces with a window),
mutates some of them at the text
level, pairs each with a random set of options and runs the program in a
fresh temporary directory with a time limit.  A run is a finding when

  - it ends by a signal, or prints a sanitizer report;
  - its exit status is not one of 0, 5, 10, 15, 20, 25, 30, 35, 40;
  - it runs past the time limit;
  - it ends with status 0 and the mesh file is inconsistent: header or count
    line malformed, a section whose length differs from its count, node
    numbers missing or repeated, element nodes out of range or repeated, a
    coordinate that is not finite, a triangle of zero area, an edge of zero
    length, or counts that differ from those printed on standard output;
  - it ends with status 0 on an unmutated model and the mesh contradicts the
    geometry: the triangles of a surface, patch or shell of known area do
    not cover it, the edges of a curve of known length do not follow it, the
    triangles of a surface are not all oriented alike, or those of a patch
    or shell do not all turn about its normal.

Runs of unmutated models that end with a fatal error are not findings (a
coarse size may legitimately defeat a mesher) but are listed as notes.

A run past the time limit on a request for an enormous mesh (coordinates
spanning more than 1000 times the smallest size, a huge count or density, an
extreme weight) is slow rather than hung and is listed as a note.

Usage:
  pipeline_fuzz.py [--mgn build-sanitize/mgn] [--seconds 150] [--seed 1]
                   [--timeout 60] [--out DIR] [--runs N] [--verbose]
  pipeline_fuzz.py --replay DIR/finding-N     (runs one saved case again)
  pipeline_fuzz.py --reduce DIR/finding-N     (shrinks it: model.min.mgn)

The total time stays below --seconds plus one run's limit.  Every finding is saved as a directory holding model.mgn, the
arguments (args.json), standard output and error, the reason and, for a
run past the time limit, the stack of the program (stack.txt, through gdb
when it is installed); the script exits with 1 when there is any finding.
The case sequence depends only on the seed, so a run is reproducible (the
time budget decides how far it gets).  Standard library only.
"""

import argparse
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

ALLOWED_STATUS = {0, 5, 10, 15, 20, 25, 30, 35, 40}
SANITIZER_MARKS = ("AddressSanitizer", "UndefinedBehaviorSanitizer", "runtime error:",
                   "LeakSanitizer", "ERROR: ", "SUMMARY: ")


# ---------------------------------------------------------------------------
# Rational Bezier geometry (for the expectations of unmutated models).

def bezier_point(net, t):
    """Point of a rational Bezier curve given as [(x, y, z, w), ...]."""
    pts = [(p[0] * p[3], p[1] * p[3], p[2] * p[3], p[3]) for p in net]
    n = len(pts)
    for r in range(1, n):
        pts = [tuple((1 - t) * a + t * b for a, b in zip(pts[i], pts[i + 1])) for i in range(n - r)]
    x, y, z, w = pts[0]
    return (x / w, y / w, z / w)


def curve_length(net, samples=400):
    total = 0.0
    prev = bezier_point(net, 0.0)
    for i in range(1, samples + 1):
        cur = bezier_point(net, i / samples)
        total += dist(prev, cur)
        prev = cur
    return total


def fmt(x):
    return repr(float(x)) if not float(x).is_integer() else str(int(x)) if abs(x) < 1e15 else repr(float(x))


def sig(x, digits=6):
    """x rounded to a number of significant digits (sizes of any scale)."""
    return float("%.*g" % (digits, x))


# ---------------------------------------------------------------------------
# Model generation.

class Model:
    """A model file being written, with what its mesh must satisfy."""

    def __init__(self, rng):
        self.rng = rng
        self.lines = []
        self.nv = 0
        self.nc = 0
        self.ns = 0
        self.curve_nets = {}      # curve id -> net (when known exactly)
        self.curve_ends = {}      # curve id -> (vertex a, vertex b)
        self.vertex_pos = {}
        # Expectations on a status-0 mesh of the unmutated model.
        self.curve_length = {}    # curve id -> (length, straight)
        self.surface_area = {}    # surface id -> (area, planar)
        self.surface_normal = {}  # surface id -> function(point) -> reference normal
        self.patch_area = {}      # patch id -> (area, area of the bulges of its sides, area of its holes)
        self.patch_normal = {}    # patch id -> function(point) -> NORMAL
        self.shell_area = {}      # shell id -> (area, planar, area of its window)
        self.shell_normal = {}    # shell id -> function(point) -> Su x Sv of its surface
        # (key, id) -> function(point) -> distance from the exact surface of
        # a surface (key 3), patch (5) or shell (6)
        self.residual = {}
        self.np = 0
        self.nsh = 0
        self.needs_size = True    # no sizes on the entities: -u or -d required
        self.sized = False        # every free vertex gets a size
        self.size_base = 1.0      # the extent the vertex sizes derive from
        self.curve_order = {}
        self.silent_curves = set()  # curves with OUTPUT NO (edges not written)
        self.weak_mirrors = set()   # curves whose mesh may leave their geometry

    def comment(self, text):
        self.lines.append("# " + text)

    def quad_flag(self):
        """A QUAD request on about a third of the surfaces, patches and
        shells (their quad meshes are checked as the triangles are)."""
        return " quad" if self.rng.random() < 0.35 else ""

    def vertex(self, p, extra=""):
        if self.sized and " size " not in extra:
            extra += size_opt(self.rng, self.size_base, 1.0)
        self.nv += 1
        self.vertex_pos[self.nv] = p
        self.lines.append("vertex %d xyz %s %s %s%s" % (self.nv, fmt(p[0]), fmt(p[1]), fmt(p[2]), extra))
        return self.nv

    def curve(self, a, b, inner=(), extra="", polygon_extra=None, expect=True):
        """A curve from vertex a to b; inner = [(x, y, z, w), ...]."""
        self.nc += 1
        cid = self.nc
        order = len(inner) + 2
        text = "curve %d vertex %d %d" % (cid, a, b)
        if order > 2:
            text += " order %d" % order
        extra += output_flags(self.rng, True)
        if " output no" in extra and " mirror " not in extra:
            self.silent_curves.add(cid)
        if " weak mirror " in extra:
            self.weak_mirrors.add(cid)
        self.lines.append(text + extra)
        for k, p in enumerate(inner, start=1):
            line = "polygon %d xyz %s %s %s" % (k, fmt(p[0]), fmt(p[1]), fmt(p[2]))
            if p[3] != 1.0:
                line += " weight %s" % fmt(p[3])
            if polygon_extra:
                line += polygon_extra
            self.lines.append(line)
        pa, pb = self.vertex_pos[a], self.vertex_pos[b]
        net = [(pa[0], pa[1], pa[2], 1.0)] + list(inner) + [(pb[0], pb[1], pb[2], 1.0)]
        self.curve_nets[cid] = net
        self.curve_order[cid] = order
        self.curve_ends[cid] = (a, b)
        if expect and a != b:
            self.curve_length[cid] = (curve_length(net), dist(pa, pb))
        return cid

    def surface(self, sides, extra="", polygon=()):
        """A surface on four sides; a surface with inner control points and
        no polygon lines given ends its (empty) polygon with POLYEND."""
        extra += output_flags(self.rng, False) + self.quad_flag()
        self.ns += 1
        self.lines.append("surface %d curve %d %d %d %d%s" % ((self.ns,) + tuple(sides) + (extra,)))
        given = re.search(r" order (\d+) (\d+)", extra)
        gu, gv = (int(given.group(1)), int(given.group(2))) if given else (0, 0)
        ou = max(gu, self.curve_order.get(sides[0], 2), self.curve_order.get(sides[2], 2))
        ov = max(gv, self.curve_order.get(sides[1], 2), self.curve_order.get(sides[3], 2))
        if polygon:
            self.lines.extend(polygon)
        elif ou > 2 and ov > 2:
            self.lines.append("polyend")
        return self.ns


def output_flags(rng, curve):
    """Output and master/slave requests: OUTPUT NO (a curve's edges are not
    written, its nodes are wherever other elements use them; a surface is not
    meshed), OUTPUT YES, SLAVE and, on curves, MASTER."""
    flags = ""
    r = rng.random()
    if r < 0.1:
        flags += " output no"
    elif r < 0.14:
        flags += " output yes"
    r = rng.random()
    if r < 0.05:
        flags += " slave"
    elif r < 0.1 and curve:
        flags += " master"
    return flags


def rand_size(rng, extent):
    return extent * rng.choice([0.08, 0.15, 0.25, 0.4, 0.7])


def size_opt(rng, extent, chance=0.5):
    return " size %s" % fmt(sig(rand_size(rng, extent))) if rng.random() < chance else ""


def add_square(m, origin, side, z, sized, fixed_inside=False, hole=False, curved=False):
    """A planar square with optional curved (in-plane) sides, fixed vertices,
    a fixed iso-parametric curve and a hole surface fixed inside."""
    rng = m.rng
    ox, oy = origin
    extra_v = (lambda: size_opt(rng, side, 0.7)) if sized else (lambda: "")
    v1 = m.vertex((ox, oy, z), extra_v())
    v2 = m.vertex((ox + side, oy, z), extra_v())
    v3 = m.vertex((ox + side, oy + side, z), extra_v())
    v4 = m.vertex((ox, oy + side, z), extra_v())

    def side_curve(a, b):
        pa, pb = m.vertex_pos[a], m.vertex_pos[b]
        extra = ""
        if rng.random() < 0.2:
            extra += " count %d" % rng.randint(1, 6)
        if rng.random() < 0.2:
            extra += " rate %s" % rng.choice(["0.5", "1", "def", "2 * 0.5"])
        # Straight sides given as higher-order curves with collinear points.
        if rng.random() < 0.3 and not curved:
            order = rng.randint(3, 6)
            inner = []
            for k in range(1, order - 1):
                f = k / (order - 1)
                inner.append((pa[0] + f * (pb[0] - pa[0]), pa[1] + f * (pb[1] - pa[1]), z, 1.0))
            return m.curve(a, b, inner, extra)
        return m.curve(a, b, (), extra)

    # Sides: 1 along u (v1 -> v2), 2 along v (v1 -> v4), 3 (v4 -> v3), 4 (v2 -> v3).
    c1 = side_curve(v1, v2)
    c2 = side_curve(v1, v4)
    c3 = side_curve(v4, v3)
    c4 = side_curve(v2, v3)
    extra = ""
    if sized and rng.random() < 0.5:
        extra += " size %s" % fmt(sig(rand_size(rng, side)))
    if rng.random() < 0.2:
        extra += " rate %s" % rng.choice(["0.5", "def"])
    sid = m.surface((c1, c2, c3, c4), extra)
    area = side * side
    m.surface_normal[sid] = lambda p: (0.0, 0.0, 1.0)
    if fixed_inside:
        # Fixed vertices and an iso-parametric curve between two of them.
        u0, u1 = sorted(rng.sample([0.2, 0.3, 0.45, 0.6, 0.75], 2))
        v0 = rng.choice([0.25, 0.5, 0.7])
        a = m.vertex_fixed_surface(sid, u0, v0, (ox + u0 * side, oy + v0 * side, z))
        b = m.vertex_fixed_surface(sid, u1, v0, (ox + u1 * side, oy + v0 * side, z))
        m.nc += 1
        m.lines.append("curve %d vertex %d %d fixed surface %d" % (m.nc, a, b, sid))
        m.curve_length[m.nc] = ((u1 - u0) * side, (u1 - u0) * side)
        if rng.random() < 0.5:
            m.vertex_fixed_surface(sid, 0.5, 0.15, (ox + 0.5 * side, oy + 0.15 * side, z))
    if hole:
        lo, hi = 0.3, 0.7
        corners = [(lo, lo), (hi, lo), (hi, hi), (lo, hi)]
        ids = [m.vertex_fixed_surface(sid, u, v, (ox + u * side, oy + v * side, z)) for u, v in corners]
        cs = []
        for a, b in ((0, 1), (0, 3), (3, 2), (1, 2)):
            m.nc += 1
            m.lines.append("curve %d vertex %d %d fixed surface %d" % (m.nc, ids[a], ids[b], sid))
            cs.append(m.nc)
        m.ns += 1
        m.lines.append("surface %d curve %d %d %d %d fixed surface %d hole" % ((m.ns,) + tuple(cs) + (sid,)))
        area -= (hi - lo) ** 2 * side * side
    m.surface_area[sid] = (area, True)
    m.residual[(3, sid)] = lambda p: abs(p[2] - z)
    return sid, (c1, c2, c3, c4), (v1, v2, v3, v4)


def vertex_fixed_surface(self, sid, u, v, p):
    self.nv += 1
    self.vertex_pos[self.nv] = p
    self.lines.append("vertex %d fixed surface %d uv %s %s" % (self.nv, sid, fmt(u), fmt(v)))
    return self.nv


Model.vertex_fixed_surface = vertex_fixed_surface


def add_two_squares(m, origin, side, z, sized):
    """Two squares sharing a side (the shared curve is meshed once)."""
    sid, curves, verts = add_square(m, origin, side, z, sized)
    ox, oy = origin
    v5 = m.vertex((ox + 2 * side, oy, z))
    v6 = m.vertex((ox + 2 * side, oy + side, z))
    c5 = m.curve(verts[1], v5)
    c6 = m.curve(verts[2], v6)
    c7 = m.curve(v5, v6)
    s2 = m.surface((c5, curves[3], c6, c7))
    m.surface_area[s2] = (side * side, True)
    m.surface_normal[s2] = lambda p: (0.0, 0.0, 1.0)
    m.residual[(3, s2)] = lambda p: abs(p[2] - z)


def add_cylinder(m, center, radius, height, angle_deg, sized):
    """A cylinder piece around the z axis: a rational quadratic arc swept
    along z (orders 3 x 2)."""
    rng = m.rng
    cx, cy, cz = center
    a = math.radians(angle_deg)
    w = math.cos(a / 2)
    extra_v = (lambda: size_opt(rng, radius, 0.7)) if sized else (lambda: "")
    p0 = (cx + radius, cy, cz)
    p1 = (cx + radius * math.cos(a), cy + radius * math.sin(a), cz)
    mid = (cx + radius / w * math.cos(a / 2), cy + radius / w * math.sin(a / 2))
    v1 = m.vertex(p0, extra_v())
    v2 = m.vertex(p1, extra_v())
    v3 = m.vertex((p0[0], p0[1], cz + height), extra_v())
    v4 = m.vertex((p1[0], p1[1], cz + height), extra_v())
    c1 = m.curve(v1, v2, [(mid[0], mid[1], cz, w)])
    c3 = m.curve(v3, v4, [(mid[0], mid[1], cz + height, w)])
    c2 = m.curve(v1, v3)
    c4 = m.curve(v2, v4)
    extra = " size %s" % fmt(sig(rand_size(rng, radius))) if sized and rng.random() < 0.5 else ""
    sid = m.surface((c1, c2, c3, c4), extra)
    m.surface_area[sid] = (radius * a * height, False)
    m.surface_normal[sid] = lambda p: (p[0] - cx, p[1] - cy, 0.0)
    m.residual[(3, sid)] = lambda p: abs(math.hypot(p[0] - cx, p[1] - cy) - radius)


def add_sphere_octant(m, center, radius, sized, pole_first=False):
    """The octant of a sphere with its pole side collapsed into a vertex."""
    rng = m.rng
    cx, cy, cz = center
    r = radius
    w = math.sqrt(0.5)
    extra_v = (lambda: size_opt(rng, radius, 0.7)) if sized else (lambda: "")
    v1 = m.vertex((cx + r, cy, cz), extra_v())
    v2 = m.vertex((cx, cy + r, cz), extra_v())
    v3 = m.vertex((cx, cy, cz + r), extra_v())
    c1 = m.curve(v1, v2, [(cx + r, cy + r, cz, w)])
    c2 = m.curve(v1, v3, [(cx + r, cy, cz + r, w)])
    c4 = m.curve(v2, v3, [(cx, cy + r, cz + r, w)])
    c3 = m.curve(v3, v3, [(cx, cy, cz + r, w)], expect=False)
    poly = ["polygon 1 1 xyz %s %s %s weight 0.5" % (fmt(cx + r), fmt(cy + r), fmt(cz + r))]
    if pole_first:
        # The same surface with its sides listed from another corner.
        sid = m.surface((c2, c3, c4, c1), "", ())
        return
    sid = m.surface((c1, c2, c3, c4), "", poly)
    m.surface_area[sid] = (math.pi * r * r / 2, False)
    m.surface_normal[sid] = lambda p: (p[0] - cx, p[1] - cy, p[2] - cz)
    m.residual[(3, sid)] = lambda p: abs(dist(p, center) - r)


def add_wire(m, origin, extent, sized):
    """Free curves of orders 2 to 6 with weights, sizes, counts, fixed
    vertices, a fixed sub-curve and mirrors."""
    rng = m.rng
    ox, oy, oz = origin
    n = rng.randint(2, 4)
    verts = []
    for _ in range(n + 1):
        p = (ox + rng.uniform(0, extent), oy + rng.uniform(0, extent), oz + rng.uniform(0, extent))
        verts.append(m.vertex(p, size_opt(rng, extent, 0.8 if sized else 0.0)))
    made = []
    for i in range(n):
        a, b = verts[i], verts[i + 1]
        if rng.random() < 0.3:
            a, b = b, a
        order = rng.randint(2, 6)
        pa, pb = m.vertex_pos[a], m.vertex_pos[b]
        inner = []
        for k in range(1, order - 1):
            f = k / (order - 1)
            bump = extent * rng.uniform(-0.3, 0.3)
            inner.append((pa[0] + f * (pb[0] - pa[0]) + bump, pa[1] + f * (pb[1] - pa[1]),
                          pa[2] + f * (pb[2] - pa[2]) - bump, rng.choice([1.0, 1.0, 0.5, 2.0, 0.8])))
        extra = ""
        if sized and rng.random() < 0.5:
            extra += " size %s" % fmt(sig(rand_size(rng, extent)))
        if rng.random() < 0.25:
            extra += " count %d" % rng.randint(1, 8)
        if rng.random() < 0.2:
            extra += " density %s" % rng.choice(["0.5", "2", "def", "1 * 3"])
        if rng.random() < 0.15:
            extra += " factor %s" % rng.choice(["0.5", "2", "1"])
        polygon_extra = None
        if sized:
            choices = [None, None, " size %s * 2" % fmt(sig(rand_size(rng, extent) / 2))]
            if " size " in extra:
                choices.append(" size cur")
            polygon_extra = rng.choice(choices)
        made.append(m.curve(a, b, inner, extra, polygon_extra))
    # A vertex fixed on a curve.
    if rng.random() < 0.6:
        c = rng.choice(made)
        t = rng.choice([0.1, 0.33, 0.5, 0.9])
        m.nv += 1
        m.vertex_pos[m.nv] = bezier_point(m.curve_nets[c], t)
        m.lines.append("vertex %d fixed curve %d t %s" % (m.nv, c, fmt(t)))
        m.curve_length.pop(c, None)
    # A curve fixed to a parent curve between two vertices fixed on it.
    if rng.random() < 0.4:
        c = rng.choice(made)
        t0, t1 = sorted(rng.sample([0.15, 0.3, 0.5, 0.7, 0.85], 2))
        ids = []
        for t in (t0, t1):
            m.nv += 1
            m.vertex_pos[m.nv] = bezier_point(m.curve_nets[c], t)
            m.lines.append("vertex %d fixed curve %d t %s" % (m.nv, c, fmt(t)))
            ids.append(m.nv)
        m.nc += 1
        m.lines.append("curve %d vertex %d %d fixed curve %d" % (m.nc, ids[0], ids[1], c))
        m.curve_length.pop(c, None)
    # A mirrored copy: a translated straight curve that mirrors a straight one.
    if rng.random() < 0.4:
        shift = extent * 1.5
        pa = (ox, oy + shift, oz)
        pb = (ox + extent * 0.7, oy + shift, oz)
        a = m.vertex(pa, size_opt(rng, extent, 0.8 if sized else 0.0))
        b = m.vertex(pb, size_opt(rng, extent, 0.8 if sized else 0.0))
        src = m.curve(a, b, (), " count %d" % rng.randint(1, 5) if rng.random() < 0.5 else "")
        a2 = m.vertex((pa[0], pa[1] + extent * 0.5, pa[2]))
        b2 = m.vertex((pb[0], pb[1] + extent * 0.5, pb[2]))
        weak = " weak" if rng.random() < 0.3 else ""
        m.curve(a2, b2, (), "%s mirror %d" % (weak, src))


def add_lone_vertices(m, origin, extent, sized):
    for _ in range(m.rng.randint(1, 3)):
        p = (origin[0] + m.rng.uniform(0, extent), origin[1] + m.rng.uniform(0, extent), origin[2])
        m.vertex(p, size_opt(m.rng, extent, 0.8 if sized else 0.0))


def add_collapsed_square(m, origin, side, sized):
    """A triangle-like surface: one side of a square collapsed into a
    vertex (the curve from the vertex to itself, straight)."""
    ox, oy = origin
    v1 = m.vertex((ox, oy, 0.0))
    v2 = m.vertex((ox + side, oy, 0.0))
    v3 = m.vertex((ox + side / 2, oy + side, 0.0))
    c1 = m.curve(v1, v2)
    c2 = m.curve(v1, v3)
    c3 = m.curve(v3, v3, (), "", None, expect=False)
    c4 = m.curve(v2, v3)
    sid = m.surface((c1, c2, c3, c4))
    m.surface_area[sid] = (side * side / 2, True)
    m.surface_normal[sid] = lambda p: (0.0, 0.0, 1.0)


# The kinds of parts of a model, and those of the models of patches and
# shells (drawn in cases of their own, so that the cases of the other kinds
# stay what they were).
PART_KINDS = ["square", "square_fixed", "square_hole", "two_squares", "cylinder", "sphere", "sphere_rot",
              "wire", "vertices", "collapsed", "curved_square", "spike"]
FACE_KINDS = ["patch", "patch", "shell", "square_hole"]


def generate_model(rng, kinds=PART_KINDS):
    m = Model(rng)
    sized = rng.random() < 0.5
    m.needs_size = not sized
    scale = rng.choice([1.0, 1.0, 1.0, 10.0, 0.01, 1000.0])
    if rng.random() < 0.1:
        # Extreme coordinates: beyond the single-precision range of sizes,
        # at its edges, and far below the user epsilon.
        scale = rng.choice([1e-300, 1e-30, 1e-12, 1e12, 1e30, 1e37, 1e38, 1e39, 1e100, 1e300])
    m.scale = scale
    m.sized = sized
    m.size_base = scale * rng.choice([1.0, 2.0, 5.0])
    parts = rng.randint(1, 3)
    # Models far from the origin, where the tolerance is coarse.
    x = x0 = scale * rng.choice([1e8, 1e13, -1e13]) if rng.random() < 0.06 else 0.0
    for _ in range(parts):
        kind = rng.choice(kinds)
        extent = scale * rng.choice([1.0, 2.0, 5.0, 10.0])
        origin = (x, rng.choice([0.0, 0.3 * scale]))
        if kind == "square":
            add_square(m, origin, extent, 0.0, sized)
        elif kind == "square_fixed":
            add_square(m, origin, extent, 0.0, sized, fixed_inside=True)
        elif kind == "square_hole":
            add_square(m, origin, extent, 0.0, sized, hole=True)
        elif kind == "two_squares":
            add_two_squares(m, origin, extent, 0.0, sized)
            extent *= 2
        elif kind == "cylinder":
            add_cylinder(m, (x, 0.0, 0.0), extent / 2, extent, rng.choice([30, 60, 90, 120, 170]), sized)
        elif kind == "sphere":
            add_sphere_octant(m, (x, 0.0, 0.0), extent / 2, sized)
        elif kind == "sphere_rot":
            add_sphere_octant(m, (x, 0.0, 0.0), extent / 2, sized, pole_first=True)
        elif kind == "wire":
            add_wire(m, (x, 0.0, 0.0), extent, sized)
        elif kind == "vertices":
            add_lone_vertices(m, (x, 0.0, 0.0), extent, sized)
        elif kind == "collapsed":
            add_collapsed_square(m, origin, extent, sized)
        elif kind == "curved_square":
            add_curved_square(m, origin, extent, sized)
        elif kind == "spike":
            add_spike(m, origin, extent, sized)
        elif kind == "patch":
            add_patch(m, (x, origin[1], 0.0), extent, sized)
        elif kind == "shell":
            add_cylinder_shell(m, (x, 0.0, 0.0), extent / 2, extent, rng.choice([60, 90, 120, 170]), sized)
        x += extent * 1.6 + scale
    m.extent = x - x0
    if scale > 1e100 or x0 != 0.0 or not all(math.isfinite(v) for p in m.vertex_pos.values() for v in p):
        # Lengths and areas overflow, or (far from the origin) the eight
        # significant digits of the written coordinates do not resolve the
        # elements: no expectation beyond the checks of any mesh.
        m.curve_length.clear()
        for d in (m.surface_area, m.surface_normal, m.patch_area, m.patch_normal, m.shell_area, m.shell_normal,
                  m.residual):
            d.clear()
    if sized and rng.random() < 0.05:
        # One vertex with an extreme size.  Not below a millionth of the
        # coordinates: a mesh graded down to such a vertex has elements that
        # the eight significant digits of the written coordinates do not
        # resolve (coinciding nodes in the file), a fault of its own.
        k = rng.randrange(len(m.lines))
        if m.lines[k].startswith("vertex ") and " xyz " in m.lines[k]:
            m.lines[k] = re.sub(r" size \S+", "", m.lines[k]) + " size %s" % fmt(
                rng.choice([m.size_base * 1e-6, m.size_base * 1e6, 1e300, 1e38]))
    return m


def random_rotation(rng):
    """A rotation matrix (rows): identity half of the time, else about a
    random axis by a random angle."""
    if rng.random() < 0.5:
        return ((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0))
    axis = (rng.uniform(-1, 1), rng.uniform(-1, 1), rng.uniform(-1, 1))
    n = norm(axis) or 1.0
    x, y, z = (a / n for a in axis)
    t = rng.uniform(0.0, 2.0 * math.pi)
    c, s, k = math.cos(t), math.sin(t), 1.0 - math.cos(t)
    return ((c + x * x * k, x * y * k - z * s, x * z * k + y * s),
            (y * x * k + z * s, c + y * y * k, y * z * k - x * s),
            (z * x * k - y * s, z * y * k + x * s, c + z * z * k))


def add_patch(m, origin, extent, sized):
    """A planar patch in a randomly turned plane: a star-shaped polygon of 3
    to 8 corners, some sides bulging outward (quadratic, area known), some
    curves written backward and used from their right side, and up to three
    circular holes (four rational quarter arcs each)."""
    rng = m.rng
    rot = random_rotation(rng)
    if abs(origin[0]) > 1e6 * extent:
        # Far from the origin the written coordinates keep too few digits
        # for a turned plane to stay a plane: the patch lies in z = 0.
        rot = ((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0))
    big = extent / 2
    centre = (origin[0] + big, origin[1] + big, origin[2])

    def place(x, y):
        return tuple(centre[i] + rot[i][0] * x + rot[i][1] * y for i in range(3))

    extra_v = (lambda: size_opt(rng, extent, 0.7)) if sized else (lambda: "")
    n = rng.randint(3, 8)
    local = []
    for k in range(n):
        a = 2 * math.pi * k / n + rng.uniform(-0.3, 0.3) * math.pi / n
        r = big * rng.uniform(0.7, 1.0)
        local.append((r * math.cos(a), r * math.sin(a)))
    area = 0.5 * sum(local[k][0] * local[(k + 1) % n][1] - local[(k + 1) % n][0] * local[k][1] for k in range(n))
    inradius = min(abs(local[k][0] * local[(k + 1) % n][1] - local[(k + 1) % n][0] * local[k][1]) /
                   math.hypot(local[(k + 1) % n][0] - local[k][0], local[(k + 1) % n][1] - local[k][1])
                   for k in range(n))
    ids = [m.vertex(place(*p), extra_v()) for p in local]
    loop = []
    bulges = 0.0
    for k in range(n):
        (xa, ya), (xb, yb) = local[k], local[(k + 1) % n]
        a, b = ids[k], ids[(k + 1) % n]
        inner = ()
        if rng.random() < 0.3:
            chord = math.hypot(xb - xa, yb - ya)
            h = chord * rng.uniform(0.05, 0.2)
            mx, my = (xa + xb) / 2 + h * (yb - ya) / chord, (ya + yb) / 2 - h * (xb - xa) / chord
            inner = (place(mx, my) + (1.0,),)
            area += chord * h / 3  # between the chord and the parabola
            bulges += chord * h / 3
        if rng.random() < 0.3:
            loop.append(-m.curve(b, a, tuple(reversed(inner))))
        else:
            loop.append(m.curve(a, b, inner))
    holes = rng.choice([0, 0, 1, 2, 3])
    hole_loops = []
    hole_area = 0.0
    w = math.sqrt(0.5)
    for j in range(holes):
        if holes == 1:
            hx, hy, rho = 0.0, 0.0, inradius * rng.uniform(0.15, 0.5)
        else:
            t = 2 * math.pi * j / holes
            hx, hy, rho = 0.45 * inradius * math.cos(t), 0.45 * inradius * math.sin(t), inradius * rng.uniform(0.1, 0.2)
        dirs = ((1, 0), (0, 1), (-1, 0), (0, -1))
        hv = [m.vertex(place(hx + rho * dx, hy + rho * dy), extra_v()) for dx, dy in dirs]
        backward = rng.random() < 0.5  # arcs clockwise, used from their left side
        for k in range(4):
            d0, d1 = dirs[k], dirs[(k + 1) % 4]
            corner = place(hx + rho * (d0[0] + d1[0]), hy + rho * (d0[1] + d1[1])) + (w,)
            if backward:
                hole_loops.append(m.curve(hv[(k + 1) % 4], hv[k], (corner,)))
            else:
                hole_loops.append(-m.curve(hv[k], hv[(k + 1) % 4], (corner,)))
        area -= math.pi * rho * rho
        hole_area += math.pi * rho * rho
    normal = tuple(rot[i][2] for i in range(3))
    m.np += 1
    text = "patch %d normal %s %s %s boundary curve %s" % (
        m.np, fmt(normal[0]), fmt(normal[1]), fmt(normal[2]), " ".join(str(c) for c in loop))
    if hole_loops:
        text += " boundary curve " + " ".join(str(c) for c in hole_loops)
    if sized and rng.random() < 0.5:
        text += " size %s" % fmt(sig(rand_size(rng, extent)))
    text += m.quad_flag()
    m.lines.append(text)
    m.patch_area[m.np] = (area, bulges, hole_area)
    m.patch_normal[m.np] = lambda p: normal
    m.residual[(5, m.np)] = lambda p: abs(dot(sub(p, centre), normal))


def add_cylinder_shell(m, center, radius, height, angle_deg, sized):
    """A shell on a (virtual) cylinder piece around the z axis: bounded by
    the four sides of the surface and a window of four iso-parametric curves
    fixed on it."""
    rng = m.rng
    cx, cy, cz = center
    a = math.radians(angle_deg)
    w = math.cos(a / 2)
    extra_v = (lambda: size_opt(rng, radius, 0.7)) if sized else (lambda: "")
    p0 = (cx + radius, cy, cz)
    p1 = (cx + radius * math.cos(a), cy + radius * math.sin(a), cz)
    mid = (cx + radius / w * math.cos(a / 2), cy + radius / w * math.sin(a / 2))
    v1 = m.vertex(p0, extra_v())
    v2 = m.vertex(p1, extra_v())
    v3 = m.vertex((p0[0], p0[1], cz + height), extra_v())
    v4 = m.vertex((p1[0], p1[1], cz + height), extra_v())
    c1 = m.curve(v1, v2, [(mid[0], mid[1], cz, w)])
    c3 = m.curve(v3, v4, [(mid[0], mid[1], cz + height, w)])
    c2 = m.curve(v1, v3)
    c4 = m.curve(v2, v4)
    m.ns += 1
    sid = m.ns
    m.lines.append("surface %d curve %d %d %d %d virtual" % (sid, c1, c2, c3, c4))
    u0, u1 = sorted(rng.sample([0.2, 0.3, 0.45, 0.6, 0.75], 2))
    t0, t1 = sorted(rng.sample([0.2, 0.35, 0.5, 0.65, 0.8], 2))

    def angle(u):
        net = [(p0[0], p0[1], cz, 1.0), (mid[0], mid[1], cz, w), (p1[0], p1[1], cz, 1.0)]
        p = bezier_point(net, u)
        return math.atan2(p[1] - cy, p[0] - cx)

    corners = [(u0, t0), (u1, t0), (u1, t1), (u0, t1)]
    ids = []
    for u, v in corners:
        m.nv += 1
        ids.append(m.nv)
        m.vertex_pos[m.nv] = (cx + radius * math.cos(angle(u)), cy + radius * math.sin(angle(u)), cz + v * height)
        m.lines.append("vertex %d fixed surface %d uv %s %s" % (m.nv, sid, fmt(u), fmt(v)))
    window = []
    for k in range(4):
        m.nc += 1
        m.lines.append("curve %d vertex %d %d fixed surface %d" % (m.nc, ids[k], ids[(k + 1) % 4], sid))
        window.append(-m.nc)
    m.nsh += 1
    text = "shell %d bgsurface %d boundary curve %d %d %d %d boundary curve %s" % (
        m.nsh, sid, c1, c4, -c3, -c2, " ".join(str(c) for c in window))
    if sized and rng.random() < 0.5:
        text += " size %s" % fmt(sig(rand_size(rng, radius)))
    text += m.quad_flag()
    m.lines.append(text)
    window_area = radius * (angle(u1) - angle(u0)) * height * (t1 - t0)
    m.shell_area[m.nsh] = (radius * a * height - window_area, False, window_area)
    m.shell_normal[m.nsh] = lambda p: (p[0] - cx, p[1] - cy, 0.0)
    m.residual[(6, m.nsh)] = lambda p: abs(math.hypot(p[0] - cx, p[1] - cy) - radius)


def add_spike(m, origin, side, sized):
    """A square of orders 3 x 3 whose inner control point lies far above or
    below it (up to 1e300 times its side): both parameter lines run along
    the spike, so the size field may need more samples than can be made."""
    rng = m.rng
    ox, oy = origin
    extra_v = (lambda: size_opt(rng, side, 0.7)) if sized else (lambda: "")
    v1 = m.vertex((ox, oy, 0.0), extra_v())
    v2 = m.vertex((ox + side, oy, 0.0), extra_v())
    v3 = m.vertex((ox + side, oy + side, 0.0), extra_v())
    v4 = m.vertex((ox, oy + side, 0.0), extra_v())
    c1 = m.curve(v1, v2)
    c2 = m.curve(v1, v4)
    c3 = m.curve(v4, v3)
    c4 = m.curve(v2, v3)
    depth = side * rng.choice([1.0, 1e3, -1e6, 1e20, -1e37, 1e300])
    m.surface((c1, c2, c3, c4), " order 3 3",
              ["polygon 1 1 xyz %s %s %s" % (fmt(ox + side / 2), fmt(oy + side / 2), fmt(depth))])


def add_curved_square(m, origin, side, sized):
    """A square whose sides bulge out of the plane (orders 3 to 5); the
    surface's inner points are completed by the program."""
    rng = m.rng
    ox, oy = origin
    v = [m.vertex((ox, oy, 0.0)), m.vertex((ox + side, oy, 0.0)),
         m.vertex((ox + side, oy + side, 0.0)), m.vertex((ox, oy + side, 0.0))]

    def bulged(a, b):
        pa, pb = m.vertex_pos[a], m.vertex_pos[b]
        order = rng.randint(2, 5)
        inner = []
        for k in range(1, order - 1):
            f = k / (order - 1)
            inner.append((pa[0] + f * (pb[0] - pa[0]), pa[1] + f * (pb[1] - pa[1]),
                          side * rng.uniform(-0.2, 0.2), rng.choice([1.0, 0.7, 1.5])))
        return m.curve(a, b, inner)

    c1 = bulged(v[0], v[1])
    c2 = bulged(v[0], v[3])
    c3 = bulged(v[3], v[2])
    c4 = bulged(v[1], v[2])
    extra = ""
    if rng.random() < 0.4:
        extra = " order %d %d" % (rng.randint(2, 6), rng.randint(2, 6))
    m.surface((c1, c2, c3, c4), extra)


# ---------------------------------------------------------------------------
# Options.

def random_options(rng, model, extent):
    opts = []
    size = abs(extent) / rng.choice([6, 10, 15, 25]) or 1.0
    if model.needs_size or rng.random() < 0.3:
        if rng.random() < 0.06:
            # Extreme sizes: far below the finest octree level, or far above
            # the model.
            size = rng.choice([extent * rng.choice([1e-12, 1e-20, 1e-300, 1e6]), 1e-300, 1e-45, 1e38, 1e300])
        opts += [rng.choice(["-u", "-d"]), fmt(sig(size, 9))]
    if rng.random() < 0.15:
        opts += ["-v", rng.choice(["0.5", "1", "2", "0"])]
    if rng.random() < 0.15:
        opts += ["-c", rng.choice(["0", "0.5", "1", "3"])]
    if rng.random() < 0.15:
        opts += ["-t", rng.choice(["0", "0.5", "1", "2"])]
    if rng.random() < 0.1:
        opts += ["-w", rng.choice(["0", "0.5", "2"])]
    if rng.random() < 0.25:
        opts += ["-k", "2"]
    if rng.random() < 0.4:
        opts += ["-p", str(rng.randint(0, 255))]
    if rng.random() < 0.3:
        opts += ["-r", rng.choice(["1", "5", "0", "3", "7"])]
    if rng.random() < 0.3:
        opts += ["-s", str(rng.randint(0, 3))]
    if rng.random() < 0.3:
        opts += ["-q", str(rng.randint(0, 255))]
    if rng.random() < 0.2:
        opts += ["-y", rng.choice(["1", "2", "3"]), "-x", "graphics.out"]
        if rng.random() < 0.5:
            opts += ["-z", str(rng.randint(0, 15))]
    if rng.random() < 0.15:
        opts += ["-L", rng.choice(["10", "11", "50", "100000"])]
    if rng.random() < 0.15:
        opts += ["-E", rng.choice(["1", "1.2", "1.5"])]
    if rng.random() < 0.15:
        opts += ["-J", rng.choice(["0", "1", "6", "2.5"]), rng.choice(["0", "1", "2", "1.2"])]
    if rng.random() < 0.1:
        opts += ["-T", rng.choice(["1", "2", "7"])]
    if rng.random() < 0.1:
        opts += ["-e", rng.choice(["1e-3", "1e-8", "1e-12"])]
    if rng.random() < 0.1:
        opts += ["-f", str(rng.randint(0, 50)), str(rng.randint(0, 50))]
    if rng.random() < 0.1:
        opts += ["-a", rng.choice(["0.5", "2"])]
    if rng.random() < 0.05:
        opts += ["-R", fmt(extent * rng.choice([0.5, 2, 4]))]
    if rng.random() < 0.05:
        opts += ["-U", "-1", "-1", "-1"]
    if rng.random() < 0.05:
        opts += ["-n", "0", "0", "0", "0", "0", "0", "0"]
    for flag in ("-S", "-C", "-H", "-B", "-K", "-V", "-A", "-W"):
        if rng.random() < 0.12:
            opts.append(flag)
    if rng.random() < 0.05:
        opts += ["-g", "run.log"]
    if rng.random() < 0.03:
        opts.append("-Q")
    return opts


def mutate_options(rng, opts):
    """Bad or odd option sets: wrong values, repeats, missing parameters."""
    opts = list(opts)
    choice = rng.randrange(7)
    bad_values = ["-1", "0", "1e309", "nan", "abc", "", "2147483648", "9" * 30, "-", "--", "1.5"]
    letters = list("udvctkprsqyLEJTefaRUnzg")
    if choice == 0:
        opts += ["-" + rng.choice(letters), rng.choice(bad_values)]
    elif choice == 1 and opts:
        del opts[rng.randrange(len(opts))]
    elif choice == 2:
        opts += ["-" + rng.choice(letters)]
    elif choice == 3 and opts:
        i = rng.randrange(len(opts))
        opts[i] = rng.choice(bad_values)
    elif choice == 4:
        opts += opts[: rng.randint(0, len(opts))]
    elif choice == 5:
        opts += [rng.choice(["-xyz", "-", "-9", "x", "-ver", "-dir", "-Fout", "-P"])]
    else:
        opts += ["-J", rng.choice(["7", "0.5", "-1"]), rng.choice(["3", "0.9", "0"])]
    return opts


# ---------------------------------------------------------------------------
# Text mutations of a model file.

KEYWORDS = ["vertex", "curve", "surface", "polygon", "polyend", "xyz", "order", "fixed", "size", "weight",
            "count", "mirror", "weak", "hidden", "virtual", "hole", "output", "no", "yes", "t", "uv",
            "coincide", "rate", "density", "factor", "polysize", "def", "uni", "cur", "sur", "equidistant",
            "quad", "map", "diagonal", "point", "attract", "all", "duplicate", "swap", "smear", "angle",
            "transition", "property", "shift", "lcs", "slave", "master", "eof", "region", "patch", "shell",
            "\\", "#", "*", "'"]
NUMBERS = ["0", "-1", "1", "2", "3", "16", "17", "0.5", "1e-300", "1e300", "1e-9", "1e9", "nan", "inf", "-inf",
           "2147483647", "2147483648", "-2147483649", "1e309", "0.9999999999", "1.0000001", "-0.0"]


def is_number(tok):
    try:
        float(tok)
        return True
    except ValueError:
        return False


def mutate_text(rng, text, model):
    lines = text.split("\n")
    rounds = rng.choice([1, 1, 1, 2, 3])
    for _ in range(rounds):
        kind = rng.randrange(12)
        if not lines:
            lines = [""]
        i = rng.randrange(len(lines))
        toks = lines[i].split()
        if kind == 0 and toks:                  # replace a number by an odd value
            nums = [k for k, t in enumerate(toks) if is_number(t)]
            if nums:
                toks[rng.choice(nums)] = rng.choice(NUMBERS)
        elif kind == 1 and toks:                # replace an id by another plausible id
            nums = [k for k, t in enumerate(toks) if re.fullmatch(r"\d+", t)]
            if nums:
                top = max(model.nv, model.nc, model.ns, 1)
                toks[rng.choice(nums)] = str(rng.randint(1, top + 1))
        elif kind == 2 and toks:                # delete a token
            del toks[rng.randrange(len(toks))]
        elif kind == 3:                         # insert a keyword
            toks.insert(rng.randint(0, len(toks)), rng.choice(KEYWORDS))
        elif kind == 4 and len(toks) > 1:       # swap two neighbouring tokens
            k = rng.randrange(len(toks) - 1)
            toks[k], toks[k + 1] = toks[k + 1], toks[k]
        elif kind == 5:                         # delete a line
            del lines[i]
            continue
        elif kind == 6:                         # duplicate a line
            lines.insert(i, lines[i])
            continue
        elif kind == 7 and len(lines) > 1:      # swap two lines
            j = rng.randrange(len(lines))
            lines[i], lines[j] = lines[j], lines[i]
            continue
        elif kind == 8:                         # truncate the file
            cut = rng.randrange(len(text) + 1)
            lines = "\n".join(lines)[:cut].split("\n")
            continue
        elif kind == 9 and toks:                # scale a number
            nums = [k for k, t in enumerate(toks) if is_number(t) and "." in t]
            if nums:
                k = rng.choice(nums)
                toks[k] = repr(float(toks[k]) * rng.choice([-1, 0, 1e-12, 1e12, 1.0000001]))
        elif kind == 10:                        # collapse a curve or reuse a vertex
            cand = [k for k, l in enumerate(lines) if l.startswith("curve ") and " vertex " in l]
            if cand:
                k = rng.choice(cand)
                ct = lines[k].split()
                if len(ct) >= 5:
                    ct[4] = ct[3]
                    lines[k] = " ".join(ct)
            continue
        elif kind == 11:                        # a garbage line
            lines.insert(i, " ".join(rng.choice(KEYWORDS + NUMBERS) for _ in range(rng.randint(1, 8))))
            continue
        lines[i] = " ".join(toks)
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# Mesh file checks.

ELEMENT_KINDS = ["edge", "tria", "quad", "tetra", "pyram", "wedge", "hexa"]
NODES_PER = {1: {"edge": 2, "tria": 3, "quad": 4, "tetra": 4, "pyram": 5, "wedge": 6, "hexa": 8},
             2: {"edge": 3, "tria": 6, "quad": 8, "tetra": 10, "pyram": 13, "wedge": 15, "hexa": 20}}
DATA_PER = {  # (iso type, neighbours, boundary entities) columns
    "edge": (0, 0, 0), "tria": (1, 3, 6), "quad": (1, 4, 8), "tetra": (0, 4, 12), "pyram": (0, 5, 15),
    "wedge": (0, 5, 15), "hexa": (1, 6, 18)}


class MeshError(Exception):
    pass


def parse_mesh(path, opts):
    """Reads a status-0 mesh file and checks its structure; returns the nodes
    (number -> (x, y, z, key, id)) and elements (kind -> list of (nodes, key, id))."""
    with open(path) as f:
        raw = f.read()
    if not raw.endswith("\n"):
        raise MeshError("mesh file does not end with a newline")
    blocks = []
    cur = []
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
    try:
        header = [int(t) for t in blocks[0][0].split()]
        counts = [int(t) for t in blocks[0][1].split()]
    except ValueError:
        raise MeshError("non-integer header or count line")
    if len(header) != 4:
        raise MeshError("header line has %d fields" % len(header))
    mesh_type, degree, _renum, spec = header
    if degree not in (1, 2):
        raise MeshError("element degree %d in header" % degree)
    if mesh_type == 3:
        if len(counts) != 4:
            raise MeshError("count line of mesh type 3 has %d fields" % len(counts))
        names = ["node", "edge", "tria", "tetra"]
    elif mesh_type == 7:
        if len(counts) != 8:
            raise MeshError("count line of mesh type 7 has %d fields" % len(counts))
        names = ["node", "edge", "tria", "quad", "tetra", "pyram", "wedge", "hexa"]
    else:
        raise MeshError("mesh type %d in header" % mesh_type)
    count = dict(zip(names, counts))
    if any(c < 0 for c in counts):
        raise MeshError("negative count")
    node_shift, elem_shift = option_pair(opts, "-f", (0, 0))
    sections = [n for n in names if count[n] > 0]
    if len(blocks) - 1 < len(sections):
        raise MeshError("%d sections for counts %s" % (len(blocks) - 1, counts))
    nodes = {}
    elements = {}
    for b, name in enumerate(sections, start=1):
        block = blocks[b]
        if len(block) != count[name]:
            raise MeshError("%s section has %d lines, count line says %d" % (name, len(block), count[name]))
        if name == "node":
            for line in block:
                t = line.split()
                if len(t) < 7:
                    raise MeshError("short node line: %s" % line)
                num = int(t[0])
                if num in nodes:
                    raise MeshError("node %d listed twice" % num)
                xyz = [float(v) for v in t[1:4]]
                if not all(math.isfinite(v) for v in xyz):
                    raise MeshError("node %d has coordinates %s" % (num, t[1:4]))
                data = [float(v) for v in t[7:]]
                if not all(math.isfinite(v) for v in data):
                    raise MeshError("node %d has data %s" % (num, t[7:]))
                expected = node_data_count(int(t[4]), spec)
                if expected is not None and len(data) != expected:
                    raise MeshError("node %d on key %s has %d data values, expected %d"
                                    % (num, t[4], len(data), expected))
                nodes[num] = (xyz[0], xyz[1], xyz[2], int(t[4]), int(t[5]))
            want = set(range(node_shift + 1, node_shift + count["node"] + 1))
            if set(nodes) != want:
                raise MeshError("node numbers are not %d..%d" % (node_shift + 1, node_shift + count["node"]))
        else:
            per = NODES_PER[degree][name]
            iso, ngb, bnd = DATA_PER[name]
            extra = (iso if spec & 64 else 0) + (ngb if spec & 32 else 0) + (bnd if spec & 8 else 0)
            seen = set()
            rows = []
            for line in block:
                t = line.split()
                if len(t) != 1 + per + 3 + extra:
                    raise MeshError("%s line has %d fields, expected %d: %s" % (name, len(t), 1 + per + 3 + extra, line))
                num = int(t[0])
                if num in seen:
                    raise MeshError("%s %d listed twice" % (name, num))
                seen.add(num)
                ns = [int(v) for v in t[1:1 + per]]
                for n in ns:
                    if n not in nodes:
                        raise MeshError("%s %d references node %d out of range" % (name, num, n))
                if len(set(ns)) != len(ns):
                    raise MeshError("%s %d repeats a node: %s" % (name, num, ns))
                key, eid = int(t[1 + per]), int(t[2 + per])
                if spec & 32:
                    base = 1 + per + 3 + (iso if spec & 64 else 0)
                    for v in t[base:base + ngb]:
                        if int(v) < 0:
                            raise MeshError("%s %d has neighbour %s" % (name, num, v))
                rows.append((ns, key, eid))
            elements[name] = rows
    rest = blocks[1 + len(sections):]
    if rest and not spec & 16:
        raise MeshError("%d unexpected blocks after the element sections" % len(rest))
    return count, nodes, elements


def node_data_count(key, spec):
    if key in (1, 4):
        return 0
    if key == 2:
        return (3 if spec & 2 else 0) + (1 if spec & 1 else 0)
    if key in (3, 5, 6):
        return (3 if spec & 4 else 0) + (2 if spec & 1 else 0)
    return None


def option_pair(opts, name, default):
    value = default
    for i, o in enumerate(opts):
        if o == name and i + 2 < len(opts) + 0:
            try:
                value = (int(opts[i + 1]), int(opts[i + 2]))
            except (ValueError, IndexError):
                pass
    return value


def check_surface_topology(elements, nodes, strict, silent=frozenset()):
    """The triangles and quads of one surface form an oriented conforming
    surface mesh: an edge bounds at most two of them, in opposite
    directions; with strict, an edge that bounds only one lies on a curve (a
    free edge elsewhere is a gap, or a hanging node on the side of a quad).
    The edges of silent curves (OUTPUT NO) are not written: a free edge
    whose nodes lie on vertices and on such a curve is taken as on it."""

    def on_silent_curve(x, y):
        keys = [nodes[n][3:5] for n in (x, y)]
        on_curves = [i for k, i in keys if k == 2]
        return silent and all(k in (1, 2) for k, _ in keys) and all(i in silent for i in on_curves)

    problems = []
    curve_edges = set()
    for ns, key, eid in elements.get("edge", []):
        curve_edges.add((min(ns[0], ns[1]), max(ns[0], ns[1])))
    directed = {}
    for kind, corners in (("tria", 3), ("quad", 4)):
        for ns, key, eid in elements.get(kind, []):
            d = directed.setdefault((key, eid), {})
            for i in range(corners):
                x, y = ns[i], ns[(i + 1) % corners]
                d[(x, y)] = d.get((x, y), 0) + 1
    for (key, eid), d in sorted(directed.items()):
        done = set()
        for (x, y), n in sorted(d.items()):
            e = (min(x, y), max(x, y))
            if e in done:
                continue
            done.add(e)
            fwd, back = d.get((x, y), 0), d.get((y, x), 0)
            if fwd + back > 2:
                problems.append("edge %s bounds %d faces of key %d id %d" % (e, fwd + back, key, eid))
                return problems
            if fwd == 2 or back == 2:
                problems.append("faces of key %d id %d on both sides of edge %s have the same orientation"
                                % (key, eid, e))
                return problems
            if strict and fwd + back == 1 and e not in curve_edges and not on_silent_curve(x, y):
                problems.append("free edge %s of the faces of key %d id %d lies on no curve (a gap)"
                                % (e, key, eid))
                return problems
    return problems


def check_curve_nodes(nodes, elements, model):
    """Nodes on a curve of known control net, and the nodes of its edges, lie
    in the box of the net (a rational Bezier curve with positive weights
    lies in the hull of its control points): an edge whose node numbers fall
    on other nodes leaves it.  For status-0 and partial meshes alike."""
    problems = []
    boxes = {}
    for cid, net in model.curve_nets.items():
        if cid in model.weak_mirrors or any(q[3] <= 0 for q in net):
            continue
        lo = [min(q[a] for q in net) for a in range(3)]
        hi = [max(q[a] for q in net) for a in range(3)]
        big = max(max(abs(v) for v in lo), max(abs(v) for v in hi), 1e-300)
        slack = 1e-6 * max(hi[a] - lo[a] for a in range(3)) + 2e-7 * big
        boxes[cid] = (lo, hi, slack)

    def inside(n, cid):
        lo, hi, slack = boxes[cid]
        return all(lo[a] - slack <= nodes[n][a] <= hi[a] + slack for a in range(3))

    for n, q in nodes.items():
        if q[3] == 2 and q[4] in boxes and not inside(n, q[4]):
            return ["node %d on curve %d lies outside the box of its control net" % (n, q[4])]
    for ns, key, eid in elements.get("edge", []):
        if key == 2 and eid in boxes:
            for n in ns:
                if not inside(n, eid):
                    problems.append("edge %s of curve %d has node %d outside the box of its control net"
                                    % (ns, eid, n))
                    return problems
    return problems


def resolution_limited(nodes):
    """Whether the written coordinates (eight significant digits) may fail
    to tell the nodes of one element apart: a model far from the origin
    compared with its extent is written with coinciding nodes."""
    if not nodes:
        return False
    big = max(abs(v) for q in nodes.values() for v in q[:3])
    span = max(max(q[a] for q in nodes.values()) - min(q[a] for q in nodes.values()) for a in range(3))
    return big > 1e5 * span


def check_geometry(count, nodes, elements, stdout, model, opts):
    """Checks of any status-0 mesh, and the expectations of an unmutated model."""
    problems = []
    printed = {}
    for label, name in (("nodes", "node"), ("edges", "edge"), ("trias", "tria"), ("quads", "quad"),
                        ("tetras", "tetra")):
        m = re.search(r"Number of %s:\s+(\d+) \(FE\)" % label, stdout)
        printed[name] = int(m.group(1)) if m else 0
        if name in count and printed[name] != count[name]:
            problems.append("printed %s count %d, mesh file %d" % (label, printed[name], count[name]))

    def p(n):
        return nodes[n][:3]

    # A sliver thinner than the written coordinates resolve (eight
    # significant digits) comes out flat in the file; the worst quality the
    # program reports, from the exact coordinates, tells it from a truly flat
    # triangle.
    limited = resolution_limited(nodes)
    m = re.search(r"([0-9.]+(?:e[+-]?[0-9]+)?) - worst tria quality", stdout)
    worst = float(m.group(1)) if m else None
    for ns, key, eid in elements.get("tria", []):
        a, b, c = p(ns[0]), p(ns[1]), p(ns[2])
        longest = max(dist(a, b), dist(b, c), dist(c, a))
        area2 = norm(cross(sub(b, a), sub(c, a)))
        if longest == 0.0 or area2 <= 1e-10 * longest * longest:
            if longest > 0.0 and worst is not None and worst > 0.0:
                continue
            if limited:
                continue
            problems.append("triangle %s on surface %d has zero area" % (ns[:3], eid))
            break
    problems += check_quads(elements, p, model, limited)
    for ns, key, eid in elements.get("edge", []):
        if dist(p(ns[0]), p(ns[1])) == 0.0 and not limited:
            problems.append("edge %s on key %d id %d has zero length" % (ns[:2], key, eid))
            break
    problems += check_surface_topology(elements, nodes, strict=model is not None and "-V" not in opts,
                                       silent=model.silent_curves if model is not None else frozenset())
    if model is not None:
        problems += check_curve_nodes(nodes, elements, model)
    if model is None:
        return problems
    # Expectations of the unmutated model.
    if "-V" in opts:
        return problems
    length = {}
    rounding = {}
    for ns, key, eid in elements.get("edge", []):
        if key == 2:
            a, b = p(ns[0]), p(ns[1])
            length[eid] = length.get(eid, 0.0) + dist(a, b)
            # Coordinates are written with eight significant digits: each is
            # off by up to 5e-8 of its magnitude, an edge length by up to
            # 2 sqrt(3) times that of its largest coordinate.
            rounding[eid] = rounding.get(eid, 0.0) + 1.8e-7 * max(abs(c) for c in tuple(a) + tuple(b))
    # Nodes on a curve: their polyline is no longer than the curve and no
    # shorter than the chord between its ends.
    for cid, (want, chord) in model.curve_length.items():
        got = length.get(cid)
        if got is None:
            continue  # a curve without edges
        slack = 1e-6 * want + 1e-9 * model.scale + rounding.get(cid, 0.0)
        if got > want + slack or got < chord - slack:
            problems.append("edges of curve %d have length %.9g, the curve %.9g (chord %.9g)" % (cid, got, want, chord))
    # Surfaces (key 3), patches (key 5) and shells (key 6) of known area
    # and orientation.
    expected = {3: ("surface", model.surface_area, model.surface_normal),
                5: ("patch", model.patch_area, model.patch_normal),
                6: ("shell", model.shell_area, model.shell_normal)}
    area = {}
    signs = {}
    for ns, key, eid in elements.get("tria", []) + elements.get("quad", []):
        if key not in expected:
            continue
        corners = [p(v) for v in ns[:3 if len(ns) in (3, 6) else 4]]
        n = polygon_normal(corners)
        area[(key, eid)] = area.get((key, eid), 0.0) + norm(n) / 2
        ref = expected[key][2].get(eid)
        if ref is not None:
            centre = tuple(sum(c[k] for c in corners) / len(corners) for k in range(3))
            s = dot(n, ref(centre))
            signs.setdefault((key, eid), set()).add(1 if s > 0 else -1 if s < 0 else 0)
    for key, (word, areas, _) in sorted(expected.items()):
        for sid, expectation in areas.items():
            got = area.get((key, sid))
            if got is None:
                continue
            want = expectation[0]
            high = want * (1 + 1e-6)
            if key == 5:
                # The chords of a patch's arcs: its bulges are covered in
                # part only, its holes (circles, at least their inscribed
                # squares) in part.
                low = want * (1 - 1e-6) - expectation[1]
                high += 0.37 * expectation[2]
            else:
                # A coarse mesh of a curved surface may be a few flat
                # triangles: the sphere octant as one triangle covers 55 %
                # of it.  The window of a shell is cut by chords too.
                low = want * (1 - 1e-6) if expectation[1] else want * 0.45
                if key == 6:
                    high += 0.37 * expectation[2]
            if got > high or got < low:
                problems.append("faces of %s %d cover %.9g, the %s %.9g" % (word, sid, got, word, want))
    for (key, sid), s in signs.items():
        if key == 3 and len(s) > 1:
            problems.append("faces of surface %d are not all oriented alike (%s)" % (sid, sorted(s)))
        elif key != 3 and s != {1}:
            problems.append("faces of %s %d are not all oriented along its normal (%s)"
                            % (expected[key][0], sid, sorted(s)))
    # Every corner of the faces of a surface, patch or shell of known shape
    # lies on it (eight significant digits written).  Midside nodes of
    # quadratic elements lie at the straight midpoints of their edges.
    tolerance = 1e-6 * model.extent
    for kind, corners in (("tria", 3), ("quad", 4)):
        for ns, key, eid in elements.get(kind, []):
            residual = model.residual.get((key, eid))
            if residual is None:
                continue
            for v in ns[:corners]:
                x = p(v)
                if residual(x) > tolerance + 1e-7 * max(abs(c) for c in x):
                    problems.append("node %d of a %s of key %d id %d lies %.3g off its surface"
                                    % (v, kind, key, eid, residual(x)))
                    return problems
    return problems


def polygon_normal(corners):
    """The area vector of a polygon (Newell): twice its area along its
    normal, for a triangle the cross product of two sides."""
    n = [0.0, 0.0, 0.0]
    for i, a in enumerate(corners):
        b = corners[(i + 1) % len(corners)]
        n[0] += (a[1] - b[1]) * (a[2] + b[2])
        n[1] += (a[2] - b[2]) * (a[0] + b[0])
        n[2] += (a[0] - b[0]) * (a[1] + b[1])
    return tuple(n)


def check_quads(elements, p, model, limited):
    """Every quad is convex: its four corners turn the same way about its
    normal (the entity's when the model is known: along it on a patch or
    shell, either way on a surface, as its triangles; else the quad's own),
    none by less than a sliver of the corner's sides."""
    if limited:
        return []
    normals = {3: model.surface_normal, 5: model.patch_normal, 6: model.shell_normal} if model is not None else {}
    for ns, key, eid in elements.get("quad", []):
        q = [p(v) for v in ns[:4]]
        ref = normals.get(key, {}).get(eid)
        centre = tuple(sum(c[k] for c in q) / 4 for k in range(3))
        n = ref(centre) if ref is not None else polygon_normal(q)
        turns = []
        for i in range(4):
            u, w = sub(q[i], q[i - 1]), sub(q[(i + 1) % 4], q[i])
            scale = norm(u) * norm(w) * norm(n)
            turns.append(dot(cross(u, w), n) / scale if scale > 0.0 else 0.0)
        ccw = min(turns) > 1e-9
        cw = max(turns) < -1e-9 and key == 3
        if not (ccw or cw):
            return ["quad %s of key %d id %d is not convex (corner turns %s)"
                    % (ns[:4], key, eid, ", ".join("%.3g" % t for t in turns))]
    return []


# ---------------------------------------------------------------------------
# Running.

def run_case(mgn, model_text, opts, timeout, model=None, with_stack=True):
    work = tempfile.mkdtemp(prefix="mgn_pf_")
    try:
        with open(os.path.join(work, "model.mgn"), "w") as f:
            f.write(model_text)
        args = [mgn, "-i", "model.mgn", "-o", "mesh.out"] + opts
        env = dict(os.environ)
        env.setdefault("ASAN_OPTIONS", "detect_leaks=0:allocator_may_return_null=1:abort_on_error=0")
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1")
        start = time.time()
        proc = subprocess.Popen(args, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL, env=env, start_new_session=True)
        try:
            out, err = proc.communicate(timeout=timeout)
            timed_out = False
            stack = ""
        except subprocess.TimeoutExpired:
            stack = stack_of(proc.pid) if with_stack else ""
            os.killpg(proc.pid, signal.SIGKILL)
            out, err = proc.communicate()
            timed_out = True
        elapsed = time.time() - start
        err_text = err.decode("utf-8", "replace")
        # With -g the program reopens its standard error on the log file:
        # its messages, and any sanitizer report, are there.
        for i, o in enumerate(opts[:-1]):
            if o == "-g":
                log = os.path.join(work, opts[i + 1])
                if os.path.isfile(log):
                    with open(log, "rb") as f:
                        err_text += f.read().decode("utf-8", "replace")
        result = {"status": proc.returncode, "stdout": out.decode("utf-8", "replace"),
                  "stderr": err_text, "timed_out": timed_out, "elapsed": elapsed,
                  "args": args[1:], "stack": stack}
        mesh = os.path.join(work, "mesh.out")
        result["mesh_path"] = mesh if os.path.exists(mesh) else None
        result["problems"] = judge(result, opts, model)
        return result, work
    except Exception:
        shutil.rmtree(work, ignore_errors=True)
        raise


def heavy_request(text, opts):
    """A rough bound of the work a model asks for: the span of its
    coordinates over its smallest size, its largest count and density.  A
    surface mesh grows with the square of that ratio: at a ratio of 1000 a
    filled square asks for about two million triangles, more than the
    sanitizer build meshes within the time limit.  A run past the time limit
    on such a request is slow, not hung."""
    coords = []
    sizes = []
    factor = 1.0
    for i, o in enumerate(opts):
        if o in ("-u", "-d") and i + 1 < len(opts):
            try:
                sizes.append(float(opts[i + 1]))
            except ValueError:
                pass
        if o == "-v" and i + 1 < len(opts):
            try:
                factor = float(opts[i + 1]) or 1.0
            except ValueError:
                pass
    big = False
    for line in text.split("\n"):
        toks = line.split()
        low = [t.lower() for t in toks]
        for k, t in enumerate(low):
            if t == "xyz" and k + 3 < len(toks) + 0:
                for v in toks[k + 1:k + 4]:
                    try:
                        coords.append(float(v))
                    except ValueError:
                        pass
            elif t == "size" and k + 1 < len(toks):
                try:
                    sizes.append(float(toks[k + 1]))
                except ValueError:
                    pass
            elif t in ("count", "density", "*", "rate") and k + 1 < len(toks):
                try:
                    v = float(toks[k + 1])
                    if (t == "count" and v > 1e5) or (t != "count" and v > 1e3):
                        big = True
                except ValueError:
                    pass
            elif t == "weight" and k + 1 < len(toks):
                try:
                    v = abs(float(toks[k + 1]))
                    if v > 1e6 or 0 < v < 1e-6:
                        big = True
                except ValueError:
                    pass
    coords = [c for c in coords if math.isfinite(c)]
    span = (max(coords) - min(coords)) if coords else 0.0
    sizes = [x * factor for x in sizes if math.isfinite(x) and x > 0]
    if sizes and span / min(sizes) > 1e3:
        big = True
    return big


def stack_of(pid):
    """The stack of a running process through gdb, when it is there."""
    if shutil.which("gdb") is None:
        return ""
    try:
        out = subprocess.run(["gdb", "-p", str(pid), "-batch", "-ex", "bt 40"], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=10, stdin=subprocess.DEVNULL)
        return "\n".join(l for l in out.stdout.decode("utf-8", "replace").splitlines() if l.startswith("#"))
    except (subprocess.TimeoutExpired, OSError):
        return ""


def judge(result, opts, model):
    problems = []
    if result["timed_out"]:
        last = [l for l in result["stdout"].splitlines() if re.search(r"\d\d:\d\d:\d\d$", l)]
        problems.append("hang: no end within the time limit (last progress: %s)" % (last[-1].strip() if last else "none"))
        return problems
    st = result["status"]
    if st < 0:
        problems.append("killed by signal %d" % -st)
    elif st not in ALLOWED_STATUS:
        problems.append("exit status %d" % st)
    err = result["stderr"]
    for mark in ("AddressSanitizer", "UndefinedBehaviorSanitizer", "runtime error:", "LeakSanitizer"):
        if mark in err:
            line = next((l for l in err.splitlines() if mark in l), mark)
            problems.append("sanitizer: %s" % line.strip()[:200])
            break
    if st == 0 and not problems and result["mesh_path"]:
        try:
            count, nodes, elements = parse_mesh(result["mesh_path"], opts)
            problems += check_geometry(count, nodes, elements, result["stdout"], model, opts)
        except MeshError as e:
            problems.append("mesh file: %s" % e)
        except (ValueError, IndexError) as e:
            problems.append("mesh file unreadable: %s" % e)
    elif st in (10, 15) and not problems and result["mesh_path"]:
        # The partial mesh after a fatal error: the same structure (counts,
        # sections, node numbers, elements on listed nodes only) and, for an
        # unmutated model, the curve nodes where the curves are.
        if "Tmp output data printed" not in result["stdout"]:
            problems.append("partial mesh written without \"Tmp output data printed\"")
        try:
            count, nodes, elements = parse_mesh(result["mesh_path"], opts)
            problems += check_surface_topology(elements, nodes, strict=False)
            if model is not None and "-V" not in opts:
                problems += check_curve_nodes(nodes, elements, model)
            problems = ["partial mesh: %s" % p for p in problems]
        except MeshError as e:
            problems.append("partial mesh file: %s" % e)
        except (ValueError, IndexError) as e:
            problems.append("partial mesh file unreadable: %s" % e)
    elif st in (5, 20, 25, 35, 40) and not problems and result["mesh_path"]:
        problems.append("status %d left a mesh file" % st)
    elif st == 0 and not problems and "Program finished" in result["stdout"] and "-Fout" not in opts and \
            "-P" not in opts and "-ver" not in opts and "-dir" not in opts and "-h" not in opts:
        if "Output data printed" not in result["stdout"] and "Discretization done" in result["stdout"]:
            problems.append("status 0 without a mesh file")
    return problems


def error_message(stderr):
    lines = [l for l in stderr.splitlines() if l.strip()]
    for k, l in enumerate(lines):
        if "-->" in l:
            rest = [x for x in lines[k + 1:] if not x.startswith("(routine")]
            return (l.split("-->")[1].strip() + ": " + (rest[0] if rest else "")).strip()
    return ""


def save_finding(out_dir, index, model_text, args, result, problems):
    d = os.path.join(out_dir, "finding-%d" % index)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "model.mgn"), "w") as f:
        f.write(model_text)
    with open(os.path.join(d, "args.json"), "w") as f:
        json.dump(args, f)
        f.write("\n")
    with open(os.path.join(d, "stdout.txt"), "w") as f:
        f.write(result["stdout"])
    with open(os.path.join(d, "stderr.txt"), "w") as f:
        f.write(result["stderr"])
    with open(os.path.join(d, "reason.txt"), "w") as f:
        f.write("\n".join(problems) + "\n")
    if result.get("stack"):
        with open(os.path.join(d, "stack.txt"), "w") as f:
            f.write(result["stack"] + "\n")
    return d


def problem_kind(problems):
    return re.sub(r"-?\d+(\.\d+)?(e[-+]?\d+)?", "#", problems[0]) if problems else None


def reduce_finding(mgn, d, timeout):
    """Drops model lines and option groups one at a time while the run still
    shows the same kind of problem; writes model.min.mgn and args.min.json."""
    with open(os.path.join(d, "model.mgn")) as f:
        lines = f.read().split("\n")
    with open(os.path.join(d, "args.json")) as f:
        opts = json.load(f)[4:]

    def kind_of(ls, os_):
        result, work = run_case(mgn, "\n".join(ls) + "\n", os_, timeout, None, with_stack=False)
        shutil.rmtree(work, ignore_errors=True)
        problems = result["problems"]
        if not problems and result["status"] != 0:
            return "status %d: %s" % (result["status"], re.sub(r"-?\d+", "#", error_message(result["stderr"])))
        return problem_kind(problems)

    want = kind_of(lines, opts)
    print("reducing: %s" % want)
    if want is None:
        print("no problem on replay")
        return 1
    lines = [l for l in lines if l.strip() and not l.startswith("#")]
    changed = True
    while changed:
        changed = False
        for chunk in (8, 4, 2, 1):
            i = 0
            while i < len(lines):
                trial = lines[:i] + lines[i + chunk:]
                if trial and kind_of(trial, opts) == want:
                    lines = trial
                    changed = True
                else:
                    i += chunk
        i = 0
        while i < len(opts):
            n = 1
            while i + n < len(opts) and not (opts[i + n].startswith("-") and len(opts[i + n]) == 2):
                n += 1
            trial = opts[:i] + opts[i + n:]
            if kind_of(lines, trial) == want:
                opts = trial
                changed = True
            else:
                i += n
    with open(os.path.join(d, "model.min.mgn"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(d, "args.min.json"), "w") as f:
        json.dump(["-i", "model.mgn", "-o", "mesh.out"] + opts, f)
        f.write("\n")
    print("\n".join(lines))
    print("options: %s" % " ".join(opts))
    return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.normpath(os.path.join(here, "..", ".."))
    ap.add_argument("--mgn", default=os.path.join(root, "build-sanitize", "mgn"))
    ap.add_argument("--seconds", type=float, default=150.0, help="total time budget")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=60.0,
                    help="time limit of one run (sanitizer build; a surface with a control point far off it is "
                         "sampled for its curvature for up to 35 s there on a busy machine)")
    ap.add_argument("--runs", type=int, default=0, help="stop after this many runs (0: budget only)")
    ap.add_argument("--out", default=None, help="findings directory (default: <mgn dir>/pipeline_findings)")
    ap.add_argument("--replay", default=None, help="run one saved finding again")
    ap.add_argument("--reduce", default=None, help="shrink one saved finding (model lines, then options)")
    ap.add_argument("--verbose", action="store_true")
    a = ap.parse_args()

    mgn = os.path.abspath(a.mgn)
    if not os.access(mgn, os.X_OK):
        print("pipeline_fuzz: no executable %s" % mgn, file=sys.stderr)
        return 2
    if a.replay:
        with open(os.path.join(a.replay, "model.mgn")) as f:
            text = f.read()
        with open(os.path.join(a.replay, "args.json")) as f:
            args = json.load(f)
        opts = args[4:]
        result, work = run_case(mgn, text, opts, a.timeout)
        shutil.rmtree(work, ignore_errors=True)
        print(result["stdout"])
        print(result["stderr"], file=sys.stderr)
        print("status %s; problems: %s" % (result["status"], result["problems"] or "none"))
        return 1 if result["problems"] else 0

    if a.reduce:
        return reduce_finding(mgn, a.reduce, a.timeout)

    budget = a.seconds
    out_dir = a.out or os.path.join(os.path.dirname(mgn), "pipeline_findings")
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir, exist_ok=True)
    master = random.Random(a.seed)
    start = time.time()
    runs = 0
    findings = []
    notes = {}
    statuses = {}
    seen_reasons = set()
    while time.time() - start < budget - min(a.timeout, 5.0) and (a.runs == 0 or runs < a.runs):
        case_seed = master.randrange(1 << 30)
        rng = random.Random(case_seed)
        model = generate_model(rng)
        if case_seed % 4 == 0:
            # A model of patches and shells in every fourth case, from a
            # generator of its own: the draws of rng go on as for the others.
            model = generate_model(random.Random(case_seed ^ 0x2545F491), FACE_KINDS)
        text = "\n".join(model.lines) + "\n"
        opts = random_options(rng, model, model.extent / 1.6)
        mode = rng.random()
        mutated = False
        if mode < 0.45:
            text = mutate_text(rng, text, model)
            mutated = True
        elif mode < 0.55:
            opts = mutate_options(rng, opts)
            mutated = True
        timeout = min(a.timeout, max(1.0, budget - (time.time() - start)))
        result, work = run_case(mgn, text, opts, timeout, None if mutated else model)
        problems = result["problems"]
        if result["timed_out"] and timeout < a.timeout:
            # The end of the budget cut the run's time limit short: a run
            # slower than what was left (ten seconds of a sanitizer build)
            # is no hang.
            problems = []
        elif result["timed_out"] and heavy_request(text, opts):
            # A size far below the model's span, a huge count or an extreme
            # weight asks for an enormous mesh: slow, not hung.
            key = "slow run on a heavy request"
            if key not in notes:
                notes[key] = save_finding(os.path.join(out_dir, "notes"), len(notes) + 1, text, result["args"],
                                          result, [key])
            problems = []
        shutil.rmtree(work, ignore_errors=True)
        runs += 1
        statuses[result["status"]] = statuses.get(result["status"], 0) + 1
        if a.verbose:
            print("case %d seed %d status %s %.2fs %s%s" % (runs, case_seed, result["status"], result["elapsed"],
                                                           "mutated " if mutated else "", problems or ""))
        if problems:
            d = save_finding(out_dir, len(findings) + 1, text, result["args"], result, problems)
            key = re.sub(r"\d+", "#", problems[0])
            if key not in seen_reasons:
                seen_reasons.add(key)
                print("FINDING %s: %s" % (d, "; ".join(problems)))
            findings.append(d)
        elif not mutated and result["status"] != 0:
            msg = error_message(result["stderr"])
            key = re.sub(r"-?\d+(\.\d+)?(e[-+]?\d+)?", "#", msg)
            if key not in notes:
                d = save_finding(os.path.join(out_dir, "notes"), len(notes) + 1, text, result["args"], result,
                                 ["status %d on an unmutated model: %s" % (result["status"], msg)])
                notes[key] = d
    elapsed = time.time() - start
    print("pipeline_fuzz: %d runs in %.0f s, statuses %s" % (runs, elapsed,
          ", ".join("%s: %d" % (k, v) for k, v in sorted(statuses.items()))))
    for key, d in sorted(notes.items()):
        print("note (unmutated model failed): %s  [%s]" % (key, d))
    print("pipeline_fuzz: %d findings%s" % (len(findings), " in %s" % out_dir if findings else ""))
    print("%d passed, %d failed" % (runs - len(findings), len(findings)))
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
