// Walking slash-separated group paths one level at a time.
#include "access.hpp"

#include <mutex>
#include <unordered_map>

namespace {

// Groups kept open below a location: its path below it -> the group.
using KeptGroups = std::unordered_map<std::string, hid_t>;
// Enough for the groups a run writes into; a run that spreads over more opens
// the rest per call, as without keeping.
constexpr std::size_t kMaxKeptGroups = 64;

std::unordered_map<hid_t, KeptGroups>& kept_groups() {
    static std::unordered_map<hid_t, KeptGroups> instance;
    return instance;
}
// Every walk looks here, also walks of files opened by name in other
// threads while one thread's held file keeps its groups.
std::mutex kept_lock;

// open_path, telling also whether the deepest level was created by this walk;
// with kept, the groups kept open below loc_id are used and newly opened ones
// kept (kept[level] marks them).
void walk_path(hid_t loc_id, const std::vector<std::string>& components, std::vector<hid_t>& chain,
               unsigned int& depth, int offset, bool create, bool& created_deepest,
               std::vector<char>* kept = nullptr) {
    depth = 1;
    created_deepest = false;
    if (chain.empty()) return;
    chain[0] = loc_id;
    KeptGroups* groups = nullptr;  // stays valid: only the close of loc_id removes it
    if (kept != nullptr) {
        const std::lock_guard<std::mutex> hold(kept_lock);
        const auto found = kept_groups().find(loc_id);
        if (found != kept_groups().end()) groups = &found->second;
    }
    std::string below;

    // A missing group is expected (it is about to be created), so its failed open must not print.
    videz5::detail::ErrorPrintingOff quiet;
    const long n = static_cast<long>(components.size()) + offset;
    while (depth < n && depth < chain.size() && depth <= components.size()) {
        const hid_t parent = chain[depth - 1];
        const char* name = components[depth - 1].c_str();
        hid_t group = parent;
        created_deepest = false;
        if (groups != nullptr) {
            below += (depth > 1 ? "/" : "") + components[depth - 1];
            const std::lock_guard<std::mutex> hold(kept_lock);
            const auto known = groups->find(below);
            if (known != groups->end()) {
                chain[depth] = known->second;
                (*kept)[depth] = 1;
                ++depth;
                continue;
            }
        }
        // Below a failed level every level fails too; no need to ask HDF5 again.
        if (parent >= 0) {
            group = H5Gopen1(parent, name);
            if (group < 0 && create) {
                group = H5Gcreate1(parent, name, 0);
                created_deepest = group >= 0;
            }
        }
        if (groups != nullptr && group >= 0) {
            const std::lock_guard<std::mutex> hold(kept_lock);
            if (groups->size() < kMaxKeptGroups) {
                groups->emplace(below, group);
                (*kept)[depth] = 1;
            }
        }
        chain[depth] = group;
        ++depth;
    }
}

}  // namespace

void open_path(hid_t loc_id, const std::vector<std::string>& components, std::vector<hid_t>& chain,
               unsigned int& depth, int offset, bool create) {
    bool created = false;
    walk_path(loc_id, components, chain, depth, offset, create, created);
}

void close_path(const std::vector<std::string>& components, const std::vector<hid_t>& chain, int offset) {
    long k = static_cast<long>(components.size()) + offset - 1;
    if (k >= static_cast<long>(chain.size())) k = static_cast<long>(chain.size()) - 1;
    for (; k > 0; --k) {
        // A failed slot holds no group: closing it would only print a spurious HDF5 error.
        if (chain[k] >= 0) H5Gclose(chain[k]);
    }
}

namespace videz5::detail {

void keep_groups_open(hid_t loc_id, bool keep) {
    KeptGroups closing;
    {
        const std::lock_guard<std::mutex> hold(kept_lock);
        auto& all = kept_groups();
        const auto found = all.find(loc_id);
        if (keep) {
            if (found == all.end()) all.emplace(loc_id, KeptGroups{});
            return;
        }
        if (found == all.end()) return;
        closing = std::move(found->second);
        all.erase(found);
    }
    for (const auto& [path, group] : closing) H5Gclose(group);
}

void forget_kept_groups() {
    std::vector<hid_t> closing;
    {
        const std::lock_guard<std::mutex> hold(kept_lock);
        for (auto& [loc_id, groups] : kept_groups()) {
            for (const auto& [path, group] : groups) closing.push_back(group);
            groups.clear();
        }
    }
    for (const hid_t group : closing) H5Gclose(group);
}

PathWalk::PathWalk(hid_t loc_id, const std::string& path, int offset, bool create) : offset_(offset) {
    split_string(path, components_, '/');
    chain_.assign(components_.size() + 1, 0);
    kept_.assign(chain_.size(), 0);
    walk_path(loc_id, components_, chain_, depth_, offset_, create, created_deepest_, &kept_);
}

PathWalk::~PathWalk() {
    for (std::size_t k = kept_.size(); k-- > 1;)
        if (kept_[k] != 0) chain_[k] = H5I_INVALID_HID;  // stays open for the next calls
    close_path(components_, chain_, offset_);  // fault-check: walk-closes-groups
}

hid_t PathWalk::release_deepest() {
    const hid_t deepest = chain_[depth_ - 1];
    // Slot 0 is the caller's location; it is never closed here anyway.
    if (depth_ <= 1) return deepest;
    // A kept group stays kept: the caller gets a reference of its own.
    if (kept_[depth_ - 1] != 0) return H5Iinc_ref(deepest) >= 0 ? deepest : H5I_INVALID_HID;
    chain_[depth_ - 1] = H5I_INVALID_HID;
    return deepest;
}

}  // namespace videz5::detail
