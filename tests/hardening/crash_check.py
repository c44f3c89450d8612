"""Checks a file left by a killed crash_writer: it must open, and every call
that had returned must have left its data intact. Mirrors crash_writer.f90."""
import os
import subprocess

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
    return isinstance(got, np.ndarray) and got.shape == want.shape and np.array_equal(got, want)


def _torn(got, old, new):
    """Part old, part new: an overwrite in place that a kill stopped midway."""
    if not isinstance(got, np.ndarray) or old is None or new is None or got.shape != old.shape \
            or old.shape != new.shape:
        return False
    return bool(np.all((got == old) | (got == new)))


def _unit(path):
    """What must change together: a plot record's datasets, or one array."""
    parts = path.split("/")
    return "/".join(parts[:2]) if parts[0] in ("plots", "iplots") else path


def _listings(f, damage):
    """Every group's listing, as a reader lists it: {group path: [names]}."""
    groups = {"": list(f.keys())}

    def visit(name, obj):
        if isinstance(obj, h5py.Group):
            groups[name] = list(obj.keys())
    f.visititems(visit)
    for g, names in groups.items():
        if len(names) != len(set(names)):
            twice = sorted({n for n in names if names.count(n) > 1})
            damage.append(f"listed twice in /{g}: {twice[:4]}")
    return groups


def check(path, first, last_returned):
    """Returns (readable, intact, lost, torn, damage): readable is None when
    there is no file or an empty one (nothing had been stored yet); intact
    counts the returned calls whose data is all there; lost lists the others
    (a record or array that mixes two calls counts as lost); torn lists arrays
    that the unfinished call left part old, part new; damage lists what else
    is wrong: unreadable objects, names listed twice, h5dump failing."""
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
        listed = _listings(f, damage)
        # Whole or not at all: every path of a unit holds the latest returned
        # call's value, or every one the unfinished call's.
        units = {}
        for p in latest:
            units.setdefault(_unit(p), []).append(p)
        for unit, paths in units.items():
            # The calls whose values every path of the unit holds (a title the
            # same in both calls fits either).
            fits = {"latest", "in flight"}
            for p in paths:
                parent, _, name = p.rpartition("/")
                here = set()
                if name in listed.get(parent, []):
                    try:
                        got = _read(f, p)
                    except Exception:
                        got = object()  # matches nothing
                    if _same(got, latest[p]):
                        here.add("latest")
                    if p in in_flight and _same(got, in_flight[p]):
                        here.add("in flight")
                    if not here and p in in_flight and _torn(got, latest[p], in_flight[p]):
                        torn.append(p)
                fits &= here
            if not fits:
                lost.update(owner[p] for p in paths)

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
    # An independent reader of every object and value.
    dump = subprocess.run(["h5dump", path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if dump.returncode != 0:
        damage.append("h5dump: " + dump.stderr.decode(errors="replace").strip()[-200:])
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
