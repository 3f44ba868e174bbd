#!/usr/bin/env bash
# Quality of mgn's tetras beside TetGen's on the same boundary triangulation:
# for each model and size, mesh3_bench meshes the region (and writes its
# boundary triangles as a .poly file), TetGen (-pq1.2, and -pq1.2 with a
# volume bound of the regular tetra of the size, for a like density) meshes
# that boundary, and the same measures are printed for its tetras: mean
# boundary quality 374.1229744 V^2 / S^3, smallest dihedral angle, tetras
# below 10 and 20 degrees.  TetGen is an outside yardstick only (Debian
# package tetgen); nothing of it is part of mgn or its tests.
#
#   bench/tetgen_compare.sh BUILD_DIR [MODEL:SIZE ...]
set -euo pipefail
build=${1:?build directory}
shift
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(unit_cube:0.1 sphere:0.1 torus:0.1)
command -v tetgen >/dev/null || { echo "tetgen not installed (apt-get install tetgen)"; exit 1; }
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() {
  python3 - "$1" <<'EOF'
import math, sys
base = sys.argv[1]
def rows(path):
    with open(path) as f:
        lines = [l.split('#')[0].split() for l in f]
    lines = [l for l in lines if l]
    return lines[1:int(lines[0][0]) + 1]
xyz = {int(r[0]): tuple(map(float, r[1:4])) for r in rows(base + '.node')}
def sub(a, b): return (a[0]-b[0], a[1]-b[1], a[2]-b[2])
def cross(a, b): return (a[1]*b[2]-a[2]*b[1], a[2]*b[0]-a[0]*b[2], a[0]*b[1]-a[1]*b[0])
def dot(a, b): return a[0]*b[0]+a[1]*b[1]+a[2]*b[2]
def norm(a): return math.sqrt(dot(a, a))
total, count, smallest, below10, below20 = 0.0, 0, 180.0, 0, 0
faces = ((1, 2, 3), (2, 0, 3), (0, 1, 3), (0, 2, 1))
for r in rows(base + '.ele'):
    p = [xyz[int(i)] for i in r[1:5]]
    v = abs(dot(cross(sub(p[1], p[0]), sub(p[2], p[0])), sub(p[3], p[0]))) / 6.0
    normals = []
    for f in faces:
        a, b, c = (p[i] for i in f)
        n = cross(sub(b, a), sub(c, a))
        normals.append(n)
    s = sum(norm(n) for n in normals) / 2.0
    total += 374.1229744 * v * v / s ** 3
    lo = 180.0
    for i in range(4):
        for j in range(i + 1, 4):
            c = -dot(normals[i], normals[j]) / (norm(normals[i]) * norm(normals[j]))
            lo = min(lo, math.degrees(math.acos(max(-1.0, min(1.0, c)))))
    smallest = min(smallest, lo)
    below10 += lo < 10.0
    below20 += lo < 20.0
    count += 1
print(f"{count:9d} tetras  mean q {total / count:.4f}  min dihedral {smallest:6.2f}  <10: {below10}  <20: {below20}")
EOF
}

for c in "${cases[@]}"; do
  model=${c%%:*}
  size=${c##*:}
  echo "== $model, size $size"
  printf 'mgn:    '
  "$build/bench/mesh3_bench" "$here/tests/models/$model.mgn" "$size" -o "$work/$model.poly" | grep -E '^[0-9]' | head -1
  volume=$(python3 -c "print('%.3g' % ($size ** 3 / (6 * 2 ** 0.5)))")
  tetgen -pq1.2Q "$work/$model.poly" >/dev/null
  printf 'tetgen -pq1.2:          '
  measure "$work/$model.1"
  tetgen -pq1.2a"$volume"Q "$work/$model.poly" >/dev/null
  printf 'tetgen -pq1.2a%-9s ' "$volume:"
  measure "$work/$model.1"
done
