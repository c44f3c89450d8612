// The file driver below HDF5, as the layers above see it.
#pragma once

#include <hdf5.h>

#include <cstddef>
#include <string>

namespace videz5::detail {

// The driver under every file the library opens, registered with HDF5 (again
// after H5close, which forgets registrations): HDF5's POSIX access, with
// metadata committed in an order that a kill at any moment leaves readable,
// and an undo journal where no order can (ordered_driver.cpp). Negative when
// HDF5 refused the registration.
hid_t ordered_driver();

// Why the last close of the file `name` (as opened) could not write what the
// call had changed, once; empty when it could. The file keeps what it held before.
std::string take_failed_close(const std::string& name);

// The durable mode: every commit also reaches the disk (fdatasync at the
// points its order needs), for nodes that can lose power. Off unless the
// environment sets VIDEZ5_DURABLE to 1 (or yes, on, true) or a call switches it.
bool durable();
void set_durable(bool on);

// Reads bytes of a file open through this driver as they are on disk, past
// HDF5, when the disk holds there what HDF5 would read. The driver is looked
// up once, for all the reads of one transfer. read is false when the file is
// not open through this driver, when bytes of the range still wait in the
// driver to be committed (or lie in the superblock), or when the read fell
// short: the caller then reads through HDF5.
class FileBytes {
public:
    explicit FileBytes(hid_t file_id);
    bool read(haddr_t addr, std::size_t size, void* buffer) const;

private:
    const void* handle_ = nullptr;  // the driver's, valid while the file is open
};

// Files whose file system offers no locks at all (flock fails with ENOSYS or
// ENOLCK, as on Lustre mounted without flock): noted by whoever met that,
// asked by the layer that tells the user.
void note_lockless(const std::string& name);
bool lockless(const std::string& name);

// Whether HDF5 locks the files it opens (and calls the driver's lock): its
// environment variable HDF5_USE_FILE_LOCKING can switch locking off.
bool hdf5_locks_files();

// While one lives, raw data that this thread writes within [addr, addr + size)
// (a series' partly filled chunk) changes only bytes that no reader sees yet
// (its next step, beyond the stored extent, which the metadata committed after
// it makes visible) and rewrites the others with the values they hold: a kill
// before that commit leaves the file as it was, so such writes need no undo.
class UnseenRawWrites {
public:
    UnseenRawWrites(haddr_t addr, hsize_t size);
    ~UnseenRawWrites();
    UnseenRawWrites(const UnseenRawWrites&) = delete;
    UnseenRawWrites& operator=(const UnseenRawWrites&) = delete;
};

}  // namespace videz5::detail
