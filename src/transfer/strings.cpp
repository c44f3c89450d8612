// Short texts, each stored as a one-element fixed-length string dataset.
#include "videz5_c.h"
#include "transfer.hpp"

#include <iostream>

namespace videz5::detail {

bool string_lists_match(const std::vector<std::string>& names, const std::vector<std::string>& values) {
    if (names.size() == values.size()) return true;
    std::cout << "Vector inputs do not match in length! " << names.size() << " != " << values.size() << std::endl;
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

void h5dump_str_dataset(hid_t loc_id, const std::vector<std::string>& names, const std::vector<std::string>& values) {
    if (!videz5::detail::string_lists_match(names, values)) return;
    const hsize_t one = 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const videz5::detail::Hid type = videz5::detail::string_type_for(values[i]);
        // A text longer than the stored one replaces its dataset instead of being cut.
        videz5::detail::DatasetWrite(loc_id, names[i].c_str(), 1, &one, type.get(), values[i].c_str(), true)
            .carry_out();
    }
}
