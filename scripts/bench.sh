#!/usr/bin/env bash
# Sets up the machine (scripts/setup.sh), builds the benchmarks into build-bench
# and runs every one of them; the tables go to standard output and to
# build-bench/bench-results.md. Scratch files live under $VIDEZ5_BENCH_DIR
# (default: $TMPDIR or /tmp) and are removed by each program when it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build-bench
# The test suite is not needed here, and benchmarks are never part of it.
scripts/setup.sh "$build_dir" -DVIDEZ5_BUILD_BENCH=ON -DVIDEZ5_BUILD_TESTS=OFF "$@"

results="$build_dir/bench-results.md"
{
  echo "# videz5_c benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "$(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), load average $(cut -d' ' -f1-3 /proc/loadavg);" \
       "HDF5 $(sed -n 's/.*HDF5 Version: *//p' /usr/lib/x86_64-linux-gnu/hdf5/serial/libhdf5.settings 2>/dev/null | head -n1)"
  # Which sources were measured; read-only queries (no index refresh).
  if command -v git >/dev/null && git rev-parse --git-dir >/dev/null 2>&1; then
    echo "sources: commit $(git rev-parse --short HEAD)," \
         "$(GIT_OPTIONAL_LOCKS=0 git status --porcelain --untracked-files=all | wc -l) paths changed or new in the work tree"
  fi
} | tee "$results"

# The 256 MiB runs go last: the disk work they leave behind (writeback, freeing
# blocks of deleted files) would otherwise fall into the per-call timings. Each
# program starts after a sync for the same reason.
for program in small_dumps plot_records group_scaling fortran_peer held_files overwrites appends large_arrays array_kinds; do
  sync
  echo
  echo "## $program"
  "$build_dir/bench/bench_$program"
done 2>&1 | tee -a "$results"

# The collective dump: 4 ranks on this machine's cores (--oversubscribe),
# under each of OpenMPI's two MPI-IO layers (ROMIO's component is named after
# its release), with what OpenMPI needs here (scripts/openmpi.env).
if [ -x "$build_dir/bench/bench_parallel_dump" ]; then
  romio=$(ompi_info --parsable | sed -n 's/^mca:io:\(romio[0-9]*\):.*/\1/p' | head -1)
  for io in ompio $romio; do
    sync
    echo
    echo "## parallel_dump (mpiexec -n 4, OMPI_MCA_io=$io)"
    (set -a && . scripts/openmpi.env && OMPI_MCA_io=$io mpiexec --oversubscribe -n 4 "$build_dir/bench/bench_parallel_dump")
  done
fi 2>&1 | tee -a "$results"

echo
echo "results: $results"
