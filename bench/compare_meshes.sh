#!/usr/bin/env bash
# Byte-identity check for refactors: runs two mgn binaries over every test
# model and example with several option sets and compares, run by run, the
# exit statuses, the mesh files (cmp) and the printed messages (times of day
# and the source lines of error places masked).  Prints one DIFF line per
# differing run and a closing count.
# Usage: bench/compare_meshes.sh BEFORE_MGN AFTER_MGN
set -u
same() { [ ! -e "$1" ] && [ ! -e "$2" ] && return 0; cmp -s "$1" "$2"; }
repo=$(cd "$(dirname "$0")/.." && pwd)
before=$(readlink -f "$1")
after=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
base=("" "-k 2" "-s 1" "-s 2" "-s 3" "-S" "-C" "-p 7" "-p 56 -r 1" "-p 63 -k 2" "-r 3" "-S -k 2 -p 7" "-q 3")
opts=()
for o in "${base[@]}"; do opts+=("$o" "$o -d 0.2"); done
opts+=("-u 0.3" "-u 0.07" "-u 2" "-d 0.15 -s 3" "-u 0.5 -C -s 2")
runs=0
diffs=0
for model in "$repo"/tests/models/*.mgn "$repo"/examples/*.mgn; do
  name=$(basename "$model" .mgn)
  for o in "${opts[@]}"; do
    for which in before after; do
      bin=$before
      [ "$which" = after ] && bin=$after
      d="$work/$which"
      mkdir -p "$d"
      rm -f "$d"/*
      # shellcheck disable=SC2086
      (cd "$d" && timeout 120 "$bin" -Q -i "$model" -o out.msh -g log.txt $o >stdout.txt 2>stderr.txt; echo $? >rc)
      for f in stdout stderr log; do
        [ -f "$d/$f.txt" ] &&
          sed -E 's/[0-9]{2}:[0-9]{2}:[0-9]{2}/HH:MM:SS/g; s/(file src\/[a-z0-9_]+, line )[0-9]+/\1N/; /[Tt]ime|[Mm]emory|bytes|seconds/d' \
            "$d/$f.txt" >"$d/$f.f"
      done
    done
    runs=$((runs + 1))
    bad=""
    cmp -s "$work/before/rc" "$work/after/rc" || bad="$bad status"
    same "$work/before/out.msh" "$work/after/out.msh" || bad="$bad mesh"
    for f in stdout stderr log; do same "$work/before/$f.f" "$work/after/$f.f" || bad="$bad $f"; done
    if [ -n "$bad" ]; then
      diffs=$((diffs + 1))
      echo "DIFF $name [$o]:$bad"
    fi
  done
done
echo "compared $runs runs, $diffs differing"
