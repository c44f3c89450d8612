#!/usr/bin/python3
"""Writes that start failing, as on a full disk, at a chosen call
(failing_closes.f90): each failure is told once, in its line, by the call
that met it (a group handle's close when that is what closes the file); the
program ends normally, with nothing of HDF5's left open to bring it down.
And a file system without locks (flock fails with ENOSYS or ENOLCK): said
once per file, with what it takes away.
Usage: failures_check.py FAILING_CLOSES SHIM"""
import os
import subprocess
import sys
import tempfile

import h5py

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import expect, expect_output, finish, lines, program_env  # noqa: E402

PROGRAM, SHIM = (os.path.abspath(p) for p in sys.argv[1:3])
FULL = "file write failed: errno = 28, error message = 'No space left on device'"
CASES = [("group", "0", lines("== writes fail from here", f"ERROR: H5Fclose(): Failed to write file c.h5 ({FULL})!",
                              "== writes work again", "== done")),
         ("overwrite", "4096", lines("== writes fail from here", "ERROR: H5Dwrite(): Failed to overwrite dataset x!",
                                     "== writes work again", "== done"))]

NO_LOCKS = ("NO FILE LOCKS IN open_h5_file( {} ): its file system offers none, so nothing keeps other processes "
            "from writing it at the same time as this one")
for errno in ("38", "37"):  # ENOSYS, ENOLCK
    CASES.append(("lockless", errno, lines(NO_LOCKS.format("l.h5"), NO_LOCKS.format("m.h5"), NO_LOCKS.format("e.h5"),
                                           "== done")))

for mode, size, expected in CASES:
    with tempfile.TemporaryDirectory(prefix="videz5-failures-") as d:
        h5py.File(os.path.join(d, "e.h5"), "w").close()
        shim = dict(VIDEZ5_NO_FLOCK=size) if mode == "lockless" else dict(VIDEZ5_FAIL_WHEN="fail-now",
                                                                          VIDEZ5_FAIL_SIZE=size)
        run = subprocess.run([PROGRAM, mode], cwd=d, capture_output=True, timeout=60,
                             env=program_env(LD_PRELOAD=SHIM, **shim))
        expect(run.returncode == 0, f"{mode}: exit status {run.returncode}")
        expect_output(run.stdout.decode(), expected, f"{mode}: standard output")
sys.exit(finish("failing writes"))
