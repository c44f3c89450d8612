// Large arrays: one 256 MiB double array dumped into a new dataset and read
// back whole, through the library's Fortran face, through the Lite calls
// directly, and with plain stdio of the same bytes; then the peak resident
// memory of processes that do one dump or one read each.
//
// Every repetition runs the three ways one after the other, in an order that
// rotates between repetitions, and the ratios are taken within a repetition.
#include "bench_common.hpp"

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kBytes = std::size_t{256} << 20;
constexpr std::size_t kCount = kBytes / sizeof(double);
constexpr int kRepetitions = 9;  // measured, after one warm-up round

std::unique_ptr<double[]> filled_array() {
    std::unique_ptr<double[]> data(new double[kCount]);
    // Every page touched before any timing, with values that no page-sharing can fold.
    for (std::size_t i = 0; i < kCount; ++i) data[i] = 0.5 * static_cast<double>(i) + 1.0;
    return data;
}

void lite_dump(const std::string& file, const double* data) {
    const hsize_t dims[1] = {kCount};
    hid_t f = H5Fcreate(file.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(f >= 0, "H5Fcreate");
    bench::require(H5LTmake_dataset(f, "big", 1, dims, H5T_NATIVE_DOUBLE, data) >= 0, "H5LTmake_dataset");
    H5Fclose(f);
}

void lite_read(const std::string& file, double* buffer) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    bench::require(f >= 0, "H5Fopen");
    bench::require(H5LTread_dataset(f, "big", H5T_NATIVE_DOUBLE, buffer) >= 0, "H5LTread_dataset");
    H5Fclose(f);
}

void lib_dump(const std::string& file, const double* data) {
    bench::lib_dump_doubles(file, "big", data, static_cast<unsigned int>(kCount));
}

void lib_read(const std::string& file, double* buffer) { bench::lib_read_doubles(file, "big", buffer); }

// The same bytes behind a header as long as the HDF5 file's, so the data lie
// at the same file offset: the offset alone changes read speed a lot here.
void stdio_write(const std::string& file, const double* data, std::size_t offset) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    bench::require(out != nullptr, "fopen for writing");
    std::vector<char> header(offset, '\0');
    bench::require(std::fwrite(header.data(), 1, offset, out) == offset, "fwrite header");
    bench::require(std::fwrite(data, 1, kBytes, out) == kBytes, "fwrite");
    std::fclose(out);
}

void stdio_read(const std::string& file, double* buffer, std::size_t offset) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    bench::require(in != nullptr, "fopen for reading");
    bench::require(std::fseek(in, static_cast<long>(offset), SEEK_SET) == 0, "fseek");
    bench::require(std::fread(buffer, 1, kBytes, in) == kBytes, "fread");
    std::fclose(in);
}

std::size_t data_offset(const std::string& file) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    hid_t d = H5Dopen2(f, "big", H5P_DEFAULT);
    const haddr_t offset = H5Dget_offset(d);
    H5Dclose(d);
    H5Fclose(f);
    bench::require(offset != HADDR_UNDEF, "H5Dget_offset");
    return static_cast<std::size_t>(offset);
}

// One measurement of peak memory, in a fresh process of its own.
int rss_child(const std::string& mode, const std::string& dir) {
    // The reads use the files that the timed rounds left; a dump writes a file of its own.
    const std::string lib_file = dir + "/lib.h5";
    const std::string lite_file = dir + "/lite.h5";
    const std::string dump_file = dir + "/rss-dump.h5";
    if (mode == "fill") {
        auto data = filled_array();
    } else if (mode == "lib-dump" || mode == "lite-dump") {
        auto data = filled_array();
        unlink(dump_file.c_str());
        if (mode == "lib-dump")
            lib_dump(dump_file, data.get());
        else
            lite_dump(dump_file, data.get());
        unlink(dump_file.c_str());
    } else if (mode == "lib-read" || mode == "lite-read") {
        std::unique_ptr<double[]> buffer(new double[kCount]);
        std::memset(buffer.get(), 0, kBytes);
        if (mode == "lib-read")
            lib_read(lib_file, buffer.get());
        else
            lite_read(lite_file, buffer.get());
        bench::require(buffer[kCount - 1] == 0.5 * static_cast<double>(kCount - 1) + 1.0, "read back");
    } else {
        return 2;
    }
    std::printf("%ld\n", bench::peak_rss_kib());
    return 0;
}

long run_rss_child(const std::string& mode, const std::string& dir) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    bench::require(n > 0, "readlink /proc/self/exe");
    self[n] = '\0';
    const std::string command = std::string("'") + self + "' --rss " + mode + " '" + dir + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    bench::require(pipe != nullptr, "popen");
    long kib = -1;
    if (std::fscanf(pipe, "%ld", &kib) != 1) kib = -1;
    bench::require(pclose(pipe) == 0 && kib > 0, "peak memory child");
    return kib;
}

struct Round {
    std::vector<double> library, lite, stdio;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--rss") return rss_child(argv[2], argv[3]);

    bench::Scratch scratch("large");
    const std::string lib_file = scratch.file("lib.h5");
    const std::string lite_file = scratch.file("lite.h5");
    const std::string raw_file = scratch.file("raw.bin");

    auto data = filled_array();
    std::unique_ptr<double[]> buffer(new double[kCount]);
    std::memset(buffer.get(), 0, kBytes);

    // Where the data of a new file's first dataset lands; the stdio file puts
    // its bytes at the library file's offset, the one its read is compared at.
    lib_dump(lib_file, data.get());
    lite_dump(lite_file, data.get());
    const std::size_t offset = data_offset(lib_file);
    const std::size_t lite_offset = data_offset(lite_file);

    Round dump;
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        double seconds[3] = {0, 0, 0};
        for (int i = 0; i < 3; ++i) {
            const int way = (rep + i) % 3;
            const std::string& file = way == 0 ? lib_file : way == 1 ? lite_file : raw_file;
            unlink(file.c_str());
            const double t0 = bench::now();
            if (way == 0)
                lib_dump(file, data.get());
            else if (way == 1)
                lite_dump(file, data.get());
            else
                stdio_write(file, data.get(), offset);
            seconds[way] = bench::now() - t0;
        }
        if (rep == 0) continue;  // warm-up
        dump.library.push_back(seconds[0]);
        dump.lite.push_back(seconds[1]);
        dump.stdio.push_back(seconds[2]);
    }
    bench::require(data_offset(lib_file) == offset, "the library puts the data where it did at first");

    // Four reads: the library's, the Lite call's on the very same file, the Lite
    // call's on the file it wrote itself, and stdio at the library file's offset.
    // The data offset alone changes read speed here, so the library's overhead
    // is judged against the same file; the Lite file shows what the layout does.
    Round read;
    std::vector<double> lite_own_read;
    for (int rep = 0; rep <= kRepetitions; ++rep) {
        double seconds[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4; ++i) {
            const int way = (rep + i) % 4;
            // Not timed: a stale buffer must not pass for a read.
            std::memset(buffer.get(), 0xff, kBytes);
            const double t0 = bench::now();
            if (way == 0)
                lib_read(lib_file, buffer.get());
            else if (way == 1)
                lite_read(lib_file, buffer.get());
            else if (way == 2)
                stdio_read(raw_file, buffer.get(), offset);
            else
                lite_read(lite_file, buffer.get());
            seconds[way] = bench::now() - t0;
            bench::require(std::memcmp(buffer.get(), data.get(), kBytes) == 0, "read back the dumped values");
        }
        if (rep == 0) continue;
        read.library.push_back(seconds[0]);
        read.lite.push_back(seconds[1]);
        read.stdio.push_back(seconds[2]);
        lite_own_read.push_back(seconds[3]);
    }

    auto ratios_of = [](const std::vector<double>& reference, const std::vector<double>& library) {
        std::vector<double> r;
        for (std::size_t i = 0; i < library.size(); ++i) r.push_back(reference[i] / library[i]);
        return r;
    };
    auto rate = [](const std::vector<double>& seconds) {
        const double t = bench::median(seconds);
        return bench::fmt("%.0f MiB/s", 256.0 / t) + bench::fmt(" (%.3f s)", t);
    };

    std::printf("256 MiB of doubles, %d repetitions after one warm-up. Data at file offset %zu in the library's "
                "file and in the stdio file, %zu in the Lite file; files of %lld (library) and %lld bytes (Lite).\n",
                kRepetitions, offset, lite_offset, bench::file_size(lib_file), bench::file_size(lite_file));
    bench::table_header("Large arrays (speed ratio = reference time / library time, median of per-repetition ratios)");
    const std::vector<double> dump_lite = ratios_of(dump.lite, dump.library);
    const std::vector<double> dump_stdio = ratios_of(dump.stdio, dump.library);
    const std::vector<double> read_lite = ratios_of(read.lite, read.library);
    const std::vector<double> read_stdio = ratios_of(read.stdio, read.library);
    const std::vector<double> read_lite_own = ratios_of(lite_own_read, read.library);
    bench::table_row("dump 256 MiB vs `H5LTmake_dataset`", rate(dump.library), rate(dump.lite),
                     bench::ratio_text(dump_lite), "≥ 0.95", bench::yes_no(bench::median(dump_lite) >= 0.95));
    bench::table_row("dump 256 MiB vs `fwrite`", rate(dump.library), rate(dump.stdio), bench::ratio_text(dump_stdio),
                     "≥ 0.85", bench::yes_no(bench::median(dump_stdio) >= 0.85));
    bench::table_row("read 256 MiB vs `H5LTread_dataset` (same file)", rate(read.library), rate(read.lite),
                     bench::ratio_text(read_lite), "≥ 0.95", bench::yes_no(bench::median(read_lite) >= 0.95));
    bench::table_row("read 256 MiB vs `fread` (same offset)", rate(read.library), rate(read.stdio),
                     bench::ratio_text(read_stdio), "(none)", "-");
    bench::table_row("(context) read vs `H5LTread_dataset` of the file it wrote (offset " +
                         std::to_string(lite_offset) + ")",
                     rate(read.library), rate(lite_own_read), bench::ratio_text(read_lite_own), "(none)", "-");

    // Peak memory, each in a process of its own so no earlier allocation counts.
    const long array_kib = static_cast<long>(kBytes >> 10);
    const long fill_kib = run_rss_child("fill", scratch.dir());
    const long lib_dump_kib = run_rss_child("lib-dump", scratch.dir());
    const long lite_dump_kib = run_rss_child("lite-dump", scratch.dir());
    const long lib_read_kib = run_rss_child("lib-read", scratch.dir());
    const long lite_read_kib = run_rss_child("lite-read", scratch.dir());
    auto mib = [](long kib) { return bench::fmt("%.1f MiB", static_cast<double>(kib) / 1024.0); };
    auto above = [&](long kib) { return bench::fmt("array + %.1f MiB", static_cast<double>(kib - array_kib) / 1024.0); };
    const long limit_kib = array_kib + 16 * 1024;
    bench::table_row("peak memory of a dump process", mib(lib_dump_kib) + " (" + above(lib_dump_kib) + ")",
                     "Lite: " + mib(lite_dump_kib) + "; array alone: " + mib(fill_kib),
                     above(lib_dump_kib), "≤ array + 16 MiB", bench::yes_no(lib_dump_kib <= limit_kib));
    bench::table_row("peak memory of a read process", mib(lib_read_kib) + " (" + above(lib_read_kib) + ")",
                     "Lite: " + mib(lite_read_kib), above(lib_read_kib), "(none)", "-");
    return 0;
}
