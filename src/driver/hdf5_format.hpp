// What the driver knows of HDF5's file format, in one place: signatures, the
// superblock's layouts, local heap prefixes, index nodes, the checksum of the
// newer format. The commit order and the journal policy rely on it; it is
// checked against the HDF5 in use before any file is opened (format_known),
// and where the check fails the driver relies on no order at all.
//
// Everything here assumes the sizes the library's files have: 8-byte
// addresses and lengths. A file with other sizes is one the order does not
// know (see Superblock::ordered).
#pragma once

#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace videz5::detail::format {

std::uint64_t get_le64(const unsigned char* p);
void put_le64(unsigned char* p, std::uint64_t v);

// The signature that starts a superblock, at 0, 512, 1024, ... of the file.
inline constexpr unsigned char kSignature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
// Bytes enough to hold the start of any superblock: the newer format's whole
// superblock (version 2 or 3): signature, version, sizes, consistency flags,
// four addresses, checksum.
inline constexpr std::size_t kNewSuperblock = 48;
inline constexpr std::size_t kSuperblockFlags = 11;  // the newer format's consistency flags
inline constexpr unsigned char kWriteAccess = 0x01;
inline constexpr unsigned char kSwmrWriteAccess = 0x04;

struct Superblock {
    unsigned version = 0;
    // The end of the file that the superblock states (relative to its base).
    haddr_t stated_end = HADDR_UNDEF;
    // A superblock whose structures the commit order knows (version 0 or 1,
    // 8-byte sizes); changes to any other file are journaled whole.
    bool ordered = false;
};

// Reads the superblock that starts the bytes given (at least kNewSuperblock
// of them); false when they hold no signature.
bool parse_superblock(const unsigned char* bytes, std::size_t size, Superblock& out);

// HDF5's checksum of metadata in the newer format: Bob Jenkins' lookup3
// hashlittle, byte by byte as HDF5 computes it.
std::uint32_t lookup3(const unsigned char* k, std::size_t length);

// A local heap's prefix: signature, version 0, data size, free-list head,
// data address.
inline constexpr std::size_t kHeapPrefix = 32;
// Bytes that are a heap prefix and nothing else (a region of its own).
bool is_heap_prefix(const unsigned char* bytes, std::size_t size);
// Bytes that begin with a heap prefix (its data may follow in the same block).
bool starts_heap_prefix(const unsigned char* bytes, std::size_t size);
// Where a heap prefix's data block is.
haddr_t heap_data_address(const unsigned char* prefix);
// Empties a heap prefix's free list; false when the bytes are no heap prefix.
bool empty_heap_free_list(unsigned char* prefix, std::size_t size);

// The number of entries of a group index node (a B-tree or symbol table
// node) in bytes that start one; false when they do not.
bool index_node_entries(const unsigned char* bytes, std::size_t size, unsigned& entries);
// Whether the bytes start a B-tree node, and its level (0: a leaf).
bool btree_node(const unsigned char* bytes, std::size_t size, unsigned& level);
// Whether the bytes start a node of a chunked dataset's index (B-tree type 1).
bool chunk_index_node(const unsigned char* bytes, std::size_t size);

// Whether all of the above holds for the HDF5 this process runs with:
// checked once, on files that HDF5 itself makes in memory, in both formats,
// and for a release of HDF5 whose writes the commit order was measured on.
bool format_known();

}  // namespace videz5::detail::format
