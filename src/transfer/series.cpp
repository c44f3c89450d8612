// Time series: a dataset that grows by one step per call along its slowest
// dimension, and the units and descriptions that label datasets for readers.
#include "videz5_c.h"
#include "transfer.hpp"
#include "../access/access.hpp"
#include "../detail/say.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace videz5::detail {
namespace {

// The bytes a chunk aims at. Each call writes only its own step into the
// chunk, so the size costs nothing per call; large enough that a long series
// reads in few pieces (each costs a few microseconds, and chunks up to HDF5's
// 64 KiB sieve buffer are copied once more on the way), small enough that a
// short series wastes little file space on the unfilled rest of its one chunk.
constexpr hsize_t kChunkBytes = hsize_t{256} << 10;
// HDF5 refuses chunks of 4 GiB and more.
constexpr hsize_t kLargestChunk = (hsize_t{1} << 32) - 1;

void refuse_step(const char* what, const char* entry, const std::string& path, const std::string& why) {
    say(std::string(what) + " IN " + entry + "( " + path + " ): " + why + ", NOTHING WRITTEN");
}

bool same_element_kind(hid_t stored, hid_t wanted) {
    const H5T_class_t kind = H5Tget_class(stored);
    return kind == H5Tget_class(wanted) && H5Tget_size(stored) == H5Tget_size(wanted) &&
           (kind != H5T_INTEGER || H5Tget_sign(stored) == H5Tget_sign(wanted));
}

// A new series holding its first step: chunked along the steps, unlimited
// there, and deflated after the shuffle filter when level is above 0. The
// unfilled rest of a chunk is never read, so it gets no fill value: a step
// then goes straight into its chunk instead of through a cached copy of the
// whole chunk.
Hid create_series(hid_t group, const char* name, const std::vector<hsize_t>& step, hid_t type_id, hid_t access,
                  int level) {
    std::vector<hsize_t> dims{1}, maxdims{H5S_UNLIMITED}, chunk{1};
    hsize_t step_bytes = H5Tget_size(type_id);
    for (const hsize_t size : step) {
        dims.push_back(size);
        maxdims.push_back(size);
        chunk.push_back(size);
        step_bytes *= size;
    }
    chunk[0] = std::max<hsize_t>(1, std::min(kChunkBytes, kLargestChunk) / std::max<hsize_t>(step_bytes, 1));
    Hid space = own_space(H5Screate_simple(static_cast<int>(dims.size()), dims.data(), maxdims.data()));
    Hid create(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    if (!space.valid() || !create.valid() || H5Pset_chunk(create.get(), static_cast<int>(chunk.size()), chunk.data()) < 0 ||
        H5Pset_fill_time(create.get(), H5D_FILL_TIME_NEVER) < 0)
        return Hid();
    if (level > 0 && (H5Pset_shuffle(create.get()) < 0 || H5Pset_deflate(create.get(), static_cast<unsigned>(level)) < 0))
        return Hid();
    return own_dataset(H5Dcreate2(group, name, type_id, space.get(), H5P_DEFAULT, create.get(), access));
}

// The stored series' number of steps, once its layout, step shape and element
// type are known to take the new step; -1 after the refusal line.
hssize_t stored_steps(const char* entry, const std::string& path, hid_t dataset, hid_t create,
                      const std::vector<hsize_t>& step, hid_t type_id) {
    Hid space = own_space(H5Dget_space(dataset));
    const int rank = space.valid() ? H5Sget_simple_extent_ndims(space.get()) : -1;
    std::vector<hsize_t> dims(static_cast<std::size_t>(std::max(rank, 0))), maxdims(dims.size());
    if (rank < 1 || create < 0 || H5Sget_simple_extent_dims(space.get(), dims.data(), maxdims.data()) < 0 ||
        H5Pget_layout(create) != H5D_CHUNKED || maxdims[0] != H5S_UNLIMITED) {
        refuse_step("NOT A SERIES", entry, path, "a dataset of fixed size");
        return -1;
    }
    if (static_cast<std::size_t>(rank) != step.size() + 1 || !std::equal(step.begin(), step.end(), dims.begin() + 1)) {
        refuse_step("STEP SHAPE MISMATCH", entry, path, "stored steps " + fortran_shape({dims.begin() + 1, dims.end()}) +
                                     ", new step " + fortran_shape(step));
        return -1;
    }
    Hid stored_type = own_type(H5Dget_type(dataset));
    if (!stored_type.valid() || !same_element_kind(stored_type.get(), type_id)) {
        refuse_step("STEP TYPE MISMATCH", entry, path, "stored steps are " +
                                     (stored_type.valid() ? element_type_name(stored_type.get()) : "unknown") +
                                     ", new step is " + element_type_name(type_id));
        return -1;
    }
    return static_cast<hssize_t>(dims[0]);
}

// Writes the step at index `at` of a series already `at + 1` steps long,
// whose creation properties are `create` (needed from the second step on). unseen receives the range of a chunk
// that holds earlier steps: it must live until the dataset is closed, when
// HDF5 may write what it buffered.
herr_t write_step(hid_t dataset, hid_t create, hsize_t at, const std::vector<hsize_t>& step, hid_t type_id,
                  const void* data, std::optional<UnseenRawWrites>& unseen) {
    std::vector<hsize_t> start(step.size() + 1, 0), count{1};
    start[0] = at;
    // A step into a chunk that holds earlier steps: without filters its bytes
    // go where no reader looks until the new extent is committed, and HDF5
    // writes nothing else there but the chunk's bytes as they are. (A new
    // chunk is new space; a filtered chunk is encoded anew, earlier steps with
    // it, and keeps the journal.)
    hsize_t chunk_steps = 0;
    if (at > 0 && (H5Pget_chunk(create, 1, &chunk_steps) < 1 || chunk_steps == 0)) return -1;
    if (at > 0 && at % chunk_steps != 0 && H5Pget_nfilters(create) == 0) {
        std::vector<hsize_t> chunk_start(start);
        chunk_start[0] -= at % chunk_steps;
        unsigned filters = 0;
        haddr_t addr = HADDR_UNDEF;
        hsize_t size = 0;
        if (H5Dget_chunk_info_by_coord(dataset, chunk_start.data(), &filters, &addr, &size) >= 0 &&
            addr != HADDR_UNDEF)
            unseen.emplace(addr, size);
    }
    count.insert(count.end(), step.begin(), step.end());
    Hid file_space = own_space(H5Dget_space(dataset));
    Hid memory_space = own_space(H5Screate_simple(static_cast<int>(count.size()), count.data(), nullptr));
    if (!file_space.valid() || !memory_space.valid() ||
        H5Sselect_hyperslab(file_space.get(), H5S_SELECT_SET, start.data(), nullptr, count.data(), nullptr) < 0)
        return -1;
    return H5Dwrite(dataset, type_id, memory_space.get(), file_space.get(), H5P_DEFAULT, data);
}

}  // namespace

bool read_series_whole(hid_t dataset, hid_t type_id, void* buffer) {
    // The layout first: most datasets read whole are not series.
    Hid create(H5Dget_create_plist(dataset), H5Pclose);
    if (!create.valid() || H5Pget_layout(create.get()) != H5D_CHUNKED || H5Pget_nfilters(create.get()) != 0)
        return false;
    Hid stored = own_type(H5Dget_type(dataset));
    Hid space = own_space(H5Dget_space(dataset));
    if (!stored.valid() || !space.valid() || H5Tequal(stored.get(), type_id) <= 0) return false;
    const int rank = H5Sget_simple_extent_ndims(space.get());
    if (rank < 1) return false;
    std::vector<hsize_t> dims(static_cast<std::size_t>(rank)), chunk(dims.size());
    if (H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr) < 0 ||
        H5Pget_chunk(create.get(), rank, chunk.data()) != rank)
        return false;
    // Each chunk must span whole steps, so that it is one stretch of the buffer.
    hsize_t step_bytes = H5Tget_size(type_id);
    for (std::size_t i = 1; i < dims.size(); ++i) {
        if (chunk[i] != dims[i]) return false;
        step_bytes *= dims[i];
    }
    if (dims[0] == 0 || step_bytes == 0 || chunk[0] == 0) return false;
    const Hid file = own_file(H5Iget_file_id(dataset));
    if (!file.valid()) return false;
    const FileBytes bytes_of(file.get());
    const ErrorPrintingOff quiet;  // a chunk never written is an answer here, not an error
    auto* out = static_cast<unsigned char*>(buffer);
    haddr_t run_addr = HADDR_UNDEF;
    hsize_t run_bytes = 0, run_at = 0;
    std::vector<hsize_t> coord(dims.size(), 0);
    for (coord[0] = 0; coord[0] < dims[0]; coord[0] += chunk[0]) {
        unsigned filters = 0;
        haddr_t addr = HADDR_UNDEF;
        hsize_t size = 0;
        if (H5Dget_chunk_info_by_coord(dataset, coord.data(), &filters, &addr, &size) < 0 || addr == HADDR_UNDEF ||
            size != chunk[0] * step_bytes)
            return false;
        // Only the last chunk holds fewer steps than it has room for.
        const hsize_t bytes = std::min(chunk[0], dims[0] - coord[0]) * step_bytes;
        if (run_bytes > 0 && addr == run_addr + run_bytes) {
            run_bytes += bytes;
            continue;
        }
        if (run_bytes > 0 && !bytes_of.read(run_addr, run_bytes, out + run_at)) return false;
        run_addr = addr;
        run_at = coord[0] * step_bytes;
        run_bytes = bytes;
    }
    return bytes_of.read(run_addr, run_bytes, out + run_at);
}

int describe(hid_t object, const std::string& units, const std::string& long_name) {
    int status = 0;
    if (!units.empty() && write_string_attribute(object, "units", {units}, false) < 0) status = -1;
    if (!long_name.empty() && write_string_attribute(object, "long_name", {long_name}, false) < 0) status = -1;
    return status;
}

int describe_at(hid_t loc_id, const char* name, const std::string& units, const std::string& long_name) {
    if (units.empty() && long_name.empty()) return 0;
    Hid object = own_object(H5Oopen(loc_id, name, H5P_DEFAULT));
    return object.valid() ? describe(object.get(), units, long_name) : -1;
}

int append_at(const char* entry, hid_t loc_id, const std::string& path, const void* data, unsigned int dim1,
              unsigned int dim2, hid_t type_id, const Description& description, const Storage* storage) {
    // The step's own dimensions in HDF5 order (absent ones dropped); the
    // series puts the steps in front of them, slowest.
    std::vector<hsize_t> step;
    for (const unsigned int size : {dim2, dim1})
        if (size != 0) step.push_back(size);

    PathWalk walk(loc_id, path, 0, true);
    const hid_t group = walk.deepest();
    const char* name = walk.last_component().c_str();
    const htri_t exists = H5Lexists(group, name, H5P_DEFAULT);
    if (exists < 0) {
        say(std::string("ERROR: H5Lexists(): Failed to look up dataset ") + name + "!");
        return VIDEZ5_WRITE_FAILED;
    }
    // Every call opens the series anew, so HDF5's chunk cache would only read
    // a partly filled chunk whole and write it back whole for one step.
    Hid access(H5Pcreate(H5P_DATASET_ACCESS), H5Pclose);
    if (!access.valid() || H5Pset_chunk_cache(access.get(), 0, 0, 1.0) < 0) return VIDEZ5_WRITE_FAILED;

    std::optional<UnseenRawWrites> unseen;  // outlives the dataset, closed first
    Hid create;
    Hid dataset;
    hsize_t at = 0;
    if (exists == 0) {
        dataset = create_series(group, name, step, type_id, access.get(), storage != nullptr ? storage->level : 0);
        if (!dataset.valid()) {
            say(std::string("ERROR: H5Dcreate2(): Failed to create dataset ") + name + "!");
            return VIDEZ5_WRITE_FAILED;
        }
    } else {
        {
            ErrorPrintingOff quiet;
            dataset = own_dataset(H5Dopen2(group, name, access.get()));
        }
        if (!dataset.valid()) {
            refuse_step("NOT A SERIES", entry, path, "not a dataset");
            return VIDEZ5_WRITE_REFUSED;
        }
        create = Hid(H5Dget_create_plist(dataset.get()), H5Pclose);
        const hssize_t steps = stored_steps(entry, path, dataset.get(), create.get(), step, type_id);
        if (steps < 0) return VIDEZ5_WRITE_REFUSED;
        at = static_cast<hsize_t>(steps);
        std::vector<hsize_t> grown{at + 1};
        grown.insert(grown.end(), step.begin(), step.end());
        if (H5Dset_extent(dataset.get(), grown.data()) < 0) {
            say(std::string("ERROR: H5Dset_extent(): Failed to extend dataset ") + name + "!");
            return VIDEZ5_WRITE_FAILED;
        }
    }
    if (write_step(dataset.get(), create.get(), at, step, type_id, data, unseen) < 0) {
        say(std::string("ERROR: H5Dwrite(): Failed to append to dataset ") + name + "!");
        // The stored steps stay as they were, without a step of garbage after them.
        std::vector<hsize_t> kept{at};
        kept.insert(kept.end(), step.begin(), step.end());
        if (at > 0) {
            H5Dset_extent(dataset.get(), kept.data());
        } else {
            dataset.reset();
            H5Ldelete(group, name, H5P_DEFAULT);
        }
        return VIDEZ5_WRITE_FAILED;
    }
    return describe(dataset.get(), description.units, description.long_name) < 0 ? VIDEZ5_WRITE_FAILED : VIDEZ5_OK;
}

}  // namespace videz5::detail
