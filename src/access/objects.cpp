// The datasets and groups a path names, whatever they are: for what is said
// about an object (its attributes), a group's names, and taking one out.
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
        if (walk.deepest() < 0 || H5Lexists(walk.deepest(), name, H5P_DEFAULT) <= 0) return Hid();
        // A dangling soft link exists, but opens nothing.
        object = own_object(H5Oopen(walk.deepest(), name, H5P_DEFAULT));
    }
    // A named datatype is an object too, but nothing the library writes or reads.
    const H5I_type_t kind = object.valid() ? H5Iget_type(object.get()) : H5I_BADID;
    if (kind != H5I_GROUP && kind != H5I_DATASET) object.reset();
    return object;
}

namespace {

// Collects the names that H5Literate hands over. Nothing may be thrown
// through HDF5: an allocation that fails ends the iteration instead.
herr_t collect_name(hid_t, const char* name, const H5L_info_t*, void* names) {
    try {
        static_cast<std::vector<std::string>*>(names)->emplace_back(name);
        return 0;
    } catch (...) {
        return -1;
    }
}

}  // namespace

int list_group(hid_t loc_id, const std::string& path, std::vector<std::string>& names) {
    names.clear();
    Hid group = open_object_at(loc_id, path);
    if (!group.valid() || H5Iget_type(group.get()) != H5I_GROUP) return VIDEZ5_NO_DATASET;
    // The index every group has, by name in increasing order (as h5ls lists
    // them): creation order is kept only where a file asked for it.
    hsize_t at = 0;
    if (H5Literate(group.get(), H5_INDEX_NAME, H5_ITER_INC, &at, collect_name, &names) < 0) {
        names.clear();
        return VIDEZ5_READ_FAILED;
    }
    return VIDEZ5_OK;
}

int unlink_at(hid_t loc_id, const std::string& path) {
    if (names_own_group(path)) return VIDEZ5_WRITE_REFUSED;
    int status = VIDEZ5_NO_DATASET;
    {
        PathWalk walk(loc_id, path, 0, false);
        const hid_t group = walk.deepest();
        const char* name = walk.last_component().c_str();
        H5O_info_t info;
        bool there;
        {
            ErrorPrintingOff quiet;  // nothing there is an answer
            there = group >= 0 && H5Lexists(group, name, H5P_DEFAULT) > 0 &&
                    H5Oget_info_by_name2(group, name, &info, H5O_INFO_BASIC, H5P_DEFAULT) >= 0 &&
                    (info.type == H5O_TYPE_GROUP || info.type == H5O_TYPE_DATASET);
        }
        if (there) status = H5Ldelete(group, name, H5P_DEFAULT) < 0 ? VIDEZ5_WRITE_FAILED : VIDEZ5_OK;
    }
    // A group kept open between calls may be the one just unlinked, or lie
    // below it: the next calls would write into a group the file no longer names.
    if (status == VIDEZ5_OK) forget_kept_groups();  // fault-check: delete-forgets-kept-groups
    return status;
}

}  // namespace videz5::detail
