#!/usr/bin/python3
"""Several processes started at once, each writing its own paths into one file
that does not exist yet (or exists and is empty): every call that returned
must be in the file, whole, the file must be readable, and no process may
print anything but its progress. Mirrors crash_writer.f90's writers. Prints per start
and process count the trials and the calls found intact; exits non-zero when
any trial lost or damaged anything.
--shim CRASH_SHIM preloads the crash shim, which slows every removal of an
undo journal by 20 ms: a writer must be rid of its journal before another can
take the file.
Usage: shared_check.py CRASH_WRITER [--trials N] [--procs 2,4,8] [--calls M] [--starts new,empty] [--shim SHIM]"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from checks import program_env  # noqa: E402


def expected(writer, c):
    """{path: value} that call c of a writer stores."""
    if c % 3 == 0:
        i = np.arange(1, 20001)
        return {f"w{writer}/a{c}": writer * 1000000.0 + c + i / 100000.0}
    if c % 3 == 1:
        r = f"w{writer}/p{c}"
        i = np.arange(1, 193)
        return {r + "/data": (writer * 1000.0 + c + i / 1000.0).reshape(12, 16),
                r + "/X": c + 0.5 * np.arange(1, 17), r + "/Y": writer - 0.5 * np.arange(1, 13),
                r + "/title": np.array([f"w{writer} c{c}".encode()])}
    return {f"w{writer}/k{c}": writer * 1000 + c * 10 + np.arange(1, 4)}


def intact_calls(path, returned):
    """The number of returned calls whose data is whole in the file; None when it does not open."""
    def whole(f, values):
        try:
            return all(np.array_equal(f[p][()], v) for p, v in values.items())
        except Exception:
            return False
    try:
        with h5py.File(path, "r") as f:
            return sum(whole(f, expected(w, c)) for w, last in returned.items() for c in range(1, last + 1))
    except Exception:
        return None


def trial(exe, procs, calls, start, env):
    """One trial: (calls returned, calls intact, what went wrong)."""
    problems, returned = [], {}
    with tempfile.TemporaryDirectory(prefix="videz5-shared-") as d:
        if start == "empty":
            Path(d, "crash.h5").touch()
        writers = [subprocess.Popen([exe, str(calls), "1", str(w)], cwd=d, env=env,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE) for w in range(1, procs + 1)]
        for p in writers:
            p.stdout.readline()  # "ready"
        Path(d, "go").touch()
        for w, p in enumerate(writers, start=1):
            out, err = p.communicate(timeout=300)
            done = [int(line.split()[1]) for line in out.decode().splitlines() if line.startswith("returned ")]
            returned[w] = done[-1] if done else 0
            others = [line for line in out.decode().splitlines() if not line.startswith("returned ")]
            if others:
                problems.append(f"writer {w} printed {len(others)} lines, the first {others[0]!r}")
            if p.returncode != 0:
                problems.append(f"writer {w} exit status {p.returncode}: {err.decode()[-300:]!r}")
        intact = intact_calls(os.path.join(d, "crash.h5"), returned)
    if intact is None:
        problems.append("the file does not open")
        intact = 0
    total = sum(returned.values())
    if intact != total:
        problems.append(f"{total - intact} of {total} returned calls not in the file")
    return total, intact, problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("writer")
    for option, default in [("--trials", 3), ("--procs", "2,4,8"), ("--calls", 30), ("--starts", "new,empty"),
                            ("--shim", "")]:
        parser.add_argument(option, type=type(default), default=default)
    args = parser.parse_args()
    exe = os.path.abspath(args.writer)
    env = program_env(LD_PRELOAD=os.path.abspath(args.shim), VIDEZ5_SLOW_UNLINK="20") if args.shim else program_env()
    failed = 0
    print(f"{'start':6s} {'procs':>5s} {'trials':>6s} {'bad trials':>10s} {'calls returned':>14s} "
          f"{'calls intact':>12s} {'seconds':>7s}")
    for start in args.starts.split(","):
        for procs in (int(p) for p in args.procs.split(",")):
            began = time.monotonic()
            results = [trial(exe, procs, args.calls, start, env) for _ in range(args.trials)]
            notes = [f"  trial {t}: " + "; ".join(problems) for t, (_, _, problems) in enumerate(results) if problems]
            print(f"{start:6s} {procs:5d} {args.trials:6d} {len(notes):10d} {sum(r[0] for r in results):14d} "
                  f"{sum(r[1] for r in results):12d} {time.monotonic() - began:7.0f}", flush=True)
            print("".join(n + "\n" for n in notes[:5]), end="", flush=True)
            failed += len(notes)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
