#!/usr/bin/env bash
# Installs what the project needs on a fresh Debian 12 or 13 machine (as root),
# only the packages that are missing, then configures and builds into $1
# (default build), with the MPI flavour (-DVIDEZ5_MPI=ON unless the arguments
# say OFF). Where a package's name differs between releases, the first of its
# names that the release offers is taken.
# Serial and parallel HDF5 (libhdf5-dev, libhdf5-openmpi-dev) install side by
# side; the build names each one's directories itself. Says what it installs
# and builds, a line each, before it does it.
set -euo pipefail
cd "$(dirname "$0")/.."

# A word with | names one package by its names in each release: LLVM Flang is
# "flang" on Debian 13 and only "flang-19" on Debian 12.
packages=(g++ gfortran cmake make pkg-config libhdf5-dev hdf5-tools libgtest-dev
          python3 python3-h5py python3-matplotlib python3-numpy python3-xarray python3-h5netcdf
          valgrind clang libclang-rt-dev 'flang|flang-19'
          openmpi-bin libopenmpi-dev libhdf5-openmpi-dev)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}"; do
  have=0
  for name in ${p//|/ }; do installed "$name" && have=1; done
  [ $have = 1 ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  echo "updating the package lists"
  apt-get update -qq
  # One package at a time, so that a slow download still shows where it is.
  for choice in "${missing[@]}"; do
    p=""
    for name in ${choice//|/ }; do
      if [ -n "$(apt-cache show --no-all-versions "$name" 2>/dev/null)" ]; then p=$name; break; fi
    done
    [ -n "$p" ] || { echo "this release offers none of: ${choice//|/ }" >&2; exit 1; }
    echo "installing $p (with what it needs)"
    # A minimal root has no apt-utils, and debconf says so for every package.
    apt-get install -y -qq --no-install-recommends "$p" 2>&1 >/dev/null |
      { grep -v '^debconf: delaying package configuration' || true; } >&2
  done
fi

build_dir=${1:-build}
shift || true
echo "configuring $build_dir"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIDEZ5_MPI=ON "$@" >/dev/null
# VIDEZ5_TARGETS names what to build (the main job needs only its example); default: everything.
targets=()
for t in ${VIDEZ5_TARGETS:-}; do targets+=(--target "$t"); done
# make names each object and program before it builds it; its bookkeeping lines are left out.
cmake --build "$build_dir" -j"$(nproc)" "${targets[@]}" 2>&1 |
  { grep --line-buffered -v -E '^(Scanning dependencies of|Consolidate compiler generated|\[ *[0-9]+%\] Built target )' || true; }
