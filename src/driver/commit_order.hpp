// The order in which a commit writes HDF5's metadata, so that a kill after any
// single write leaves a readable file with every link whole. The policy only:
// no file is touched here (ordered_driver.cpp does the writing).
//
//   1. pieces in space the file on disk does not reach yet: nothing points there;
//   2. the file extended to the new end, then the superblock that states it;
//   3. changes in place, what others refer to before what refers to it: local
//      heaps (names), then space reused within the session, object headers,
//      B-tree nodes from the root down, symbol table nodes.
//
// A local heap whose names outgrew its first block keeps them in a data block
// apart from its prefix (signature, data size, free-list head, data address).
// A name added in place changes both, and HDF5 checks the free list whenever
// it loads a heap: half of that change, in either order, makes the heap and so
// every name in its group unreadable. Such a pair is one step of the order,
// written in three writes that each leave a valid heap: the old prefix with an
// empty free list (the names stay, the free space is merely forgotten), the
// data block, the new prefix.
#pragma once

#include <hdf5.h>

#include <cstddef>
#include <map>
#include <utility>
#include <vector>

namespace videz5::detail {

struct Region {
    haddr_t addr;
    H5FD_mem_t type;
    std::vector<unsigned char> bytes;
    // Folded together from overlapping writes: what it holds is no longer one object.
    bool merged = false;
    haddr_t end() const { return addr + bytes.size(); }
};

// Metadata waiting to be committed, by address; never overlapping.
using Regions = std::map<haddr_t, Region>;

// What the order needs to know of the file besides the pending regions.
struct FileView {
    // The end of allocation that the file on disk describes: from here on
    // nothing on disk refers to anything yet.
    haddr_t committed;
    // Metadata read or written in this session: address -> type. A write in
    // place to anything else reuses space that HDF5 freed in this session.
    const std::map<haddr_t, H5FD_mem_t>& known;
};

// Whether r rewrites in place an object that stands at its address already.
bool rewrites_known_object(const FileView& file, const Region& r);

// One step of a commit: a region, or a heap prefix together with its data block.
struct CommitStep {
    const Region* region;
    const Region* heap_data = nullptr;  // set: region is a heap prefix, written in three steps
    int stage;                          // 0 new space, 1 superblock, 2 and on in place
};

// The pending regions in the order to write them.
std::vector<CommitStep> commit_order(const Regions& pending, const FileView& file);

}  // namespace videz5::detail
