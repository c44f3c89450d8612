// Held files and compact files.
//
//  1. A small dump (a new 100-double dataset in one group) by file name,
//     against the same dump through a held handle committed at every call,
//     and through a held handle whose commits are deferred to every 100 calls.
//     Each mode fills its own file; the modes take turns in blocks of calls.
//     For context, the raw HDF5 sequences of the same three kinds.
//  2. File size against h5repack of the same file: after 50,000 dumps into
//     one group, and after a mixed run of new dumps, overwrites in place and
//     plot records rewritten. Also what turning off HDF5's aggregation blocks
//     (which the library does for compact files) costs a raw dump.
#include "bench_common.hpp"

#include <array>
#include <functional>

namespace {

constexpr int kValues = 100;
constexpr int kBlocks = 10;       // turns per mode, after one warm-up turn
constexpr long kBlockCalls = 200;  // calls per turn
constexpr int kDeferCalls = 100;

struct Mode {
    const char* name;
    std::function<void(long)> call;
    std::vector<double> per_call = {};  // seconds per call, one per block (trimmed mean)
};

// Turns of kBlockCalls calls of each mode in rotation, so that background
// load falls on all modes alike.
void run_in_turns(std::vector<Mode>& modes) {
    long next[8] = {};
    for (int block = 0; block <= kBlocks; ++block) {
        for (std::size_t m = 0; m < modes.size(); ++m) {
            std::vector<double> seconds;
            for (long j = 0; j < kBlockCalls; ++j) {
                const double t0 = bench::now();
                modes[m].call(next[m]++);
                seconds.push_back(bench::now() - t0);
            }
            if (block > 0) modes[m].per_call.push_back(bench::trimmed_mean(seconds));
        }
    }
}

double median_of(const Mode& mode) { return bench::median(mode.per_call); }

// The file's size after h5repack copies it: the floor the goal is taken against.
long long repacked_size(const std::string& file) {
    const std::string packed = file + ".packed";
    const std::string command = "h5repack '" + file + "' '" + packed + "' >/dev/null 2>&1";
    bench::require(std::system(command.c_str()) == 0, "h5repack");
    const long long size = bench::file_size(packed);
    std::remove(packed.c_str());
    return size;
}

void size_row(const char* figure, const std::string& file) {
    const long long size = bench::file_size(file), packed = repacked_size(file);
    const double ratio = static_cast<double>(size) / static_cast<double>(packed);
    bench::table_row(figure, bench::fmt("%.2f MB", size / 1e6), bench::fmt("%.2f MB", packed / 1e6),
                     bench::fmt("%.3f", ratio), "≤ 1.15", bench::yes_no(ratio <= 1.15));
}

int held_handle(const std::string& file) {
    const unsigned int length = static_cast<unsigned int>(file.size());
    int handle = -1;
    ftoc_open_file_id_(file.data(), &length, &handle);
    bench::require(handle > 0, "open a held file");
    return handle;
}

void held_dump(int handle, const std::string& path, const double* data) {
    const unsigned int path_length = static_cast<unsigned int>(path.size()), count = kValues, none = 0;
    const int type_code = VIDEZ5_DOUBLE, string_length = 0;
    ftoc_h5dump_data_id_(&handle, path.data(), &path_length, data, &count, &none, &none, &type_code,
                         &string_length);
}

hid_t raw_file(const std::string& name, hid_t fapl) {
    hid_t f = H5Fcreate(name.c_str(), H5F_ACC_EXCL, H5P_DEFAULT, fapl);
    H5Gclose(H5Gcreate2(f, "g", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    return f;
}

void raw_create(hid_t f, const std::string& name, const double* data) {
    const hsize_t count = kValues;
    hid_t s = H5Screate_simple(1, &count, nullptr);
    hid_t d = H5Dcreate2(f, name.c_str(), H5T_NATIVE_DOUBLE, s, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(d >= 0 && H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) >= 0, "raw write");
    H5Dclose(d);
    H5Sclose(s);
}

// A raw dump that opens and closes the file, with the given access properties.
void raw_dump_by_name(const std::string& file, hid_t fapl, const std::string& name, const double* data) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDWR, fapl);
    raw_create(f, name, data);
    H5Fclose(f);
}

void held_and_deferred(const bench::Scratch& scratch, double* data) {
    const std::string by_name = scratch.file("by_name.h5");
    bench::lib_dump_doubles(by_name, "g/first", data, kValues);
    const int held = held_handle(scratch.file("held.h5"));
    const int deferred = held_handle(scratch.file("deferred.h5"));
    const int calls = kDeferCalls;
    const double seconds = 0;
    ftoc_defer_commits_id_(&deferred, &calls, &seconds);
    const std::string raw_name = scratch.file("raw.h5");
    H5Fclose(raw_file(raw_name, H5P_DEFAULT));
    hid_t raw_held = H5Fopen(raw_name.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);
    const std::string raw_unflushed_name = scratch.file("raw_unflushed.h5");
    hid_t raw_unflushed = raw_file(raw_unflushed_name, H5P_DEFAULT);
    const std::string raw_by_name = scratch.file("raw_by_name.h5");
    H5Fclose(raw_file(raw_by_name, H5P_DEFAULT));

    std::vector<Mode> modes{
        {"by name", [&](long j) { bench::lib_dump_doubles(by_name, bench::numbered("g/d", j), data, kValues); }},
        {"held", [&](long j) { held_dump(held, bench::numbered("g/d", j), data); }},
        {"deferred", [&](long j) { held_dump(deferred, bench::numbered("g/d", j), data); }},
        {"raw by name", [&](long j) { raw_dump_by_name(raw_by_name, H5P_DEFAULT, bench::numbered("g/d", j), data); }},
        {"raw held, flushed", [&](long j) {
             raw_create(raw_held, bench::numbered("g/d", j), data);
             H5Fflush(raw_held, H5F_SCOPE_GLOBAL);
         }},
        {"raw held", [&](long j) { raw_create(raw_unflushed, bench::numbered("g/d", j), data); }},
    };
    run_in_turns(modes);
    ftoc_close_file_id_(&held);
    ftoc_close_file_id_(&deferred);
    H5Fclose(raw_held);
    H5Fclose(raw_unflushed);
    const long calls_per_mode = (kBlocks + 1) * kBlockCalls;
    bench::require(bench::links_in(scratch.file("held.h5"), "g") == calls_per_mode &&
                       bench::links_in(scratch.file("deferred.h5"), "g") == calls_per_mode,
                   "every held dump written");

    std::printf("100 doubles per call, a new dataset each; %d turns of %ld calls per mode after a warm-up turn "
                "(groups grow to %ld datasets); deferred: a commit every %d calls.\n",
                kBlocks, kBlockCalls, calls_per_mode, kDeferCalls);
    bench::table_header("Held files (speed-up = time by name / time of the mode, medians of the turns)");
    const double t_name = median_of(modes[0]);
    for (std::size_t m = 1; m < modes.size(); ++m) {
        const bool library = m < 3;
        const double speedup = t_name / median_of(modes[m]);
        const double goal = m == 1 ? 1.7 : 6.0;
        bench::table_row(std::string(library ? "library " : "(context) ") + modes[m].name,
                         bench::us(median_of(modes[m])), bench::us(library ? t_name : median_of(modes[3])),
                         bench::fmt("%.2f×", library ? speedup : median_of(modes[3]) / median_of(modes[m])),
                         library ? bench::fmt("≥ %.1f×", goal) : "(none)",
                         library ? bench::yes_no(speedup >= goal) : "-");
    }
}

void sizes(const bench::Scratch& scratch, double* data) {
    bench::table_header("File size against h5repack of the same file");
    const std::string many = scratch.file("many.h5");
    for (long j = 0; j < 50000; ++j) bench::lib_dump_doubles(many, bench::numbered("g/d", j), data, kValues);
    size_row("50,000 dumps of 100 doubles into one group", many);

    // Cycles of: two new dumps, an overwrite of a 20,000-double array, a plot
    // record of five rewritten, a new text array.
    const std::string mixed = scratch.file("mixed.h5");
    std::vector<double> field(20000), x(16), y(12), record(16 * 12);
    for (long c = 0; c < 2000; ++c) {
        data[0] = static_cast<double>(c);
        bench::lib_dump_doubles(mixed, bench::numbered("new/d", 2 * c), data, kValues);
        bench::lib_dump_doubles(mixed, bench::numbered("new/d", 2 * c + 1), data, 10);
        field[0] = static_cast<double>(c);
        bench::lib_dump_doubles(mixed, "fixed/field", field.data(), 200, 100);
        const std::string path = "plots/p" + std::to_string(c % 5), title = "step " + std::to_string(c);
        const unsigned int name_length = static_cast<unsigned int>(mixed.size()),
                           path_length = static_cast<unsigned int>(path.size()),
                           title_length = static_cast<unsigned int>(title.size()), one = 1, nx = 16, ny = 12;
        record[0] = static_cast<double>(c);
        ftoc_printh5_double_(mixed.data(), &name_length, path.data(), &path_length, record.data(), x.data(),
                             y.data(), &nx, &ny, title.data(), &title_length, "x", &one, "y", &one);
        const std::string text_path = bench::numbered("text/t", c);
        const unsigned int text_length = static_cast<unsigned int>(text_path.size()), words = 4, none = 0;
        const int string_code = VIDEZ5_STRING, string_length = 8;
        ftoc_h5dump_data_(mixed.data(), &name_length, text_path.data(), &text_length, "alpha   beta    gamma   delta   ",
                          &words, &none, &none, &string_code, &string_length);
    }
    size_row("mixed run: 2,000 cycles of dumps, an overwrite, a plot record, strings", mixed);

    // What the block sizes of 0 cost a dump, with raw HDF5 alone.
    hid_t compact = H5Pcreate(H5P_FILE_ACCESS);
    H5Pset_meta_block_size(compact, 0);
    H5Pset_small_data_block_size(compact, 0);
    const std::string with_blocks = scratch.file("raw_blocks.h5"), without = scratch.file("raw_compact.h5");
    H5Fclose(raw_file(with_blocks, H5P_DEFAULT));
    H5Fclose(raw_file(without, compact));
    bench::Repetitions repetitions;
    long next = 0;
    for (int rep = 0; rep <= kBlocks; ++rep) {
        bench::Block block;
        bench::timed_pairs(
            next, kBlockCalls,
            [&](long j) { raw_dump_by_name(without, compact, bench::numbered("g/d", j), data); },
            [&](long j) { raw_dump_by_name(with_blocks, H5P_DEFAULT, bench::numbered("g/d", j), data); }, block);
        next += kBlockCalls;
        if (rep > 0) repetitions.add(block);
    }
    H5Pclose(compact);
    bench::table_row("(context) raw dump, block sizes 0 vs HDF5's defaults", bench::us(bench::median(repetitions.library)),
                     bench::us(bench::median(repetitions.reference)), bench::ratio_text(repetitions.ratios()),
                     "≤ 1.03", bench::yes_no(repetitions.ratio() <= 1.03));
}

}  // namespace

int main() {
    bench::Scratch scratch("held");
    std::array<double, kValues> data{};
    for (int i = 0; i < kValues; ++i) data[i] = 0.25 * i;
    held_and_deferred(scratch, data.data());
    sizes(scratch, data.data());
    return 0;
}
