// Opening files by name: read-write when HDF5, created otherwise, never clobbered.
#include "access.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

namespace {

hid_t refuse_not_hdf5(const std::string& name) {
    std::cout << "NOT AN HDF5 FILE IN open_h5_file( " << name << " ), LEFT UNTOUCHED" << std::endl;
    return H5I_INVALID_HID;
}

}  // namespace

bool file_exists(const std::string& name) {
    // A FIFO exists, and opening it to read would wait for a writer for good.
    struct stat kind;
    if (stat(name.c_str(), &kind) == 0 && S_ISFIFO(kind.st_mode)) return true;
    std::ifstream stream(name);
    return stream.good();
}

hid_t open_h5_file(const std::string& name, bool must_exist) {
    if (must_exist && !file_exists(name)) {
        std::cout << "NONEXISTENT FILE IN open_h5_file( " << name << " )" << std::endl;
        std::cout << "ABORTING" << std::endl;
        std::abort();
    }

    {
        // By far the most common call reopens an HDF5 file that it wrote before.
        // Trying that open first, quietly, spares a separate signature probe
        // (one more open, read and close of the file) on every dump; whatever
        // fails here is decided below exactly as if this attempt had not been made.
        videz5::detail::ErrorPrintingOff quiet;
        const hid_t file_id = H5Fopen(name.c_str(), H5F_ACC_RDWR, videz5::detail::file_access());
        if (file_id >= 0) return file_id;
    }

    struct stat st;
    const bool stands = stat(name.c_str(), &st) == 0;
    // A directory or a device (/dev/null, say) is no place for a results file
    // either, and a FIFO would block the probe below for good.
    if (stands && !S_ISREG(st.st_mode)) {
        return refuse_not_hdf5(name);
    }

    htri_t is_hdf5;
    {
        // A missing file is the ordinary case here, not an error worth printing.
        videz5::detail::ErrorPrintingOff quiet;
        is_hdf5 = H5Fis_hdf5(name.c_str());
    }
    // An HDF5 file that would not open read-write (permissions, a lock): open it
    // again with the caller's error printing, so that the failure is reported
    // just as before; a lock held by another process is waited out first.
    if (is_hdf5 > 0) return videz5::detail::open_h5_file_waiting(name);

    if (stands) {
        // Someone else's data (or a file we cannot read): refuse rather than truncate.
        if (st.st_size > 0) {
            return refuse_not_hdf5(name);
        }
        // An empty file holds nothing and may be replaced.
        return videz5::detail::create_h5_file(name, H5F_ACC_TRUNC);
    }
    // Exclusive: a file that appeared since the probe makes this fail instead of being truncated.
    return videz5::detail::create_h5_file(name, H5F_ACC_EXCL);
}

namespace videz5::detail {

int close_file(hid_t file_id) { return H5Fclose(file_id); }
int close_group(hid_t group_id) { return H5Gclose(group_id); }

}  // namespace videz5::detail
