#!/usr/bin/python3
"""The deliberate-fault check: plants one fault at a time in a scratch copy of
the sources, builds it and runs the test suite (fast tests first, stopping at
the first failure), and reports which test caught each fault. A suite is as
strong as the faults it catches, not as long as it is.

Usage: scripts/fault_check.py [--only N,M] [--keep DIR]
Needs the packages scripts/setup.sh installs. Prints a Markdown table; exits
non-zero when a fault went uncaught."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (what the fault does, file, text as it stands, text with the fault planted)
FAULTS = [
    ("a Fortran text is not cut at its NUL", "src/text/text.cpp",
     "const void* nul = std::memchr(chars, '\\0', *length);", "const void* nul = nullptr;"),
    ("a leading slash of a path is not skipped", "src/text/text.cpp", "if (p == 0) {", "if (p == 0 && false) {"),
    ("Fortran sizes are not reversed", "src/transfer/arrays.cpp",
     "for (const unsigned int size : {dim3, dim2, dim1})", "for (const unsigned int size : {dim1, dim2, dim3})"),
    ("sizes of 0 are not dropped", "src/transfer/arrays.cpp",
     "if (size != 0) dims.push_back(size);", "dims.push_back(size == 0 ? 1 : size);"),
    ("error printing saved with the 1.6 call only", "src/detail/error_printing.hpp",
     "if (H5Eauto_is_v2(H5E_DEFAULT, &is_v2_) < 0) return;",
     "if (H5Eauto_is_v2(H5E_DEFAULT, &is_v2_) < 0) return;\n    is_v2_ = 0;"),
    ("a changed size is not refused", "src/transfer/guarded_write.cpp",
     "if (stored[i] != dims_[i]) {", "if (false) {"),
    ("a changed rank is not refused", "src/transfer/guarded_write.cpp",
     "if (stored_rank != rank_) {", "if (false) {"),
    ("the groups of a walk are left open", "src/access/groups.cpp",
     "PathWalk::~PathWalk() { close_path(components_, chain_, offset_); }", "PathWalk::~PathWalk() {}"),
    ("handles cut identifiers to 32 bits", "src/binding/entry_points.cpp",
     "t.ids.emplace(++t.last, id);", "t.ids.emplace(++t.last, static_cast<int>(id));"),
    ("strings dumped null-padded instead of blank-padded", "src/transfer/arrays.cpp",
     "Hid type = own_type(H5Tcopy(H5T_FORTRAN_S1));", "Hid type = own_type(H5Tcopy(H5T_C_S1));"),
    ("a plot record's axes swapped", "src/plot/printh5.cpp",
     'writes.emplace_back(record, "Y", 1, &dims[0], H5T_NATIVE_DOUBLE, y);',
     'writes.emplace_back(record, "Y", 1, &dims[0], H5T_NATIVE_DOUBLE, x);'),
    ("the NXdata axes in the wrong order", "src/plot/printh5.cpp",
     'std::vector<std::string>{"Y", "X"}', 'std::vector<std::string>{"X", "Y"}'),
    ("a read of a missing file does not abort", "src/access/files.cpp",
     "if (must_exist && !file_exists(name)) {", "if (false) {"),
    ("a bad type code on a dump does not abort", "src/binding/entry_points.cpp",
     "if (!videz5::detail::valid_element_code(*type_code)) std::abort();",
     "if (!videz5::detail::valid_element_code(*type_code)) return;"),
    ("sizes that cannot describe an array are taken", "src/binding/array_sizes.cpp",
     "if (fits) return true;", "return true;"),
    # Several writers, whole records, no silent loss.
    ("a file another process filled is written over", "src/access/files.cpp",
     "if (!S_ISREG(st.st_mode) || st.st_size != 0) return 0;", "if (!S_ISREG(st.st_mode)) return 0;"),
    ("a refused plot record is written in part", "src/plot/printh5.cpp",
     "if (write.refused()) return -1;", "if (write.refused()) {}"),
    ("a longer title is cut", "src/transfer/guarded_write.cpp",
     "if (may_grow && stored_type.valid()", "if (false && stored_type.valid()"),
    ("values the stored type cannot hold go in", "src/transfer/exactness.cpp",
     "    if (H5Tequal(from, to) > 0) return true;", "    return true;"),
    ("an archived file cannot be read", "src/access/files.cpp",
     "if (reading && (error == EACCES", "if (false && (error == EACCES"),
    ("a failed open does not say why", "src/access/files.cpp",
     'say("CANNOT OPEN FILE IN open_h5_file( " + name + " ): " + cause);', ""),
    ("a locked file is not waited for", "src/access/files.cpp",
     "if (!patience.pause()) {", "if (true) {"),
    # Crashes.
    ("an overwrite in place is not journaled", "src/driver/ordered_driver.cpp",
     "if (addr < s.epoch_eof) {", "if (false) {"),
    ("a group index node split is not journaled", "src/driver/ordered_driver.cpp",
     "if (now < before->second) return true;", "if (now < before->second) return false;"),
    ("flags a killed writer left are not cleared", "src/driver/ordered_driver.cpp",
     "s.show_cleared = s.stale_flags;", "s.show_cleared = false;"),
    ("an undone epoch's new space is kept", "src/driver/undo_journal.cpp",
     "ftruncate(data_fd, static_cast<off_t>(get64(header + 8))) != 0", "false"),
    ("a write that makes no progress is tried again for good", "src/driver/ordered_driver.cpp",
     "if (n == 0) return EIO;", "if (n == 0) continue;"),
]

# Fast tests first: a fault is caught at the first test that fails.
# (ctest's regular expressions have no look-ahead: the crash tests are excluded apart.)
STAGES = [("^(unit|fortran)\\.", None), ("^(hardening|package)\\.", "crash"), ("^hardening\\.crash", None)]


def run(cmd, cwd, timeout=3600):
    return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout)


def first_failure(build):
    for include, exclude in STAGES:
        r = run(["ctest", "-j2", "-R", include, *(["-E", exclude] if exclude else []), "--stop-on-failure",
                 "--timeout", "600"], build)
        for line in r.stdout.splitlines():
            if "***" in line or "(Failed)" in line or "(Timeout)" in line or "(SEGFAULT)" in line:
                return line.split(":", 1)[-1].split("...")[0].strip() or line.strip()
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--only", help="comma-separated fault numbers (1-based)")
    parser.add_argument("--keep", help="scratch directory to use and keep (a clone of the sources)")
    args = parser.parse_args()
    chosen = [int(n) for n in args.only.split(",")] if args.only else range(1, len(FAULTS) + 1)
    scratch = args.keep or tempfile.mkdtemp(prefix="videz5-faults-")
    tree = os.path.join(scratch, "src-tree")
    if not os.path.isdir(tree):
        shutil.copytree(ROOT, tree, ignore=shutil.ignore_patterns("build*", ".git"))
    build = os.path.join(tree, "build")
    if run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
            "-DVIDEZ5_BUILD_EXAMPLES=OFF"], tree).returncode != 0:
        sys.exit("configure failed")
    uncaught = 0
    print("| # | fault | caught by | seconds |\n|---|---|---|---|", flush=True)
    for n in chosen:
        what, path, good, bad = FAULTS[n - 1]
        source = os.path.join(tree, path)
        with open(source) as f:
            original = f.read()
        if original.count(good) != 1:
            print(f"| {n} | {what} | **the text to change is not in {path} once** | |", flush=True)
            uncaught += 1
            continue
        started = time.monotonic()
        try:
            with open(source, "w") as f:
                f.write(original.replace(good, bad))
            if run(["cmake", "--build", build, "-j2"], tree).returncode != 0:
                caught = "(does not build)"
            else:
                caught = first_failure(build)
        finally:
            with open(source, "w") as f:
                f.write(original)
        if caught is None:
            uncaught += 1
            caught = "**not caught**"
        print(f"| {n} | {what} | {caught} | {time.monotonic() - started:.0f} |", flush=True)
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if uncaught else 0


if __name__ == "__main__":
    sys.exit(main())
