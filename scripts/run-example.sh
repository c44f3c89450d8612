#!/usr/bin/env bash
# The main job: set up, build, run the Fortran example in a scratch directory,
# show what landed in its file and render its plot records to PNG images; then
# the same simulation as an MPI job of 4 ranks writing one shared file.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
VIDEZ5_TARGETS="simulation simulation_mpi videz5-recover" "$root/scripts/setup.sh" "$root/build"
out="${VIDEZ5_EXAMPLE_DIR:-$root/build/example-run}"
mkdir -p "$out"
cd "$out"
rm -f simulation.h5
"$root/build/examples/simulation"
echo
echo "== contents of $out/simulation.h5 =="
h5ls -r simulation.h5
echo
echo "== plot records rendered to PNG =="
VIDEZ5_RECOVER="$root/build/videz5-recover" /usr/bin/python3 "$root/tools/videz5-plot" simulation.h5 -o "$out/plots"

echo
echo "== the MPI example: 4 ranks, one shared file =="
rm -f simulation_mpi.h5
# 4 ranks on fewer cores need --oversubscribe; what else OpenMPI needs here is in openmpi.env.
(set -a && . "$root/scripts/openmpi.env" && mpiexec --oversubscribe -n 4 "$root/build/examples/simulation_mpi")
echo
echo "== contents of $out/simulation_mpi.h5 =="
h5ls -r simulation_mpi.h5
