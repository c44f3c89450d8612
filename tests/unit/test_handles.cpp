// The Fortran entry points as C++ calls them: what the Fortran test programs cannot provoke.
#include "videz5_c.h"
#include "support.hpp"

#include <hdf5_hl.h>

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

// While commits are deferred the groups that calls walk stay open between
// calls; the close of the file, or going back to committing every call,
// closes them, so that nothing keeps the file open behind the caller's back.
TEST(HeldFiles, GroupsKeptOpenWhileDeferringAreClosedWithTheFile) {
    TempDir tmp;
    const std::string file = tmp.path("held.h5");
    const unsigned int name_length = static_cast<unsigned int>(file.size()), count = 3, none = 0, three = 3;
    const int type_code = VIDEZ5_DOUBLE, no_string = 0, calls = 100, one_call = 1;
    const double values[3] = {1, 2, 3}, no_seconds = 0;
    int fid = -1, gid = -1;
    const auto dump = [&](int handle, const std::string& path) {
        const unsigned int length = static_cast<unsigned int>(path.size());
        ftoc_h5dump_data_id_(&handle, path.data(), &length, values, &count, &none, &none, &type_code, &no_string);
    };
    const auto groups_open = [&] { return H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_GROUP); };
    ftoc_open_file_id_(file.data(), &name_length, &fid);
    ASSERT_GT(fid, 0);
    ftoc_defer_commits_id_(&fid, &calls, &no_seconds);
    for (const char* path : {"a/b/x", "a/b/y", "a/c"}) dump(fid, path);
    EXPECT_EQ(groups_open(), 2);  // a and a/b, each once
    ftoc_defer_commits_id_(&fid, &one_call, &no_seconds);
    EXPECT_EQ(groups_open(), 0);
    ftoc_defer_commits_id_(&fid, &calls, &no_seconds);
    ftoc_open_group_id_(&fid, "a/b", &three, &gid);
    ASSERT_GT(gid, 0);
    dump(gid, "d/z");
    ftoc_close_group_id_(&gid);
    dump(fid, "a/b/w");  // a/b is still kept for the file
    ftoc_close_file_id_(&fid);
    EXPECT_EQ(H5Fget_obj_count(H5F_OBJ_ALL, H5F_OBJ_ALL), 0);  // the file is closed, not only its handle

    const hid_t f = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    for (const char* path : {"a/b/x", "a/b/y", "a/c", "a/b/d/z", "a/b/w"}) {
        double back[3] = {};
        EXPECT_GE(H5LTread_dataset_double(f, path, back), 0) << path;
        EXPECT_EQ(back[2], 3) << path;
    }
    H5Fclose(f);
}
