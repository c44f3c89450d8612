// h5dump_data and h5read_data: arrays of up to three Fortran dimensions at a path.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

namespace {

class Transfer : public FileTest {
protected:
    Output dump(const std::string& path, const std::vector<double>& data, unsigned int d1, unsigned int d2,
                unsigned int d3) {
        return capture([&] { h5dump_data(file, path, data.data(), &d1, &d2, &d3, H5T_NATIVE_DOUBLE); });
    }
};

std::vector<double> ramp(std::size_t n) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<double>(i) + 0.25;
    return v;
}

}  // namespace

TEST_F(Transfer, FortranSizesAreReversedAndZerosDropped) {
    struct Case {
        const char* name;
        unsigned int d1, d2, d3;
        std::vector<hsize_t> dims;
    };
    const Case cases[] = {
        {"d432", 4, 3, 2, {2, 3, 4}}, {"d500", 5, 0, 0, {5}},   {"d070", 0, 7, 0, {7}},
        {"d402", 4, 0, 2, {2, 4}},    {"d510", 5, 1, 0, {1, 5}}, {"d000", 0, 0, 0, {1}},
    };
    for (const Case& c : cases) {
        hsize_t n = 1;
        for (hsize_t d : c.dims) n *= d;
        const std::vector<double> data = ramp(n);
        const Output printed = dump(c.name, data, c.d1, c.d2, c.d3);
        EXPECT_EQ(printed.out + printed.err, "") << c.name;
        const Stored s = stored(file, c.name);
        EXPECT_EQ(s.dims, c.dims) << c.name;
        EXPECT_TRUE(s.native_double) << c.name;
        // Memory is written as it lies: Fortran element (i,j,k) is [k][j][i].
        EXPECT_EQ(values<double>(file, c.name), data) << c.name;
    }
}

TEST_F(Transfer, DumpCreatesGroupsAndOverwritesOnlyWithSameSizes) {
    EXPECT_EQ(dump("g1/g2/d", ramp(6), 3, 2, 0).out, "");
    EXPECT_TRUE(is_group(file, "g1/g2"));
    EXPECT_EQ(links_in(file, "/"), 1u);
    EXPECT_EQ(stored(file, "g1/g2/d").dims, (std::vector<hsize_t>{2, 3}));

    const std::vector<double> newer(6, 9.0);
    Output printed = dump("g1/g2/d", newer, 3, 2, 0);
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_EQ(values<double>(file, "g1/g2/d"), newer);

    printed = dump("g1/g2/d", ramp(8), 4, 2, 0);
    EXPECT_EQ(printed.out, "Cannot overwrite existing dataset d!\ndim[1] of existing dataset is 3 and new dim[1] is 4\n");
    EXPECT_EQ(values<double>(file, "g1/g2/d"), newer);
    EXPECT_EQ(links_in(file, "g1"), 1u);
}

TEST_F(Transfer, ReadsWholeDatasetConvertingToTheGivenType) {
    put<double>(file, "top", {2, 2}, {1.0, 2.0, 3.0, 4.0});
    const hid_t group = H5Gcreate2(file, "g1", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    put<int>(group, "d", {3}, {7, 8, 9});
    H5Gclose(group);

    std::vector<double> top(4, 0.0);
    std::vector<int> as_int(4, 0), nested(3, 0);
    const Output printed = capture([&] {
        h5read_data(file, "top", top.data(), H5T_NATIVE_DOUBLE);
        h5read_data(file, "/top", as_int.data(), H5T_NATIVE_INT);
        h5read_data(file, "g1/d", nested.data(), H5T_NATIVE_INT);
    });
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_EQ(top, (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
    EXPECT_EQ(as_int, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(nested, (std::vector<int>{7, 8, 9}));
}

TEST_F(Transfer, ReadOfMissingPathCreatesAndFillsNothing) {
    std::vector<double> buffer(4, -7.0);
    const Output printed = capture([&] {
        h5read_data(file, "g1/d", buffer.data(), H5T_NATIVE_DOUBLE);
        h5read_data(file, "absent", buffer.data(), H5T_NATIVE_DOUBLE);
    });
    EXPECT_EQ(printed.out, "");  // HDF5 may complain on stderr; the library says nothing
    EXPECT_EQ(buffer, std::vector<double>(4, -7.0));
    EXPECT_EQ(links_in(file, "/"), 0u);
}
