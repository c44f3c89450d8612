// Attributes of datasets and groups: written whole, read only into values of
// their own shape that take them without a change, as arrays are.
#include "videz5_c.h"
#include "transfer.hpp"
#include "../access/access.hpp"
#include "../text/text.hpp"

#include <algorithm>
#include <cstring>

namespace videz5::detail {
namespace {

// Whether the attribute already stores exactly these bytes with this type and shape.
bool holds(hid_t object, const char* name, hid_t type, hid_t space, const void* bytes, std::size_t size) {
    Hid attribute(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
    if (!attribute.valid()) return false;
    Hid stored_type = own_type(H5Aget_type(attribute.get()));
    Hid stored_space = own_space(H5Aget_space(attribute.get()));
    if (!stored_type.valid() || !stored_space.valid() || H5Tequal(stored_type.get(), type) <= 0 ||
        H5Sextent_equal(stored_space.get(), space) <= 0)
        return false;
    std::vector<char> stored(size);
    return H5Aread(attribute.get(), type, stored.data()) >= 0 && std::memcmp(stored.data(), bytes, size) == 0;
}

// An attribute's sizes, HDF5 order: none for a scalar, {0} for a null dataspace.
int stored_extent(hid_t space, std::vector<hsize_t>& dims) {
    switch (H5Sget_simple_extent_type(space)) {
        case H5S_SCALAR:
            dims.clear();
            return 0;
        case H5S_NULL:
            dims.assign(1, 0);
            return 0;
        case H5S_SIMPLE: {
            const int rank = H5Sget_simple_extent_ndims(space);
            if (rank < 0) return -1;
            dims.assign(static_cast<std::size_t>(rank), 0);
            return H5Sget_simple_extent_dims(space, dims.data(), nullptr) < 0 ? -1 : 0;
        }
        default:
            return -1;
    }
}

int read_texts(hid_t attribute, hid_t stored_type, std::size_t count, std::size_t size, void* buffer,
               StoredAttribute& stored) {
    if (H5Tget_class(stored_type) != H5T_STRING || H5Tis_variable_str(stored_type) != 0) return VIDEZ5_TYPE_MISMATCH;
    // The stored bytes as they are: their padding is no part of the texts.
    const std::size_t stored_size = H5Tget_size(stored_type);
    std::vector<char> bytes(count * stored_size);
    if (H5Aread(attribute, stored_type, bytes.data()) < 0) return VIDEZ5_READ_FAILED;
    const std::vector<std::string> texts = padded_texts(bytes.data(), count, stored_size);
    for (const std::string& text : texts) stored.longest_text = std::max(stored.longest_text, text.size());
    // A text cut to fit would be another text: refused, as a number that would change is.
    if (stored.longest_text > size) return VIDEZ5_TYPE_MISMATCH;  // fault-check: attribute-text-not-cut
    for (std::size_t i = 0; i < count; ++i) to_fortran_text(texts[i], static_cast<char*>(buffer) + i * size, size);
    return VIDEZ5_OK;
}

int read_numbers(hid_t attribute, hid_t stored_type, std::size_t count, hid_t type_id, void* buffer) {
    const H5T_class_t kind = H5Tget_class(stored_type);
    if (kind != H5T_INTEGER && kind != H5T_FLOAT) return VIDEZ5_TYPE_MISMATCH;
    // The stored values first, in their own type, so that the buffer is only
    // written once every one of them is known to fit.
    Hid native = own_type(H5Tget_native_type(stored_type, H5T_DIR_DEFAULT));
    if (!native.valid()) return VIDEZ5_READ_FAILED;
    std::vector<unsigned char> values(count * H5Tget_size(native.get()));
    if (H5Aread(attribute, native.get(), values.data()) < 0) return VIDEZ5_READ_FAILED;
    if (!converts_exactly(native.get(), type_id, values.data(), count)) return VIDEZ5_TYPE_MISMATCH;
    return H5Aread(attribute, type_id, buffer) < 0 ? VIDEZ5_READ_FAILED : VIDEZ5_OK;
}

}  // namespace

int put_attribute(hid_t object, const char* name, hid_t type, hid_t space, const void* bytes, std::size_t size,
                  bool absent) {
    const htri_t exists = absent ? 0 : H5Aexists(object, name);
    if (exists < 0) return -1;
    // A rewritten record usually describes itself as before: leave such an
    // attribute alone rather than dirty the object's header for nothing.
    if (exists > 0 && holds(object, name, type, space, bytes, size)) return 0;
    // Otherwise replaced whole rather than written over, so that its type and
    // shape always follow the new values.
    if (exists > 0 && H5Adelete(object, name) < 0) return -1;
    Hid attribute(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    if (!attribute.valid()) return -1;
    return H5Awrite(attribute.get(), type, bytes);
}

std::size_t attribute_bytes(const std::string& name, const AttributeValue& value) {
    const std::size_t count = std::max(value.count, 1u);
    if (value.numbers != nullptr) return name.size() + count * H5Tget_size(value.type);
    std::size_t longest = 1;  // an empty text is its terminator alone
    for (const std::string& text : value.texts) longest = std::max(longest, text.size());
    return name.size() + count * longest;
}

int write_attribute_at(hid_t loc_id, const std::string& path, const std::string& name, const AttributeValue& value) {
    Hid object = open_object_at(loc_id, path);
    if (!object.valid()) return VIDEZ5_NO_DATASET;
    const bool as_array = value.count > 0;
    int status;
    if (value.numbers == nullptr) {
        status = write_string_attribute(object.get(), name.c_str(), value.texts, as_array);
    } else {
        const hsize_t count = value.count;
        Hid space = own_space(as_array ? H5Screate_simple(1, &count, nullptr) : H5Screate(H5S_SCALAR));
        status = space.valid() ? put_attribute(object.get(), name.c_str(), value.type, space.get(), value.numbers,
                                               std::max(value.count, 1u) * H5Tget_size(value.type))
                               : -1;
    }
    return status < 0 ? VIDEZ5_WRITE_FAILED : VIDEZ5_OK;
}

int read_attribute_at(hid_t loc_id, const std::string& path, const std::string& name, void* buffer,
                      unsigned int count, hid_t type_id, StoredAttribute& stored) {
    Hid object = open_object_at(loc_id, path);
    if (!object.valid()) return VIDEZ5_NO_DATASET;
    Hid attribute;
    {
        ErrorPrintingOff quiet;  // no such attribute is an answer
        if (H5Aexists(object.get(), name.c_str()) <= 0) return VIDEZ5_NO_ATTRIBUTE;
        attribute = Hid(H5Aopen(object.get(), name.c_str(), H5P_DEFAULT), H5Aclose);
    }
    if (!attribute.valid()) return VIDEZ5_READ_FAILED;
    Hid stored_type = own_type(H5Aget_type(attribute.get()));
    Hid space = own_space(H5Aget_space(attribute.get()));
    if (!stored_type.valid() || !space.valid() || stored_extent(space.get(), stored.dims) < 0)
        return VIDEZ5_READ_FAILED;
    // Exactly the value's shape: a scalar is no array of one, as a dump's
    // single value is no scalar.
    const std::vector<hsize_t> wanted = count == 0 ? std::vector<hsize_t>{} : std::vector<hsize_t>{count};
    if (stored.dims != wanted) return VIDEZ5_SHAPE_MISMATCH;
    const std::size_t n = std::max(count, 1u);
    if (H5Tget_class(type_id) == H5T_STRING)
        return read_texts(attribute.get(), stored_type.get(), n, H5Tget_size(type_id), buffer, stored);
    return read_numbers(attribute.get(), stored_type.get(), n, type_id, buffer);
}

}  // namespace videz5::detail
