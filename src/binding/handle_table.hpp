// Fortran callers hold identifiers in default (32-bit) integers, but HDF5 1.10
// identifiers are 64-bit with the object type in the top bits, so cutting them
// would alias. Each identifier handed to Fortran gets a positive handle instead,
// never reused in the process, so a stale handle cannot reach another object.
#pragma once

#include <hdf5.h>

namespace videz5::detail {

// A new handle for id; -1 when id is negative (a failure) or handles ran out.
int register_handle(hid_t id);
// The identifier behind handle; an invalid identifier when the handle is unknown.
hid_t lookup_handle(int handle);
void forget_handle(int handle);

}  // namespace videz5::detail
