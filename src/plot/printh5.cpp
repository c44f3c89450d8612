// Plot records: data with its Y and X axes and three titles in one group.
#include "videz5_c.h"
#include "plot.hpp"
#include "../access/access.hpp"
#include "../transfer/transfer.hpp"

#include <algorithm>
#include <array>
#include <iterator>

namespace {

// VIDEZ5_OK when the whole record was written, VIDEZ5_WRITE_REFUSED when it
// was refused (nothing written), VIDEZ5_WRITE_FAILED when a write failed.
template <typename T>
int write_record(hid_t loc_id, const std::string& path, const T* data, hid_t data_type, const double* x,
                 const double* y, const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                 const videz5::detail::Description* description, bool replace) {
    using videz5::detail::DatasetWrite;
    using videz5::detail::OnMismatch;
    videz5::detail::PathWalk walk(loc_id, path, 1, true);
    const hid_t record = walk.deepest();
    // A record group made by this walk holds nothing yet: no name to look up.
    const bool fresh = walk.created_deepest();

    // data(nx, ny) in Fortran order is ny x nx in HDF5; counts of 0 or 1 drop
    // out. "Y" takes the first size and "X" the second, so a record with only
    // nx above 1 reads its nx axis values from y (stored files rely on it).
    const unsigned int nx_value = *nx;
    const unsigned int ny_value = *ny;
    std::array<hsize_t, 2> dims{1, 1};
    int rank = 0;
    if (ny_value > 1) dims[rank++] = ny_value;
    if (nx_value > 1) dims[rank++] = nx_value;
    if (rank == 0) rank = 1;

    // Every dataset is checked before any is written: a record that pairs new
    // data with an old axis, or the reverse, would plot wrong without a word.
    // Replacing, the record changes shape whole, axes and data together.
    const OnMismatch numbers = replace ? OnMismatch::kReplace : OnMismatch::kRefuse;
    std::vector<DatasetWrite> writes;
    writes.reserve(6);
    writes.emplace_back(record, "data", rank, dims.data(), data_type, data, numbers, fresh);
    // fault-check: plot-axes-in-place
    writes.emplace_back(record, "Y", 1, &dims[0], H5T_NATIVE_DOUBLE, y, numbers, fresh);
    writes.emplace_back(record, "X", 1, &dims[1], H5T_NATIVE_DOUBLE, x, numbers, fresh);
    static const std::vector<std::string> keys{"title", "xtitle", "ytitle"};
    std::vector<videz5::detail::Hid> title_types;
    const hsize_t one = 1;
    const bool titled = videz5::detail::string_lists_match(keys, titles);
    if (titled) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            title_types.push_back(videz5::detail::string_type_for(titles[i]));
            writes.emplace_back(record, keys[i].c_str(), 1, &one, title_types.back().get(), titles[i].c_str(),
                                replace ? OnMismatch::kReplace : OnMismatch::kLongerText, fresh);
        }
    }
    for (const DatasetWrite& write : writes)
        if (write.refused()) return VIDEZ5_WRITE_REFUSED;  // fault-check: refused-record-unwritten

    videz5::detail::RecordChanges changes{fresh,
                                          rank,
                                          rank == 1 && ny_value <= 1 && nx_value > 1,
                                          false,
                                          {false, false, false},
                                          titled ? &titles : nullptr,
                                          description != nullptr && !description->long_name.empty(),
                                          {}};
    // Whether the label of a 1-D record's values is one that followed its titles.
    if (rank == 1 && titled && !fresh)
        changes.old_titles = {videz5::detail::stored_text(record, "xtitle"),
                              videz5::detail::stored_text(record, "ytitle")};
    int record_status = VIDEZ5_OK;
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const bool makes_new = writes[i].makes_new();
        if (writes[i].carry_out() < 0) record_status = VIDEZ5_WRITE_FAILED;
        if (i < 3)
            changes.new_axes = changes.new_axes || makes_new;
        else
            changes.new_titles[i - 3] = makes_new;
    }
    if (record_status != VIDEZ5_OK) return record_status;
    if (description != nullptr) {
        using videz5::detail::describe_at;
        const int statuses[] = {describe_at(record, "data", description->units, description->long_name),
                                describe_at(record, "X", description->x_units, ""),
                                describe_at(record, "Y", description->y_units, "")};
        if (*std::min_element(std::begin(statuses), std::end(statuses)) < 0) return VIDEZ5_WRITE_FAILED;
    }
    // Additive: the six datasets above are what stored files and their readers rely on.
    return videz5::detail::present_record(record, changes) < 0 ? VIDEZ5_WRITE_FAILED : VIDEZ5_OK;
}

}  // namespace

void printh5(hid_t loc_id, const std::string& path, const double* data, const double* x, const double* y,
             const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles) {
    write_record(loc_id, path, data, H5T_NATIVE_DOUBLE, x, y, nx, ny, titles, nullptr, false);
}

void printh5(hid_t loc_id, const std::string& path, const int* data, const double* x, const double* y,
             const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles) {
    write_record(loc_id, path, data, H5T_NATIVE_INT, x, y, nx, ny, titles, nullptr, false);
}

namespace videz5::detail {

int plot_record(hid_t loc_id, const std::string& path, const double* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                const Description* description, bool replace) {
    return write_record(loc_id, path, data, H5T_NATIVE_DOUBLE, x, y, nx, ny, titles, description, replace);
}

int plot_record(hid_t loc_id, const std::string& path, const int* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                const Description* description, bool replace) {
    return write_record(loc_id, path, data, H5T_NATIVE_INT, x, y, nx, ny, titles, description, replace);
}

}  // namespace videz5::detail
