// Plot records, for the entry points above.
#pragma once

#include "../transfer/transfer.hpp"

#include <array>
#include <string>
#include <vector>

namespace videz5::detail {

// printh5, which also writes the description when one is given: units and
// long_name on "data", x_units on "X", y_units on "Y". With replace, datasets
// of the record that have another shape or type are replaced rather than the
// record refused. VIDEZ5_OK, VIDEZ5_WRITE_REFUSED (nothing written) or
// VIDEZ5_WRITE_FAILED.
int plot_record(hid_t loc_id, const std::string& path, const double* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                const Description* description, bool replace = false);
int plot_record(hid_t loc_id, const std::string& path, const int* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                const Description* description, bool replace = false);

// What a record write just did, for present_record.
struct RecordChanges {
    bool fresh;                  // the record group was just created
    int rank;                    // of "data" as written
    bool axis_from_x;            // 1-D data: "Y" holds x (only nx exceeds 1)
    bool new_axes;               // "data", "Y" or "X" created or replaced
    std::array<bool, 3> new_titles;  // "title", "xtitle", "ytitle" created or replaced
    const std::vector<std::string>* titles;  // the three just written, or null
    bool long_name_given;        // the call's description named "data" (long_name)
    // 1-D data rewritten with titles: "xtitle" and "ytitle" as they stood before.
    std::array<std::string, 2> old_titles;
};
// The text of a one-element (or scalar) string dataset under record, without
// its padding; empty when there is none.
std::string stored_text(hid_t record, const char* name);
// Adds to a written record what viewers need (see viewers.cpp); negative when
// a part of it failed.
int present_record(hid_t record, const RecordChanges& changes);

}  // namespace videz5::detail
