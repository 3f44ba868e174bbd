#!/usr/bin/env bash
# Builds the input fuzzer against the mgn_core library of a CMake build
# directory (with the sanitizers when that build uses them) and runs it for a
# bounded time over the bundled model files and the fuzz corpus.
#
#   tests/fuzz/run.sh [build_dir] [seconds] [seed]
#
# build_dir defaults to build-sanitize, seconds to 90 (at most 120), seed to 1.
# Findings are saved under build_dir/fuzz_findings; the script fails when
# there are any.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build-sanitize}
seconds=${2:-90}
seed=${3:-1}

if [ ! -f "$build/libmgn_core.a" ] || [ ! -x "$build/mgn" ]; then
  cmake --build "$build" --target mgn_core mgn
fi

flags=(-std=c++20 -O1 -g -Wall -Wextra -Isrc)
if grep -q '^MGN_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
  flags+=(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
fi
g++ "${flags[@]}" tests/fuzz/input_fuzz.cpp "$build/libmgn_core.a" -o "$build/input_fuzz"

seeds=(tests/fuzz_corpus)
[ -d tests/models ] && seeds+=(tests/models)
# The example models (not the picture script beside them).
seeds+=(examples/*.mgn)

# Binary model files of a few test models, written by this build (their
# signature is the build's own), with and without the stored options.
binaries=$(mktemp -d)
trap 'rm -rf "$binaries"' EXIT
if [ -x "$build/mgn" ]; then
  for model in two_lines square unit_cube sphere_octant two_boxes; do
    [ -f "tests/models/$model.mgn" ] || continue
    "$build/mgn" -Q -i "tests/models/$model.mgn" -d 0.5 -b "$binaries/$model.bin" >/dev/null 2>&1 || true
    "$build/mgn" -Q -i "tests/models/$model.mgn" -d 0.5 -Z -k 2 -b "$binaries/${model}_options.bin" >/dev/null 2>&1 || true
  done
  seeds+=("$binaries")
fi

ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
  "$build/input_fuzz" -t "$seconds" -r 10 -s "$seed" -o "$build/fuzz_findings" "${seeds[@]}"
