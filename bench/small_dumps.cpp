// Small dumps: the per-call cost of writing a 100-double dataset into an
// existing file, as a long-running program does at every output step, against
// the shortest correct sequence of raw HDF5 calls doing the same work.
//
//  - new dataset at g/dNNNNN: raw = open the file read-write, open g, create
//    and write the dataset, close all;
//  - overwrite in place of g/d00000: raw = open the file, open the dataset,
//    check its extent, write, close all.
//
// The library and the raw sequence fill two files in lockstep, one call of
// each per pair, so both groups always hold the same number of datasets.
#include "bench_common.hpp"

namespace {

constexpr int kValues = 100;
constexpr int kRepetitions = 21;  // measured, after one warm-up block
constexpr long kCallsPerRepetition = 200;

}  // namespace

int main() {
    bench::Scratch scratch("small");
    const std::string lib_file = scratch.file("lib.h5");
    const std::string raw_file = scratch.file("raw.h5");
    double data[kValues];
    for (int i = 0; i < kValues; ++i) data[i] = 0.25 * i;

    // Each file made the way its side makes it: the library's first dump
    // creates file and group; the raw side creates them with the core calls.
    bench::lib_dump_doubles(lib_file, "g/d00000", data, kValues);
    {
        hid_t f = H5Fcreate(raw_file.c_str(), H5F_ACC_EXCL, H5P_DEFAULT, bench::raw_access());
        hid_t g = H5Gcreate2(f, "g", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        H5Gclose(g);
        H5Fclose(f);
        bench::raw_new_dataset(raw_file, "d00000", data, kValues);
    }

    long next = 1;
    bench::Repetitions fresh;
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        bench::Block block;
        bench::timed_pairs(
            next, kCallsPerRepetition,
            [&](long j) {
                data[0] = static_cast<double>(j);
                bench::lib_dump_doubles(lib_file, bench::numbered("g/d", j), data, kValues);
            },
            [&](long j) {
                data[0] = static_cast<double>(j);
                bench::raw_new_dataset(raw_file, bench::numbered("d", j), data, kValues);
            },
            block);
        next += kCallsPerRepetition;
        if (rep > 0) fresh.add(block);
    }
    bench::require(bench::links_in(lib_file, "g") == next && bench::links_in(raw_file, "g") == next,
                   "every new dataset written on both sides");

    bench::Repetitions overwrite;
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        bench::Block block;
        bench::timed_pairs(
            0, kCallsPerRepetition,
            [&](long j) {
                data[1] = static_cast<double>(j);
                bench::lib_dump_doubles(lib_file, "g/d00000", data, kValues);
            },
            [&](long j) {
                data[1] = static_cast<double>(j);
                bench::raw_overwrite(raw_file, "g/d00000", data, kValues);
            },
            block);
        if (rep > 0) overwrite.add(block);
    }
    bench::require(bench::links_in(lib_file, "g") == next, "overwrites added no dataset");

    // The file-level calls alone, for judging where a small dump's time goes.
    bench::Repetitions open_close_vs_probe;
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        bench::Block block;
        bench::timed_pairs(
            0, kCallsPerRepetition, [&](long) { bench::require(H5Fis_hdf5(lib_file.c_str()) > 0, "probe"); },
            [&](long) { H5Fclose(H5Fopen(lib_file.c_str(), H5F_ACC_RDWR, H5P_DEFAULT)); }, block);
        if (rep > 0) open_close_vs_probe.add(block);
    }

    std::printf("100 doubles per call, %d repetitions of %ld calls per side after one warm-up block; "
                "groups hold 1 to %ld datasets during the new-dataset runs.\n",
                kRepetitions, kCallsPerRepetition, next);
    bench::table_header("Small dumps (time ratio = library time / raw time, median of per-repetition ratios)");
    const double r_new = fresh.ratio();
    const double r_over = overwrite.ratio();
    bench::table_row("new 100-double dataset at `g/dNNNNN`", bench::us(bench::median(fresh.library)),
                     bench::us(bench::median(fresh.reference)), bench::ratio_text(fresh.ratios()), "≤ 1.10",
                     bench::yes_no(r_new <= 1.10));
    bench::table_row("overwrite in place of `g/d00000`", bench::us(bench::median(overwrite.library)),
                     bench::us(bench::median(overwrite.reference)), bench::ratio_text(overwrite.ratios()), "≤ 1.10",
                     bench::yes_no(r_over <= 1.10));
    bench::table_row("(context) `H5Fis_hdf5` vs `H5Fopen`+`H5Fclose` of that file",
                     bench::us(bench::median(open_close_vs_probe.library)),
                     bench::us(bench::median(open_close_vs_probe.reference)),
                     bench::ratio_text(open_close_vs_probe.ratios()), "(none)", "-");
    std::printf("\nPer-call figures are means without each side's slowest tenth of calls; with plain means the "
                "ratios are %.3f (new) and %.3f (overwrite).\n",
                fresh.plain(), overwrite.plain());
    return 0;
}
