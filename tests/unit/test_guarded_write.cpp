// H5LTmake_dataset_sane where the Fortran programs cannot reach it: its call
// dump, sizes beyond 32 bits, failures inside HDF5, and every kind of stored
// element type an overwrite may meet.
#include "videz5_c.h"
#include "support.hpp"

#include <cmath>

using namespace unit;

namespace {

// A file of its own with a 20 x 10 dataset T; whatever a test calls must leave
// no object open that it did not hand back, and the caller's file open.
class GuardedWrite : public ::testing::Test {
protected:
    void SetUp() override {
        file = H5Fcreate(tmp.path("test.h5").c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        put(file, "T", H5T_NATIVE_INT, {20, 10}, ramp);
        objects_before = open_objects();
    }
    void TearDown() override {
        EXPECT_EQ(open_objects(), objects_before) << "objects left open";
        EXPECT_GT(H5Iis_valid(file), 0) << "the caller's file was closed";
        H5Fclose(file);
    }

    Output write(const char* name, std::vector<hsize_t> dims, hid_t type, const void* buffer) {
        return capture([&] {
            result = H5LTmake_dataset_sane(file, name, static_cast<int>(dims.size()), dims.data(), type, buffer);
        });
    }

    TempDir tmp;
    hid_t file = -1;
    ssize_t objects_before = 0;
    int result = 99;
    const std::vector<double> ramp = [] {
        std::vector<double> v(200);
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

TEST_F(GuardedWrite, OtherShapeIsRefusedAndStoredDataKept) {
    const std::vector<double> buffer(240, -1.0);
    // Sizes are compared whole, not cut to 32 bits; the refusal comes before the buffer is read.
    const Output printed = write("T", {20, (hsize_t{1} << 32) + 10}, H5T_NATIVE_DOUBLE, buffer.data());
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out, "Cannot overwrite existing dataset T!\n"
                           "dim[1] of existing dataset is 10 and new dim[1] is 4294967306\n");
    EXPECT_EQ(values(file, "T"), ramp);
}

TEST_F(GuardedWrite, FailedOpenAndFailedWriteAreReported) {
    // A link that names nothing: present by name, yet nothing can be opened.
    H5Lcreate_soft("/nowhere", file, "L", H5P_DEFAULT, H5P_DEFAULT);
    const int one = 1;
    Output printed = write("L", {1}, H5T_NATIVE_INT, &one);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out, "ERROR: H5Dopen(): Failed to open dataset L!\n");

    // Everything checks out, but the file may not be written.
    H5Fclose(file);
    file = H5Fopen(tmp.path("test.h5").c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    printed = write("T", {20, 10}, H5T_NATIVE_INT, ramp.data());
    EXPECT_EQ(result, -1);
    EXPECT_EQ(printed.out, "ERROR: H5Dwrite(): Failed to overwrite dataset T!\n");
}

// An overwrite in place keeps the stored element type: it goes through only
// when that type holds every new value exactly, else it is refused like a
// changed shape and the stored values stay.
TEST_F(GuardedWrite, OverwriteGoesInPlaceOnlyWhenTheStoredTypeHoldsEveryValue) {
    const auto fortran_text = [](std::size_t size) {
        const hid_t type = H5Tcopy(H5T_FORTRAN_S1);
        H5Tset_size(type, size);
        return type;
    };
    struct Case {
        hid_t stored;            // element type of the dataset as stored
        std::vector<double> as;  // what it holds before the overwrite
        hid_t type;              // memory type of the overwrite
        std::string bytes;       // its values, as they lie in memory
        const char* refusal;     // the type line, or nullptr when it goes in place
    };
    const auto doubles = [](std::initializer_list<double> v) {
        return std::string(reinterpret_cast<const char*>(std::data(v)), v.size() * sizeof(double));
    };
    const auto ints = [](std::initializer_list<int> v) {
        return std::string(reinterpret_cast<const char*>(std::data(v)), v.size() * sizeof(int));
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {H5T_NATIVE_INT, {4, 5}, H5T_NATIVE_DOUBLE, doubles({1, -2}), nullptr},
        {H5T_NATIVE_INT, {4, 5}, H5T_NATIVE_DOUBLE, doubles({1, 1.7}), "int and new type is double"},
        {H5T_NATIVE_INT, {4, 5}, H5T_NATIVE_DOUBLE, doubles({3e9, 1}), "int and new type is double"},
        {H5T_NATIVE_INT, {4, 5}, H5T_NATIVE_DOUBLE, doubles({1, nan}), "int and new type is double"},
        // HDF5's own conversion into a big-endian int flags every value: the check goes through native ints.
        {H5T_STD_I32BE, {4, 5}, H5T_NATIVE_DOUBLE, doubles({1, -2}), nullptr},
        {H5T_STD_I16LE, {4, 5}, H5T_NATIVE_INT, ints({1, 70000}), "int16 and new type is int"},
        {H5T_STD_U8LE, {4, 5}, H5T_NATIVE_INT, ints({1, -1}), "uint8 and new type is int"},
        {H5T_NATIVE_DOUBLE, {4, 5}, H5T_NATIVE_INT, ints({2147483647, -7}), nullptr},
        {H5T_IEEE_F32BE, {4, 5}, H5T_NATIVE_DOUBLE, doubles({0.5, 1e30}), "float and new type is double"},
        {H5T_IEEE_F32BE, {4, 5}, H5T_NATIVE_DOUBLE, doubles({0.5, 0.1}), "float and new type is double"},
        {H5T_IEEE_F32LE, {4, 5}, H5T_NATIVE_DOUBLE, doubles({0.5, -0.25}), nullptr},
        {H5T_IEEE_F32LE, {4, 5}, H5T_NATIVE_INT, ints({1, 16777217}), "float and new type is int"},
        {H5T_NATIVE_INT, {4, 5}, fortran_text(1), "ab", "int and new type is string of 1 byte"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "c" + std::to_string(n++);
        put(file, name, c.stored, {2}, c.as);
        const Output printed = write(name.c_str(), {2}, c.type, c.bytes.data());
        if (c.refusal == nullptr) {
            EXPECT_EQ(result, 0) << name;
            EXPECT_EQ(printed.out + printed.err, "") << name;
            EXPECT_NE(values(file, name), c.as) << name;
        } else {
            EXPECT_EQ(result, -1) << name;
            EXPECT_EQ(printed.out, "Cannot overwrite existing dataset " + name + "!\ntype of existing dataset is " +
                                       c.refusal + "\n");
            EXPECT_EQ(values(file, name), c.as) << name;
        }
    }

    // Texts: one that fits the stored size, trailing blanks aside, goes in place; a longer one is refused.
    const hid_t stored_text = fortran_text(4), longer = fortran_text(10);
    const hsize_t two[1] = {2};
    const hid_t space = H5Screate_simple(1, two, nullptr);
    H5Dclose(H5Dcreate2(file, "words", stored_text, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    H5Sclose(space);
    write("words", {2}, longer, "abcd      wxyz      ");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(write("words", {2}, longer, "abcde     wxyz      ").out,
              "Cannot overwrite existing dataset words!\n"
              "type of existing dataset is string of 4 bytes and new type is string of 10 bytes\n");
    std::string kept(8, '?');
    const hid_t words = H5Dopen2(file, "words", H5P_DEFAULT);
    H5Dread(words, stored_text, H5S_ALL, H5S_ALL, H5P_DEFAULT, kept.data());
    H5Dclose(words);
    EXPECT_EQ(kept, "abcdwxyz");
    for (const hid_t type : {stored_text, longer, cases[std::size(cases) - 1].type}) H5Tclose(type);
}

// h5dump_str_dataset, which only C++ callers reach: a longer text replaces its dataset rather than being cut.
TEST_F(GuardedWrite, StringDatasetTakesALongerText) {
    const std::vector<std::string> names{"title"};
    h5dump_str_dataset(file, names, {"ab"});
    h5dump_str_dataset(file, names, {"longer"});
    const hid_t set = H5Dopen2(file, "title", H5P_DEFAULT);
    const hid_t type = H5Dget_type(set);
    std::string stored(H5Tget_size(type), '?');
    H5Dread(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, stored.data());
    EXPECT_EQ(stored, "longer");
    H5Tclose(type);
    H5Dclose(set);
}
