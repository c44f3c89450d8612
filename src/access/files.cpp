// Opening files by name: read-write when HDF5, created otherwise, never clobbered.
#include "access.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

bool file_exists(const std::string& name) {
    std::ifstream stream(name);
    return stream.good();
}

hid_t open_h5_file(const std::string& name, bool must_exist) {
    if (must_exist && !file_exists(name)) {
        std::cout << "NONEXISTENT FILE IN open_h5_file( " << name << " )" << std::endl;
        std::cout << "ABORTING" << std::endl;
        std::abort();
    }

    htri_t is_hdf5;
    {
        // A missing file is the ordinary case here, not an error worth printing.
        videz5::detail::ErrorPrintingOff quiet;
        is_hdf5 = H5Fis_hdf5(name.c_str());
    }
    if (is_hdf5 > 0) return H5Fopen(name.c_str(), H5F_ACC_RDWR, H5P_DEFAULT);

    struct stat st;
    if (stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        // Someone else's data (or a file we cannot read): refuse rather than truncate.
        if (st.st_size > 0) {
            std::cout << "NOT AN HDF5 FILE IN open_h5_file( " << name << " ), LEFT UNTOUCHED" << std::endl;
            return H5I_INVALID_HID;
        }
        // An empty file holds nothing and may be replaced.
        return H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    }
    // Exclusive: a file that appeared since the probe makes this fail instead of being truncated.
    return H5Fcreate(name.c_str(), H5F_ACC_EXCL, H5P_DEFAULT, H5P_DEFAULT);
}

namespace videz5::detail {

int close_file(hid_t file_id) { return H5Fclose(file_id); }
int close_group(hid_t group_id) { return H5Gclose(group_id); }

}  // namespace videz5::detail
