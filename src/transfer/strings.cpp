// Short texts: one-element fixed-length string datasets, and string attributes.
#include "videz5_c.h"
#include "transfer.hpp"
#include "../detail/say.hpp"

#include <algorithm>


namespace videz5::detail {

bool string_lists_match(const std::vector<std::string>& names, const std::vector<std::string>& values) {
    if (names.size() == values.size()) return true;
    say("Vector inputs do not match in length! " + std::to_string(names.size()) + " != " +
        std::to_string(values.size()));
    return false;
}

Hid string_type_for(const std::string& value) {
    Hid type = own_type(H5Tcopy(H5T_C_S1));
    // HDF5 has no zero-length string type: an empty text is stored as its
    // terminator alone, one null-terminated byte that reads back empty.
    if (type.valid() && H5Tset_size(type.get(), value.empty() ? 1 : value.size()) < 0) type.reset();
    return type;
}

}  // namespace videz5::detail

namespace videz5::detail {

int dump_strings(hid_t loc_id, const std::vector<std::string>& names, const std::vector<std::string>& values) {
    if (!string_lists_match(names, values)) return -1;
    const hsize_t one = 1;
    int status = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Hid type = string_type_for(values[i]);
        // A text longer than the stored one replaces its dataset instead of being cut.
        if (DatasetWrite(loc_id, names[i].c_str(), 1, &one, type.get(), values[i].c_str(), OnMismatch::kLongerText).carry_out() < 0)
            status = -1;
    }
    return status;
}

}  // namespace videz5::detail

void h5dump_str_dataset(hid_t loc_id, const std::vector<std::string>& names, const std::vector<std::string>& values) {
    videz5::detail::dump_strings(loc_id, names, values);
}

// String attributes are stored as fixed-length null-padded ASCII, the form that
// readers of attributes written by other tools handle without surprises.
namespace videz5::detail {

int write_string_attribute(hid_t object, const char* name, const std::vector<std::string>& values, bool as_array,
                           bool absent) {
    if (values.empty() || (!as_array && values.size() != 1)) return -1;

    // One block of equally long elements; HDF5 has no string type of size 0.
    std::size_t size = 1;
    for (const std::string& value : values) size = std::max(size, value.size());
    std::vector<char> block(size * values.size(), '\0');
    for (std::size_t i = 0; i < values.size(); ++i) std::copy(values[i].begin(), values[i].end(), &block[i * size]);

    Hid type = own_type(H5Tcopy(H5T_C_S1));
    if (!type.valid() || H5Tset_size(type.get(), size) < 0 || H5Tset_strpad(type.get(), H5T_STR_NULLPAD) < 0 ||
        H5Tset_cset(type.get(), H5T_CSET_ASCII) < 0)
        return -1;
    const hsize_t count = values.size();
    Hid space = own_space(as_array ? H5Screate_simple(1, &count, nullptr) : H5Screate(H5S_SCALAR));
    if (!space.valid()) return -1;
    return put_attribute(object, name, type.get(), space.get(), block.data(), block.size(), absent);
}

}  // namespace videz5::detail

namespace videz5::detail {

std::string read_string_attribute(hid_t object, const char* name) {
    if (H5Aexists(object, name) <= 0) return "";
    Hid attribute(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
    Hid type = own_type(attribute.valid() ? H5Aget_type(attribute.get()) : H5I_INVALID_HID);
    Hid space = own_space(attribute.valid() ? H5Aget_space(attribute.get()) : H5I_INVALID_HID);
    if (!type.valid() || !space.valid() || H5Tget_class(type.get()) != H5T_STRING ||
        H5Tis_variable_str(type.get()) != 0 || H5Sget_simple_extent_npoints(space.get()) != 1)
        return "";
    // Read in the stored type: its bytes as they are, cut at the first null below.
    std::string text(H5Tget_size(type.get()), '\0');
    if (H5Aread(attribute.get(), type.get(), text.data()) < 0) return "";
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

}  // namespace videz5::detail
