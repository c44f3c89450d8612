// Opening files by name: read-write when HDF5, created otherwise, never
// clobbered, and shared safely with other processes that open, create or hold
// the same name at the same time (an array job, a solver beside its
// post-processor).
//
// HDF5 locks a file for as long as a process has it open, and a viewer or a
// sibling job holding the file makes an open fail at once: every dump of that
// call would be lost. Such a lock is usually let go soon, so opens and
// creations wait it out with growing pauses for a while. Only the lock
// failure is waited out; HDF5 names it in its error stack, and every other
// failure is reported at once, with its cause.
//
// A new file is never made by HDF5's truncating create: a second process
// doing the same would truncate the first one's file under it. Instead the
// bytes of a new, empty HDF5 file are written into the name's file while it
// is empty, under an exclusive lock and after checking again that it is still
// empty; then the file is opened as any existing one. Whoever comes second
// finds a whole HDF5 file and opens it.
#include "access.hpp"
#include "../driver/posix_io.hpp"
#include "../detail/fd.hpp"
#include "../detail/hid.hpp"
#include "../detail/say.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace videz5::detail {
namespace {

using Clock = std::chrono::steady_clock;

// Short first pauses: a sibling writer holds the file for a few milliseconds.
constexpr std::chrono::milliseconds kFirstPause{1};
constexpr std::chrono::milliseconds kLongestPause{100};

// Growing pauses until the patience is spent.
class Patience {
public:
    // False when the time is up; otherwise pauses once and returns true.
    bool pause() {
        const auto left = kLockPatience - (Clock::now() - start_);
        if (left <= Clock::duration::zero()) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause_, left));
        pause_ = std::min(pause_ * 2, kLongestPause);
        return true;
    }

private:
    Clock::time_point start_ = Clock::now();
    std::chrono::milliseconds pause_ = kFirstPause;
};

hid_t refuse_not_hdf5(const std::string& name) {
    say("NOT AN HDF5 FILE IN open_h5_file( " + name + " ), LEFT UNTOUCHED");
    return H5I_INVALID_HID;
}

hid_t refuse_cannot_open(const std::string& name, const std::string& cause) {
    say("CANNOT OPEN FILE IN open_h5_file( " + name + " ): " + cause);  // fault-check: failed-open-says-why
    return H5I_INVALID_HID;
}

// Once per file and process: what a file system without locks takes away.
void tell_lockless_once(const std::string& name) {
    static std::mutex guard;
    static std::set<std::string> told;
    if (!lockless(name)) return;
    const std::lock_guard<std::mutex> hold(guard);
    if (!told.insert(name).second) return;
    say("NO FILE LOCKS IN open_h5_file( " + name + " ): its file system offers none, so nothing keeps other "
        "processes from writing it at the same time as this one");
}

// Set when this thread's last open gave up on a lock: the call stops there.
thread_local bool gave_up_on_lock = false;

hid_t refuse_locked(const std::string& name) {
    say("FILE LOCKED IN open_h5_file( " + name + " ), GAVE UP AFTER " + std::to_string(kLockPatience.count()) + " s");
    gave_up_on_lock = true;
    return H5I_INVALID_HID;
}

struct StackScan {
    bool lock = false;
    std::string innermost;
};

herr_t scan_error(unsigned n, const H5E_error2_t* error, void* data) {
    auto* scan = static_cast<StackScan*>(data);
    if (n != 0) return 0;
    scan->lock = error->cls_id == H5E_ERR_CLS && error->min_num == H5E_CANTLOCKFILE;
    if (error->desc != nullptr) scan->innermost = error->desc;
    return 0;
}

// What HDF5's current error stack says of its innermost failure (what went
// wrong rather than where): a lock held elsewhere, or why else. HDF5 also
// calls a failure to lock whatever the driver's lock callback refused, a
// journal that may not be undone, say, which is no reason to wait.
StackScan scan_error_stack() {
    StackScan scan;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, scan_error, &scan);
    return scan;
}

struct Opened {
    hid_t id = H5I_INVALID_HID;
    bool locked_out = false;  // another process held the file all along
    std::string hdf5_cause;   // HDF5's innermost error when it failed otherwise
};

// H5Fopen, quiet, waiting out a lock that another process holds.
Opened open_waiting(const std::string& name, unsigned flags) {
    ErrorPrintingOff quiet;
    Patience patience;
    Opened opened;
    for (;;) {
        opened.id = H5Fopen(name.c_str(), flags, file_access());
        if (opened.id >= 0) return opened;
        const StackScan scan = scan_error_stack();
        if (!scan.lock) {
            opened.hdf5_cause = scan.innermost;
            return opened;
        }
        if (!patience.pause()) {  // fault-check: locked-file-waited-for
            opened.locked_out = true;
            return opened;
        }
    }
}

// errno of opening the name with flags ourselves; 0 when that works.
int open_errno(const std::string& name, int flags) {
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

// The bytes of a new, empty HDF5 file, as HDF5 creates it with default
// properties; made once in memory, by HDF5 itself.
const std::vector<unsigned char>& empty_file_image() {
    static const std::vector<unsigned char> image = [] {
        std::vector<unsigned char> bytes;
        ErrorPrintingOff quiet;
        Hid fapl(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
        // In memory only: nothing reaches the disk under this name.
        if (!fapl.valid() || H5Pset_fapl_core(fapl.get(), 4096, false) < 0) return bytes;
        Hid file = own_file(H5Fcreate("videz5 empty file image", H5F_ACC_TRUNC, H5P_DEFAULT, fapl.get()));
        if (!file.valid() || H5Fflush(file.get(), H5F_SCOPE_LOCAL) < 0) return bytes;
        const ssize_t size = H5Fget_file_image(file.get(), nullptr, 0);
        if (size <= 0) return bytes;
        bytes.resize(static_cast<std::size_t>(size));
        if (H5Fget_file_image(file.get(), bytes.data(), bytes.size()) != size) bytes.clear();
        return bytes;
    }();
    return image;
}

constexpr int kLockedOut = -1;

// Gives the file under name an empty HDF5 file's bytes when it is empty,
// creating it when there is none. Only under an exclusive lock, and only when
// the file is still empty once the lock is held: a file that another process
// holds open, or has filled meanwhile, is never written. 0 when the name now
// holds a non-empty file (not necessarily ours), kLockedOut when another
// process held the file all along, or an errno value.
int fill_empty_file(const std::string& name) {
    const std::vector<unsigned char>& image = empty_file_image();
    if (image.empty()) return ENOMEM;
    // No O_TRUNC, no O_EXCL: whatever stands under the name is kept and looked at.
    const Fd fd(::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
    if (fd.get() < 0) return errno;
    Patience patience;
    while (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        // A file system without locks: there is nobody to exclude, as for HDF5's own opens.
        if (no_locks_here(errno)) {
            note_lockless(name);
            break;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return errno;
        if (!patience.pause()) return kLockedOut;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode) || st.st_size != 0) return 0;  // fault-check: filled-file-kept
    // One write of under a page: a kill leaves the file empty or whole.
    const ssize_t written = pwrite(fd.get(), image.data(), image.size(), 0);
    if (written < 0) return errno;
    if (static_cast<std::size_t>(written) != image.size()) return EIO;
    if (durable() && !sync_file_and_directory(fd.get(), name)) return errno;
    return 0;  // the lock goes with the descriptor
}

}  // namespace
}  // namespace videz5::detail

bool file_exists(const std::string& name) {
    // A FIFO exists, and opening it to read would wait for a writer for good.
    struct stat kind;
    if (stat(name.c_str(), &kind) == 0 && S_ISFIFO(kind.st_mode)) return true;
    std::ifstream stream(name);
    return stream.good();
}

hid_t open_h5_file(const std::string& name, bool must_exist) {
    return videz5::detail::open_named_file(name, must_exist, false);
}

namespace videz5::detail {
namespace {

// An existing, non-empty file under name that did not open read-write at the first try.
hid_t open_existing(const std::string& name, bool reading) {
    htri_t is_hdf5;
    {
        ErrorPrintingOff quiet;
        is_hdf5 = H5Fis_hdf5(name.c_str());
    }
    if (is_hdf5 <= 0) {
        // Someone else's data is refused rather than truncated; a file that
        // cannot even be read is reported with the reason.
        const int error = is_hdf5 < 0 ? open_errno(name, O_RDONLY) : 0;
        return error != 0 ? refuse_cannot_open(name, std::strerror(error)) : refuse_not_hdf5(name);
    }
    const Opened opened = open_waiting(name, H5F_ACC_RDWR);
    if (opened.id >= 0) return opened.id;
    if (opened.locked_out) return refuse_locked(name);
    const int error = open_errno(name, O_RDWR);
    if (reading && (error == EACCES || error == EPERM || error == EROFS)) {  // fault-check: archived-file-readable
        // An archived results file (read-only, or on a read-only file system)
        // can still be read.
        const Opened read_only = open_waiting(name, H5F_ACC_RDONLY);
        if (read_only.id >= 0) return read_only.id;
        if (read_only.locked_out) return refuse_locked(name);
    }
    refuse_cannot_open(name, error != 0 ? std::string(std::strerror(error))
                                        : opened.hdf5_cause.empty() ? "HDF5 cannot open it" : opened.hdf5_cause);
    // Again under the caller's error printing, so that HDF5 reports the failure
    // just as it did before there was any waiting.
    return H5Fopen(name.c_str(), H5F_ACC_RDWR, file_access());
}

}  // namespace

bool take_gave_up_on_lock() { return std::exchange(gave_up_on_lock, false); }

hid_t open_named_file(const std::string& name, bool must_exist, bool reading) {
    gave_up_on_lock = false;
    if (must_exist && !file_exists(name)) {  // fault-check: read-missing-file-aborts
        say("NONEXISTENT FILE IN open_h5_file( " + name + " )");
        say("ABORTING");
        end_process();
    }
    if (file_access() < 0) return refuse_cannot_open(name, "the library's file driver is not registered with HDF5");
    // Two rounds normally do: one gives a missing or empty file its first bytes,
    // the next opens it. More only while others keep replacing the name.
    for (int round = 0; round < 4; ++round) {
        {
            // By far the most common call reopens an HDF5 file that it wrote
            // before. Trying that open first, quietly, spares a separate
            // signature probe on every dump; whatever fails here is decided
            // below exactly as if this attempt had not been made.
            ErrorPrintingOff quiet;
            const hid_t file_id = H5Fopen(name.c_str(), H5F_ACC_RDWR, file_access());
            if (file_id >= 0) {
                tell_lockless_once(name);
                return file_id;
            }
        }
        struct stat st;
        if (stat(name.c_str(), &st) != 0) {
            if (errno != ENOENT) return refuse_cannot_open(name, std::strerror(errno));
        } else if (!S_ISREG(st.st_mode)) {
            // A directory or a device (/dev/null, say) is no place for a
            // results file, and a FIFO would block the probe for good.
            return refuse_not_hdf5(name);
        } else if (st.st_size > 0) {
            const hid_t file_id = open_existing(name, reading);
            tell_lockless_once(name);
            return file_id;
        }
        // Nothing, or an empty file, under the name.
        const int error = fill_empty_file(name);
        if (error == kLockedOut) return refuse_locked(name);
        if (error != 0) return refuse_cannot_open(name, std::strerror(error));
    }
    return refuse_cannot_open(name, "replaced by other processes while being opened");
}

hid_t open_h5_file_read_only(const std::string& name, bool* locked_out) {
    if (locked_out != nullptr) *locked_out = false;
    // As for opens by name: HDF5's own open of a FIFO waits for a writer for good.
    struct stat st;
    if (stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return H5I_INVALID_HID;
    const Opened opened = open_waiting(name, H5F_ACC_RDONLY);
    if (locked_out != nullptr) *locked_out = opened.locked_out;
    if (opened.id >= 0) tell_lockless_once(name);
    return opened.id;
}

hid_t file_access() {
    static std::mutex guard;
    static hid_t fapl = H5I_INVALID_HID;
    const std::lock_guard<std::mutex> hold(guard);
    const hid_t driver = ordered_driver();
    // No fallback to HDF5's own driver: files would lose every guarantee without a word.
    if (driver < 0) return H5I_INVALID_HID;
    if (fapl < 0 || H5Iget_type(fapl) != H5I_GENPROP_LST || H5Pget_driver(fapl) != driver) {
        fapl = H5Pcreate(H5P_FILE_ACCESS);
        // No aggregation blocks: HDF5 hands out metadata and small raw data
        // from 2 KiB blocks whose unused rest is lost when the file closes,
        // and the library closes its file after every call, so the blocks'
        // rests made files 2.5 to 3.6 times their data. Each piece is
        // allocated at its own size instead, at no measurable cost per call.
        // No sieve buffer either: raw data then reaches the driver with its
        // write, not when the dataset closes, where a failed write fails HDF5
        // 1.10's close of the dataset, which keeps a half-freed object that
        // brings the process down at exit. The whole arrays the library
        // writes go out in one write each, as before.
        // fault-check: raw-writes-not-held-back
        const bool sieve_off = fapl >= 0 && H5Pset_sieve_buf_size(fapl, 0) >= 0;
        if (fapl >= 0 && (!sieve_off || H5Pset_driver(fapl, driver, nullptr) < 0 ||
                          H5Pset_meta_block_size(fapl, 0) < 0 || H5Pset_small_data_block_size(fapl, 0) < 0)) {
            H5Pclose(fapl);
            fapl = H5I_INVALID_HID;
        }
        // A file held across calls keeps the metadata of every object it
        // wrote in HDF5's cache, and each flush walks all of it: evicted when
        // the object closes, the cache holds what the calls use. Parallel
        // HDF5 does not offer it; files there keep HDF5's default.
        const ErrorPrintingOff quiet;
        if (fapl >= 0) H5Pset_evict_on_close(fapl, 1);
    }
    return fapl;
}

namespace {

// The name the file of any of its objects was opened under: the driver's.
std::string file_name_of(hid_t id) {
    const ssize_t length = H5Fget_name(id, nullptr, 0);
    std::string name(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) H5Fget_name(id, name.data(), name.size() + 1);
    return name;
}

// HDF5's close succeeds even when the last writes of the file it closed did
// not (see the driver): the changes are lost, and the caller of the close
// that closed the file hears it, whichever object's close that was.
int told_close(const std::string& name, herr_t status) {
    const std::string cause = name.empty() ? std::string() : take_failed_close(name);
    if (cause.empty()) return status;
    say("ERROR: H5Fclose(): Failed to write file " + name + " (" + cause + ")!");
    return status < 0 ? status : kClosedButNotWritten;
}

}  // namespace

int close_file(hid_t file_id) {
    keep_groups_open(file_id, false);
    const std::string name = file_name_of(file_id);
    return told_close(name, H5Fclose(file_id));
}
int close_group(hid_t group_id) {
    keep_groups_open(group_id, false);
    const std::string name = file_name_of(group_id);
    return told_close(name, H5Gclose(group_id));  // fault-check: group-close-tells
}

// The driver commits at every flush, in the same order as at a close.
int commit_file(hid_t loc_id) { return H5Fflush(loc_id, H5F_SCOPE_GLOBAL) < 0 ? -1 : 0; }

FileLock::FileLock(const std::string& name, bool exclusive) {
    if (!hdf5_locks_files()) {
        held_ = true;
        return;
    }
    fd_ = ::open(name.c_str(), (exclusive ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) return;
    Patience patience;
    while (flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        if (no_locks_here(errno)) {
            note_lockless(name);
            break;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || !patience.pause()) return;
    }
    held_ = true;
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // the lock goes with the descriptor
}

}  // namespace videz5::detail
