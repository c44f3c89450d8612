// videz5-recover FILE...: puts back what a killed call of the library left
// half done in each file, as the library's next open of it would, for users
// about to read a killed run's files with other programs (which would see the
// half-done change), or to write them (which would cut the journal off).
//
//   videz5-recover FILE...             undo, where the file holds what the kill left
//   videz5-recover --discard FILE...   drop the journal, keep the file as it is
//
// One line per file; exit status 0 when every file is as the library would
// have it (nothing to undo, or undone), 1 otherwise, 2 for bad usage.
#include "../driver/posix_io.hpp"
#include "../driver/undo_journal.hpp"
#include "../detail/fd.hpp"

#include <fcntl.h>
#include <sys/file.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using videz5::detail::Recovery;

bool recover_one(const std::string& name, bool discard) {
    const videz5::detail::Fd fd(::open(name.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        std::printf("%s: cannot open it for writing: %s\n", name.c_str(), std::strerror(errno));
        return false;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && !videz5::detail::no_locks_here(errno)) {
        std::printf("%s: a running program has it open; left alone\n", name.c_str());
        return false;
    }
    std::string why;
    const Recovery done = discard ? videz5::detail::discard(fd.get(), why)
                                  : videz5::detail::recover_file(name, fd.get(), true, why);
    switch (done) {
        case Recovery::kNothing:
            std::printf("%s: nothing to undo\n", name.c_str());
            return true;
        case Recovery::kRecovered:
            std::printf(discard ? "%s: journal dropped, the file kept as it is\n"
                                : "%s: the unfinished change of a killed call undone\n",
                        name.c_str());
            return true;
        case Recovery::kBusy:
            std::printf("%s: a running program has it open; left alone\n", name.c_str());
            return false;
        case Recovery::kRefused:
        case Recovery::kFailed:
            std::printf("%s: %s\n", name.c_str(), why.c_str());
            return false;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    const bool discard = argc > 1 && std::strcmp(argv[1], "--discard") == 0;
    if (discard) ++first;
    if (first >= argc || argv[first][0] == '-') {
        std::fprintf(stderr, "usage: videz5-recover [--discard] FILE...\n");
        return 2;
    }
    bool all = true;
    for (int i = first; i < argc; ++i) all = recover_one(argv[i], discard) && all;
    return all ? 0 : 1;
}
