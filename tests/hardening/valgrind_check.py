#!/usr/bin/python3
"""Runs a test checker with every program it is given run under valgrind
memcheck; the checker compares output and files exactly as in the plain run.
Any memory error, and any block still allocated at exit that is not one of
HDF5's one-time per-thread allocations (valgrind.supp), makes the program
exit with status 99, which fails the checker.
Usage: valgrind_check.py CHECKER ARGUMENTS...  (each executable among the
arguments is replaced by a wrapper that runs it under valgrind)"""
import os
import stat
import subprocess
import sys
import tempfile

VALGRIND_ERROR = 99


def is_program(path):
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF"
    except OSError:
        return False


def main():
    checker, args = sys.argv[1], sys.argv[2:]
    supp = os.path.join(os.path.dirname(os.path.abspath(__file__)), "valgrind.supp")
    with tempfile.TemporaryDirectory(prefix="videz5-valgrind-") as d:
        wrapped = []
        for arg in args:
            if not is_program(arg):
                wrapped.append(arg)
                continue
            # The checker runs a program by path: this one runs the real one under valgrind.
            wrapper = os.path.join(d, os.path.basename(arg))
            with open(wrapper, "w") as f:
                f.write("#!/bin/sh\n"
                        f"exec valgrind --quiet --error-exitcode={VALGRIND_ERROR} --leak-check=full "
                        "--show-leak-kinds=all --errors-for-leak-kinds=all --num-callers=40 "
                        f"--suppressions='{supp}' '{os.path.abspath(arg)}' \"$@\"\n")
            os.chmod(wrapper, os.stat(wrapper).st_mode | stat.S_IXUSR)
            wrapped.append(wrapper)
        return subprocess.run([sys.executable, checker, *wrapped]).returncode


if __name__ == "__main__":
    sys.exit(main())
