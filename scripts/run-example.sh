#!/usr/bin/env bash
# The main job: set up, build, run the Fortran example in a scratch directory,
# show what landed in its file and render its plot records to PNG images.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
VIDEZ5_TARGETS=simulation "$root/scripts/setup.sh" "$root/build" >/dev/null
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
/usr/bin/python3 "$root/tools/videz5-plot" simulation.h5 -o "$out/plots"
