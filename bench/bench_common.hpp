// Shared pieces of the C++ benchmark programs: clocks and medians, a scratch
// directory that is removed at exit, calls of the Fortran face with explicit
// text lengths, peak memory, and the one table format every program prints.
#pragma once

#include <videz5_c.h>

#include <hdf5.h>
#include <hdf5_hl.h>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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

// The scratch directories alive now, so that a run stopped by require() does
// not leave hundreds of MiB behind.
inline std::vector<std::string>& scratch_dirs() {
    static std::vector<std::string> dirs;
    return dirs;
}

inline bool keep_scratch() {
    const char* keep = std::getenv("VIDEZ5_BENCH_KEEP");
    return keep != nullptr && std::string(keep) == "1";
}

inline void remove_scratch(const std::string& dir) {
    if (keep_scratch()) {
        std::fprintf(stderr, "files kept in %s\n", dir.c_str());
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

// Stops the run at once: a benchmark that times failing calls would report nonsense.
inline void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "benchmark check failed: %s\n", what);
        for (const std::string& dir : scratch_dirs()) remove_scratch(dir);
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
        scratch_dirs().push_back(dir_);
    }
    // VIDEZ5_BENCH_KEEP=1 leaves the files for inspection (h5dump, h5stat).
    ~Scratch() {
        remove_scratch(dir_);
        auto& dirs = scratch_dirs();
        dirs.erase(std::remove(dirs.begin(), dirs.end(), dir_), dirs.end());
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

// Takes a file's pages out of the kernel's page cache (written back first, as
// only clean pages can go), so that its next read comes from the disk.
inline void drop_cached_pages(const std::string& name) {
    const int fd = open(name.c_str(), O_RDONLY);
    require(fd >= 0, "open a file to drop its cached pages");
    require(fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0, "drop cached pages");
    close(fd);
}

// The number of extents a file's blocks make on the disk (FIEMAP), -1 when the
// file system cannot tell.
inline long long extents(const std::string& name) {
    const int fd = open(name.c_str(), O_RDONLY);
    if (fd < 0) return -1;
    fsync(fd);  // delayed allocation: blocks are placed when written back
    struct fiemap map {};
    map.fm_length = FIEMAP_MAX_OFFSET;
    map.fm_flags = FIEMAP_FLAG_SYNC;
    const long long count = ioctl(fd, FS_IOC_FIEMAP, &map) == 0 ? static_cast<long long>(map.fm_mapped_extents) : -1;
    close(fd);
    return count;
}

// Drops a file's cached pages and reads it whole once, sequentially: the pages
// come back as the kernel brings in any file it reads, whatever sizes of write
// made the file.
inline void recache_by_reading(const std::string& name) {
    drop_cached_pages(name);
    std::ifstream in(name, std::ios::binary);
    std::vector<char> piece(1 << 20);
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
    }
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

// File access for every raw sequence: HDF5's own driver with the metadata and
// small-data aggregation blocks off, as the library opens its files, so that
// both sides allocate and lay out their files alike and a ratio is the
// library's own work. VIDEZ5_BENCH_RAW_BLOCKS=default gives the raw side
// HDF5's default blocks instead, as before the library switched them off.
inline hid_t raw_access() {
    static const hid_t fapl = []() -> hid_t {
        const char* blocks = std::getenv("VIDEZ5_BENCH_RAW_BLOCKS");
        if (blocks != nullptr && std::string(blocks) == "default") return H5P_DEFAULT;
        const hid_t p = H5Pcreate(H5P_FILE_ACCESS);
        require(p >= 0 && H5Pset_meta_block_size(p, 0) >= 0 && H5Pset_small_data_block_size(p, 0) >= 0,
                "raw file access properties");
        return p;
    }();
    return fapl;
}

// The shortest correct raw HDF5 code for one new dataset of count doubles in
// the existing group "g": what a library dump at g/NAME is measured against.
inline void raw_new_dataset(const std::string& file, const std::string& name, const double* data, hsize_t count) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDWR, raw_access());
    hid_t g = H5Gopen2(f, "g", H5P_DEFAULT);
    hid_t s = H5Screate_simple(1, &count, nullptr);
    hid_t d = H5Dcreate2(g, name.c_str(), H5T_NATIVE_DOUBLE, s, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    require(d >= 0, "raw H5Dcreate2");
    require(H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) >= 0, "raw H5Dwrite");
    H5Dclose(d);
    H5Sclose(s);
    H5Gclose(g);
    H5Fclose(f);
}

// The shortest correct raw overwrite in place of the dataset at name below loc:
// open, the extent check any careful caller makes, write, close.
inline void raw_overwrite_in(hid_t loc, const char* name, int rank, const hsize_t* dims, hid_t type,
                             const void* buffer) {
    hid_t d = H5Dopen2(loc, name, H5P_DEFAULT);
    require(d >= 0, "raw H5Dopen2");
    hid_t s = H5Dget_space(d);
    hsize_t stored[H5S_MAX_RANK];
    require(H5Sget_simple_extent_dims(s, stored, nullptr) == rank, "raw rank check");
    for (int i = 0; i < rank; ++i) require(stored[i] == dims[i], "raw extent check");
    require(H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer) >= 0, "raw H5Dwrite");
    H5Sclose(s);
    H5Dclose(d);
}

// The same for a 1-D double dataset at path of a file, opening and closing it.
inline void raw_overwrite(const std::string& file, const char* path, const double* data, hsize_t count) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDWR, raw_access());
    require(f >= 0, "raw H5Fopen");
    raw_overwrite_in(f, path, 1, &count, H5T_NATIVE_DOUBLE, data);
    H5Fclose(f);
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

// The seconds of each call of one block of timed pairs, per side.
struct Block {
    std::vector<double> library, reference;
    void clear() {
        library.clear();
        reference.clear();
    }
};

// Side-by-side timing: `calls` pairs, one call of each side per pair, the side
// that goes first alternating, so that background load and cache state fall on
// both alike. Appends the seconds of every call to the block.
template <typename Library, typename Reference>
void timed_pairs(long first, long calls, Library&& library, Reference&& reference, Block& block) {
    for (long j = first; j < first + calls; ++j) {
        for (int side = 0; side < 2; ++side) {
            const bool library_turn = (side == 0) == (j % 2 == 0);
            const double t0 = now();
            if (library_turn)
                library(j);
            else
                reference(j);
            const double t1 = now();
            (library_turn ? block.library : block.reference).push_back(t1 - t0);
        }
    }
}

inline double mean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

// The mean without the slowest tenth. On a machine shared with builds, a call
// now and then loses the processor for milliseconds, twenty times its own
// cost; a few of those would decide a plain mean. Both sides are trimmed alike,
// and whatever HDF5 does at some group sizes only hits both sides at once, as
// they fill their files in lockstep.
inline double trimmed_mean(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    values.resize(values.size() - values.size() / 10);
    return mean(values);
}

// Per-call costs of a number of repetitions, each a block of timed pairs.
struct Repetitions {
    std::vector<double> library;  // seconds per call (trimmed mean), one value per repetition
    std::vector<double> reference;
    std::vector<double> plain_ratio;  // the same with plain means, for the notes under a table
    void add(const Block& block) {
        library.push_back(trimmed_mean(block.library));
        reference.push_back(trimmed_mean(block.reference));
        plain_ratio.push_back(mean(block.library) / mean(block.reference));
    }
    // The ratio is taken within each repetition first, then the median of those:
    // a repetition slowed by another process's burst slows both of its sides.
    std::vector<double> ratios() const {
        std::vector<double> r;
        for (std::size_t i = 0; i < library.size(); ++i) r.push_back(library[i] / reference[i]);
        return r;
    }
    double ratio() const { return median(ratios()); }
    double plain() const { return median(plain_ratio); }
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

// The q-quantile (0..1) of the values, interpolated between neighbours.
inline double quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double position = q * static_cast<double>(values.size() - 1);
    const std::size_t below = static_cast<std::size_t>(position);
    const std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (position - static_cast<double>(below)) * (values[above] - values[below]);
}

// A ratio as the tables print it: the median, then the spread of the middle
// half of the repetitions, so that a difference can be told from noise.
inline std::string ratio_text(const std::vector<double>& ratios) {
    char text[96];
    std::snprintf(text, sizeof text, "%.3f (IQR %.3f–%.3f)", median(ratios), quantile(ratios, 0.25),
                  quantile(ratios, 0.75));
    return text;
}

inline const char* yes_no(bool met) { return met ? "yes" : "**no**"; }

// Per-call cost in microseconds as printed in the tables.
inline std::string us(double seconds) { return fmt("%.1f µs", seconds * 1e6); }

}  // namespace bench
