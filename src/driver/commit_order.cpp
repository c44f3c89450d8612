#include "commit_order.hpp"
#include "hdf5_format.hpp"

#include <algorithm>

namespace videz5::detail {
namespace {

// The pending data block that heap prefix r changes in place together with it.
const Region* separate_data_block(const Regions& pending, const FileView& file, const Region& r) {
    if (r.type != H5FD_MEM_LHEAP || r.addr >= file.committed || !format::is_heap_prefix(r.bytes.data(), r.bytes.size()))
        return nullptr;
    const auto data = pending.find(format::heap_data_address(r.bytes.data()));
    if (data == pending.end() || data->first >= file.committed || &data->second == &r) return nullptr;
    return &data->second;
}

// The stage in which a region is written, and its rank within the stage.
std::pair<int, long> stage_of(const FileView& file, const Region& r) {
    // The superblock after what it leads to, even in a file that had none.
    if (r.addr == 0) return {1, 0};
    if (r.addr >= file.committed) return {0, 0};
    const bool in_place = rewrites_known_object(file, r);
    if (in_place && r.type == H5FD_MEM_LHEAP) return {2, 0};
    if (!in_place) return {3, 0};
    if (r.type == H5FD_MEM_OHDR) return {4, 0};
    unsigned level;
    if (r.type == H5FD_MEM_BTREE && format::btree_node(r.bytes.data(), r.bytes.size(), level))
        return {5, -static_cast<long>(level)};  // higher levels (parents) first
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

}  // namespace videz5::detail
