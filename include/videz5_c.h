/*
 * videz5_c: store Fortran simulation results in HDF5 files and read them back.
 *
 * Two faces:
 *  - C++ routines (below, C++ only) working on real HDF5 identifiers (hid_t);
 *  - Fortran-callable entry points (C linkage, every argument by reference,
 *    each character argument followed by an explicit length). Identifiers cross
 *    that boundary as positive 32-bit handles that the library maps to hid_t;
 *    a negative value always means failure.
 *
 * Dimension order: Fortran sizes (dim1 fastest) are reversed into HDF5's
 * row-major order, and sizes of 0 are dropped: T(10,20) becomes a 20 x 10
 * dataset. The memory is written as it lies, nothing is reordered.
 */
#ifndef VIDEZ5_C_H
#define VIDEZ5_C_H

#include <hdf5.h>

/* What the shared library exports; everything else in it is hidden. */
#define VIDEZ5_API __attribute__((visibility("default")))

/* Element type codes of the array entry points. */
enum videz5_element_type {
    VIDEZ5_DOUBLE = 0, /* native double */
    VIDEZ5_INT = 1,    /* native int */
    VIDEZ5_STRING = 2, /* space-padded fixed-length string of string_length bytes */
    /* Only the array entries (ftoc_h5dump_array_ and the calls beside it) take these two. */
    VIDEZ5_FLOAT = 3,  /* native float */
    VIDEZ5_INT64 = 4   /* native 64-bit integer */
};

/* The most dimensions the array entries take: Fortran 2008 allows 15, HDF5 32;
   7 is what Fortran 90 allowed and what codes use. */
#define VIDEZ5_MAX_RANK 7

/* Status of the checked read, of a write (ftoc_last_write_status_) and of the
   collective calls (videz5_c_mpi.h); the Fortran module has the same names
   and values. */
enum videz5_status {
    VIDEZ5_OK = 0,
    VIDEZ5_NO_FILE = -1,        /* no file under the name, or none HDF5 can open for reading */
    VIDEZ5_NO_DATASET = -2,     /* nothing at the path, or not a dataset */
    VIDEZ5_SHAPE_MISMATCH = -3, /* the stored sizes are not the buffer's */
    VIDEZ5_TYPE_MISMATCH = -4,  /* the buffer's elements are not what the code says, or cannot take the stored ones */
    VIDEZ5_READ_FAILED = -5,    /* HDF5 failed the read itself */
    VIDEZ5_ARGUMENTS_DIFFER = -6, /* collective: the ranks' arguments differ, or their blocks do not fit */
    VIDEZ5_WRITE_REFUSED = -7,  /* a write refused, nothing changed: the stored dataset's shape or type, bad sizes or code */
    VIDEZ5_WRITE_FAILED = -8,   /* HDF5 failed to write, or to commit what the call wrote */
    VIDEZ5_NO_ATTRIBUTE = -9,   /* the dataset or group has no attribute of that name */
    VIDEZ5_NAMES_CUT = 1        /* a listing done, but some names were longer than the caller's and were cut */
};

#ifdef __cplusplus
#include <string>
#include <vector>

/* Text and paths. */

/* The Fortran text: at most *length bytes, cut at the first NUL; blanks kept. */
VIDEZ5_API std::string charToString(const char* chars, const unsigned int* length);
/* Appends the pieces of text cut at delimiter; one leading delimiter is skipped. */
VIDEZ5_API void split_string(const std::string& text, std::vector<std::string>& pieces, char delimiter);

/* Files and groups. */

VIDEZ5_API bool file_exists(const std::string& name);
/*
 * Opens an HDF5 file read-write, or creates it when nothing stands under the
 * name (an empty file may be replaced). A non-empty file that is not HDF5 is
 * never touched: one line is printed and a negative identifier returned. With
 * must_exist, a missing file prints two lines and aborts the process.
 */
VIDEZ5_API hid_t open_h5_file(const std::string& name, bool must_exist);
/*
 * Walks components below loc_id, one group per level (created when missing and
 * `create` is set), with HDF5's error printing off. chain[0] = loc_id, chain[i]
 * the group of component i-1; the walk covers components.size() + offset - 1
 * components and never writes past chain.size(). depth = filled slots.
 */
VIDEZ5_API void open_path(hid_t loc_id, const std::vector<std::string>& components, std::vector<hid_t>& chain,
               unsigned int& depth, int offset, bool create);
/* Closes the groups a walk opened, deepest first; chain[0] stays open. */
VIDEZ5_API void close_path(const std::vector<std::string>& components, const std::vector<hid_t>& chain, int offset);

/* Dataset transfer. */

/*
 * The one way datasets are written: created when absent; overwritten in place
 * when rank and every size match and the stored element type holds every new
 * value exactly (the stored type stays, HDF5 converts); otherwise refused with
 * a message on standard output and -1.
 */
VIDEZ5_API int H5LTmake_dataset_sane(hid_t loc_id, const char* dset_name, int rank, const hsize_t* dims,
                          hid_t type_id, const void* buffer);
/* Dumps an array of Fortran sizes dim1 x dim2 x dim3 (0 = absent) at path. */
VIDEZ5_API void h5dump_data(hid_t loc_id, const std::string& path, const void* data, const unsigned int* dim1,
                 const unsigned int* dim2, const unsigned int* dim3, hid_t type_id);
/* Reads the whole dataset at path; the buffer must hold all of it. */
VIDEZ5_API void h5read_data(hid_t loc_id, const std::string& path, void* buffer, hid_t type_id);
/* One one-element fixed-length string dataset per (names[i], values[i]). */
VIDEZ5_API void h5dump_str_dataset(hid_t loc_id, const std::vector<std::string>& names,
                        const std::vector<std::string>& values);
/*
 * The rank of the dataset at path, its sizes (HDF5 order, slowest first) in
 * dims; -1 and no sizes when there is no dataset there. A scalar has rank 0.
 * Prints nothing and creates nothing.
 */
VIDEZ5_API int h5get_dims(hid_t loc_id, const std::string& path, std::vector<hsize_t>& dims);
/*
 * Reads the dataset at path only when its sizes are exactly the dump's
 * dimension list of dim1 x dim2 x dim3 (Fortran sizes, 0 = absent), type_id is
 * element_size bytes and HDF5 can convert every stored value to it without
 * changing it (no fraction dropped, nothing out of range). Otherwise
 * the buffer is left alone and a negative VIDEZ5_ status returned. stored_dims
 * receives the stored sizes (HDF5 order) whenever a dataset was found. Prints
 * nothing.
 */
VIDEZ5_API int h5read_data_checked(hid_t loc_id, const std::string& path, void* buffer, const unsigned int* dim1,
                        const unsigned int* dim2, const unsigned int* dim3, size_t element_size, hid_t type_id,
                        std::vector<hsize_t>& stored_dims);

/* Plot records. */

/*
 * Writes "data", "Y", "X", "title", "xtitle", "ytitle" into the group at path.
 * data holds nx x ny values, X fastest. Layout kept as stored files expect:
 * "Y" takes the first count above 1 (ny, else nx) from y, "X" takes nx values
 * from x only when both counts exceed 1, else one. So with ny <= 1 < nx, y must
 * hold nx values and x one.
 */
VIDEZ5_API void printh5(hid_t loc_id, const std::string& path, const double* data, const double* x, const double* y,
             const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles);
VIDEZ5_API void printh5(hid_t loc_id, const std::string& path, const int* data, const double* x, const double* y,
             const unsigned int* nx, const unsigned int* ny, std::vector<std::string>& titles);

extern "C" {
#endif

/*
 * Fortran entry points. Handles are default Fortran integers. Element type
 * codes as videz5_element_type; any other code aborts the process (the read
 * prints "ABORT" first).
 * The seven-argument read trusts the buffer to hold the whole dataset.
 */
VIDEZ5_API void ftoc_open_file_id_(const char* name, const unsigned int* name_length, int* file_id);
VIDEZ5_API void ftoc_close_file_id_(const int* file_id);
VIDEZ5_API void ftoc_open_group_id_(const int* loc_id, const char* path, const unsigned int* path_length, int* group_id);
VIDEZ5_API void ftoc_close_group_id_(const int* group_id);

VIDEZ5_API void ftoc_h5dump_data_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, const void* data, const unsigned int* dim1,
                       const unsigned int* dim2, const unsigned int* dim3, const int* type_code,
                       const int* string_length);
VIDEZ5_API void ftoc_h5read_data_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, void* buffer, const int* type_code,
                       const int* string_length);

VIDEZ5_API void ftoc_printh5_double_(const char* name, const unsigned int* name_length, const char* path,
                          const unsigned int* path_length, const double* data, const double* x, const double* y,
                          const unsigned int* nx, const unsigned int* ny, const char* title,
                          const unsigned int* title_length, const char* xtitle, const unsigned int* xtitle_length,
                          const char* ytitle, const unsigned int* ytitle_length);
VIDEZ5_API void ftoc_printh5_double_notitle_(const char* name, const unsigned int* name_length, const char* path,
                                  const unsigned int* path_length, const double* data, const double* x,
                                  const double* y, const unsigned int* nx, const unsigned int* ny);
VIDEZ5_API void ftoc_printh5_int_(const char* name, const unsigned int* name_length, const char* path,
                       const unsigned int* path_length, const int* data, const double* x, const double* y,
                       const unsigned int* nx, const unsigned int* ny, const char* title,
                       const unsigned int* title_length, const char* xtitle, const unsigned int* xtitle_length,
                       const char* ytitle, const unsigned int* ytitle_length);
VIDEZ5_API void ftoc_printh5_int_notitle_(const char* name, const unsigned int* name_length, const char* path,
                               const unsigned int* path_length, const int* data, const double* x,
                               const double* y, const unsigned int* nx, const unsigned int* ny);

/*
 * The durable mode: from now on every call's changes also reach the disk
 * before it returns (fdatasync where the commit order needs it), for nodes
 * that can lose power. *on 0 switches it off. Off unless this call or the
 * environment variable VIDEZ5_DURABLE=1 switches it on; process-wide.
 */
VIDEZ5_API void ftoc_set_durable_(const int* on);


/*
 * Beside the ten: they open the file read-only, never create it and never end
 * the process. The rank and sizes (Fortran order, absent ones 0) of the dataset
 * at path; rank -1 when there is none, and nothing printed. Sizes are handed
 * back for ranks 1 to 3 only.
 */
VIDEZ5_API void ftoc_h5get_dims_(const char* name, const unsigned int* name_length, const char* path,
                      const unsigned int* path_length, int* rank, unsigned int* dim1, unsigned int* dim2,
                      unsigned int* dim3);
/*
 * The read that cannot overrun: the caller's Fortran sizes (as for the dump) and
 * bytes per element must describe the stored dataset exactly; otherwise one line
 * is printed, the buffer is left alone and status is negative (VIDEZ5_ values).
 */
VIDEZ5_API void ftoc_h5read_data_checked_(const char* name, const unsigned int* name_length, const char* path,
                               const unsigned int* path_length, void* buffer, const unsigned int* dim1,
                               const unsigned int* dim2, const unsigned int* dim3, const int* element_size,
                               const int* type_code, const int* string_length, int* status);

/*
 * Held files: the same calls through a handle from ftoc_open_file_id_ (or a
 * group handle from ftoc_open_group_id_, paths then below that group) in place
 * of a file name, so that no call pays for HDF5's open and close of the file.
 * Each call that changes the file is committed before it returns, as a call by
 * name is at its close, so a kill loses nothing that returned; unless commits
 * are deferred. Messages name these entry points; an unknown handle prints
 * "INVALID HANDLE IN entry( handle )" and the call does nothing (the read's
 * status is VIDEZ5_NO_FILE). While a process holds a file, HDF5's lock keeps
 * other processes out of it until it is closed.
 */
VIDEZ5_API void ftoc_h5dump_data_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                     const void* data, const unsigned int* dim1, const unsigned int* dim2,
                                     const unsigned int* dim3, const int* type_code, const int* string_length);
VIDEZ5_API void ftoc_h5read_data_checked_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                             void* buffer, const unsigned int* dim1, const unsigned int* dim2,
                                             const unsigned int* dim3, const int* element_size,
                                             const int* type_code, const int* string_length, int* status);
VIDEZ5_API void ftoc_h5get_dims_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                    int* rank, unsigned int* dim1, unsigned int* dim2, unsigned int* dim3);
/* One entry for both element types (VIDEZ5_DOUBLE, VIDEZ5_INT); *titled 0:
   the record keeps its stored titles, as the no-title entries do. */
VIDEZ5_API void ftoc_printh5_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                 const void* data, const int* type_code, const double* x, const double* y,
                                 const unsigned int* nx, const unsigned int* ny, const int* titled,
                                 const char* title, const unsigned int* title_length, const char* xtitle,
                                 const unsigned int* xtitle_length, const char* ytitle,
                                 const unsigned int* ytitle_length);
/* Commits now what the file's calls changed; status 0, or negative on failure. */
VIDEZ5_API void ftoc_flush_file_id_(const int* file_id, int* status);
/*
 * Deferred commits, for speed: the file's calls (through its handle and its
 * groups' handles) are committed every *calls calls, or by the first call once
 * *seconds have passed since the last commit, whichever comes first (0: not
 * that way), and at a flush and at close. A kill loses the calls after the
 * last commit; the file stays readable. *calls <= 1 with *seconds <= 0 goes
 * back to committing every call.
 */
VIDEZ5_API void ftoc_defer_commits_id_(const int* file_id, const int* calls, const double* seconds);

/*
 * Time series: adds one step to the dataset at path, which grows along its
 * slowest HDF5 dimension. dim1, dim2 are the Fortran sizes of one step (0 =
 * absent; both 0: a scalar), type_code VIDEZ5_DOUBLE or VIDEZ5_INT. The first
 * step creates the dataset (steps, then the step's dimensions reversed),
 * chunked and unlimited along the steps; a later step of another shape or
 * element type is refused with one line and the stored steps stay.
 */
VIDEZ5_API void ftoc_h5append_data_(const char* name, const unsigned int* name_length, const char* path,
                         const unsigned int* path_length, const void* data, const unsigned int* dim1,
                         const unsigned int* dim2, const int* type_code);
/*
 * Describes the calling thread's next dump, append or plot record (whichever
 * comes first takes it, also when it is refused): fixed-length string
 * attributes "units" and "long_name" on the dataset written (a plot record's
 * "data"), and "units" on a record's "X" and "Y". A length of 0 leaves that
 * attribute as stored. Written in the same file open as the data.
 */
VIDEZ5_API void ftoc_describe_next_(const char* units, const unsigned int* units_length, const char* long_name,
                         const unsigned int* long_name_length, const char* x_units,
                         const unsigned int* x_units_length, const char* y_units,
                         const unsigned int* y_units_length);
/*
 * Replace instead of refuse: the calling thread's next dump or plot record
 * (whichever comes first takes it, an append drops it) replaces a stored
 * dataset of another shape or element type with the new one, in the same
 * commit, so that a kill leaves the old dataset or the new one, whole. A
 * record so changes shape as one: "data", "Y" and "X" together. The old
 * dataset's attributes go over to the new one (units, long_name, any of the
 * caller's), not its links to dimension scales. Something that is no dataset
 * (a group) is still refused.
 */
VIDEZ5_API void ftoc_replace_next_(void);
/*
 * The status of the calling thread's last dump, append or plot record entry:
 * VIDEZ5_OK; VIDEZ5_WRITE_REFUSED when it was refused with a line and the
 * file is unchanged; VIDEZ5_NO_FILE when no file could be opened or created
 * (or the handle is unknown); VIDEZ5_WRITE_FAILED when HDF5 failed to write
 * or to commit it. VIDEZ5_OK before the first write.
 */
VIDEZ5_API void ftoc_last_write_status_(int* status);
/* The same through a held handle (see the held files above). */
VIDEZ5_API void ftoc_h5append_data_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                       const void* data, const unsigned int* dim1, const unsigned int* dim2,
                                       const int* type_code);

/*
 * Attributes of the dataset or group at path (an empty path or "/": the
 * file's root group, or the group of a group handle). The write creates the
 * attribute, or replaces it whole (its type and size follow the new value):
 * *count values of type_code (VIDEZ5_DOUBLE, VIDEZ5_INT, VIDEZ5_STRING of
 * *string_length bytes each), *count 0 a scalar. Texts are stored without
 * their trailing blanks as fixed-length null-padded ASCII strings, as the
 * units of ftoc_describe_next_ are. It goes through the same open and commit
 * as a dump, never creates the file, and never ends the process; *status as
 * ftoc_last_write_status_ gives it for a dump (which it does not change):
 * VIDEZ5_OK, VIDEZ5_WRITE_REFUSED (one line, nothing changed: no dataset or
 * group there, bad arguments, a value too large), VIDEZ5_NO_FILE,
 * VIDEZ5_WRITE_FAILED.
 */
VIDEZ5_API void ftoc_h5write_attr_(const char* name, const unsigned int* name_length, const char* path,
                                   const unsigned int* path_length, const char* attr,
                                   const unsigned int* attr_length, const void* data, const unsigned int* count,
                                   const int* type_code, const int* string_length, int* status);
/*
 * Reads an attribute as the checked read reads a dataset: only when it has
 * exactly the shape *count says (0: a scalar) and its values read without a
 * change (numbers convert exactly or not at all; no text is cut, texts are
 * blank-padded to *string_length). Otherwise one line, the buffer untouched
 * and a negative *status: VIDEZ5_NO_FILE, VIDEZ5_NO_DATASET (no dataset or
 * group at path), VIDEZ5_NO_ATTRIBUTE, VIDEZ5_SHAPE_MISMATCH,
 * VIDEZ5_TYPE_MISMATCH, VIDEZ5_READ_FAILED. Opens the file read-only.
 */
VIDEZ5_API void ftoc_h5read_attr_(const char* name, const unsigned int* name_length, const char* path,
                                  const unsigned int* path_length, const char* attr, const unsigned int* attr_length,
                                  void* buffer, const unsigned int* count, const int* element_size,
                                  const int* type_code, const int* string_length, int* status);
/* The same through a held handle. */
VIDEZ5_API void ftoc_h5write_attr_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                      const char* attr, const unsigned int* attr_length, const void* data,
                                      const unsigned int* count, const int* type_code, const int* string_length,
                                      int* status);
VIDEZ5_API void ftoc_h5read_attr_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                     const char* attr, const unsigned int* attr_length, void* buffer,
                                     const unsigned int* count, const int* element_size, const int* type_code,
                                     const int* string_length, int* status);

/*
 * What a file holds, by name (opened read-only, never created) and through a
 * held handle. *exists 1 when a dataset or group stands at path (an empty
 * path or "/": the root group, or the group of a group handle), else 0: also
 * for no file, a file that is not HDF5, an unknown handle. Prints nothing.
 */
VIDEZ5_API void ftoc_h5exists_(const char* name, const unsigned int* name_length, const char* path,
                               const unsigned int* path_length, int* exists);
VIDEZ5_API void ftoc_h5exists_id_(const int* file_id, const char* path, const unsigned int* path_length, int* exists);
/*
 * The names of the members of the group at path, in HDF5's name order, into
 * *names_count Fortran strings of *names_length bytes each (blank-padded;
 * those after the last name blank), and their number in *count, also when
 * there are more than names_count (those are not stored). A longer name is
 * cut to *names_length: one line, *status VIDEZ5_NAMES_CUT (positive: the
 * names are there, cut). Otherwise VIDEZ5_OK, or negative after one line,
 * *count -1 and names untouched: VIDEZ5_NO_FILE, VIDEZ5_NO_DATASET (no group
 * there), VIDEZ5_READ_FAILED.
 */
VIDEZ5_API void ftoc_h5list_(const char* name, const unsigned int* name_length, const char* path,
                             const unsigned int* path_length, char* names, const unsigned int* names_count,
                             const unsigned int* names_length, int* count, int* status);
VIDEZ5_API void ftoc_h5list_id_(const int* file_id, const char* path, const unsigned int* path_length, char* names,
                                const unsigned int* names_count, const unsigned int* names_length, int* count,
                                int* status);
/*
 * Unlinks the dataset or group at path, through the same open and commit as a
 * dump, never creating the file. *status VIDEZ5_OK; VIDEZ5_WRITE_REFUSED with
 * one line when nothing is there (or the path names the group it starts
 * from); VIDEZ5_NO_FILE; VIDEZ5_WRITE_FAILED. The space the object took stays
 * in the file (see the README).
 */
VIDEZ5_API void ftoc_h5delete_(const char* name, const unsigned int* name_length, const char* path,
                               const unsigned int* path_length, int* status);
VIDEZ5_API void ftoc_h5delete_id_(const int* file_id, const char* path, const unsigned int* path_length, int* status);

/*
 * Arrays of every kind and rank: element codes VIDEZ5_DOUBLE to VIDEZ5_INT64,
 * *rank 0 (a scalar, stored in a scalar dataspace) to VIDEZ5_MAX_RANK, dims the
 * rank's Fortran sizes (dims[0] fastest, none 0). Unlike the ten, a bad code,
 * rank or size is refused with one line and the process goes on.
 *
 * The dump takes the calling thread's next description, replace and
 * compression (ftoc_compress_next_) as ftoc_h5dump_data_ takes the first two,
 * and tells its outcome through ftoc_last_write_status_. With *partial 1, data
 * is a block of sizes dims whose first element stands at start (1-based
 * Fortran indices) in a dataset of Fortran sizes shape: created with that
 * shape and filled with zeros when absent; otherwise it must have that shape
 * and a type that holds the block's values exactly, or the block is refused
 * and the file unchanged. The block is written in place, in one commit.
 */
VIDEZ5_API void ftoc_h5dump_array_(const char* name, const unsigned int* name_length, const char* path,
                                   const unsigned int* path_length, const void* data, const int* rank,
                                   const unsigned int* dims, const int* type_code, const int* string_length,
                                   const int* partial, const unsigned int* start, const unsigned int* shape);
VIDEZ5_API void ftoc_h5dump_array_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                      const void* data, const int* rank, const unsigned int* dims,
                                      const int* type_code, const int* string_length, const int* partial,
                                      const unsigned int* start, const unsigned int* shape);
/*
 * The checked read of any kind and rank (see ftoc_h5read_data_checked_); a
 * double dataset never reads into floats (their values would be rounded).
 * With *partial 1 the block of sizes dims at start (1-based Fortran indices,
 * one per stored dimension) is read; a block outside the dataset is
 * VIDEZ5_SHAPE_MISMATCH.
 */
VIDEZ5_API void ftoc_h5read_array_(const char* name, const unsigned int* name_length, const char* path,
                                   const unsigned int* path_length, void* buffer, const int* rank,
                                   const unsigned int* dims, const int* element_size, const int* type_code,
                                   const int* string_length, const int* partial, const unsigned int* start,
                                   int* status);
VIDEZ5_API void ftoc_h5read_array_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                      void* buffer, const int* rank, const unsigned int* dims,
                                      const int* element_size, const int* type_code, const int* string_length,
                                      const int* partial, const unsigned int* start, int* status);
/*
 * The rank of the dataset at path (-1: none; 0: a scalar) and its Fortran
 * sizes in dims[0..rank-1], the rest of *max_rank set to 0. A rank above
 * *max_rank prints one line, gives the rank with no sizes and *status
 * VIDEZ5_SHAPE_MISMATCH; else *status is VIDEZ5_OK, or VIDEZ5_NO_DATASET
 * (nothing printed).
 */
VIDEZ5_API void ftoc_h5get_dims_array_(const char* name, const unsigned int* name_length, const char* path,
                                       const unsigned int* path_length, const int* max_rank, int* rank,
                                       unsigned int* dims, int* status);
VIDEZ5_API void ftoc_h5get_dims_array_id_(const int* file_id, const char* path, const unsigned int* path_length,
                                          const int* max_rank, int* rank, unsigned int* dims, int* status);
/*
 * How the calling thread's next dump (ftoc_h5dump_array_) or append creates
 * its dataset, taken by it as the description is: *level 1 to 9 deflates the
 * chunks after the shuffle filter, -1 does not (chunks alone); *chunk_rank chunk sizes
 * (Fortran order), or 0 for chunks of about 1 MiB of whole fastest rows (a
 * series keeps its own chunks). A stored dataset overwritten keeps its own
 * filters. Any other level, chunks that do not fit the array, or an
 * HDF5 without deflate refuse that write with one line.
 */
VIDEZ5_API void ftoc_compress_next_(const int* level, const int* chunk_rank, const unsigned int* chunks);

#ifdef __cplusplus
}
#endif

#endif
