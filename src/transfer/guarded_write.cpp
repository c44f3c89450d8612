// The one way the library writes a dataset: create, or overwrite in place only
// when the shape is unchanged and the stored element type holds every new
// value exactly. A silent reshape would leave readers with a wrong layout, and
// a silent conversion with wrong values, so either is refused and the stored
// data kept.
#include "videz5_c.h"
#include "transfer.hpp"

#include <H5LTpublic.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

namespace {

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
    return videz5::detail::DatasetWrite(loc_id, dset_name, rank, dims, type_id, buffer).carry_out();
}

namespace videz5::detail {

DatasetWrite::DatasetWrite(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id,
                           const void* buffer, bool may_grow)
    : loc_id_(loc_id),
      name_(name != nullptr ? name : ""),
      rank_(rank),
      dims_(dims),
      type_id_(type_id),
      buffer_(buffer),
      action_(plan(may_grow)) {}

DatasetWrite::Action DatasetWrite::plan(bool may_grow) {
    if (buffer_ == nullptr) {
        print_call_dump(loc_id_, name_, rank_, dims_, type_id_);
        return Action::kRefuse;
    }

    // An exact lookup of the one name, not a scan of the group by prefix.
    const htri_t exists = H5Lexists(loc_id_, name_, H5P_DEFAULT);
    if (exists < 0) {
        say("ERROR: H5Lexists(): Failed to look up dataset %s!\n", name_);
        return Action::kRefuse;
    }
    if (exists == 0) return Action::kCreate;

    // One open serves the type check, the shape check and the write.
    dataset_ = own_object(H5Oopen(loc_id_, name_, H5P_DEFAULT));
    if (!dataset_.valid()) {
        say("ERROR: H5Dopen(): Failed to open dataset %s!\n", name_);
        return Action::kRefuse;
    }
    if (H5Iget_type(dataset_.get()) != H5I_DATASET) {
        say("Cannot overwrite existing dataset %s!\n", name_);
        say("existing object %s is not a dataset\n", name_);
        return Action::kRefuse;
    }

    Hid space = own_space(H5Dget_space(dataset_.get()));
    const int stored_rank = space.valid() ? H5Sget_simple_extent_ndims(space.get()) : -1;
    std::vector<hsize_t> stored(static_cast<std::size_t>(std::max(stored_rank, 0)));
    if (stored_rank < 0 || (stored_rank > 0 && H5Sget_simple_extent_dims(space.get(), stored.data(), nullptr) < 0)) {
        say("ERROR: H5Dget_space(): Failed to read the shape of dataset %s!\n", name_);
        return Action::kRefuse;
    }
    if (stored_rank != rank_) {
        say("Cannot overwrite existing dataset %s!\n", name_);
        say("rank of existing dataset is %d and new rank is = %d\n", stored_rank, rank_);
        return Action::kRefuse;
    }
    std::size_t count = 1;
    for (int i = 0; i < rank_; ++i) {
        if (stored[i] != dims_[i]) {
            say("Cannot overwrite existing dataset %s!\n", name_);
            say("dim[%d] of existing dataset is %llu and new dim[%d] is %llu\n", i,
                static_cast<unsigned long long>(stored[i]), i, static_cast<unsigned long long>(dims_[i]));
            return Action::kRefuse;
        }
        count *= static_cast<std::size_t>(dims_[i]);
    }

    // Same shape: the values go in place in the stored element type, but only
    // when that type holds every one of them exactly.
    Hid stored_type = own_type(H5Dget_type(dataset_.get()));
    if (stored_type.valid() && converts_exactly(type_id_, stored_type.get(), buffer_, count)) return Action::kOverwrite;
    if (may_grow && stored_type.valid() && rank_ == 1 && count == 1 && H5Tget_class(stored_type.get()) == H5T_STRING &&
        H5Tis_variable_str(stored_type.get()) == 0 && H5Tget_class(type_id_) == H5T_STRING)
        return Action::kReplace;
    say("Cannot overwrite existing dataset %s!\n", name_);
    say("type of existing dataset is %s and new type is %s\n",
        stored_type.valid() ? element_type_name(stored_type.get()).c_str() : "unknown",
        element_type_name(type_id_).c_str());
    return Action::kRefuse;
}

int DatasetWrite::carry_out() {
    switch (action_) {
        case Action::kRefuse:
            return -1;
        case Action::kCreate:
            return H5LTmake_dataset(loc_id_, name_, rank_, dims_, type_id_, buffer_);
        case Action::kReplace:
            // Unlinked and made anew in one commit of the file: readers see
            // the old text or the new one.
            dataset_.reset();
            if (H5Ldelete(loc_id_, name_, H5P_DEFAULT) < 0) {
                say("ERROR: H5Ldelete(): Failed to replace dataset %s!\n", name_);
                return -1;
            }
            return H5LTmake_dataset(loc_id_, name_, rank_, dims_, type_id_, buffer_);
        case Action::kOverwrite:
            break;
    }
    if (H5Dwrite(dataset_.get(), type_id_, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer_) != 0) {
        say("ERROR: H5Dwrite(): Failed to overwrite dataset %s!\n", name_);
        return -1;
    }
    return H5Oclose(dataset_.release());
}

}  // namespace videz5::detail
