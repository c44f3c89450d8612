// The one way the library writes a dataset: create, or overwrite in place only
// when the shape is unchanged and the stored element type holds every new
// value exactly. A silent reshape would leave readers with a wrong layout, and
// a silent conversion with wrong values, so either is refused and the stored
// data kept.
#include "videz5_c.h"
#include "transfer.hpp"
#include "../detail/say.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using videz5::detail::say;

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIx64, value);
    return text;
}

void print_call_dump(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id) {
    // Identifiers are 64-bit: print them whole.
    std::string sizes;
    for (int i = 0; dims != nullptr && i < rank; ++i) sizes += (i > 0 ? ":" : "") + std::to_string(dims[i]);
    say("");
    say("ERROR: H5LTmake_dataset_sane() buffer = NULL!!!");
    say("");
    say("H5LTmake_dataset_sane(hid_t loc_id=" + hex(static_cast<std::uint64_t>(loc_id)) +
        ",const char *dset_name=" + name + ", int rank=" + std::to_string(rank) + ", const hsize_t *dims=" + sizes +
        ", hid_t type_id=" + hex(static_cast<std::uint64_t>(type_id)) + ",const void *buffer=0x0)");
    say("");
}

void refuse(const std::string& name, const std::string& reason) {
    say("Cannot overwrite existing dataset " + name + "!");
    say(reason);
}

}  // namespace

int H5LTmake_dataset_sane(hid_t loc_id, const char* dset_name, int rank, const hsize_t* dims, hid_t type_id,
                          const void* buffer) {
    return videz5::detail::DatasetWrite(loc_id, dset_name, rank, dims, type_id, buffer).carry_out();
}

namespace videz5::detail {

DatasetWrite::DatasetWrite(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id,
                           const void* buffer, bool may_grow, bool absent)
    : loc_id_(loc_id),
      name_(name != nullptr ? name : ""),
      rank_(rank),
      dims_(dims),
      type_id_(type_id),
      buffer_(buffer),
      action_(plan(may_grow, absent)) {}

DatasetWrite::DatasetWrite(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id,
                           const void* buffer, const SharedWrite& shared)
    : loc_id_(loc_id),
      name_(name != nullptr ? name : ""),
      rank_(rank),
      dims_(dims),
      type_id_(type_id),
      buffer_(buffer),
      shared_(&shared),
      action_(plan(false)) {}

DatasetWrite::Action DatasetWrite::plan(bool may_grow, bool absent) {
    if (buffer_ == nullptr) {
        print_call_dump(loc_id_, name_, rank_, dims_, type_id_);
        return Action::kRefuse;
    }
    if (absent) return Action::kCreate;

    // An exact lookup of the one name, not a scan of the group by prefix.
    const htri_t exists = H5Lexists(loc_id_, name_, H5P_DEFAULT);
    if (exists < 0) {
        say(std::string("ERROR: H5Lexists(): Failed to look up dataset ") + name_ + "!");
        return Action::kRefuse;
    }
    if (exists == 0) return Action::kCreate;

    // One open serves the type check, the shape check and the write.
    dataset_ = own_object(H5Oopen(loc_id_, name_, H5P_DEFAULT));
    if (!dataset_.valid()) {
        say(std::string("ERROR: H5Dopen(): Failed to open dataset ") + name_ + "!");
        return Action::kRefuse;
    }
    if (H5Iget_type(dataset_.get()) != H5I_DATASET) {
        refuse(name_, std::string("existing object ") + name_ + " is not a dataset");
        return Action::kRefuse;
    }

    Hid space = own_space(H5Dget_space(dataset_.get()));
    const int stored_rank = space.valid() ? H5Sget_simple_extent_ndims(space.get()) : -1;
    std::vector<hsize_t> stored(static_cast<std::size_t>(std::max(stored_rank, 0)));
    if (stored_rank < 0 || (stored_rank > 0 && H5Sget_simple_extent_dims(space.get(), stored.data(), nullptr) < 0)) {
        say(std::string("ERROR: H5Dget_space(): Failed to read the shape of dataset ") + name_ + "!");
        return Action::kRefuse;
    }
    if (stored_rank != rank_) {  // fault-check: refuse-changed-rank
        refuse(name_, "rank of existing dataset is " + std::to_string(stored_rank) + " and new rank is = " +
                          std::to_string(rank_));
        return Action::kRefuse;
    }
    std::size_t count = 1;
    for (int i = 0; i < rank_; ++i) {
        if (stored[i] != dims_[i]) {  // fault-check: refuse-changed-size
            const std::string dim = "dim[" + std::to_string(i) + "]";
            refuse(name_, dim + " of existing dataset is " + std::to_string(stored[i]) + " and new " + dim + " is " +
                              std::to_string(dims_[i]));
            return Action::kRefuse;
        }
        count *= static_cast<std::size_t>(dims_[i]);
    }

    // Same shape: the values go in place in the stored element type, but only
    // when that type holds every one of them exactly.
    Hid stored_type = own_type(H5Dget_type(dataset_.get()));
    bool exact = stored_type.valid() &&
                 converts_exactly(type_id_, stored_type.get(), buffer_, shared_ != nullptr ? shared_->count : count);
    // Every rank checks its own block; all of them overwrite, or none.
    if (shared_ != nullptr) exact = shared_->agree(exact);
    if (exact) return Action::kOverwrite;
    // fault-check: longer-title-kept
    if (may_grow && stored_type.valid() && rank_ == 1 && count == 1 && H5Tget_class(stored_type.get()) == H5T_STRING &&
        H5Tis_variable_str(stored_type.get()) == 0 && H5Tget_class(type_id_) == H5T_STRING)
        return Action::kReplace;
    refuse(name_, "type of existing dataset is " +
                      (stored_type.valid() ? element_type_name(stored_type.get()) : std::string("unknown")) +
                      " and new type is " + element_type_name(type_id_));
    return Action::kRefuse;
}

int DatasetWrite::carry_out() {
    switch (action_) {
        case Action::kRefuse:
            return -1;
        case Action::kCreate:
            return create();
        case Action::kReplace:
            // Unlinked and made anew in one commit of the file: readers see
            // the old text or the new one.
            dataset_.reset();
            if (H5Ldelete(loc_id_, name_, H5P_DEFAULT) < 0) {
                say(std::string("ERROR: H5Ldelete(): Failed to replace dataset ") + name_ + "!");
                return -1;
            }
            return create();
        case Action::kOverwrite:
            break;
    }
    if (write(dataset_.get()) != 0) {
        say(std::string("ERROR: H5Dwrite(): Failed to overwrite dataset ") + name_ + "!");
        return -1;
    }
    return H5Oclose(dataset_.release());
}

herr_t DatasetWrite::write(hid_t dataset) const {
    if (shared_ == nullptr) return H5Dwrite(dataset, type_id_, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer_);
    return H5Dwrite(dataset, type_id_, shared_->memory_space, shared_->file_space, shared_->transfer, buffer_);
}

// The dataset as H5LTmake_dataset makes it (same space and layout), with one
// difference: HDF5 gives a new dataset's header room for attributes, 144 of
// its 272 bytes, which files of many small datasets would carry unused (an
// attribute added later still fits, in a continuation of the header). For a
// shared write each rank then writes its own block.
int DatasetWrite::create() {
    Hid space = own_space(H5Screate_simple(rank_, dims_, nullptr));
    Hid properties = Hid(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    if (!properties.valid() || H5Pset_dset_no_attrs_hint(properties.get(), 1) < 0) return -1;
    Hid dataset = own_dataset(space.valid() ? H5Dcreate2(loc_id_, name_, type_id_, space.get(), H5P_DEFAULT,
                                                         properties.get(), H5P_DEFAULT)
                                            : H5I_INVALID_HID);
    if (!dataset.valid() || write(dataset.get()) < 0) return -1;
    return H5Dclose(dataset.release());
}

}  // namespace videz5::detail
