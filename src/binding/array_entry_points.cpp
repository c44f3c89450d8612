// The array entry points: every element kind the module offers, ranks 0 to
// VIDEZ5_MAX_RANK, a block of a dataset, and the layout of a new dataset, by
// file name and through a held handle. Arguments are converted and checked
// (one line for each refusal, and the process goes on) before any file is
// touched; the work is the transfer layer's.
#include "videz5_c.h"
#include "bodies.hpp"
#include "guarded_entry.hpp"
#include "array_sizes.hpp"
#include "next_description.hpp"
#include "read_messages.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

#include <H5Zpublic.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using videz5::detail::by_name;
using videz5::detail::CallTarget;
using videz5::detail::held;
using videz5::detail::Hid;
using videz5::detail::OpenTarget;
using videz5::detail::say;

// Fortran sizes or indices in HDF5's order: the slowest dimension first.
std::vector<hsize_t> reversed(const unsigned int* values, int rank) {
    std::vector<hsize_t> out;
    for (int i = rank; i-- > 0;) out.push_back(values[i]);
    return out;
}

// "9, 1": a block's first element as the Fortran caller indexes it, from
// indices in HDF5's order that count from base.
std::string fortran_index(const std::vector<hsize_t>& start, hsize_t base) {
    std::string text;
    for (auto at = start.rbegin(); at != start.rend(); ++at)
        text += (text.empty() ? "" : ", ") + std::to_string(*at + 1 - base);
    return text;
}

bool rank_ok(const char* entry, const std::string& path, int rank, bool partial) {
    // A scalar has no block to take a part of.
    if (rank >= (partial ? 1 : 0) && rank <= VIDEZ5_MAX_RANK) return true;
    say(std::string("INVALID RANK IN ") + entry + "( " + path + ", " + std::to_string(rank) + " )");
    return false;
}

// Whether the HDF5 the program runs with has the filter and can write with it.
bool encodes(H5Z_filter_t filter) {
    unsigned int config = 0;
    return H5Zfilter_avail(filter) > 0 && H5Zget_filter_info(filter, &config) >= 0 &&
           (config & H5Z_FILTER_CONFIG_ENCODE_ENABLED) != 0;
}

// A 1-based index of 0 has no element: false, with the start unchanged.
bool zero_based(const unsigned int* start, int rank, std::vector<hsize_t>& out) {
    out = reversed(start, rank);
    for (hsize_t& at : out) {
        if (at == 0) return false;
        --at;
    }
    return true;
}

void dump_array_entry(const char* entry, const OpenTarget& open_target, const char* path,
                      const unsigned int* path_length, const void* data, int rank, const unsigned int* dims,
                      int type_code, int string_length, bool partial, const unsigned int* start,
                      const unsigned int* shape) {
    using namespace videz5::detail;
    WriteOutcome outcome;
    // Taken even when the write is then refused: never handed on to a later one.
    const auto description = take_next_description();
    const OnMismatch mismatch = take_next_replace() ? OnMismatch::kReplace : OnMismatch::kRefuse;
    const auto next_storage = take_next_storage();
    const std::string path_text = charToString(path, path_length);
    if (!element_code_ok(entry, path_text, type_code, string_length, VIDEZ5_INT64) ||
        !rank_ok(entry, path_text, rank, partial) ||
        !array_sizes_ok(entry, path_text, data, dims, rank, element_code_size(type_code, string_length)))
        return;
    const std::vector<hsize_t> block = reversed(dims, rank);
    Part part;
    if (partial) {
        part.shape = reversed(shape, rank);
        if (!zero_based(start, rank, part.start) || !block_fits(part.start, block, part.shape)) {
            say(read_message(entry, "BLOCK OUT OF BOUNDS", path_text) + ": block " + fortran_shape(block) + " at " +
                fortran_index(reversed(start, rank), 1) + " does not fit " + fortran_shape(part.shape) +
                ", NOTHING WRITTEN");
            return;
        }
    }
    Storage storage;
    if (next_storage && !storage_ok(entry, path_text, *next_storage, partial ? &part.shape : &block, storage)) return;
    Hid type = make_element_type(type_code, string_length);
    CallTarget file = open_target();
    if (outcome.no_file(file)) return;
    const int status = dump_array_at(file.get(), path_text, data, block, type.get(), given(description), mismatch,
                                     &storage, partial ? &part : nullptr);
    outcome.reached_file(file, status);
}

void read_array_entry(const char* entry, const OpenTarget& open_target, const char* path,
                      const unsigned int* path_length, void* buffer, int rank, const unsigned int* dims,
                      int element_size, int type_code, int string_length, bool partial, const unsigned int* start,
                      int* status) {
    using namespace videz5::detail;
    const std::string path_text = charToString(path, path_length);
    *status = check_read_elements(entry, path_text, type_code, string_length, element_size, VIDEZ5_INT64);
    if (*status != VIDEZ5_OK) return;
    *status = VIDEZ5_SHAPE_MISMATCH;
    if (!rank_ok(entry, path_text, rank, partial)) return;
    const std::vector<hsize_t> block = reversed(dims, rank);
    std::vector<hsize_t> at;
    if (partial && !zero_based(start, rank, at)) {
        say(read_message(entry, "BLOCK OUT OF BOUNDS", path_text) + ": Fortran indices start at 1");
        return;
    }
    CallTarget file = open_target();
    if (!file.valid()) {
        *status = VIDEZ5_NO_FILE;
        return;
    }
    Hid type = make_element_type(type_code, string_length);
    std::vector<hsize_t> stored;
    *status = read_array_at(file.get(), path_text, buffer, block, type.get(), partial ? &at : nullptr, stored);
    if (partial && *status == VIDEZ5_SHAPE_MISMATCH)
        say(read_message(entry, "BLOCK OUT OF BOUNDS", path_text) + ": stored " + fortran_shape(stored) + ", block " +
            fortran_shape(block) + " at " + fortran_index(at, 0));
    else
        say_read_status(entry, *status, path_text, stored, block, type_code, string_length);
}

void dims_array_entry(const char* entry, const OpenTarget& open_target, const char* path,
                      const unsigned int* path_length, int max_rank, int* rank, unsigned int* dims, int* status) {
    *rank = -1;
    *status = VIDEZ5_NO_DATASET;
    for (int i = 0; i < max_rank; ++i) dims[i] = 0;
    CallTarget file = open_target();
    if (!file.valid()) {
        *status = VIDEZ5_NO_FILE;
        return;
    }
    const std::string path_text = charToString(path, path_length);
    std::vector<hsize_t> stored;
    *rank = h5get_dims(file.get(), path_text, stored);
    if (*rank < 0) return;
    if (*rank > max_rank) {
        *status = VIDEZ5_SHAPE_MISMATCH;
        say(videz5::detail::read_message(entry, "DIMS TOO SHORT", path_text) + ": stored rank " +
            std::to_string(*rank) + ", dims has " + std::to_string(max_rank));
        return;
    }
    for (int i = 0; i < *rank; ++i) dims[i] = static_cast<unsigned int>(stored[*rank - 1 - i]);
    *status = VIDEZ5_OK;
}

}  // namespace

namespace videz5::detail {

bool storage_ok(const char* entry, const std::string& path, const NextStorage& next,
                const std::vector<hsize_t>* dims, Storage& storage) {
    // -1: chunks alone, no deflate.
    if (next.level != -1 && (next.level < 1 || next.level > 9)) {
        say(read_message(entry, "INVALID COMPRESSION", path) + ": level " + std::to_string(next.level) +
            ", deflate takes 1 to 9, NOTHING WRITTEN");
        return false;
    }
    if (dims != nullptr && !next.chunks.empty()) {
        storage.chunks = reversed(next.chunks.data(), static_cast<int>(next.chunks.size()));
        bool fit = storage.chunks.size() == dims->size();
        for (std::size_t i = 0; fit && i < dims->size(); ++i)
            fit = storage.chunks[i] >= 1 && storage.chunks[i] <= (*dims)[i];
        if (!fit) {
            say(read_message(entry, "INVALID CHUNKS", path) + ": chunks " + fortran_shape(storage.chunks) +
                " for an array of " + fortran_shape(*dims) + ", NOTHING WRITTEN");
            return false;
        }
    }
    // HDF5 keeps a scalar in one piece: nothing to chunk or deflate.
    if (dims != nullptr && dims->empty() && next.level > 0) {
        say(read_message(entry, "INVALID COMPRESSION", path) + ": a scalar is not compressed, NOTHING WRITTEN");
        return false;
    }
    if (next.level > 0) {
        if (!encodes(H5Z_FILTER_DEFLATE) || !encodes(H5Z_FILTER_SHUFFLE)) {
            say(read_message(entry, "NO DEFLATE", path) + ": this HDF5 cannot compress, NOTHING WRITTEN");
            return false;
        }
    }
    storage.level = std::max(next.level, 0);
    return true;
}

}  // namespace videz5::detail

extern "C" {

void ftoc_h5dump_array_(const char* name, const unsigned int* name_length, const char* path,
                        const unsigned int* path_length, const void* data, const int* rank, const unsigned int* dims,
                        const int* type_code, const int* string_length, const int* partial,
                        const unsigned int* start, const unsigned int* shape) {
    const char* entry = "ftoc_h5dump_array_";
    videz5::detail::guarded_entry(entry, [&] {
        dump_array_entry(entry, by_name(name, name_length, false), path, path_length, data, *rank, dims, *type_code,
                         *string_length, *partial != 0, start, shape);
    });
}

void ftoc_h5dump_array_id_(const int* file_id, const char* path, const unsigned int* path_length, const void* data,
                           const int* rank, const unsigned int* dims, const int* type_code, const int* string_length,
                           const int* partial, const unsigned int* start, const unsigned int* shape) {
    const char* entry = "ftoc_h5dump_array_id_";
    videz5::detail::guarded_entry(entry, [&] {
        dump_array_entry(entry, held(file_id, entry), path, path_length, data, *rank, dims, *type_code,
                         *string_length, *partial != 0, start, shape);
    });
}

void ftoc_h5read_array_(const char* name, const unsigned int* name_length, const char* path,
                        const unsigned int* path_length, void* buffer, const int* rank, const unsigned int* dims,
                        const int* element_size, const int* type_code, const int* string_length, const int* partial,
                        const unsigned int* start, int* status) {
    const char* entry = "ftoc_h5read_array_";
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        const auto read_only = [&] { return CallTarget::read_only(name, name_length, entry); };
        read_array_entry(entry, read_only, path, path_length, buffer, *rank, dims, *element_size, *type_code,
                         *string_length, *partial != 0, start, status);
    });
}

void ftoc_h5read_array_id_(const int* file_id, const char* path, const unsigned int* path_length, void* buffer,
                           const int* rank, const unsigned int* dims, const int* element_size, const int* type_code,
                           const int* string_length, const int* partial, const unsigned int* start, int* status) {
    const char* entry = "ftoc_h5read_array_id_";
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        read_array_entry(entry, held(file_id, entry), path, path_length, buffer, *rank, dims, *element_size,
                         *type_code, *string_length, *partial != 0, start, status);
    });
}

void ftoc_h5get_dims_array_(const char* name, const unsigned int* name_length, const char* path,
                            const unsigned int* path_length, const int* max_rank, int* rank, unsigned int* dims,
                            int* status) {
    const char* entry = "ftoc_h5get_dims_array_";
    *rank = -1;
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        // Silent as the three-size query: no file is an answer.
        const auto read_only = [&] { return CallTarget::read_only(name, name_length, nullptr); };
        dims_array_entry(entry, read_only, path, path_length, *max_rank, rank, dims, status);
    });
}

void ftoc_h5get_dims_array_id_(const int* file_id, const char* path, const unsigned int* path_length,
                               const int* max_rank, int* rank, unsigned int* dims, int* status) {
    const char* entry = "ftoc_h5get_dims_array_id_";
    *rank = -1;
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        dims_array_entry(entry, held(file_id, entry), path, path_length, *max_rank, rank, dims, status);
    });
}

}  // extern "C"
