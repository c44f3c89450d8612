// The one way the library writes a dataset: create, or overwrite in place only
// when the shape is unchanged. A silent reshape would leave readers with a
// wrong layout, so a changed shape is refused and the stored data kept.
#include "videz5_c.h"
#include "../detail/hid.hpp"

#include <H5LTpublic.h>

#include <cinttypes>
#include <cstdio>
#include <vector>

namespace {

using videz5::detail::Hid;

// Formatted messages are flushed at once so they stay in order with the
// caller's own (Fortran) output on the same stream.
template <typename... Args>
void say(const char* format, Args... args) {
    std::printf(format, args...);
    std::fflush(stdout);
}

void print_call_dump(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id) {
    // Identifiers are 64-bit: print them whole.
    std::printf("\nERROR: H5LTmake_dataset_sane() buffer = NULL!!!\n\n");
    std::printf("H5LTmake_dataset_sane(hid_t loc_id=0x%" PRIx64 ",const char *dset_name=%s, int rank=%d, "
                "const hsize_t *dims=",
                static_cast<uint64_t>(loc_id), name, rank);
    for (int i = 0; dims != nullptr && i < rank; ++i)
        std::printf("%llu%s", static_cast<unsigned long long>(dims[i]), i + 1 < rank ? ":" : "");
    std::printf(", hid_t type_id=0x%" PRIx64 ",const void *buffer=0x%x)\n\n", static_cast<uint64_t>(type_id), 0u);
    std::fflush(stdout);
}

}  // namespace

int H5LTmake_dataset_sane(hid_t loc_id, const char* dset_name, int rank, const hsize_t* dims, hid_t type_id,
                          const void* buffer) {
    const char* name = dset_name != nullptr ? dset_name : "";
    if (buffer == nullptr) {
        print_call_dump(loc_id, name, rank, dims, type_id);
        return -1;
    }

    // An exact lookup of the one name, not a scan of the group by prefix.
    const htri_t exists = H5Lexists(loc_id, name, H5P_DEFAULT);
    if (exists < 0) {
        say("ERROR: H5Lexists(): Failed to look up dataset %s!\n", name);
        return -1;
    }
    if (exists == 0) return H5LTmake_dataset(loc_id, name, rank, dims, type_id, buffer);

    // One open serves the type check, the shape check and the write.
    Hid object = videz5::detail::own_object(H5Oopen(loc_id, name, H5P_DEFAULT));
    if (!object.valid()) {
        say("ERROR: H5Dopen(): Failed to open dataset %s!\n", name);
        return -1;
    }
    if (H5Iget_type(object.get()) != H5I_DATASET) {
        say("Cannot overwrite existing dataset %s!\n", name);
        say("existing object %s is not a dataset\n", name);
        return -1;
    }

    Hid space = videz5::detail::own_space(H5Dget_space(object.get()));
    const int stored_rank = space.valid() ? H5Sget_simple_extent_ndims(space.get()) : -1;
    if (stored_rank < 0) {
        say("ERROR: H5Dget_space(): Failed to read the shape of dataset %s!\n", name);
        return -1;
    }
    if (stored_rank != rank) {
        say("Cannot overwrite existing dataset %s!\n", name);
        say("rank of existing dataset is %d and new rank is = %d\n", stored_rank, rank);
        return -1;
    }
    std::vector<hsize_t> stored(static_cast<std::size_t>(rank));
    if (rank > 0 && H5Sget_simple_extent_dims(space.get(), stored.data(), nullptr) < 0) {
        say("ERROR: H5Dget_space(): Failed to read the shape of dataset %s!\n", name);
        return -1;
    }
    for (int i = 0; i < rank; ++i) {
        if (stored[i] != dims[i]) {
            say("Cannot overwrite existing dataset %s!\n", name);
            say("dim[%d] of existing dataset is %llu and new dim[%d] is %llu\n", i,
                static_cast<unsigned long long>(stored[i]), i, static_cast<unsigned long long>(dims[i]));
            return -1;
        }
    }

    // Same shape: replace the values in place; the stored element type stays.
    if (H5Dwrite(object.get(), type_id, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer) != 0) {
        say("ERROR: H5Dwrite(): Failed to overwrite dataset %s!\n", name);
        return -1;
    }
    return H5Oclose(object.release());
}
