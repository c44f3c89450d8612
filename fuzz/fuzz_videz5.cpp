// libFuzzer target: the text and path routines, and every Fortran entry point
// called as a (careless) Fortran program might: random lengths over random
// bytes, NULs inside texts, empty and odd paths, random counts, titles, string
// lengths and handles, against scratch files in a private temporary directory.
//
// What stays out is what the library does not promise to survive: element type
// codes outside 0 to 2 in the ten entry points and their reads of missing files
// end the process on purpose
// (tested apart), and the caller's arrays always hold what the sizes say, as a
// read's buffer holds the stored dataset (sizes that cannot be arrays at all
// are a bad-input test of their own).
#include <videz5_c.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace videz5::detail {
// The library's file access (src/access/access.hpp), compiled into this target.
hid_t file_access();
}  // namespace videz5::detail

namespace {

namespace fs = std::filesystem;

// Large enough for any path or title the input makes; small enough that no
// file grows past a few megabytes before the next input starts afresh.
constexpr unsigned kMaxText = 64;
constexpr unsigned kMaxCount = 6;

fs::path scratch;

herr_t quiet_errors(hid_t, void*) { return 0; }

void remove_scratch() {
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
}

// A Fortran character argument: exactly `length` bytes, not terminated.
struct Text {
    std::vector<char> bytes;
    unsigned int length;
    const char* data() const { return bytes.empty() ? "" : bytes.data(); }
};

Text random_text(FuzzedDataProvider& in) {
    std::vector<char> bytes = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<unsigned>(0, kMaxText));
    const auto length = static_cast<unsigned int>(bytes.size());
    return {std::move(bytes), length};
}

// Mostly paths made of a few short names, slashes included, so that groups
// and datasets meet each other; sometimes any bytes at all.
Text random_path(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return random_text(in);
    static const std::array<const char*, 9> pieces{"a", "b", "g", "data", "X", "", ".", "title", "a b"};
    std::string path;
    const unsigned n = in.ConsumeIntegralInRange<unsigned>(1, 4);
    for (unsigned i = 0; i < n; ++i) {
        if (i > 0 || in.ConsumeBool()) path += '/';
        path += pieces[in.ConsumeIntegralInRange<std::size_t>(0, pieces.size() - 1)];
    }
    if (in.ConsumeBool()) path += '/';
    return {std::vector<char>(path.begin(), path.end()), static_cast<unsigned int>(path.size())};
}

// File names: the scratch files, something that is not HDF5, a directory, an
// empty name, and a name with a NUL inside its length.
Text random_file(FuzzedDataProvider& in) {
    static const std::array<std::string, 6> names{"s.h5", "t.h5", "notes.txt", ".", "", std::string("s.h5\0x", 6)};
    const std::string& pick = names[in.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)];
    const std::string name = pick.empty() ? pick : (scratch / pick).string();
    return {std::vector<char>(name.begin(), name.end()), static_cast<unsigned int>(name.size())};
}

std::size_t element_size(int code, int string_length) {
    if (code == 0 || code == 4) return 8;
    if (code == 1 || code == 3) return 4;
    return string_length > 0 ? static_cast<std::size_t>(string_length) : 1;
}

// The object-info struct and the visit call that hands it out changed with
// HDF5 1.12; each version's is named explicitly.
#if H5_VERSION_GE(1, 12, 0)
using ObjectInfo = H5O_info2_t;
#else
using ObjectInfo = H5O_info_t;
#endif

herr_t largest_dataset(hid_t object, const char* name, const ObjectInfo* info, void* largest) {
    if (info->type != H5O_TYPE_DATASET) return 0;
    hid_t d = H5Dopen2(object, name, H5P_DEFAULT);
    hid_t space = d >= 0 ? H5Dget_space(d) : -1;
    const hssize_t points = space >= 0 ? H5Sget_simple_extent_npoints(space) : 0;
    auto& most = *static_cast<hssize_t*>(largest);
    if (points > most) most = points;
    if (space >= 0) H5Sclose(space);
    if (d >= 0) H5Dclose(d);
    return 0;
}

// The bytes a read may need: every element of the largest dataset in the file,
// whichever the path names (a read's buffer must hold the whole dataset).
// Opened through the library's own driver: the input may hold the file open
// through a handle, and HDF5 shares an open file only within one driver (it
// then also shows what is still in its cache).
std::size_t read_buffer_bytes(const std::string& file, std::size_t element) {
    hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, videz5::detail::file_access());
    if (f < 0) return element;
    hssize_t largest = 1;
#if H5_VERSION_GE(1, 12, 0)
    H5Ovisit3(f, H5_INDEX_NAME, H5_ITER_NATIVE, largest_dataset, &largest, H5O_INFO_BASIC);
#else
    H5Ovisit2(f, H5_INDEX_NAME, H5_ITER_NATIVE, largest_dataset, &largest, H5O_INFO_BASIC);
#endif
    H5Fclose(f);
    return static_cast<std::size_t>(largest) * element;
}

void dump(FuzzedDataProvider& in) {
    const Text file = random_file(in);
    const Text path = random_path(in);
    std::array<unsigned int, 3> dims{};
    for (unsigned int& d : dims) d = in.ConsumeIntegralInRange<unsigned int>(0, kMaxCount);
    const int code = in.ConsumeIntegralInRange<int>(0, 2);
    const int string_length = in.ConsumeIntegralInRange<int>(-2, 12);
    std::size_t count = 1;
    for (unsigned int d : dims) count *= d == 0 ? 1 : d;
    std::vector<unsigned char> data = in.ConsumeBytes<unsigned char>(count * element_size(code, string_length));
    data.resize(count * element_size(code, string_length));
    ftoc_h5dump_data_(file.data(), &file.length, path.data(), &path.length, data.data(), &dims[0], &dims[1],
                      &dims[2], &code, &string_length);
}

void read(FuzzedDataProvider& in) {
    const Text file = random_file(in);
    const Text path = random_path(in);
    const int code = in.ConsumeIntegralInRange<int>(0, 2);
    const int string_length = in.ConsumeIntegralInRange<int>(-2, 12);
    const std::string name = charToString(file.data(), &file.length);
    // A missing file ends the process, as it should.
    if (!file_exists(name)) return;
    std::vector<unsigned char> buffer(read_buffer_bytes(name, element_size(code, string_length)));
    ftoc_h5read_data_(file.data(), &file.length, path.data(), &path.length, buffer.data(), &code, &string_length);
}

void plot(FuzzedDataProvider& in) {
    const Text file = random_file(in);
    const Text path = random_path(in);
    const unsigned int nx = in.ConsumeIntegralInRange<unsigned int>(0, kMaxCount);
    const unsigned int ny = in.ConsumeIntegralInRange<unsigned int>(0, kMaxCount);
    // What the record reads: data nx' x ny', y the first count above 1, x the second.
    const std::size_t first = ny > 1 ? ny : (nx > 1 ? nx : 1);
    const std::size_t second = ny > 1 && nx > 1 ? nx : 1;
    std::vector<double> data(first * second, in.ConsumeFloatingPoint<double>());
    std::vector<int> counts(first * second, in.ConsumeIntegral<int>());
    std::vector<double> y(first, in.ConsumeFloatingPoint<double>());
    std::vector<double> x(second, in.ConsumeFloatingPoint<double>());
    const Text title = random_text(in), xtitle = random_text(in), ytitle = random_text(in);
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            ftoc_printh5_double_(file.data(), &file.length, path.data(), &path.length, data.data(), x.data(),
                                 y.data(), &nx, &ny, title.data(), &title.length, xtitle.data(), &xtitle.length,
                                 ytitle.data(), &ytitle.length);
            break;
        case 1:
            ftoc_printh5_int_(file.data(), &file.length, path.data(), &path.length, counts.data(), x.data(),
                              y.data(), &nx, &ny, title.data(), &title.length, xtitle.data(), &xtitle.length,
                              ytitle.data(), &ytitle.length);
            break;
        case 2:
            ftoc_printh5_double_notitle_(file.data(), &file.length, path.data(), &path.length, data.data(), x.data(),
                                         y.data(), &nx, &ny);
            break;
        default:
            ftoc_printh5_int_notitle_(file.data(), &file.length, path.data(), &path.length, counts.data(), x.data(),
                                      y.data(), &nx, &ny);
    }
}

// Handles held across calls: real ones, stale ones, made-up ones, mixed up.
void handles(FuzzedDataProvider& in, std::vector<int>& held) {
    auto pick = [&]() {
        if (held.empty() || in.ConsumeBool()) return in.ConsumeIntegral<int>();
        return held[in.ConsumeIntegralInRange<std::size_t>(0, held.size() - 1)];
    };
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            const Text file = random_file(in);
            int id = -1;
            ftoc_open_file_id_(file.data(), &file.length, &id);
            if (id > 0) held.push_back(id);
            break;
        }
        case 1: {
            const int loc = pick();
            const Text path = random_path(in);
            int id = -1;
            ftoc_open_group_id_(&loc, path.data(), &path.length, &id);
            if (id > 0) held.push_back(id);
            break;
        }
        case 2: {
            const int id = pick();
            ftoc_close_group_id_(&id);
            break;
        }
        default: {
            const int id = pick();
            ftoc_close_file_id_(&id);
        }
    }
}

// The calls through handles, real ones or not: dumps, checked reads, shapes,
// plot records, appends, flushes and deferred commits, some described.
void held_calls(FuzzedDataProvider& in, const std::vector<int>& held) {
    const int id = held.empty() || in.ConsumeBool() ? in.ConsumeIntegral<int>()
                                                    : held[in.ConsumeIntegralInRange<std::size_t>(0, held.size() - 1)];
    const Text path = random_path(in);
    std::array<unsigned int, 3> dims{};
    for (unsigned int& d : dims) d = in.ConsumeIntegralInRange<unsigned int>(0, kMaxCount);
    const int code = in.ConsumeIntegralInRange<int>(0, 2);
    const int string_length = in.ConsumeIntegralInRange<int>(1, 12);
    const int size = static_cast<int>(element_size(code, string_length));
    std::vector<unsigned char> data((dims[0] + 1) * (dims[1] + 1) * (dims[2] + 1) * static_cast<std::size_t>(size),
                                    in.ConsumeIntegral<unsigned char>());
    int status = 0;
    if (in.ConsumeBool()) {  // a description for whichever write comes next, refused or not
        const Text units = random_text(in), name = random_text(in);
        ftoc_describe_next_(units.data(), &units.length, name.data(), &name.length, units.data(), &units.length,
                            name.data(), &name.length);
    }
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            ftoc_h5dump_data_id_(&id, path.data(), &path.length, data.data(), &dims[0], &dims[1], &dims[2], &code,
                                 &string_length);
            break;
        case 1:
            ftoc_h5read_data_checked_id_(&id, path.data(), &path.length, data.data(), &dims[0], &dims[1], &dims[2],
                                         &size, &code, &string_length, &status);
            break;
        case 2: {
            const std::vector<double> axis(kMaxCount + 1, 0.5);
            const int titled = in.ConsumeBool();
            const unsigned int one = 1;
            ftoc_printh5_id_(&id, path.data(), &path.length, data.data(), &code, axis.data(), axis.data(), &dims[0],
                             &dims[1], &titled, "t", &one, "x", &one, "y", &one);
            break;
        }
        case 5:
            ftoc_h5append_data_id_(&id, path.data(), &path.length, data.data(), &dims[0], &dims[1], &code);
            break;
        case 3: {
            int rank = 0;
            ftoc_h5get_dims_id_(&id, path.data(), &path.length, &rank, &dims[0], &dims[1], &dims[2]);
            break;
        }
        default: {
            const int calls = in.ConsumeIntegralInRange<int>(-1, 4);
            const double seconds = in.ConsumeFloatingPointInRange<double>(-1, 1);
            ftoc_defer_commits_id_(&id, &calls, &seconds);
            ftoc_flush_file_id_(&id, &status);
        }
    }
}

// The array entries: any code and rank (they refuse bad ones with a line),
// whole or a block at any start in any shape, compressed or chunked or not,
// by name or through a handle.
void arrays(FuzzedDataProvider& in, const std::vector<int>& held) {
    const Text file = random_file(in);
    const Text path = random_path(in);
    const int rank = in.ConsumeIntegralInRange<int>(-1, 8);
    std::array<unsigned int, 9> dims{}, start{}, shape{};
    std::size_t count = 1;
    for (int i = 0; i < std::max(rank, 0); ++i) {
        dims[i] = in.ConsumeIntegralInRange<unsigned int>(0, kMaxCount);
        start[i] = in.ConsumeIntegralInRange<unsigned int>(0, kMaxCount);
        shape[i] = in.ConsumeIntegralInRange<unsigned int>(0, 2 * kMaxCount);
        count *= dims[i];
    }
    const int code = in.ConsumeIntegralInRange<int>(-1, 5);
    const int string_length = in.ConsumeIntegralInRange<int>(-1, 12);
    const int partial = in.ConsumeBool();
    const int size = static_cast<int>(element_size(code, string_length));
    std::vector<unsigned char> data(std::max<std::size_t>(count, 1) * static_cast<std::size_t>(size),
                                    in.ConsumeIntegral<unsigned char>());
    const bool by_name = held.empty() || in.ConsumeBool();
    const int id = by_name ? 0 : held[in.ConsumeIntegralInRange<std::size_t>(0, held.size() - 1)];
    if (in.ConsumeBool()) {
        const int level = in.ConsumeIntegralInRange<int>(-2, 10);
        const int chunk_rank = in.ConsumeIntegralInRange<int>(0, 8);
        std::array<unsigned int, 8> chunks{};
        for (unsigned int& c : chunks) c = in.ConsumeIntegralInRange<unsigned int>(0, kMaxCount);
        ftoc_compress_next_(&level, &chunk_rank, chunks.data());
    }
    int status = 0;
    if (in.ConsumeBool()) {
        if (by_name)
            ftoc_h5dump_array_(file.data(), &file.length, path.data(), &path.length, data.data(), &rank, dims.data(),
                               &code, &string_length, &partial, start.data(), shape.data());
        else
            ftoc_h5dump_array_id_(&id, path.data(), &path.length, data.data(), &rank, dims.data(), &code,
                                  &string_length, &partial, start.data(), shape.data());
    } else if (in.ConsumeBool()) {
        // A missing file is an answer here, not the end of the process.
        if (by_name)
            ftoc_h5read_array_(file.data(), &file.length, path.data(), &path.length, data.data(), &rank, dims.data(),
                               &size, &code, &string_length, &partial, start.data(), &status);
        else
            ftoc_h5read_array_id_(&id, path.data(), &path.length, data.data(), &rank, dims.data(), &size, &code,
                                  &string_length, &partial, start.data(), &status);
    } else {
        int stored_rank = 0;
        const int max_rank = in.ConsumeIntegralInRange<int>(0, 8);
        if (by_name)
            ftoc_h5get_dims_array_(file.data(), &file.length, path.data(), &path.length, &max_rank, &stored_rank,
                                   shape.data(), &status);
        else
            ftoc_h5get_dims_array_id_(&id, path.data(), &path.length, &max_rank, &stored_rank, shape.data(), &status);
    }
}

void text(FuzzedDataProvider& in) {
    const Text t = random_text(in);
    // Any length up to the bytes there are; never beyond them.
    const unsigned int length = in.ConsumeIntegralInRange<unsigned int>(0, t.length);
    const std::string s = charToString(t.data(), &length);
    if (s.size() > length || s.find('\0') != std::string::npos) std::abort();
    std::vector<std::string> pieces{"kept"};
    split_string(s, pieces, in.ConsumeBool() ? '/' : in.ConsumeIntegral<char>());
    if (pieces.size() < 2 || pieces[0] != "kept") std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/videz5-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    scratch = pattern;
    std::atexit(remove_scratch);
    // The library's messages are many and expected; libFuzzer reports on stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    // A handler of the caller's own: the library must save and restore it.
    H5Eset_auto2(H5E_DEFAULT, quiet_errors, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider in(bytes, size);
    // Every input starts from the same files: reproducible, and the disk stays clean.
    std::error_code ignored;
    fs::remove(scratch / "s.h5", ignored);
    fs::remove(scratch / "t.h5", ignored);
    if (FILE* notes = std::fopen((scratch / "notes.txt").c_str(), "w")) {
        std::fputs("not HDF5\n", notes);
        std::fclose(notes);
    }
    std::vector<int> held;
    for (int step = 0; step < 16 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
            case 0: dump(in); break;
            case 1: read(in); break;
            case 2: plot(in); break;
            case 3: handles(in, held); break;
            case 4: held_calls(in, held); break;
            case 5: arrays(in, held); break;
            default: text(in);
        }
    }
    // Whatever the input left open, so that nothing outlives it.
    for (int id : held) {
        ftoc_close_group_id_(&id);
        ftoc_close_file_id_(&id);
    }
    if (H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL) != 0) std::abort();
    return 0;
}
