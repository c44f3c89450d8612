#!/usr/bin/python3
"""Kills the crash workload (crash_writer) and checks what it leaves behind.

  random    --trials N   SIGKILL at a random moment of a running workload;
  enumerate --calls M    a kill right before every change the workload makes
                         to its file or its journal (or, with --torn, halfway
                         through every large write), optionally after
                         --snapshot N calls that ran to completion first.

After every kill the library opens the file once (that open undoes what the
kill left half done); then the file must open with h5py and h5dump, every call
that had returned must be there, whole (a plot record, or an array being
overwritten, holds one call's values, never a mix), every group must list each
of its names once. Then the run is resumed, as a rescheduled job would, and
the file checked again. With --latest the workload writes into a file that h5py
made in HDF5's newest format; --as-left also counts the files a reader other
than this library finds wrong before that open.
Prints the figures; exits non-zero when anything was lost or unreadable.

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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import program_env  # noqa: E402

CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "crash_check.py")
RESUME_CALLS = 12


def returned(out):
    calls = [int(line.split()[1]) for line in out.splitlines() if line.startswith("returned ")]
    return calls[-1] if calls else None


def check(path, first, last):
    """crash_check.check() in a child process: HDF5 can crash on a damaged file."""
    run = subprocess.run([sys.executable, CHECKER, path, str(first), str(last)], capture_output=True, timeout=300)
    if run.returncode != 0:
        reason = f"the reader died ({run.returncode})" if run.returncode < 0 else run.stderr.decode()[-300:]
        return False, 0, list(range(first, last + 1)), [], [reason]
    return tuple(json.loads(run.stdout))


class Tally:
    def __init__(self, as_left):
        self.trials = self.no_file = self.readable = self.returned = self.intact = self.resumed = 0
        self.as_left = 0 if as_left else None
        self.failures = []

    def kill(self, writer, d, last, label):
        """Checks the killed run's file after the library's next open, resumes it, checks again."""
        path = os.path.join(d, "crash.h5")
        if self.as_left is not None:
            readable, _, lost, _, damage = check(path, 1, last)
            self.as_left += readable is False or bool(lost) or bool(damage)
        if os.path.exists(path) and os.path.getsize(path) > 0:
            subprocess.run([writer, "0"], cwd=d, env=program_env(), capture_output=True, timeout=120)
        readable, intact, lost, torn, damage = check(path, 1, last)
        resumed = False
        if readable is not False:
            run = subprocess.run([writer, str(RESUME_CALLS), str(last + 1)], cwd=d, env=program_env(),
                                 capture_output=True, timeout=120)
            again = returned(run.stdout.decode())
            if run.returncode == 0 and again == last + RESUME_CALLS:
                after = check(path, 1, again)
                resumed = after[0] is True and not after[2] and not after[4]
        self.trials += 1
        self.returned += last
        self.intact += intact
        self.no_file += readable is None
        self.readable += readable is True
        self.resumed += resumed
        if readable is False or lost or torn or damage or not resumed:
            self.failures.append(f"{label}: returned 1..{last}: readable={readable} lost={lost} torn={torn} "
                                 f"damage={damage[:4]} resumed={resumed}")

    def report(self, title):
        print(f"== {title}")
        print(f"trials: {self.trials}")
        print(f"readable files: {self.readable} of {self.trials - self.no_file} (no file yet: {self.no_file})")
        print(f"returned calls checked: {self.returned}, intact: {self.intact}")
        print(f"resumed runs whose file then checked whole: {self.resumed} of {self.trials}")
        if self.as_left is not None:
            print(f"files wrong as a reader other than this library found them, before its next open: "
                  f"{self.as_left}")
        for f in self.failures[:40]:
            print("FAIL: " + f)
        return 0 if not self.failures else 1


def make_latest(d):
    """The workload's file as h5py makes it in the newest format, with a group in it."""
    import h5py
    with h5py.File(os.path.join(d, "crash.h5"), "w", libver="latest") as f:
        f.create_group("from_h5py")


def random_trials(args, tally):
    rng = random.Random(args.seed)
    for trial in range(args.trials):
        # Some kills land in the first call, which creates the file; the rest
        # anywhere in a run that has grown to a few hundred calls.
        delay = rng.uniform(0.0, 0.03) if trial % 10 == 0 else rng.uniform(0.0, args.longest)
        with tempfile.TemporaryDirectory(prefix="videz5-crash-") as d:
            if args.latest:
                make_latest(d)
            proc = subprocess.Popen([args.writer], cwd=d, env=program_env(LD_PRELOAD=args.shim),
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            time.sleep(delay)
            proc.send_signal(signal.SIGKILL)
            out, _ = proc.communicate()
            tally.kill(args.writer, d, returned(out.decode()) or 0, f"trial {trial} delay {delay:.4f}s")
    return f"random kills, seed {args.seed}"


def enumerate_kills(args, tally):
    first = args.snapshot + 1
    with tempfile.TemporaryDirectory(prefix="videz5-enum-") as base:
        if args.latest:
            make_latest(base)
        if args.snapshot:
            subprocess.run([args.writer, str(args.snapshot)], cwd=base, env=program_env(), check=True,
                           capture_output=True)
        start = os.path.join(base, "crash.h5")
        # A dry run lists every change, what it writes where.
        dry = os.path.join(base, "dry")
        os.mkdir(dry)
        if os.path.exists(start):
            shutil.copy(start, dry)
        log = os.path.join(base, "log")
        subprocess.run([args.writer, str(args.calls), str(first)], cwd=dry,
                       env=program_env(LD_PRELOAD=args.shim, VIDEZ5_CRASH_LOG=log), check=True, capture_output=True)
        with open(log) as f:
            changes = [line.split() for line in f]
        for k, (_, offset, size, what) in enumerate(changes, start=1):
            if args.torn and int(size) < 8192:
                continue
            with tempfile.TemporaryDirectory(prefix="videz5-kill-") as d:
                if os.path.exists(start):
                    shutil.copy(start, d)
                env = program_env(LD_PRELOAD=args.shim, VIDEZ5_CRASH_AT=str(k), VIDEZ5_CRASH_TORN=str(int(args.torn)))
                run = subprocess.run([args.writer, str(args.calls), str(first)], cwd=d, env=env, capture_output=True,
                                     timeout=120)
                last = returned(run.stdout.decode()) or args.snapshot
                tally.kill(args.writer, d, last, f"change {k} ({size} bytes at {offset}, {what})")
    return f"a kill {'halfway through' if args.torn else 'before'} every change of calls {first}..{first + args.calls - 1}"


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
    parser.add_argument("--as-left", action="store_true", help="also count what h5py finds before the library opens")
    args = parser.parse_args()
    args.writer, args.shim = os.path.abspath(args.writer), os.path.abspath(args.shim)
    started = time.monotonic()
    tally = Tally(args.as_left)
    title = (random_trials if args.mode == "random" else enumerate_kills)(args, tally)
    status = tally.report(title + (", newest format" if args.latest else ""))
    print(f"took {time.monotonic() - started:.0f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
