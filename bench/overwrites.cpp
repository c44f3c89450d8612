// Overwrites in place: what keeping the old values costs (so that a kill
// during an overwrite can be undone), for a small and a large array, what the
// durable mode adds, and whether files grow when the same data is rewritten
// again and again (HDF5 does not reuse space freed in an earlier open).
//
// Library and raw HDF5 overwrites run interleaved, as in the other programs.
// Run with LD_LIBRARY_PATH pointing at another build of libvidez5_c, the same
// program measures that build (the durable rows then need its ftoc_set_durable_).
#include "bench_common.hpp"

#include <dlfcn.h>

#include <functional>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kLarge = (std::size_t{64} << 20) / sizeof(double);
constexpr hsize_t kSmall = 100;

void raw_create(const std::string& file, const char* name, const double* data, hsize_t count) {
    hid_t f = H5Fcreate(file.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, bench::raw_access());
    bench::require(H5LTmake_dataset(f, name, 1, &count, H5T_NATIVE_DOUBLE, data) >= 0, "raw create");
    H5Fclose(f);
}

// The durable mode's switch, when the library measured has one.
using SetDurable = void (*)(const int*);
SetDurable set_durable_entry() { return reinterpret_cast<SetDurable>(dlsym(RTLD_DEFAULT, "ftoc_set_durable_")); }

void set_durable(bool on) {
    const int flag = on ? 1 : 0;
    if (SetDurable set = set_durable_entry()) set(&flag);
}

// Library against raw HDF5 (reference), or the library durable against plain.
bench::Repetitions compare(int blocks, long calls, const std::function<void(long)>& library,
                           const std::function<void(long)>& reference) {
    bench::Repetitions reps;
    bench::Block block;
    for (int b = 0; b <= blocks; ++b) {
        block.clear();
        bench::timed_pairs(b * calls, calls, library, reference, block);
        if (b > 0) reps.add(block);  // the first block warms up
    }
    return reps;
}

bool write_all(int fd, const void* bytes, std::size_t size, off_t at) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        const ssize_t n = pwrite(fd, p, size, at);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        at += n;
    }
    return true;
}

void row(const char* figure, const bench::Repetitions& reps, const std::string& goal, bool met) {
    bench::table_row(figure, bench::us(bench::median(reps.library)), bench::us(bench::median(reps.reference)),
                     bench::ratio_text(reps.ratios()), goal, goal.empty() ? "" : bench::yes_no(met));
}

void lib_plot(const std::string& file, const std::string& path, const double* data, const double* x,
              const double* y, const std::string& title) {
    const unsigned int n = static_cast<unsigned int>(file.size()), p = static_cast<unsigned int>(path.size());
    const unsigned int nx = 100, ny = 100, t = static_cast<unsigned int>(title.size()), one = 1;
    ftoc_printh5_double_(file.data(), &n, path.data(), &p, data, x, y, &nx, &ny, title.data(), &t, "x", &one, "y",
                         &one);
}

}  // namespace

int main() {
    bench::Scratch scratch("overwrites");
    // Two versions of the large array that differ in every value: alternating
    // them makes each overwrite change the whole array, as a simulation's next
    // state does. The undo journal keeps only what changes, so an overwrite of
    // one value is measured apart.
    std::unique_ptr<double[]> large(new double[kLarge]), other(new double[kLarge]);
    for (std::size_t i = 0; i < kLarge; ++i) {
        large[i] = 0.25 * static_cast<double>(i);
        other[i] = -large[i] - 1.0;
    }
    std::vector<double> small(kSmall, 1.5);

    const std::string lib_large = scratch.file("lib-large.h5"), raw_large = scratch.file("raw-large.h5");
    const std::string lib_small = scratch.file("lib-small.h5"), raw_small = scratch.file("raw-small.h5");
    bench::lib_dump_doubles(lib_large, "big", large.get(), static_cast<unsigned int>(kLarge));
    raw_create(raw_large, "big", large.get(), kLarge);
    bench::lib_dump_doubles(lib_small, "v", small.data(), static_cast<unsigned int>(kSmall));
    raw_create(raw_small, "v", small.data(), kSmall);
    const bool has_durable = set_durable_entry() != nullptr;

    bench::table_header("Overwrites in place, by name (each call opens and closes its file)");
    const auto version = [&](long j) { return j % 2 == 0 ? other.get() : large.get(); };
    const auto lib_large_call = [&](long j) {
        bench::lib_dump_doubles(lib_large, "big", version(j), static_cast<unsigned int>(kLarge));
    };
    const auto lib_one_value_call = [&](long j) {
        large[0] = static_cast<double>(j);
        bench::lib_dump_doubles(lib_large, "big", large.get(), static_cast<unsigned int>(kLarge));
    };
    const auto lib_small_call = [&](long j) {
        small[0] = static_cast<double>(j);
        bench::lib_dump_doubles(lib_small, "v", small.data(), static_cast<unsigned int>(kSmall));
    };
    const bench::Repetitions big = compare(9, 1, lib_large_call, [&](long j) {
        bench::raw_overwrite(raw_large, "big", version(j), kLarge);
    });
    row("64 MiB array overwritten, every value new", big, "", true);
    const bench::Repetitions one = compare(9, 1, lib_one_value_call, [&](long j) {
        large[0] = static_cast<double>(j);
        bench::raw_overwrite(raw_large, "big", large.get(), kLarge);
    });
    row("64 MiB array overwritten, one value new", one, "", true);
    const bench::Repetitions little = compare(21, 200, lib_small_call, [&](long j) {
        small[0] = static_cast<double>(j);
        bench::raw_overwrite(raw_small, "v", small.data(), kSmall);
    });
    row("100 doubles overwritten", little, "", true);

    // The floor under any overwrite that a kill cannot leave half done,
    // without HDF5: a second copy of the array, of its old values (undo) or
    // of its new ones (redo), in a fresh file beside it, against the write in
    // place alone. Keeping the new values in fresh space of the file itself
    // would double the file instead.
    const std::string plain = scratch.file("plain.bin"), side = scratch.file("plain.side");
    const std::size_t bytes = kLarge * sizeof(double);
    const int fd = ::open(plain.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    bench::require(fd >= 0 && write_all(fd, large.get(), bytes, 0), "plain file");
    std::vector<unsigned char> piece(std::size_t{1} << 20);
    const auto in_place = [&](long j) { bench::require(write_all(fd, version(j), bytes, 0), "plain write"); };
    const auto with_copy = [&](bool old_values) {
        return [&, old_values](long j) {
            const int copy = ::open(side.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
            bool ok = copy >= 0;
            for (std::size_t at = 0; ok && old_values && at < bytes; at += piece.size())
                ok = pread(fd, piece.data(), piece.size(), static_cast<off_t>(at)) ==
                         static_cast<ssize_t>(piece.size()) &&
                     write_all(copy, piece.data(), piece.size(), static_cast<off_t>(at));
            bench::require(ok && (old_values || write_all(copy, version(j), bytes, 0)), "plain copy");
            in_place(j);
            ::close(copy);
            ::unlink(side.c_str());
        };
    };
    row("(context) no HDF5: old values copied to a new file first (undo)", compare(9, 1, with_copy(true), in_place), "",
        true);
    row("(context) no HDF5: new values written to a new file first (redo)", compare(9, 1, with_copy(false), in_place),
        "", true);
    ::close(fd);

    if (has_durable) {
        bench::table_header("The durable mode (library durable against the library plain)");
        const auto durable_then = [](const std::function<void(long)>& call) {
            return [call](long j) {
                set_durable(true);
                call(j);
                set_durable(false);
            };
        };
        row("64 MiB array overwritten", compare(5, 1, durable_then(lib_large_call), lib_large_call), "", true);
        row("100 doubles overwritten", compare(9, 50, durable_then(lib_small_call), lib_small_call), "", true);
        const std::string lib_new = scratch.file("lib-new.h5");
        bench::lib_dump_doubles(lib_new, "g/first", small.data(), static_cast<unsigned int>(kSmall));
        const auto new_dump = [&](long j) {
            bench::lib_dump_doubles(lib_new, "g/" + bench::numbered("d", j), small.data(),
                                    static_cast<unsigned int>(kSmall));
        };
        row("new 100-double dataset", compare(9, 50, durable_then(new_dump), [&](long j) { new_dump(j + 1000000); }),
            "", true);
    }

    // Growth: the same data rewritten, and a plot record whose title grows now and then.
    std::printf("\n### File size after repeated rewrites\n\n");
    std::printf("| file | after the first write | after the rewrites | ratio | goal | met |\n|---|---|---|---|---|---|\n");
    const std::string grow_large = scratch.file("grow-large.h5");
    bench::lib_dump_doubles(grow_large, "big", large.get(), static_cast<unsigned int>(kLarge));
    const long long large_first = bench::file_size(grow_large);
    for (int k = 0; k < 100; ++k) {
        large[1] = k;
        bench::lib_dump_doubles(grow_large, "big", large.get(), static_cast<unsigned int>(kLarge));
    }
    const long long large_after = bench::file_size(grow_large);
    const double large_ratio = static_cast<double>(large_after) / static_cast<double>(large_first);
    std::printf("| 64 MiB array, 100 overwrites | %lld | %lld | %.3f | ≤ 1.2 | %s |\n", large_first, large_after,
                large_ratio, bench::yes_no(large_ratio <= 1.2));

    const std::string grow_plot = scratch.file("grow-plot.h5");
    std::vector<double> field(100 * 100), axis(100);
    for (std::size_t i = 0; i < field.size(); ++i) field[i] = static_cast<double>(i);
    for (std::size_t i = 0; i < axis.size(); ++i) axis[i] = static_cast<double>(i);
    lib_plot(grow_plot, "plots/T", field.data(), axis.data(), axis.data(), "Temperature at step 1");
    const long long plot_first = bench::file_size(grow_plot);
    for (int step = 2; step <= 1001; ++step) {
        field[0] = step;
        lib_plot(grow_plot, "plots/T", field.data(), axis.data(), axis.data(),
                 "Temperature at step " + std::to_string(step));
    }
    const long long plot_after = bench::file_size(grow_plot);
    const double plot_ratio = static_cast<double>(plot_after) / static_cast<double>(plot_first);
    std::printf("| 100 x 100 plot record, 1,000 rewrites (title 'Temperature at step N') | %lld | %lld | %.3f | "
                "≤ 1.2 | %s |\n",
                plot_first, plot_after, plot_ratio, bench::yes_no(plot_ratio <= 1.2));
    return 0;
}
