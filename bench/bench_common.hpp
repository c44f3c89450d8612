// Shared pieces of the C++ benchmark programs: clocks and medians, a scratch
// directory that is removed at exit, calls of the Fortran face with explicit
// text lengths, peak memory, and the one table format every program prints.
#pragma once

#include <videz5_c.h>

#include <hdf5.h>
#include <hdf5_hl.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

inline double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Stops the run at once: a benchmark that times failing calls would report nonsense.
inline void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "benchmark setup failed: %s\n", what);
        std::exit(2);
    }
}

// A private directory for one program's files, under $VIDEZ5_BENCH_DIR, else
// $TMPDIR, else /tmp; everything in it is deleted when the program ends.
class Scratch {
public:
    explicit Scratch(const char* program) {
        const char* base = std::getenv("VIDEZ5_BENCH_DIR");
        if (base == nullptr || *base == '\0') base = std::getenv("TMPDIR");
        if (base == nullptr || *base == '\0') base = "/tmp";
        std::filesystem::create_directories(base);
        std::string pattern = std::string(base) + "/videz5-bench-" + program + "-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        require(mkdtemp(buffer.data()) != nullptr, "mkdtemp");
        dir_ = buffer.data();
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string file(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

inline long long file_size(const std::string& name) {
    struct stat st {};
    return stat(name.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// The library's Fortran face, called as a Fortran program calls it.
inline void lib_dump_doubles(const std::string& file, const std::string& path, const double* data,
                             unsigned int dim1, unsigned int dim2 = 0, unsigned int dim3 = 0) {
    const unsigned int name_length = static_cast<unsigned int>(file.size());
    const unsigned int path_length = static_cast<unsigned int>(path.size());
    const int type_code = 0;
    const int string_length = 0;
    ftoc_h5dump_data_(file.data(), &name_length, path.data(), &path_length, data, &dim1, &dim2, &dim3,
                      &type_code, &string_length);
}

inline void lib_read_doubles(const std::string& file, const std::string& path, double* buffer) {
    const unsigned int name_length = static_cast<unsigned int>(file.size());
    const unsigned int path_length = static_cast<unsigned int>(path.size());
    const int type_code = 0;
    const int string_length = 0;
    ftoc_h5read_data_(file.data(), &name_length, path.data(), &path_length, buffer, &type_code, &string_length);
}

// Dataset names as a long run fills a group: d00000, d00001, ...
inline std::string numbered(const char* prefix, long k) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%05ld", prefix, k);
    return text;
}

// Number of links in the group at path, to check that every timed call did its work.
inline long long links_in(const std::string& file, const char* group_path) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (f < 0) return -1;
    hid_t g = H5Gopen2(f, group_path, H5P_DEFAULT);
    H5G_info_t info{};
    const long long n = (g >= 0 && H5Gget_info(g, &info) >= 0) ? static_cast<long long>(info.nlinks) : -1;
    if (g >= 0) H5Gclose(g);
    H5Fclose(f);
    return n;
}

// Peak resident memory of this process so far, in KiB (VmHWM).
inline long peak_rss_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Side-by-side timing: `calls` pairs, one call of each side per pair, the side
// that goes first alternating, so that background load and cache state fall on
// both alike. Adds the seconds spent in each side to the two sums.
template <typename Library, typename Reference>
void timed_pairs(long first, long calls, Library&& library, Reference&& reference, double& library_sum,
                 double& reference_sum) {
    for (long j = first; j < first + calls; ++j) {
        for (int side = 0; side < 2; ++side) {
            const bool library_turn = (side == 0) == (j % 2 == 0);
            const double t0 = now();
            if (library_turn)
                library(j);
            else
                reference(j);
            const double t1 = now();
            (library_turn ? library_sum : reference_sum) += t1 - t0;
        }
    }
}

// Per-call costs of a number of repetitions, each a block of timed pairs.
struct Repetitions {
    std::vector<double> library;    // seconds per call, one value per repetition
    std::vector<double> reference;
    void add(double library_seconds, double reference_seconds, long calls) {
        library.push_back(library_seconds / static_cast<double>(calls));
        reference.push_back(reference_seconds / static_cast<double>(calls));
    }
    // The ratio is taken within each repetition first, then the median of those:
    // a repetition slowed by another process's burst slows both of its sides.
    double ratio() const {
        std::vector<double> r;
        for (std::size_t i = 0; i < library.size(); ++i) r.push_back(library[i] / reference[i]);
        return median(r);
    }
};

// One results table per program, in Markdown so that it can go into the README as printed.
inline void table_header(const char* title) {
    std::printf("\n### %s\n\n", title);
    std::printf("| figure | library | reference | ratio | goal | met |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::fflush(stdout);
}

inline void table_row(const std::string& figure, const std::string& library, const std::string& reference,
                      const std::string& ratio, const std::string& goal, const char* met) {
    std::printf("| %s | %s | %s | %s | %s | %s |\n", figure.c_str(), library.c_str(), reference.c_str(),
                ratio.c_str(), goal.c_str(), met);
    std::fflush(stdout);
}

inline std::string fmt(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

inline const char* yes_no(bool met) { return met ? "yes" : "**no**"; }

// Per-call cost in microseconds as printed in the tables.
inline std::string us(double seconds) { return fmt("%.1f µs", seconds * 1e6); }

}  // namespace bench
