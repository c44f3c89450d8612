// open_path and close_path: walking group paths level by level.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

namespace {

class GroupWalk : public FileTest {
protected:
    // Walks path with a chain of one slot more than components, like every caller.
    Output walk(const std::string& path, int offset, bool create) {
        components.clear();
        split_string(path, components, '/');
        chain.assign(components.size() + 1, 0);
        return capture([&] { open_path(file, components, chain, depth, offset, create); });
    }
    Output unwalk(int offset) { return capture([&] { close_path(components, chain, offset); }); }

    std::vector<std::string> components;
    std::vector<hid_t> chain;
    unsigned int depth = 0;
};

}  // namespace

TEST_F(GroupWalk, OffsetDecidesWhetherTheLastComponentIsAGroup) {
    // Offset 0: the last component names a dataset, so a bare name touches no group.
    walk("d", 0, true);
    EXPECT_EQ(depth, 1u);
    EXPECT_EQ(chain[0], file);
    EXPECT_EQ(chain[1], 0);
    EXPECT_EQ(open_objects(), objects_before);
    unwalk(0);
    EXPECT_EQ(links_in(file, "/"), 0u);

    walk("g", 1, true);
    EXPECT_EQ(depth, 2u);
    EXPECT_EQ(name_of(chain[1]), "/g");
    EXPECT_EQ(open_objects(), objects_before + 1);
    unwalk(1);
}

TEST_F(GroupWalk, CreatesMissingGroupsThenOpensThemAgain) {
    for (int round = 0; round < 2; ++round) {
        const Output printed = walk("/g1/g2/d", 0, true);
        EXPECT_EQ(printed.out + printed.err, "");
        ASSERT_EQ(depth, 3u);
        EXPECT_EQ(name_of(chain[1]), "/g1");
        EXPECT_EQ(name_of(chain[2]), "/g1/g2");
        EXPECT_EQ(open_objects(), objects_before + 2);
        if (round == 0) put<int>(chain[2], "marker", {1}, {5});
        unwalk(0);
        EXPECT_EQ(open_objects(), objects_before);
    }
    // The second walk opened the groups of the first one instead of replacing them.
    EXPECT_EQ(links_in(file, "/"), 1u);
    EXPECT_EQ(values<int>(file, "g1/g2/marker"), (std::vector<int>{5}));
}

TEST_F(GroupWalk, LevelsBelowAFailureFailToo) {
    const hid_t g1 = H5Gcreate2(file, "g1", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    put<int>(g1, "g2", {1}, {0});  // a dataset: g2 can be neither opened nor created as a group
    H5Gclose(g1);

    PrintingSetting counting(Printing::HandlerV2);
    const Output printed = walk("g1/g2/g3/g4", 1, true);
    EXPECT_EQ(depth, 5u);
    EXPECT_EQ(name_of(chain[1]), "/g1");
    EXPECT_LT(chain[2], 0);
    EXPECT_EQ(chain[3], chain[2]);
    EXPECT_EQ(chain[4], chain[2]);
    EXPECT_EQ(open_objects(), objects_before + 1);
    // Failed slots are skipped: closing them would only make HDF5 report errors.
    const Output closing = unwalk(1);
    EXPECT_EQ(counting.calls, 0);
    EXPECT_EQ(printed.out + printed.err + closing.out + closing.err, "");
    EXPECT_EQ(links_in(file, "g1"), 1u);
}

TEST_F(GroupWalk, NeverWritesPastTheChain) {
    split_string("a/b/c", components, '/');
    chain.assign(2, 0);  // room for the file and one group only
    open_path(file, components, chain, depth, 1, true);
    EXPECT_EQ(depth, 2u);
    EXPECT_EQ(name_of(chain[1]), "/a");
    EXPECT_FALSE(has_link(file, "a/b"));
    close_path(components, chain, 1);

    std::vector<hid_t> empty;
    open_path(file, components, empty, depth, 1, true);
    close_path(components, empty, 1);
}

// The walk turns error printing off and must put back exactly what was in
// force; creating missing groups must not reach a custom handler either.
class WalkPrinting : public ::testing::TestWithParam<Printing> {};

TEST_P(WalkPrinting, RestoresSettingAndPrintsNothing) {
    TempDir tmp;
    const hid_t file = create_file(tmp.path("walk.h5"));
    PrintingSetting setting(GetParam());
    ASSERT_TRUE(setting.installed.read_ok);
    const ssize_t before = open_objects();

    const std::vector<std::string> created{"a", "b", "c"}, missing{"x", "y"};
    std::vector<hid_t> chain(4, 0);
    unsigned int depth = 0;
    const Output printed = capture([&] {
        open_path(file, created, chain, depth, 1, true);  // every open fails first
        close_path(created, chain, 1);
        open_path(file, missing, chain, depth, 1, false);
        close_path(missing, chain, 1);
    });
    EXPECT_TRUE(is_group(file, "a/b/c"));
    EXPECT_LT(chain[1], 0);  // without create, missing groups stay missing
    EXPECT_LT(chain[2], 0);
    EXPECT_FALSE(has_link(file, "x"));
    EXPECT_EQ(setting.calls, 0);
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_TRUE(current_printing() == setting.installed);
    EXPECT_EQ(open_objects(), before);
    H5Fclose(file);
}

INSTANTIATE_TEST_SUITE_P(Settings, WalkPrinting, all_printings, PrintingName());
