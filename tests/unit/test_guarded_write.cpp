// H5LTmake_dataset_sane: create, overwrite in place when the shape is the
// same, refuse with a message otherwise.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

namespace {

class GuardedWrite : public FileTest {
protected:
    void SetUp() override {
        FileTest::SetUp();
        put<int>(file, "T", {20, 10}, ramp);
    }

    Output write(const char* name, std::vector<hsize_t> dims, hid_t type, const void* buffer) {
        return capture([&] {
            result = H5LTmake_dataset_sane(file, name, static_cast<int>(dims.size()), dims.data(), type, buffer);
        });
    }

    int result = 99;
    const std::vector<int> ramp = [] {
        std::vector<int> v(200);
        for (int i = 0; i < 200; ++i) v[i] = i;
        return v;
    }();
};

}  // namespace

TEST(GuardedWriteNullBuffer, DumpsTheCallWithoutCallingHdf5) {
    const ssize_t objects_before = open_objects();
    const hsize_t dims[2] = {20, 10};
    int result = 0;
    Output printed = capture([&] { result = H5LTmake_dataset_sane(10, "T", 2, dims, 48, nullptr); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out,
              "\nERROR: H5LTmake_dataset_sane() buffer = NULL!!!\n\n"
              "H5LTmake_dataset_sane(hid_t loc_id=0xa,const char *dset_name=T, int rank=2, "
              "const hsize_t *dims=20:10, hid_t type_id=0x30,const void *buffer=0x0)\n\n");
    EXPECT_EQ(printed.err, "");  // HDF5 would have complained about the made-up identifiers

    // Rank 0, and identifiers wider than 32 bits printed whole.
    printed = capture([&] { result = H5LTmake_dataset_sane(0x100000000000001, "S", 0, dims, 0x30, nullptr); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out,
              "\nERROR: H5LTmake_dataset_sane() buffer = NULL!!!\n\n"
              "H5LTmake_dataset_sane(hid_t loc_id=0x100000000000001,const char *dset_name=S, int rank=0, "
              "const hsize_t *dims=, hid_t type_id=0x30,const void *buffer=0x0)\n\n");
    EXPECT_EQ(open_objects(), objects_before);
}

TEST_F(GuardedWrite, CreatesAbsentDatasetByExactName) {
    // "Te" is neither "T" nor "Temperature": it is created, not mistaken for either.
    put<int>(file, "Temperature", {1}, {0});
    std::vector<double> data(24);
    for (int i = 0; i < 24; ++i) data[i] = 0.5 * i;
    const Output printed = write("Te", {2, 3, 4}, H5T_NATIVE_DOUBLE, data.data());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(printed.out + printed.err, "");
    const Stored s = stored(file, "Te");
    EXPECT_EQ(s.dims, (std::vector<hsize_t>{2, 3, 4}));
    EXPECT_TRUE(s.native_double);
    EXPECT_EQ(values<double>(file, "Te"), data);
}

TEST_F(GuardedWrite, SameShapeOverwritesInPlaceKeepingStoredType) {
    std::vector<double> data(200);
    for (int i = 0; i < 200; ++i) data[i] = 1000.0 + i;
    const Output printed = write("T", {20, 10}, H5T_NATIVE_DOUBLE, data.data());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_TRUE(stored(file, "T").native_int);
    EXPECT_EQ(values<double>(file, "T"), data);

    // A scalar compares no sizes at all.
    put<double>(file, "S", {}, {1.5});
    const double value = 2.5;
    write("S", {}, H5T_NATIVE_DOUBLE, &value);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(values<double>(file, "S"), (std::vector<double>{2.5}));
}

TEST_F(GuardedWrite, OtherShapeIsRefusedAndStoredDataKept) {
    struct Case {
        std::vector<hsize_t> dims;
        const char* reason;
    };
    const Case cases[] = {
        {{200}, "rank of existing dataset is 2 and new rank is = 1\n"},
        {{20, 11}, "dim[1] of existing dataset is 10 and new dim[1] is 11\n"},
        {{21, 11}, "dim[0] of existing dataset is 20 and new dim[0] is 21\n"},
        // Sizes are not cut to 32 bits; the refusal comes before the buffer is read.
        {{20, (hsize_t{1} << 32) + 10}, "dim[1] of existing dataset is 10 and new dim[1] is 4294967306\n"},
    };
    const std::vector<double> buffer(240, -1.0);
    for (const Case& c : cases) {
        const Output printed = write("T", c.dims, H5T_NATIVE_DOUBLE, buffer.data());
        EXPECT_EQ(result, -1);
        EXPECT_EQ(printed.out, std::string("Cannot overwrite existing dataset T!\n") + c.reason);
    }
    EXPECT_EQ(stored(file, "T").dims, (std::vector<hsize_t>{20, 10}));
    EXPECT_EQ(values<int>(file, "T"), ramp);
}

TEST_F(GuardedWrite, GroupUnderTheNameIsRefused) {
    const hid_t group = H5Gcreate2(file, "G", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    put<int>(group, "inside", {1}, {4});
    H5Gclose(group);
    const int one = 1;
    const Output printed = write("G", {1}, H5T_NATIVE_INT, &one);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out, "Cannot overwrite existing dataset G!\nexisting object G is not a dataset\n");
    EXPECT_TRUE(is_group(file, "G"));
    EXPECT_EQ(values<int>(file, "G/inside"), (std::vector<int>{4}));
}

TEST_F(GuardedWrite, FailedLookupIsReported) {
    const hsize_t dims[1] = {1};
    const int one = 1;
    const Output printed = capture([&] {
        result = H5LTmake_dataset_sane(H5I_INVALID_HID, "T", 1, dims, H5T_NATIVE_INT, &one);
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out, "ERROR: H5Lexists(): Failed to look up dataset T!\n");
}

TEST_F(GuardedWrite, FailedOpenAndFailedWriteAreReported) {
    // A link that names nothing: present by name, yet nothing can be opened.
    H5Lcreate_soft("/nowhere", file, "L", H5P_DEFAULT, H5P_DEFAULT);
    const int one = 1;
    Output printed = write("L", {1}, H5T_NATIVE_INT, &one);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out, "ERROR: H5Dopen(): Failed to open dataset L!\n");

    // Same shape, but text cannot be converted to the stored ints.
    const hid_t text = H5Tcopy(H5T_C_S1);
    H5Tset_size(text, 4);
    const std::vector<char> words(200 * 4, 'x');
    printed = write("T", {20, 10}, text, words.data());
    H5Tclose(text);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out, "ERROR: H5Dwrite(): Failed to overwrite dataset T!\n");
    EXPECT_EQ(values<int>(file, "T"), ramp);
}
