#!/usr/bin/env python3
"""Sweep of uniform sizes over quad-meshed models: runs the program on each
model at many sizes and lists the runs that do not end with status 0.

  quad_sweep.py [--mgn build/mgn] [--jobs 2] [--count 30] [--lo A --hi B] [--keep-regions]
                [--trias] [model ...]

Models: square (unit square), octant (unit sphere octant), plate (the quad
plate example, its region left out unless --keep-regions), or a file name.
Sizes run geometrically between the model's bounds (--count of them).
With --trias every run is listed with the triangles its mesh keeps and
the sum per model is printed (to compare two builds of the quad clean-up).
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

SQUARE = ("vertex 1 xyz 0 0 0\nvertex 2 xyz 1 0 0\nvertex 3 xyz 1 1 0\nvertex 4 xyz 0 1 0\n"
          "curve 1 vertex 1 2\ncurve 2 vertex 1 4\ncurve 3 vertex 4 3\ncurve 4 vertex 2 3\n"
          "surface 1 curve 1 2 3 4 quad\n")
OCTANT = ("vertex 1 xyz 1 0 0\nvertex 2 xyz 0 1 0\nvertex 3 xyz 0 0 1\n"
          "curve 1 vertex 1 2 order 3\npolygon 1 xyz 1 1 0 weight 0.70710678118654752\n"
          "curve 2 vertex 1 3 order 3\npolygon 1 xyz 1 0 1 weight 0.70710678118654752\n"
          "curve 4 vertex 2 3 order 3\npolygon 1 xyz 0 1 1 weight 0.70710678118654752\n"
          "curve 3 vertex 3 3 order 3\npolygon 1 xyz 0 0 1 weight 0.70710678118654752\n"
          "surface 1 curve 1 2 3 4 quad\npolygon 1 1 xyz 1 1 1 weight 0.5\n")
# name: (text or file, smallest size, largest size)
MODELS = {
    "square": (SQUARE, 0.004, 0.2),
    "octant": (OCTANT, 0.004, 0.2),
    "plate": (os.path.join(ROOT, "examples", "quad_plate.mgn"), 0.7, 12.0),
}


def model_text(source, keep_regions):
    text = source
    if os.path.exists(source):
        with open(source) as f:
            text = f.read()
    if not keep_regions:
        text = re.sub(r"(?m)^region .*$", "", text)
    return text


def run(mgn, path, size, workdir):
    out = os.path.join(workdir, "out_%s.msh" % size)
    try:
        p = subprocess.run([mgn, "-i", path, "-u", size, "-o", out, "-q", "5"],
                           capture_output=True, text=True, timeout=600)
        status = p.returncode
        lines = (p.stdout + p.stderr).splitlines()
        msg = next((lines[i + 1] for i, l in enumerate(lines[:-1]) if l.startswith("(routine")), "")
        trias = next((int(l.split()[3]) for l in lines if l.startswith("Number of trias:")), -1)
    except subprocess.TimeoutExpired:
        status, msg, trias = -1, "timeout", -1
    if os.path.exists(out):
        os.remove(out)
    return size, status, msg, trias


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mgn", default=os.path.join(ROOT, "build", "mgn"))
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--count", type=int, default=30)
    ap.add_argument("--lo", type=float)
    ap.add_argument("--hi", type=float)
    ap.add_argument("--keep-regions", action="store_true")
    ap.add_argument("--trias", action="store_true")
    ap.add_argument("models", nargs="*", default=["square", "octant", "plate"])
    a = ap.parse_args()
    failed = 0
    with tempfile.TemporaryDirectory() as workdir:
        for name in a.models:
            source, lo, hi = MODELS.get(name, (name, a.lo or 0.01, a.hi or 1.0))
            lo, hi = a.lo or lo, a.hi or hi
            path = os.path.join(workdir, os.path.basename(name) + ".mgn")
            with open(path, "w") as f:
                f.write(model_text(source, a.keep_regions))
            n = a.count
            sizes = ["%.6g" % (hi * (lo / hi) ** (i / max(n - 1, 1))) for i in range(n)]
            total = 0
            with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
                for size, status, msg, trias in pool.map(lambda s: run(a.mgn, path, s, workdir), sizes):
                    total += max(trias, 0)
                    if status != 0:
                        failed += 1
                        print("%s -u %s: status %d: %s" % (name, size, status, msg), flush=True)
                    elif a.trias:
                        print("%s -u %s: %d trias" % (name, size, trias), flush=True)
            print("%s: %d sizes run" % (name, n) + (", %d trias" % total if a.trias else ""), flush=True)
    print("failed: %d" % failed)
    return 1 if failed else 0


if __name__ == "__main__":
    raise SystemExit(main())
