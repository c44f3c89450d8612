// String attributes, stored as fixed-length null-padded ASCII, the form that
// readers of attributes written by other tools handle without surprises.
#include "transfer.hpp"

#include <algorithm>

namespace videz5::detail {

int write_string_attribute(hid_t object, const char* name, const std::vector<std::string>& values, bool as_array) {
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

    // Replaced whole rather than written over, so that its type and shape
    // always follow the new values.
    const htri_t exists = H5Aexists(object, name);
    if (exists < 0 || (exists > 0 && H5Adelete(object, name) < 0)) return -1;
    Hid attribute(H5Acreate2(object, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    if (!attribute.valid()) return -1;
    return H5Awrite(attribute.get(), type.get(), block.data());
}

}  // namespace videz5::detail
