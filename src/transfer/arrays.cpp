// Whole arrays of up to three dimensions at a path below a file or group: the
// element types the Fortran codes name, the dump and the read, asking a
// dataset's shape, and reading only into a buffer of exactly that shape.
#include "videz5_c.h"
#include "transfer.hpp"
#include "../access/access.hpp"

#include <H5LTpublic.h>

namespace videz5::detail {

Hid make_element_type(int code, int string_length) {
    switch (code) {
        // HDF5's predefined types serve as they are: nothing changes them, and
        // a copy per call is measurable on small dumps. Not owned, so never closed.
        case VIDEZ5_DOUBLE:
            return Hid(H5T_NATIVE_DOUBLE, nullptr);
        case VIDEZ5_INT:
            return Hid(H5T_NATIVE_INT, nullptr);
        case VIDEZ5_STRING: {
            if (string_length < 1) return Hid();
            Hid type = own_type(H5Tcopy(H5T_FORTRAN_S1));  // fault-check: strings-blank-padded
            if (type.valid() && H5Tset_size(type.get(), static_cast<size_t>(string_length)) < 0) type.reset();
            return type;
        }
        default:
            return Hid();
    }
}

}  // namespace videz5::detail

namespace videz5::detail {

std::vector<hsize_t> dump_dims(unsigned int dim1, unsigned int dim2, unsigned int dim3) {
    // Fortran is column-major: its slowest dimension comes first in HDF5.
    // A size of 0 means the dimension is absent.
    std::vector<hsize_t> dims;
    for (const unsigned int size : {dim3, dim2, dim1})  // fault-check: reverse-sizes
        if (size != 0) dims.push_back(size);  // fault-check: drop-zero-sizes
    if (dims.empty()) dims.push_back(1);
    return dims;
}

std::string fortran_shape(const std::vector<hsize_t>& dims) {
    if (dims.empty()) return "scalar";
    std::string text;
    for (auto size = dims.rbegin(); size != dims.rend(); ++size) {
        if (!text.empty()) text += " x ";
        text += std::to_string(*size);
    }
    return text;
}

Hid whole_read_access() {
    // A whole dataset is read once: HDF5's chunk cache would only copy each
    // chunk (a series' piece) once more on its way into the buffer.
    Hid access(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
    if (access.valid() && H5Pset_chunk_cache(access.get(), 0, 0, 1.0) < 0) access.reset();
    return access;
}

Hid open_dataset_at(hid_t loc_id, const std::string& path) {
    PathWalk walk(loc_id, path, 0, false);
    if (walk.deepest() < 0) return Hid();
    // A missing group or dataset is an answer here, not an error worth printing.
    ErrorPrintingOff quiet;
    const char* name = walk.last_component().c_str();
    if (H5Lexists(walk.deepest(), name, H5P_DEFAULT) <= 0) return Hid();
    // Anything else there (a group) does not open as a dataset.
    return own_dataset(H5Dopen2(walk.deepest(), name, whole_read_access().get()));
}

}  // namespace videz5::detail

namespace {

using videz5::detail::Hid;

// Rank and sizes of an open dataset; a scalar (or empty) dataspace has rank 0.
int stored_shape(hid_t dataset, std::vector<hsize_t>& dims) {
    Hid space = videz5::detail::own_space(H5Dget_space(dataset));
    const int rank = space.valid() ? H5Sget_simple_extent_ndims(space.get()) : -1;
    dims.assign(rank > 0 ? static_cast<std::size_t>(rank) : 0, 0);
    if (rank > 0 && H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr) < 0) return -1;
    return rank;
}

}  // namespace

int h5get_dims(hid_t loc_id, const std::string& path, std::vector<hsize_t>& dims) {
    dims.clear();
    Hid dataset = videz5::detail::open_dataset_at(loc_id, path);
    if (!dataset.valid()) return -1;
    const int rank = stored_shape(dataset.get(), dims);
    if (rank < 0) dims.clear();
    return rank;
}

int h5read_data_checked(hid_t loc_id, const std::string& path, void* buffer, const unsigned int* dim1,
                        const unsigned int* dim2, const unsigned int* dim3, size_t element_size, hid_t type_id,
                        std::vector<hsize_t>& stored_dims) {
    // A memory type of another size than the buffer's elements would move the
    // wrong number of bytes whatever the shape says.
    if (H5Tget_size(type_id) != element_size) {
        stored_dims.clear();
        return VIDEZ5_TYPE_MISMATCH;
    }
    Hid dataset;
    const int status = videz5::detail::open_for_read(loc_id, path, videz5::detail::dump_dims(*dim1, *dim2, *dim3),
                                                     type_id, dataset, stored_dims);
    if (status != VIDEZ5_OK) return status;
    if (videz5::detail::read_whole(dataset.get(), type_id, buffer) < 0) return VIDEZ5_READ_FAILED;
    return VIDEZ5_OK;
}

namespace videz5::detail {

int open_for_read(hid_t loc_id, const std::string& path, const std::vector<hsize_t>& dims, hid_t type_id,
                  Hid& dataset, std::vector<hsize_t>& stored_dims) {
    stored_dims.clear();
    dataset = open_dataset_at(loc_id, path);
    if (!dataset.valid()) return VIDEZ5_NO_DATASET;
    if (stored_shape(dataset.get(), stored_dims) < 0) return VIDEZ5_READ_FAILED;
    if (stored_dims != dims) return VIDEZ5_SHAPE_MISMATCH;

    {
        // HDF5 has no conversion between, say, strings and numbers, or variable-
        // and fixed-length strings: ask before the read rather than fail in it.
        Hid stored_type = own_type(H5Dget_type(dataset.get()));
        ErrorPrintingOff quiet;
        H5T_cdata_t* conversion = nullptr;
        if (!stored_type.valid() || H5Tfind(stored_type.get(), type_id, &conversion) == nullptr)
            return VIDEZ5_TYPE_MISMATCH;
    }
    // A conversion that exists can still lose values (a fraction, a value out
    // of range); the buffer is only written once every value is known to fit.
    const int exact = reads_exactly(dataset.get(), type_id);
    if (exact < 0) return VIDEZ5_READ_FAILED;
    if (exact == 0) return VIDEZ5_TYPE_MISMATCH;
    return VIDEZ5_OK;
}

int dump_at(hid_t loc_id, const std::string& path, const void* data, unsigned int dim1, unsigned int dim2,
            unsigned int dim3, hid_t type_id, const Description* description, OnMismatch mismatch) {
    PathWalk walk(loc_id, path, 0, true);
    // The same list that the checked read compares a buffer's sizes against.
    const std::vector<hsize_t> dims = dump_dims(dim1, dim2, dim3);
    const char* name = walk.last_component().c_str();
    const int status =
        DatasetWrite(walk.deepest(), name, static_cast<int>(dims.size()), dims.data(), type_id, data, mismatch)
            .outcome();
    // A refused write keeps what the dataset said about itself too.
    if (status != VIDEZ5_OK || description == nullptr) return status;
    return describe_at(walk.deepest(), name, description->units, description->long_name) < 0 ? VIDEZ5_WRITE_FAILED
                                                                                              : VIDEZ5_OK;
}

herr_t read_at(hid_t loc_id, const std::string& path, void* buffer, hid_t type_id) {
    PathWalk walk(loc_id, path, 0, false);
    Hid dataset = own_dataset(H5Dopen2(walk.deepest(), walk.last_component().c_str(), whole_read_access().get()));
    if (!dataset.valid()) return -1;
    return read_whole(dataset.get(), type_id, buffer);
}

herr_t read_whole(hid_t dataset, hid_t type_id, void* buffer) {
    if (read_series_whole(dataset, type_id, buffer)) return 0;
    return H5Dread(dataset, type_id, H5S_ALL, H5S_ALL, H5P_DEFAULT, buffer);
}

}  // namespace videz5::detail

void h5dump_data(hid_t loc_id, const std::string& path, const void* data, const unsigned int* dim1,
                 const unsigned int* dim2, const unsigned int* dim3, hid_t type_id) {
    videz5::detail::dump_at(loc_id, path, data, *dim1, *dim2, *dim3, type_id);
}

void h5read_data(hid_t loc_id, const std::string& path, void* buffer, hid_t type_id) {
    videz5::detail::read_at(loc_id, path, buffer, type_id);
}
