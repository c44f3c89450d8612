// Opening a file only to look into it. Read-only, so that it works on files the
// process may not write and beside viewers that hold the file open (HDF5's file
// locks let readers share); quiet, since a missing file is an answer here; and
// never creating anything, unlike open_h5_file.
#include "access.hpp"

namespace videz5::detail {

hid_t open_h5_file_read_only(const std::string& name) {
    ErrorPrintingOff quiet;
    // The library's own driver: HDF5 finds a file this process already holds
    // open only when both opens use the same one.
    return H5Fopen(name.c_str(), H5F_ACC_RDONLY, file_access());
}

}  // namespace videz5::detail
