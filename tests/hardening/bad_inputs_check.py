#!/usr/bin/python3
"""Runs the bad-input program among a set of awkward files, compares standard
output byte for byte and checks with h5py that nothing was lost, nothing was
touched that should not be, and no junk was left; then runs each input that
ends the process in a child of its own. Usage: bad_inputs_check.py BAD_INPUTS"""
import os
import signal
import sys
import tempfile
from pathlib import Path

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import expect, expect_output, finish, fortran, lines, run, stored_strings  # noqa: E402

NOTES = b"results of a week of computing\n"
# Inputs that end the process: exit status (a signal negative), standard output, files left.
ABORTS = {**{f"dump_code_{c}": (-signal.SIGABRT, lines("before"), []) for c in (-1, 3, 2147483647)},
          **{f"read_code_{c}": (-signal.SIGABRT, lines("before", "ABORT"), []) for c in (-1, 7)},
          "read_empty_name": (-signal.SIGABRT, lines("before", "NONEXISTENT FILE IN open_h5_file(  )", "ABORTING"), []),
          "read_missing": (-signal.SIGABRT, lines("before", "NONEXISTENT FILE IN open_h5_file( missing.h5 )",
                                                  "ABORTING"), []),
          # A module read refused without status= ends the program as a READ without IOSTAT= does.
          "module_read": (1, lines("before", "SHAPE MISMATCH IN ftoc_h5read_data_checked_( t ): stored 4 x 3, "
                                   "buffer 12"), ["there.h5"]),
          # So do a refused attribute read and a listing that failed.
          "module_read_attr": (1, lines("before", "NO ATTRIBUTE IN ftoc_h5read_attr_( t, nothing )"), ["there.h5"]),
          "module_list": (1, lines("before", "NO GROUP IN ftoc_h5list_( t )"), ["there.h5"])}


def check_files(d, damaged):
    expect(sorted(os.listdir(d)) == ["adir", "damaged.h5", "fifo.h5", "keep.h5", "notes.txt", "nul.h5"],
           f"files: {sorted(os.listdir(d))}")
    expect(os.listdir(os.path.join(d, "adir")) == [], "something landed in the directory")
    expect(not os.path.exists("/proc/videz5-bad.h5"), "a file under /proc")
    expect(Path(d, "notes.txt").read_bytes() == NOTES, "notes.txt changed")
    expect(Path(d, "damaged.h5").read_bytes() == damaged, "damaged.h5 changed")
    # The format readers see: HDF5's original superblock (version 0) and no
    # driver information block, whatever the library writes through.
    with open(os.path.join(d, "keep.h5"), "rb") as f:
        head = f.read(56)  # the whole file may be huge
    expect(head[:8] == b"\x89HDF\r\n\x1a\n" and head[8] == 0, "superblock version 0")
    expect(head[48:56] == b"\xff" * 8, "no driver information block")
    t = fortran(4, 3, scale=0.5)
    with h5py.File(os.path.join(d, "keep.h5"), "r") as f:
        # Only what the valid calls made: "a" is the group before an empty component.
        expect(sorted(f.keys()) == ["a", "fields", "g", "text", "untitled", "zero"], f"top level: {sorted(f)}")
        expect(list(f["a"].keys()) == [] and list(f["g"].keys()) == [], "groups a or g not empty")
        expect(list(f["fields"].keys()) == ["t"] and list(f["text"].keys()) == ["w"], "fields or text changed")
        expect(np.array_equal(f["fields/t"][()], t), "fields/t changed")
        expect(f["text/w"].dtype.kind == "S" and list(stored_strings(f["text/w"])) == [b"first   ", b"second  "],
               "text/w changed")
        expect(f["zero"].shape == (1,) and f["zero"][0] == 0.5, "sizes 0, 0, 0: one element")
        for key in ("title", "xtitle", "ytitle"):
            ds = f["untitled/" + key]
            expect(ds.id.get_type().get_size() == 1 and ds[0] == b"", f"empty {key}")
        expect(np.array_equal(f["untitled/data"][()], t), "untitled/data")
        # The largest attribute went in, nothing else of the refused ones.
        expect(list(f["g"].attrs.keys()) == ["big"] and f["g"].attrs["big"].shape == (8100,)
               and not f["fields/t"].attrs.keys(), "attributes of g or fields/t")
    with h5py.File(os.path.join(d, "nul.h5"), "r") as f:
        expect(sorted(f.keys()) == ["p", "v"], f"nul.h5: {sorted(f)}")
        expect(np.array_equal(f["v"][()], t), "nul.h5/v")
        expect(f["p/title"][0] == b"ab" and f["p/xtitle"][0] == b"" and f["p/ytitle"][0] == b"y",
               "titles cut at their NUL")


def main():
    exe = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="videz5-bad-") as d:
        Path(d, "notes.txt").write_bytes(NOTES)
        os.mkdir(os.path.join(d, "adir"))
        os.mkfifo(os.path.join(d, "fifo.h5"))
        with h5py.File(os.path.join(d, "damaged.h5"), "w") as f:
            f["a"] = np.ones(100)
        os.truncate(os.path.join(d, "damaged.h5"), 200)
        damaged = Path(d, "damaged.h5").read_bytes()
        # A FIFO opened the wrong way would block: never wait for good.
        r = run([exe], d, timeout=120)
        expect(r.returncode == 0, f"exit status {r.returncode}")
        expect_output(r.stdout.decode(), Path(__file__).with_name("bad_inputs.out").read_text())
        check_files(d, damaged)

    for mode, (status, expected, files) in ABORTS.items():
        with tempfile.TemporaryDirectory(prefix="videz5-bad-abort-") as d:
            r = run([exe, mode], d, timeout=120)
            expect(r.returncode == status, f"{mode}: exit status {r.returncode}")
            expect(r.stdout.decode() == expected, f"{mode}: standard output {r.stdout.decode()!r}")
            expect(os.listdir(d) == files, f"{mode}: files {os.listdir(d)}")
    return finish("bad inputs")


if __name__ == "__main__":
    sys.exit(main())
