// The Fortran face of files and groups: 32-bit handles for HDF5 identifiers.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

namespace {

class Handles : public ::testing::Test {
protected:
    int open_file(const std::string& name, std::size_t length) {
        const unsigned int n = static_cast<unsigned int>(length);
        int handle = 0;
        ftoc_open_file_id_(name.c_str(), &n, &handle);
        return handle;
    }
    int open_file(const std::string& name) { return open_file(name, name.size()); }
    int open_group(int location, const std::string& path) {
        const unsigned int n = static_cast<unsigned int>(path.size());
        int handle = 0;
        ftoc_open_group_id_(&location, path.c_str(), &n, &handle);
        return handle;
    }

    TempDir tmp;
    const ssize_t objects_before = open_objects();
};

}  // namespace

TEST_F(Handles, FileHandleRoundTrip) {
    // Blanks past the given length are not part of the name.
    const std::string name = tmp.path("out.h5");
    const int file = open_file(name + "      ", name.size());
    ASSERT_GT(file, 0);
    EXPECT_EQ(open_objects(), objects_before + 1);
    ftoc_close_file_id_(&file);
    EXPECT_EQ(open_objects(), objects_before);
    EXPECT_GT(H5Fis_hdf5(name.c_str()), 0);

    // A closed handle is forgotten and never handed out again.
    const Output printed = capture([&] { ftoc_close_file_id_(&file); });
    EXPECT_EQ(printed.out, "");
    EXPECT_NE(printed.err, "");
    const int again = open_file(name);
    EXPECT_GT(again, file);
    ftoc_close_file_id_(&again);
    EXPECT_EQ(open_objects(), objects_before);
}

TEST_F(Handles, FailedOpenHandsBackMinusOne) {
    write_bytes(tmp.path("text"), "not hdf5");
    capture([&] {
        EXPECT_EQ(open_file(tmp.path("no-dir/x.h5")), -1);
        EXPECT_EQ(open_file(tmp.path("text")), -1);
    });
    EXPECT_EQ(open_objects(), objects_before);
}

TEST_F(Handles, GroupPathsBelowFileAndBelowGroup) {
    const std::string name = tmp.path("groups.h5");
    const int file = open_file(name);
    const int g3 = open_group(file, "g1/g2/g3");
    ASSERT_GT(g3, 0);
    // Only the last group stays open: the ones above it are the library's business.
    EXPECT_EQ(open_objects(), objects_before + 2);
    const int below = open_group(g3, "h");
    const int same = open_group(file, "/g1/g2/g3");  // opened now, not created again
    ASSERT_GT(below, 0);
    ASSERT_GT(same, 0);
    EXPECT_NE(same, g3);
    EXPECT_EQ(open_objects(), objects_before + 4);

    for (const int* group : {&below, &same, &g3}) ftoc_close_group_id_(group);
    EXPECT_EQ(open_objects(), objects_before + 1);  // the starting location stays open
    ftoc_close_file_id_(&file);
    EXPECT_EQ(open_objects(), objects_before);

    const hid_t raw = H5Fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    EXPECT_TRUE(is_group(raw, "g1/g2/g3/h"));
    EXPECT_EQ(links_in(raw, "/"), 1u);
    EXPECT_EQ(links_in(raw, "g1/g2/g3"), 1u);
    H5Fclose(raw);
}

TEST_F(Handles, WrongCloseKeepsTheHandle) {
    const int file = open_file(tmp.path("wrong.h5"));
    const int group = open_group(file, "g");
    ASSERT_GT(group, 0);
    const Output printed = capture([&] {
        ftoc_close_group_id_(&file);
        ftoc_close_file_id_(&group);
    });
    EXPECT_NE(printed.err, "");  // HDF5 reports both failures
    EXPECT_EQ(open_objects(), objects_before + 2);
    ftoc_close_group_id_(&group);
    ftoc_close_file_id_(&file);
    EXPECT_EQ(open_objects(), objects_before);
}

TEST_F(Handles, UnknownHandleActsLikeAnInvalidIdentifier) {
    const std::string name = tmp.path("unknown.h5");
    const int file = open_file(name);
    const int unknown = file + 1000;
    int group = 0;
    Output printed = capture([&] { group = open_group(unknown, "g"); });
    EXPECT_LT(group, 0);
    EXPECT_EQ(printed.out + printed.err, "");

    printed = capture([&] {
        ftoc_close_group_id_(&unknown);
        ftoc_close_file_id_(&unknown);
    });
    EXPECT_EQ(printed.out, "");
    EXPECT_NE(printed.err, "");
    EXPECT_EQ(open_objects(), objects_before + 1);
    ftoc_close_file_id_(&file);

    const hid_t raw = H5Fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    EXPECT_EQ(links_in(raw, "/"), 0u);
    H5Fclose(raw);
    EXPECT_EQ(open_objects(), objects_before);
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer reserves more address space than any limit leaves
// An exception must never unwind into a Fortran caller: an allocation failure
// (here of a title longer than the memory the process may still take) becomes
// one line, and the call returns.
TEST(EntryPoints, AnAllocationFailureBecomesOneLineAndTheCallReturns) {
    TempDir tmp;
    const ChildOutcome child = run_in_child([&] {
        if (chdir(tmp.dir().c_str()) != 0) _exit(99);
        const std::size_t huge = std::size_t{256} << 20;
        const std::string title(huge, 'x');
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
    });
    EXPECT_EQ(child.exit_code, 0);
    EXPECT_EQ(child.out, "OUT OF MEMORY IN ftoc_printh5_double_\nreturned\n");
}
#endif
