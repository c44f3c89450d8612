// Reads of a file's bytes past HDF5 (a series' chunks, at the addresses HDF5
// gives), where the disk holds what HDF5 would read.
#include "driver.hpp"
#include "driver_state.hpp"
#include "posix_io.hpp"

namespace videz5::detail {

FileBytes::FileBytes(hid_t file_id) {
    const hid_t fapl = H5Fget_access_plist(file_id);
    if (fapl < 0) return;
    void* handle = nullptr;
    if (H5Pget_driver(fapl) == ordered_driver() && H5Fget_vfd_handle(file_id, fapl, &handle) >= 0) handle_ = handle;
    H5Pclose(fapl);
}

bool FileBytes::read(haddr_t addr, std::size_t size, void* buffer) const {
    if (handle_ == nullptr || addr > kMaxAddr || size > kMaxAddr - addr) return false;
    State& s = *static_cast<const VfdHandle*>(handle_)->state;
    const std::lock_guard<std::mutex> hold(s.pending_lock);
    // Where HDF5 would see other bytes than the disk holds (metadata waiting
    // to be committed, the superblock shown with its flags cleared), only a
    // read through HDF5 tells what it sees.
    const auto next = first_after(s.pending, addr);
    if (next != s.pending.end() && next->first < addr + size) return false;
    if (s.superblock_addr != HADDR_UNDEF && addr < s.superblock_addr + format::kNewSuperblock &&
        addr + size > s.superblock_addr)
        return false;
    return read_fully(s.fd, buffer, size, addr) == static_cast<ssize_t>(size);
}

}  // namespace videz5::detail
