// Sizes that cannot describe the caller's array. A dump trusts its sizes to
// describe the caller's memory; garbage sizes (an unset variable, a wrong
// argument order) would have HDF5 read far past the array: a crash, or a
// dataset of that size created over whatever memory follows. What is plainly
// impossible is refused before any file is touched: a byte count beyond 64
// bits, or an array whose last byte is not mapped in this process.
// Sizes that overstate the array but end in mapped memory cannot be told apart.
#pragma once

#include <cstddef>
#include <string>

namespace videz5::detail {

// Prints "INVALID TYPE CODE IN entry( path, code )" for a code outside
// VIDEZ5_DOUBLE to highest_code, or "INVALID STRING LENGTH IN entry( path,
// length )" for strings of no length, and returns false; every entry that
// takes a type code checks it this way before any file is touched.
bool element_code_ok(const char* entry, const std::string& path, int type_code, int string_length,
                     int highest_code);

// Prints "INVALID SIZES IN entry( path, dim1, dim2, dim3 ) OF n BYTES EACH" and
// returns false when dim1 x dim2 x dim3 elements (0 = absent) cannot be data.
bool dump_sizes_ok(const char* entry, const std::string& path, const void* data, unsigned int dim1,
                   unsigned int dim2, unsigned int dim3, std::size_t element_size);

// The same for the array entries: sizes (Fortran order) of which none may be
// 0; none at all is a scalar. The line lists them all.
bool array_sizes_ok(const char* entry, const std::string& path, const void* data, const unsigned int* sizes,
                    int rank, std::size_t element_size);

// The same for a plot record of counts nx, ny: data, y and x as the record
// reads them; the line is "INVALID SIZES IN entry( path, nx, ny )".
bool plot_sizes_ok(const char* entry, const std::string& path, const void* data, std::size_t data_element_size,
                   const double* x, const double* y, unsigned int nx, unsigned int ny);

}  // namespace videz5::detail
