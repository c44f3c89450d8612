// Time series: one step of 10 doubles appended by name, against the raw HDF5
// sequence a careful caller writes (open file, open dataset, H5Dset_extent,
// hyperslab write, close), at the first step and at the 100,000th; the file
// size after 100,000 steps; and reading the whole series in one read against
// one contiguous dataset of the same size.
#include "bench_common.hpp"

#include <string>
#include <vector>

namespace {

constexpr hsize_t kStep = 10;
long kSteps = 100000;  // another count as the first argument, for a quick look
constexpr int kBlocks = 21;
constexpr long kCalls = 20;

void lib_append(const std::string& file, const std::string& path, const double* step) {
    const unsigned int n = static_cast<unsigned int>(file.size()), p = static_cast<unsigned int>(path.size());
    const unsigned int dim1 = kStep, dim2 = 0;
    const int code = VIDEZ5_DOUBLE;
    ftoc_h5append_data_(file.data(), &n, path.data(), &p, step, &dim1, &dim2, &code);
}

// The raw side's series: the library's layout (the same chunk), so that both
// write the same bytes.
void raw_first(const std::string& file, const std::string& path, const double* step, hsize_t chunk_steps) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    const hsize_t dims[2] = {1, kStep}, maxdims[2] = {H5S_UNLIMITED, kStep}, chunk[2] = {chunk_steps, kStep};
    hid_t s = H5Screate_simple(2, dims, maxdims);
    hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_chunk(dcpl, 2, chunk);
    hid_t d = H5Dcreate2(f, path.c_str(), H5T_NATIVE_DOUBLE, s, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    bench::require(d >= 0 && H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, step) >= 0, "raw create");
    H5Dclose(d);
    H5Pclose(dcpl);
    H5Sclose(s);
    H5Fclose(f);
}

// One step into row `row` of an open dataset of rows of kStep doubles.
void write_row(hid_t d, hsize_t row, const double* step) {
    hid_t s = H5Dget_space(d);
    const hsize_t start[2] = {row, 0}, count[2] = {1, kStep};
    H5Sselect_hyperslab(s, H5S_SELECT_SET, start, nullptr, count, nullptr);
    hid_t m = H5Screate_simple(2, count, nullptr);
    bench::require(H5Dwrite(d, H5T_NATIVE_DOUBLE, m, s, H5P_DEFAULT, step) >= 0, "raw H5Dwrite of a step");
    H5Sclose(m);
    H5Sclose(s);
}

void raw_append(const std::string& file, const char* path, const double* step) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    hid_t d = H5Dopen2(f, path, H5P_DEFAULT);
    bench::require(d >= 0, "raw H5Dopen2");
    hid_t s = H5Dget_space(d);
    hsize_t dims[2];
    bench::require(H5Sget_simple_extent_dims(s, dims, nullptr) == 2 && dims[1] == kStep, "raw extent check");
    H5Sclose(s);
    const hsize_t grown[2] = {dims[0] + 1, kStep};
    bench::require(H5Dset_extent(d, grown) >= 0, "raw H5Dset_extent");
    write_row(d, dims[0], step);
    H5Dclose(d);
    H5Fclose(f);
}

// The control for reads: one contiguous dataset of the series' final size,
// filled one step per call alongside the series, so that its file has the same
// history of small writes (page-cache pieces, extents on disk).
void fixed_create(const std::string& file) {
    hid_t f = H5Fcreate(file.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    const hsize_t dims[2] = {static_cast<hsize_t>(kSteps), kStep};
    hid_t s = H5Screate_simple(2, dims, nullptr);
    hid_t d = H5Dcreate2(f, "s", H5T_NATIVE_DOUBLE, s, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(d >= 0, "control dataset");
    H5Dclose(d);
    H5Sclose(s);
    H5Fclose(f);
}

void fixed_write(const std::string& file, long k, const double* step) {
    // Without HDF5's sieve buffer each step goes to the file in one write of
    // its own 80 bytes, as a series' step does.
    hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    H5Pset_sieve_buf_size(fapl, 0);
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDWR, fapl);
    H5Pclose(fapl);
    hid_t d = H5Dopen2(f, "s", H5P_DEFAULT);
    write_row(d, static_cast<hsize_t>(k), step);
    H5Dclose(d);
    H5Fclose(f);
}

hsize_t chunk_steps(const std::string& file, const char* path) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    hid_t d = H5Dopen2(f, path, H5P_DEFAULT);
    hid_t p = H5Dget_create_plist(d);
    hsize_t chunk[2] = {0, 0};
    bench::require(H5Pget_chunk(p, 2, chunk) == 2, "library series is chunked");
    H5Pclose(p);
    H5Dclose(d);
    H5Fclose(f);
    return chunk[0];
}

void empty_file(const std::string& file) { H5Fclose(H5Fcreate(file.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT)); }

void row(const char* figure, const bench::Repetitions& reps, double goal) {
    bench::table_row(figure, bench::us(bench::median(reps.library)), bench::us(bench::median(reps.reference)),
                     bench::ratio_text(reps.ratios()), bench::fmt("≤ %.2f", goal), bench::yes_no(reps.ratio() <= goal));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) kSteps = std::atol(argv[1]);
    bench::Scratch scratch("appends");
    std::vector<double> step(kStep);
    const auto fill = [&step](long k) {
        for (hsize_t i = 0; i < kStep; ++i) step[i] = static_cast<double>(k) + 0.001 * static_cast<double>(i);
    };

    // The first step: a new series in each call, the files growing in lockstep.
    const std::string lib_new = scratch.file("lib-new.h5"), raw_new = scratch.file("raw-new.h5");
    empty_file(lib_new);
    empty_file(raw_new);
    lib_append(lib_new, "probe", step.data());
    const hsize_t chunk = chunk_steps(lib_new, "probe");
    bench::Repetitions first;
    bench::Block block;
    for (int b = 0; b <= kBlocks; ++b) {
        block.clear();
        bench::timed_pairs(
            b * kCalls, kCalls, [&](long j) { lib_append(lib_new, bench::numbered("s", j), step.data()); },
            [&](long j) { raw_first(raw_new, bench::numbered("s", j), step.data(), chunk); }, block);
        if (b > 0) first.add(block);
    }

    // One long series per side, grown in lockstep to the 100,000th step.
    const std::string lib = scratch.file("lib.h5"), raw = scratch.file("raw.h5");
    empty_file(lib);
    empty_file(raw);
    const std::string stepwise = scratch.file("stepwise.h5");
    fixed_create(stepwise);
    fill(0);
    lib_append(lib, "s", step.data());
    raw_first(raw, "s", step.data(), chunk);
    fixed_write(stepwise, 0, step.data());
    const long timed = (kBlocks + 1) * kCalls;
    const double t0 = bench::now();
    for (long k = 1; k < kSteps - timed; ++k) {
        fill(k);
        lib_append(lib, "s", step.data());
        raw_append(raw, "s", step.data());
        fixed_write(stepwise, k, step.data());
    }
    const double fill_seconds = bench::now() - t0;
    bench::Repetitions late;
    for (int b = 0; b <= kBlocks; ++b) {
        block.clear();
        bench::timed_pairs(
            kSteps - timed + b * kCalls, kCalls,
            [&](long k) {
                fill(k);
                lib_append(lib, "s", step.data());
            },
            [&](long k) {
                fill(k);
                raw_append(raw, "s", step.data());
            },
            block);
        if (b > 0) late.add(block);
    }
    for (long k = kSteps - timed; k < kSteps; ++k) {
        fill(k);
        fixed_write(stepwise, k, step.data());
    }
    std::vector<double> whole(kSteps * kStep);
    bench::lib_read_doubles(lib, "s", whole.data());
    for (long k = 0; k < kSteps; ++k)
        bench::require(whole[k * kStep + 3] == static_cast<double>(k) + 0.003, "series read back");
    const double data_bytes = static_cast<double>(kSteps * kStep * sizeof(double));
    const double lib_size = static_cast<double>(bench::file_size(lib)), raw_size = static_cast<double>(bench::file_size(raw));

    // The whole series in one read against one contiguous dataset of the same
    // size, in three states of the kernel's page cache: as written; dropped
    // and read once in full, as a later job finds files it reads twice; and
    // from the disk (dropped before every read). The kernel keeps the pages
    // of a file written 80 bytes at a time in small pieces, and its blocks on
    // the disk in many extents, and copies out of either more slowly, whatever
    // the layout: the reference that tells the series' layout from that
    // history is the contiguous dataset filled step by step alongside; the one
    // written by one dump shows what the history costs.
    const std::string flat = scratch.file("flat.h5");
    bench::lib_dump_doubles(flat, "s", whole.data(), kStep, kSteps);
    const auto read_pairs = [&](const std::string& reference, bool from_disk) {
        bench::Repetitions reads;
        for (int r = 0; r <= 21; ++r) {
            block.clear();
            if (from_disk) {
                bench::drop_cached_pages(lib);
                bench::drop_cached_pages(reference);
            }
            bench::timed_pairs(
                r, 1, [&](long) { bench::lib_read_doubles(lib, "s", whole.data()); },
                [&](long) { bench::lib_read_doubles(reference, "s", whole.data()); }, block);
            if (r > 0) reads.add(block);
        }
        return reads;
    };
    const long long lib_extents = bench::extents(lib), stepwise_extents = bench::extents(stepwise),
                    flat_extents = bench::extents(flat);
    const bench::Repetitions stepwise_written = read_pairs(stepwise, false), flat_written = read_pairs(flat, false);
    for (const std::string* file : {&lib, &stepwise, &flat}) bench::recache_by_reading(*file);
    const bench::Repetitions stepwise_reread = read_pairs(stepwise, false), flat_reread = read_pairs(flat, false);
    const bench::Repetitions stepwise_disk = read_pairs(stepwise, true), flat_disk = read_pairs(flat, true);
    for (long k = 0; k < kSteps; ++k)
        bench::require(whole[k * kStep + 3] == static_cast<double>(k) + 0.003, "control read back");

    std::printf("\n%ld steps of %llu doubles; chunks of %llu steps (%llu bytes); %d blocks of %ld pairs per figure after "
                "one warm-up block; growing both series (and the control) to step %ld took %.1f s (%.1f µs per pair).\n",
                kSteps, static_cast<unsigned long long>(kStep), static_cast<unsigned long long>(chunk),
                static_cast<unsigned long long>(chunk * kStep * sizeof(double)), kBlocks, kCalls, kSteps - timed,
                fill_seconds, 1e6 * fill_seconds / static_cast<double>(kSteps - timed));
    bench::table_header("Appends (time ratio = library / raw, median of per-block ratios; size ratio = file / data)");
    row("append of 10 doubles, 1st step (creates the series)", first, 1.2);
    row("append of 10 doubles, at step 100,000", late, 1.2);
    bench::table_row("file size after 100,000 steps", bench::fmt("%.0f B", lib_size),
                     bench::fmt("%.0f B data", data_bytes), bench::fmt("%.4f", lib_size / data_bytes), "≤ 1.20",
                     bench::yes_no(lib_size / data_bytes <= 1.2));
    bench::table_row("(context) raw file size after 100,000 steps", bench::fmt("%.0f B", raw_size), "", 
                     bench::fmt("%.4f", raw_size / data_bytes), "(none)", "-");
    const auto read_row = [](const char* figure, const bench::Repetitions& reads, bool judged) {
        bench::table_row(figure, bench::us(bench::median(reads.library)), bench::us(bench::median(reads.reference)),
                         bench::ratio_text(reads.ratios()), judged ? "≤ 1.20" : "(none)",
                         judged ? bench::yes_no(reads.ratio() <= 1.2) : "-");
    };
    read_row("whole read (8 MB) vs contiguous filled step by step, pages as written", stepwise_written, true);
    read_row("whole read (8 MB) vs contiguous filled step by step, pages cached by reading", stepwise_reread, true);
    read_row("whole read (8 MB) vs contiguous filled step by step, from the disk", stepwise_disk, true);
    read_row("(context) whole read vs one dumped contiguous dataset, pages as written", flat_written, false);
    read_row("(context) whole read vs one dumped contiguous dataset, pages cached by reading", flat_reread, false);
    read_row("(context) whole read vs one dumped contiguous dataset, from the disk", flat_disk, false);
    std::printf("\nExtents on the disk: series %lld, contiguous filled step by step %lld, dumped %lld.\n",
                lib_extents, stepwise_extents, flat_extents);
    std::printf("\nPer-call figures are means without each side's slowest tenth of calls; with plain means the "
                "ratios are %.3f (1st step) and %.3f (step 100,000).\n", first.plain(), late.plain());
    return 0;
}
