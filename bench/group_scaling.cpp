// Scaling with the group size: 50,000 dumps of 100 doubles into one group, one
// call per dump (file opened and closed each time), library and raw sequence
// filling two files in lockstep. The per-call cost is taken at the 100th,
// 1,000th, 10,000th and 50,000th dataset, and both file sizes at the end.
//
// HDF5's own cost grows with the group (symbol-table B-tree and local heap),
// and so do its files under open/close-per-dump use; the library must add
// neither time nor bytes on top of that.
#include "bench_common.hpp"

#include <array>

namespace {

constexpr int kValues = 100;
constexpr long kLast = 50000;
constexpr std::array<long, 4> kCheckpoints = {100, 1000, 10000, 50000};
// Further on, 15 blocks of 20 pairs end at the k-th dataset (calls k-299 to k).
// The first checkpoint has too few calls before it for that: each of its blocks
// is the 81st to 100th dataset of a pair of new files of its own (the first pair
// a warm-up), which the long run below passes through only once.
constexpr long kBlocks = 15;
constexpr long kBlock = 20;

void raw_create(const std::string& file) {
    hid_t f = H5Fcreate(file.c_str(), H5F_ACC_EXCL, H5P_DEFAULT, bench::raw_access());
    bench::require(f >= 0, "raw H5Fcreate");
    hid_t g = H5Gcreate2(f, "g", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    H5Gclose(g);
    H5Fclose(f);
}

struct Checkpoint {
    long k;
    bench::Repetitions reps;
    bench::Block block;
    long long lib_size = 0, raw_size = 0;
};

}  // namespace

int main() {
    bench::Scratch scratch("scaling");
    const std::string lib_file = scratch.file("lib.h5");
    const std::string raw_file = scratch.file("raw.h5");
    double data[kValues];
    for (int i = 0; i < kValues; ++i) data[i] = 0.5 * i;

    // The first dataset: the library creates file and group on its own; the raw side with the core calls.
    bench::lib_dump_doubles(lib_file, bench::numbered("g/d", 1), data, kValues);
    raw_create(raw_file);
    bench::raw_new_dataset(raw_file, bench::numbered("d", 1), data, kValues);

    std::array<Checkpoint, kCheckpoints.size()> points;
    for (std::size_t c = 0; c < points.size(); ++c) points[c].k = kCheckpoints[c];

    auto dump_pair = [&](const std::string& lib, const std::string& raw, long first, long calls, bench::Block& block) {
        bench::timed_pairs(
            first, calls,
            [&](long n) {
                data[0] = static_cast<double>(n);
                bench::lib_dump_doubles(lib, bench::numbered("g/d", n), data, kValues);
            },
            [&](long n) {
                data[0] = static_cast<double>(n);
                bench::raw_new_dataset(raw, bench::numbered("d", n), data, kValues);
            },
            block);
    };

    // The first checkpoint, in new pairs of files.
    const long first_k = kCheckpoints[0];
    for (long rep = 0; rep <= kBlocks; ++rep) {
        const std::string lib = scratch.file("small-lib.h5");
        const std::string raw = scratch.file("small-raw.h5");
        unlink(lib.c_str());
        unlink(raw.c_str());
        bench::lib_dump_doubles(lib, bench::numbered("g/d", 1), data, kValues);
        raw_create(raw);
        bench::raw_new_dataset(raw, bench::numbered("d", 1), data, kValues);
        bench::Block untimed, block;
        dump_pair(lib, raw, 2, first_k - kBlock - 1, untimed);
        dump_pair(lib, raw, first_k - kBlock + 1, kBlock, block);
        if (rep > 0) points[0].reps.add(block);
        bench::require(bench::links_in(lib, "g") == first_k && bench::links_in(raw, "g") == first_k,
                       "every dataset of a short run written on both sides");
        unlink(lib.c_str());
        unlink(raw.c_str());
    }

    const double start = bench::now();
    for (long j = 2; j <= kLast; ++j) {
        bench::Block call;
        dump_pair(lib_file, raw_file, j, 1, call);
        for (Checkpoint& p : points) {
            const long first = p.k - kBlocks * kBlock + 1;
            if (p.k != first_k && j >= first && j <= p.k) {
                p.block.library.push_back(call.library[0]);
                p.block.reference.push_back(call.reference[0]);
                if ((j - first + 1) % kBlock == 0) {
                    p.reps.add(p.block);
                    p.block.clear();
                }
            }
            if (j == p.k) {
                p.lib_size = bench::file_size(lib_file);
                p.raw_size = bench::file_size(raw_file);
            }
        }
    }
    const double elapsed = bench::now() - start;
    bench::require(bench::links_in(lib_file, "g") == kLast && bench::links_in(raw_file, "g") == kLast,
                   "every dataset written on both sides");

    std::printf("%ld dumps of 100 doubles into one group per side (%.0f s); %ld blocks of %ld pairs at each k: "
                "datasets %ld to %ld of %ld new pairs of files at k = %ld, the %ld datasets up to k of the long run "
                "further on.\n",
                kLast, elapsed, kBlocks, kBlock, first_k - kBlock + 1, first_k, kBlocks, first_k, kBlocks * kBlock);
    bench::table_header("Scaling (time ratio = library / raw, median of per-block ratios; size ratio = library / raw)");
    for (const Checkpoint& p : points) {
        const double r = p.reps.ratio();
        bench::table_row("dump of dataset k = " + std::to_string(p.k), bench::us(bench::median(p.reps.library)),
                         bench::us(bench::median(p.reps.reference)), bench::ratio_text(p.reps.ratios()), "≤ 1.10",
                         bench::yes_no(r <= 1.10));
    }
    for (const Checkpoint& p : points) {
        const double r = static_cast<double>(p.lib_size) / static_cast<double>(p.raw_size);
        const bool last = p.k == kLast;
        bench::table_row("file size after k = " + std::to_string(p.k),
                         bench::fmt("%.2f MB", static_cast<double>(p.lib_size) / 1e6),
                         bench::fmt("%.2f MB", static_cast<double>(p.raw_size) / 1e6), bench::fmt("%.4f", r),
                         last ? "≤ 1.02" : "(at the end)", last ? bench::yes_no(r <= 1.02) : "-");
    }
    std::printf("\nData alone: %.2f MB. Per-call figures are means without each side's slowest tenth of calls; "
                "with plain means the ratios are",
                static_cast<double>(kLast) * kValues * sizeof(double) / 1e6);
    for (const Checkpoint& p : points) std::printf(" %.3f (k = %ld)", p.reps.plain(), p.k);
    std::printf(".\n");
    return 0;
}
