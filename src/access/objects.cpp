// The datasets and groups a path names, whatever they are: for what is said
// about an object (its attributes) rather than written into it.
#include "access.hpp"
#include "../text/text.hpp"

namespace videz5::detail {

Hid open_object_at(hid_t loc_id, const std::string& path) {
    // Nothing there is an answer here, not an error worth printing.
    ErrorPrintingOff quiet;
    Hid object;
    if (names_own_group(path)) {
        object = own_object(H5Oopen(loc_id, ".", H5P_DEFAULT));
    } else {
        PathWalk walk(loc_id, path, 0, false);
        const char* name = walk.last_component().c_str();
        // A dangling soft link exists but opens nothing.
        if (walk.deepest() < 0 || H5Lexists(walk.deepest(), name, H5P_DEFAULT) <= 0) return Hid();
        object = own_object(H5Oopen(walk.deepest(), name, H5P_DEFAULT));
    }
    // A named datatype is an object too, but nothing the library writes or reads.
    const H5I_type_t kind = object.valid() ? H5Iget_type(object.get()) : H5I_BADID;
    if (kind != H5I_GROUP && kind != H5I_DATASET) object.reset();
    return object;
}

}  // namespace videz5::detail
