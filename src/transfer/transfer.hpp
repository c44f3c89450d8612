// Internal helpers of the dataset-transfer layer, for the layers above it.
#pragma once

#include "../detail/hid.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace videz5::detail {

// Element type codes of the Fortran face.
enum ElementCode { kDouble = 0, kInt = 1, kString = 2 };

inline bool valid_element_code(int code) { return code >= kDouble && code <= kString; }

// The element type for a valid code: the native double or int as HDF5 predefines
// it, or a new string type (space-padded, as Fortran keeps them) of
// string_length bytes, which must be at least 1.
Hid make_element_type(int code, int string_length);

// Bytes of one element of a valid code, as make_element_type makes it.
inline std::size_t element_code_size(int code, int string_length) {
    if (code == kDouble) return sizeof(double);
    if (code == kInt) return sizeof(int);
    return string_length > 0 ? static_cast<std::size_t>(string_length) : 0;
}

// The dimension list of an array of Fortran sizes dim1 x dim2 x dim3, in HDF5
// order: reversed, sizes of 0 dropped, a single size 1 when all are 0.
std::vector<hsize_t> dump_dims(unsigned int dim1, unsigned int dim2, unsigned int dim3);

// The dataset at path below loc_id, opened without creating or printing
// anything; invalid when there is no dataset there.
Hid open_dataset_at(hid_t loc_id, const std::string& path);

// Creates, or replaces whole, the fixed-length ASCII string attribute name on
// object: a scalar holding values[0], or with as_array a 1-D array of them all.
// Negative on failure.
int write_string_attribute(hid_t object, const char* name, const std::vector<std::string>& values, bool as_array);

}  // namespace videz5::detail
