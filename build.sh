#!/usr/bin/env bash
# One entry point for everything:
#   ./build.sh demo   install what is missing, build, and run the wizard on a demo package
#   ./build.sh test   install what is missing, build, and run the whole test suite
#   ./build.sh build  install what is missing and build both configurations
#   ./build.sh bench  build, then run the benchmarks (docs/PERFORMANCE.md)
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

bash scripts/install-deps.sh

jobs=$(nproc)
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug -DQUENTARO_WIN32_DIR="$root/build/win32" >/dev/null
cmake -S . -B build/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build build/win32 -j "$jobs"
# A 64-bit test build of the same sources for machines without 32-bit code (never shipped).
cmake -S . -B build/win64-test -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build build/win64-test -j "$jobs"
cmake --build build/native -j "$jobs"

case "${1:-build}" in
build) ;;
test)
    # Unit tests, fuzz targets and the end-to-end scenario files; then what the scenarios ran
    # against on this machine and what they skipped, and why.
    rm -rf build/native/e2e-records
    rc=0
    ctest --test-dir build/native --output-on-failure -j "${QUENTARO_TEST_JOBS:-2}" || rc=$?
    /usr/bin/python3 tests/e2e/summary.py build/native/e2e-records
    exit "$rc" ;;
demo) bash scripts/demo.sh ;;
bench)
    # Timings need a build without the sanitizers.
    cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DQUENTARO_SANITIZE=OFF >/dev/null
    cmake --build build/bench -j "$jobs" --target core_bench quentaro-crc
    build/bench/bench/core_bench
    python3 bench/e2e_bench.py ;;
*) echo "usage: $0 [build|test|demo|bench]" >&2; exit 2 ;;
esac
