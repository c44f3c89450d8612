// file_exists and open_h5_file: open read-write, create, refuse, abort.
#include "videz5_c.h"
#include "support.hpp"

#include <csignal>

using namespace unit;

namespace {

class OpenFile : public ::testing::Test {
protected:
    hid_t open(const std::string& name, bool must_exist = false) {
        hid_t file = -1;
        printed = capture([&] { file = open_h5_file(name, must_exist); });
        return file;
    }

    TempDir tmp;
    const ssize_t objects_before = open_objects();
    Output printed;
};

}  // namespace

TEST_F(OpenFile, CreatesMissingFileSilently) {
    EXPECT_FALSE(file_exists(tmp.path("new.h5")));
    const hid_t file = open(tmp.path("new.h5"));
    ASSERT_GE(file, 0);
    EXPECT_EQ(printed.out + printed.err, "");  // the failed probe of the missing name must not print
    EXPECT_EQ(open_objects(), objects_before + 1);
    H5Fclose(file);
    EXPECT_TRUE(file_exists(tmp.path("new.h5")));
    EXPECT_GT(H5Fis_hdf5(tmp.path("new.h5").c_str()), 0);
}

TEST_F(OpenFile, OpensExistingFileReadWriteKeepingContents) {
    const std::string name = tmp.path("old.h5");
    hid_t raw = create_file(name);
    put<int>(raw, "kept", {3}, {1, 2, 3});
    H5Fclose(raw);
    for (bool must_exist : {false, true}) {
        const hid_t file = open(name, must_exist);
        ASSERT_GE(file, 0);
        EXPECT_EQ(open_objects(), objects_before + 1);
        put<int>(file, must_exist ? "added2" : "added", {1}, {7});  // writable either way
        H5Fclose(file);
    }
    raw = H5Fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    EXPECT_EQ(values<int>(raw, "kept"), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(values<int>(raw, "added"), (std::vector<int>{7}));
    EXPECT_EQ(values<int>(raw, "added2"), (std::vector<int>{7}));
    H5Fclose(raw);
    EXPECT_EQ(open_objects(), objects_before);
}

TEST_F(OpenFile, RefusesNonHdf5FileAndLeavesItUntouched) {
    const std::string name = tmp.path("notes.txt");
    const std::string bytes("someone else's data\n\0\1\2", 23);
    write_bytes(name, bytes);
    EXPECT_LT(open(name), 0);
    EXPECT_EQ(printed.out, "NOT AN HDF5 FILE IN open_h5_file( " + name + " ), LEFT UNTOUCHED\n");
    EXPECT_EQ(file_bytes(name), bytes);
    EXPECT_EQ(open_objects(), objects_before);
}

TEST_F(OpenFile, ReplacesEmptyFile) {
    write_bytes(tmp.path("empty.h5"), "");
    const hid_t file = open(tmp.path("empty.h5"));
    ASSERT_GE(file, 0);
    EXPECT_EQ(printed.out, "");
    H5Fclose(file);
    EXPECT_GT(H5Fis_hdf5(tmp.path("empty.h5").c_str()), 0);
}

TEST_F(OpenFile, NameInMissingDirectoryGivesNegativeIdAndItsCause) {
    EXPECT_LT(open(tmp.path("no-dir/x.h5")), 0);
    EXPECT_EQ(printed.out, "CANNOT OPEN FILE IN open_h5_file( " + tmp.path("no-dir/x.h5") +
                               " ): No such file or directory\n");
    EXPECT_EQ(open_objects(), objects_before);
}

TEST_F(OpenFile, MissingFileThatMustExistAborts) {
    const ChildOutcome child = run_in_child([&] {
        if (chdir(tmp.dir().c_str()) != 0) _exit(99);
        open_h5_file("missing.h5", true);
    });
    EXPECT_EQ(child.signal, SIGABRT);
    EXPECT_EQ(child.out, "NONEXISTENT FILE IN open_h5_file( missing.h5 )\nABORTING\n");
    EXPECT_FALSE(file_exists(tmp.path("missing.h5")));
}

// The probe turns error printing off and must put back exactly what was in
// force, whichever API generation installed it.
class ProbePrinting : public ::testing::TestWithParam<Printing> {};

TEST_P(ProbePrinting, RestoresSettingAndPrintsNothing) {
    TempDir tmp;
    write_bytes(tmp.path("text"), "not hdf5");
    PrintingSetting setting(GetParam());
    ASSERT_TRUE(setting.installed.read_ok);
    const ssize_t before = open_objects();
    hid_t created = -1;
    const Output printed = capture([&] {
        created = open_h5_file(tmp.path("new.h5"), false);  // the probe of a missing name fails
        open_h5_file(tmp.path("text"), false);              // the probe of a foreign file
    });
    EXPECT_GE(created, 0);
    EXPECT_EQ(setting.calls, 0);
    EXPECT_EQ(printed.err, "");
    EXPECT_TRUE(current_printing() == setting.installed);
    H5Fclose(created);
    EXPECT_EQ(open_objects(), before);
}

INSTANTIATE_TEST_SUITE_P(Settings, ProbePrinting, all_printings, PrintingName());
