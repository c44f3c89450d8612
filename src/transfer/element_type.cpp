#include "transfer.hpp"

namespace videz5::detail {

Hid make_element_type(int code, int string_length) {
    switch (code) {
        // HDF5's predefined types serve as they are: nothing changes them, and
        // a copy per call is measurable on small dumps. Not owned, so never closed.
        case kDouble:
            return Hid(H5T_NATIVE_DOUBLE, nullptr);
        case kInt:
            return Hid(H5T_NATIVE_INT, nullptr);
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
