#!/usr/bin/env bash
# Triangle quality of the torus surfaces (tests/models/torus.mgn without its
# region: sixteen rational patches, major radius 2, minor radius 0.5) at
# uniform sizes, by default 0.03 and 0.015 (about 100 and 420 thousand
# triangles): triangles, whole-run seconds, peak resident memory, and the
# quality report's mean and worst triangle, with and without nodal
# smoothing.  Run from the project root after building mgn:
#   bash bench/torus_quality.sh [size ...]
set -euo pipefail
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(0.03 0.015)
out=$(mktemp -d)
grep -v '^region' tests/models/torus.mgn > "$out/torus_surfaces.mgn"
for size in "${sizes[@]}"; do
  for smoothing in on off; do
    flag=()
    [ "$smoothing" = off ] && flag=(-S)
    /usr/bin/time -f '%e %M' -o "$out/time" build/mgn -i "$out/torus_surfaces.mgn" -u "$size" "${flag[@]}" \
      -o "$out/mesh" > "$out/log"
    read -r seconds kilobytes < "$out/time"
    echo "mgn   size $size smoothing $smoothing: $(awk '/^Number of trias/{print $4}' "$out/log") triangles" \
      " ${seconds} s  $((kilobytes / 1024)) MB" \
      " mean $(grep -A5 '^Trias quality' "$out/log" | awk '/arithmetic/{print $1}')" \
      " worst $(grep -A5 '^Trias quality' "$out/log" | awk '/worst/{print $1}')"
  done
done
rm -rf "$out"
