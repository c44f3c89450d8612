// Whole reads and writes at an offset, syncs and lock errors: the POSIX calls
// under the driver and its journal, each spelled out once.
#pragma once

#include <sys/types.h>

#include <cerrno>

#include <cstddef>
#include <cstdint>
#include <string>

namespace videz5::detail {

// 0, or an errno value. Goes on after EINTR and short writes; a write that
// makes no progress is an error (EIO), not a reason to try again for good.
int write_fully(int fd, const void* bytes, std::size_t size, std::uint64_t at);

// The bytes read: fewer than asked only at the end of the file; -1 on an error.
ssize_t read_fully(int fd, void* bytes, std::size_t size, std::uint64_t at);

// Forces the entries of the directory that holds path (a file made or
// removed there) to disk; 0 or an errno value.
int sync_directory(const std::string& path);

// Forces a file's bytes, and its name in its directory, to disk.
bool sync_file_and_directory(int fd, const std::string& name);

// The errno values of flock on a file system that offers no locks at all
// (Lustre mounted without flock, some NFS setups).
inline bool no_locks_here(int error) {
    return error == ENOSYS || error == ENOLCK;
}

// HDF5's own words for a failed call: "errno = N, error message = '...'".
std::string errno_text(int error);

}  // namespace videz5::detail
