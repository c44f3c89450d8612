// The calls through a held file: the same bodies as the calls by name, on a
// file (or group) that the caller opened once with ftoc_open_file_id_ (or
// ftoc_open_group_id_), so that no call pays for HDF5's open and close. Each
// call that changes the file is committed before it returns unless the caller
// deferred commits (handles.hpp).
#include "videz5_c.h"
#include "bodies.hpp"
#include "guarded_entry.hpp"
#include "next_description.hpp"
#include "../detail/say.hpp"

namespace {

using videz5::detail::CallTarget;
using videz5::detail::held;

}  // namespace

extern "C" {

void ftoc_h5dump_data_id_(const int* file_id, const char* path, const unsigned int* path_length, const void* data,
                          const unsigned int* dim1, const unsigned int* dim2, const unsigned int* dim3,
                          const int* type_code, const int* string_length) {
    const char* entry = "ftoc_h5dump_data_id_";
    videz5::detail::guarded_entry(entry, [&] {
        videz5::detail::dump_entry(entry, held(file_id, entry), path, path_length, data, dim1, dim2, dim3, type_code,
                                   string_length);
    });
}

void ftoc_h5read_data_checked_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                  void* buffer, const unsigned int* dim1, const unsigned int* dim2,
                                  const unsigned int* dim3, const int* element_size, const int* type_code,
                                  const int* string_length, int* status) {
    const char* entry = "ftoc_h5read_data_checked_id_";
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        videz5::detail::checked_read_entry(entry, held(file_id, entry), path, path_length, buffer, dim1, dim2, dim3,
                                           element_size, type_code, string_length, status);
    });
}

void ftoc_h5get_dims_id_(const int* file_id, const char* path, const unsigned int* path_length, int* rank,
                         unsigned int* dim1, unsigned int* dim2, unsigned int* dim3) {
    const char* entry = "ftoc_h5get_dims_id_";
    videz5::detail::guarded_entry(entry, [&] {
        videz5::detail::dims_entry(held(file_id, entry), path, path_length, rank, dim1, dim2, dim3);
    });
}

void ftoc_printh5_id_(const int* file_id, const char* path, const unsigned int* path_length, const void* data,
                      const int* type_code, const double* x, const double* y, const unsigned int* nx,
                      const unsigned int* ny, const int* titled, const char* title, const unsigned int* title_length,
                      const char* xtitle, const unsigned int* xtitle_length, const char* ytitle,
                      const unsigned int* ytitle_length) {
    const char* entry = "ftoc_printh5_id_";
    videz5::detail::guarded_entry(entry, [&] {
        std::vector<std::string> titles;
        if (*titled != 0)
            titles = {charToString(title, title_length), charToString(xtitle, xtitle_length),
                      charToString(ytitle, ytitle_length)};
        if (*type_code == VIDEZ5_DOUBLE)
            videz5::detail::plot_entry(entry, held(file_id, entry), path, path_length,
                                       static_cast<const double*>(data), x, y, nx, ny, std::move(titles));
        else if (*type_code == VIDEZ5_INT)
            videz5::detail::plot_entry(entry, held(file_id, entry), path, path_length, static_cast<const int*>(data),
                                       x, y, nx, ny, std::move(titles));
        else {
            // Refused as the record bodies refuse: nothing pending handed on.
            const videz5::detail::WriteOutcome refused;
            videz5::detail::take_next_description();
            videz5::detail::take_next_replace();
            videz5::detail::take_next_storage();
            videz5::detail::say(std::string("INVALID TYPE CODE IN ") + entry + "( " +
                                charToString(path, path_length) + ", " + std::to_string(*type_code) + " )");
        }
    });
}

void ftoc_flush_file_id_(const int* file_id, int* status) {
    *status = -1;
    videz5::detail::guarded_entry("ftoc_flush_file_id_", [&] {
        if (CallTarget::held(*file_id, "ftoc_flush_file_id_").valid()) *status = videz5::detail::commit_now(*file_id);
    });
}

void ftoc_defer_commits_id_(const int* file_id, const int* calls, const double* seconds) {
    videz5::detail::guarded_entry("ftoc_defer_commits_id_", [&] {
        videz5::detail::defer_commits(*file_id, *calls, *seconds);
    });
}

}  // extern "C"
