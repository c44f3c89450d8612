// The bodies of the entry points that come in two kinds, by file name and
// through a held handle: arguments are checked first, before open_target
// gives the file, so that a refused call touches no file.
#pragma once

#include "handles.hpp"

#include <functional>
#include <string>
#include <vector>

namespace videz5::detail {

using OpenTarget = std::function<CallTarget()>;

inline OpenTarget by_name(const char* name, const unsigned int* name_length, bool reading) {
    return [=] { return CallTarget::by_name(name, name_length, reading); };
}

inline OpenTarget held(const int* handle, const char* entry) {
    return [=] { return CallTarget::held(*handle, entry); };
}

void dump_entry(const char* entry, const OpenTarget& open_target, const char* path, const unsigned int* path_length,
                const void* data, const unsigned int* dim1, const unsigned int* dim2, const unsigned int* dim3,
                const int* type_code, const int* string_length);
// titles: none (the record keeps its stored ones), or title, xtitle, ytitle.
template <typename T>
void plot_entry(const char* entry, const OpenTarget& open_target, const char* path, const unsigned int* path_length,
                const T* data, const double* x, const double* y, const unsigned int* nx, const unsigned int* ny,
                std::vector<std::string> titles);
void append_entry(const char* entry, const OpenTarget& open_target, const char* path, const unsigned int* path_length,
                  const void* data, const unsigned int* dim1, const unsigned int* dim2, const int* type_code);
void dims_entry(const OpenTarget& open_target, const char* path, const unsigned int* path_length, int* rank,
                unsigned int* dim1, unsigned int* dim2, unsigned int* dim3);
// open_target gives an invalid file after it told why: status VIDEZ5_NO_FILE.
void checked_read_entry(const char* entry, const OpenTarget& open_target, const char* path,
                        const unsigned int* path_length, void* buffer, const unsigned int* dim1,
                        const unsigned int* dim2, const unsigned int* dim3, const int* element_size,
                        const int* type_code, const int* string_length, int* status);

}  // namespace videz5::detail
