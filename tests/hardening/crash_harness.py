#!/usr/bin/python3
"""Kills the crash workload (crash_writer) and checks what it leaves behind.

  random    --trials N   SIGKILL at a random moment of a running workload;
                         the phase of the call it hit comes from the preloaded
                         shim's trace of the latest file access.
  enumerate --calls M    a kill right before every change the workload makes
                         to its file (or, with --torn, halfway through every
                         large write), optionally after --snapshot N calls
                         that ran to completion first.

After every kill: the file must open with h5py and h5dump, every call that had
returned must have left its data intact (a plot record, or an array being
overwritten, holds one call's values, never a mix), every group must list each
of its names once, and every object must be readable. Then the run is resumed,
as a rescheduled job would, and the file checked again.

With --latest the workload writes into a file that h5py made in HDF5's newest
format (libver='latest': superblock version 3, new-style groups).
Prints the figures; exits non-zero when anything was lost or unreadable.

Usage: crash_harness.py MODE WRITER SHIM [options]"""
import argparse
import collections
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import program_env  # noqa: E402

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "crash_check.py")

RESUME_CALLS = 12


def writer_env(extra=None):
    return program_env(**(extra or {}))


def returned(out):
    calls = [int(l.split()[1]) for l in out.splitlines() if l.startswith("returned ")]
    return calls[-1] if calls else None


class Tally:
    def __init__(self):
        self.trials = 0
        self.no_file = 0  # killed before the file existed
        self.readable = 0
        self.returned_calls = 0
        self.intact_calls = 0
        self.torn = 0
        self.resumed_ok = 0
        self.phases = collections.Counter()
        self.bad_phases = collections.Counter()
        self.failures = []
        self.as_left = None  # files wrong before the library's next open, when counted

    def record(self, label, phase, first, last, result, resumed):
        readable, intact, lost, torn, damage = result
        self.trials += 1
        self.phases[phase] += 1
        self.returned_calls += last - first + 1
        self.intact_calls += intact
        self.torn += len(torn)
        if readable is None:
            self.no_file += 1
        elif readable:
            self.readable += 1
        if resumed:
            self.resumed_ok += 1
        if readable is False or lost or damage or not resumed:
            self.bad_phases[phase] += 1
            self.failures.append(f"{label} [{phase}] returned {first}..{last}: readable={readable} lost={lost} "
                                 f"damage={damage[:4]} resumed={resumed}")

    def record_as_left(self, result):
        readable, intact, lost, torn, damage = result
        self.as_left = (self.as_left or 0) + (readable is False or bool(lost) or bool(damage))

    def report(self, title):
        print(f"== {title}")
        print(f"trials: {self.trials}")
        files = self.trials - self.no_file
        print(f"readable files: {self.readable} of {files} (no file yet: {self.no_file})")
        print(f"returned calls checked: {self.returned_calls}, intact: {self.intact_calls}")
        print(f"arrays caught mid-overwrite by the unfinished call (part old, part new): {self.torn}")
        print(f"resumed runs whose file then checked whole: {self.resumed_ok} of {self.trials}")
        if self.as_left is not None:
            print(f"files wrong as a reader other than this library found them, before its next open: "
                  f"{self.as_left}")
        print("kills by phase (entry point / HDF5 routine of the latest file access), failures:")
        for phase, n in sorted(self.phases.items(), key=lambda kv: -kv[1]):
            print(f"  {phase:45s} {n:5d}  {self.bad_phases[phase]}")
        for f in self.failures[:40]:
            print("FAIL: " + f)
        return 0 if not self.failures else 1


def check(path, first, last):
    """crash_check.check() in a child process: HDF5 can crash on a damaged file."""
    run = subprocess.run([sys.executable, CHECKER, path, str(first), str(last)], capture_output=True, timeout=300)
    if run.returncode != 0:
        reason = f"the reader died ({run.returncode})" if run.returncode < 0 else run.stderr.decode()[-300:]
        return False, 0, list(range(first, last + 1)), [], [reason]
    return tuple(json.loads(run.stdout))


def check_and_resume(writer, d, first, last, tally=None):
    """Checks the killed run's file once the library has opened it again (that
    open undoes what the kill left half done), resumes the run, checks again.
    With a tally, also counts what a reader that is not this library saw before."""
    path = os.path.join(d, "crash.h5")
    if tally is not None:
        tally.record_as_left(check(path, first, last))
    if os.path.exists(path) and os.path.getsize(path) > 0:
        subprocess.run([writer, "0"], cwd=d, env=writer_env(), capture_output=True, timeout=120)
    result = check(path, first, last)
    if result[0] is False:
        return result, False
    start = last + 1
    run = subprocess.run([writer, str(RESUME_CALLS), str(start)], cwd=d, env=writer_env(), capture_output=True,
                         timeout=120)
    again = returned(run.stdout.decode())
    if run.returncode != 0 or again != start + RESUME_CALLS - 1:
        return result, False
    # The repeated call rewrites whatever the killed one left half done.
    after = check(path, first, again)
    return result, after[0] is True and not after[2] and not after[4]


def read_trace(path):
    try:
        with open(path, "rb") as f:
            text = f.read(256).decode(errors="replace").strip()
        return text or "before any file access"
    except OSError:
        return "before any file access"


def make_latest(d):
    """The workload's file as h5py makes it in the newest format, with a group in it."""
    import h5py
    with h5py.File(os.path.join(d, "crash.h5"), "w", libver="latest") as f:
        f.create_group("from_h5py")


def random_trials(args):
    rng = random.Random(args.seed)
    tally = Tally()
    for trial in range(args.trials):
        # Some kills land in the first call, which creates the file; the rest
        # anywhere in a run that has grown to a few hundred calls.
        delay = rng.uniform(0.0, 0.03) if trial % 10 == 0 else rng.uniform(0.0, args.longest)
        with tempfile.TemporaryDirectory(prefix="videz5-crash-") as d:
            if args.latest:
                make_latest(d)
            trace = os.path.join(d, "trace")
            env = writer_env({"LD_PRELOAD": args.shim, "VIDEZ5_CRASH_TRACE": trace})
            proc = subprocess.Popen([args.writer], cwd=d, env=env, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL)
            time.sleep(delay)
            proc.send_signal(signal.SIGKILL)
            out, _ = proc.communicate()
            last = returned(out.decode())
            last = 0 if last is None else last
            phase = read_trace(trace)
            os.environ.pop("LD_PRELOAD", None)
            result, resumed = check_and_resume(args.writer, d, 1, last, tally if args.as_left else None)
            tally.record(f"trial {trial} delay {delay:.4f}s", phase, 1, last, result, resumed)
    return tally.report(f"random kills, seed {args.seed}{', newest format' if args.latest else ''}")


def enumerate_kills(args):
    with tempfile.TemporaryDirectory(prefix="videz5-enum-") as base:
        first = args.snapshot + 1
        if args.latest:
            make_latest(base)
        if args.snapshot:
            subprocess.run([args.writer, str(args.snapshot)], cwd=base, env=writer_env(), check=True,
                           capture_output=True)
        # A dry run names the phase of every change.
        dry = os.path.join(base, "dry")
        os.mkdir(dry)
        if args.snapshot or args.latest:
            shutil.copy(os.path.join(base, "crash.h5"), dry)
        log = os.path.join(base, "log")
        subprocess.run([args.writer, str(args.calls), str(first)], cwd=dry,
                       env=writer_env({"LD_PRELOAD": args.shim, "VIDEZ5_CRASH_LOG": log}), check=True,
                       capture_output=True)
        with open(log) as f:
            changes = [line.split() for line in f]
        tally = Tally()
        for k in range(1, len(changes) + 1):
            size = int(changes[k - 1][3])
            if args.torn and size < 8192:
                continue
            with tempfile.TemporaryDirectory(prefix="videz5-kill-") as d:
                if args.snapshot or args.latest:
                    shutil.copy(os.path.join(base, "crash.h5"), d)
                extra = {"LD_PRELOAD": args.shim, "VIDEZ5_CRASH_AT": str(k)}
                if args.torn:
                    extra["VIDEZ5_CRASH_TORN"] = "1"
                run = subprocess.run([args.writer, str(args.calls), str(first)], cwd=d, env=writer_env(extra),
                                     capture_output=True, timeout=120)
                last = returned(run.stdout.decode())
                last = args.snapshot if last is None else last
                result, resumed = check_and_resume(args.writer, d, 1, last, tally if args.as_left else None)
                what = changes[k - 1]
                tally.record(f"change {k} ({what[3]} bytes at {what[2]}, {what[4] if len(what) > 4 else ''})",
                             what[1], 1, last, result, resumed)
    title = f"a kill {'halfway through' if args.torn else 'before'} every change of calls {first}.." \
            f"{first + args.calls - 1}{', newest format' if args.latest else ''}"
    return tally.report(title)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["random", "enumerate"])
    parser.add_argument("writer")
    parser.add_argument("shim")
    parser.add_argument("--trials", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--longest", type=float, default=1.5, help="longest random delay, seconds")
    parser.add_argument("--calls", type=int, default=12)
    parser.add_argument("--snapshot", type=int, default=0)
    parser.add_argument("--torn", action="store_true")
    parser.add_argument("--latest", action="store_true", help="start from a file in HDF5's newest format")
    parser.add_argument("--as-left", action="store_true",
                        help="also count the files that h5py finds wrong before the library opens them again")
    args = parser.parse_args()
    args.writer = os.path.abspath(args.writer)
    args.shim = os.path.abspath(args.shim)
    started = time.monotonic()
    status = random_trials(args) if args.mode == "random" else enumerate_kills(args)
    print(f"took {time.monotonic() - started:.0f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
