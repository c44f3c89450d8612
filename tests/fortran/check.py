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
        "CANNOT OPEN FILE IN open_h5_file( no/such/dir/x.h5 ): No such file or directory",
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
        "Cannot overwrite existing dataset ints!",
        "type of existing dataset is int and new type is double",
        "Cannot overwrite existing dataset words!",
        "type of existing dataset is string of 8 bytes and new type is string of 12 bytes",
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
        # Whole doubles written over ints: the dataset stays int; the fractions were refused.
        expect_dataset(f, "ints", (2, 3), "i4", fortran(3, 2, scale=10).astype(int))
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
        # Longer titles replaced their datasets, never cut; then the nx change
        # was refused for data and X, so nothing of the record changed.
        r = "counts/both"
        expect_dataset(f, r + "/data", (3, 4), "f8", fortran(4, 3))
        expect_dataset(f, r + "/Y", (3,), "f8", y[:3])
        expect_dataset(f, r + "/X", (4,), "f8", x[:4])
        expect_dataset(f, r + "/title", (1,), "S", [b"longer"], strsize=6, **TITLED)
        expect_dataset(f, r + "/xtitle", (1,), "S", [b"xx"], strsize=2, **TITLED)
        expect_dataset(f, r + "/ytitle", (1,), "S", [b""], strsize=1)
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
        for r in ("run1/temp", "run1/counts", "counts/both"):
            expect_nxdata(f, r, ["Y", "X"])
        for r in ("counts/ny_only", "counts/nx_only", "counts/none"):
            expect_nxdata(f, r, ["Y"])
    with h5py.File(os.path.join(d, "bare.h5"), "r") as f:
        expect(sorted(f["run1/temp"].keys()) == ["X", "Y", "data"], "titles written without titles")
        expect_nxdata(f, "run1/temp", ["Y", "X"])
        expect_dataset(f, "run1/counts/data", (3, 4), "i4")
        expect_dataset(f, "run1/counts/X", (4,), "f8", x[:4])


def expect_nxdata(f, record, axes):
    """The NXdata attributes: fixed-length ASCII strings, axes a 1-D array."""
    g = f[record]
    expect(sorted(g.attrs.keys()) == ["NX_class", "axes", "signal"], f"{record}: attributes {sorted(g.attrs.keys())}")
    for name, shape, value in (("NX_class", (), b"NXdata"), ("signal", (), b"data"),
                               ("axes", (len(axes),), [a.encode() for a in axes])):
        if name not in g.attrs:
            continue
        a = g.attrs.get_id(name)
        t = a.get_type()
        expect(isinstance(t, h5py.h5t.TypeStringID) and not t.is_variable_str()
               and t.get_cset() == h5py.h5t.CSET_ASCII, f"{record}@{name}: not a fixed-length ASCII string")
        expect(a.shape == shape, f"{record}@{name}: shape {a.shape}, expected {shape}")
        expect(np.array_equal(g.attrs[name], value), f"{record}@{name}: {g.attrs[name]!r}, expected {value!r}")


def check_module(d, out):
    expect(out == lines(
        "== dumps of every kind and rank",
        "== shapes before reading",
        "== no dataset: rank -1, nothing printed",
        "== read back",
        "== refused reads leave the array alone",
        "SHAPE MISMATCH IN ftoc_h5read_data_checked_( real/t ): stored 4 x 3, buffer 3 x 4",
        "SHAPE MISMATCH IN ftoc_h5read_data_checked_( real/t ): stored 4 x 3, buffer 12",
        "SHAPE MISMATCH IN ftoc_h5read_data_checked_( real/cube ): stored 4 x 3 x 2, buffer 4 x 3",
        "NO DATASET IN ftoc_h5read_data_checked_( real/nothing )",
        "NO DATASET IN ftoc_h5read_data_checked_( real )",
        "NONEXISTENT FILE IN ftoc_h5read_data_checked_( absent.h5 )",
        "CANNOT OPEN FILE IN ftoc_h5read_data_checked_( notes.txt )",
        "TYPE MISMATCH IN ftoc_h5read_data_checked_( text/words ): stored elements cannot be read as double",
        "TYPE MISMATCH IN ftoc_h5read_data_checked_( int/k ): stored elements cannot be read as strings of 6 bytes",
        "== empty arrays",
        "EMPTY ARRAY IN videz5_dump( real/empty ), NOTHING WRITTEN",
        "EMPTY ARRAY IN videz5_read( real/line ), NOTHING READ",
        "== overwrite in place, refusal of another shape",
        "Cannot overwrite existing dataset t!",
        "dim[0] of existing dataset is 3 and new dim[0] is 4",
        "== reads beside a handle the program holds",
        "== done"), "standard output")
    # Neither the reads nor the queries create a file.
    expect(sorted(os.listdir(d)) == ["module.h5", "notes.txt"], f"files: {sorted(os.listdir(d))}")
    with open(os.path.join(d, "notes.txt")) as t:
        expect(t.read() == "not hdf5\n", "notes.txt changed")
    words = [w.ljust(6).encode() for w in ("alpha", "beta", "gamma")]
    with h5py.File(os.path.join(d, "module.h5"), "r") as f:
        expect(sorted(f.keys()) == ["int", "real", "text"], f"top level: {sorted(f.keys())}")
        expect_dataset(f, "real/t", (3, 4), "f8", -fortran(4, 3, scale=0.5))
        expect_dataset(f, "real/line", (5,), "f8", np.arange(1, 6.0))
        expect_dataset(f, "real/cube", (2, 3, 4), "f8", fortran(4, 3, 2))
        # big(1:6:2, 2:4) of big(i,j) = i + 6(j-1): rows j = 2..4, columns i = 1, 3, 5.
        expect_dataset(f, "real/every_other", (3, 3), "f8",
                       [[i + 6 * (j - 1) for i in (1, 3, 5)] for j in (2, 3, 4)])
        expect("real/empty" not in f, "an empty array was written")
        expect_dataset(f, "int/k", (3,), "i4", [7, 8, 9])
        expect_dataset(f, "int/k2", (3, 2), "i4", fortran(2, 3, scale=10).astype(int))
        expect_dataset(f, "int/k3", (2, 2, 2), "i4", fortran(2, 2, 2).astype(int))
        expect_dataset(f, "text/words", (3,), "S", words, strsize=6, pad=h5py.h5t.STR_SPACEPAD)
        expect_dataset(f, "text/grid", (2, 2), "S", [[b"a     ", b"bb    "], [b"ccc   ", b"dddd  "]], strsize=6)
        expect_dataset(f, "text/box", (2, 2, 1), "S", [[[b"p     "], [b"q     "]], [[b"r     "], [b"s     "]]],
                       strsize=6)


def write_foreign(d):
    """A file as other programs write them, for the checked entries to look into."""
    with h5py.File(os.path.join(d, "foreign.h5"), "w") as f:
        f["rank4"] = np.zeros((2, 3, 4, 5))
        f["scalar"] = 2.5
        f["empty"] = np.zeros((0,))
        f["i64"] = np.array([-2, 0, 5, 70000], dtype="i8")
        f["i64big"] = np.array([1, 2**40, 3, 4], dtype="i8")
        f.create_dataset("vlen", data=["abcd", "efgh"], dtype=h5py.string_dtype())


def check_checked_entries(d, out):
    expect(out == lines(
        "== sizes as the dump takes them, 0 for absent",
        "SHAPE MISMATCH IN ftoc_h5read_data_checked_( g/m ): stored 2 x 3, buffer 3 x 2",
        "SHAPE MISMATCH IN ftoc_h5read_data_checked_( g/m ): stored 2 x 3, buffer 2 x 3 x 1",
        "== element sizes and codes checked before the file is opened",
        "ELEMENT SIZE MISMATCH IN ftoc_h5read_data_checked_( v ): type code 0 means 8 bytes, buffer elements have 4",
        "ELEMENT SIZE MISMATCH IN ftoc_h5read_data_checked_( v ): type code 1 means 4 bytes, buffer elements have 8",
        "ELEMENT SIZE MISMATCH IN ftoc_h5read_data_checked_( s ): type code 2 means 8 bytes, buffer elements have 4",
        "INVALID STRING LENGTH IN ftoc_h5read_data_checked_( s, 0 )",
        "INVALID TYPE CODE IN ftoc_h5read_data_checked_( v, 3 )",
        "INVALID TYPE CODE IN ftoc_h5read_data_checked_( v, -1 )",
        "== values that would change are refused",
        "TYPE MISMATCH IN ftoc_h5read_data_checked_( frac ): stored elements cannot be read as int",
        "TYPE MISMATCH IN ftoc_h5read_data_checked_( i64big ): stored elements cannot be read as int",
        "TYPE MISMATCH IN ftoc_h5read_data_checked_( big ): stored elements cannot be read as int",
        "== files written by others",
        "SHAPE MISMATCH IN ftoc_h5read_data_checked_( rank4 ): stored 5 x 4 x 3 x 2, buffer 5 x 4 x 3",
        "SHAPE MISMATCH IN ftoc_h5read_data_checked_( scalar ): stored scalar, buffer 1",
        "TYPE MISMATCH IN ftoc_h5read_data_checked_( vlen ): stored elements cannot be read as strings of 4 bytes",
        "== the file is only read",
        "NONEXISTENT FILE IN ftoc_h5read_data_checked_( absent.h5 )",
        "== done"), "standard output")
    expect(sorted(os.listdir(d)) == ["checked.h5", "foreign.h5"], f"files: {sorted(os.listdir(d))}")
    with h5py.File(os.path.join(d, "foreign.h5"), "r") as f:
        expect(sorted(f.keys()) == ["empty", "i64", "i64big", "rank4", "scalar", "vlen"], "foreign.h5 changed")
    with h5py.File(os.path.join(d, "checked.h5"), "r") as f:
        expect_dataset(f, "g/m", (3, 2), "f8", fortran(2, 3))
        expect_dataset(f, "one", (1,), "f8", [9.0])


def write_archived(d):
    """A results file nobody may write any more, in a directory the test may not write."""
    with h5py.File(os.path.join(d, "archived.h5"), "w") as f:
        f["results/t"] = [0.5, 1.5, 2.5]
    os.chmod(os.path.join(d, "archived.h5"), 0o444)
    os.mkdir(os.path.join(d, "readonly_dir"), 0o555)


def check_permissions(d, out):
    expect(out == lines(
        "== an archived file is read",
        "== calls that cannot write say why",
        "CANNOT OPEN FILE IN open_h5_file( archived.h5 ): Permission denied",
        "ERROR: H5Lexists(): Failed to look up dataset v!",
        "CANNOT OPEN FILE IN open_h5_file( readonly_dir/new.h5 ): Permission denied",
        "ERROR: H5Lexists(): Failed to look up dataset v!",
        "CANNOT OPEN FILE IN open_h5_file( archived.h5 ): Permission denied",
        "== done"), "standard output")
    expect(os.listdir(os.path.join(d, "readonly_dir")) == [], "a file in the read-only directory")
    with h5py.File(os.path.join(d, "archived.h5"), "r") as f:
        expect(list(f.keys()) == ["results"] and list(f["results"].keys()) == ["t"], "archived.h5 changed")


VIEWER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "videz5-plot")
LINE_COLOUR = np.array([0x1f, 0x77, 0xb4])  # the first colour of the default cycle


def run_viewer(d, *args):
    return subprocess.run([sys.executable, VIEWER, *args], cwd=d, capture_output=True, text=True)


def expect_image(path, kind, size=(640, 480)):
    """A PNG of the given size that shows a line (kind 'line') or a filled colour map ('image')."""
    import matplotlib.image
    if not os.path.exists(path):
        failures.append(f"{path}: no image")
        return
    pixels = matplotlib.image.imread(path)
    expect(pixels.shape[1::-1] == size, f"{path}: {pixels.shape[1]} x {pixels.shape[0]}, expected {size}")
    rgb = np.round(pixels[..., :3].reshape(-1, 3) * 255).astype(int)
    inked = np.mean(np.any(rgb < 245, axis=1))
    colours = len(np.unique(rgb, axis=0))
    if kind == "line":
        on_line = np.sum(np.all(np.abs(rgb - LINE_COLOUR) < 30, axis=1))
        expect(on_line > 200 and inked > 0.02, f"{path}: no line drawn ({on_line} line pixels, {inked:.3f} inked)")
    else:
        expect(colours > 100 and inked > 0.4, f"{path}: no colour map ({colours} colours, {inked:.3f} inked)")


def check_module_plots(d, out):
    expect(out == lines(
        "== 2-D records with titles",
        "== 1-D records",
        "== without titles",
        "Vector inputs do not match in length! 3 != 0",
        "Vector inputs do not match in length! 3 != 0",
        "== axes that do not fit the data are refused",
        "AXIS SIZE MISMATCH IN videz5_plot( refused/short_x ): data 24 x 16, x 23, y 16, NOTHING WRITTEN",
        "AXIS SIZE MISMATCH IN videz5_plot( refused/long_y ): data 24 x 16, x 24, y 17, NOTHING WRITTEN",
        "AXIS SIZE MISMATCH IN videz5_plot( refused/line ): data 40, x 39, NOTHING WRITTEN",
        "EMPTY ARRAY IN videz5_plot( refused/empty ), NOTHING WRITTEN",
        "== a rewrite of another shape keeps the record as stored",
        "Cannot overwrite existing dataset data!",
        "dim[1] of existing dataset is 24 and new dim[1] is 25",
        "Cannot overwrite existing dataset X!",
        "dim[0] of existing dataset is 24 and new dim[0] is 25",
        "Cannot overwrite existing dataset data!",
        "rank of existing dataset is 1 and new rank is = 2",
        "Cannot overwrite existing dataset Y!",
        "dim[0] of existing dataset is 40 and new dim[0] is 16",
        "Cannot overwrite existing dataset X!",
        "dim[0] of existing dataset is 1 and new dim[0] is 24",
        "== done"), "standard output")
    x = np.arange(1, 25) * 0.25
    y = np.arange(1, 17) * 0.5
    t = np.arange(1, 41) * 0.2
    field = np.sin(x)[None, :] * np.cos(y / 2)[:, None]
    plots = os.path.join(d, "module_plots.h5")
    with h5py.File(plots, "r") as f:
        expect(sorted(f.keys()) == ["bare", "fields", "series"], f"top level: {sorted(f.keys())}")
        r = "fields/temperature"  # its rewrite with 25 columns was refused for data and X
        expect_dataset(f, r + "/data", (16, 24), "f8")
        expect(np.allclose(f[r + "/data"][()], field), f"{r}/data values")
        expect_dataset(f, r + "/Y", (16,), "f8", y)
        expect_dataset(f, r + "/X", (24,), "f8", x)
        expect_dataset(f, r + "/title", (1,), "S", [b"Temperature"], strsize=11)
        expect_dataset(f, r + "/xtitle", (1,), "S", [b"x [m]"], strsize=5)
        expect_nxdata(f, r, ["Y", "X"])
        r = "fields/counts"
        expect_dataset(f, r + "/data", (16, 24), "i4", np.outer(np.arange(1, 17), np.arange(1, 25)))
        expect_dataset(f, r + "/title", (1,), "S", [b"Cell counts"], strsize=11)
        expect_nxdata(f, r, ["Y", "X"])
        r = "series/wave"  # 1-D: the axis lives in "Y"; the 2-D rewrite was refused
        expect_dataset(f, r + "/data", (40,), "f8")
        expect(np.allclose(f[r + "/data"][()], np.sin(t)), f"{r}/data values")
        expect(np.allclose(f[r + "/Y"][()], t), f"{r}/Y values")
        expect_dataset(f, r + "/X", (1,), "f8")
        expect_dataset(f, r + "/ytitle", (1,), "S", [b"amplitude"], strsize=9)
        expect_nxdata(f, r, ["Y"])
        r = "series/histogram"  # only a title given: the axis titles are empty
        expect_dataset(f, r + "/data", (6,), "i4", [3, 9, 14, 11, 5, 1])
        expect_dataset(f, r + "/Y", (6,), "f8", np.arange(1, 7.0))
        expect_dataset(f, r + "/title", (1,), "S", [b"Histogram"], strsize=9)
        expect_dataset(f, r + "/xtitle", (1,), "S", [b""], strsize=1)
        expect_nxdata(f, r, ["Y"])
        r = "series/row"  # data(5, 1): a 1-D record over x
        expect_dataset(f, r + "/data", (5,), "f8", [1, 4, 9, 16, 25])
        expect_dataset(f, r + "/Y", (5,), "f8", np.arange(1, 6.0))
        expect_dataset(f, r + "/X", (1,), "f8", [1.0])
        expect_nxdata(f, r, ["Y"])
        for r, axes in (("bare/wave", ["Y"]), ("bare/counts", ["Y", "X"])):
            expect(sorted(f[r].keys()) == ["X", "Y", "data"], f"{r}: {sorted(f[r].keys())}")
            expect_nxdata(f, r, axes)

    # The viewer: every record of the file, then one record at another resolution.
    run = run_viewer(d, "module_plots.h5", "-o", "png")
    expect(run.returncode == 0, f"viewer exit status {run.returncode}: {run.stderr}")
    kinds = {"bare/counts": "image", "bare/wave": "line", "fields/counts": "image", "fields/temperature": "image",
             "series/histogram": "line", "series/row": "line", "series/wave": "line"}
    images = [os.path.realpath(os.path.join(d, "png", r.replace("/", "_") + ".png")) for r in kinds]
    expect([os.path.realpath(p) for p in run.stdout.split()] == images, f"viewer printed {run.stdout!r}")
    for (record, kind), image in zip(kinds.items(), images):
        expect_image(image, kind)
    run = run_viewer(d, "module_plots.h5", "fields/temperature", "--dpi", "50", "-o", "one")
    expect(run.returncode == 0 and os.listdir(os.path.join(d, "one")) == ["fields_temperature.png"],
           f"single record: {run.returncode} {run.stderr}")
    expect_image(os.path.join(d, "one", "fields_temperature.png"), "image", size=(320, 240))

    # What it cannot render: a reason on standard error and exit status 1.
    with h5py.File(os.path.join(d, "plain.h5"), "w") as f:
        f["v"] = [1.0, 2.0]
    for args, reason in ((["module_plots.h5", "fields"], "fields is not a plot record"),
                         (["module_plots.h5", "fields/nothing"], "no fields/nothing in module_plots.h5"),
                         (["plain.h5"], "no plot records in plain.h5"),
                         (["absent.h5"], "cannot open absent.h5")):
        run = run_viewer(d, *args, "-o", "refused")
        expect(run.returncode == 1 and reason in run.stderr and run.stdout == "",
               f"viewer {args}: status {run.returncode}, stderr {run.stderr!r}")
    expect(not os.path.exists(os.path.join(d, "refused")) or os.listdir(os.path.join(d, "refused")) == [],
           "images written for records that are not there")


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
    "test_module": (0, check_module),
    "test_checked_entries": (0, check_checked_entries, write_foreign),
    "test_permissions": (0, check_permissions, write_archived),
    "test_module_plots": (0, check_module_plots),
    # A module read that fails without a status argument ends the program (error stop).
    "stop_module_read": (1, check_abort(
        lines("before", "SHAPE MISMATCH IN ftoc_h5read_data_checked_( t ): stored 2 x 3, buffer 3 x 2"),
        ["stop.h5"])),
}


# Cases about permissions, which root would not feel.
UNPRIVILEGED = {"test_permissions"}


def main():
    case, exe = sys.argv[1], os.path.abspath(sys.argv[2])
    expected_rc, check, *setup = CASES[case]
    with tempfile.TemporaryDirectory(prefix=f"videz5-{case}-") as d:
        for prepare in setup:
            prepare(d)
        # Fortran's own output is buffered apart from C's; unbuffered keeps the order.
        env = dict(os.environ, GFORTRAN_UNBUFFERED_PRECONNECTED="y")
        command = [exe]
        if case in UNPRIVILEGED and os.geteuid() == 0:
            # Root may write anything: run as nobody, still able to read and
            # search everything (the build may lie in a private directory),
            # but not to write what its permissions forbid.
            os.chmod(d, 0o755)
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                       "--inh-caps=+dac_read_search", "--ambient-caps=+dac_read_search", exe]
        run = subprocess.run(command, cwd=d, env=env, capture_output=True)
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
