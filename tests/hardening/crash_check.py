"""Checks a file left by a killed crash_writer: it must open, and every call
that had returned must have left its data intact. Mirrors crash_writer.f90."""
import os

import h5py
import numpy as np


def _fortran(values, *sizes):
    """A Fortran array filled in memory order, seen in HDF5's reversed order."""
    return np.asarray(values).reshape(tuple(reversed(sizes)))


def expected(c):
    """{path: value} written by call c; a value of None means "a group"."""
    op = (c - 1) % 6
    if op == 0:
        i = np.arange(1, 73)
        return {f"new/g{(c - 1) // 60}/d{c}": _fortran(c + i / 1000.0, 12, 6)}
    if op == 1:
        i = np.arange(1, 20001)
        return {"fixed/field": _fortran(c + i / 1e6, 200, 100)}
    i16 = np.arange(1, 17)
    x, y = c + 0.5 * i16, c - 0.5 * i16
    if op == 2:
        r = f"plots/p{((c - 1) // 6) % 5}"
        i = np.arange(1, 193)
        return {r + "/data": _fortran(c + i / 1000.0, 16, 12), r + "/Y": y[:12], r + "/X": x,
                r + "/title": np.array([f"step{c:06d}".encode()]),
                r + "/xtitle": np.array([b"x"]), r + "/ytitle": np.array([b"y"])}
    if op == 3:
        return {f"text/t{c}": np.array([f"c{c}-w{k}".ljust(12).encode() for k in range(1, 5)])}
    if op == 4:
        r = f"iplots/q{((c - 1) // 6) % 3}"
        return {r + "/data": c * 10 + np.arange(1, 11), r + "/Y": y[:10], r + "/X": x[:1],
                r + "/title": np.array([b"counts"]), r + "/xtitle": np.array([b"i"]),
                r + "/ytitle": np.array([b"n"])}
    return {f"held/h{c}": None}


def _read(f, path):
    obj = f[path]
    if not isinstance(obj, h5py.Dataset):
        return None
    t = obj.id.get_type()
    if isinstance(t, h5py.h5t.TypeStringID):
        # The stored bytes, padding included.
        out = np.empty(obj.shape, dtype=f"S{t.get_size()}")
        obj.id.read(h5py.h5s.ALL, h5py.h5s.ALL, out, mtype=t)
        return out
    return obj[()]


def _same(got, want):
    if want is None:
        return got is None
    return got is not None and got.shape == want.shape and np.array_equal(got, want)


def _torn(got, old, new):
    """Part old, part new: an overwrite in place that a kill stopped midway."""
    if got is None or old is None or new is None or got.shape != old.shape or old.shape != new.shape:
        return False
    return bool(np.all((got == old) | (got == new)))


def check(path, first, last_returned):
    """Returns (readable, intact, lost, torn, damage): readable is None when
    there is no file or an empty one (nothing had been stored yet); intact
    counts the returned calls whose data is all there; lost lists the others;
    torn lists arrays that the unfinished call was overwriting in place and
    left part old, part new; damage lists objects that cannot be read."""
    calls = list(range(first, last_returned + 1))
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        return None, 0, calls, [], []
    # The latest value of every path among the returned calls, and what the
    # call in flight may have put there instead.
    latest, owner = {}, {}
    for c in calls:
        for p, v in expected(c).items():
            latest[p], owner[p] = v, c
    in_flight = expected(last_returned + 1)
    try:
        f = h5py.File(path, "r")
    except Exception:
        return False, 0, calls, [], []
    lost, torn, damage = set(), [], []
    with f:
        for p, want in latest.items():
            try:
                got = _read(f, p)
            except Exception:
                lost.add(owner[p])
                continue
            if _same(got, want) or (p in in_flight and _same(got, in_flight[p])):
                continue
            if p in in_flight and _torn(got, want, in_flight[p]):
                torn.append(p)
            else:
                lost.add(owner[p])

        # Everything else in the file must be readable too, whatever the kill hit.
        def visit(name, obj):
            try:
                if isinstance(obj, h5py.Dataset):
                    obj[()]
            except Exception:
                damage.append(name)
        try:
            f.visititems(visit)
        except Exception as e:
            damage.append(f"walk: {e}")
    return True, len(calls) - len(lost), sorted(lost), torn, sorted(set(damage))


def main():
    """crash_check.py FILE FIRST LAST: prints the result of check() as JSON;
    run apart, so that a reader that crashes on a damaged file is an answer."""
    import json
    import sys
    readable, intact, lost, torn, damage = check(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
    print(json.dumps([readable, intact, lost, torn, damage]))


if __name__ == "__main__":
    main()
