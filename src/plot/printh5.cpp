// Plot records: data with its Y and X axes and three titles in one group.
#include "videz5_c.h"
#include "plot.hpp"
#include "../access/access.hpp"
#include "../transfer/transfer.hpp"

#include <algorithm>
#include <array>
#include <iterator>

namespace {

// The NXdata description of a plot record (NX_class "NXdata", signal "data",
// axes ["Y"] for 1-D data, ["Y", "X"] for 2-D), for viewers that show such
// groups as they are. written_rank is the rank "data" was just written with,
// or -1 when that write failed; the stored rank is then looked up, so that the
// description always matches the stored "data". fresh: the record group was
// just created, so it has no attributes yet. Negative on failure.
int write_nxdata_attributes(hid_t record, int written_rank, bool fresh) {
    using videz5::detail::write_string_attribute;
    // When the write went through, asking the stored shape again would cost a
    // plot record several percent of its time. "Y" names the slowest
    // dimension of "data", "X" the fastest.
    std::vector<hsize_t> dims;
    const int rank = written_rank >= 0 ? written_rank : h5get_dims(record, "data", dims);
    if (rank != 1 && rank != 2) return 0;
    // fault-check: nxdata-axes-order
    const std::vector<std::string> axes = rank == 1 ? std::vector<std::string>{"Y"} : std::vector<std::string>{"Y", "X"};
    const int statuses[] = {write_string_attribute(record, "NX_class", {"NXdata"}, false, fresh),
                            write_string_attribute(record, "signal", {"data"}, false, fresh),
                            write_string_attribute(record, "axes", axes, true, fresh)};
    return *std::min_element(std::begin(statuses), std::end(statuses)) < 0 ? -1 : 0;
}

// 0 when the whole record was written, negative when it was refused (nothing
// written) or a write failed.
template <typename T>
int write_record(hid_t loc_id, const std::string& path, const T* data, hid_t data_type, const double* x,
                  const double* y, const unsigned int* nx, const unsigned int* ny,
                  std::vector<std::string>& titles, const videz5::detail::Description* description) {
    using videz5::detail::DatasetWrite;
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
    std::vector<DatasetWrite> writes;
    writes.reserve(6);
    writes.emplace_back(record, "data", rank, dims.data(), data_type, data, false, fresh);
    // fault-check: plot-axes-in-place
    writes.emplace_back(record, "Y", 1, &dims[0], H5T_NATIVE_DOUBLE, y, false, fresh);
    writes.emplace_back(record, "X", 1, &dims[1], H5T_NATIVE_DOUBLE, x, false, fresh);
    static const std::vector<std::string> keys{"title", "xtitle", "ytitle"};
    std::vector<videz5::detail::Hid> title_types;
    const hsize_t one = 1;
    if (videz5::detail::string_lists_match(keys, titles)) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            title_types.push_back(videz5::detail::string_type_for(titles[i]));
            writes.emplace_back(record, keys[i].c_str(), 1, &one, title_types.back().get(), titles[i].c_str(),
                                true, fresh);
        }
    }
    for (const DatasetWrite& write : writes)
        if (write.refused()) return -1;  // fault-check: refused-record-unwritten

    int record_status = 0, data_status = 0;
    for (DatasetWrite& write : writes) {
        const int status = write.carry_out();
        if (&write == &writes.front()) data_status = status;
        if (status < 0) record_status = status;
    }
    // Additive: the six datasets above are what stored files and their readers rely on.
    // A "data" written without failure has exactly the rank just asked for.
    if (write_nxdata_attributes(record, data_status >= 0 ? rank : -1, fresh) < 0) record_status = -1;
    if (description != nullptr && record_status >= 0) {
        using videz5::detail::describe_at;
        const int statuses[] = {describe_at(record, "data", description->units, description->long_name),
                                describe_at(record, "X", description->x_units, ""),
                                describe_at(record, "Y", description->y_units, "")};
        if (*std::min_element(std::begin(statuses), std::end(statuses)) < 0) record_status = -1;
    }
    return record_status;
}

}  // namespace

void printh5(hid_t loc_id, const std::string& path, const double* data, const double* x, const double* y,
             const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles) {
    write_record(loc_id, path, data, H5T_NATIVE_DOUBLE, x, y, nx, ny, titles, nullptr);
}

void printh5(hid_t loc_id, const std::string& path, const int* data, const double* x, const double* y,
             const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles) {
    write_record(loc_id, path, data, H5T_NATIVE_INT, x, y, nx, ny, titles, nullptr);
}

namespace videz5::detail {

int plot_record(hid_t loc_id, const std::string& path, const double* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                const Description* description) {
    return write_record(loc_id, path, data, H5T_NATIVE_DOUBLE, x, y, nx, ny, titles, description);
}

int plot_record(hid_t loc_id, const std::string& path, const int* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles,
                const Description* description) {
    return write_record(loc_id, path, data, H5T_NATIVE_INT, x, y, nx, ny, titles, description);
}

}  // namespace videz5::detail
