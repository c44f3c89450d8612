// HDF5's automatic error printing: the library switches it off where a failure
// is an answer (the probe of a name, the walk of a path), and must put back
// exactly what was in force, whichever API generation installed it.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

class Printing_ : public ::testing::TestWithParam<Printing> {};

TEST_P(Printing_, ProbeAndWalkPrintNothingAndRestoreTheSetting) {
    TempDir tmp;
    write_bytes(tmp.path("text"), "not hdf5");
    PrintingSetting setting(GetParam());
    ASSERT_TRUE(setting.installed.read_ok);
    const ssize_t before = open_objects();
    hid_t file = -1;
    const std::vector<std::string> created{"a", "b", "c"}, missing{"x", "y"};
    std::vector<hid_t> chain(4, 0);
    unsigned int depth = 0;
    const Output printed = capture([&] {
        file = open_h5_file(tmp.path("new.h5"), false);  // the open of a missing name fails first
        open_h5_file(tmp.path("text"), false);            // a foreign file
        open_path(file, created, chain, depth, 1, true);  // every open fails before the create
        close_path(created, chain, 1);
        open_path(file, missing, chain, depth, 1, false);
        close_path(missing, chain, 1);
    });
    ASSERT_GE(file, 0);
    EXPECT_TRUE(is_group(file, "a/b/c"));
    EXPECT_FALSE(has_link(file, "x"));
    EXPECT_EQ(setting.calls, 0);
    EXPECT_EQ(printed.err, "");
    EXPECT_EQ(printed.out, "NOT AN HDF5 FILE IN open_h5_file( " + tmp.path("text") + " ), LEFT UNTOUCHED\n");
    EXPECT_TRUE(current_printing() == setting.installed);
    H5Fclose(file);
    EXPECT_EQ(open_objects(), before);
}

INSTANTIATE_TEST_SUITE_P(Settings, Printing_, all_printings, PrintingName());
