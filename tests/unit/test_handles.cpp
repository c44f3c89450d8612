// The Fortran entry points as C++ calls them: what the Fortran test programs cannot provoke.
#include "videz5_c.h"
#include "support.hpp"

#include <sys/resource.h>
#include <unistd.h>

using namespace unit;

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves more address space than any limit leaves
// An exception must never unwind into a Fortran caller: an allocation failure
// (here of a title longer than the memory the process may still take) becomes
// one line, and the call returns.
TEST(EntryPoints, AnAllocationFailureBecomesOneLineAndTheCallReturns) {
    TempDir tmp;
    const std::size_t huge = std::size_t{256} << 20;
    const std::string title(huge, 'x');
    const auto call_with_little_memory = [&] {
        dup2(2, 1);  // the child's standard output is what the death test compares
        if (chdir(tmp.dir.c_str()) != 0) _exit(99);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t now = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
        const rlimit limit{now + (64u << 20), now + (64u << 20)};
        setrlimit(RLIMIT_AS, &limit);
        const double values[4] = {1, 2, 3, 4};
        const unsigned int name_length = 4, path_length = 1, title_length = huge, one = 1, two = 2;
        ftoc_printh5_double_("m.h5", &name_length, "p", &path_length, values, values, values, &two, &two,
                             title.data(), &title_length, "x", &one, "y", &one);
        std::printf("returned\n");
        std::exit(0);
    };
    EXPECT_EXIT(call_with_little_memory(), ::testing::ExitedWithCode(0),
                "^OUT OF MEMORY IN ftoc_printh5_double_\nreturned\n$");
}
#endif
