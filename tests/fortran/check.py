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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import expect, expect_dataset, expect_output, finish, fortran, program_env  # noqa: E402

def check_handles(d):
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


def check_arrays(d):
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


def check_plots(d):
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


def check_module(d):
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


def check_checked_entries(d):
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


def check_permissions(d):
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


def check_module_plots(d):
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


def check_legacy(d):
    with h5py.File(os.path.join(d, "legacy.h5"), "r") as f:
        expect_dataset(f, "old/a", (2, 3), "f8", fortran(3, 2))
        expect_dataset(f, "old/k", (4,), "i4", [10, 20, 30, 40])
        expect_dataset(f, "old/plot/data", (4,), "i4", [10, 20, 30, 40])
        expect_dataset(f, "old/plot/title", (1,), "S", [b"counts"], strsize=6)


def files_are(*names):
    def check(d):
        expect(sorted(os.listdir(d)) == sorted(names), f"files: {sorted(os.listdir(d))}")
    return check


# Case: (exit status, check of the files it left[, set-up before it runs]).
CASES = {
    "test_handles": (0, check_handles),
    "test_arrays": (0, check_arrays),
    "test_plots": (0, check_plots),
    "test_legacy": (0, check_legacy),
    # A bad code on a dump: nothing printed, no file created.
    "abort_dump_code": (-signal.SIGABRT, files_are()),
    "abort_read_code": (-signal.SIGABRT, files_are("there.h5")),
    "abort_read_missing": (-signal.SIGABRT, files_are()),
    "test_module": (0, check_module),
    "test_checked_entries": (0, check_checked_entries, write_foreign),
    "test_permissions": (0, check_permissions, write_archived),
    "test_module_plots": (0, check_module_plots),
    # A module read that fails without a status argument ends the program (error stop).
    "stop_module_read": (1, files_are("stop.h5")),
}

# Cases about permissions, which root would not feel.
UNPRIVILEGED = {"test_permissions"}


def main():
    case, exe = sys.argv[1], os.path.abspath(sys.argv[2])
    expected_rc, check, *setup = CASES[case]
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), case + ".out")) as f:
        expected_out = f.read()
    with tempfile.TemporaryDirectory(prefix=f"videz5-{case}-") as d:
        for prepare in setup:
            prepare(d)
        command = [exe]
        if case in UNPRIVILEGED and os.geteuid() == 0:
            # Root may write anything: run as nobody, still able to read and
            # search everything (the build may lie in a private directory),
            # but not to write what its permissions forbid.
            os.chmod(d, 0o755)
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                       "--inh-caps=+dac_read_search", "--ambient-caps=+dac_read_search", exe]
        run = subprocess.run(command, cwd=d, env=program_env(), capture_output=True)
        expect(run.returncode == expected_rc, f"exit status {run.returncode}, expected {expected_rc}")
        expect_output(run.stdout.decode(), expected_out)
        check(d)
        if run.returncode != expected_rc:
            print("stderr:\n" + run.stderr.decode()[-4000:])
    return finish(case)


if __name__ == "__main__":
    sys.exit(main())
