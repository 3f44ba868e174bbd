#!/usr/bin/env bash
# Meshes the cube, the sphere and the torus of tests/models with mgn and, on
# the same boundary triangulation, with TetGen (-pq1.2, the Debian package
# tetgen), and prints the time and the quality of both meshes by the same
# measures.  Run from the project root after building the benchmarks:
#   cmake --build build --target bench && bash bench/compare_tetgen.sh [size]
set -euo pipefail
size=${1:-0.1}
out=$(mktemp -d)
for model in unit_cube sphere torus; do
  echo "== $model, size $size"
  start=$(date +%s.%N)
  build/mgn -i tests/models/$model.mgn -u "$size" -q 3 -o "$out/$model.mgn.out" > "$out/$model.log"
  end=$(date +%s.%N)
  echo "mgn:    $(grep -E '^Number of tetras' "$out/$model.log" | awk '{print $4}') tetras  $(echo "$end - $start" | bc) s" \
       " quality mean $(grep -A5 '^Tetras quality' "$out/$model.log" | grep 'arithmetic' | awk '{print $1}')" \
       " worst $(grep -A5 '^Tetras quality' "$out/$model.log" | grep 'worst' | awk '{print $1}')" \
       " min dihedral $(grep -A5 '^Tetras angles' "$out/$model.log" | grep 'minimum' | awk '{print $1}') deg"
  build/bench/discret3_bench off tests/models/$model.mgn "$size" "$out/$model.off" > /dev/null
  if command -v tetgen > /dev/null; then
    start=$(date +%s.%N)
    tetgen -pq1.2Q "$out/$model.off" > /dev/null
    end=$(date +%s.%N)
    echo "tetgen: $(python3 bench/tetra_quality.py "$out/$model.1")  $(echo "$end - $start" | bc) s"
  else
    echo "tetgen: not installed (apt-get install tetgen)"
  fi
done
rm -rf "$out"
