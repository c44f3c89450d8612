// HDF5's automatic error printing: the library switches it off where a failure
// is an answer (the probe of a name, the walk of a path), and must put back
// exactly what was in force, whichever API generation installed it.
#include "videz5_c.h"
#include "support.hpp"

using namespace unit;

namespace {

enum class Printing { Default, Off, HandlerV1, HandlerV2 };

int handler_calls = 0;
herr_t count_v1(void*) { return ++handler_calls, 0; }
herr_t count_v2(hid_t, void*) { return ++handler_calls, 0; }

// HDF5's own setting at start-up: its version-2 printer writing to stderr.
// H5Eprint2 takes a FILE*, the handler type a void*; HDF5 itself installs it this way.
void install_default() {
    H5Eset_auto2(H5E_DEFAULT, reinterpret_cast<H5E_auto2_t>(reinterpret_cast<void (*)()>(H5Eprint2)), nullptr);
}

// The setting in force, read back with the call that matches its generation.
std::tuple<unsigned, H5E_auto1_t, H5E_auto2_t, void*> current_printing() {
    unsigned is_v2 = 0;
    H5E_auto1_t func1 = nullptr;
    H5E_auto2_t func2 = nullptr;
    void* data = nullptr;
    EXPECT_GE(H5Eauto_is_v2(H5E_DEFAULT, &is_v2), 0);
    EXPECT_GE(is_v2 ? H5Eget_auto2(H5E_DEFAULT, &func2, &data) : H5Eget_auto1(&func1, &data), 0);
    return {is_v2, func1, func2, data};
}

std::string name_of(const ::testing::TestParamInfo<Printing>& info) {
    const char* const names[] = {"Default", "Off", "HandlerV1", "HandlerV2"};
    return names[static_cast<int>(info.param)];
}

class Printing_ : public ::testing::TestWithParam<Printing> {
protected:
    void SetUp() override {
        handler_calls = 0;
        switch (GetParam()) {
            case Printing::Default: install_default(); break;
            case Printing::Off: H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); break;
            case Printing::HandlerV1: H5Eset_auto1(count_v1, nullptr); break;
            case Printing::HandlerV2: H5Eset_auto2(H5E_DEFAULT, count_v2, nullptr); break;
        }
    }
    // A setting the library failed to restore must not leak into later tests.
    void TearDown() override { install_default(); }
};

}  // namespace

TEST_P(Printing_, ProbeAndWalkPrintNothingAndRestoreTheSetting) {
    TempDir tmp;
    write_bytes(tmp.path("text"), "not hdf5");
    const auto installed = current_printing();
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
    // A group opens as one (no object-info struct: its layout differs between HDF5 versions).
    const hid_t made = H5Gopen2(file, "a/b/c", H5P_DEFAULT);
    EXPECT_GE(made, 0);
    if (made >= 0) H5Gclose(made);
    EXPECT_EQ(H5Lexists(file, "x", H5P_DEFAULT), 0);
    EXPECT_EQ(handler_calls, 0);
    EXPECT_EQ(printed.err, "");
    EXPECT_EQ(printed.out, "NOT AN HDF5 FILE IN open_h5_file( " + tmp.path("text") + " ), LEFT UNTOUCHED\n");
    EXPECT_EQ(current_printing(), installed);
    H5Fclose(file);
    EXPECT_EQ(open_objects(), before);
}

INSTANTIATE_TEST_SUITE_P(Settings, Printing_,
                         ::testing::Values(Printing::Default, Printing::Off, Printing::HandlerV1, Printing::HandlerV2),
                         name_of);
