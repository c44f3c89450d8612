#!/usr/bin/env bash
# Shows the example's plot records the way a user of h5web (the HDF5 web
# viewer) sees them: builds and runs the simulation example, serves its file in
# a small h5web page and screenshots each record in headless Chromium.
# Usage (as root on Debian 12): scripts/render-h5web.sh [OUTDIR]
#   OUTDIR defaults to build/h5web-shots; the npm packages, the page and the
#   example's run go to $VIDEZ5_H5WEB_DIR (default /tmp/videz5-h5web).
# Exits non-zero when h5web shows an error or no plot for a record.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:-$root/build/h5web-shots}" && cd "${1:-$root/build/h5web-shots}" && pwd)"
work="${VIDEZ5_H5WEB_DIR:-/tmp/videz5-h5web}"
port="${VIDEZ5_H5WEB_PORT:-4178}"

# Debian's chromium and node; a node that is already there (e.g. a newer one) is kept.
need=()
[ -x /usr/bin/chromium ] || need+=(chromium)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi
node_major="$(node -p 'process.versions.node.split(".")[0]')"
# The pinned vite 5 and playwright-core both run on Debian 12's node 18.
[ "$node_major" -ge 18 ] || { echo "node $(node --version) is too old, need 18 or newer" >&2; exit 1; }

# The page and its packages live outside the repo; npm skips what is already installed.
mkdir -p "$work/app/public" "$work/run"
cp "$root"/scripts/h5web/{package.json,index.html,main.jsx,vite.config.mjs,shoot.mjs} "$work/app/"
echo "installing the npm packages in $work/app"
(cd "$work/app" && npm install --no-audit --no-fund --loglevel=error >/dev/null)

# The example, built the way run-example.sh builds it unless a build already has it.
sim="$root/build/examples/simulation"
if [ ! -x "$sim" ]; then
  VIDEZ5_TARGETS=simulation "$root/scripts/setup.sh" "$root/build"
fi
echo "running the example in $work/run"
(cd "$work/run" && rm -f simulation.h5 && "$sim" >/dev/null)

# A plot record is a group with data, X, Y and title, found by walking the file;
# its NXdata group "plot" links the same datasets, so it is left out.
mapfile -t records < <(/usr/bin/python3 - "$work/run/simulation.h5" <<'PY'
import sys, h5py
found = []
def visit(name, obj):
    if (isinstance(obj, h5py.Group) and obj.attrs.get("NX_class") not in (b"NXdata", "NXdata")
            and all(isinstance(obj.get(k), h5py.Dataset) for k in ("data", "X", "Y", "title"))):
        found.append("/" + name)
with h5py.File(sys.argv[1], "r") as f:
    f.visititems(visit)
for path in found:
    print(path)
PY
)
[ ${#records[@]} -gt 0 ] || { echo "no plot records in simulation.h5" >&2; exit 1; }
echo "plot records: ${records[*]}"

# A production build served by vite preview: no dependency re-optimisation
# reloading the page halfway through a screenshot, as the dev server may do.
cp "$work/run/simulation.h5" "$work/app/public/"
echo "building the h5web page"
(cd "$work/app" && node node_modules/vite/bin/vite.js build >/dev/null)
# exec, so that $! is the server itself and the trap ends it.
(cd "$work/app" && exec node node_modules/vite/bin/vite.js preview --port "$port") >"$work/preview.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT

echo "screenshots of each record in h5web:"
status=0
(cd "$work/app" && node shoot.mjs "http://127.0.0.1:$port" "$out" simulation.h5 "${records[@]}") || status=$?
echo
echo "screenshots are in $out"
exit $status
