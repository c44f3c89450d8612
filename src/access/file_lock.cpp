// Opening an existing HDF5 file read-write while someone else may hold it.
//
// HDF5 locks a file for as long as any process has it open, and a viewer that
// a colleague keeps open on the results makes the writer's open fail at once:
// every dump of that call would be lost. Such a lock is usually let go within
// seconds, so the open is retried with growing pauses for a while. Only the
// lock failure is waited out; HDF5 names it in its error stack, and every
// other failure is handed back at once, as HDF5 reported it.
#include "access.hpp"

#include <chrono>
#include <iostream>
#include <thread>

namespace videz5::detail {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kFirstPause{10};
constexpr std::chrono::milliseconds kLongestPause{1000};
// All the waiting one call may do; the message below states it.
constexpr std::chrono::seconds kPatience{10};

herr_t note_lock_failure(unsigned, const H5E_error2_t* error, void* found) {
    if (error->cls_id == H5E_ERR_CLS && error->min_num == H5E_CANTLOCKFILE) *static_cast<bool*>(found) = true;
    return 0;
}

// Whether the failure on HDF5's current error stack is a lock held elsewhere.
bool failed_on_lock() {
    bool found = false;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, note_lock_failure, &found);
    return found;
}

}  // namespace

hid_t open_h5_file_waiting(const std::string& name) {
    const Clock::time_point start = Clock::now();
    std::chrono::milliseconds pause = kFirstPause;
    {
        // Quiet: a lock that goes away in time is no error worth printing.
        ErrorPrintingOff quiet;
        for (;;) {
            const hid_t file_id = H5Fopen(name.c_str(), H5F_ACC_RDWR, file_access());
            if (file_id >= 0) return file_id;
            if (!failed_on_lock()) break;
            const auto left = kPatience - (Clock::now() - start);
            if (left <= Clock::duration::zero()) {
                std::cout << "FILE LOCKED IN open_h5_file( " << name << " ), GAVE UP AFTER " << kPatience.count()
                          << " s" << std::endl;
                return H5I_INVALID_HID;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, left));
            pause = std::min(pause * 2, kLongestPause);
        }
    }
    // Any other failure: open again under the caller's error printing, so that
    // HDF5 reports it just as it did before there was any waiting.
    return H5Fopen(name.c_str(), H5F_ACC_RDWR, file_access());
}

}  // namespace videz5::detail
