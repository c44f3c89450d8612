#!/usr/bin/python3
"""Runs one Fortran test program in a scratch directory, compares its standard
output byte for byte and checks the files it wrote with h5py, an independent
reader. Usage: check.py CASE EXECUTABLE"""
import os
import signal
import subprocess
import sys
import tempfile

import h5py
import numpy as np

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)


def expect_dataset(f, path, shape, kind, values=None, strsize=None, pad=None):
    """kind: 'f8', 'i4' or 'S' (fixed-length string)."""
    if path not in f or not isinstance(f[path], h5py.Dataset):
        failures.append(f"{path}: no dataset")
        return
    d = f[path]
    expect(d.shape == shape, f"{path}: shape {d.shape}, expected {shape}")
    t = d.id.get_type()
    if kind == "S":
        expect(isinstance(t, h5py.h5t.TypeStringID) and not t.is_variable_str(), f"{path}: not a fixed string")
        expect(t.get_size() == strsize, f"{path}: string size {t.get_size()}, expected {strsize}")
        if pad is not None:
            expect(t.get_strpad() == pad, f"{path}: string padding {t.get_strpad()}, expected {pad}")
    else:
        expect(d.dtype == np.dtype(kind), f"{path}: type {d.dtype}, expected {kind}")
    if values is not None:
        got = d[()]
        if kind == "S":
            # The stored bytes, padding included: h5py's own read would turn
            # space padding into null padding.
            got = np.empty(shape, dtype=f"S{strsize}")
            d.id.read(h5py.h5s.ALL, h5py.h5s.ALL, got, mtype=t)
        expect(np.array_equal(got, np.asarray(values).reshape(shape)), f"{path}: values {got!r}")


def lines(*ls):
    return "".join(l + "\n" for l in ls)


def fortran(n1, n2=None, n3=None, scale=1.0):
    """Values 1..N (times scale) laid out as a Fortran array of the given sizes,
    seen in HDF5's reversed order."""
    sizes = [n for n in (n1, n2, n3) if n]
    count = int(np.prod(sizes))
    return (np.arange(1, count + 1) * scale).reshape(tuple(reversed(sizes)))


def check_handles(d, out):
    expect(out == lines(
        "== create by name, blanks past the length ignored",
        "== reopen keeps contents and adds to them",
        "== unknown and stale handles fail quietly",
        "== a name that cannot be created",
        "== a file that is not HDF5 is left alone",
        "NOT AN HDF5 FILE IN open_h5_file( notes.txt ), LEFT UNTOUCHED",
        "== an empty file is replaced",
        "== a file handle given to the group close stays usable",
        "== done"), "standard output")
    expect(sorted(os.listdir(d)) == ["empty.h5", "notes.txt", "out.h5"], f"files: {sorted(os.listdir(d))}")
    with open(os.path.join(d, "notes.txt")) as t:
        expect(t.read() == "results of a week of computing\n", "notes.txt changed")
    with h5py.File(os.path.join(d, "out.h5"), "r") as f:
        for group in ("g", "g1/g2/g3", "g1/g2/g3/below/deeper", "a b ", "g/added", "still"):
            expect(isinstance(f.get(group), h5py.Group), f"group {group!r} missing")
        expect(sorted(f.keys()) == ["a b ", "data", "g", "g1", "still"], f"top level: {sorted(f.keys())}")
        expect_dataset(f, "data/v", (3,), "f8", [1, 2, 3])
    with h5py.File(os.path.join(d, "empty.h5"), "r") as f:
        expect(len(f.keys()) == 0, "replaced empty file is not empty")


def check_arrays(d, out):
    expect(out == lines(
        "== dumps of every rank and type",
        "== read back",
        "== overwrite in place",
        "== a changed shape is refused",
        "Cannot overwrite existing dataset t!",
        "rank of existing dataset is 2 and new rank is = 3",
        "Cannot overwrite existing dataset t!",
        "dim[0] of existing dataset is 3 and new dim[0] is 4",
        "Cannot overwrite existing dataset t!",
        "dim[1] of existing dataset is 4 and new dim[1] is 5",
        "== a group where a dataset is asked for",
        "Cannot overwrite existing dataset fields!",
        "existing object fields is not a dataset",
        "== an exact name, not a prefix",
        "== string lengths below 1",
        "INVALID STRING LENGTH IN ftoc_h5dump_data_( text/none, 0 )",
        "INVALID STRING LENGTH IN ftoc_h5read_data_( text/words, -1 )",
        "== strings read into a shorter length",
        "== missing datasets leave the buffer alone",
        "== done"), "standard output")
    with h5py.File(os.path.join(d, "arrays.h5"), "r") as f:
        # Fortran t(4,3) lands as 3 x 4; it was overwritten with -t.
        expect_dataset(f, "fields/t", (3, 4), "f8", -fortran(4, 3, scale=0.5))
        expect_dataset(f, "fields/cube", (2, 3, 4), "f8", fortran(4, 3, 2))
        expect(f["fields/cube"][1, 2, 3] == 24 and f["fields/cube"][0, 0, 1] == 2, "element (i,j,k) is [k][j][i]")
        # Doubles written over ints: the dataset stays int, values converted.
        expect_dataset(f, "ints", (2, 3), "i4", np.trunc(fortran(3, 2, scale=1.9)).astype(int))
        expect_dataset(f, "text/words", (10,), "S", [f"w{i}".ljust(8).encode() for i in range(1, 11)],
                       strsize=8, pad=h5py.h5t.STR_SPACEPAD)
        expect_dataset(f, "abs/path", (12,), "f8", np.arange(1, 13) * 0.5)
        expect_dataset(f, "shapes/zero_middle", (2, 4), "f8")
        expect_dataset(f, "shapes/keeps_one", (1, 5), "f8")
        expect_dataset(f, "shapes/all_zero", (1,), "f8", [0.5])
        expect_dataset(f, "shapes/only_dim2", (7,), "f8")
        expect_dataset(f, "fields/c", (1,), "f8")
        expect("text/none" not in f, "refused string dump wrote a dataset")
        expect("nogroup" not in f and "fields/nothing" not in f, "a read created something")
        expect(isinstance(f["fields"], h5py.Group) and "t" in f["fields"], "group fields damaged")


TITLED = dict(pad=h5py.h5t.STR_NULLTERM)


def check_plots(d, out):
    expect(out == lines(
        "== titled records",
        "== the four count cases",
        "== without titles",
        "Vector inputs do not match in length! 3 != 0",
        "Vector inputs do not match in length! 3 != 0",
        "Vector inputs do not match in length! 3 != 0",
        "== rewrite with other title lengths",
        "== rewrite with nx changed",
        "Cannot overwrite existing dataset data!",
        "dim[1] of existing dataset is 4 and new dim[1] is 6",
        "Cannot overwrite existing dataset X!",
        "dim[0] of existing dataset is 4 and new dim[0] is 6",
        "== done"), "standard output")
    x = np.arange(1, 7) * 0.5
    y = -np.arange(1, 7.0)
    with h5py.File(os.path.join(d, "plots.h5"), "r") as f:
        r = "run1/temp"
        expect(sorted(f[r].keys()) == ["X", "Y", "data", "title", "xtitle", "ytitle"], f"{r}: {sorted(f[r].keys())}")
        expect_dataset(f, r + "/data", (3, 4), "f8", -fortran(4, 3))  # rewritten without titles
        expect_dataset(f, r + "/Y", (3,), "f8", y[:3])
        expect_dataset(f, r + "/X", (4,), "f8", x[:4])
        expect_dataset(f, r + "/title", (1,), "S", [b"Temperature"], strsize=11, **TITLED)
        expect_dataset(f, r + "/xtitle", (1,), "S", [b"x [m]"], strsize=5, **TITLED)
        expect_dataset(f, r + "/ytitle", (1,), "S", [b"y [m]"], strsize=5, **TITLED)
        r = "run1/counts"
        expect_dataset(f, r + "/data", (3, 4), "i4", fortran(4, 3, scale=10).astype(int))
        expect_dataset(f, r + "/Y", (3,), "f8", y[:3])
        expect_dataset(f, r + "/title", (1,), "S", [b"Tempe"], strsize=5, **TITLED)
        expect_dataset(f, r + "/xtitle", (1,), "S", [b"x  "], strsize=3, **TITLED)
        # An empty title: its terminator alone, which reads back empty.
        expect_dataset(f, r + "/ytitle", (1,), "S", [b""], strsize=1, **TITLED)
        # The four count cases.
        r = "counts/both"  # data and X refused on the nx change; Y and titles rewritten
        expect_dataset(f, r + "/data", (3, 4), "f8", fortran(4, 3))
        expect_dataset(f, r + "/Y", (3,), "f8", y[:3])
        expect_dataset(f, r + "/X", (4,), "f8", x[:4])
        expect_dataset(f, r + "/title", (1,), "S", [b"w"], strsize=1)
        expect_dataset(f, r + "/xtitle", (1,), "S", [b"x"], strsize=1)
        expect_dataset(f, r + "/ytitle", (1,), "S", [b"y"], strsize=1)
        r = "counts/ny_only"
        expect_dataset(f, r + "/data", (5,), "f8", np.arange(1, 6.0))
        expect_dataset(f, r + "/Y", (5,), "f8", y[:5])
        expect_dataset(f, r + "/X", (1,), "f8", x[:1])
        r = "counts/nx_only"  # nx axis values come from y; X is x(1) alone
        expect_dataset(f, r + "/data", (5,), "f8", np.arange(1, 6.0))
        expect_dataset(f, r + "/Y", (5,), "f8", y[:5])
        expect_dataset(f, r + "/X", (1,), "f8", x[:1])
        r = "counts/none"
        expect_dataset(f, r + "/data", (1,), "f8", [1.0])
        expect_dataset(f, r + "/Y", (1,), "f8", y[:1])
        expect_dataset(f, r + "/X", (1,), "f8", x[:1])
        expect_dataset(f, r + "/title", (1,), "S", [b"z"], strsize=1)
    with h5py.File(os.path.join(d, "bare.h5"), "r") as f:
        expect(sorted(f["run1/temp"].keys()) == ["X", "Y", "data"], "titles written without titles")
        expect_dataset(f, "run1/counts/data", (3, 4), "i4")
        expect_dataset(f, "run1/counts/X", (4,), "f8", x[:4])


def check_legacy(d, out):
    expect(out == "legacy ok\n", "standard output")
    with h5py.File(os.path.join(d, "legacy.h5"), "r") as f:
        expect_dataset(f, "old/a", (2, 3), "f8", fortran(3, 2))
        expect_dataset(f, "old/k", (4,), "i4", [10, 20, 30, 40])
        expect_dataset(f, "old/plot/data", (4,), "i4", [10, 20, 30, 40])
        expect_dataset(f, "old/plot/title", (1,), "S", [b"counts"], strsize=6)


def check_abort(expected_out, expected_files):
    def check(d, out):
        expect(out == expected_out, "standard output")
        expect(sorted(os.listdir(d)) == expected_files, f"files: {sorted(os.listdir(d))}")
    return check


CASES = {
    "test_handles": (0, check_handles),
    "test_arrays": (0, check_arrays),
    "test_plots": (0, check_plots),
    "test_legacy": (0, check_legacy),
    # A bad code on a dump: nothing printed, no file created.
    "abort_dump_code": (-signal.SIGABRT, check_abort(lines("before"), [])),
    "abort_read_code": (-signal.SIGABRT, check_abort(lines("before", "ABORT"), ["there.h5"])),
    "abort_read_missing": (-signal.SIGABRT, check_abort(
        lines("before", "NONEXISTENT FILE IN open_h5_file( missing.h5 )", "ABORTING"), [])),
}


def main():
    case, exe = sys.argv[1], os.path.abspath(sys.argv[2])
    expected_rc, check = CASES[case]
    with tempfile.TemporaryDirectory(prefix=f"videz5-{case}-") as d:
        # Fortran's own output is buffered apart from C's; unbuffered keeps the order.
        env = dict(os.environ, GFORTRAN_UNBUFFERED_PRECONNECTED="y")
        run = subprocess.run([exe], cwd=d, env=env, capture_output=True)
        out = run.stdout.decode()
        expect(run.returncode == expected_rc, f"exit status {run.returncode}, expected {expected_rc}")
        if not failures:
            check(d, out)
        if failures:
            print("stdout:\n" + out + "\nstderr:\n" + run.stderr.decode()[-4000:])
            print("\n".join("FAIL: " + f for f in failures))
            return 1
    print(f"{case}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
