// Arrays that the ranks of an MPI job write and read together, one block
// each, in one file through parallel HDF5 (MPI-IO). Every routine here is
// collective: every rank of the communicator calls it, and every rank gets
// the same answer.
#pragma once

#include "videz5_c.h"

#include <mpi.h>

#include <cstdint>
#include <string>
#include <vector>

namespace videz5::detail {

// One rank's part of a global array, in Fortran order (dimension 1 fastest).
// A global size of 0 means the dimension is absent, as for the dump; a block
// has offset and count 0 there. A count of 0 in a present dimension is an
// empty block, which still takes part.
struct Block {
    unsigned int global[3];
    unsigned int offset[3];
    unsigned int count[3];

    std::uint64_t elements() const;  // in the block: 0 when empty
    // In HDF5 order, absent dimensions dropped: the dump's dimension list,
    // and where the block lies in it.
    std::vector<hsize_t> dims() const;
    std::vector<hsize_t> start() const;
    std::vector<hsize_t> counts() const;
};

// Whether every rank says yes.
bool all_ranks(MPI_Comm comm, bool yes);
// The status every rank takes: the lowest (negative statuses are failures).
int agreed_status(MPI_Comm comm, int status);

// Checks, before any file is touched, that every rank passed the same file
// name, path, global sizes and element (type code and size), that each block
// lies inside the global array and, with tiling, that the blocks cover it
// exactly once. One line naming what differs, from the first rank (the
// others are muted by the caller), and false on every rank when not.
bool arguments_agree(MPI_Comm comm, const char* entry, const std::string& name, const std::string& path,
                     int type_code, int element_size, const Block& block, bool tiling);

// The guarded dump of the global array, each rank writing its block: the
// file opened or created as the serial dump does, the path's groups made as
// it makes them, the dataset created, or overwritten in place when its shape
// is unchanged and its type holds every rank's values, else refused with the
// serial refusal lines. VIDEZ5_OK, VIDEZ5_NO_FILE, VIDEZ5_WRITE_REFUSED or
// VIDEZ5_WRITE_FAILED, the same on every rank.
int collective_dump(MPI_Comm comm, const std::string& name, const std::string& path, const void* data,
                    const Block& block, hid_t type_id);

// Each rank reads its block of the dataset at path, whose stored sizes must be
// the dump's of the global sizes, into buffer, under the checked read's rules.
// A VIDEZ5_ status, the same on every rank; stored_dims as for the checked
// read; locked_out when another process held the file for writing all along.
// Prints nothing.
int collective_read(MPI_Comm comm, const std::string& name, const std::string& path, void* buffer,
                    const Block& block, hid_t type_id, std::vector<hsize_t>& stored_dims, bool& locked_out);

}  // namespace videz5::detail
