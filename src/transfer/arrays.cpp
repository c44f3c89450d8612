// Whole arrays of up to three dimensions at a path below a file or group: the
// element types the Fortran codes name, the dump and the read, asking a
// dataset's shape, and reading only into a buffer of exactly that shape.
#include "videz5_c.h"
#include "transfer.hpp"
#include "../access/access.hpp"

#include <H5LTpublic.h>

#include <algorithm>

namespace videz5::detail {

Hid make_element_type(int code, int string_length) {
    switch (code) {
        // HDF5's predefined types serve as they are: nothing changes them, and
        // a copy per call is measurable on small dumps. Not owned, so never closed.
        case VIDEZ5_DOUBLE:
            return Hid(H5T_NATIVE_DOUBLE, nullptr);
        case VIDEZ5_INT:
            return Hid(H5T_NATIVE_INT, nullptr);
        case VIDEZ5_FLOAT:
            return Hid(H5T_NATIVE_FLOAT, nullptr);
        case VIDEZ5_INT64:
            return Hid(H5T_NATIVE_LLONG, nullptr);
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

std::vector<hsize_t> default_chunks(const std::vector<hsize_t>& dims, std::size_t element_size) {
    constexpr hsize_t kChunkBytes = hsize_t{1} << 20;
    const hsize_t budget = std::max<hsize_t>(1, kChunkBytes / std::max<std::size_t>(element_size, 1));
    // From the fastest dimension on: whole while they fit, then as many of the
    // next as fit, then one of each slower.
    std::vector<hsize_t> chunks(dims.size(), 1);
    hsize_t elements = 1;
    for (std::size_t i = dims.size(); i-- > 0;) {
        chunks[i] = std::max<hsize_t>(1, std::min(dims[i], budget / elements));
        elements *= chunks[i];
        if (chunks[i] < dims[i]) break;
    }
    return chunks;
}

bool block_fits(const std::vector<hsize_t>& start, const std::vector<hsize_t>& dims,
                const std::vector<hsize_t>& shape) {
    if (start.size() != dims.size() || dims.size() != shape.size()) return false;
    for (std::size_t i = 0; i < dims.size(); ++i)
        if (start[i] > shape[i] || dims[i] > shape[i] - start[i]) return false;  // fault-check: block-fits
    return true;
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
    return videz5::detail::read_array_at(loc_id, path, buffer, videz5::detail::dump_dims(*dim1, *dim2, *dim3), type_id,
                                         nullptr, stored_dims);
}

namespace videz5::detail {

int open_for_read(hid_t loc_id, const std::string& path, const std::vector<hsize_t>& dims, hid_t type_id,
                  Hid& dataset, std::vector<hsize_t>& stored_dims, const std::vector<hsize_t>* start) {
    stored_dims.clear();
    dataset = open_dataset_at(loc_id, path);
    if (!dataset.valid()) return VIDEZ5_NO_DATASET;
    if (stored_shape(dataset.get(), stored_dims) < 0) return VIDEZ5_READ_FAILED;
    if (start == nullptr ? stored_dims != dims : !block_fits(*start, dims, stored_dims)) return VIDEZ5_SHAPE_MISMATCH;

    {
        // HDF5 has no conversion between, say, strings and numbers, or variable-
        // and fixed-length strings: ask before the read rather than fail in it.
        Hid stored_type = own_type(H5Dget_type(dataset.get()));
        ErrorPrintingOff quiet;
        H5T_cdata_t* conversion = nullptr;
        if (!stored_type.valid() || H5Tfind(stored_type.get(), type_id, &conversion) == nullptr ||
            rounds_floats(stored_type.get(), type_id))  // fault-check: doubles-never-floats
            return VIDEZ5_TYPE_MISMATCH;
    }
    // A conversion that exists can still lose values (a fraction, a value out
    // of range); the buffer is only written once every value is known to fit.
    const int exact = reads_exactly(dataset.get(), type_id, start, start != nullptr ? &dims : nullptr);
    if (exact < 0) return VIDEZ5_READ_FAILED;
    if (exact == 0) return VIDEZ5_TYPE_MISMATCH;
    return VIDEZ5_OK;
}

int dump_at(hid_t loc_id, const std::string& path, const void* data, unsigned int dim1, unsigned int dim2,
            unsigned int dim3, hid_t type_id, const Description* description, OnMismatch mismatch) {
    // The same list that the checked read compares a buffer's sizes against.
    const std::vector<hsize_t> dims = dump_dims(dim1, dim2, dim3);
    return dump_array_at(loc_id, path, data, dims, type_id, description, mismatch, nullptr, nullptr);
}

int dump_array_at(hid_t loc_id, const std::string& path, const void* data, const std::vector<hsize_t>& dims,
                  hid_t type_id, const Description* description, OnMismatch mismatch, const Storage* storage,
                  const Part* part) {
    PathWalk walk(loc_id, path, 0, true);
    const char* name = walk.last_component().c_str();
    int status;
    if (part == nullptr) {
        DatasetWrite write(walk.deepest(), name, static_cast<int>(dims.size()), dims.data(), type_id, data, mismatch);
        write.store_as(storage);
        status = write.outcome();
    } else {
        // The block goes through the selections that the ranks of a shared
        // write use for theirs, here the one block of one process.
        const int rank = static_cast<int>(part->shape.size());
        Hid memory_space = own_space(H5Screate_simple(rank, dims.data(), nullptr));
        Hid file_space = own_space(H5Screate_simple(rank, part->shape.data(), nullptr));
        if (!memory_space.valid() || !file_space.valid() ||
            H5Sselect_hyperslab(file_space.get(), H5S_SELECT_SET, part->start.data(), nullptr, dims.data(),
                                nullptr) < 0)
            return VIDEZ5_WRITE_FAILED;
        std::size_t count = 1;
        for (const hsize_t size : dims) count *= static_cast<std::size_t>(size);
        const SharedWrite block{count, [](bool exact) { return exact; }, memory_space.get(), file_space.get(),
                                H5P_DEFAULT, true};
        DatasetWrite write(walk.deepest(), name, rank, part->shape.data(), type_id, data, block, mismatch);
        write.store_as(storage);
        status = write.outcome();
    }
    // A refused write keeps what the dataset said about itself too.
    if (status != VIDEZ5_OK || description == nullptr) return status;
    return describe_at(walk.deepest(), name, description->units, description->long_name) < 0 ? VIDEZ5_WRITE_FAILED
                                                                                              : VIDEZ5_OK;
}

int read_array_at(hid_t loc_id, const std::string& path, void* buffer, const std::vector<hsize_t>& dims,
                  hid_t type_id, const std::vector<hsize_t>* start, std::vector<hsize_t>& stored_dims) {
    Hid dataset;
    const int status = open_for_read(loc_id, path, dims, type_id, dataset, stored_dims, start);
    if (status != VIDEZ5_OK) return status;
    if (start == nullptr) return read_whole(dataset.get(), type_id, buffer) < 0 ? VIDEZ5_READ_FAILED : VIDEZ5_OK;
    Hid file_space = own_space(H5Dget_space(dataset.get()));
    Hid memory_space = own_space(H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr));
    if (!file_space.valid() || !memory_space.valid() ||
        H5Sselect_hyperslab(file_space.get(), H5S_SELECT_SET, start->data(), nullptr, dims.data(), nullptr) < 0 ||
        H5Dread(dataset.get(), type_id, memory_space.get(), file_space.get(), H5P_DEFAULT, buffer) < 0)
        return VIDEZ5_READ_FAILED;
    return VIDEZ5_OK;
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
