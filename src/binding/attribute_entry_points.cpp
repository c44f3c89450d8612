// Entry points of attributes on datasets and groups, by file name and through
// a held handle: arguments converted and checked before any file is touched,
// the work done in the transfer layer. A write goes through the same open and
// commit as a dump; a read opens by name read-only, as the checked read does.
#include "videz5_c.h"
#include "bodies.hpp"
#include "guarded_entry.hpp"
#include "array_sizes.hpp"
#include "read_messages.hpp"
#include "../text/text.hpp"
#include "../transfer/transfer.hpp"
#include "../detail/say.hpp"

#include <string>
#include <vector>

namespace {

using videz5::detail::CallTarget;
using videz5::detail::held;
using videz5::detail::OpenTarget;
using videz5::detail::read_message;
using videz5::detail::say;

// "PATH, NAME", as the lines name an attribute.
std::string attribute_at(const std::string& path, const std::string& name) { return path + ", " + name; }

// The values of a write, from the caller's arguments; false after the one
// line that refuses them.
bool attribute_value(const char* entry, const std::string& path, const std::string& name, const void* data,
                     unsigned int count, int type_code, int string_length, videz5::detail::AttributeValue& value) {
    using namespace videz5::detail;
    if (!element_code_ok(entry, path, type_code, string_length, VIDEZ5_STRING)) return false;
    // HDF5 has no attribute without a name.
    if (name.empty()) {
        say(read_message(entry, "INVALID ATTRIBUTE NAME", attribute_at(path, name)));
        return false;
    }
    if (!dump_sizes_ok(entry, path, data, count, 0, 0, element_code_size(type_code, string_length))) return false;
    value.count = count;
    if (type_code == VIDEZ5_STRING) {
        value.texts = padded_texts(static_cast<const char*>(data), std::max(count, 1u),
                                   static_cast<std::size_t>(string_length));
    } else {
        value.numbers = data;
        value.type = make_element_type(type_code, 0).get();  // predefined: nothing to close
    }
    const std::size_t bytes = attribute_bytes(name, value);
    if (bytes > kLargestAttribute) {
        say(read_message(entry, "ATTRIBUTE TOO LARGE", attribute_at(path, name)) + ": " + std::to_string(bytes) +
            " bytes with its name, at most " + std::to_string(kLargestAttribute) + ", NOTHING WRITTEN");
        return false;
    }
    return true;
}

void write_attr_entry(const char* entry, const OpenTarget& open_target, const char* path,
                      const unsigned int* path_length, const char* attr, const unsigned int* attr_length,
                      const void* data, const unsigned int* count, const int* type_code, const int* string_length,
                      int* status) {
    using namespace videz5::detail;
    const std::string path_text = charToString(path, path_length), name = charToString(attr, attr_length);
    AttributeValue value;
    if (!attribute_value(entry, path_text, name, data, *count, *type_code, *string_length, value)) {
        *status = VIDEZ5_WRITE_REFUSED;
        return;
    }
    CallTarget file = open_target();
    // Told already: by the open, or as an unknown handle.
    if (!file.valid()) {
        *status = VIDEZ5_NO_FILE;
        return;
    }
    const int written = write_attribute_at(file.get(), path_text, name, value);
    if (written == VIDEZ5_NO_DATASET)
        say(read_message(entry, "NO DATASET OR GROUP", path_text) + ", NOTHING WRITTEN");
    else if (written == VIDEZ5_WRITE_FAILED)
        say("ERROR: H5Awrite(): Failed to write attribute " + name + "!");
    const int committed = file.written();
    *status = written == VIDEZ5_NO_DATASET ? VIDEZ5_WRITE_REFUSED
              : written != VIDEZ5_OK       ? written
              : committed < 0              ? VIDEZ5_WRITE_FAILED
                                           : VIDEZ5_OK;
}

void read_attr_entry(const char* entry, const OpenTarget& open_target, const char* path,
                     const unsigned int* path_length, const char* attr, const unsigned int* attr_length,
                     void* buffer, const unsigned int* count, const int* element_size, const int* type_code,
                     const int* string_length, int* status) {
    using namespace videz5::detail;
    const std::string path_text = charToString(path, path_length), name = charToString(attr, attr_length);
    *status = check_read_elements(entry, path_text, *type_code, *string_length, *element_size);
    if (*status != VIDEZ5_OK) return;
    if (name.empty()) {
        say(read_message(entry, "INVALID ATTRIBUTE NAME", attribute_at(path_text, name)));
        *status = VIDEZ5_NO_ATTRIBUTE;
        return;
    }
    CallTarget file = open_target();
    if (!file.valid()) {
        *status = VIDEZ5_NO_FILE;
        return;
    }
    Hid type = make_element_type(*type_code, *string_length);
    StoredAttribute stored;
    *status = read_attribute_at(file.get(), path_text, name, buffer, *count, type.get(), stored);
    const std::string where = attribute_at(path_text, name);
    const std::vector<hsize_t> wanted = *count == 0 ? std::vector<hsize_t>{} : std::vector<hsize_t>{*count};
    switch (*status) {
        case VIDEZ5_NO_DATASET:
            say(read_message(entry, "NO DATASET OR GROUP", path_text));
            break;
        case VIDEZ5_NO_ATTRIBUTE:
            say(read_message(entry, "NO ATTRIBUTE", where));
            break;
        case VIDEZ5_SHAPE_MISMATCH:
            say(read_message(entry, "ATTRIBUTE SHAPE MISMATCH", where) + ": stored " + fortran_shape(stored.dims) +
                ", value " + fortran_shape(wanted));
            break;
        case VIDEZ5_TYPE_MISMATCH:
            if (*type_code == VIDEZ5_STRING && stored.longest_text > static_cast<std::size_t>(*string_length))
                say(read_message(entry, "ATTRIBUTE TYPE MISMATCH", where) + ": stored text of " +
                    std::to_string(stored.longest_text) + " characters, value of " + std::to_string(*string_length));
            else
                say(read_message(entry, "ATTRIBUTE TYPE MISMATCH", where) + ": stored elements cannot be read as " +
                    element_name(*type_code, *string_length));
            break;
        case VIDEZ5_READ_FAILED:
            say(read_message(entry, "READ FAILED", where));
            break;
        default:
            break;
    }
}

}  // namespace

extern "C" {

void ftoc_h5write_attr_(const char* name, const unsigned int* name_length, const char* path,
                        const unsigned int* path_length, const char* attr, const unsigned int* attr_length,
                        const void* data, const unsigned int* count, const int* type_code, const int* string_length,
                        int* status) {
    const char* entry = "ftoc_h5write_attr_";
    *status = VIDEZ5_WRITE_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        write_attr_entry(entry, [=] { return CallTarget::existing(name, name_length, entry); }, path, path_length,
                         attr, attr_length, data, count, type_code, string_length, status);
    });
}

void ftoc_h5write_attr_id_(const int* file_id, const char* path, const unsigned int* path_length, const char* attr,
                           const unsigned int* attr_length, const void* data, const unsigned int* count,
                           const int* type_code, const int* string_length, int* status) {
    const char* entry = "ftoc_h5write_attr_id_";
    *status = VIDEZ5_WRITE_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        write_attr_entry(entry, held(file_id, entry), path, path_length, attr, attr_length, data, count, type_code,
                         string_length, status);
    });
}

void ftoc_h5read_attr_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, const char* attr, const unsigned int* attr_length,
                       void* buffer, const unsigned int* count, const int* element_size, const int* type_code,
                       const int* string_length, int* status) {
    const char* entry = "ftoc_h5read_attr_";
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        read_attr_entry(entry, [=] { return CallTarget::read_only(name, name_length, entry); }, path, path_length,
                        attr, attr_length, buffer, count, element_size, type_code, string_length, status);
    });
}

void ftoc_h5read_attr_id_(const int* file_id, const char* path, const unsigned int* path_length, const char* attr,
                          const unsigned int* attr_length, void* buffer, const unsigned int* count,
                          const int* element_size, const int* type_code, const int* string_length, int* status) {
    const char* entry = "ftoc_h5read_attr_id_";
    *status = VIDEZ5_READ_FAILED;
    videz5::detail::guarded_entry(entry, [&] {
        read_attr_entry(entry, held(file_id, entry), path, path_length, attr, attr_length, buffer, count,
                        element_size, type_code, string_length, status);
    });
}

}  // extern "C"
