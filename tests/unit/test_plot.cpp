// printh5: a plot record of data, axes and titles in one group.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

namespace {

class Plot : public FileTest {
protected:
    template <typename T>
    Output plot(const std::string& path, const std::vector<T>& data, const std::vector<double>& x,
                const std::vector<double>& y, unsigned int nx, unsigned int ny, std::vector<std::string> titles) {
        return capture([&] { printh5(file, path, data.data(), x.data(), y.data(), &nx, &ny, titles); });
    }

    const std::vector<std::string> titles{"Run 7", "time", "T"};
};

template <typename T>
std::vector<T> ramp(std::size_t n, T start) {
    std::vector<T> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = start + static_cast<T>(i);
    return v;
}

}  // namespace

TEST_F(Plot, TwoCountsAboveOneGiveAFullRecord) {
    const auto data = ramp<double>(12, 0.5), x = ramp<double>(4, 10.0), y = ramp<double>(3, 20.0);
    const Output printed = plot("plots/p1", data, x, y, 4, 3, titles);
    EXPECT_EQ(printed.out + printed.err, "");
    ASSERT_TRUE(is_group(file, "plots/p1"));
    EXPECT_EQ(links_in(file, "plots/p1"), 6u);
    EXPECT_EQ(stored(file, "plots/p1/data").dims, (std::vector<hsize_t>{3, 4}));
    EXPECT_TRUE(stored(file, "plots/p1/data").native_double);
    EXPECT_EQ(values<double>(file, "plots/p1/data"), data);
    EXPECT_EQ(values<double>(file, "plots/p1/Y"), y);
    EXPECT_EQ(values<double>(file, "plots/p1/X"), x);
    EXPECT_EQ(string_bytes(file, "plots/p1/title"), "Run 7");
    EXPECT_EQ(string_bytes(file, "plots/p1/xtitle"), "time");
    EXPECT_EQ(string_bytes(file, "plots/p1/ytitle"), "T");
}

TEST_F(Plot, SmallCountsDropOut) {
    struct Case {
        const char* path;
        unsigned int nx, ny;
        std::size_t data_n, y_n;  // "data" is rank 1 of data_n values, "Y" y_n values, "X" one
    };
    // With only nx above 1, "Y" takes its nx values from y and "X" just x[0].
    const Case cases[] = {{"nx1_ny5", 1, 5, 5, 5}, {"nx5_ny1", 5, 1, 5, 5}, {"nx0_ny0", 0, 0, 1, 1}};
    for (const Case& c : cases) {
        const auto data = ramp<double>(c.data_n, 1.0), y = ramp<double>(c.y_n, 100.0);
        const std::vector<double> x{42.0};
        const Output printed = plot(c.path, data, x, y, c.nx, c.ny, titles);
        EXPECT_EQ(printed.out + printed.err, "") << c.path;
        const std::string at = std::string(c.path) + "/";
        EXPECT_EQ(stored(file, at + "data").dims, (std::vector<hsize_t>{c.data_n})) << c.path;
        EXPECT_EQ(values<double>(file, at + "data"), data) << c.path;
        EXPECT_EQ(values<double>(file, at + "Y"), y) << c.path;
        EXPECT_EQ(values<double>(file, at + "X"), x) << c.path;
        EXPECT_EQ(string_bytes(file, at + "ytitle"), "T") << c.path;
    }
}

TEST_F(Plot, IntDataWithDoubleAxes) {
    const auto data = ramp<int>(6, -3);
    plot("p", data, ramp<double>(3, 0.0), ramp<double>(2, 0.0), 3, 2, titles);
    EXPECT_TRUE(stored(file, "p/data").native_int);
    EXPECT_EQ(values<int>(file, "p/data"), data);
    EXPECT_TRUE(stored(file, "p/X").native_double);
    EXPECT_TRUE(stored(file, "p/Y").native_double);
}

TEST_F(Plot, EmptyTitlesWriteOnlyNumbers) {
    const Output printed = plot("p", ramp<double>(6, 0.0), ramp<double>(3, 0.0), ramp<double>(2, 0.0), 3, 2, {});
    EXPECT_EQ(printed.out, "Vector inputs do not match in length! 3 != 0\n");
    EXPECT_EQ(links_in(file, "p"), 3u);
    EXPECT_FALSE(has_link(file, "p/title"));
}

TEST_F(Plot, RewriteChangesTheWholeRecordOrNothing) {
    plot("p", ramp<double>(12, 0.0), ramp<double>(4, 0.0), ramp<double>(3, 0.0), 4, 3, titles);
    // Another nx: "data" and "X" cannot be written, so neither is "Y" nor any title.
    Output printed = plot("p", ramp<double>(18, 9.0), ramp<double>(6, 9.0), ramp<double>(3, 50.0), 6, 3,
                          {"Run 8 longer", "t", ""});
    EXPECT_EQ(printed.out,
              "Cannot overwrite existing dataset data!\ndim[1] of existing dataset is 4 and new dim[1] is 6\n"
              "Cannot overwrite existing dataset X!\ndim[0] of existing dataset is 4 and new dim[0] is 6\n");
    EXPECT_EQ(values<double>(file, "p/data"), ramp<double>(12, 0.0));
    EXPECT_EQ(values<double>(file, "p/X"), ramp<double>(4, 0.0));
    EXPECT_EQ(values<double>(file, "p/Y"), ramp<double>(3, 0.0));
    EXPECT_EQ(string_bytes(file, "p/title"), "Run 7");

    // The same shape: everything is rewritten, a longer title whole, shorter ones in place.
    printed = plot("p", ramp<double>(12, 9.0), ramp<double>(4, 9.0), ramp<double>(3, 50.0), 4, 3,
                   {"Run 8 longer", "t", ""});
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_EQ(values<double>(file, "p/data"), ramp<double>(12, 9.0));
    EXPECT_EQ(values<double>(file, "p/Y"), ramp<double>(3, 50.0));
    EXPECT_EQ(string_bytes(file, "p/title"), "Run 8 longer");
    EXPECT_EQ(string_bytes(file, "p/xtitle"), std::string("t\0\0\0", 4));
    EXPECT_EQ(string_bytes(file, "p/ytitle"), std::string(1, '\0'));
}
