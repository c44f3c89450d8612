#include "handle_table.hpp"

#include <limits>
#include <unordered_map>

namespace videz5::detail {
namespace {

struct HandleTable {
    std::unordered_map<int, hid_t> ids;
    int last = 0;
};

HandleTable& table() {
    static HandleTable instance;
    return instance;
}

}  // namespace

int register_handle(hid_t id) {
    HandleTable& t = table();
    if (id < 0 || t.last == std::numeric_limits<int>::max()) return -1;
    t.ids.emplace(++t.last, id);
    return t.last;
}

hid_t lookup_handle(int handle) {
    const HandleTable& t = table();
    const auto found = t.ids.find(handle);
    return found == t.ids.end() ? H5I_INVALID_HID : found->second;
}

void forget_handle(int handle) { table().ids.erase(handle); }

}  // namespace videz5::detail
