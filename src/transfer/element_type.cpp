#include "transfer.hpp"

namespace videz5::detail {

Hid make_element_type(int code, int string_length) {
    switch (code) {
        case kDouble:
            return own_type(H5Tcopy(H5T_NATIVE_DOUBLE));
        case kInt:
            return own_type(H5Tcopy(H5T_NATIVE_INT));
        case kString: {
            if (string_length < 1) return Hid();
            Hid type = own_type(H5Tcopy(H5T_FORTRAN_S1));
            if (type.valid() && H5Tset_size(type.get(), static_cast<size_t>(string_length)) < 0) type.reset();
            return type;
        }
        default:
            return Hid();
    }
}

}  // namespace videz5::detail
