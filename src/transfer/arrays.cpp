// Whole arrays of up to three dimensions at a path below a file or group.
#include "videz5_c.h"
#include "transfer.hpp"
#include "../access/access.hpp"

#include <H5LTpublic.h>

void h5dump_data(hid_t loc_id, const std::string& path, const void* data, const unsigned int* dim1,
                 const unsigned int* dim2, const unsigned int* dim3, hid_t type_id) {
    videz5::detail::PathWalk walk(loc_id, path, 0, true);
    // The same list that the checked read compares a buffer's sizes against.
    const std::vector<hsize_t> dims = videz5::detail::dump_dims(*dim1, *dim2, *dim3);
    H5LTmake_dataset_sane(walk.deepest(), walk.last_component().c_str(), static_cast<int>(dims.size()), dims.data(),
                          type_id, data);
}

void h5read_data(hid_t loc_id, const std::string& path, void* buffer, hid_t type_id) {
    videz5::detail::PathWalk walk(loc_id, path, 0, false);
    H5LTread_dataset(walk.deepest(), walk.last_component().c_str(), type_id, buffer);
}
