// Handles must keep working once HDF5 has issued more identifiers than fit in
// the 24 serial bits of an identifier squeezed into 32 bits. Its own program:
// issuing that many identifiers takes a while.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

TEST(HandlesAfterManyIds, FileAndNestedGroupsRoundTrip) {
    TempDir tmp;
    const hid_t scratch = create_file(tmp.path("scratch.h5"));
    ASSERT_GE(scratch, 0);
    const long issued = (1L << 24) + 4096;
    for (long i = 0; i < issued; ++i) {
        const hid_t root = H5Gopen2(scratch, "/", H5P_DEFAULT);
        if (root < 0 || H5Gclose(root) < 0) FAIL() << "group identifier " << i;
    }
    H5Fclose(scratch);
    const ssize_t objects_before = open_objects();

    const std::string name = tmp.path("run.h5");
    const unsigned int name_length = static_cast<unsigned int>(name.size());
    int file = 0;
    ftoc_open_file_id_(name.c_str(), &name_length, &file);
    ASSERT_GT(file, 0);

    const std::string outer_path = "run/step", inner_path = "fields/T";
    const unsigned int outer_length = 8, inner_length = 8;
    int outer = 0, inner = 0;
    ftoc_open_group_id_(&file, outer_path.c_str(), &outer_length, &outer);
    ASSERT_GT(outer, 0);
    ftoc_open_group_id_(&outer, inner_path.c_str(), &inner_length, &inner);
    ASSERT_GT(inner, 0);
    EXPECT_EQ(open_objects(), objects_before + 3);

    ftoc_close_group_id_(&inner);
    ftoc_close_group_id_(&outer);
    ftoc_close_file_id_(&file);
    EXPECT_EQ(open_objects(), objects_before);

    const hid_t raw = H5Fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    EXPECT_TRUE(is_group(raw, "run/step/fields/T"));
    EXPECT_EQ(links_in(raw, "/"), 1u);
    EXPECT_EQ(links_in(raw, "run/step"), 1u);
    H5Fclose(raw);
}
