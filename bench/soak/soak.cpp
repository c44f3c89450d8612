// Soak: 200,000 mixed calls of the Fortran face against one results file, as a
// run of several days makes them: new and overwritten arrays, reads, plot
// records, strings, held handles, refused writes and bad input. Prints resident
// memory (VmRSS) and HDF5's count of open objects at the start, every 20,000
// calls and at the end; both must stay flat, whatever the run lasts.
// Usage: bench_soak [CALLS]
#include <videz5_c.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The Fortran face, with explicit lengths, as a Fortran program calls it.
struct Text {
    explicit Text(std::string s) : text(std::move(s)), length(static_cast<unsigned int>(text.size())) {}
    std::string text;
    unsigned int length;
};

long resident_kib() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::atol(line + 6);
    if (status != nullptr) std::fclose(status);
    return kib;
}

void dump(const Text& file, const std::string& path, const void* data, unsigned d1, unsigned d2, int code,
          int string_length = 0) {
    const Text p(path);
    const unsigned d3 = 0;
    ftoc_h5dump_data_(file.text.data(), &file.length, p.text.data(), &p.length, data, &d1, &d2, &d3, &code,
                      &string_length);
}

void read(const Text& file, const std::string& path, void* buffer, int code) {
    const Text p(path);
    const int string_length = 0;
    ftoc_h5read_data_(file.text.data(), &file.length, p.text.data(), &p.length, buffer, &code, &string_length);
}

}  // namespace

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 200000;
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/videz5-soak-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) return 2;
    const Text file(dir + "/soak.h5");

    // The library's lines and HDF5's reports of the bad calls are many; the
    // figures keep the real output.
    std::FILE* report = fdopen(dup(STDOUT_FILENO), "w");
    if (report == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr ||
        std::freopen("/dev/null", "w", stderr) == nullptr)
        return 2;

    std::vector<double> field(16 * 8), back(16 * 8), wide(20 * 8), x(16), y(16);
    std::vector<int> counts(16 * 8);
    char words[3][10];
    std::memset(words, ' ', sizeof words);
    std::memcpy(words[0], "pressure", 8);
    std::memcpy(words[1], "velocity", 8);
    const Text title("step title"), xtitle("x [m]"), ytitle("y [m]"), held_path("held/a/b");
    const unsigned nx = 16, ny = 8;

    std::fprintf(report, "%10s %12s %14s %14s %10s\n", "calls", "VmRSS kiB", "open objects", "file bytes",
                 "seconds");
    const auto start = std::chrono::steady_clock::now();
    auto print = [&](long done) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::error_code ignored;
        const auto bytes = std::filesystem::file_size(file.text, ignored);
        std::fprintf(report, "%10ld %12ld %14ld %14llu %10.1f\n", done, resident_kib(),
                     static_cast<long>(H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL)),
                     static_cast<unsigned long long>(ignored ? 0 : bytes), seconds);
        std::fflush(report);
    };
    print(0);

    for (long k = 0; k < calls; ++k) {
        for (std::size_t i = 0; i < field.size(); ++i) field[i] = static_cast<double>(k) + 0.001 * i;
        const std::string slot = "g" + std::to_string(k / 10 % 50) + "/d" + std::to_string(k % 20);
        switch (k % 10) {
            case 0:  // a new array or, after the first rounds, the same one overwritten
                dump(file, "fields/" + slot, field.data(), 16, 8, 0);
                break;
            case 1:  // what was dumped ten calls ago
                read(file, "fields/g" + std::to_string((k - 1) / 10 % 50) + "/d" + std::to_string((k - 1) % 20),
                     back.data(), 0);
                break;
            case 2: {
                const Text p("plots/p" + std::to_string(k % 40));
                ftoc_printh5_double_(file.text.data(), &file.length, p.text.data(), &p.length, field.data(),
                                     x.data(), y.data(), &nx, &ny, title.text.data(), &title.length,
                                     xtitle.text.data(), &xtitle.length, ytitle.text.data(), &ytitle.length);
                break;
            }
            case 3: {
                const Text p("iplots/q" + std::to_string(k % 30));
                ftoc_printh5_int_notitle_(file.text.data(), &file.length, p.text.data(), &p.length, counts.data(),
                                          x.data(), y.data(), &nx, &ny);
                break;
            }
            case 4:
                dump(file, "text/t" + std::to_string(k % 30), words, 3, 0, 2, 10);
                break;
            case 5: {  // handles held across calls
                int fid = -1, gid = -1;
                ftoc_open_file_id_(file.text.data(), &file.length, &fid);
                ftoc_open_group_id_(&fid, held_path.text.data(), &held_path.length, &gid);
                ftoc_close_group_id_(&gid);
                ftoc_close_file_id_(&fid);
                break;
            }
            case 6:  // refused: another shape over an existing array
                dump(file, "fields/g0/d0", wide.data(), 20, 8, 0);
                break;
            case 7:  // bad input: a string length below 1, a stale handle
                dump(file, "text/bad", words, 3, 0, 2, 0);
                {
                    const int stale = 1;
                    ftoc_close_file_id_(&stale);
                }
                break;
            case 8:
                dump(file, "ints/i" + std::to_string(k % 25), counts.data(), 16, 8, 1);
                break;
            default:  // a dataset that is not there: the buffer stays as it is
                read(file, "fields/none/" + slot, back.data(), 0);
        }
        if ((k + 1) % 20000 == 0 || k + 1 == 1000) print(k + 1);
    }
    if (calls % 20000 != 0) print(calls);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
