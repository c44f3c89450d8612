#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: plain, then under
# AddressSanitizer + UndefinedBehaviorSanitizer, with the Fortran tests again
# built by LLVM Flang between them; then fuzzes for a bounded time.
# Both builds have the MPI flavour (scripts/setup.sh), so both run its tests
# (mpi.*) under mpiexec; the fuzz target covers the serial library. Each phase
# starts with a header giving the time since the start; ctest names each test
# as it ends, and no test runs longer than some twenty seconds here. Both
# builds check the file driver's rules as they go (VIDEZ5_INVARIANTS).
# The builds after the plain one compile each target as one unit (a third
# less time); the plain build compiles file by file, so that a source that
# only builds beside others is still caught.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
# One more test than cores: the lock tests spend most of their time waiting.
jobs=$(($(nproc) + 1))
phase() { printf '== [%d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"; }
SECONDS=0

phase "plain build (installs what is missing first)"
scripts/setup.sh build -DVIDEZ5_INVARIANTS=ON
phase "plain tests"
(cd build && ctest --output-on-failure -j"$jobs")

# The second Fortran compiler: LLVM Flang (flang-new on Debian 13, flang-new-19
# on 12) builds the module, the Fortran programs and the example; the tests
# that are Fortran's run (the library and its other tests do not change with
# the compiler), the package's with a consumer of each compiler.
flang=$(command -v flang-new || command -v flang-new-19)
phase "LLVM Flang build ($("$flang" --version | head -n1))"
scripts/setup.sh build-flang -DCMAKE_UNITY_BUILD=ON -DCMAKE_Fortran_COMPILER="$flang" -DVIDEZ5_MPI=OFF \
  -DVIDEZ5_UNIT_TESTS=OFF -DVIDEZ5_INVARIANTS=ON
phase "LLVM Flang: Fortran tests, the package, the example"
(cd build-flang && ctest --output-on-failure -j"$jobs" -R '^(fortran\.|hardening\.bad_inputs$|package\.)')
scratch=$(mktemp -d)
(cd "$scratch" && "$root/build-flang/examples/simulation" | tail -n1 | grep -x "all datasets read back as written")
rm -rf "$scratch"

phase "AddressSanitizer + UndefinedBehaviorSanitizer build"
scripts/setup.sh build-asan -DCMAKE_UNITY_BUILD=ON -DVIDEZ5_SANITIZE=ON -DVIDEZ5_BUILD_EXAMPLES=OFF -DVIDEZ5_INVARIANTS=ON
phase "AddressSanitizer + UndefinedBehaviorSanitizer tests (no crash or valgrind tests: see the README)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j"$jobs")

phase "fuzzing build: libFuzzer (clang) with AddressSanitizer + UBSan"
scripts/setup.sh build-fuzz -DCMAKE_UNITY_BUILD=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVIDEZ5_FUZZ=ON \
  -DVIDEZ5_BUILD_TESTS=OFF -DVIDEZ5_BUILD_EXAMPLES=OFF -DVIDEZ5_MPI=OFF
seconds=40
phase "fuzzing for $seconds s"
fuzz/run.sh build-fuzz/fuzz/fuzz_videz5 fuzz/corpus "$seconds"
phase "all green"
