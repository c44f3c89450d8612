#!/usr/bin/python3
"""Kills the crash workload (crash_writer) and checks what it leaves behind.

  random    --trials N   SIGKILL at a random moment of a run of --calls calls
                         (default 300; the moments span the time a whole run takes
                         on this machine, measured first, so that a faster machine
                         does not grow the files it checks);
  enumerate --calls M    a kill right before every change the workload makes to
                         its file or journal (--torn: halfway through every
                         large write), after --snapshot N whole calls if given;
                         --sample K kills at K of those changes only: at least one
                         of every kind of change of every kind of call, the rest at
                         random; --part I/N kills at the I-th of every N of them,
                         so that N tests share one enumeration.

After every kill the library opens the file once (undoing what the kill left
half done); judge() then checks the file, the run is resumed as a rescheduled
job would be, and the file checked again. --latest starts from a
file h5py made in HDF5's newest format, --empty from an empty file (as a job
script's touch leaves it); --as-left also counts the files found
wrong before that open. Prints the figures; exits non-zero when anything was
lost or unreadable. --held N runs the workload through one held handle,
committed every N calls.

Whatever is random prints its seed; VIDEZ5_CRASH_SEED (or --seed) replays it
exactly. Prints a progress line at least every 20 s.
Usage: crash_harness.py MODE WRITER SHIM [options]"""
import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
from collections import Counter

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import program_env, stored_strings  # noqa: E402

RESUME_CALLS = 12
CHECK_SECONDS = 300
PROGRESS_SECONDS = 20


def record_of(c, prefix, count):
    return f"{prefix}{((c - 1) // 6) % count}"


def paths_of(c):
    """The paths call c of crash_writer.f90 writes (cheap: judge() asks for every returned call)."""
    op = (c - 1) % 7
    if op == 0:
        return [f"new/g{(c - 1) // 60}/d{c}"]
    if op == 1:
        return ["fixed/field"]
    if op in (2, 4):
        r = record_of(c, "plots/p", 5) if op == 2 else record_of(c, "iplots/q", 3)
        # The viewer group links the record's own "data", "Y" and "X": they must stay the same.
        return [r + "/" + n for n in ("data", "Y", "X", "title", "xtitle", "ytitle", "plot/data", "plot/Y", "plot/X")]
    if op == 3:
        return [f"text/t{c}"]
    if op == 5:
        return [f"held/h{c}", "blocks/grid"]
    return ["series/energy", "series/frames"]


def expected(c):
    """{path: value} that call c of crash_writer.f90 writes, Fortran sizes reversed; None: a group."""
    op = (c - 1) % 7
    i16 = np.arange(1, 17)
    x, y = c + 0.5 * i16, c - 0.5 * i16
    if op == 0:
        return {paths_of(c)[0]: (c + np.arange(1, 73) / 1000.0).reshape(6, 12)}
    if op == 1:
        return {"fixed/field": (c + np.arange(1, 20001) / 1e6).reshape(100, 200)}
    if op == 2:
        r = record_of(c, "plots/p", 5)
        return with_viewer(r, {r + "/data": (c + np.arange(1, 193) / 1000.0).reshape(12, 16), r + "/Y": y[:12],
                               r + "/X": x, r + "/title": np.array([f"step{c:06d}".encode()]),
                               r + "/xtitle": np.array([b"x"]), r + "/ytitle": np.array([b"y"])})
    if op == 3:
        return {f"text/t{c}": np.array([f"c{c}-w{k}".ljust(12).encode() for k in range(1, 5)])}
    if op == 4:
        # Replaced: 10 values in one cycle, 12 in the next.
        r, n = record_of(c, "iplots/q", 3), 10 if ((c - 1) // 7) % 2 == 0 else 12
        return with_viewer(r, {r + "/data": c * 10 + np.arange(1, n + 1), r + "/Y": y[:n], r + "/X": x[:1],
                               r + "/title": np.array([b"counts"]), r + "/xtitle": np.array([b"i"]),
                               r + "/ytitle": np.array([b"n"])})
    if op == 5:
        return {f"held/h{c}": None, "blocks/grid": grid_after(c)}
    # The series as they stand after call c: one step per call 7, 14, ... up to c.
    steps = np.arange(7, c + 1, 7)
    return {"series/energy": steps + 0.25,
            "series/frames": (steps[:, None] + np.arange(1, 14401) / 1e5).reshape(-1, 120, 120)}


def grid_after(c):
    """blocks/grid after call c (one of calls 6, 13, 20, ...): each of its four
    40 x 8 blocks (Fortran order) as the last call that wrote it left it, zeros before."""
    grid = np.zeros((32, 40))
    k = (c - 6) // 7
    for q in range(4):
        last = k - (k - q) % 4
        if last >= 0:
            grid[8 * q:8 * q + 8, :] = (7 * last + 6 + np.arange(1, 321) / 1000.0).reshape(8, 40)
    return grid


def with_viewer(r, values):
    return dict(values, **{f"{r}/plot/{n}": values[f"{r}/{n}"] for n in ("data", "Y", "X")})


MISSING = object()  # what an unlisted or unreadable path holds: it matches nothing


def _read(f, path, listed, read):
    """A dataset's stored bytes or values (strings with their padding), None for
    a group; read: the numbers that the walk over the file read already."""
    parent, _, name = path.rpartition("/")
    if name not in listed.get(parent, []):
        return MISSING
    if path in read:
        return read[path]
    try:
        obj = f[path]
        if not isinstance(obj, h5py.Dataset):
            return None
        return stored_strings(obj) if isinstance(obj.id.get_type(), h5py.h5t.TypeStringID) else obj[()]
    except Exception:
        return MISSING


def _same(got, want):
    if want is None:
        return got is None
    return isinstance(got, np.ndarray) and got.shape == want.shape and np.array_equal(got, want)


def _torn(got, old, new):
    """Part old, part new: an overwrite in place that a kill stopped midway."""
    return (isinstance(got, np.ndarray) and old is not None and new is not None
            and got.shape == old.shape == new.shape and bool(np.all((got == old) | (got == new)))
            and not _same(got, old) and not _same(got, new))


def judge(path, first, last_returned, window=1):
    """Returns (readable, intact, lost, torn, damage): readable is None when
    there is no file or an empty one (nothing had been stored yet); intact
    counts the returned calls whose data is all there; lost lists the others
    (a record or array that mixes two calls counts as lost); torn lists arrays
    that the unfinished call left part old, part new; damage lists what else
    is wrong: unreadable objects, names listed twice, h5dump failing. The
    window is the number of calls that a kill may find committed or not: 1,
    or the calls that a deferred commit takes together."""
    calls = list(range(first, last_returned + 1))
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        return None, 0, calls, [], []
    # The latest value of every path among the returned calls, and what the
    # call in flight may have put there instead.
    owner = {p: c for c in calls for p in paths_of(c)}
    values = {c: expected(c) for c in set(owner.values())}
    latest = {p: values[c][p] for p, c in owner.items()}
    in_flight = [expected(c) for c in range(last_returned + 1, last_returned + 1 + window)]
    try:
        f = h5py.File(path, "r")
    except Exception:
        return False, 0, calls, [], []
    lost, torn, damage = set(), [], []
    with f:
        listed, read = {"": list(f.keys())}, {}

        # Every group's listing as a reader lists it; every dataset must read, whatever the kill hit.
        def visit(name, obj):
            if isinstance(obj, h5py.Group):
                listed[name] = list(obj.keys())
            elif isinstance(obj, h5py.Dataset):
                try:
                    value = obj[()]
                    if not isinstance(obj.id.get_type(), h5py.h5t.TypeStringID):
                        read[name] = value
                except Exception:
                    damage.append(name)
        f.visititems(visit)  # a walk that fails fails the child: the file counts as unreadable
        for g, names in listed.items():
            twice = sorted({n for n in names if names.count(n) > 1})
            if twice:
                damage.append(f"listed twice in /{g}: {twice[:4]}")
        # Whole or not at all: what must change together (a plot record's datasets,
        # or one array) holds the latest returned call's values, or all the unfinished
        # call's (a title the same in both calls fits either).
        units = {}
        for p in latest:
            units.setdefault("/".join(p.split("/")[:2]) if p.startswith(("plots/", "iplots/")) else p, []).append(p)
        for paths in units.values():
            got = {p: _read(f, p, listed, read) for p in paths}
            if not (all(_same(got[p], latest[p]) for p in paths)
                    or any(all(p in call and _same(got[p], call[p]) for p in paths) for call in in_flight)):
                lost.update(owner[p] for p in paths)
            torn += [p for p in paths for call in in_flight if p in call and _torn(got[p], latest[p], call[p])]

    # An independent reader of every object and value: h5dump reads each
    # dataset whole (in binary, to nowhere: formatting values as text would
    # be most of the check's time and tells nothing more of the file).
    dump = subprocess.run(["h5dump", "-b", "-o", os.devnull, path], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    if dump.returncode != 0:
        damage.append("h5dump: " + dump.stderr.decode(errors="replace").strip()[-200:])
    return True, len(calls) - len(lost), sorted(lost), torn, sorted(set(damage))


def returned(out):
    calls = [int(line.split()[1]) for line in out.splitlines() if line.startswith("returned ")]
    return calls[-1] if calls else None


def check(path, first, last, window=1):
    """judge() in a child process, since HDF5 can crash on a damaged file: a fork
    of this one, which has h5py loaded already (a fresh interpreter would cost
    more than most checks)."""
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(r)
        signal.alarm(CHECK_SECONDS)  # a reader that hangs dies as one that crashes
        status = 0
        try:
            out = json.dumps(judge(path, first, last, window))
        except BaseException:
            out, status = traceback.format_exc(), 1
        with os.fdopen(w, "w") as pipe:
            pipe.write(out)
        os._exit(status)
    os.close(w)
    with os.fdopen(r) as pipe:
        out = pipe.read()
    _, status = os.waitpid(pid, 0)
    if status != 0:
        reason = f"the reader died (signal {os.WTERMSIG(status)})" if os.WIFSIGNALED(status) else out[-300:]
        return False, 0, list(range(first, last + 1)), [], [reason]
    return tuple(json.loads(out))


def writer_command(args, calls, first=1):
    return [args.writer, str(calls), str(first), "0", str(args.held)]


def workload(args, d, calls, first=1, timeout=120, **shim_env):
    """Runs crash_writer CALLS FIRST in d; the shim is preloaded when told what to do."""
    env = program_env(LD_PRELOAD=args.shim, **shim_env) if shim_env else program_env()
    return subprocess.run(writer_command(args, calls, first), cwd=d, env=env, capture_output=True, timeout=timeout)


class Tally:
    def __init__(self, args, planned):
        self.args, self.count, self.failures = args, Counter(), []
        self.window = max(args.held, 1)
        self.planned, self.started = planned, time.monotonic()
        self.last_said = self.started

    def kill(self, d, last, label):
        """Checks the killed run's file after the library's next open, resumes it, checks again."""
        path = os.path.join(d, "crash.h5")
        if self.args.as_left:
            readable, _, lost, _, damage = check(path, 1, last, self.window)
            self.count.update(as_left=readable is False or bool(lost) or bool(damage))
        if os.path.exists(path) and os.path.getsize(path) > 0:
            workload(self.args, d, 0)
        readable, intact, lost, torn, damage = check(path, 1, last, self.window)
        resumed = False
        if readable is not False:
            run = workload(self.args, d, RESUME_CALLS, last + 1)
            if run.returncode == 0 and returned(run.stdout.decode()) == last + RESUME_CALLS:
                after = check(path, 1, last + RESUME_CALLS)
                resumed = after[0] is True and not after[2] and not after[4]
        self.count.update(trials=1, returned=last, intact=intact, no_file=readable is None, readable=readable is True,
                          resumed=resumed)
        if readable is False or lost or torn or damage or not resumed:
            self.failures.append(f"{label}: returned 1..{last}: readable={readable} lost={lost} torn={torn} "
                                 f"damage={damage[:4]} resumed={resumed}")
        now = time.monotonic()
        if now - self.last_said >= PROGRESS_SECONDS:
            self.last_said = now
            print(f"... {self.count['trials']} of {self.planned} kills checked, {len(self.failures)} failed, "
                  f"{now - self.started:.0f} s", flush=True)

    def report(self, title):
        n = self.count
        print(f"== {title}\ntrials: {n['trials']}")
        print(f"readable files: {n['readable']} of {n['trials'] - n['no_file']} (no file yet: {n['no_file']})")
        print(f"returned calls checked: {n['returned']}, intact: {n['intact']}")
        print(f"resumed runs whose file then checked whole: {n['resumed']} of {n['trials']}")
        if self.args.as_left:
            print(f"files wrong as a reader other than this library found them, before its next open: {n['as_left']}")
        for f in self.failures[:40]:
            print("FAIL: " + f)
        return 0 if not self.failures else 1


def make_start(args, d):
    """The workload's file as it stands before the run: none; as h5py makes it
    in the newest format, with a group in it; or empty."""
    if args.latest:
        with h5py.File(os.path.join(d, "crash.h5"), "w", libver="latest") as f:
            f.create_group("from_h5py")
    elif args.empty:
        open(os.path.join(d, "crash.h5"), "w").close()


def run_time(args):
    """How long a whole run of --calls calls takes here, the shim preloaded as in the trials."""
    with tempfile.TemporaryDirectory(prefix="videz5-crash-") as d:
        make_start(args, d)
        started = time.monotonic()
        workload(args, d, args.calls, timeout=None, VIDEZ5_CRASH_AT="0").check_returncode()
        return time.monotonic() - started


def random_trials(args, rng):
    longest = run_time(args)
    tally = Tally(args, args.trials)
    for trial in range(args.trials):
        # Some kills land in the first call, which creates the file; the rest
        # anywhere in the run.
        delay = rng.uniform(0.0, min(0.03, longest)) if trial % 10 == 0 else rng.uniform(0.0, longest)
        with tempfile.TemporaryDirectory(prefix="videz5-crash-") as d:
            make_start(args, d)
            proc = subprocess.Popen(writer_command(args, args.calls), cwd=d, env=program_env(LD_PRELOAD=args.shim),
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            time.sleep(delay)
            proc.send_signal(signal.SIGKILL)
            out, _ = proc.communicate()
            tally.kill(d, returned(out.decode()) or 0, f"trial {trial} delay {delay:.4f}s")
    return tally, f"random kills in runs of {args.calls} calls ({longest:.2f} s each)"


def changes_of(log, first):
    """The dry run's changes, in order: (offset, size, what, the call in flight).
    The shim logs the workload's "returned N" lines among them."""
    changes, call = [], first
    with open(log) as f:
        for line in f:
            words = line.split()
            if len(words) == 2 and words[0] == "returned":
                call = int(words[1]) + 1
            elif len(words) == 4 and words[0].isdigit():
                changes.append((words[1], int(words[2]), words[3], call))
    return changes


def chosen_kills(changes, args, rng):
    """The 1-based numbers of the changes to kill at (all of them, or a sample
    with one of every kind of change, what it writes and large or not, of every
    kind of call, and the rest drawn at random), and the number of kinds
    sampled (0: no sample)."""
    candidates = [k for k, (_, size, _, _) in enumerate(changes, start=1) if not args.torn or size >= 8192]
    kinds = {}
    if args.sample and args.sample < len(candidates):
        for k in candidates:
            _, size, what, call = changes[k - 1]
            kinds.setdefault(((call - 1) % 7, what, size >= 8192), []).append(k)
        picked = {rng.choice(ks) for ks in kinds.values()}
        rest = [k for k in candidates if k not in picked]
        picked.update(rng.sample(rest, max(0, min(len(rest), args.sample - len(picked)))))
        candidates = sorted(picked)
    part, parts = args.part
    return candidates[part - 1::parts], len(kinds)


def enumerate_kills(args, rng):
    first = args.snapshot + 1
    with tempfile.TemporaryDirectory(prefix="videz5-enum-") as base:
        start, dry, log = (os.path.join(base, name) for name in ("crash.h5", "dry", "log"))
        make_start(args, base)
        if args.snapshot:
            workload(args, base, args.snapshot, timeout=None).check_returncode()
        # A dry run lists every change, what it writes where.
        os.mkdir(dry)
        if os.path.exists(start):
            shutil.copy(start, dry)
        workload(args, dry, args.calls, first, timeout=None, VIDEZ5_CRASH_LOG=log).check_returncode()
        changes = changes_of(log, first)
        kills, kinds = chosen_kills(changes, args, rng)
        tally = Tally(args, len(kills))
        for k in kills:
            offset, size, what, _ = changes[k - 1]
            with tempfile.TemporaryDirectory(prefix="videz5-kill-") as d:
                if os.path.exists(start):
                    shutil.copy(start, d)
                run = workload(args, d, args.calls, first, VIDEZ5_CRASH_AT=str(k),
                               VIDEZ5_CRASH_TORN=str(int(args.torn)))
                label = f"change {k} ({size} bytes at {offset}, {what})"
                tally.kill(d, returned(run.stdout.decode()) or args.snapshot, label)
    which = f"{len(kills)} of the {len(changes)} changes" if kinds or args.part[1] > 1 else \
        "every large change" if args.torn else "every change"
    if kinds:
        which += f" (at least one of each of their {kinds} kinds)"
    if args.part[1] > 1:
        which += f" (part {args.part[0]} of {args.part[1]})"
    return tally, f"a kill {'halfway through' if args.torn else 'before'} {which} of calls {first}..{first + args.calls - 1}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["random", "enumerate"])
    parser.add_argument("writer")
    parser.add_argument("shim")
    for option, kind, default in [("--trials", int, 300), ("--calls", int, None), ("--snapshot", int, 0),
                                  ("--held", int, 0), ("--sample", int, 0),
                                  ("--seed", int, os.environ.get("VIDEZ5_CRASH_SEED"))]:
        parser.add_argument(option, type=kind, default=default)
    parser.add_argument("--part", type=lambda v: tuple(int(n) for n in v.split("/")), default=(1, 1))
    for flag in ("--torn", "--latest", "--empty", "--as-left"):
        parser.add_argument(flag, action="store_true")
    args = parser.parse_args()
    if args.calls is None:
        args.calls = 300 if args.mode == "random" else 12
    args.writer, args.shim = os.path.abspath(args.writer), os.path.abspath(args.shim)
    seed = int(args.seed) if args.seed is not None else random.SystemRandom().randrange(1, 1 << 31)
    if args.mode == "random" or args.sample:
        print(f"seed {seed} (VIDEZ5_CRASH_SEED={seed} replays this run)", flush=True)
    started = time.monotonic()
    tally, title = (random_trials if args.mode == "random" else enumerate_kills)(args, random.Random(seed))
    status = tally.report(title + (", newest format" if args.latest else "") + (", from an empty file" if args.empty else "")
                          + (f", one held handle committed every {args.held} calls" if args.held else ""))
    print(f"took {time.monotonic() - started:.0f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
