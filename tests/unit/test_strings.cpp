// h5dump_str_dataset: one one-element fixed-length string dataset per entry.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

namespace {

class Strings : public FileTest {
protected:
    Output dump(const std::vector<std::string>& names, const std::vector<std::string>& texts) {
        return capture([&] { h5dump_str_dataset(file, names, texts); });
    }

    // A one-element C string of exactly the text's bytes, terminator not stored.
    void expect_string(const std::string& name, const std::string& bytes) {
        const Stored s = stored(file, name);
        EXPECT_EQ(s.dims, (std::vector<hsize_t>{1})) << name;
        EXPECT_EQ(s.type_class, H5T_STRING) << name;
        EXPECT_EQ(s.pad, H5T_STR_NULLTERM) << name;
        EXPECT_EQ(string_bytes(file, name), bytes) << name;
    }
};

}  // namespace

TEST_F(Strings, EachTextSizedToItsBytes) {
    // The empty text follows a longer one, so that a size left over from it would show.
    const Output printed = dump({"title", "empty", "xtitle", "ytitle"}, {"Run 7", "", "time", "T"});
    EXPECT_EQ(printed.out + printed.err, "");
    expect_string("title", "Run 7");
    expect_string("empty", std::string(1, '\0'));  // just the terminator: reads back empty
    expect_string("xtitle", "time");
    expect_string("ytitle", "T");
}

TEST_F(Strings, ListsOfOtherLengthsWriteNothing) {
    EXPECT_EQ(dump({"a", "b", "c"}, {}).out, "Vector inputs do not match in length! 3 != 0\n");
    EXPECT_EQ(dump({"a", "b"}, {"1", "2", "3"}).out, "Vector inputs do not match in length! 2 != 3\n");
    const Output printed = dump({}, {});
    EXPECT_EQ(printed.out + printed.err, "");
    EXPECT_EQ(links_in(file, "/"), 0u);
}

TEST_F(Strings, ShorterTextGoesInPlaceLongerReplacesTheDataset) {
    dump({"title"}, {"Run 7"});
    Output printed = dump({"title"}, {"ab"});
    EXPECT_EQ(printed.out + printed.err, "");
    expect_string("title", std::string("ab\0\0\0", 5));
    // Never cut: "Temperature at step 10" over "Temperature at step 9" is stored whole.
    dump({"t"}, {"Temperature at step 9"});
    printed = dump({"t"}, {"Temperature at step 10"});
    EXPECT_EQ(printed.out + printed.err, "");
    expect_string("t", "Temperature at step 10");

    // A name given twice: the later text lands at the earlier one's size when it fits.
    dump({"twice", "twice"}, {"abc", "z"});
    expect_string("twice", std::string("z\0\0", 3));
}

TEST_F(Strings, OtherShapeIsRefusedAndLaterEntriesStillWritten) {
    put<int>(file, "title", {2}, {1, 2});
    const Output printed = dump({"title", "xtitle"}, {"Run 7", "time"});
    EXPECT_EQ(printed.out, "Cannot overwrite existing dataset title!\ndim[0] of existing dataset is 2 and new dim[0] is 1\n");
    EXPECT_EQ(values<int>(file, "title"), (std::vector<int>{1, 2}));
    expect_string("xtitle", "time");
}
