"""What the test checkers share: failures collected rather than thrown, running
a test program as a user's job runs it, standard output compared byte for
byte, and what h5py (an independent reader) finds in a file."""
import difflib
import os
import subprocess

import h5py
import numpy as np

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)


def lines(*ls):
    return "".join(line + "\n" for line in ls)


def expect_output(got, expected, what="standard output"):
    if got != expected:
        diff = difflib.unified_diff(expected.splitlines(True), got.splitlines(True), "expected", "got")
        failures.append(f"{what}:\n" + "".join(diff))


def program_env(**extra):
    # Fortran's own output is buffered apart from C's; unbuffered keeps the
    # order. Locking switched off from outside would make some tests pointless.
    env = dict(os.environ, GFORTRAN_UNBUFFERED_PRECONNECTED="y", **extra)
    env.pop("HDF5_USE_FILE_LOCKING", None)
    return env


def run(command, cwd, timeout=300):
    return subprocess.run(command, cwd=cwd, env=program_env(), capture_output=True, timeout=timeout)


def fortran(n1, n2=None, n3=None, scale=1.0):
    """Values 1..N (times scale) laid out as a Fortran array of the given sizes,
    seen in HDF5's reversed order."""
    sizes = [n for n in (n1, n2, n3) if n]
    return (np.arange(1, int(np.prod(sizes)) + 1) * scale).reshape(tuple(reversed(sizes)))


def stored_strings(d):
    """A fixed-length string dataset's stored bytes, padding included (h5py's
    own read would turn space padding into null padding)."""
    t = d.id.get_type()
    out = np.empty(d.shape, dtype=f"S{t.get_size()}")
    d.id.read(h5py.h5s.ALL, h5py.h5s.ALL, out, mtype=t)
    return out


def expect_dataset(f, path, shape, kind, values=None, strsize=None, pad=None):
    """kind: 'f8', 'i4' or 'S' (fixed-length string of strsize bytes)."""
    if path not in f or not isinstance(f[path], h5py.Dataset):
        failures.append(f"{path}: no dataset")
        return
    d = f[path]
    expect(d.shape == shape, f"{path}: shape {d.shape}, expected {shape}")
    t = d.id.get_type()
    if kind == "S":
        expect(isinstance(t, h5py.h5t.TypeStringID) and not t.is_variable_str(), f"{path}: not a fixed string")
        expect(t.get_size() == strsize, f"{path}: string size {t.get_size()}, expected {strsize}")
        expect(pad is None or t.get_strpad() == pad, f"{path}: string padding {t.get_strpad()}, expected {pad}")
    else:
        expect(d.dtype == np.dtype(kind), f"{path}: type {d.dtype}, expected {kind}")
    if values is not None:
        got = stored_strings(d) if kind == "S" else d[()]
        expect(np.array_equal(got, np.asarray(values).reshape(shape)), f"{path}: values {got!r}")


def finish(name):
    """The checker's exit status, after saying what failed."""
    if failures:
        print("\n".join("FAIL: " + f for f in failures))
        return 1
    print(f"{name}: ok")
    return 0
