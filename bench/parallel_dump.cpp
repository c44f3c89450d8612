// The collective dump on 4 ranks (run under mpiexec -n 4): a 3-D double array
// of 4 x 64 MiB, cut along its last Fortran dimension, written
//   - collectively into one shared file (ftoc_h5pdump_data_),
//   - by each rank into a file of its own with the serial dump, and
//   - gathered to rank 0 and dumped there with the serial dump;
// then the cost of a collective dump of 100 doubles per rank against one
// rank's serial dump of the same bytes. Prints figures and ratios; never fails
// on a slow run (exit status 2 only when a call did not do its work).
#include "bench_common.hpp"

#include <videz5_c_mpi.h>

#include <mpi.h>
#include <sys/resource.h>

#include <fcntl.h>

#include <cstring>

namespace {

int me = 0, ranks = 1;

// Peak resident memory of this process so far, in MiB (getrusage: KiB on Linux).
double peak_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double max_over_ranks(double value) {
    double max = value;
    MPI_Allreduce(&value, &max, 1, MPI_DOUBLE, MPI_MAX, MPI_COMM_WORLD);
    return max;
}

// Seconds from a common start until the last rank is done.
template <typename Body>
double timed(Body&& body) {
    MPI_Barrier(MPI_COMM_WORLD);
    const double t0 = bench::now();
    body();
    MPI_Barrier(MPI_COMM_WORLD);
    return max_over_ranks(bench::now() - t0);
}

void collective(const std::string& file, const std::string& path, const double* block, const unsigned* global,
                const unsigned* offset, const unsigned* count) {
    const unsigned name_length = static_cast<unsigned>(file.size()), path_length = static_cast<unsigned>(path.size());
    const int comm = static_cast<int>(MPI_Comm_c2f(MPI_COMM_WORLD)), code = VIDEZ5_DOUBLE;
    int status = -1;
    ftoc_h5pdump_data_(&comm, file.data(), &name_length, path.data(), &path_length, block, global, offset, count,
                       &code, &status);
    bench::require(status == VIDEZ5_OK, "collective dump");
}

// The floor under any HDF5 way: each rank's bytes written with one pwrite,
// into one shared file at the block's place or into a file of its own.
void plain_write(const std::string& file, const std::vector<double>& block, bool shared) {
    const std::size_t bytes = block.size() * sizeof(double);
    if (shared && me == 0) close(open(file.c_str(), O_CREAT | O_WRONLY, 0644));
    if (shared) MPI_Barrier(MPI_COMM_WORLD);
    const int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0644);
    bench::require(fd >= 0, "open");
    const off_t at = shared ? static_cast<off_t>(bytes) * me : 0;
    bench::require(pwrite(fd, block.data(), bytes, at) == static_cast<ssize_t>(bytes), "pwrite");
    close(fd);
}

// Median and interquartile range of per-round ratios: "0.78 (IQR 0.61-0.95)".
std::string spread(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(q * (values.size() - 1) + 0.5)]; };
    char text[64];
    std::snprintf(text, sizeof text, "%.2f (IQR %.2f-%.2f)", bench::median(values), at(0.25), at(0.75));
    return text;
}

void remove_file(const std::string& name) {
    MPI_Barrier(MPI_COMM_WORLD);
    if (me == 0) std::remove(name.c_str());
    MPI_Barrier(MPI_COMM_WORLD);
}

}  // namespace

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    MPI_Comm_rank(MPI_COMM_WORLD, &me);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks);
    // One scratch directory, made by rank 0, shared by all.
    std::unique_ptr<bench::Scratch> scratch;
    char dir[4096] = {};
    if (me == 0) {
        scratch = std::make_unique<bench::Scratch>("parallel_dump");
        std::snprintf(dir, sizeof dir, "%s", scratch->dir().c_str());
    }
    MPI_Bcast(dir, sizeof dir, MPI_CHAR, 0, MPI_COMM_WORLD);
    const std::string base = dir;
    const double baseline = max_over_ranks(peak_mib());

    // 256 x 256 x 128 doubles per rank (64 MiB), the ranks' blocks side by side in z.
    const unsigned nx = 256, ny = 256, nz = 128;
    const std::size_t n = std::size_t{nx} * ny * nz;
    const double block_mib = static_cast<double>(n * sizeof(double)) / 1048576.0;
    std::vector<double> block(n);
    for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<double>(me) * 1e9 + static_cast<double>(i);
    const unsigned global[3] = {nx, ny, nz * static_cast<unsigned>(ranks)}, offset[3] = {0, 0, nz * unsigned(me)},
                   count[3] = {nx, ny, nz};
    const double total_mib = block_mib * ranks;
    const int repetitions = 21;

    // Memory is a process-lifetime peak: the ways run in order of what they
    // hold, the gather (the whole array on rank 0) last.
    std::vector<double> shared_s, own_s, gather_s, plain_shared_s, plain_own_s, ratio, plain_ratio, floor_ratio;
    // The four ways that hold no more than the block take turns, the one going
    // first rotating; the first round warms up and is not counted.
    const std::string shared_file = base + "/shared.h5", own_file = base + "/rank" + std::to_string(me) + ".h5";
    const std::string plain_shared = base + "/plain_shared", plain_own = base + "/plain" + std::to_string(me);
    for (int r = 0; r <= repetitions; ++r) {
        double seconds[4];
        for (int turn = 0; turn < 4; ++turn) {
            const int way = (turn + r) % 4;
            if (way == 0) {
                seconds[0] = timed([&] { collective(shared_file, "fields/t", block.data(), global, offset, count); });
                remove_file(shared_file);
            } else if (way == 1) {
                seconds[1] = timed([&] { bench::lib_dump_doubles(own_file, "fields/t", block.data(), nx, ny, nz); });
                MPI_Barrier(MPI_COMM_WORLD);
                std::remove(own_file.c_str());
            } else if (way == 2) {
                seconds[2] = timed([&] { plain_write(plain_shared, block, true); });
                remove_file(plain_shared);
            } else {
                seconds[3] = timed([&] { plain_write(plain_own, block, false); });
                MPI_Barrier(MPI_COMM_WORLD);
                std::remove(plain_own.c_str());
            }
        }
        if (r == 0) continue;
        shared_s.push_back(seconds[0]);
        own_s.push_back(seconds[1]);
        plain_shared_s.push_back(seconds[2]);
        plain_own_s.push_back(seconds[3]);
        ratio.push_back(seconds[1] / seconds[0]);
        plain_ratio.push_back(seconds[3] / seconds[2]);
        floor_ratio.push_back(seconds[2] / seconds[0]);
    }
    const double shared_peak = max_over_ranks(peak_mib());
    for (int r = 0; r < repetitions; ++r) {
        const std::string file = base + "/gathered.h5";
        gather_s.push_back(timed([&] {
            std::vector<double> whole(me == 0 ? n * ranks : 0);
            MPI_Gather(block.data(), static_cast<int>(n), MPI_DOUBLE, whole.data(), static_cast<int>(n), MPI_DOUBLE, 0,
                       MPI_COMM_WORLD);
            if (me == 0) bench::lib_dump_doubles(file, "fields/t", whole.data(), nx, ny, nz * ranks);
        }));
        remove_file(file);
    }
    const double gather_peak = max_over_ranks(peak_mib());

    // 100 doubles per rank, each call a new dataset of one file, in pairs.
    std::vector<double> small(100, 0.5 + me), small_whole(100 * static_cast<std::size_t>(ranks), 0.5);
    const std::string small_collective = base + "/small_collective.h5", small_serial = base + "/small_serial.h5";
    const unsigned sg[3] = {100, static_cast<unsigned>(ranks), 0}, so[3] = {0, unsigned(me), 0}, sc[3] = {100, 1, 0};
    std::vector<double> small_collective_s, small_serial_s, small_ratio;
    for (int b = 0; b < 11; ++b) {  // the first block warms up
        double c = 0, s = 0;
        for (int k = 0; k < 50; ++k) {
            const std::string path = bench::numbered("g/d", b * 50 + k);
            c += timed([&] { collective(small_collective, path, small.data(), sg, so, sc); });
            s += timed([&] {
                if (me == 0) bench::lib_dump_doubles(small_serial, path, small_whole.data(), 100, ranks);
            });
        }
        if (b == 0) continue;
        small_collective_s.push_back(c / 50);
        small_serial_s.push_back(s / 50);
        small_ratio.push_back(c / s);
    }

    if (me == 0) {
        const double shared = bench::median(shared_s), own = bench::median(own_s), gather = bench::median(gather_s);
        std::printf("%d ranks, %.0f MiB per rank (%u x %u x %u doubles), %.0f MiB in all; median of %d runs;\n",
                    ranks, block_mib, nx, ny, nz, total_mib, repetitions);
        std::printf("peak memory: the largest ru_maxrss of any rank, after the first four ways (which take turns) "
                    "and after the gather (run last); before the block: %.0f MiB\n\n", baseline);
        std::printf("| way | seconds | MiB/s | throughput vs file per rank | peak MiB | peak - block - start |\n");
        std::printf("|---|---|---|---|---|---|\n");
        const auto row = [&](const char* way, double seconds, double peak) {
            std::printf("| %s | %.3f | %.0f | %.2f |", way, seconds, total_mib / seconds, own / seconds);
            if (peak < 0)
                std::printf(" - | - |\n");
            else
                std::printf(" %.0f | %.0f |\n", peak, peak - block_mib - baseline);
        };
        row("collective dump, one shared file", shared, shared_peak);
        row("serial dump, one file per rank", own, shared_peak);
        row("gather to rank 0, one serial dump", gather, gather_peak);
        row("plain pwrite, one shared file (no HDF5)", bench::median(plain_shared_s), -1);
        row("plain pwrite, one file per rank (no HDF5)", bench::median(plain_own_s), -1);
        std::printf("\nthroughput ratios, median of the rounds' ratios:\n");
        std::printf("- collective dump / serial dump per rank: %s (goal >= 0.8)\n", spread(ratio).c_str());
        std::printf("- plain pwrite, shared file / file per rank: %s (what the file system gives)\n",
                    spread(plain_ratio).c_str());
        std::printf("- collective dump / plain pwrite into a shared file: %s\n", spread(floor_ratio).c_str());
        std::printf("gather time / collective dump time: %.2f (goal > 1)\n", gather / shared);
        std::printf("\n100 doubles per rank, a new dataset per call, 10 blocks of 50 calls:\n");
        std::printf("| call | ms per call |\n|---|---|\n");
        std::printf("| collective dump, %d x 100 doubles | %.3f |\n", ranks, 1e3 * bench::median(small_collective_s));
        std::printf("| serial dump of the same %d doubles by rank 0 | %.3f |\n", 100 * ranks,
                    1e3 * bench::median(small_serial_s));
        std::printf("\ncollective / serial time: %s\n", spread(small_ratio).c_str());
    }
    scratch.reset();
    MPI_Finalize();
    return 0;
}
