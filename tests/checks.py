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


def text_attr(obj, name):
    """A fixed-length ASCII string attribute as text; None when absent or of another kind."""
    if name not in obj.attrs:
        return None
    a = obj.attrs.get_id(name)
    t = a.get_type()
    if not isinstance(t, h5py.h5t.TypeStringID) or t.is_variable_str() or t.get_cset() != h5py.h5t.CSET_ASCII:
        return None
    value = obj.attrs[name]
    return [v.decode() for v in value] if a.shape else value.decode()


def axis_label(title, units):
    """A label: the title, with the units unless it ends with them."""
    if not title or not units or title.endswith(f"[{units}]"):
        return title or None
    return f"{title} [{units}]"


def expect_viewable(f, r, labels=None, values=None):
    """What viewers need of the plot record r, as they read it:
    - an NXdata viewer (h5web's rules) follows the record's "default" to a
      group with NX_class NXdata, whose "signal" is the record's own "data",
      whose "axes" name its own "Y" (and "X") of the data's sizes, and whose
      "title", when there, is a scalar string; axis labels are their long_name,
      the values' that of "data" (values: the label expected, when not the
      description's);
    - a netCDF reader (h5netcdf) needs a dimension scale on every axis of every
      dataset of the record: "Y" (and "X") on "data", the others their own."""
    g = f[r]
    viewer = text_attr(g, "default")
    expect(viewer is not None and viewer in g and isinstance(g[viewer], h5py.Group), f"{r}: default {viewer!r}")
    if viewer is None or not isinstance(g.get(viewer), h5py.Group):
        return
    v = g[viewer]
    expect(text_attr(g, "NX_class") is None, f"{r}: the record group itself is NXdata")
    expect(text_attr(v, "NX_class") == "NXdata" and text_attr(v, "signal") == "data", f"{r}/{viewer}: not NXdata")
    data = g["data"]
    axes = ["Y", "X"][:data.ndim]
    expect(text_attr(v, "axes") == axes, f"{r}/{viewer}@axes: {text_attr(v, 'axes')!r}")
    for name in ["data"] + axes:
        expect(name in v and v[name] == g[name], f"{r}/{viewer}/{name}: not the record's own")
    for i, name in enumerate(axes):
        expect(g[name].shape == (data.shape[i],), f"{r}/{name}: {g[name].shape} along {data.shape}")
    if "title" in v:
        t = v["title"]
        expect(t.shape == () and isinstance(t.id.get_type(), h5py.h5t.TypeStringID), f"{r}/{viewer}/title: {t.shape}")
        if "title" in g:
            expect(t[()] == g["title"][0], f"{r}/{viewer}/title: {t[()]!r}, record {g['title'][0]!r}")
    for name, label in zip(axes, labels or []):
        label = axis_label(label, text_attr(g[name], "units"))
        expect(text_attr(g[name], "long_name") == label, f"{r}/{name}@long_name: "
               f"{text_attr(g[name], 'long_name')!r}, expected {label!r}")
    if labels is not None and values is not None:
        values = axis_label(values, text_attr(data, "units"))
        expect(text_attr(data, "long_name") == values,
               f"{r}/data@long_name: {text_attr(data, 'long_name')!r}, expected {values!r}")
    for i, name in enumerate(axes):
        scales = [s.name for s in data.dims[i].values()]
        expect(scales == [g[name].name], f"{r}/data: dimension {i} scales {scales}")
    for name, obj in g.items():
        if isinstance(obj, h5py.Dataset) and name != "data":
            expect(text_attr(obj, "CLASS") == "DIMENSION_SCALE", f"{r}/{name}: no dimension scale")


def finish(name):
    """The checker's exit status, after saying what failed."""
    if failures:
        print("\n".join("FAIL: " + f for f in failures))
        return 1
    print(f"{name}: ok")
    return 0
