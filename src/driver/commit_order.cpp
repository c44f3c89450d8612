#include "commit_order.hpp"

#include <algorithm>
#include <cstring>

namespace videz5::detail {
namespace {

constexpr std::size_t kHeapPrefix = 32;  // with 8-byte lengths and addresses, as the library's files have
constexpr std::size_t kFreeListHead = 16;
constexpr std::size_t kDataAddress = 24;

haddr_t little_endian_64(const unsigned char* p) {
    haddr_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

bool heap_prefix(const unsigned char* bytes, std::size_t size) {
    return size == kHeapPrefix && std::memcmp(bytes, "HEAP", 4) == 0 && bytes[4] == 0;
}

// The pending data block that heap prefix r changes in place together with it.
const Region* separate_data_block(const Regions& pending, const FileView& file, const Region& r) {
    if (r.type != H5FD_MEM_LHEAP || r.addr >= file.committed || !heap_prefix(r.bytes.data(), r.bytes.size()))
        return nullptr;
    const auto data = pending.find(little_endian_64(r.bytes.data() + kDataAddress));
    if (data == pending.end() || data->first >= file.committed || &data->second == &r) return nullptr;
    return &data->second;
}

// The stage in which a region is written, and its rank within the stage.
std::pair<int, long> stage_of(const FileView& file, const Region& r) {
    if (r.addr >= file.committed) return {0, 0};
    if (r.addr == 0) return {1, 0};
    const bool in_place = rewrites_known_object(file, r);
    if (in_place && r.type == H5FD_MEM_LHEAP) return {2, 0};
    if (!in_place) return {3, 0};
    if (r.type == H5FD_MEM_OHDR) return {4, 0};
    if (r.type == H5FD_MEM_BTREE && r.bytes.size() > 5 && std::memcmp(r.bytes.data(), "TREE", 4) == 0)
        return {5, -static_cast<long>(r.bytes[5])};  // higher levels (parents) first
    if (r.type == H5FD_MEM_BTREE) return {6, 0};
    return {7, 0};
}

}  // namespace

bool rewrites_known_object(const FileView& file, const Region& r) {
    const auto known = file.known.find(r.addr);
    return r.addr < file.committed && !r.merged && known != file.known.end() && known->second == r.type;
}

std::vector<CommitStep> commit_order(const Regions& pending, const FileView& file) {
    std::vector<const Region*> regions;
    std::map<const Region*, const Region*> data_of;  // heap prefix -> its data block
    for (const auto& [addr, r] : pending) {
        regions.push_back(&r);
        if (const Region* data = separate_data_block(pending, file, r)) data_of[&r] = data;
    }
    std::stable_sort(regions.begin(), regions.end(), [&file](const Region* a, const Region* b) {
        const auto sa = stage_of(file, *a), sb = stage_of(file, *b);
        return sa != sb ? sa < sb : a->addr < b->addr;
    });
    // A data block goes with its prefix, at whichever of the two comes first.
    std::map<const Region*, const Region*> partner;
    for (const auto& [prefix, data] : data_of) partner[prefix] = partner[data] = prefix;
    std::vector<CommitStep> steps;
    std::vector<const Region*> done;
    for (const Region* r : regions) {
        if (std::find(done.begin(), done.end(), r) != done.end()) continue;
        const int stage = stage_of(file, *r).first;
        const auto pair = partner.find(r);
        if (pair == partner.end()) {
            steps.push_back({r, nullptr, stage});
            continue;
        }
        const Region* prefix = pair->second;
        const Region* data = data_of[prefix];
        steps.push_back({prefix, data, stage});
        done.push_back(prefix);
        done.push_back(data);
    }
    return steps;
}

bool empty_heap_free_list(unsigned char* prefix, std::size_t size) {
    if (!heap_prefix(prefix, size)) return false;
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

}  // namespace videz5::detail
