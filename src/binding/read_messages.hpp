// What the checked reads (one process, or the ranks of an MPI job together)
// print when they cannot read, named after the entry point that was called.
#pragma once

#include "videz5_c.h"

#include <hdf5.h>

#include <string>
#include <vector>

namespace videz5::detail {

// "WHAT IN entry( name )".
std::string read_message(const char* entry, const std::string& what, const std::string& name);

// The elements a type code names, as the lines say it: "double", "int",
// "float", "int64", "strings of 8 bytes".
std::string element_name(int type_code, int string_length);

// What the arguments say about the buffer's elements must agree before any file
// is opened: a wrong element size would make even a matching shape overrun.
// VIDEZ5_OK, or VIDEZ5_TYPE_MISMATCH after one line.
int check_read_elements(const char* entry, const std::string& path, int type_code, int string_length,
                        int element_size, int highest_code = VIDEZ5_STRING);
// The line for a file that did not open for reading.
void say_no_file(const char* entry, const std::string& name, bool locked_out);
// The line for a read status other than VIDEZ5_OK (and VIDEZ5_NO_FILE); wanted
// are the buffer's sizes in HDF5 order.
void say_read_status(const char* entry, int status, const std::string& path, const std::vector<hsize_t>& stored,
                     const std::vector<hsize_t>& wanted, int type_code, int string_length);

}  // namespace videz5::detail
