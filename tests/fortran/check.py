#!/usr/bin/python3
"""Runs one Fortran test program in a scratch directory, compares its standard
output byte for byte and checks the files it left with h5py, an independent
reader. Usage: check.py CASE EXECUTABLE"""
import os
import subprocess
import sys
import tempfile

import h5py
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from checks import (expect, expect_dataset, expect_output, expect_viewable, finish, fortran, run,  # noqa: E402
                    text_attr)


def expect_datasets(f, rows):
    """Rows of (path, shape, kind[, values[, string size[, padding]]])."""
    for row in rows:
        expect_dataset(f, *row)


def expect_files(d, *names):
    expect(sorted(os.listdir(d)) == sorted(names), f"files: {sorted(os.listdir(d))}")


def check_handles(d):
    expect_files(d, "empty.h5", "out.h5")
    with h5py.File(os.path.join(d, "out.h5"), "r") as f:
        for group in ("g", "g1/g2/g3/below/deeper", "a b ", "g/added", "still"):
            expect(isinstance(f.get(group), h5py.Group), f"group {group!r} missing")
        expect(sorted(f.keys()) == ["a b ", "data", "g", "g1", "still"], f"top level: {sorted(f.keys())}")
        expect_dataset(f, "data/v", (3,), "f8", [1, 2, 3])
    with h5py.File(os.path.join(d, "empty.h5"), "r") as f:
        expect(len(f.keys()) == 0, "replaced empty file is not empty")


def check_arrays(d):
    with h5py.File(os.path.join(d, "arrays.h5"), "r") as f:
        expect_datasets(f, [
            ("fields/t", (3, 4), "f8", -fortran(4, 3, scale=0.5)),  # Fortran t(4,3), overwritten with -t
            ("fields/cube", (2, 3, 4), "f8", fortran(4, 3, 2)),
            ("ints", (2, 3), "i4", fortran(3, 2, scale=10)),  # whole doubles went in, fractions did not
            ("text/words", (3,), "S", [b"alpha   ", b"beta    ", b"gamma   "], 8, h5py.h5t.STR_SPACEPAD),
            ("abs/path", (12,), "f8", np.arange(1, 13) * 0.5),
            ("shapes/zero_middle", (2, 4), "f8"),
            ("shapes/keeps_one", (1, 5), "f8"),
            ("shapes/all_zero", (1,), "f8", [0.5]),
            ("fields/c", (1,), "f8", [0.25])])
        expect(sorted(f.keys()) == ["abs", "fields", "ints", "shapes", "text"], f"top level: {sorted(f.keys())}")
        expect(sorted(f["fields"].keys()) == ["c", "cube", "t"], "a read created something")


def expect_record(f, r, data, y, x, titles=None, kind="f8", close=False, along="x"):
    """A plot record: data with its axes Y and X, the titles when given, and
    what viewers need (checks.expect_viewable). along: which title labels the
    one axis of 1-D data, that of x (xtitle, and ytitle then labels the
    values) or of y (ytitle)."""
    data = np.asarray(data)
    keys = ["X", "Y", "data", "plot"] + (["title", "xtitle", "ytitle"] if titles else [])
    expect(r in f and sorted(f[r].keys()) == keys, f"{r}: {sorted(f[r].keys()) if r in f else 'missing'}")
    expect_dataset(f, r + "/data", data.shape, kind, None if close else data)
    expect(not close or r + "/data" not in f or np.allclose(f[r + "/data"][()], data), f"{r}/data values")
    expect_datasets(f, [(r + "/Y", (len(y),), "f8", y), (r + "/X", (len(x),), "f8", x)])
    for key, text in zip(["title", "xtitle", "ytitle"], titles or []):
        # Null-terminated, an empty title its terminator alone.
        expect_dataset(f, f"{r}/{key}", (1,), "S", [text.encode()], max(len(text), 1), h5py.h5t.STR_NULLTERM)
    if r not in f:
        return
    expect(sorted(f[r].attrs.keys()) == ["default"], f"{r}: attributes {sorted(f[r].attrs.keys())}")
    labels = None
    if titles:
        labels = [titles[2], titles[1]] if data.ndim == 2 else [titles[1] if along == "x" else titles[2]]
    values = titles[2] if titles and data.ndim == 1 and along == "x" else None
    expect_viewable(f, r, labels, values)


def check_plots(d):
    x, y, t = np.arange(1, 7) * 0.5, -np.arange(1, 7.0), fortran(4, 3)
    expect_files(d, "plots.h5")
    with h5py.File(os.path.join(d, "plots.h5"), "r") as f:
        expect_record(f, "run1/temp", -t, y[:3], x[:4], ["Temperature", "x [m]", "y [m]"])  # rewritten untitled
        expect_record(f, "run1/counts", 10 * t, y[:3], x[:4], ["Tem", "x  ", ""], "i4")
        # Longer titles replaced their datasets; the rewrite with nx changed was refused.
        expect_record(f, "counts/both", t, y[:3], x[:4], ["longer", "xx", ""])
        # One count above 1: its axis values come from y, X is x(1) alone.
        for r, along in (("counts/ny_only", "y"), ("counts/nx_only", "x")):
            expect_record(f, r, np.arange(1, 6.0), y[:5], x[:1], ["n", "x", "y"], along=along)
        expect_record(f, "counts/none", [1.0], y[:1], x[:1], ["z", "x", "y"], along="y")


def check_module(d):
    expect_files(d, "module.h5", "notes.txt")  # neither reads nor queries create a file
    with open(os.path.join(d, "notes.txt")) as t:
        expect(t.read() == "not hdf5\n", "notes.txt changed")
    with h5py.File(os.path.join(d, "module.h5"), "r") as f:
        expect(sorted(f.keys()) == ["held", "int", "real", "text"], f"top level: {sorted(f.keys())}")
        expect(sorted(f["held"].keys()) == ["below", "k", "p", "s", "t"], f"held/: {sorted(f['held'].keys())}")
        expect(f["held/k"].attrs.get("units") == b"1" and f["held/s"].maxshape == (None,), "held: units, series")
        expect_record(f, "held/p", np.arange(1, 6.0), np.arange(1, 6.0), [1.0], ["t", "x", "y"])
        expect(sorted(f["real"].keys()) == ["cube", "every_other", "line", "t"], "real/: an empty array was written")
        expect_datasets(f, [
            ("real/t", (3, 4), "f8", -fortran(4, 3, scale=0.5)),
            ("real/line", (5,), "f8", np.arange(1, 6.0)),
            ("real/cube", (2, 3, 4), "f8", fortran(4, 3, 2)),
            # big(1:6:2, 2:4) of big(i,j) = i + 6(j-1): rows j = 2..4, columns i = 1, 3, 5.
            ("real/every_other", (3, 3), "f8", [[i + 6 * (j - 1) for i in (1, 3, 5)] for j in (2, 3, 4)]),
            ("int/k", (3,), "i4", [7, 8, 9]),
            ("int/k2", (3, 2), "i4", fortran(2, 3, scale=10)),
            ("text/words", (3,), "S", [b"alpha ", b"beta  ", b"gamma "], 6),
            ("text/grid", (2, 2), "S", [[b"a     ", b"bb    "], [b"ccc   ", b"dddd  "]], 6),
            ("held/t", (3, 4), "f8", fortran(4, 3, scale=0.5)),
            ("held/k", (3,), "i4", [7, 8, 9]),
            ("held/s", (2,), "f8", [0.5, 1.5]),
            ("held/below/v", (5,), "f8", np.arange(1, 6.0))])


def write_foreign(d):
    """A file as other programs write them, for the checked entries to look into."""
    with h5py.File(os.path.join(d, "foreign.h5"), "w") as f:
        f.update(rank4=np.zeros((2, 3, 4, 5)), scalar=2.5, empty=np.zeros((0,)),
                 i64=np.array([-2, 0, 5, 70000], dtype="i8"), i64big=np.array([1, 2**40, 3, 4], dtype="i8"))
        f.create_dataset("vlen", data=["abcd", "efgh"], dtype=h5py.string_dtype())


def check_checked_entries(d):
    expect_files(d, "checked.h5", "foreign.h5")
    with h5py.File(os.path.join(d, "foreign.h5"), "r") as f:
        expect(sorted(f.keys()) == ["empty", "i64", "i64big", "rank4", "scalar", "vlen"], "foreign.h5 changed")


def write_archived(d):
    """A results file nobody may write any more, in a directory the test may not write."""
    with h5py.File(os.path.join(d, "archived.h5"), "w") as f:
        f["results/t"] = [0.5, 1.5, 2.5]
    os.chmod(os.path.join(d, "archived.h5"), 0o444)
    os.mkdir(os.path.join(d, "readonly_dir"), 0o555)


def check_permissions(d):
    expect(os.listdir(os.path.join(d, "readonly_dir")) == [], "a file in the read-only directory")
    with h5py.File(os.path.join(d, "archived.h5"), "r") as f:
        expect(list(f.keys()) == ["results"] and list(f["results"].keys()) == ["t"], "archived.h5 changed")


def expect_image(path, kind, size=(640, 480)):
    """A PNG of that size showing a line in the cycle's first colour, or a filled colour map."""
    import matplotlib.image
    if not os.path.exists(path):
        return expect(False, f"{path}: no image")
    pixels = matplotlib.image.imread(path)
    expect(pixels.shape[1::-1] == size, f"{path}: {pixels.shape[1]} x {pixels.shape[0]}, expected {size}")
    rgb = np.round(pixels[..., :3].reshape(-1, 3) * 255).astype(int)
    inked = np.mean(np.any(rgb < 245, axis=1))
    if kind == "line":
        on_line = np.sum(np.all(np.abs(rgb - [0x1f, 0x77, 0xb4]) < 30, axis=1))
        expect(on_line > 200 and inked > 0.02, f"{path}: no line drawn ({on_line} line pixels, {inked:.3f} inked)")
    else:
        colours = len(np.unique(rgb, axis=0))
        expect(colours > 100 and inked > 0.4, f"{path}: no colour map ({colours} colours, {inked:.3f} inked)")


def check_module_plots(d):
    x, y, t = np.arange(1, 25) * 0.25, np.arange(1, 17) * 0.5, np.arange(1, 41) * 0.2
    field, counts = np.sin(x)[None, :] * np.cos(y / 2)[:, None], np.outer(np.arange(1, 17), np.arange(1, 25))
    axes = ["x [m]", "y [m]"]
    records = {  # record: data, Y, X, titles, kind; the refused rewrite left the first as it was
        "fields/temperature": (field, y, x, ["Temperature", *axes], "f8"),
        "fields/counts": (counts, y, x, ["Cell counts", *axes], "i4"),
        "series/wave": (np.sin(t), t, t[:1], ["Wave", "t [s]", "amplitude"], "f8"),  # 1-D: its axis in "Y"
        "series/histogram": ([3, 9, 14, 11, 5, 1], np.arange(1, 7.0), [1.0], ["Histogram", "", ""], "i4"),
        "series/row": ([1, 4, 9, 16, 25], np.arange(1, 6.0), [1.0], ["Squares", "n", "n**2"], "f8"),
        "bare/wave": (np.sin(t), t, t[:1], None, "f8"),
        "bare/counts": (counts, y, x, None, "i4")}
    with h5py.File(os.path.join(d, "module_plots.h5"), "r") as f:
        expect(sorted(f.keys()) == ["bare", "fields", "series"], f"top level: {sorted(f.keys())}")
        for r, (data, ry, rx, titles, kind) in records.items():
            expect_record(f, r, data, ry, rx, titles, kind, close=True)
    for r, (data, *_) in records.items():
        expect_xarray(os.path.join(d, "module_plots.h5"), r, ("Y", "X")[:np.ndim(data)], {})

    # The viewer: every record of the file, one record at another resolution, and what it cannot render
    # (a reason on standard error, exit status 1, no image).
    with h5py.File(os.path.join(d, "plain.h5"), "w") as f:
        f["v"] = [1.0, 2.0]
    images = {r: os.path.realpath(os.path.join(d, "png", r.replace("/", "_") + ".png")) for r in sorted(records)}
    for args, printed, status, reason in (
            (["module_plots.h5", "-o", "png"], list(images.values()), 0, ""),
            (["module_plots.h5", "fields/temperature", "--dpi", "50", "-o", "one"],
             [os.path.realpath(os.path.join(d, "one", "fields_temperature.png"))], 0, ""),
            (["module_plots.h5", "fields", "-o", "no"], [], 1, "fields is not a plot record"),
            (["module_plots.h5", "fields/nothing", "-o", "no"], [], 1, "no fields/nothing in module_plots.h5"),
            (["plain.h5", "-o", "no"], [], 1, "no plot records in plain.h5"),
            (["absent.h5", "-o", "no"], [], 1, "cannot open absent.h5")):
        out = subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "tools", "videz5-plot"), *args],
                             cwd=d, capture_output=True, text=True)
        expect(out.returncode == status and [os.path.realpath(p) for p in out.stdout.split()] == printed
               and reason in out.stderr, f"viewer {args}: status {out.returncode}, printed {out.stdout!r}, "
               f"stderr {out.stderr!r}")
    for r, image in images.items():
        expect_image(image, "image" if np.ndim(records[r][0]) == 2 else "line")
    expect_image(os.path.join(d, "one", "fields_temperature.png"), "image", size=(320, 240))
    expect(not os.path.exists(os.path.join(d, "no")) or os.listdir(os.path.join(d, "no")) == [],
           "images written for records that are not there")


def expect_text_attrs(obj, **wanted):
    """Exactly these attributes, each a scalar fixed-length ASCII string, beside
    those of dimension scales (see expect_viewable)."""
    names = sorted(set(obj.attrs.keys()) - {"CLASS", "NAME", "REFERENCE_LIST", "DIMENSION_LIST"})
    expect(names == sorted(wanted), f"{obj.name}: attributes {names}")
    for name, value in wanted.items():
        a = obj.attrs.get_id(name) if name in obj.attrs else None
        expect(a is not None and a.shape == () and not a.get_type().is_variable_str()
               and a.get_type().get_cset() == h5py.h5t.CSET_ASCII and obj.attrs[name] == value.encode(),
               f"{obj.name}@{name}: not {value!r} in a fixed-length ASCII string")


def check_series(d):
    k = np.arange(1, 6)
    with h5py.File(os.path.join(d, "series.h5"), "r") as f:
        # path: values, chunk shape (256 KiB of steps), attributes; every series unlimited along its steps.
        series = {"scalar/e": (k * 0.5, (32768,), {"units": "J", "long_name": "kinetic energy"}),
                  "runs/v": (k[:, None] * 10 + np.arange(1, 4), (10922, 3), {}),
                  "g": ((k[:, None] + np.arange(1, 7) / 10).reshape(5, 3, 2), (5461, 3, 2), {}),
                  "n": (np.stack([k, -k], axis=1), (32768, 2), {})}
        for path, (values, chunks, attrs) in series.items():
            expect_dataset(f, path, values.shape, "i4" if path == "n" else "f8", values)
            expect(f[path].chunks == chunks and f[path].maxshape == (None,) + values.shape[1:],
                   f"{path}: chunks {f[path].chunks}, maxshape {f[path].maxshape}")
            expect_text_attrs(f[path], **attrs)
        expect_dataset(f, "fixed", (2,), "f8", [3, 4])
        for path, attrs in (("fixed", {"units": "km/s", "long_name": "fixed size"}), ("plain", {}),
                            ("plots/T/data", {"units": "K", "long_name": "temperature"}),
                            ("plots/T/X", {"units": "m", "long_name": "x [m]"}),
                            ("plots/T/Y", {"units": "s", "long_name": "y [s]"}),
                            ("plots/line/data", {"units": "m/s", "long_name": "v [m/s]"}),
                            ("plots/line/X", {"units": "m"}),
                            ("plots/line/Y", {"units": "m", "long_name": "x [m]"})):
            expect_text_attrs(f[path], **attrs)


def check_legacy(d):
    with h5py.File(os.path.join(d, "legacy.h5"), "r") as f:
        expect_datasets(f, [("old/a", (2, 3), "f8", fortran(3, 2)), ("old/k", (4,), "i4", [10, 20, 30, 40])])
        expect_record(f, "old/plot", [10, 20, 30, 40], [1.0, 2, 3, 4], [1.0], ["counts", "i", "n"], "i4")


# Case: (exit status, check of what it left[, set-up before it runs]).
def expect_xarray(path, r, dims, units):
    """The record opened as netCDF readers open it: xarray through h5netcdf,
    without phony_dims, data over the named axes, each with its units."""
    import xarray  # only here: it takes a second to import
    try:
        with xarray.open_dataset(path, group=r, engine="h5netcdf") as ds:
            expect(ds["data"].dims == dims, f"xarray {r}: data over {ds['data'].dims}")
            for axis in dims:
                expect(np.array_equal(ds[axis].values, h5py.File(path, "r")[r][axis][()]), f"xarray {r}: {axis}")
            got = {name: ds[name].attrs.get("units") for name in units}
            expect(got == units, f"xarray {r}: units {got}")
    except Exception as e:  # noqa: BLE001 - what xarray refuses is the finding
        expect(False, f"xarray {r}: {type(e).__name__}: {e}")


def check_replace(d):
    path = os.path.join(d, "replace.h5")
    t = np.arange(1, 206) * 0.5
    e, field = t**2, fortran(4, 3)
    with h5py.File(path, "r") as f:
        expect_dataset(f, "energy", (205,), "f8", e)
        expect(text_attr(f["energy"], "units") == "J", "energy: its units did not go over to the new dataset")
        expect_dataset(f, "kind", (3,), "f8", [0.5, 1.5, 2.5])
        expect_dataset(f, "grp/inner", (1,), "f8", [1.0])
        expect(not {"empty", "blank"} & set(f.keys()) and "bad" not in f["plots"],
               "a refused write left something")
        expect_dataset(f, "steps", (1, 2), "f8", [[1, 2]])
        expect_dataset(f, "fine", (2,), "i4", [1, 2])
        expect_record(f, "plots/energy", e, t, t[:1], ["Energy", "t [s]", "E [J]"])
        expect(text_attr(f["plots/energy/Y"], "units") == "s", "plots/energy/Y: units lost in the replacement")
        # Now 1-D, along x: labelled with the stored xtitle.
        expect_record(f, "plots/shape", e[:7], t[:7], t[:1], ["Field", "x", "y"])
        expect_record(f, "plots/held", field[:, :2], [10.0, 20, 30], [1.0, 2], ["Field, fewer columns", "x", "y"])
    expect_xarray(path, "plots/energy", ("Y",), {"Y": "s"})
    expect_xarray(path, "plots/held", ("Y", "X"), {})


def write_foreign_attrs(d):
    """Attributes as h5py writes them by default, and a blank-padded one."""
    with h5py.File(os.path.join(d, "foreign.h5"), "w") as f:
        f.attrs.update(n=np.int64(7), note="variable-length", grid=np.zeros((2, 3)))
        t = h5py.h5t.C_S1.copy()
        t.set_size(8)
        t.set_strpad(h5py.h5t.STR_SPACEPAD)
        a = h5py.h5a.create(f.id, b"padded", t, h5py.h5s.create(h5py.h5s.SCALAR))
        a.write(np.array(b"ab      ", dtype="S8"), mtype=t)


def expect_attr(obj, name, shape, kind, values, strsize=None):
    """An attribute: its shape, element type ('f8', 'i4', or 'S': fixed-length
    null-padded ASCII of strsize bytes) and values."""
    if name not in obj.attrs:
        return expect(False, f"{obj.name}@{name}: missing")
    a = obj.attrs.get_id(name)
    t = a.get_type()
    expect(a.shape == shape, f"{obj.name}@{name}: shape {a.shape}, expected {shape}")
    if kind == "S":
        expect(isinstance(t, h5py.h5t.TypeStringID) and not t.is_variable_str() and t.get_size() == strsize
               and t.get_strpad() == h5py.h5t.STR_NULLPAD and t.get_cset() == h5py.h5t.CSET_ASCII,
               f"{obj.name}@{name}: not null-padded ASCII of {strsize} bytes")
    else:
        expect(a.dtype == np.dtype(kind), f"{obj.name}@{name}: type {a.dtype}, expected {kind}")
    got = obj.attrs[name]
    expect(np.array_equal(got, np.asarray(values, dtype=got.dtype if kind == "S" else None)),
           f"{obj.name}@{name}: {got!r}")


def check_attributes(d):
    expect_files(d, "attrs.h5", "foreign.h5")  # refused writes created no file
    with h5py.File(os.path.join(d, "attrs.h5"), "r") as f:
        expect(list(f.keys()) == ["fields"] and list(f["fields"].keys()) == ["t"], "a write created an object")
        t, g = f["fields/t"], f["fields"]
        for obj, name, shape, kind, values, *size in (
                (t, "scale", (), "f8", 0.5),
                (t, "limits", (2,), "i4", [1, 2]),            # three doubles replaced by two ints
                (t, "units", (), "S", b"kelvin", 6), (t, "long_name", (), "S", b"temperature", 11),
                (t, "held", (), "i4", 7), (t, "deferred", (), "S", b"yes", 3),
                (t, "from group", (2,), "f8", [1, 2]),
                (g, "step", (), "f8", 2.5),                   # an int replaced by a double
                (g, "cells", (4,), "i4", [4, 3, 2, 1]),
                (g, "code", (), "S", b"videz5 test", 11),     # its trailing blanks not stored
                (g, "empty", (), "S", b"", 1),
                (g, "group itself", (), "i4", 1),
                (f, "species", (3,), "S", [b"H", b"He", b"Li"], 2)):
            expect_attr(obj, name, shape, kind, values, *size)
        expect(sorted(t.attrs.keys()) == ["deferred", "from group", "held", "limits", "long_name", "scale", "units"],
               f"fields/t: attributes {sorted(t.attrs.keys())}")
        expect(sorted(g.attrs.keys()) == ["cells", "code", "empty", "group itself", "step", "whole"],
               f"fields: attributes {sorted(g.attrs.keys())}")
        expect(list(f.attrs.keys()) == ["species"], f"/: attributes {list(f.attrs.keys())}")


def check_listing(d):
    expect_files(d, "listing.h5", "notes.txt")  # exists, list and delete created no file
    path = os.path.join(d, "listing.h5")
    with h5py.File(path, "r") as f:
        expect(sorted(f.keys()) == ["a", "b", "kept", "plots", "space"], f"top level: {sorted(f.keys())}")
        expect(list(f["b"].keys()) == [] and list(f["kept"].keys()) == ["y"], "b or kept")
        expect(sorted(f["space"].keys()) == ["after", "next"], f"space/: {sorted(f['space'].keys())}")
        expect_dataset(f, "kept/y", (1,), "f8", [2.0])
    # The 800,000 bytes of the deleted dataset stayed in the file; a rewrite leaves them out.
    packed = os.path.join(d, "packed.h5")
    r = subprocess.run(["h5repack", path, packed], capture_output=True, text=True)
    expect(r.returncode == 0 and os.path.getsize(packed) + 800000 <= os.path.getsize(path),
           f"h5repack: {r.returncode} {r.stderr}, {os.path.getsize(path)} bytes before, "
           f"{os.path.getsize(packed) if os.path.exists(packed) else None} after")


def as_fortran(values, *sizes):
    """values in Fortran order, seen as HDF5 keeps an array of those sizes."""
    return np.asarray(values).reshape(tuple(reversed(sizes)))


def check_kinds(d):
    with h5py.File(os.path.join(d, "kinds.h5"), "r") as f:
        u = as_fortran(np.arange(1, 25, dtype="f8"), 3, 2, 2, 2)
        expect_datasets(f, [
            ("single", (3, 2), "f4", as_fortran(np.arange(1, 7) * 0.25, 2, 3)),  # halves of 0.5 .. 3
            ("fluid/u", (2, 2, 2, 3), "f8", u),
            ("held/u", (2, 2, 2, 3), "f8", 2 * u),
            ("rank7", (3, 1, 1, 1, 2, 1, 2), "f8", as_fortran(np.arange(1, 13) / 4, 2, 1, 2, 1, 1, 1, 3)),
            ("counts", (3,), "i8", [1, -2, 2**53 + 1]),
            ("words", (2, 1, 1, 2), "S", as_fortran([b"one  ", b"two  ", b"three", b"four "], 2, 1, 1, 2), 5),
            ("scalars/x", (), "f8", 2.5),
            ("scalars/n", (), "i4", 7),
            ("scalars/big", (), "i8", 2**63 - 1),
            ("scalars/single", (), "f4", 0.25),
            ("scalars/word", (), "S", b"hello", 5),
            ("held/n", (), "i8", 8)])
        expect(text_attr(f["fluid/u"], "units") == "m/s", "units of fluid/u")


def check_blocks(d):
    with h5py.File(os.path.join(d, "blocks.h5"), "r") as f:
        block = as_fortran(np.arange(1, 7, dtype="f8"), 2, 3)
        grid = np.zeros((4, 2))
        grid[0:3, 0:2] = block  # replaced: 2 x 4, the block at 1, 1
        expect_datasets(f, [("grid", (4, 2), "f8", grid),
                            ("names", (4,), "S", [b"    ", b"cd  ", b"efgh", b"    "], 4),  # blanks around
                            ("fluid/u", (2, 2, 3, 4), "f8")])


def check_compression(d):
    with h5py.File(os.path.join(d, "compressed.h5"), "r") as f:
        i, j, k = np.meshgrid(np.arange(1, 65), np.arange(1, 33), np.arange(1, 5), indexing="ij")
        field = np.sin(i / 10) * np.cos(j / 7) + k  # Fortran order: transposed into HDF5's
        for path, shape, chunks, level in [("field", (4, 32, 64), (4, 32, 64), 6), ("cells", (30, 100), (10, 50), 1),
                                           ("wide", (4, 256, 256), (2, 256, 256), 9),
                                           ("chunked", (4, 32, 64), (1, 32, 64), None),
                                           ("series", (3, 64), (512, 64), 4)]:
            ds = f[path]
            expect(ds.shape == shape and ds.chunks == chunks and ds.compression_opts == level and
                   ds.shuffle == (level is not None), f"{path}: {ds.shape} in {ds.chunks}, deflate "
                   f"{ds.compression_opts}, shuffle {ds.shuffle}")
        expect(np.allclose(f["field"][()], 2 * field.T, rtol=0, atol=1e-14), "field values")
        expect(np.allclose(f["series"][()], field[:, 0, 0:3].T, rtol=0, atol=1e-14), "series values")
        expect(f["cells"].dtype == np.dtype("i4") and text_attr(f["cells"], "units") == "class", "cells")
        expect("bad" not in f, "a refused dump wrote something")
    # 2 MiB of ones deflate to almost nothing.
    expect(os.path.getsize(os.path.join(d, "compressed.h5")) < 200000,
           f"{os.path.getsize(os.path.join(d, 'compressed.h5'))} bytes")


CASES = {
    "test_handles": (0, check_handles),
    "test_arrays": (0, check_arrays),
    "test_plots": (0, check_plots),
    "test_legacy": (0, check_legacy),
    "test_module": (0, check_module),
    "test_checked_entries": (0, check_checked_entries, write_foreign),
    "test_permissions": (0, check_permissions, write_archived),
    "test_module_plots": (0, check_module_plots),
    "test_series": (0, check_series),
    "test_replace": (0, check_replace),
    "test_attributes": (0, check_attributes, write_foreign_attrs),
    "test_listing": (0, check_listing),
    "test_kinds": (0, check_kinds),
    "test_blocks": (0, check_blocks),
    "test_compression": (0, check_compression),
}


def main():
    case, exe = sys.argv[1], os.path.abspath(sys.argv[2])
    expected_rc, check, *setup = CASES[case]
    with open(os.path.join(HERE, case + ".out")) as f:
        expected_out = f.read()
    with tempfile.TemporaryDirectory(prefix=f"videz5-{case}-") as d:
        for prepare in setup:
            prepare(d)
        command = [exe]
        if case == "test_permissions" and os.geteuid() == 0:
            # Root may write anything: run as nobody, still able to read and
            # search everything (the build may lie in a private directory).
            os.chmod(d, 0o755)
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                       "--inh-caps=+dac_read_search", "--ambient-caps=+dac_read_search", exe]
        r = run(command, d)
        expect(r.returncode == expected_rc, f"exit status {r.returncode}, expected {expected_rc}")
        expect_output(r.stdout.decode(), expected_out)
        check(d)
        if r.returncode != expected_rc:
            print("stderr:\n" + r.stderr.decode()[-4000:])
    return finish(case)


if __name__ == "__main__":
    sys.exit(main())
