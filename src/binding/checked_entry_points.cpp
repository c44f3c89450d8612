// Fortran entry points for asking a dataset's shape and for the read that
// refuses a buffer of another shape. Both open the file read-only and never
// create it or end the process: a missing file or dataset is an answer that the
// caller gets back, so that a program can decide what to allocate or do.
#include "videz5_c.h"
#include "bodies.hpp"
#include "guarded_entry.hpp"
#include "read_messages.hpp"
#include "array_sizes.hpp"
#include "../access/access.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

#include <string>
#include <vector>

namespace {

using videz5::detail::CallTarget;
using videz5::detail::Hid;
using videz5::detail::say;

const char* const kCheckedRead = "ftoc_h5read_data_checked_";

}  // namespace

namespace videz5::detail {

std::string read_message(const char* entry, const std::string& what, const std::string& name) {
    return what + " IN " + entry + "( " + name + " )";
}

std::string element_name(int type_code, int string_length) {
    if (type_code == VIDEZ5_DOUBLE) return "double";
    if (type_code == VIDEZ5_INT) return "int";
    if (type_code == VIDEZ5_FLOAT) return "float";
    if (type_code == VIDEZ5_INT64) return "int64";
    return "strings of " + std::to_string(string_length) + " bytes";
}

int check_read_elements(const char* entry, const std::string& path, int type_code, int string_length,
                        int element_size, int highest_code) {
    if (!element_code_ok(entry, path, type_code, string_length, highest_code)) return VIDEZ5_TYPE_MISMATCH;
    const std::size_t code_size = element_code_size(type_code, string_length);
    if (element_size < 0 || static_cast<std::size_t>(element_size) != code_size) {
        say(read_message(entry, "ELEMENT SIZE MISMATCH", path) + ": type code " + std::to_string(type_code) +
            " means " + std::to_string(code_size) + " bytes, buffer elements have " + std::to_string(element_size));
        return VIDEZ5_TYPE_MISMATCH;
    }
    return VIDEZ5_OK;
}

void say_no_file(const char* entry, const std::string& name, bool locked_out) {
    if (locked_out)
        say(read_message(entry, "FILE LOCKED", name) + ", GAVE UP AFTER " + std::to_string(kLockPatience.count()) +
            " s");
    else
        say(read_message(entry, file_exists(name) ? "CANNOT OPEN FILE" : "NONEXISTENT FILE", name));
}

void say_read_status(const char* entry, int status, const std::string& path, const std::vector<hsize_t>& stored,
                     const std::vector<hsize_t>& wanted, int type_code, int string_length) {
    switch (status) {
        case VIDEZ5_NO_DATASET:
            say(read_message(entry, "NO DATASET", path));
            break;
        case VIDEZ5_SHAPE_MISMATCH:
            say(read_message(entry, "SHAPE MISMATCH", path) + ": stored " + fortran_shape(stored) + ", buffer " +
                fortran_shape(wanted));
            break;
        case VIDEZ5_TYPE_MISMATCH:
            say(read_message(entry, "TYPE MISMATCH", path) + ": stored elements cannot be read as " +
                element_name(type_code, string_length));
            break;
        case VIDEZ5_READ_FAILED:
            say(read_message(entry, "READ FAILED", path));
            break;
        default:
            break;
    }
}


void dims_entry(const OpenTarget& open_target, const char* path, const unsigned int* path_length, int* rank,
                unsigned int* dim1, unsigned int* dim2, unsigned int* dim3) {
    *rank = -1;
    *dim1 = *dim2 = *dim3 = 0;
    CallTarget file = open_target();
    if (!file.valid()) return;
    std::vector<hsize_t> dims;
    *rank = h5get_dims(file.get(), charToString(path, path_length), dims);
    // Three sizes cannot describe a higher rank; the rank alone tells the caller so.
    if (*rank < 1 || *rank > 3) return;
    unsigned int* const fortran_order[] = {dim1, dim2, dim3};
    for (int i = 0; i < *rank; ++i) *fortran_order[i] = static_cast<unsigned int>(dims[*rank - 1 - i]);
}

void checked_read_entry(const char* entry, const OpenTarget& open_target, const char* path,
                        const unsigned int* path_length, void* buffer, const unsigned int* dim1,
                        const unsigned int* dim2, const unsigned int* dim3, const int* element_size,
                        const int* type_code, const int* string_length, int* status) {
    const std::string path_text = charToString(path, path_length);
    *status = check_read_elements(entry, path_text, *type_code, *string_length, *element_size);
    if (*status != VIDEZ5_OK) return;
    CallTarget file = open_target();
    if (!file.valid()) {
        *status = VIDEZ5_NO_FILE;
        return;
    }
    Hid type = make_element_type(*type_code, *string_length);
    std::vector<hsize_t> stored;
    *status = h5read_data_checked(file.get(), path_text, buffer, dim1, dim2, dim3,
                                  static_cast<std::size_t>(*element_size), type.get(), stored);
    say_read_status(entry, *status, path_text, stored, dump_dims(*dim1, *dim2, *dim3), *type_code, *string_length);
}

}  // namespace videz5::detail

extern "C" {

void ftoc_h5get_dims_(const char* name, const unsigned int* name_length, const char* path,
                      const unsigned int* path_length, int* rank, unsigned int* dim1, unsigned int* dim2,
                      unsigned int* dim3) {
    videz5::detail::guarded_entry("ftoc_h5get_dims_", [&] {
        const auto read_only = [&] { return CallTarget::read_only(name, name_length, nullptr); };
        videz5::detail::dims_entry(read_only, path, path_length, rank, dim1, dim2, dim3);
    });
}

void ftoc_h5read_data_checked_(const char* name, const unsigned int* name_length, const char* path,
                               const unsigned int* path_length, void* buffer, const unsigned int* dim1,
                               const unsigned int* dim2, const unsigned int* dim3, const int* element_size,
                               const int* type_code, const int* string_length, int* status) {
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(kCheckedRead, [&] {
        const auto read_only = [&] { return CallTarget::read_only(name, name_length, kCheckedRead); };
        videz5::detail::checked_read_entry(kCheckedRead, read_only, path, path_length, buffer, dim1, dim2, dim3,
                                           element_size, type_code, string_length, status);
    });
}

}  // extern "C"
