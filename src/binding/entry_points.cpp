// The Fortran face: converts arguments (texts with explicit lengths, 32-bit
// handles, element type codes) and calls the routines beneath. Any hidden
// length arguments a Fortran compiler appends are simply not declared here.
#include "videz5_c.h"
#include "bodies.hpp"
#include "next_description.hpp"
#include "guarded_entry.hpp"
#include "array_sizes.hpp"
#include "../access/access.hpp"
#include "../plot/plot.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

#include <cstdlib>

namespace {

using videz5::detail::by_name;
using videz5::detail::CallTarget;
using videz5::detail::Hid;

}  // namespace

namespace videz5::detail {

void dump_entry(const char* entry, const OpenTarget& open_target, const char* path, const unsigned int* path_length,
                const void* data, const unsigned int* dim1, const unsigned int* dim2, const unsigned int* dim3,
                const int* type_code, const int* string_length) {
    if (!valid_element_code(*type_code)) end_process();  // fault-check: dump-bad-code-aborts
    WriteOutcome outcome;
    // Taken even when the write is then refused: never handed on to a later one.
    const auto description = take_next_description();
    const OnMismatch mismatch = take_next_replace() ? OnMismatch::kReplace : OnMismatch::kRefuse;
    take_next_storage();  // the array dump's alone
    const std::string path_text = charToString(path, path_length);
    if (!element_code_ok(entry, path_text, *type_code, *string_length, VIDEZ5_STRING)) return;
    if (!dump_sizes_ok(entry, path_text, data, *dim1, *dim2, *dim3, element_code_size(*type_code, *string_length)))
        return;
    Hid type = make_element_type(*type_code, *string_length);
    CallTarget file = open_target();
    if (outcome.no_file(file)) return;
    const int status = dump_at(file.get(), path_text, data, *dim1, *dim2, *dim3, type.get(), given(description),
                               mismatch);
    outcome.reached_file(file, status);
}

template <typename T>
void plot_entry(const char* entry, const OpenTarget& open_target, const char* path, const unsigned int* path_length,
                const T* data, const double* x, const double* y, const unsigned int* nx, const unsigned int* ny,
                std::vector<std::string> titles) {
    WriteOutcome outcome;
    const auto description = take_next_description();
    const bool replace = take_next_replace();
    take_next_storage();
    const std::string path_text = charToString(path, path_length);
    if (!plot_sizes_ok(entry, path_text, data, sizeof(T), x, y, *nx, *ny)) return;
    CallTarget file = open_target();
    if (outcome.no_file(file)) return;
    const int status = plot_record(file.get(), path_text, data, x, y, nx, ny, titles, given(description), replace);
    outcome.reached_file(file, status);
}

template void plot_entry(const char*, const OpenTarget&, const char*, const unsigned int*, const double*,
                         const double*, const double*, const unsigned int*, const unsigned int*,
                         std::vector<std::string>);
template void plot_entry(const char*, const OpenTarget&, const char*, const unsigned int*, const int*,
                         const double*, const double*, const unsigned int*, const unsigned int*,
                         std::vector<std::string>);

}  // namespace videz5::detail

extern "C" {

void ftoc_open_file_id_(const char* name, const unsigned int* name_length, int* file_id) {
    *file_id = -1;
    videz5::detail::guarded_entry("ftoc_open_file_id_", [&] {
        Hid file = videz5::detail::own_opened_file(open_h5_file(charToString(name, name_length), false));
        *file_id = videz5::detail::register_handle(file.get(), 0);
        // Without a handle the caller could never close it.
        if (*file_id > 0) file.release();
    });
}

void ftoc_close_file_id_(const int* file_id) {
    videz5::detail::guarded_entry("ftoc_close_file_id_", [&] {
        // A close that HDF5 refused (say, of a group handle) keeps the handle for the right close.
        const int status = videz5::detail::close_file(videz5::detail::lookup_handle(*file_id));
        if (status >= 0 || status == videz5::detail::kClosedButNotWritten) videz5::detail::forget_handle(*file_id);
    });
}

void ftoc_open_group_id_(const int* loc_id, const char* path, const unsigned int* path_length, int* group_id) {
    *group_id = -1;
    videz5::detail::guarded_entry("ftoc_open_group_id_", [&] {
        CallTarget loc = CallTarget::held(*loc_id, nullptr);  // silent: a negative group says it
        if (!loc.valid()) return;
        videz5::detail::PathWalk walk(loc.get(), charToString(path, path_length), 1, true);
        Hid group = videz5::detail::own_group(walk.release_deepest());
        // The groups it created are committed as a dump's would be.
        loc.written();
        *group_id = videz5::detail::register_handle(group.get(), *loc_id);
        if (*group_id > 0) group.release();
    });
}

void ftoc_close_group_id_(const int* group_id) {
    videz5::detail::guarded_entry("ftoc_close_group_id_", [&] {
        const int status = videz5::detail::close_group(videz5::detail::lookup_handle(*group_id));
        if (status >= 0 || status == videz5::detail::kClosedButNotWritten) videz5::detail::forget_handle(*group_id);
    });
}

void ftoc_h5dump_data_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, const void* data, const unsigned int* dim1,
                       const unsigned int* dim2, const unsigned int* dim3, const int* type_code,
                       const int* string_length) {
    videz5::detail::guarded_entry("ftoc_h5dump_data_", [&] {
        videz5::detail::dump_entry("ftoc_h5dump_data_", by_name(name, name_length, false), path, path_length, data,
                                   dim1, dim2, dim3, type_code, string_length);
    });
}

void ftoc_h5read_data_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, void* buffer, const int* type_code,
                       const int* string_length) {
    videz5::detail::guarded_entry("ftoc_h5read_data_", [&] {
        if (!videz5::detail::valid_element_code(*type_code)) {
            videz5::detail::say("ABORT");
            videz5::detail::end_process();
        }
        const std::string path_text = charToString(path, path_length);
        if (!videz5::detail::element_code_ok("ftoc_h5read_data_", path_text, *type_code, *string_length,
                                             VIDEZ5_STRING))
            return;
        Hid type = videz5::detail::make_element_type(*type_code, *string_length);
        CallTarget file = CallTarget::by_name(name, name_length, true);
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
        videz5::detail::plot_entry("ftoc_printh5_double_", by_name(name, name_length, false), path, path_length, data, x, y,
                                   nx, ny,
                                   {charToString(title, title_length), charToString(xtitle, xtitle_length),
                                    charToString(ytitle, ytitle_length)});
    });
}

void ftoc_printh5_double_notitle_(const char* name, const unsigned int* name_length, const char* path,
                                  const unsigned int* path_length, const double* data, const double* x,
                                  const double* y, const unsigned int* nx, const unsigned int* ny) {
    videz5::detail::guarded_entry("ftoc_printh5_double_notitle_", [&] {
        videz5::detail::plot_entry("ftoc_printh5_double_notitle_", by_name(name, name_length, false), path, path_length, data,
                                   x, y, nx, ny, {});
    });
}

void ftoc_printh5_int_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, const int* data, const double* x, const double* y,
                       const unsigned int* nx, const unsigned int* ny, const char* title,
                       const unsigned int* title_length, const char* xtitle, const unsigned int* xtitle_length,
                       const char* ytitle, const unsigned int* ytitle_length) {
    videz5::detail::guarded_entry("ftoc_printh5_int_", [&] {
        videz5::detail::plot_entry("ftoc_printh5_int_", by_name(name, name_length, false), path, path_length, data, x, y,
                                   nx, ny,
                                   {charToString(title, title_length), charToString(xtitle, xtitle_length),
                                    charToString(ytitle, ytitle_length)});
    });
}

void ftoc_printh5_int_notitle_(const char* name, const unsigned int* name_length, const char* path,
                               const unsigned int* path_length, const int* data, const double* x,
                               const double* y, const unsigned int* nx, const unsigned int* ny) {
    videz5::detail::guarded_entry("ftoc_printh5_int_notitle_", [&] {
        videz5::detail::plot_entry("ftoc_printh5_int_notitle_", by_name(name, name_length, false), path, path_length, data,
                                   x, y, nx, ny, {});
    });
}

}  // extern "C"
