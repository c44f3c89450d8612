// Array kinds: what the array entry points cost beside raw HDF5 on 256 MiB
// fields. A compressed dump (shuffle and deflate) of smooth values and of
// noise against the same filters and chunks set up by hand; a read of one
// eighth of a stored array at an offset against a raw hyperslab read; and
// the uncompressed dump of a real32 array and of a rank-4 array against a
// rank-3 real64 dump of the same bytes, which should all cost the same.
//
// Every repetition runs its ways one after the other, in an order that
// rotates between repetitions, and the ratios are taken within a repetition.
#include "bench_common.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kBytes = std::size_t{256} << 20;
constexpr std::size_t kCount = kBytes / sizeof(double);
constexpr int kLevel = 4;  // deflate level of the compressed dumps
// Measured, each after one warm-up round. A noisy compressed dump takes
// seconds (deflate), the others tens of milliseconds.
constexpr int kCompressedRepetitions = 5;
constexpr int kReadRepetitions = 101;
constexpr int kKindRepetitions = 41;

// Fortran sizes (fastest first) and the same in HDF5's order.
constexpr unsigned int kField[3] = {256, 256, 512};
constexpr hsize_t kFieldDims[3] = {512, 256, 256};
constexpr unsigned int kFloatField[3] = {256, 256, 1024};  // 256 MiB of real32
constexpr hsize_t kFloatFieldDims[3] = {1024, 256, 256};
constexpr unsigned int kRank4[4] = {256, 256, 128, 4};  // 256 MiB of real64, rank 4
constexpr hsize_t kRank4Dims[4] = {4, 128, 256, 256};
// The block read: one eighth of the field, Fortran sizes 256 x 256 x 64 at (1, 1, 193).
constexpr unsigned int kBlock[3] = {256, 256, 64};
constexpr unsigned int kBlockStart[3] = {1, 1, 193};
constexpr hsize_t kBlockOffset[3] = {192, 0, 0};
constexpr hsize_t kBlockCount[3] = {64, 256, 256};
constexpr std::size_t kBlockBytes = kBytes / 8;
constexpr std::size_t kBlockFirst = 192 * 256 * 256;  // element of the field where the block starts

const char* const kPath = "field";

// Smooth in every direction and held to 20 bits after the binary point
// (about six decimals): the low mantissa bytes are zeros and the high ones
// change slowly, so that shuffled bytes deflate well. Unrounded, sin and cos
// fill every mantissa bit and deflate still leaves 78 % of the bytes.
std::unique_ptr<double[]> smooth_field() {
    std::unique_ptr<double[]> data(new double[kCount]);
    std::vector<double> x(kField[0]), y(kField[1]), z(kField[2]);
    for (unsigned int i = 0; i < kField[0]; ++i) x[i] = std::sin(0.02 * i);
    for (unsigned int j = 0; j < kField[1]; ++j) y[j] = std::cos(0.03 * j);
    for (unsigned int k = 0; k < kField[2]; ++k) z[k] = 0.5 * std::sin(0.01 * k);
    std::size_t n = 0;
    for (unsigned int k = 0; k < kField[2]; ++k)
        for (unsigned int j = 0; j < kField[1]; ++j)
            for (unsigned int i = 0; i < kField[0]; ++i)
                data[n++] = std::round((x[i] * y[j] + z[k]) * 0x1.0p20) * 0x1.0p-20;
    return data;
}

// Pseudo-random doubles in [0, 1) from a fixed seed (xorshift64*): all 52
// bits of every mantissa random, so that deflate finds little to take.
std::unique_ptr<double[]> noisy_field() {
    std::unique_ptr<double[]> data(new double[kCount]);
    std::uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (std::size_t n = 0; n < kCount; ++n) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        data[n] = static_cast<double>((state * 0x2545f4914f6cdd1dULL) >> 11) * 0x1.0p-53;
    }
    return data;
}

std::unique_ptr<float[]> float_field() {
    const std::size_t count = kBytes / sizeof(float);
    std::unique_ptr<float[]> data(new float[count]);
    for (std::size_t n = 0; n < count; ++n) data[n] = 0.25f * static_cast<float>(n % 4096) + 1.0f;
    return data;
}

void require_written(const char* what) {
    int status = -1;
    ftoc_last_write_status_(&status);
    bench::require(status == VIDEZ5_OK, what);
}

// A whole-array dump through the library into a new file; level 0 leaves it
// contiguous, otherwise shuffle and deflate over the library's own chunks.
void lib_dump(const std::string& file, const void* data, int rank, const unsigned int* dims, int type_code,
              int level) {
    const unsigned int name_length = static_cast<unsigned int>(file.size());
    const unsigned int path_length = static_cast<unsigned int>(std::strlen(kPath));
    const int string_length = 0;
    const int partial = 0;
    if (level > 0) {
        const int chunk_rank = 0;
        ftoc_compress_next_(&level, &chunk_rank, dims);
    }
    ftoc_h5dump_array_(file.data(), &name_length, kPath, &path_length, data, &rank, dims, &type_code,
                       &string_length, &partial, dims, dims);
}

void raw_compressed_dump(const std::string& file, const double* data, const hsize_t* chunks) {
    hid_t f = H5Fcreate(file.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, bench::raw_access());
    bench::require(f >= 0, "raw H5Fcreate");
    hid_t s = H5Screate_simple(3, kFieldDims, nullptr);
    hid_t p = H5Pcreate(H5P_DATASET_CREATE);
    bench::require(H5Pset_chunk(p, 3, chunks) >= 0 && H5Pset_shuffle(p) >= 0 && H5Pset_deflate(p, kLevel) >= 0,
                   "raw chunk and filters");
    hid_t d = H5Dcreate2(f, kPath, H5T_NATIVE_DOUBLE, s, H5P_DEFAULT, p, H5P_DEFAULT);
    bench::require(d >= 0, "raw H5Dcreate2");
    bench::require(H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) >= 0, "raw H5Dwrite");
    H5Dclose(d);
    H5Pclose(p);
    H5Sclose(s);
    H5Fclose(f);
}

// The uncompressed counterpart, for context beside the kinds.
void raw_dump(const std::string& file, const double* data) {
    hid_t f = H5Fcreate(file.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, bench::raw_access());
    bench::require(f >= 0, "raw H5Fcreate");
    hid_t s = H5Screate_simple(3, kFieldDims, nullptr);
    hid_t d = H5Dcreate2(f, kPath, H5T_NATIVE_DOUBLE, s, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bench::require(d >= 0, "raw H5Dcreate2");
    bench::require(H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) >= 0, "raw H5Dwrite");
    H5Dclose(d);
    H5Sclose(s);
    H5Fclose(f);
}

void lib_block_read(const std::string& file, double* buffer) {
    const unsigned int name_length = static_cast<unsigned int>(file.size());
    const unsigned int path_length = static_cast<unsigned int>(std::strlen(kPath));
    const int rank = 3, element_size = 8, type_code = VIDEZ5_DOUBLE, string_length = 0, partial = 1;
    int status = -1;
    ftoc_h5read_array_(file.data(), &name_length, kPath, &path_length, buffer, &rank, kBlock, &element_size,
                       &type_code, &string_length, &partial, kBlockStart, &status);
    bench::require(status == VIDEZ5_OK, "library block read");
}

void raw_block_read(const std::string& file, double* buffer) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    bench::require(f >= 0, "raw H5Fopen");
    hid_t d = H5Dopen2(f, kPath, H5P_DEFAULT);
    bench::require(d >= 0, "raw H5Dopen2");
    hid_t fs = H5Dget_space(d);
    bench::require(H5Sselect_hyperslab(fs, H5S_SELECT_SET, kBlockOffset, nullptr, kBlockCount, nullptr) >= 0,
                   "raw H5Sselect_hyperslab");
    hid_t ms = H5Screate_simple(3, kBlockCount, nullptr);
    bench::require(H5Dread(d, H5T_NATIVE_DOUBLE, ms, fs, H5P_DEFAULT, buffer) >= 0, "raw H5Dread");
    H5Sclose(ms);
    H5Sclose(fs);
    H5Dclose(d);
    H5Fclose(f);
}

// The dataset in a file is there with these sizes and element type, holds
// expected (when given) and, when filtered, has shuffle then deflate at kLevel.
// Gives its chunk sizes (HDF5 order) when chunks is given.
void check_dataset(const std::string& file, int rank, const hsize_t* dims, hid_t type, const void* expected,
                   void* scratch, bool filtered, hsize_t* chunks = nullptr) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    bench::require(f >= 0, "open a dumped file");
    hid_t d = H5Dopen2(f, kPath, H5P_DEFAULT);
    bench::require(d >= 0, "the dumped dataset is there");
    hid_t s = H5Dget_space(d);
    hsize_t stored[H5S_MAX_RANK];
    bench::require(H5Sget_simple_extent_dims(s, stored, nullptr) == rank, "the dumped rank");
    for (int i = 0; i < rank; ++i) bench::require(stored[i] == dims[i], "the dumped sizes");
    hid_t t = H5Dget_type(d);
    bench::require(H5Tequal(t, type) > 0, "the dumped element type");
    hid_t p = H5Dget_create_plist(d);
    if (filtered) {
        bench::require(H5Pget_layout(p) == H5D_CHUNKED, "a compressed dump is chunked");
        bench::require(H5Pget_nfilters(p) == 2, "two filters");
        unsigned int flags = 0, values[4] = {0, 0, 0, 0};
        std::size_t n = 4;
        bench::require(H5Pget_filter2(p, 0, &flags, &n, values, 0, nullptr, nullptr) == H5Z_FILTER_SHUFFLE,
                       "shuffle first");
        n = 4;
        bench::require(H5Pget_filter2(p, 1, &flags, &n, values, 0, nullptr, nullptr) == H5Z_FILTER_DEFLATE &&
                           n >= 1 && values[0] == kLevel,
                       "then deflate at the level asked for");
        if (chunks != nullptr) bench::require(H5Pget_chunk(p, rank, chunks) == rank, "chunk sizes");
    } else {
        bench::require(H5Pget_layout(p) == H5D_CONTIGUOUS, "an uncompressed dump is contiguous");
    }
    if (expected != nullptr) {
        std::memset(scratch, 0xff, kBytes);
        bench::require(H5Dread(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, scratch) >= 0, "read a dump back");
        bench::require(std::memcmp(scratch, expected, kBytes) == 0, "the dumped values read back");
    }
    H5Pclose(p);
    H5Tclose(t);
    H5Sclose(s);
    H5Dclose(d);
    H5Fclose(f);
}

struct Compressed {
    std::vector<double> library, raw;
    long long library_size = 0, raw_size = 0;
};

Compressed compressed_rounds(const bench::Scratch& scratch, const double* data, const hsize_t* chunks,
                             void* check) {
    const std::string lib_file = scratch.file("lib-deflate.h5");
    const std::string raw_file = scratch.file("raw-deflate.h5");
    Compressed out;
    for (int rep = 0; rep <= kCompressedRepetitions; ++rep) {
        double seconds[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            const int way = (rep + i) % 2;
            const std::string& file = way == 0 ? lib_file : raw_file;
            const double t0 = bench::now();
            if (way == 0)
                lib_dump(file, data, 3, kField, VIDEZ5_DOUBLE, kLevel);
            else
                raw_compressed_dump(file, data, chunks);
            seconds[way] = bench::now() - t0;
            if (way == 0) require_written("library compressed dump");
            // The last round's files are read back; every file goes at once,
            // before the kernel starts writing it back under the next dumps.
            if (rep == kCompressedRepetitions)
                check_dataset(file, 3, kFieldDims, H5T_NATIVE_DOUBLE, way == 0 ? data : nullptr, check, true);
            (way == 0 ? out.library_size : out.raw_size) = bench::file_size(file);
            unlink(file.c_str());
        }
        if (rep == 0) continue;  // warm-up
        out.library.push_back(seconds[0]);
        out.raw.push_back(seconds[1]);
    }
    return out;
}

std::vector<double> speed_ratios(const std::vector<double>& reference, const std::vector<double>& library) {
    std::vector<double> r;
    for (std::size_t i = 0; i < library.size(); ++i) r.push_back(reference[i] / library[i]);
    return r;
}

std::string rate(const std::vector<double>& seconds, double mib) {
    const double t = bench::median(seconds);
    return bench::fmt("%.0f MiB/s", mib / t) + bench::fmt(" (%.3f s)", t);
}

std::string fortran_chunks(const hsize_t* chunks) {
    return std::to_string(chunks[2]) + " x " + std::to_string(chunks[1]) + " x " + std::to_string(chunks[0]);
}

}  // namespace

int main() {
    bench::Scratch scratch("kinds");
    const double started = bench::now();

    auto smooth = smooth_field();
    auto noisy = noisy_field();
    auto floats = float_field();
    std::unique_ptr<unsigned char[]> check(new unsigned char[kBytes]);
    std::memset(check.get(), 0, kBytes);

    // The chunks the library chooses for the field, read from a file it
    // wrote; the raw dumps use the same.
    hsize_t chunks[3] = {0, 0, 0};
    {
        const std::string probe = scratch.file("probe.h5");
        lib_dump(probe, smooth.get(), 3, kField, VIDEZ5_DOUBLE, kLevel);
        require_written("library compressed dump");
        check_dataset(probe, 3, kFieldDims, H5T_NATIVE_DOUBLE, nullptr, nullptr, true, chunks);
        unlink(probe.c_str());
    }

    const Compressed smooth_dump = compressed_rounds(scratch, smooth.get(), chunks, check.get());
    const Compressed noisy_dump = compressed_rounds(scratch, noisy.get(), chunks, check.get());

    // The block read, from one contiguous file that the library wrote.
    const std::string block_file = scratch.file("block.h5");
    lib_dump(block_file, smooth.get(), 3, kField, VIDEZ5_DOUBLE, 0);
    require_written("library dump for the block read");
    std::vector<double> block_library, block_raw;
    double* buffer = reinterpret_cast<double*>(check.get());
    for (int rep = 0; rep <= kReadRepetitions; ++rep) {
        double seconds[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            const int way = (rep + i) % 2;
            std::memset(buffer, 0xff, kBlockBytes);  // not timed: a stale buffer must not pass for a read
            const double t0 = bench::now();
            if (way == 0)
                lib_block_read(block_file, buffer);
            else
                raw_block_read(block_file, buffer);
            seconds[way] = bench::now() - t0;
            bench::require(std::memcmp(buffer, smooth.get() + kBlockFirst, kBlockBytes) == 0,
                           "read back the block's values");
        }
        if (rep == 0) continue;
        block_library.push_back(seconds[0]);
        block_raw.push_back(seconds[1]);
    }
    unlink(block_file.c_str());

    // The kinds, uncompressed, each into a new file: real64 rank 3, real32
    // rank 3, real64 rank 4, and raw HDF5's real64 rank 3 for context.
    const std::string kind_files[4] = {scratch.file("real64.h5"), scratch.file("real32.h5"),
                                       scratch.file("rank4.h5"), scratch.file("raw.h5")};
    std::vector<double> kind_seconds[4];
    long long kind_sizes[4] = {0, 0, 0, 0};
    for (int rep = 0; rep <= kKindRepetitions; ++rep) {
        double seconds[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4; ++i) {
            const int way = (rep + i) % 4;
            const double t0 = bench::now();
            if (way == 0)
                lib_dump(kind_files[way], smooth.get(), 3, kField, VIDEZ5_DOUBLE, 0);
            else if (way == 1)
                lib_dump(kind_files[way], floats.get(), 3, kFloatField, VIDEZ5_FLOAT, 0);
            else if (way == 2)
                lib_dump(kind_files[way], smooth.get(), 4, kRank4, VIDEZ5_DOUBLE, 0);
            else
                raw_dump(kind_files[way], smooth.get());
            seconds[way] = bench::now() - t0;
            if (way != 3) require_written("library dump of a kind");
            if (rep == kKindRepetitions) {
                if (way == 0)
                    check_dataset(kind_files[0], 3, kFieldDims, H5T_NATIVE_DOUBLE, smooth.get(), check.get(), false);
                else if (way == 1)
                    check_dataset(kind_files[1], 3, kFloatFieldDims, H5T_NATIVE_FLOAT, floats.get(), check.get(),
                                  false);
                else if (way == 2)
                    check_dataset(kind_files[2], 4, kRank4Dims, H5T_NATIVE_DOUBLE, smooth.get(), check.get(), false);
            }
            kind_sizes[way] = bench::file_size(kind_files[way]);
            unlink(kind_files[way].c_str());
        }
        if (rep == 0) continue;
        for (int way = 0; way < 4; ++way) kind_seconds[way].push_back(seconds[way]);
    }

    std::printf("256 MiB real64 fields of Fortran sizes 256 x 256 x 512 (HDF5 512 x 256 x 256). Compressed dumps: "
                "shuffle + deflate level %d, chunks the library chose %s (Fortran order; HDF5 %llu x %llu x %llu, "
                "%.0f KiB), %d repetitions after one warm-up. Block read: 256 x 256 x 64 at (1, 1, 193) of a "
                "contiguous dataset the library wrote, %d repetitions. Kinds: real32 256 x 256 x 1024, real64 "
                "256 x 256 x 128 x 4, uncompressed, %d repetitions; files of %lld (real64 rank 3), %lld (real32), "
                "%lld (rank 4) and %lld bytes (raw). %.0f s in all.\n",
                kLevel, fortran_chunks(chunks).c_str(), static_cast<unsigned long long>(chunks[0]),
                static_cast<unsigned long long>(chunks[1]), static_cast<unsigned long long>(chunks[2]),
                static_cast<double>(chunks[0] * chunks[1] * chunks[2] * sizeof(double)) / 1024.0,
                kCompressedRepetitions, kReadRepetitions, kKindRepetitions, kind_sizes[0], kind_sizes[1],
                kind_sizes[2], kind_sizes[3], bench::now() - started);
    bench::table_header("Array kinds (speed ratio = reference time / library time, median of per-repetition ratios; "
                        "size ratio = library file / raw file)");

    const struct {
        const char* name;
        const Compressed& dump;
    } kinds[2] = {{"smooth", smooth_dump}, {"noisy", noisy_dump}};
    for (const auto& kind : kinds) {
        const std::vector<double> ratios = speed_ratios(kind.dump.raw, kind.dump.library);
        bench::table_row(std::string("compressed dump 256 MiB, ") + kind.name +
                             " values, vs raw `H5Pset_chunk`+`H5Pset_shuffle`+`H5Pset_deflate`(" +
                             std::to_string(kLevel) + ")",
                         rate(kind.dump.library, 256.0), rate(kind.dump.raw, 256.0), bench::ratio_text(ratios),
                         "≥ 0.95", bench::yes_no(bench::median(ratios) >= 0.95));
        const double size_ratio =
            static_cast<double>(kind.dump.library_size) / static_cast<double>(kind.dump.raw_size);
        bench::table_row(std::string("file size, ") + kind.name + bench::fmt(" values (%.1f %% of the data)",
                                                                              100.0 * static_cast<double>(
                                                                                          kind.dump.library_size) /
                                                                                  static_cast<double>(kBytes)),
                         std::to_string(kind.dump.library_size) + " B", std::to_string(kind.dump.raw_size) + " B",
                         bench::fmt("%.4f", size_ratio), "within 1 %",
                         bench::yes_no(size_ratio >= 0.99 && size_ratio <= 1.01));
    }
    const std::vector<double> read_ratios = speed_ratios(block_raw, block_library);
    bench::table_row("read of a 32 MiB block at (1, 1, 193) vs raw `H5Sselect_hyperslab`+`H5Dread` (same file)",
                     rate(block_library, 32.0), rate(block_raw, 32.0), bench::ratio_text(read_ratios), "≥ 0.95",
                     bench::yes_no(bench::median(read_ratios) >= 0.95));
    const std::vector<double> real32 = speed_ratios(kind_seconds[0], kind_seconds[1]);
    const std::vector<double> rank4 = speed_ratios(kind_seconds[0], kind_seconds[2]);
    const std::vector<double> raw = speed_ratios(kind_seconds[3], kind_seconds[0]);
    bench::table_row("dump 256 MiB of real32 (library) vs real64 rank 3 (reference)", rate(kind_seconds[1], 256.0),
                     rate(kind_seconds[0], 256.0), bench::ratio_text(real32), "0.95 to 1.05",
                     bench::yes_no(bench::median(real32) >= 0.95 && bench::median(real32) <= 1.05));
    bench::table_row("dump 256 MiB of real64 rank 4 (library) vs real64 rank 3 (reference)",
                     rate(kind_seconds[2], 256.0), rate(kind_seconds[0], 256.0), bench::ratio_text(rank4),
                     "0.95 to 1.05", bench::yes_no(bench::median(rank4) >= 0.95 && bench::median(rank4) <= 1.05));
    bench::table_row("(context) uncompressed dump 256 MiB real64 rank 3 vs raw `H5Dcreate2`+`H5Dwrite`",
                     rate(kind_seconds[0], 256.0), rate(kind_seconds[3], 256.0), bench::ratio_text(raw), "(none)",
                     "-");
    return 0;
}
