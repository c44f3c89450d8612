#!/usr/bin/python3
"""Runs the bad-input programs (bad_inputs, bad_inputs_abort) among a set of
awkward files, compares standard output byte for byte and checks with h5py
that nothing was lost, nothing was touched that should not be, and no junk was
left. Usage: bad_inputs_check.py BAD_INPUTS BAD_INPUTS_ABORT"""
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


def lines(*ls):
    return "".join(l + "\n" for l in ls)


NOT_HDF5 = "NOT AN HDF5 FILE IN open_h5_file( {} ), LEFT UNTOUCHED"
CANNOT = "CANNOT OPEN FILE IN open_h5_file( {} ): {}"
DAMAGED_CAUSE = "truncated file: eof = 200, sblock->base_addr = 0, stored_eof = 2848"
LOOKUP = "ERROR: H5Lexists(): Failed to look up dataset {}!"
RECORD = [LOOKUP.format(n) for n in ("data", "Y", "X")]
TITLES = [LOOKUP.format(n) for n in ("title", "xtitle", "ytitle")]
NO_TITLES = "Vector inputs do not match in length! 3 != 0"

EXPECTED = lines(
    "== a file that is not HDF5",
    NOT_HDF5.format("notes.txt"), LOOKUP.format("v"),
    NOT_HDF5.format("notes.txt"),
    NOT_HDF5.format("notes.txt"), *RECORD, NO_TITLES,
    NOT_HDF5.format("notes.txt"),
    "== a damaged HDF5 file",
    CANNOT.format("damaged.h5", DAMAGED_CAUSE), LOOKUP.format("v"),
    CANNOT.format("damaged.h5", DAMAGED_CAUSE),
    "== a directory, a device, a FIFO",
    NOT_HDF5.format("adir"), LOOKUP.format("v"),
    NOT_HDF5.format("/dev/null"),
    NOT_HDF5.format("fifo.h5"), LOOKUP.format("v"),
    NOT_HDF5.format("fifo.h5"),
    "== an unwritable location",
    CANNOT.format("/proc/videz5-bad.h5", "No such file or directory"), LOOKUP.format("v"),
    CANNOT.format("notes.txt/x.h5", "Not a directory"),
    "== an empty file name",
    CANNOT.format("", "No such file or directory"), LOOKUP.format("v"),
    CANNOT.format("", "No such file or directory"),
    "== NUL inside the given lengths",
    "== unknown, stale, doubly closed and mixed-up handles",
    "== empty paths and empty path components",
    LOOKUP.format(""), LOOKUP.format("b"), LOOKUP.format(""), LOOKUP.format(""), LOOKUP.format("x"),
    *RECORD, *TITLES,
    "== a dataset name that holds a group, a group path through a dataset",
    "Cannot overwrite existing dataset g!", "existing object g is not a dataset",
    LOOKUP.format("x"),
    *RECORD, NO_TITLES,
    "== string lengths below 1",
    "INVALID STRING LENGTH IN ftoc_h5dump_data_( text/w, 0 )",
    "INVALID STRING LENGTH IN ftoc_h5dump_data_( text/w, -2147483648 )",
    "INVALID STRING LENGTH IN ftoc_h5read_data_( text/w, -1 )",
    "== sizes that cannot describe the array",
    "INVALID SIZES IN ftoc_h5dump_data_( huge, 4294967295, 0, 0 ) OF 8 BYTES EACH",
    "INVALID SIZES IN ftoc_h5dump_data_( huge, 100000, 100000, 0 ) OF 8 BYTES EACH",
    "INVALID SIZES IN ftoc_h5dump_data_( huge, 4294967295, 4294967295, 4294967295 ) OF 4 BYTES EACH",
    "INVALID SIZES IN ftoc_h5dump_data_( huge, 2, 0, 0 ) OF 2147483647 BYTES EACH",
    "INVALID SIZES IN ftoc_printh5_double_( huge, 100000, 100000 )",
    "INVALID SIZES IN ftoc_printh5_int_notitle_( huge, 4294967295, 1 )",
    "INVALID SIZES IN ftoc_h5dump_data_( huge, 4294967295, 0, 0 ) OF 8 BYTES EACH",
    "== zero sizes and titles of length 0",
    "== values HDF5 cannot convert",
    "Cannot overwrite existing dataset w!", "type of existing dataset is string of 8 bytes and new type is double",
    "== done")

NOTES = b"results of a week of computing\n"


def run(exe, d, *args):
    env = dict(os.environ, GFORTRAN_UNBUFFERED_PRECONNECTED="y")
    # A FIFO opened the wrong way would block: never wait for good.
    return subprocess.run([exe, *args], cwd=d, env=env, capture_output=True, timeout=120)


def string_bytes(d):
    t = d.id.get_type()
    out = np.empty(d.shape, dtype=f"S{t.get_size()}")
    d.id.read(h5py.h5s.ALL, h5py.h5s.ALL, out, mtype=t)
    return list(out)


def check_files(d):
    expect(sorted(os.listdir(d)) == ["adir", "damaged.h5", "fifo.h5", "keep.h5", "notes.txt", "nul.h5"],
           f"files: {sorted(os.listdir(d))}")
    expect(os.listdir(os.path.join(d, "adir")) == [], "something landed in the directory")
    expect(not os.path.exists("/proc/videz5-bad.h5"), "a file under /proc")
    with open(os.path.join(d, "notes.txt"), "rb") as f:
        expect(f.read() == NOTES, "notes.txt changed")
    with open(os.path.join(d, "damaged.h5"), "rb") as f:
        expect(f.read() == DAMAGED, "damaged.h5 changed")
    # The format readers see: HDF5's original superblock (version 0) and no
    # driver information block, whatever the library writes through.
    with open(os.path.join(d, "keep.h5"), "rb") as f:
        head = f.read(56)
    expect(head[:8] == b"\x89HDF\r\n\x1a\n" and head[8] == 0, "superblock version 0")
    expect(head[48:56] == b"\xff" * 8, "no driver information block")
    t = (np.arange(1, 13) * 0.5).reshape(3, 4)
    with h5py.File(os.path.join(d, "keep.h5"), "r") as f:
        # Only what the valid calls made: "a" is the group before an empty component.
        expect(sorted(f.keys()) == ["a", "fields", "g", "text", "untitled", "zero"], f"top level: {sorted(f)}")
        expect(list(f["a"].keys()) == [] and list(f["g"].keys()) == [], "groups a or g not empty")
        expect(list(f["fields"].keys()) == ["t"] and list(f["text"].keys()) == ["w"], "fields or text changed")
        expect(np.array_equal(f["fields/t"][()], t), "fields/t changed")
        expect(f["text/w"].dtype.kind == "S" and string_bytes(f["text/w"]) == [b"first   ", b"second  "],
               "text/w changed")
        expect(f["zero"].shape == (1,) and f["zero"][0] == 0.5, "sizes 0, 0, 0: one element")
        for key in ("title", "xtitle", "ytitle"):
            ds = f["untitled/" + key]
            expect(ds.id.get_type().get_size() == 1 and ds[0] == b"", f"empty {key}")
        expect(np.array_equal(f["untitled/data"][()], t), "untitled/data")
    with h5py.File(os.path.join(d, "nul.h5"), "r") as f:
        expect(sorted(f.keys()) == ["p", "v"], f"nul.h5: {sorted(f)}")
        expect(np.array_equal(f["v"][()], t), "nul.h5/v")
        expect(f["p/title"][0] == b"ab" and f["p/xtitle"][0] == b"" and f["p/ytitle"][0] == b"y",
               "titles cut at their NUL")


ABORTS = {
    "dump_code_minus1": lines("before"),
    "dump_code_huge": lines("before"),
    "read_code_minus1": lines("before", "ABORT"),
    "read_empty_name": lines("before", "NONEXISTENT FILE IN open_h5_file(  )", "ABORTING"),
}


def main():
    global DAMAGED
    exe, abort_exe = (os.path.abspath(p) for p in sys.argv[1:3])
    with tempfile.TemporaryDirectory(prefix="videz5-bad-") as d:
        with open(os.path.join(d, "notes.txt"), "wb") as f:
            f.write(NOTES)
        os.mkdir(os.path.join(d, "adir"))
        os.mkfifo(os.path.join(d, "fifo.h5"))
        whole = os.path.join(d, "whole.h5")
        with h5py.File(whole, "w") as f:
            f["a"] = np.ones(100)
        with open(whole, "rb") as f:
            DAMAGED = f.read()[:200]
        os.remove(whole)
        with open(os.path.join(d, "damaged.h5"), "wb") as f:
            f.write(DAMAGED)

        r = run(exe, d)
        out = r.stdout.decode()
        expect(r.returncode == 0, f"exit status {r.returncode}")
        expect(out == EXPECTED, "standard output")
        if out != EXPECTED:
            import difflib
            print("".join(difflib.unified_diff(EXPECTED.splitlines(True), out.splitlines(True), "expected", "got")))
            print("stderr (end):\n" + r.stderr.decode()[-3000:])
        check_files(d)

    for mode, expected in ABORTS.items():
        with tempfile.TemporaryDirectory(prefix="videz5-bad-abort-") as d:
            r = run(abort_exe, d, mode)
            expect(r.returncode == -signal.SIGABRT, f"{mode}: exit status {r.returncode}")
            expect(r.stdout.decode() == expected, f"{mode}: standard output {r.stdout.decode()!r}")
            expect(os.listdir(d) == [], f"{mode}: files {os.listdir(d)}")

    if failures:
        print("\n".join("FAIL: " + f for f in failures))
        return 1
    print("bad inputs: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
