#!/usr/bin/python3
"""One file, several names. A kill at every write of an overwrite in place
made through one name (a symbolic link, a hard link, the file's own name),
more work through another (the real name; the new name after a rename; a
copy), then a call through the first name: nothing that returned is lost, and
nothing the later work wrote is undone. Also another program that changes,
after the kill, the very bytes the killed call was changing: the library
refuses to undo over them, says so in one line, and leaves the file and its
journal alone; videz5-recover says the same, and with --discard drops the
journal. videz5-recover puts back a killed call's change for other readers.
Usage: names_check.py NAMES_WRITER SHIM RECOVER"""
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import expect, finish, program_env  # noqa: E402

WRITER, SHIM, RECOVER = (os.path.abspath(p) for p in sys.argv[1:4])


def call(d, name, path=None, value=None, **shim):
    args = [WRITER, name] + ([path, str(value)] if path else [])
    env = program_env(LD_PRELOAD=SHIM, **shim) if shim else program_env()
    return subprocess.run(args, cwd=d, env=env, capture_output=True, timeout=60)


def values(path, name):
    """{dataset: its distinct values} of the file; None when it does not open."""
    try:
        with h5py.File(path, "r") as f:
            return {k: sorted(set(np.asarray(f[k][()]).ravel().tolist())) for k in f}
    except Exception:
        return None


def start(d):
    """b/run.h5 with x (1.0) and keep (5.0), a/ and c/ beside it."""
    for sub in "abc":
        os.mkdir(os.path.join(d, sub))
    for path, value in (("x", 1), ("keep", 5)):
        assert call(d, "b/run.h5", path, value).returncode == 0


def kill_points(link):
    with tempfile.TemporaryDirectory(prefix="videz5-names-") as d:
        start(d)
        killed = link(d)
        log = os.path.join(d, "log")
        assert call(d, killed, "x", 2, VIDEZ5_CRASH_LOG=log).returncode == 0
        with open(log) as f:
            return sum(1 for line in f if len(line.split()) == 4)


# (what, how the first name is made: returns it, what happens after the kill:
# returns the later work's name, the name the last call goes through, and the
# files to check: {file: values expected})
def symbolic(d):
    os.symlink("../b/run.h5", os.path.join(d, "a/run.h5"))
    return "a/run.h5"


def hard(d):
    os.link(os.path.join(d, "b/run.h5"), os.path.join(d, "a/run.h5"))
    return "a/run.h5"


def own(d):
    return "b/run.h5"


def renamed(d):
    os.rename(os.path.join(d, "b/run.h5"), os.path.join(d, "c/moved.h5"))
    return "c/moved.h5", "c/moved.h5"


def copied(d):
    shutil.copy(os.path.join(d, "b/run.h5"), os.path.join(d, "c/copy.h5"))
    return "c/copy.h5", "b/run.h5"


CASES = [("a symbolic link", symbolic, lambda d: ("b/run.h5", "a/run.h5")),
         ("a hard link", hard, lambda d: ("b/run.h5", "a/run.h5")),
         ("a rename after the kill", own, renamed),
         ("a copy after the kill", own, copied)]


def main():
    for what, link, after in CASES:
        kills = kill_points(link)
        expect(kills >= 4, f"{what}: only {kills} writes in an overwrite")
        for k in range(1, kills + 1):
            with tempfile.TemporaryDirectory(prefix="videz5-names-") as d:
                start(d)
                first = link(d)
                killed = call(d, first, "x", 2, VIDEZ5_CRASH_AT=str(k))
                expect(killed.returncode != 0, f"{what}, write {k}: not killed")
                later, last = after(d)
                for path, value in (("y", 3), ("x", 4)):
                    run = call(d, later, path, value)
                    expect(run.returncode == 0 and run.stdout == b"returned\n",
                           f"{what}, write {k}: {later} {path}: {run.stdout!r}")
                run = call(d, last)
                expect(run.returncode == 0 and run.stdout == b"returned\n", f"{what}, write {k}: {last}: {run.stdout!r}")
                got = values(os.path.join(d, later), later)
                expect(got == {"keep": [5.0], "x": [4.0], "y": [3.0]}, f"{what}, write {k}: {later} holds {got}")
                if link is own and after is copied:  # the original: the killed call whole or not at all
                    got = values(os.path.join(d, last), last)
                    expect(got in ({"keep": [5.0], "x": [1.0]}, {"keep": [5.0], "x": [2.0]}),
                           f"{what}, write {k}: {last} holds {got}")
                dump = subprocess.run(["h5dump", "-b", "-o", os.devnull, later], cwd=d, capture_output=True)
                expect(dump.returncode == 0, f"{what}, write {k}: h5dump {later}: {dump.stderr[-200:]!r}")

    # Another program writes where the killed call was writing, once the
    # journal is there (its last write but one: the file's bytes are half new).
    kills = kill_points(own)
    with tempfile.TemporaryDirectory(prefix="videz5-names-") as d:
        start(d)
        with h5py.File(os.path.join(d, "b/run.h5"), "r") as f:
            offset = f["x"].id.get_offset()
        call(d, "b/run.h5", "x", 2, VIDEZ5_CRASH_AT=str(kills - 1))
        fd = os.open(os.path.join(d, "b/run.h5"), os.O_RDWR)
        os.pwrite(fd, np.full(16, 9.0).tobytes(), offset + 4096)
        os.close(fd)
        before = open(os.path.join(d, "b/run.h5"), "rb").read()
        run = call(d, "b/run.h5")
        out = run.stdout.decode()
        expect(out.startswith("CANNOT OPEN FILE IN open_h5_file( b/run.h5 ): an unfinished change cannot be undone")
               and out.count("\n") == 2, f"another program's write: {out!r}")
        expect(open(os.path.join(d, "b/run.h5"), "rb").read() == before, "another program's write: the file changed")
        for args, status, said in (([], 1, "an unfinished change cannot be undone"),
                                   (["--discard"], 0, "journal dropped, the file kept as it is"),
                                   ([], 0, "nothing to undo")):
            run = subprocess.run([RECOVER, *args, "b/run.h5"], cwd=d, capture_output=True, text=True)
            expect(run.returncode == status and run.stdout.startswith("b/run.h5: " + said) and
                   run.stdout.count("\n") == 1, f"videz5-recover {args}: {run.returncode} {run.stdout!r}")
        run = call(d, "b/run.h5", "y", 3)
        expect(run.stdout == b"returned\n" and values(os.path.join(d, "b/run.h5"), "")["y"] == [3.0],
               f"after the journal was dropped: {run.stdout!r}")

    # A journal beside the file, as earlier builds kept them, held by another
    # process under its lock: nobody undoes it, and the call goes on.
    with tempfile.TemporaryDirectory(prefix="videz5-names-") as d:
        start(d)
        with open(os.path.join(d, "b/run.h5.videz5-journal"), "wb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            run = call(d, "b/run.h5", "x", 2)
        expect(run.returncode == 0 and run.stdout == b"returned\n", f"beside a held journal: {run.returncode} {run.stdout!r}")
        expect(values(os.path.join(d, "b/run.h5"), "") == {"keep": [5.0], "x": [2.0]}, "beside a held journal: not written")

    # For other readers: videz5-recover gives them what the library's next open would.
    with tempfile.TemporaryDirectory(prefix="videz5-names-") as d:
        start(d)
        call(d, "b/run.h5", "x", 2, VIDEZ5_CRASH_AT=str(kills - 1))
        run = subprocess.run([RECOVER, "b/run.h5"], cwd=d, capture_output=True, text=True)
        expect(run.returncode == 0 and run.stdout == "b/run.h5: the unfinished change of a killed call undone\n",
               f"videz5-recover: {run.returncode} {run.stdout!r}")
        got = values(os.path.join(d, "b/run.h5"), "")
        expect(got == {"keep": [5.0], "x": [1.0]}, f"videz5-recover: the file holds {got}")
    return finish("one file under several names")


if __name__ == "__main__":
    sys.exit(main())
