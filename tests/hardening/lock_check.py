#!/usr/bin/python3
"""A viewer holds the results file open (a real second process, through h5py,
which takes HDF5's file lock) while a Fortran program writes and reads it: the
library must wait the lock out and lose nothing; when the lock outlasts its
patience it must say so in one line and leave the file alone.
Usage: lock_check.py EXECUTABLE"""
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import expect, finish, fortran, lines, program_env, run  # noqa: E402

SEED, A = [1.0, 2.0, 3.0], fortran(5, 4, scale=0.5)
# (mode, seconds held, the holder's mode, standard output). Held by a writer,
# even the read-only opens of the checked read and the shape query must wait.
CASES = [("write", 2.0, "r", lines("== dumps while the file is held", "== done")),
         ("read", 2.0, "r+", lines("== reads while the file is held", "== done")),
         ("giveup", None, "r+", lines("== a dump and a checked read while the file stays held",
                                      "FILE LOCKED IN open_h5_file( held.h5 ), GAVE UP AFTER 10 s",
                                      "FILE LOCKED IN ftoc_h5read_data_checked_( held.h5 ), GAVE UP AFTER 10 s",
                                      "== done"))]


def opens(path, mode):
    try:
        h5py.File(path, mode).close()
        return True
    except OSError:
        return False


def hold(path, mode):
    """A second process with the file open until its stdin closes: read-only (a
    viewer, which lets other readers in) or read-write (a writer, which locks out all)."""
    proc = subprocess.Popen([sys.executable, "-c", "import sys, h5py; f = h5py.File(*sys.argv[1:3]); "
                             "print('held', flush=True); sys.stdin.read(); f.close()", path, mode],
                            env=program_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    ready = proc.stdout.readline()
    expect(ready == b"held\n", f"viewer did not start: {ready!r}")
    # The test means nothing if HDF5 does not lock here (file system, settings).
    expect(not opens(path, "r+"), "the viewer's lock is not in effect: a read-write open succeeded")
    return proc


def run_held(exe, mode, d, seconds, holder):
    """Runs the program while a holder keeps held.h5 for `seconds` (None: until the program ends)."""
    viewer = hold(os.path.join(d, "held.h5"), holder)
    program = subprocess.Popen([exe, mode], cwd=d, env=program_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if seconds is not None:
        time.sleep(seconds)
        # Still in its first call: it is waiting for the lock, not failing at once.
        expect(program.poll() is None, f"{mode}: the program did not wait for the lock")
        viewer.stdin.close()
    out, err = program.communicate(timeout=60)
    viewer.stdin.close()
    viewer.wait(timeout=30)
    expect(program.returncode == 0, f"{mode}: exit status {program.returncode}; stderr: {err.decode()[-2000:]}")
    # A call that gave up stops at its line: HDF5 has nothing to report after it.
    expect(b"HDF5-DIAG" not in err, f"{mode}: HDF5 reported errors: {err.decode()[:2000]}")
    return out.decode()


def main():
    exe = os.path.abspath(sys.argv[1])
    os.environ.pop("HDF5_USE_FILE_LOCKING", None)
    with tempfile.TemporaryDirectory(prefix="videz5-lock-") as d:
        held, damaged, newest = (Path(d, name) for name in ("held.h5", "damaged.h5", "newest.h5"))
        with h5py.File(held, "w") as f:
            f["seed"] = SEED
        for mode, seconds, holder, expected in CASES:
            before = held.read_bytes()
            out = run_held(exe, mode, d, seconds, holder)
            expect(out == expected, f"{mode}: standard output {out!r}")
        expect(held.read_bytes() == before, "the file changed although the open gave up")
        with h5py.File(held, "r") as f:
            for path, value in {"seed": SEED, "run/a": A, "run/k": np.arange(10, 70, 10), "run/plot/data": A,
                                "run/plot/title": [b"held"]}.items():
                expect(path in f and np.array_equal(f[path][()], value), f"{path} lost or changed")
            expect(isinstance(f.get("run/handles"), h5py.Group), "group made through handles lost")

        # An HDF5 file that fails to open for another reason is not waited for:
        # taken for a lock, it would end in the give-up line.
        damaged.write_bytes(before[:200])
        out = run([exe, "damaged"], d, timeout=60).stdout.decode()
        # The cause in HDF5's words; its figures depend on how h5py laid the file out.
        expect(re.fullmatch(r"== a damaged HDF5 file fails at once\n"
                            r"CANNOT OPEN FILE IN open_h5_file\( damaged\.h5 \): truncated file: eof = 200, .*\n"
                            r"== done\n", out) is not None, f"damaged: standard output {out!r}")
        expect(damaged.read_bytes() == before[:200], "damaged file changed")

        # A writer of HDF5's newest format killed while it held the file: the
        # flags it left say "open for writing", which HDF5 refuses until
        # h5clear -s; the library opens it as h5clear would.
        with h5py.File(newest, "w", libver="latest") as f:
            f["seed"] = SEED
        killed = hold(str(newest), "r+")
        killed.kill()
        killed.wait(timeout=30)
        expect(not opens(newest, "r"), "the killed writer left no flags: the case is not tested")
        out = run([exe, "newest"], d, timeout=60).stdout.decode()
        expect(out == lines("== a file in the newest format that a killed writer left flagged", "== done"),
               f"newest: standard output {out!r}")
        with h5py.File(newest, "r") as f:
            expect(np.array_equal(f["seed"][()], SEED) and np.array_equal(f["run/a"][()], A), "newest.h5 changed")
    return finish("locked files")


if __name__ == "__main__":
    sys.exit(main())
