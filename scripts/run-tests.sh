#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: plain, then under
# AddressSanitizer + UndefinedBehaviorSanitizer; then fuzzes for a bounded time.
# Both builds have the MPI flavour (scripts/setup.sh), so both run its tests
# (mpi.*) under mpiexec; the fuzz target covers the serial library.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs=$(nproc)

echo "== plain build"
scripts/setup.sh build
(cd build && ctest --output-on-failure -j"$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/setup.sh build-asan -DVIDEZ5_SANITIZE=ON -DVIDEZ5_BUILD_EXAMPLES=OFF
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j"$jobs")

echo "== fuzzing: libFuzzer (clang) with AddressSanitizer + UBSan, bounded time"
scripts/setup.sh build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVIDEZ5_FUZZ=ON \
  -DVIDEZ5_BUILD_TESTS=OFF -DVIDEZ5_BUILD_EXAMPLES=OFF -DVIDEZ5_MPI=OFF
(cd build-fuzz/fuzz && ctest --output-on-failure --verbose)
