// Internal helpers of the dataset-transfer layer, for the layers above it.
#pragma once

#include "../detail/hid.hpp"

namespace videz5::detail {

// Element type codes of the Fortran face.
enum ElementCode { kDouble = 0, kInt = 1, kString = 2 };

inline bool valid_element_code(int code) { return code >= kDouble && code <= kString; }

// A fresh copy of the element type for a valid code; for strings (space-padded,
// as Fortran keeps them) of string_length bytes, which must be at least 1.
Hid make_element_type(int code, int string_length);

}  // namespace videz5::detail
