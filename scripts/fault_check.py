#!/usr/bin/python3
"""The deliberate-fault check: plants one fault at a time in a scratch copy of
the sources, builds it and runs the test suite (fast tests first, stopping at
the first failure), and reports which test caught each fault. A suite is as
strong as the faults it catches, not as long as it is.

Each fault is anchored to a marker comment in the sources, "fault-check: ID",
at the end of the line it changes (or alone on the line above it), so that it
follows its line wherever edits move it. A marker that is gone, found twice, or
whose line no longer holds the text to change fails the check loudly; so does a
marker that no fault names.

Usage: scripts/fault_check.py --check          every marker in place, nothing planted (seconds)
       scripts/fault_check.py [--only ID,...] [--keep DIR] [--jobs N]
Needs the packages scripts/setup.sh installs. Prints a Markdown table; exits
non-zero when a fault went uncaught or a marker is not in place."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = ("src", "include", "fortran")
MARKER = re.compile(r"//\s*fault-check:\s*(\S+)\s*$")

# (marker, what the fault does, text on the marked line, text with the fault planted)
FAULTS = [
    ("text-nul", "a Fortran text is not cut at its NUL",
     "const void* nul = std::memchr(chars, '\\0', *length);", "const void* nul = nullptr;"),
    ("path-leading-slash", "a leading slash of a path is not skipped", "if (p == 0) {", "if (p == 0 && false) {"),
    ("reverse-sizes", "Fortran sizes are not reversed",
     "for (const unsigned int size : {dim3, dim2, dim1})", "for (const unsigned int size : {dim1, dim2, dim3})"),
    ("drop-zero-sizes", "sizes of 0 are not dropped",
     "if (size != 0) dims.push_back(size);", "dims.push_back(size == 0 ? 1 : size);"),
    ("printing-generation", "error printing saved with the 1.6 call only",
     "if (H5Eauto_is_v2(H5E_DEFAULT, &is_v2_) < 0) return;",
     "if (H5Eauto_is_v2(H5E_DEFAULT, &is_v2_) < 0) return;\n    is_v2_ = 0;"),
    ("refuse-changed-size", "a changed size is not refused", "if (stored[i] != dims_[i]) {", "if (false) {"),
    ("refuse-changed-rank", "a changed rank is not refused", "if (stored_rank != rank_) {", "if (false) {"),
    ("walk-closes-groups", "the groups of a walk are left open", "close_path(components_, chain_, offset_);",
     "(void)0;"),
    ("handle-keeps-whole-id", "handles cut identifiers to 32 bits", "Entry{id, parent",
     "Entry{static_cast<int>(id), parent"),
    ("strings-blank-padded", "strings dumped null-padded instead of blank-padded",
     "Hid type = own_type(H5Tcopy(H5T_FORTRAN_S1));", "Hid type = own_type(H5Tcopy(H5T_C_S1));"),
    ("plot-axes-in-place", "a plot record's axes swapped",
     "H5T_NATIVE_DOUBLE, y, numbers, fresh);", "H5T_NATIVE_DOUBLE, x, numbers, fresh);"),
    ("nxdata-axes-order", "the NXdata axes in the wrong order",
     'Names{"Y", "X"}', 'Names{"X", "Y"}'),
    ("scales-follow-layout", "a record's dimension scales on the wrong axis",
     "H5DSattach_scale(data.get(), y.get(), 0)", "H5DSattach_scale(data.get(), x.get(), 0)"),
    ("viewer-follows-replace", "a replaced record's viewer group keeps the old datasets",
     "const bool relink = whole || changes.new_axes;", "const bool relink = whole;"),
    ("read-missing-file-aborts", "a read of a missing file does not abort",
     "if (must_exist && !file_exists(name)) {", "if (false) {"),
    ("dump-bad-code-aborts", "a bad type code on a dump does not abort",
     "if (!valid_element_code(*type_code)) end_process();", "if (!valid_element_code(*type_code)) return;"),
    ("sizes-describe-array", "sizes that cannot describe an array are taken", "if (fits) return true;",
     "return true;"),
    # Several writers, whole records, no silent loss.
    ("filled-file-kept", "a file another process filled is written over",
     "if (!S_ISREG(st.st_mode) || st.st_size != 0) return 0;", "if (!S_ISREG(st.st_mode)) return 0;"),
    ("refused-record-unwritten", "a refused plot record is written in part",
     "if (write.refused()) return VIDEZ5_WRITE_REFUSED;", "if (write.refused()) {}"),
    ("longer-title-kept", "a longer title is cut",
     "if (mismatch == OnMismatch::kLongerText && stored_type.valid()", "if (false && stored_type.valid()"),
    ("replace-changes-shape", "replace= refuses a dataset of another size", "if (replace) return Action::kReplace;",
     "if (false) return Action::kReplace;"),
    ("replaced-keeps-attributes", "a replaced dataset loses its attributes",
     "if (create(&made) < 0 || put_attributes(made.get(), carried) < 0) return -1;",
     "if (create(&made) < 0) return -1;"),
    ("write-status-told", "a refused write reports success to status=", "int status = VIDEZ5_WRITE_REFUSED;",
     "int status = VIDEZ5_OK;"),
    ("exact-values-only", "values the stored type cannot hold go in",
     "if (H5Tequal(from, to) > 0) return true;", "return true;"),
    ("archived-file-readable", "an archived file cannot be read",
     "if (reading && (error == EACCES", "if (false && (error == EACCES"),
    ("failed-open-says-why", "a failed open does not say why",
     'say("CANNOT OPEN FILE IN open_h5_file( " + name + " ): " + cause);', ""),
    ("locked-file-waited-for", "a locked file is not waited for", "if (!patience.pause()) {", "if (true) {"),
    ("existing-file-not-created", "an attribute write creates the file it names",
     "if (!file_exists(name_text)) {", "if (false) {"),
    ("attribute-text-not-cut", "an attribute's text is cut to the value's length",
     "if (stored.longest_text > size) return VIDEZ5_TYPE_MISMATCH;", "if (false) return VIDEZ5_TYPE_MISMATCH;"),
    ("delete-forgets-kept-groups", "a deleted group stays among those a held file keeps open",
     "if (status == VIDEZ5_OK) forget_kept_groups();", "(void)status;"),
    # Crashes.
    ("staged-raw-new-only", "small raw writes over stored bytes wait for the commit unjournaled",
     "if (type == H5FD_MEM_DRAW && addr >= s.epoch_eof && !s.journal.active() && size <= kStagedRawWrite &&",
     "if (type == H5FD_MEM_DRAW && !s.journal.active() && size <= kStagedRawWrite &&"),
    ("overwrite-journaled", "an overwrite in place is not journaled",
     "if (raw_write_needs_undo(s, addr, size)) {", "if (false) {"),
    ("split-journaled", "a group index node split is not journaled",
     "if (now < before->second) return true;", "if (now < before->second) return false;"),
    ("cut-not-below-stated-end", "the file is cut below the end its superblock states",
     "const haddr_t end = std::max(s.eoa, s.stated_eof);", "const haddr_t end = s.eoa;"),
    ("stale-flags-cleared", "flags a killed writer left are not cleared",
     "s.show_cleared = s.locked && s.stale_flags;", "s.show_cleared = false;"),
    ("undo-cuts-new-space", "an undone epoch's new space is kept",
     "ftruncate(fd, static_cast<off_t>(end)) != 0", "false"),
    ("no-progress-is-an-error", "a write that makes no progress is tried again for good",
     "if (n == 0) return EIO;", "if (n == 0) continue;"),
    ("journal-makes-room", "the journal stays where HDF5 is about to write",
     "if (!live_ || end <= at_) return true;", "return true;"),
    ("undo-checks-blocks", "an undo goes over bytes that another program wrote since",
     "if (std::memcmp(now.data(), undone.data(), n) == 0) continue;", "continue;"),
    ("raw-writes-not-held-back", "raw data waits in HDF5's sieve buffer, whose failed close crashes at exit",
     "fapl >= 0 && H5Pset_sieve_buf_size(fapl, 0) >= 0;", "fapl >= 0;"),
    ("group-close-tells", "a failed commit at a group handle's close is told by a later call",
     "return told_close(name, H5Gclose(group_id));", "return H5Gclose(group_id);"),
    ("gave-up-stops", "a call that gave up on a lock goes on and prints more",
     "target.gave_up_ = take_gave_up_on_lock();", "take_gave_up_on_lock();"),
    ("one-call-at-a-time", "calls from two threads share the handle table unlocked",
     "const std::lock_guard<std::recursive_mutex> one_at_a_time(entry_lock());", ""),
    ("lockless-noted", "a file system without locks goes untold",
     "note_lockless(s.name);", "(void)0;"),
    ("beside-journal-owners-alone", "a journal beside the file that another user could have put there is applied",
     "if (js.st_uid != st.st_uid || (js.st_mode & (S_IWGRP | S_IWOTH)) != 0 || !S_ISREG(js.st_mode)) {",
     "if (false) {"),
    ("records-checked", "a journal record that does not check is applied",
     "get_le64(sum) != record_sum(seed, head, payload.data(), payload.size()))", "false)"),
    ("block-fits", "a block past the end of its dataset is taken",
     "if (start[i] > shape[i] || dims[i] > shape[i] - start[i]) return false;", "if (false) return false;"),
    ("doubles-never-floats", "doubles read as floats when their values happen to fit",
     "rounds_floats(stored_type.get(), type_id))", "false)"),
    ("blocks-filled", "what the blocks of a new dataset leave is not filled",
     "if (shared_ != nullptr && shared_->leaves_gaps) {", "if (false) {"),
]

# Fast tests first: a fault is caught at the first test that fails.
# (ctest's regular expressions have no look-ahead: the crash tests are excluded apart.)
STAGES = [("^(unit|fortran)\\.", None), ("^(hardening|package)\\.", "crash"), ("^hardening\\.crash", None)]


def markers(tree):
    """{marker: [(file, index of the line it marks), ...]} over the sources."""
    found = {}
    for top in SOURCES:
        for d, _, names in os.walk(os.path.join(tree, top)):
            for name in sorted(names):
                path = os.path.join(d, name)
                try:
                    with open(path) as f:
                        lines = f.read().split("\n")
                except UnicodeDecodeError:
                    continue
                for i, line in enumerate(lines):
                    m = MARKER.search(line)
                    if m:
                        alone = line[:m.start()].strip() == ""
                        found.setdefault(m.group(1), []).append((path, i + 1 if alone else i))
    return found


def problems(tree):
    """What keeps a fault from being planted exactly where it belongs; empty when all is in place."""
    found, out = markers(tree), []
    for marker, _, good, bad in FAULTS:
        places = found.pop(marker, [])
        if len(places) != 1:
            out.append(f"marker '{marker}': found {len(places)} times, not once")
            continue
        path, i = places[0]
        with open(path) as f:
            lines = f.read().split("\n")
        if i >= len(lines) or lines[i].count(good) != 1 or good == bad:
            out.append(f"marker '{marker}' ({os.path.relpath(path, tree)}:{i + 1}): "
                       f"the line does not hold {good!r} once")
    out += [f"marker '{m}' ({os.path.relpath(p, tree)}:{i + 1}): no fault names it"
            for m, places in found.items() for p, i in places]
    return out


def plant(tree, marker, good, bad):
    """Plants the fault; returns what puts the file back."""
    path, i = markers(tree)[marker][0]
    with open(path) as f:
        original = f.read()
    lines = original.split("\n")
    lines[i] = lines[i].replace(good, bad)
    with open(path, "w") as f:
        f.write("\n".join(lines))

    def restore():
        with open(path, "w") as f:
            f.write(original)
    return restore


def run(cmd, cwd, timeout=3600):
    return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout)


def first_failure(build, jobs):
    for include, exclude in STAGES:
        r = run(["ctest", f"-j{jobs}", "-R", include, *(["-E", exclude] if exclude else []), "--stop-on-failure",
                 "--timeout", "600"], build)
        for line in r.stdout.splitlines():
            if "***" in line or "(Failed)" in line or "(Timeout)" in line or "(SEGFAULT)" in line:
                return line.split(":", 1)[-1].split("...")[0].strip() or line.strip()
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--check", action="store_true", help="only check that every marker is in place")
    parser.add_argument("--only", help="comma-separated markers (or 1-based numbers) of the faults to plant")
    parser.add_argument("--keep", help="scratch directory to use and keep (a clone of the sources)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    args = parser.parse_args()
    wrong = problems(ROOT)
    for p in wrong:
        print("FAULT CHECK: " + p)
    if args.check or wrong:
        if not wrong:
            print(f"fault check: all {len(FAULTS)} markers in place")
        return 2 if wrong else 0
    names = [m for m, *_ in FAULTS]
    chosen = range(1, len(FAULTS) + 1)
    if args.only:
        chosen = [int(n) if n.isdigit() else names.index(n) + 1 for n in args.only.split(",")]

    scratch = args.keep or tempfile.mkdtemp(prefix="videz5-faults-")
    tree = os.path.join(scratch, "src-tree")
    if not os.path.isdir(tree):
        shutil.copytree(ROOT, tree, ignore=shutil.ignore_patterns("build*", ".git"))
    build = os.path.join(tree, "build")
    if run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
            "-DVIDEZ5_BUILD_EXAMPLES=OFF"], tree).returncode != 0:
        sys.exit("configure failed")
    if run(["cmake", "--build", build, f"-j{args.jobs}"], tree).returncode != 0:
        sys.exit("the sources without a fault do not build")
    uncaught = 0
    print("| # | fault | caught by | seconds |\n|---|---|---|---|", flush=True)
    for n in chosen:
        marker, what, good, bad = FAULTS[n - 1]
        started = time.monotonic()
        restore = plant(tree, marker, good, bad)
        try:
            if run(["cmake", "--build", build, f"-j{args.jobs}"], tree).returncode != 0:
                caught = "(does not build)"
            else:
                caught = first_failure(build, args.jobs)
        finally:
            restore()
        if caught is None:
            uncaught += 1
            caught = "**not caught**"
        print(f"| {n} | {what} (`{marker}`) | {caught} | {time.monotonic() - started:.0f} |", flush=True)
    # The last fault's objects must not outlive the run in a kept tree.
    run(["cmake", "--build", build, f"-j{args.jobs}"], tree)
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    return 1 if uncaught else 0


if __name__ == "__main__":
    sys.exit(main())
