/*
 * videz5_c_mpi: the collective calls of libvidez5_c_mpi, the flavour of
 * videz5_c built against parallel HDF5. That library also has every entry
 * point of videz5_c.h, each rank using it on its own as a serial program does.
 *
 * Collective: every rank of the communicator calls with the same file name,
 * path, global sizes and element type, and its own block. Sizes and offsets
 * are Fortran order, three each; a global size of 0 means the dimension is
 * absent (as for ftoc_h5dump_data_), and a block has offset and count 0 there.
 * Offsets count from 0. A block with a count of 0 is empty and still takes
 * part. The communicator is a Fortran handle (MPI_Comm_c2f of a C one). The
 * status is a videz5_status value, the same on every rank; lines are printed
 * once, by rank 0 of the communicator.
 */
#ifndef VIDEZ5_C_MPI_H
#define VIDEZ5_C_MPI_H

#include "videz5_c.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One dataset holding the global array, laid out as ftoc_h5dump_data_ lays
 * out the assembled array; each rank writes its block. The blocks must cover
 * the array exactly once. Type codes VIDEZ5_DOUBLE and VIDEZ5_INT.
 */
VIDEZ5_API void ftoc_h5pdump_data_(const int* comm, const char* name, const unsigned int* name_length,
                                   const char* path, const unsigned int* path_length, const void* block,
                                   const unsigned int* global, const unsigned int* offset,
                                   const unsigned int* count, const int* type_code, int* status);
/*
 * Each rank reads its block of the dataset at path, which must have the dump's
 * sizes of the global array, as ftoc_h5read_data_checked_ reads; blocks may
 * overlap or leave parts unread. element_size is the bytes of one buffer element.
 */
VIDEZ5_API void ftoc_h5pread_data_(const int* comm, const char* name, const unsigned int* name_length,
                                   const char* path, const unsigned int* path_length, void* block,
                                   const unsigned int* global, const unsigned int* offset,
                                   const unsigned int* count, const int* element_size, const int* type_code,
                                   int* status);

#ifdef __cplusplus
}
#endif

#endif
