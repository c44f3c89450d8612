// Two threads calling the entry points at once, as a multi-threaded program
// may: each holds files and groups of its own through handles and dumps into
// a file both write by name. Built with ThreadSanitizer, library and all:
// a data race ends it with TSan's report. Then every value must read back.
#include "videz5_c.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRounds = 40;
const unsigned int kLength[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

bool read_back(const std::string& file, const std::string& path, double expected) {
    double got[4] = {0, 0, 0, 0};
    const unsigned int name_length = file.size(), path_length = path.size(), n = 4, none = 0;
    const int size = 8, code = VIDEZ5_DOUBLE, string_length = 0;
    int status = -1;
    ftoc_h5read_data_checked_(file.c_str(), &name_length, path.c_str(), &path_length, got, &n, &none, &none, &size,
                              &code, &string_length, &status);
    return status == VIDEZ5_OK && got[0] == expected && got[3] == expected;
}

void work(int thread) {
    const std::string own = "own" + std::to_string(thread) + ".h5";
    const unsigned int own_length = own.size(), n = 4, none = 0;
    const int code = VIDEZ5_DOUBLE, string_length = 0;
    for (int round = 0; round < kRounds; ++round) {
        const double values[4] = {1.0 * round, 1.0 * round, 1.0 * round, 1.0 * round};
        int file = -1, group = -1;
        ftoc_open_file_id_(own.c_str(), &own_length, &file);
        ftoc_open_group_id_(&file, "g", &kLength[1], &group);
        const std::string path = "d" + std::to_string(round);
        const unsigned int path_length = path.size();
        ftoc_h5dump_data_id_(&group, path.c_str(), &path_length, values, &n, &none, &none, &code, &string_length);
        ftoc_close_group_id_(&group);
        ftoc_close_file_id_(&file);
        const std::string shared = "t" + std::to_string(thread) + "r" + std::to_string(round);
        const unsigned int shared_length = shared.size();
        ftoc_h5dump_data_("shared.h5", &kLength[9], shared.c_str(), &shared_length, values, &n, &none, &none, &code,
                          &string_length);
    }
}

}  // namespace

int main() {
    char scratch[] = "/tmp/videz5-threads-XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) return 2;
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) threads.emplace_back(work, t);
    for (std::thread& t : threads) t.join();
    int wrong = 0;
    for (int t = 0; t < 2; ++t)
        for (int round = 0; round < kRounds; ++round) {
            wrong += !read_back("own" + std::to_string(t) + ".h5", "g/d" + std::to_string(round), round);
            wrong += !read_back("shared.h5", "t" + std::to_string(t) + "r" + std::to_string(round), round);
        }
    std::printf("%d of %d values wrong\n", wrong, 4 * kRounds);
    std::filesystem::remove_all(scratch);
    return wrong == 0 ? 0 : 1;
}
