// Internal helpers of the files-and-groups layer, for the layers above it.
#pragma once

#include "videz5_c.h"
#include "../driver/driver.hpp"
#include "../detail/error_printing.hpp"
#include "../detail/hid.hpp"

#include <chrono>
#include <string>
#include <vector>

namespace videz5::detail {

// A group walk whose groups are closed, deepest first, when it goes out of scope.
class PathWalk {
public:
    PathWalk(hid_t loc_id, const std::string& path, int offset, bool create);
    ~PathWalk();
    PathWalk(const PathWalk&) = delete;
    PathWalk& operator=(const PathWalk&) = delete;

    // The group that holds the last component (offset 0) or that it names (offset 1).
    hid_t deepest() const { return chain_[depth_ - 1]; }
    const std::string& last_component() const { return components_.back(); }
    // Whether this walk created the deepest group: it is empty then.
    bool created_deepest() const { return created_deepest_; }
    // Hands the deepest group to the caller: it is no longer closed here.
    hid_t release_deepest();

private:
    std::vector<std::string> components_;
    std::vector<hid_t> chain_;
    std::vector<char> kept_;  // per level: a group kept open between calls, not closed here
    unsigned int depth_ = 1;
    int offset_;
    bool created_deepest_ = false;
};

// The dataset or group at path below loc_id, opened without creating or
// printing anything; a path that names its own group (empty, "/") opens
// loc_id's. Invalid when there is none: nothing, a dangling link, another kind
// of object.
Hid open_object_at(hid_t loc_id, const std::string& path);
// The names of the members of the group at path (as open_object_at finds it),
// in HDF5's name order. VIDEZ5_OK; VIDEZ5_NO_DATASET when there is no group
// there; VIDEZ5_READ_FAILED. Prints nothing.
int list_group(hid_t loc_id, const std::string& path, std::vector<std::string>& names);
// Unlinks the dataset or group at path. VIDEZ5_OK; VIDEZ5_NO_DATASET when
// there is none; VIDEZ5_WRITE_REFUSED for a path that names loc_id's own
// group; VIDEZ5_WRITE_FAILED (HDF5 prints why). The groups kept open between
// calls are closed after a delete.
int unlink_at(hid_t loc_id, const std::string& path);

// While a held file defers its commits, the groups that walks from loc_id open
// stay open between calls (up to a bound): HDF5 evicts an object's metadata
// when it closes, so each call would read its group's header, index and names
// again. keep false closes them; so do close_file and close_group of loc_id.
void keep_groups_open(hid_t loc_id, bool keep);
// Closes every group kept open so far, below any location, keeping on
// keeping them: the next walks open and keep them anew.
void forget_kept_groups();

// Closes identifiers handed out by open_h5_file and open_path; negative on
// failure. When the close closed the file and its last writes failed, that is
// told in one line and the result is kClosedButNotWritten: the identifier is
// gone all the same.
inline constexpr int kClosedButNotWritten = -2;
int close_file(hid_t file_id);
int close_group(hid_t group_id);
// Commits what the file that loc_id belongs to has changed so far, as a close
// would, and keeps it open; negative on failure (HDF5 tells why).
int commit_file(hid_t loc_id);
// A file opened for one call, closed (and its failure told) when the call ends.
inline Hid own_opened_file(hid_t id) { return Hid(id, close_file); }

// The file access property list for every file the library opens: through
// the library's own driver (driver.hpp). Every open must use it, since HDF5
// finds a file already open in the process only through the same driver.
// Shared and kept open: never close it. Negative when the driver is missing.
hid_t file_access();

// How long an open waits for a lock that another process holds before it gives up.
inline constexpr std::chrono::seconds kLockPatience{10};

// Opens a file by name read-write, or gives it its first bytes when nothing or
// an empty file stands under the name; a non-empty file that is not HDF5 is
// refused. Waits out another process's lock. Prints one line naming the file
// and the cause when it fails. With must_exist, a missing file prints two lines
// and aborts the process. With reading, a file that may not be written (its
// permissions, a read-only file system) is opened read-only instead.
hid_t open_named_file(const std::string& name, bool must_exist, bool reading);

// Whether the last open_named_file of this thread gave up waiting for a lock
// (and said so): the call it served stops there.
bool take_gave_up_on_lock();

// Opens an existing HDF5 file read-only, printing nothing, waiting out a lock
// that another process holds; negative when there is no file under the name,
// it is no regular file (a directory, a FIFO) or not HDF5, or it stayed locked
// (locked_out then says so).
hid_t open_h5_file_read_only(const std::string& name, bool* locked_out = nullptr);

// The lock HDF5 1.10 takes on the files it opens (flock: exclusive for a
// writer, shared for readers), for files HDF5 opens through MPI-IO, which
// takes none: while one rank holds it, other processes' calls and viewers
// wait as for any writer. Waits out another process's lock as opens do.
// Holds nothing where HDF5 would not lock either (HDF5_USE_FILE_LOCKING=FALSE,
// a file system without locks). Never to be held around an HDF5 open of the
// same file in this process: the two locks exclude each other.
class FileLock {
public:
    FileLock(const std::string& name, bool exclusive);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False when another process held the file all along (or it cannot be opened).
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

}  // namespace videz5::detail
