#!/usr/bin/python3
"""Runs test_collective on N ranks under mpiexec in a scratch directory,
compares rank 0's standard output byte for byte, and checks with h5py that
every collectively dumped dataset is what the serial dump of the same global
array made: same shape, type and bytes, and the expected values.
Usage: check.py N MPIEXEC [MPIEXEC FLAGS...] -- PROGRAM"""
import os
import subprocess
import sys
import tempfile

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import expect, expect_dataset, expect_output, finish, lines, program_env  # noqa: E402

n = int(sys.argv[1])
split = sys.argv.index("--")
mpiexec, program = sys.argv[2:split], sys.argv[split + 1]
last = n - 1

# (path, global sizes in Fortran order, element type)
CASES = [("d1_even", (12, 5, 3), "f8"), ("d1_uneven", (13, 5, 3), "f8"), ("d2_even", (4, 12, 3), "i4"),
         ("d2_uneven", (4, 13, 3), "f8"), ("d3_even", (3, 4, 12), "f8"), ("d3_uneven", (3, 4, 13), "i4"),
         ("g/plane", (7, 6), "i4"), ("g/h/line", (13,), "i4"), ("g/h/doubles", (13,), "f8")]


def values(sizes, kind):
    """The test's value(i, j, k) = i + 100 j + 10000 k (+ 0.25 for doubles), HDF5
    order; an absent dimension's index is 1."""
    padded = tuple(sizes) + (1,) * (3 - len(sizes))
    i, j, k = np.meshgrid(*[np.arange(1, s + 1) for s in padded], indexing="ij")
    v = i + 100 * j + 10000 * k + (0.25 if kind == "f8" else 0)
    return v.reshape(sizes, order="F").astype(kind).T


def expected_output():
    dump = "IN ftoc_h5pdump_data_( mismatch/a ): "
    differ = [f"ARGUMENTS DIFFER {dump}path of rank {last} is not rank 0's",
              f"ARGUMENTS DIFFER {dump}file name of rank {last} is not rank 0's",
              f"ARGUMENTS DIFFER {dump}global sizes of rank {last} are 13, 0, 0, rank 0's 12, 0, 0",
              f"ARGUMENTS DIFFER {dump}element type of rank {last} is int, rank 0's double",
              f"BLOCKS DO NOT TILE THE ARRAY {dump}blocks of ranks 0 and 1 overlap"] if n > 1 else []
    offset, size = 12 // n * last, 12 // n
    return lines(
        "Cannot overwrite existing dataset d1_even!",
        "dim[0] of existing dataset is 3 and new dim[0] is 2",
        "Cannot overwrite existing dataset line!",
        "type of existing dataset is int and new type is double",
        *differ,
        f"BLOCKS DO NOT TILE THE ARRAY {dump}blocks cover 11 of 12 elements",
        f"BLOCKS DO NOT TILE THE ARRAY {dump}block of rank {last} (offset {offset + 1}, 0, 0; sizes {size}, 0, 0)"
        " lies outside 12, 0, 0",
        "SHAPE MISMATCH IN ftoc_h5pread_data_( cases/d1_even ): stored 12 x 5 x 3, buffer 12 x 5 x 4",
        "NO DATASET IN ftoc_h5pread_data_( cases/none )",
        "NONEXISTENT FILE IN ftoc_h5pread_data_( missing.h5 )",
        "BLOCK OUTSIDE THE ARRAY IN ftoc_h5pread_data_( cases/d1_even ): block of rank 0 (offset 0, 0, 1; "
        "sizes 12, 5, 3) lies outside 12, 5, 3",
        f"collective on {n} ranks: ok")


with tempfile.TemporaryDirectory(prefix="videz5-mpi-") as d:
    try:
        r = subprocess.run(mpiexec + ["-n", str(n), program], cwd=d, env=program_env(), capture_output=True,
                           timeout=120)
    except subprocess.TimeoutExpired:
        print(f"FAIL: no end after 120 s on {n} ranks")
        sys.exit(1)
    expect(r.returncode == 0, f"exit status {r.returncode}, standard error:\n{r.stderr.decode()}")
    expect_output(r.stdout.decode(), expected_output())
    expect(sorted(os.listdir(d)) == ["par.h5", "ser.h5"], f"files: {sorted(os.listdir(d))}")
    with h5py.File(os.path.join(d, "par.h5"), "r") as par, h5py.File(os.path.join(d, "ser.h5"), "r") as ser:
        for path, sizes, kind in CASES:
            path = "cases/" + path
            want = values(sizes, kind)
            if path == "cases/d1_even":
                want = np.full(want.shape, -7.5)  # overwritten in place, then the other shape refused
            if path == "cases/g/h/line":
                want = np.full(want.shape, 5, dtype="i4")  # whole doubles went in, the fraction did not
            expect_dataset(par, path, want.shape, kind, want)
            if path in ser:
                p, s = par[path], ser[path]
                same = p.shape == s.shape and p.dtype == s.dtype and p.id.get_type().equal(s.id.get_type())
                expect(same, f"{path}: {p.shape} {p.dtype} collectively, {s.shape} {s.dtype} serially")
                if path not in ("cases/d1_even", "cases/g/h/line"):
                    expect(same and p[()].tobytes() == s[()].tobytes(), f"{path}: other bytes than the serial dump")
                    expect(p.id.get_create_plist().get_layout() == s.id.get_create_plist().get_layout(),
                           f"{path}: another layout than the serial dump")
            else:
                expect(False, f"{path}: no serial dump")
        expect("mismatch" not in par, "a refused dump left something behind")
        expect(sorted(par["plots/p"].keys()) == ["X", "Y", "data", "plot", "title", "xtitle", "ytitle"], "plot record")
sys.exit(finish(f"mpi on {n} ranks"))
