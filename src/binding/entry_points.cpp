// The Fortran face: converts arguments (texts with explicit lengths, 32-bit
// handles, element type codes) and calls the routines beneath. Any hidden
// length arguments a Fortran compiler appends are simply not declared here.
#include "videz5_c.h"
#include "guarded_entry.hpp"
#include "array_sizes.hpp"
#include "next_description.hpp"
#include "../access/access.hpp"
#include "../plot/plot.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

#include <cstdlib>
#include <limits>
#include <unordered_map>
#include <type_traits>

namespace {

using videz5::detail::Hid;

// Fortran callers hold identifiers in default (32-bit) integers, but HDF5 1.10
// identifiers are 64-bit with the object type in the top bits, so cutting them
// would alias. Each identifier handed to Fortran gets a positive handle instead,
// never reused in the process, so a stale handle cannot reach another object.
struct HandleTable {
    std::unordered_map<int, hid_t> ids;
    int last = 0;
};

HandleTable& table() {
    static HandleTable instance;
    return instance;
}

// A new handle for id; -1 when id is negative (a failure) or handles ran out.
int register_handle(hid_t id) {
    HandleTable& t = table();
    if (id < 0 || t.last == std::numeric_limits<int>::max()) return -1;
    t.ids.emplace(++t.last, id);
    return t.last;
}

// The identifier behind handle; an invalid identifier when the handle is unknown.
hid_t lookup_handle(int handle) {
    const HandleTable& t = table();
    const auto found = t.ids.find(handle);
    return found == t.ids.end() ? H5I_INVALID_HID : found->second;
}

void forget_handle(int handle) { table().ids.erase(handle); }

// A file opened by name for the length of one call; a read can do with read-only access.
Hid open_named_file(const char* name, const unsigned int* name_length, bool reading) {
    return videz5::detail::own_opened_file(
        videz5::detail::open_named_file(charToString(name, name_length), reading, reading));
}

// Element types are checked before any file is touched: an abort with a file
// just created and still open would leave it unreadable for every later call.
bool string_length_ok(const char* entry, const std::string& path, int type_code, const int* string_length) {
    if (type_code != VIDEZ5_STRING || *string_length >= 1) return true;
    videz5::detail::say(std::string("INVALID STRING LENGTH IN ") + entry + "( " + path + ", " +
                        std::to_string(*string_length) + " )");
    return false;
}

template <typename T>
void plot_entry(const char* name, const unsigned int* name_length, const char* path,
                const unsigned int* path_length, const T* data, const double* x, const double* y,
                const unsigned int* nx, const unsigned int* ny, std::vector<std::string> titles) {
    const auto description = videz5::detail::take_next_description();
    // Named for the message: the four plot entry points differ in data type and titles.
    const char* entry = std::is_same_v<T, double>
                            ? (titles.empty() ? "ftoc_printh5_double_notitle_" : "ftoc_printh5_double_")
                            : (titles.empty() ? "ftoc_printh5_int_notitle_" : "ftoc_printh5_int_");
    if (!videz5::detail::plot_sizes_ok(entry, charToString(path, path_length), data, sizeof(T), x, y, *nx, *ny))
        return;
    Hid file = open_named_file(name, name_length, false);
    videz5::detail::plot_record(file.get(), charToString(path, path_length), data, x, y, nx, ny, titles,
                                videz5::detail::given(description));
}

}  // namespace

extern "C" {

void ftoc_open_file_id_(const char* name, const unsigned int* name_length, int* file_id) {
    *file_id = -1;
    videz5::detail::guarded_entry("ftoc_open_file_id_", [&] {
        Hid file = videz5::detail::own_opened_file(open_h5_file(charToString(name, name_length), false));
        *file_id = register_handle(file.get());
        // Without a handle the caller could never close it.
        if (*file_id > 0) file.release();
    });
}

void ftoc_close_file_id_(const int* file_id) {
    videz5::detail::guarded_entry("ftoc_close_file_id_", [&] {
        // A failed close (say, of a group handle) keeps the handle for the right close.
        if (videz5::detail::close_file(lookup_handle(*file_id)) >= 0)
            forget_handle(*file_id);
    });
}

void ftoc_open_group_id_(const int* loc_id, const char* path, const unsigned int* path_length, int* group_id) {
    *group_id = -1;
    videz5::detail::guarded_entry("ftoc_open_group_id_", [&] {
        videz5::detail::PathWalk walk(lookup_handle(*loc_id), charToString(path, path_length), 1, true);
        Hid group = videz5::detail::own_group(walk.release_deepest());
        *group_id = register_handle(group.get());
        if (*group_id > 0) group.release();
    });
}

void ftoc_close_group_id_(const int* group_id) {
    videz5::detail::guarded_entry("ftoc_close_group_id_", [&] {
        if (videz5::detail::close_group(lookup_handle(*group_id)) >= 0)
            forget_handle(*group_id);
    });
}

void ftoc_h5dump_data_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, const void* data, const unsigned int* dim1,
                       const unsigned int* dim2, const unsigned int* dim3, const int* type_code,
                       const int* string_length) {
    videz5::detail::guarded_entry("ftoc_h5dump_data_", [&] {
        if (!videz5::detail::valid_element_code(*type_code)) std::abort();
        const auto description = videz5::detail::take_next_description();
        const std::string path_text = charToString(path, path_length);
        if (!string_length_ok("ftoc_h5dump_data_", path_text, *type_code, string_length)) return;
        if (!videz5::detail::dump_sizes_ok("ftoc_h5dump_data_", path_text, data, *dim1, *dim2, *dim3,
                                           videz5::detail::element_code_size(*type_code, *string_length)))
            return;
        Hid type = videz5::detail::make_element_type(*type_code, *string_length);
        Hid file = open_named_file(name, name_length, false);
        videz5::detail::dump_at(file.get(), path_text, data, *dim1, *dim2, *dim3, type.get(),
                                videz5::detail::given(description));
    });
}

void ftoc_h5read_data_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, void* buffer, const int* type_code,
                       const int* string_length) {
    videz5::detail::guarded_entry("ftoc_h5read_data_", [&] {
        if (!videz5::detail::valid_element_code(*type_code)) {
            videz5::detail::say("ABORT");
            std::abort();
        }
        const std::string path_text = charToString(path, path_length);
        if (!string_length_ok("ftoc_h5read_data_", path_text, *type_code, string_length)) return;
        Hid type = videz5::detail::make_element_type(*type_code, *string_length);
        Hid file = open_named_file(name, name_length, true);
        videz5::detail::read_at(file.get(), path_text, buffer, type.get());
    });
}

void ftoc_set_durable_(const int* on) { videz5::detail::set_durable(*on != 0); }

void ftoc_printh5_double_(const char* name, const unsigned int* name_length, const char* path,
                          const unsigned int* path_length, const double* data, const double* x, const double* y,
                          const unsigned int* nx, const unsigned int* ny, const char* title,
                          const unsigned int* title_length, const char* xtitle, const unsigned int* xtitle_length,
                          const char* ytitle, const unsigned int* ytitle_length) {
    videz5::detail::guarded_entry("ftoc_printh5_double_", [&] {
        plot_entry(name, name_length, path, path_length, data, x, y, nx, ny,
                   {charToString(title, title_length), charToString(xtitle, xtitle_length),
                    charToString(ytitle, ytitle_length)});
    });
}

void ftoc_printh5_double_notitle_(const char* name, const unsigned int* name_length, const char* path,
                                  const unsigned int* path_length, const double* data, const double* x,
                                  const double* y, const unsigned int* nx, const unsigned int* ny) {
    videz5::detail::guarded_entry("ftoc_printh5_double_notitle_", [&] {
        plot_entry(name, name_length, path, path_length, data, x, y, nx, ny, {});
    });
}

void ftoc_printh5_int_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, const int* data, const double* x, const double* y,
                       const unsigned int* nx, const unsigned int* ny, const char* title,
                       const unsigned int* title_length, const char* xtitle, const unsigned int* xtitle_length,
                       const char* ytitle, const unsigned int* ytitle_length) {
    videz5::detail::guarded_entry("ftoc_printh5_int_", [&] {
        plot_entry(name, name_length, path, path_length, data, x, y, nx, ny,
                   {charToString(title, title_length), charToString(xtitle, xtitle_length),
                    charToString(ytitle, ytitle_length)});
    });
}

void ftoc_printh5_int_notitle_(const char* name, const unsigned int* name_length, const char* path,
                               const unsigned int* path_length, const int* data, const double* x,
                               const double* y, const unsigned int* nx, const unsigned int* ny) {
    videz5::detail::guarded_entry("ftoc_printh5_int_notitle_", [&] {
        plot_entry(name, name_length, path, path_length, data, x, y, nx, ny, {});
    });
}

}  // extern "C"
