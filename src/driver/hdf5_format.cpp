#include "hdf5_format.hpp"
#include "../detail/error_printing.hpp"

#include <vector>

namespace videz5::detail::format {
namespace {

// Superblock versions 0 and 1 (8-byte sizes): the sizes, then from byte 24
// (28 in version 1) the base, free-space, end-of-file and driver addresses,
// then the root group's symbol table entry.
constexpr std::size_t kOldSizeOfOffsets = 13, kOldSizeOfLengths = 14;
constexpr std::size_t kOldEndAddress[2] = {40, 44};
constexpr std::size_t kOldRootEntry = 56;  // version 0
// The newer superblock: sizes at 9 and 10, the end-of-file address at 28, the checksum at 44.
constexpr std::size_t kNewSizeOfOffsets = 9, kNewSizeOfLengths = 10, kNewEndAddress = 28, kNewChecksum = 44;

constexpr std::size_t kFreeListHead = 16;
constexpr std::size_t kDataAddress = 24;

std::uint32_t get_le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The bytes of a file that HDF5 makes in memory with one group in it, in
// its default format or its newest; empty when HDF5 would not make it.
std::vector<unsigned char> sample_file(bool newest) {
    std::vector<unsigned char> bytes;
    const ErrorPrintingOff quiet;
    const hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    if (fapl >= 0 && H5Pset_fapl_core(fapl, 4096, false) >= 0 &&
        (!newest || H5Pset_libver_bounds(fapl, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST) >= 0)) {
        const hid_t file = H5Fcreate("videz5 format check", H5F_ACC_TRUNC, H5P_DEFAULT, fapl);
        if (file >= 0) {
            const hid_t group = H5Gcreate2(file, "g", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
            if (group >= 0 && H5Gclose(group) >= 0 && H5Fflush(file, H5F_SCOPE_LOCAL) >= 0) {
                const ssize_t size = H5Fget_file_image(file, nullptr, 0);
                if (size > 0) {
                    bytes.resize(static_cast<std::size_t>(size));
                    if (H5Fget_file_image(file, bytes.data(), bytes.size()) != size) bytes.clear();
                }
            }
            H5Fclose(file);
        }
    }
    if (fapl >= 0) H5Pclose(fapl);
    return bytes;
}

bool inside(const std::vector<unsigned char>& file, haddr_t at, std::size_t size) {
    return at < file.size() && size <= file.size() - at;
}

// The default format: a superblock the order knows, stating the file's end,
// whose root group has an index node with one entry, a symbol table node
// with one name, and a heap prefix whose data lies in the file.
bool default_format_as_known(const std::vector<unsigned char>& file) {
    Superblock sb;
    if (!parse_superblock(file.data(), file.size(), sb) || !sb.ordered || sb.stated_end != file.size()) return false;
    const unsigned char* root = file.data() + kOldRootEntry;
    if (!inside(file, kOldRootEntry, 40) || get_le32(root + 16) != 1) return false;  // cached: a symbol table
    const haddr_t tree = get_le64(root + 24), heap = get_le64(root + 32);
    unsigned level = 0, entries = 0;
    if (!inside(file, tree, 40) || !btree_node(file.data() + tree, 40, level) || level != 0 ||
        !index_node_entries(file.data() + tree, 40, entries) || entries != 1)
        return false;
    const haddr_t node = get_le64(file.data() + tree + 32);  // the first child, after the first key
    if (!inside(file, node, 8) || std::memcmp(file.data() + node, "SNOD", 4) != 0 ||
        !index_node_entries(file.data() + node, 8, entries) || entries != 1)
        return false;
    return inside(file, heap, kHeapPrefix) && is_heap_prefix(file.data() + heap, kHeapPrefix) &&
           starts_heap_prefix(file.data() + heap, file.size() - heap) &&
           inside(file, heap_data_address(file.data() + heap), 1);
}

// The newest format: a superblock the order does not know, stating the
// file's end, with the checksum computed here. The image of a file open for
// writing shows its flags cleared but keeps the checksum of the flags set.
bool newest_format_as_known(std::vector<unsigned char> file) {
    Superblock sb;
    if (!parse_superblock(file.data(), file.size(), sb) || sb.version < 2 || sb.ordered ||
        sb.stated_end != file.size())
        return false;
    const std::uint32_t stored = get_le32(file.data() + kNewChecksum);
    if (lookup3(file.data(), kNewChecksum) == stored) return true;
    file[kSuperblockFlags] |= kWriteAccess;
    return lookup3(file.data(), kNewChecksum) == stored;
}

}  // namespace

std::uint64_t get_le64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void put_le64(unsigned char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool parse_superblock(const unsigned char* bytes, std::size_t size, Superblock& out) {
    if (size < kNewSuperblock || std::memcmp(bytes, kSignature, sizeof kSignature) != 0) return false;
    out = Superblock{};
    out.version = bytes[8];
    if (out.version <= 1) {
        if (bytes[kOldSizeOfOffsets] == 8 && bytes[kOldSizeOfLengths] == 8) {
            out.stated_end = get_le64(bytes + kOldEndAddress[out.version]);
            out.ordered = true;
        }
    } else if (out.version <= 3 && bytes[kNewSizeOfOffsets] == 8 && bytes[kNewSizeOfLengths] == 8) {
        out.stated_end = get_le64(bytes + kNewEndAddress);
    }
    return true;
}

std::uint32_t lookup3(const unsigned char* k, std::size_t length) {
    auto rot = [](std::uint32_t x, int r) { return (x << r) | (x >> (32 - r)); };
    std::uint32_t a, b, c;
    a = b = c = 0xdeadbeef + static_cast<std::uint32_t>(length);
    while (length > 12) {
        a += get_le32(k);
        b += get_le32(k + 4);
        c += get_le32(k + 8);
        a -= c; a ^= rot(c, 4);  c += b;
        b -= a; b ^= rot(a, 6);  a += c;
        c -= b; c ^= rot(b, 8);  b += a;
        a -= c; a ^= rot(c, 16); c += b;
        b -= a; b ^= rot(a, 19); a += c;
        c -= b; c ^= rot(b, 4);  b += a;
        length -= 12;
        k += 12;
    }
    if (length == 0) return c;
    std::uint32_t tail[3] = {0, 0, 0};
    for (std::size_t i = 0; i < length; ++i) tail[i / 4] |= static_cast<std::uint32_t>(k[i]) << (8 * (i % 4));
    a += tail[0];
    b += tail[1];
    c += tail[2];
    c ^= b; c -= rot(b, 14);
    a ^= c; a -= rot(c, 11);
    b ^= a; b -= rot(a, 25);
    c ^= b; c -= rot(b, 16);
    a ^= c; a -= rot(c, 4);
    b ^= a; b -= rot(a, 14);
    c ^= b; c -= rot(b, 24);
    return c;
}

bool is_heap_prefix(const unsigned char* bytes, std::size_t size) {
    return size == kHeapPrefix && starts_heap_prefix(bytes, size);
}

bool starts_heap_prefix(const unsigned char* bytes, std::size_t size) {
    return size >= kHeapPrefix && std::memcmp(bytes, "HEAP", 4) == 0 && bytes[4] == 0;
}

haddr_t heap_data_address(const unsigned char* prefix) { return get_le64(prefix + kDataAddress); }

bool empty_heap_free_list(unsigned char* prefix, std::size_t size) {
    if (!is_heap_prefix(prefix, size)) return false;
    std::memset(prefix + kFreeListHead, 0, 8);
    prefix[kFreeListHead] = 1;  // HDF5's "no free block"
    return true;
}

bool index_node_entries(const unsigned char* bytes, std::size_t size, unsigned& entries) {
    if (size < 8 || (std::memcmp(bytes, "SNOD", 4) != 0 && std::memcmp(bytes, "TREE", 4) != 0)) return false;
    // Both keep their number of entries at bytes 6 and 7, little-endian.
    entries = bytes[6] | (bytes[7] << 8);
    return true;
}

bool btree_node(const unsigned char* bytes, std::size_t size, unsigned& level) {
    if (size < 6 || std::memcmp(bytes, "TREE", 4) != 0) return false;
    level = bytes[5];
    return true;
}

bool chunk_index_node(const unsigned char* bytes, std::size_t size) {
    return size > 5 && std::memcmp(bytes, "TREE", 4) == 0 && bytes[4] == 1;
}

bool format_known() {
    static const bool known = [] {
        unsigned major = 0, minor = 0, release = 0;
        if (H5get_libversion(&major, &minor, &release) < 0 || major != 1 || (minor != 10 && minor != 12 && minor != 14))
            return false;
        return default_format_as_known(sample_file(false)) && newest_format_as_known(sample_file(true));
    }();
    return known;
}

}  // namespace videz5::detail::format
