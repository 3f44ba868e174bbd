#!/usr/bin/env bash
# Quality report of two mgn binaries side by side: every test model (with
# no option and with -d 0.3) and every example (with the options of its
# header).  Prints, for each run whose mesh file differs, the triangle,
# quad and tetra mean and worst quality before -> after; runs with the same
# mesh file (or with none from either binary) are only counted.
# Usage: bench/quality_compare.sh BEFORE_MGN AFTER_MGN
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
before=$(readlink -f "$1")
after=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# "mean/worst" of each element kind the report lists, on one line.
figures() {
  awk '/^(Trias|Quads|Tetras) quality/ {kind=$1} /arithmetic mean quality/ {mean=$1}
       /worst (tria|quad|tetra) quality/ {printf "%s %s/%s  ", kind, mean, $1}' "$1"
}
run() {  # model, options
  rm -f "$work"/*.msh
  for which in before after; do
    bin=$before
    [ "$which" = after ] && bin=$after
    # shellcheck disable=SC2086
    (cd "$work" && timeout 300 "$bin" -i "$1" -o "$which.msh" $2 >"$which.txt" 2>&1)
  done
  runs=$((runs + 1))
  if { [ ! -e "$work/before.msh" ] && [ ! -e "$work/after.msh" ]; } || cmp -s "$work/before.msh" "$work/after.msh"; then
    same=$((same + 1))
    return
  fi
  echo "$(basename "$1" .mgn) [$2]: $(figures "$work/before.txt")-> $(figures "$work/after.txt")"
}
runs=0
same=0
for model in "$repo"/tests/models/*.mgn; do
  run "$model" ""
  run "$model" "-d 0.3"
done
for model in "$repo"/examples/*.mgn; do
  options=$(sed -n 's/^#   build\/mgn -i examples\/[a-z_]*\.mgn -o [a-z_]*\.mgnmesh *//p' "$model")
  run "$model" "$options"
done
echo "compared $runs runs, $same with the same mesh file"
