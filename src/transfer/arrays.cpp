// Whole arrays of up to three dimensions at a path below a file or group.
#include "videz5_c.h"
#include "../access/access.hpp"

#include <H5LTpublic.h>

#include <array>

void h5dump_data(hid_t loc_id, const std::string& path, const void* data, const unsigned int* dim1,
                 const unsigned int* dim2, const unsigned int* dim3, hid_t type_id) {
    videz5::detail::PathWalk walk(loc_id, path, 0, true);

    // Fortran is column-major: its slowest dimension comes first in HDF5.
    // A size of 0 means the dimension is absent.
    std::array<hsize_t, 3> dims{};
    int rank = 0;
    for (const unsigned int* size : {dim3, dim2, dim1})
        if (*size != 0) dims[rank++] = *size;
    if (rank == 0) dims[rank++] = 1;

    H5LTmake_dataset_sane(walk.deepest(), walk.last_component().c_str(), rank, dims.data(), type_id, data);
}

void h5read_data(hid_t loc_id, const std::string& path, void* buffer, hid_t type_id) {
    videz5::detail::PathWalk walk(loc_id, path, 0, false);
    H5LTread_dataset(walk.deepest(), walk.last_component().c_str(), type_id, buffer);
}
