#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and uses it as another project
# would: examples/consumer through find_package, a C++ and a Fortran file
# through pkg-config alone, with the Fortran compiler that built the package
# and with any other here. Usage: install_and_consume.sh BUILD_DIR SOURCE_DIR SANITIZE(0|1) FORTRAN_COMPILER
set -euo pipefail
build=$1 source=$2 sanitize=$3 own_fc=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/videz5-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
# An instrumented library links only into instrumented programs.
flags=""
[ "$sanitize" = 1 ] && flags="-fsanitize=address,undefined"

fail() { echo "FAIL: $*"; exit 1; }
# Runs a command, showing its output only when it fails.
quiet() { "$@" >"$work/log" 2>&1 || { cat "$work/log"; fail "$*"; }; }
expect_output() {
  local expected=$1; shift
  local got
  got=$("$@") || fail "$* exited with $?"
  [ "$got" = "$expected" ] || fail "$*: got [$got], expected [$expected]"
}

quiet cmake --install "$build" --prefix "$prefix"
pc=$(find "$prefix" -name videz5_c.pc)
[ -n "$pc" ] || fail "no videz5_c.pc installed"
libdir=$(dirname "$(dirname "$pc")")
for f in "$prefix"/{include/videz5_c.h,include/videz5.mod,bin/videz5-plot,bin/videz5-recover} "$libdir"/{libvidez5_c.so,libvidez5_fortran.a} \
         "$libdir"/cmake/videz5_c/videz5_c{Config,ConfigVersion,Targets}.cmake; do
  [ -e "$f" ] || fail "$f not installed"
done

echo "== exactly the public surface exported, under the soname the package's version promises"
exported=$(nm -D --defined-only "$libdir/libvidez5_c.so" | awk '{print $3}' | c++filt |
           sed 's/(.*//; s/\[abi:cxx11\]//' | sort -u | tr '\n' ' ')
public="H5LTmake_dataset_sane charToString close_path file_exists ftoc_close_file_id_ ftoc_close_group_id_ \
ftoc_compress_next_ ftoc_defer_commits_id_ ftoc_describe_next_ ftoc_flush_file_id_ ftoc_h5append_data_ ftoc_h5append_data_id_ \
ftoc_h5delete_ ftoc_h5delete_id_ ftoc_h5dump_array_ ftoc_h5dump_array_id_ ftoc_h5dump_data_ ftoc_h5dump_data_id_ ftoc_h5exists_ ftoc_h5exists_id_ \
ftoc_h5get_dims_ ftoc_h5get_dims_array_ ftoc_h5get_dims_array_id_ ftoc_h5get_dims_id_ ftoc_h5list_ ftoc_h5list_id_ ftoc_h5read_array_ ftoc_h5read_array_id_ ftoc_h5read_attr_ ftoc_h5read_attr_id_ \
ftoc_h5read_data_ ftoc_h5read_data_checked_ ftoc_h5read_data_checked_id_ ftoc_h5write_attr_ ftoc_h5write_attr_id_ \
ftoc_last_write_status_ ftoc_open_file_id_ ftoc_open_group_id_ ftoc_printh5_double_ ftoc_printh5_double_notitle_ \
ftoc_printh5_id_ ftoc_printh5_int_ ftoc_printh5_int_notitle_ ftoc_replace_next_ \
ftoc_set_durable_ h5dump_data h5dump_str_dataset h5get_dims h5read_data h5read_data_checked open_h5_file open_path \
printh5 split_string "
[ "$exported" = "$public" ] || fail "exported: $exported"
soname=$(objdump -p "$libdir/libvidez5_c.so" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = libvidez5_c.so.0.1 ] || fail "soname $soname"

echo "== find_package(videz5_c 0.1) in examples/consumer"
quiet cmake -S "$source/examples/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_Fortran_COMPILER="$own_fc" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_Fortran_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
quiet cmake --build "$work/consumer"
mkdir "$work/run"
cd "$work/run"
expect_output "consumer: rank 2, 3 x 2, read back T" "$work/consumer/consumer"
expect_output "fields/f: rank 2 2 3
plots/f/data: rank 2 2 3
nothing: rank -1" "$work/consumer/consumer_shapes" consumer.h5 fields/f plots/f/data nothing
# The installed library, not the build tree's.
linked=$(ldd "$work/consumer/consumer")
grep -q "libvidez5_c.so.* => $libdir/" <<<"$linked" || fail "consumer does not use $libdir: $linked"

# Every other Fortran compiler here builds the module from its installed
# source (a .mod file is its compiler's own); not with the sanitizers, whose
# flags are gcc's and clang's.
pkg_compiler=$(sed -n 's/^fortran_compiler=//p' "$pc")
others=()
if [ "$sanitize" = 0 ]; then
  seen=""
  for fc in gfortran flang-new flang-new-19; do
    path=$(command -v "$fc") || continue
    real=$(readlink -f "$path")
    case " $seen " in *" $real "*) continue ;; esac
    seen="$seen $real"
    id=GNU
    [ "$fc" = gfortran ] || id=LLVMFlang
    major=$("$fc" -dumpversion 2>/dev/null | cut -d. -f1)
    [ "$id $major" = "$pkg_compiler" ] || others+=("$fc")
  done
fi
for fc in "${others[@]}"; do
  echo "== find_package with $fc, which the installed module is not for ($pkg_compiler)"
  rm -rf "$work/consumer-other"
  quiet cmake -S "$source/examples/consumer" -B "$work/consumer-other" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_Fortran_COMPILER="$fc"
  quiet cmake --build "$work/consumer-other"
  rm -f consumer.h5
  expect_output "consumer: rank 2, 3 x 2, read back T" "$work/consumer-other/consumer"
done

echo "== the version file refuses another minor version"
if cmake -S "$source/examples/consumer" -B "$work/consumer-0.2" -DCMAKE_PREFIX_PATH="$prefix" \
     -DVIDEZ5_WANTED_VERSION=0.2 >"$work/log" 2>&1; then
  fail "find_package(videz5_c 0.2) accepted version 0.1"
fi
grep -q "0.1.0" "$work/log" || { cat "$work/log"; fail "no version named in the refusal"; }

echo "== pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
cflags=$(pkg-config --cflags videz5_c)
libs=$(pkg-config --libs videz5_c)
[ "$(pkg-config --modversion videz5_c)" = "0.1.0" ] || fail "pkg-config version"
[[ " $libs " == *" -lvidez5_c "*" -lhdf5 "* ]] || fail "no -lvidez5_c, then HDF5, in [$libs]"
# shellcheck disable=SC2086  # the flags are lists of words
quiet g++ -std=c++17 $flags "$source/tests/package/pkgconfig_consumer.cpp" $cflags $libs -o "$work/pc_cxx"
# shellcheck disable=SC2086
quiet "$own_fc" $flags "$source/examples/consumer/consumer.f90" $cflags $libs -o "$work/pc_fortran"
rm -f consumer.h5
expect_output "pkg-config consumer: rank 2, 2 x 2" env LD_LIBRARY_PATH="$libdir" "$work/pc_cxx"
expect_output "consumer: rank 2, 3 x 2, read back T" env LD_LIBRARY_PATH="$libdir" "$work/pc_fortran"
for fc in "${others[@]}"; do
  echo "== pkg-config with $fc: the module compiled from fortran_source first"
  mkdir -p "$work/pc-other" && rm -f "$work/pc-other"/*
  (cd "$work/pc-other" && quiet "$fc" -c "$(pkg-config --variable=fortran_source videz5_c)")
  # shellcheck disable=SC2086
  quiet "$fc" -I"$work/pc-other" "$source/examples/consumer/consumer.f90" "$work/pc-other/videz5.o" $cflags $libs \
    -o "$work/pc_other"
  rm -f consumer.h5
  expect_output "consumer: rank 2, 3 x 2, read back T" env LD_LIBRARY_PATH="$libdir" "$work/pc_other"
done

if [ -e "$libdir/libvidez5_c_mpi.so" ]; then
  echo "== the MPI flavour: the serial surface and the collective calls, its soname, pkg-config"
  for f in include/videz5_c_mpi.h include/videz5_mpi.mod; do
    [ -f "$prefix/$f" ] || fail "$f not installed"
  done
  exported=$(nm -D --defined-only "$libdir/libvidez5_c_mpi.so" | awk '{print $3}' | c++filt |
             sed 's/(.*//; s/\[abi:cxx11\]//' | sort -u | tr '\n' ' ')
  wanted=$(echo $public ftoc_h5pdump_data_ ftoc_h5pread_data_ | tr ' ' '\n' | sort -u | tr '\n' ' ')
  [ "$exported" = "$wanted" ] || fail "exported by the MPI flavour: $exported"
  soname=$(objdump -p "$libdir/libvidez5_c_mpi.so" | awk '$1 == "SONAME" {print $2}')
  [ "$soname" = libvidez5_c_mpi.so.0.1 ] || fail "MPI flavour soname $soname"
  libs=$(pkg-config --libs videz5_c_mpi)
  case " $libs " in *" -lvidez5_c_mpi "*) ;; *) fail "no -lvidez5_c_mpi in [$libs]" ;; esac
  # shellcheck disable=SC2046,SC2086
  quiet mpif90 $flags "$source/examples/simulation_mpi.f90" $(pkg-config --cflags --libs videz5_c_mpi) \
    -o "$work/pc_mpi"
  # One rank, started without mpiexec (a singleton), against the installed
  # library. OpenMPI's own allocations outlive MPI_Finalize: no leak report here.
  quiet env LD_LIBRARY_PATH="$libdir" ASAN_OPTIONS=detect_leaks=0 "$work/pc_mpi"
  grep -q "every rank read its slab back as written" "$work/log" || { cat "$work/log"; fail "MPI consumer"; }
fi
echo "package: ok"
