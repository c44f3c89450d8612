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

// An attribute held in memory while its dataset is replaced.
struct CarriedAttribute {
    std::string name;
    videz5::detail::Hid type, space;
    std::vector<unsigned char> bytes;
};

// The attributes of a dataset that go over to its replacement: those whose
// values are plain bytes. The dimension-scale ones hold references to the
// objects of the old layout, and variable-length values point into memory
// HDF5 would have to free, so both stay behind.
herr_t carry_attribute(hid_t dataset, const char* name, const H5A_info_t*, void* carried_list) {
    using namespace videz5::detail;
    static const char* const kScaleNames[] = {"CLASS", "NAME", "REFERENCE_LIST", "DIMENSION_LIST"};
    for (const char* scale_name : kScaleNames)
        if (std::string(name) == scale_name) return 0;
    Hid attribute(H5Aopen(dataset, name, H5P_DEFAULT), H5Aclose);
    CarriedAttribute carried{name, own_type(H5Aget_type(attribute.get())), own_space(H5Aget_space(attribute.get())),
                             {}};
    if (!attribute.valid() || !carried.type.valid() || !carried.space.valid()) return -1;
    if (H5Tdetect_class(carried.type.get(), H5T_VLEN) != 0 || H5Tdetect_class(carried.type.get(), H5T_REFERENCE) != 0 ||
        H5Tis_variable_str(carried.type.get()) != 0)
        return 0;
    const hssize_t count = H5Sget_simple_extent_npoints(carried.space.get());
    if (count < 0) return -1;
    carried.bytes.resize(static_cast<std::size_t>(count) * H5Tget_size(carried.type.get()));
    if (H5Aread(attribute.get(), carried.type.get(), carried.bytes.data()) < 0) return -1;
    static_cast<std::vector<CarriedAttribute>*>(carried_list)->push_back(std::move(carried));
    return 0;
}

int put_attributes(hid_t dataset, const std::vector<CarriedAttribute>& carried) {
    for (const CarriedAttribute& a : carried) {
        videz5::detail::Hid attribute(
            H5Acreate2(dataset, a.name.c_str(), a.type.get(), a.space.get(), H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
        if (!attribute.valid() || H5Awrite(attribute.get(), a.type.get(), a.bytes.data()) < 0) return -1;
    }
    return 0;
}

}  // namespace

int H5LTmake_dataset_sane(hid_t loc_id, const char* dset_name, int rank, const hsize_t* dims, hid_t type_id,
                          const void* buffer) {
    return videz5::detail::DatasetWrite(loc_id, dset_name, rank, dims, type_id, buffer).carry_out();
}

namespace videz5::detail {

DatasetWrite::DatasetWrite(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id,
                           const void* buffer, OnMismatch mismatch, bool absent)
    : loc_id_(loc_id),
      name_(name != nullptr ? name : ""),
      rank_(rank),
      dims_(dims),
      type_id_(type_id),
      buffer_(buffer),
      action_(plan(mismatch, absent)) {}

DatasetWrite::DatasetWrite(hid_t loc_id, const char* name, int rank, const hsize_t* dims, hid_t type_id,
                           const void* buffer, const SharedWrite& shared, OnMismatch mismatch)
    : loc_id_(loc_id),
      name_(name != nullptr ? name : ""),
      rank_(rank),
      dims_(dims),
      type_id_(type_id),
      buffer_(buffer),
      shared_(&shared),
      action_(plan(mismatch)) {}

DatasetWrite::Action DatasetWrite::plan(OnMismatch mismatch, bool absent) {
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
    // Asked for: a dataset of another shape gives way to the new one whole.
    const bool replace = mismatch == OnMismatch::kReplace;
    if (stored_rank != rank_) {  // fault-check: refuse-changed-rank
        if (replace) return Action::kReplace;
        refuse(name_, "rank of existing dataset is " + std::to_string(stored_rank) + " and new rank is = " +
                          std::to_string(rank_));
        return Action::kRefuse;
    }
    std::size_t count = 1;
    for (int i = 0; i < rank_; ++i) {
        if (stored[i] != dims_[i]) {  // fault-check: refuse-changed-size
            if (replace) return Action::kReplace;  // fault-check: replace-changes-shape
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
    if (replace) return Action::kReplace;
    // fault-check: longer-title-kept
    if (mismatch == OnMismatch::kLongerText && stored_type.valid() && rank_ == 1 && count == 1 &&
        H5Tget_class(stored_type.get()) == H5T_STRING && H5Tis_variable_str(stored_type.get()) == 0 &&
        H5Tget_class(type_id_) == H5T_STRING)
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
        case Action::kReplace: {
            // Unlinked and made anew in one commit of the file: readers see
            // the old dataset or the new one.
            std::vector<CarriedAttribute> carried;
            hsize_t at = 0;
            if (H5Aiterate2(dataset_.get(), H5_INDEX_NAME, H5_ITER_INC, &at, carry_attribute, &carried) < 0) return -1;
            dataset_.reset();
            if (H5Ldelete(loc_id_, name_, H5P_DEFAULT) < 0) {
                say(std::string("ERROR: H5Ldelete(): Failed to replace dataset ") + name_ + "!");
                return -1;
            }
            Hid made;
            // fault-check: replaced-keeps-attributes
            if (create(&made) < 0 || put_attributes(made.get(), carried) < 0) return -1;
            return H5Dclose(made.release());
        }
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
int DatasetWrite::create(Hid* made) {
    Hid space = own_space(rank_ > 0 ? H5Screate_simple(rank_, dims_, nullptr) : H5Screate(H5S_SCALAR));
    Hid properties = Hid(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    if (!properties.valid() || H5Pset_dset_no_attrs_hint(properties.get(), 1) < 0) return -1;
    if (storage_ != nullptr && storage_->chunked()) {
        const std::vector<hsize_t> chunks = !storage_->chunks.empty()
                                                ? storage_->chunks
                                                : default_chunks({dims_, dims_ + rank_}, H5Tget_size(type_id_));
        if (H5Pset_chunk(properties.get(), rank_, chunks.data()) < 0) return -1;
        // Shuffled bytes of neighbouring numbers deflate better than the numbers.
        if (storage_->level > 0 && (H5Pset_shuffle(properties.get()) < 0 ||
                                    H5Pset_deflate(properties.get(), static_cast<unsigned>(storage_->level)) < 0))
            return -1;
    }
    // HDF5 writes a fill value at allocation only when one was set; unset,
    // what the blocks leave would read as whatever the file space held before.
    // Zeros, and for Fortran's texts blanks.
    if (shared_ != nullptr && shared_->leaves_gaps) {  // fault-check: blocks-filled
        std::vector<unsigned char> fill(H5Tget_size(type_id_), H5Tget_class(type_id_) == H5T_STRING ? ' ' : 0);
        if (H5Pset_fill_value(properties.get(), type_id_, fill.data()) < 0 ||
            H5Pset_fill_time(properties.get(), H5D_FILL_TIME_ALLOC) < 0)
            return -1;
    }
    Hid dataset = own_dataset(space.valid() ? H5Dcreate2(loc_id_, name_, type_id_, space.get(), H5P_DEFAULT,
                                                         properties.get(), H5P_DEFAULT)
                                            : H5I_INVALID_HID);
    if (!dataset.valid() || write(dataset.get()) < 0) return -1;
    if (made != nullptr) {
        *made = std::move(dataset);
        return 0;
    }
    return H5Dclose(dataset.release());
}

}  // namespace videz5::detail
