// Short texts, each stored as a one-element fixed-length string dataset.
#include "videz5_c.h"
#include "../detail/hid.hpp"

#include <iostream>

void h5dump_str_dataset(hid_t loc_id, const std::vector<std::string>& names, const std::vector<std::string>& values) {
    if (names.size() != values.size()) {
        std::cout << "Vector inputs do not match in length! " << names.size() << " != " << values.size()
                  << std::endl;
        return;
    }
    if (names.empty()) return;

    videz5::detail::Hid type = videz5::detail::own_type(H5Tcopy(H5T_C_S1));
    const hsize_t one = 1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& value = values[i];
        // HDF5 has no zero-length string type: an empty text is stored as its
        // terminator alone, one null-terminated byte that reads back empty.
        H5Tset_size(type.get(), value.empty() ? 1 : value.size());
        H5LTmake_dataset_sane(loc_id, names[i].c_str(), 1, &one, type.get(), value.c_str());
    }
}
