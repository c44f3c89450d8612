// Walking slash-separated group paths one level at a time.
#include "access.hpp"

namespace {

// open_path, telling also whether the deepest level was created by this walk.
void walk_path(hid_t loc_id, const std::vector<std::string>& components, std::vector<hid_t>& chain,
               unsigned int& depth, int offset, bool create, bool& created_deepest) {
    depth = 1;
    created_deepest = false;
    if (chain.empty()) return;
    chain[0] = loc_id;

    // A missing group is expected (it is about to be created), so its failed open must not print.
    videz5::detail::ErrorPrintingOff quiet;
    const long n = static_cast<long>(components.size()) + offset;
    while (depth < n && depth < chain.size() && depth <= components.size()) {
        const hid_t parent = chain[depth - 1];
        const char* name = components[depth - 1].c_str();
        hid_t group = parent;
        created_deepest = false;
        // Below a failed level every level fails too; no need to ask HDF5 again.
        if (parent >= 0) {
            group = H5Gopen1(parent, name);
            if (group < 0 && create) {
                group = H5Gcreate1(parent, name, 0);
                created_deepest = group >= 0;
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

PathWalk::PathWalk(hid_t loc_id, const std::string& path, int offset, bool create) : offset_(offset) {
    split_string(path, components_, '/');
    chain_.assign(components_.size() + 1, 0);
    walk_path(loc_id, components_, chain_, depth_, offset_, create, created_deepest_);
}

PathWalk::~PathWalk() { close_path(components_, chain_, offset_); }

hid_t PathWalk::release_deepest() {
    const hid_t deepest = chain_[depth_ - 1];
    // Slot 0 is the caller's location; it is never closed here anyway.
    if (depth_ > 1) chain_[depth_ - 1] = H5I_INVALID_HID;
    return deepest;
}

}  // namespace videz5::detail
