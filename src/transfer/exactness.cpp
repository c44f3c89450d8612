// Whether values survive a change of element type. An overwrite in place keeps
// the stored type and HDF5 converts without a word: 1.7 written over ints is
// stored as 1, 3e9 as 2147483647, a long text is cut. Such an overwrite is
// refused rather than stored wrong, and a checked read refuses the same losses.
//
// Numbers are checked through HDF5's own conversion exceptions (range,
// fraction, NaN, infinities, precision), always towards a native type: HDF5
// 1.10's soft conversions into non-native integers report a fraction for
// every value. Rounding between floating-point types raises no exception, so
// it is found by converting back. Texts are compared after the conversion.
// All of it in batches of bounded size, before anything is written.
#include "transfer.hpp"
#include "../access/access.hpp"

#include <algorithm>
#include <cstring>

namespace videz5::detail {
namespace {

constexpr std::size_t kBatchBytes = std::size_t{1} << 20;

enum class Kind { kNumber, kText, kOther };

Kind kind_of(hid_t type) {
    switch (H5Tget_class(type)) {
        case H5T_INTEGER:
        case H5T_FLOAT:
            return Kind::kNumber;
        case H5T_STRING:
            return H5Tis_variable_str(type) > 0 ? Kind::kOther : Kind::kText;
        default:
            return Kind::kOther;
    }
}

// Numbers of type from that type to cannot change whatever their values.
bool always_exact(hid_t from, hid_t to) {
    const H5T_class_t from_class = H5Tget_class(from), to_class = H5Tget_class(to);
    const std::size_t from_bits = H5Tget_precision(from), to_bits = H5Tget_precision(to);
    const bool from_signed = H5Tget_sign(from) == H5T_SGN_2, to_signed = H5Tget_sign(to) == H5T_SGN_2;
    std::size_t spos, epos, esize, mpos, msize;
    if (from_class == H5T_INTEGER && to_class == H5T_INTEGER) {
        if (from_signed == to_signed) return to_bits >= from_bits;
        return !from_signed && to_bits > from_bits;  // unsigned into signed needs a bit more
    }
    if (from_class == H5T_INTEGER && to_class == H5T_FLOAT) {
        if (H5Tget_fields(to, &spos, &epos, &esize, &mpos, &msize) < 0) return false;
        // Every integer of that many value bits has an exact float (the leading bit is implied).
        return from_bits - (from_signed ? 1 : 0) <= msize + 1;
    }
    if (from_class == H5T_FLOAT && to_class == H5T_FLOAT) {
        std::size_t to_esize, to_msize;
        if (H5Tget_fields(from, &spos, &epos, &esize, &mpos, &msize) < 0 ||
            H5Tget_fields(to, &spos, &epos, &to_esize, &mpos, &to_msize) < 0)
            return false;
        return to_esize >= esize && to_msize >= msize;
    }
    return false;  // a float into an integer can always lose its fraction
}

H5T_conv_ret_t refuse_exception(H5T_conv_except_t, hid_t, hid_t, void*, void*, void*) { return H5T_CONV_ABORT; }

// Converts n elements in place; false on any exception.
bool convert_strictly(hid_t from, hid_t to, std::size_t n, void* buffer, hid_t strict) {
    return H5Tconvert(from, to, n, buffer, nullptr, strict) >= 0;
}

bool numbers_fit(hid_t from, hid_t to, const unsigned char* values, std::size_t count) {
    ErrorPrintingOff quiet;  // an aborted conversion is an answer, not an error to print
    Hid native = own_type(H5Tget_native_type(to, H5T_DIR_DEFAULT));
    Hid strict(H5Pcreate(H5P_DATASET_XFER), H5Pclose);
    if (!native.valid() || !strict.valid() || H5Pset_type_conv_cb(strict.get(), refuse_exception, nullptr) < 0)
        return false;
    const bool to_native_only = H5Tequal(native.get(), to) > 0;
    const bool rounding = H5Tget_class(from) == H5T_FLOAT && H5Tget_class(to) == H5T_FLOAT;
    const std::size_t from_size = H5Tget_size(from);
    const std::size_t widest = std::max({from_size, H5Tget_size(native.get()), H5Tget_size(to)});
    const std::size_t batch = std::max<std::size_t>(1, kBatchBytes / widest);
    std::vector<unsigned char> buffer(std::min(batch, count) * widest), back;
    for (std::size_t done = 0; done < count; done += batch) {
        const std::size_t n = std::min(batch, count - done);
        const unsigned char* slice = values + done * from_size;
        std::memcpy(buffer.data(), slice, n * from_size);
        if (!convert_strictly(from, native.get(), n, buffer.data(), strict.get())) return false;
        if (rounding) {
            back.assign(buffer.begin(), buffer.end());
            if (!convert_strictly(native.get(), from, n, back.data(), strict.get()) ||
                std::memcmp(back.data(), slice, n * from_size) != 0)
                return false;
        }
        if (!to_native_only && !convert_strictly(native.get(), to, n, buffer.data(), strict.get())) return false;
    }
    return true;
}

// The text of a fixed-length string element: up to its first NUL, trailing blanks aside.
std::string text_of(const unsigned char* element, std::size_t size) {
    const void* nul = std::memchr(element, '\0', size);
    std::size_t n = nul != nullptr ? static_cast<const unsigned char*>(nul) - element : size;
    while (n > 0 && element[n - 1] == ' ') --n;
    return std::string(reinterpret_cast<const char*>(element), n);
}

bool texts_fit(hid_t from, hid_t to, const unsigned char* values, std::size_t count) {
    ErrorPrintingOff quiet;
    const std::size_t from_size = H5Tget_size(from), to_size = H5Tget_size(to);
    const std::size_t widest = std::max(from_size, to_size);
    const std::size_t batch = std::max<std::size_t>(1, kBatchBytes / widest);
    std::vector<unsigned char> buffer(std::min(batch, count) * widest);
    for (std::size_t done = 0; done < count; done += batch) {
        const std::size_t n = std::min(batch, count - done);
        const unsigned char* slice = values + done * from_size;
        std::memcpy(buffer.data(), slice, n * from_size);
        if (H5Tconvert(from, to, n, buffer.data(), nullptr, H5P_DEFAULT) < 0) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (text_of(slice + i * from_size, from_size) != text_of(&buffer[i * to_size], to_size)) return false;
    }
    return true;
}

// Blocks of whole trailing rows that cover a dataset of these sizes in
// row-major order, each at most `budget` elements (at least one).
template <typename F>
bool for_each_block(const std::vector<hsize_t>& dims, hsize_t budget, F&& visit) {
    const std::size_t rank = dims.size();
    hsize_t trailing = 1;
    std::size_t axis = rank;  // dims[axis..] fit whole into one block
    while (axis > 0 && trailing * dims[axis - 1] <= budget) trailing *= dims[--axis];
    std::vector<hsize_t> start(rank, 0), count(dims);
    if (axis == 0) return visit(start, count);
    const std::size_t step_axis = axis - 1;
    const hsize_t step = std::max<hsize_t>(1, budget / trailing);
    for (std::size_t i = 0; i < step_axis; ++i) count[i] = 1;
    for (;;) {
        for (hsize_t at = 0; at < dims[step_axis]; at += step) {
            start[step_axis] = at;
            count[step_axis] = std::min(step, dims[step_axis] - at);
            if (!visit(start, count)) return false;
        }
        // The next index of the axes before the stepped one, the last fastest.
        std::size_t i = step_axis;
        while (i > 0 && ++start[i - 1] == dims[i - 1]) start[--i] = 0;
        if (i == 0) return true;
    }
}

}  // namespace

bool rounds_floats(hid_t from, hid_t to) {
    return H5Tget_class(from) == H5T_FLOAT && H5Tget_class(to) == H5T_FLOAT && !always_exact(from, to);
}

std::string element_type_name(hid_t type) {
    const std::size_t size = H5Tget_size(type);
    switch (H5Tget_class(type)) {
        case H5T_FLOAT:
            return size == 8 ? "double" : size == 4 ? "float" : std::to_string(size) + "-byte float";
        case H5T_INTEGER: {
            const bool is_signed = H5Tget_sign(type) == H5T_SGN_2;
            if (is_signed && size == 4) return "int";
            return (is_signed ? "int" : "uint") + std::to_string(8 * size);
        }
        case H5T_STRING:
            return H5Tis_variable_str(type) > 0 ? "variable-length string"
                                                : "string of " + std::to_string(size) + (size == 1 ? " byte" : " bytes");
        default:
            return "another kind of element";
    }
}

bool converts_exactly(hid_t from, hid_t to, const void* values, std::size_t count) {
    if (H5Tequal(from, to) > 0) return true;  // fault-check: exact-values-only
    const Kind kind = kind_of(from);
    if (kind != kind_of(to) || kind == Kind::kOther) return false;
    const auto* bytes = static_cast<const unsigned char*>(values);
    if (kind == Kind::kText) return texts_fit(from, to, bytes, count);
    return always_exact(from, to) || numbers_fit(from, to, bytes, count);
}

int reads_exactly(hid_t dataset, hid_t memory_type, const std::vector<hsize_t>* start,
                  const std::vector<hsize_t>* count) {
    Hid stored = own_type(H5Dget_type(dataset));
    if (!stored.valid()) return -1;
    // Texts are cut or padded to the reader's length by design; other kinds
    // are HDF5's to refuse.
    if (H5Tequal(stored.get(), memory_type) > 0 || kind_of(stored.get()) != Kind::kNumber ||
        kind_of(memory_type) != Kind::kNumber || always_exact(stored.get(), memory_type))
        return 1;
    Hid native = own_type(H5Tget_native_type(stored.get(), H5T_DIR_DEFAULT));
    Hid space = own_space(H5Dget_space(dataset));
    if (!native.valid() || !space.valid()) return -1;
    const int rank = H5Sget_simple_extent_ndims(space.get());
    if (rank < 0) return -1;
    std::vector<hsize_t> dims(static_cast<std::size_t>(rank));
    if (rank > 0 && H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr) < 0) return -1;
    // A block is walked as a dataset of its own sizes, offset to where it stands.
    if (count != nullptr) dims = *count;
    const std::size_t size = H5Tget_size(native.get());
    const hsize_t budget = std::max<hsize_t>(1, kBatchBytes / size);
    std::vector<unsigned char> buffer;
    int answer = 1;
    // The stored values in batches, in their own type, each checked on its own.
    const bool read = for_each_block(dims, budget, [&](std::vector<hsize_t> at, const std::vector<hsize_t>& sizes) {
        hsize_t n = 1;
        for (const hsize_t c : sizes) n *= c;
        if (start != nullptr)
            for (std::size_t i = 0; i < at.size(); ++i) at[i] += (*start)[i];
        buffer.resize(static_cast<std::size_t>(n) * size);
        Hid memory = own_space(rank > 0 ? H5Screate_simple(rank, sizes.data(), nullptr) : H5Screate(H5S_SCALAR));
        if (!memory.valid() ||
            (rank > 0 && H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, at.data(), nullptr, sizes.data(),
                                             nullptr) < 0) ||
            H5Dread(dataset, native.get(), memory.get(), space.get(), H5P_DEFAULT, buffer.data()) < 0)
            return false;
        if (!numbers_fit(native.get(), memory_type, buffer.data(), static_cast<std::size_t>(n))) answer = 0;
        return answer == 1;
    });
    return answer == 0 ? 0 : read ? 1 : -1;
}

}  // namespace videz5::detail
