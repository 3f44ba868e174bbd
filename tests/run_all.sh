#!/usr/bin/env bash
# Builds mgn and its tests twice, plainly and with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

# A fresh machine may lack the build tools or GoogleTest: install them.
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
# The VTK read-back test and the mesh file converter's tests use the system
# Python's meshio (with h5py for XDMF files); the converter's tests also let
# Gmsh read the .msh files back where its Python module can be installed.
# Without them those tests are skipped.
if ! /usr/bin/python3 -c "import meshio, h5py" >/dev/null 2>&1; then
  (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-meshio python3-h5py >/dev/null) ||
    echo "python3-meshio not installed: the VTK read-back and converter tests will be skipped"
fi
if ! /usr/bin/python3 -c "import gmsh" >/dev/null 2>&1; then
  (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-gmsh >/dev/null) ||
    echo "python3-gmsh not installed: Gmsh will not read the converted meshes back"
fi

jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DMGN_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DMGN_SANITIZE=ON -DMGN_TESTS=ON >/dev/null
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

# The input fuzzer and the whole-pipeline stress driver run for bounded
# times under the sanitizers.
tests/fuzz/run.sh build-sanitize
python3 tests/fuzz/pipeline_fuzz.py --mgn build-sanitize/mgn --seconds 150 --seed 1
# The region stress driver: forty generated regions of up to about 5000
# tetras (about two minutes here), each mesh checked; then the reduced
# cases it found earlier (tests/fuzz/region_cases) are replayed with the
# same checks.
python3 tests/fuzz/region_fuzz.py --mgn build-sanitize/mgn --seconds 150 --runs 40 --max-tetras 5000 --seed 1
for case in tests/fuzz/region_cases/*.json; do
  python3 tests/fuzz/region_fuzz.py --mgn build-sanitize/mgn --replay "$case" >/dev/null
done
