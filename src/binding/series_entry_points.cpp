// Entry points of time series and descriptions: arguments converted, the
// work done in the transfer layer.
#include "videz5_c.h"
#include "bodies.hpp"
#include "guarded_entry.hpp"
#include "array_sizes.hpp"
#include "next_description.hpp"
#include "../access/access.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

#include <algorithm>
#include <string>
#include <utility>

namespace videz5::detail {
namespace {

thread_local std::optional<Description> next_description;
thread_local bool next_replace = false;
thread_local std::optional<NextStorage> next_storage;
thread_local int last_write_status = VIDEZ5_OK;

}  // namespace

std::optional<Description> take_next_description() {
    std::optional<Description> taken;
    taken.swap(next_description);
    return taken;
}

bool take_next_replace() { return std::exchange(next_replace, false); }

std::optional<NextStorage> take_next_storage() {
    std::optional<NextStorage> taken;
    taken.swap(next_storage);
    return taken;
}

WriteOutcome::~WriteOutcome() { last_write_status = status; }

void append_entry(const char* entry, const OpenTarget& open_target, const char* path, const unsigned int* path_length,
                  const void* data, const unsigned int* dim1, const unsigned int* dim2, const int* type_code) {
    WriteOutcome outcome;
    const auto description = take_next_description();
    take_next_replace();  // a series only grows: never handed on to a later write
    const auto next_storage = take_next_storage();
    const std::string path_text = charToString(path, path_length);
    if (!element_code_ok(entry, path_text, *type_code, 0, VIDEZ5_INT)) return;
    if (!dump_sizes_ok(entry, path_text, data, *dim1, *dim2, 0, element_code_size(*type_code, 0))) return;
    // Only the level counts: a series keeps its own chunks of whole steps.
    Storage storage;
    if (next_storage && !storage_ok(entry, path_text, *next_storage, nullptr, storage)) return;
    Hid type = make_element_type(*type_code, 0);
    CallTarget file = open_target();
    if (outcome.no_file(file)) return;
    const int status = append_at(entry, file.get(), path_text, data, *dim1, *dim2, type.get(),
                                 description ? *description : Description{}, &storage);
    outcome.reached_file(file, status);
}

}  // namespace videz5::detail

extern "C" {

void ftoc_describe_next_(const char* units, const unsigned int* units_length, const char* long_name,
                         const unsigned int* long_name_length, const char* x_units,
                         const unsigned int* x_units_length, const char* y_units,
                         const unsigned int* y_units_length) {
    videz5::detail::guarded_entry("ftoc_describe_next_", [&] {
        videz5::detail::Description d{charToString(units, units_length), charToString(long_name, long_name_length),
                                      charToString(x_units, x_units_length), charToString(y_units, y_units_length)};
        if (d.units.empty() && d.long_name.empty() && d.x_units.empty() && d.y_units.empty())
            videz5::detail::next_description.reset();
        else
            videz5::detail::next_description = std::move(d);
    });
}

void ftoc_replace_next_() { videz5::detail::next_replace = true; }

void ftoc_compress_next_(const int* level, const int* chunk_rank, const unsigned int* chunks) {
    videz5::detail::guarded_entry("ftoc_compress_next_", [&] {
        videz5::detail::NextStorage next{*level, {}};
        if (*chunk_rank > 0) next.chunks.assign(chunks, chunks + std::min(*chunk_rank, VIDEZ5_MAX_RANK + 1));
        videz5::detail::next_storage = std::move(next);
    });
}

void ftoc_last_write_status_(int* status) { *status = videz5::detail::last_write_status; }

void ftoc_h5append_data_(const char* name, const unsigned int* name_length, const char* path,
                         const unsigned int* path_length, const void* data, const unsigned int* dim1,
                         const unsigned int* dim2, const int* type_code) {
    videz5::detail::guarded_entry("ftoc_h5append_data_", [&] {
        videz5::detail::append_entry("ftoc_h5append_data_", videz5::detail::by_name(name, name_length, false), path, path_length, data, dim1,
                                     dim2, type_code);
    });
}

void ftoc_h5append_data_id_(const int* file_id, const char* path, const unsigned int* path_length, const void* data,
                            const unsigned int* dim1, const unsigned int* dim2, const int* type_code) {
    const char* entry = "ftoc_h5append_data_id_";
    videz5::detail::guarded_entry(entry, [&] {
        videz5::detail::append_entry(entry, [&] { return videz5::detail::CallTarget::held(*file_id, entry); }, path,
                                     path_length, data, dim1, dim2, type_code);
    });
}

}  // extern "C"
