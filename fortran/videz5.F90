! The videz5 module: explicit interfaces for the videz5_c entry points, and
! generic procedures that pass every length and size themselves:
!   videz5_dump(file, path, array)           real32 / real64 / int32 / int64 / character,
!                                            a scalar or rank 1 to 7
!   videz5_read(file, path, array [, status]) the same; refuses an array of another shape
!   videz5_get_dims(file, path, rank, dims [, status])  rank -1 when there is no dataset
!   videz5_plot(file, path, data, x [, y] [, title, xtitle, ytitle])
!   videz5_append(file, path, step)          real64 / int32, a scalar or rank 1 to 2 per step
!   videz5_write_attr(file, path, name, value [, status])   real64 / int32 / character, a scalar or rank 1,
!   videz5_read_attr(file, path, name, value [, status])    on the dataset or group at path
!   videz5_exists(file, path)                logical: a dataset or group there; never creates or prints anything
!   videz5_list(file, group, names, count [, status])   the group's names in HDF5's name order
!   videz5_delete(file, path [, status])     unlinks a dataset or group
! The writes also take units= and description= (plots x_units=, and y_units=
! for 2-D data), stored as the attributes "units" and "long_name", and
! status= (VIDEZ5_OK, VIDEZ5_WRITE_REFUSED, VIDEZ5_NO_FILE, VIDEZ5_WRITE_FAILED;
! without it a refusal is only the line printed). videz5_dump and videz5_plot
! take replace=.true.: a stored dataset or record of another shape or type is
! replaced whole, in one commit, rather than refused.
! Arrays (not scalars) also take, in videz5_dump:
!   compress=level (1 to 9: deflate after the shuffle filter) and chunks=[...]
!   (else chunks of about 1 MiB of whole rows), for a dataset it creates; also
!   compress= on the first step of videz5_append
!   start=[...], shape=[...]: the array is the block at start (1-based) of the
!   dataset of that shape, created filled with zeros when absent
! and in videz5_read start=[...]: the block of the array's shape at start.
! Each also takes, in place of the file name, a handle from videz5_open (a held
! file: no open and close per call) or from ftoc_open_group_id (paths below it):
!   h = videz5_open(file)                    negative when the file cannot be opened
!   videz5_flush(h [, status]), videz5_defer_commits(h [, calls] [, seconds]), videz5_close(h)
! File and path names are taken up to their last non-blank character.
!
! The file is preprocessed (.F90): the specifics of videz5_dump and videz5_read
! come from videz5_rank.inc, included once per rank, beside this file.

! Entry point interfaces and the bodies of the generics (module videz5 makes
! public what callers use).
! bind(C) with every argument by reference, as the C side takes them, so the
! compiler passes no hidden lengths. Every text is followed by the number of
! its characters to take; a character variable or literal of any length may be
! passed. Data and buffer arguments are assumed-type, assumed-size, so one
! program can dump double, integer and character arrays of any rank through the
! same entry point without -fallow-argument-mismatch. (A scalar goes in as [value].)
! File and group handles are default integers; a negative handle means failure.
module videz5_detail
  use, intrinsic :: iso_fortran_env, only: real32, real64, int32, int64, output_unit
  use, intrinsic :: iso_c_binding, only: c_char, c_int, c_double, c_loc, c_f_pointer
  implicit none

  ! Element type codes.
  integer, parameter :: VIDEZ5_DOUBLE = 0, VIDEZ5_INT = 1, VIDEZ5_STRING = 2
  ! Only the array entries (ftoc_h5dump_array and the calls beside it) take these two.
  integer, parameter :: VIDEZ5_FLOAT = 3, VIDEZ5_INT64 = 4
  ! The most dimensions the array entries take.
  integer, parameter :: VIDEZ5_MAX_RANK = 7
  ! The file of a call through a handle: none.
  character(len=*), parameter :: by_handle = ''
  ! Status of a checked read (videz5_read, ftoc_h5read_data_checked), as in videz5_c.h;
  ! the last three only from the collective calls (module videz5_mpi).
  integer, parameter :: VIDEZ5_OK = 0, VIDEZ5_NO_FILE = -1, VIDEZ5_NO_DATASET = -2, VIDEZ5_SHAPE_MISMATCH = -3, &
                        VIDEZ5_TYPE_MISMATCH = -4, VIDEZ5_READ_FAILED = -5, VIDEZ5_ARGUMENTS_DIFFER = -6, &
                        VIDEZ5_WRITE_REFUSED = -7, VIDEZ5_WRITE_FAILED = -8, VIDEZ5_NO_ATTRIBUTE = -9
  ! A listing done, but with names cut to the caller's length: the one status above 0.
  integer, parameter :: VIDEZ5_NAMES_CUT = 1

  interface
    subroutine ftoc_open_file_id(name, name_length, file_id) bind(C, name="ftoc_open_file_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name
      integer(c_int), intent(in) :: name_length
      integer(c_int), intent(out) :: file_id
    end subroutine

    subroutine ftoc_close_file_id(file_id) bind(C, name="ftoc_close_file_id_")
      import :: c_int
      integer(c_int), intent(in) :: file_id
    end subroutine

    subroutine ftoc_open_group_id(loc_id, path, path_length, group_id) bind(C, name="ftoc_open_group_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      integer(c_int), intent(in) :: loc_id, path_length
      integer(c_int), intent(out) :: group_id
    end subroutine

    subroutine ftoc_close_group_id(group_id) bind(C, name="ftoc_close_group_id_")
      import :: c_int
      integer(c_int), intent(in) :: group_id
    end subroutine

    subroutine ftoc_h5dump_data(name, name_length, path, path_length, data, dim1, dim2, dim3, &
                                type_code, string_length) bind(C, name="ftoc_h5dump_data_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      type(*), dimension(*), intent(in) :: data
      integer(c_int), intent(in) :: name_length, path_length, dim1, dim2, dim3, type_code, string_length
    end subroutine

    subroutine ftoc_h5read_data(name, name_length, path, path_length, buffer, type_code, string_length) &
        bind(C, name="ftoc_h5read_data_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      type(*), dimension(*), intent(inout) :: buffer
      integer(c_int), intent(in) :: name_length, path_length, type_code, string_length
    end subroutine

    subroutine ftoc_printh5_double(name, name_length, path, path_length, data, x, y, nx, ny, &
                                   title, title_length, xtitle, xtitle_length, ytitle, ytitle_length) &
        bind(C, name="ftoc_printh5_double_")
      import :: c_char, c_int, c_double
      character(kind=c_char), dimension(*), intent(in) :: name, path, title, xtitle, ytitle
      real(c_double), dimension(*), intent(in) :: data, x, y
      integer(c_int), intent(in) :: name_length, path_length, nx, ny, title_length, xtitle_length, ytitle_length
    end subroutine

    subroutine ftoc_printh5_double_notitle(name, name_length, path, path_length, data, x, y, nx, ny) &
        bind(C, name="ftoc_printh5_double_notitle_")
      import :: c_char, c_int, c_double
      character(kind=c_char), dimension(*), intent(in) :: name, path
      real(c_double), dimension(*), intent(in) :: data, x, y
      integer(c_int), intent(in) :: name_length, path_length, nx, ny
    end subroutine

    subroutine ftoc_printh5_int(name, name_length, path, path_length, data, x, y, nx, ny, &
                                title, title_length, xtitle, xtitle_length, ytitle, ytitle_length) &
        bind(C, name="ftoc_printh5_int_")
      import :: c_char, c_int, c_double
      character(kind=c_char), dimension(*), intent(in) :: name, path, title, xtitle, ytitle
      integer(c_int), dimension(*), intent(in) :: data
      real(c_double), dimension(*), intent(in) :: x, y
      integer(c_int), intent(in) :: name_length, path_length, nx, ny, title_length, xtitle_length, ytitle_length
    end subroutine

    subroutine ftoc_printh5_int_notitle(name, name_length, path, path_length, data, x, y, nx, ny) &
        bind(C, name="ftoc_printh5_int_notitle_")
      import :: c_char, c_int, c_double
      character(kind=c_char), dimension(*), intent(in) :: name, path
      integer(c_int), dimension(*), intent(in) :: data
      real(c_double), dimension(*), intent(in) :: x, y
      integer(c_int), intent(in) :: name_length, path_length, nx, ny
    end subroutine

    ! The calling thread's next dump or plot record replaces a stored dataset of
    ! another shape or type (see videz5_c.h), in one commit.
    subroutine ftoc_replace_next() bind(C, name="ftoc_replace_next_")
    end subroutine

    ! The status of the calling thread's last dump, append or plot record
    ! (VIDEZ5_OK, VIDEZ5_WRITE_REFUSED, VIDEZ5_NO_FILE, VIDEZ5_WRITE_FAILED).
    subroutine ftoc_last_write_status(status) bind(C, name="ftoc_last_write_status_")
      import :: c_int
      integer(c_int), intent(out) :: status
    end subroutine

    ! The durable mode: every call's changes reach the disk before it returns (on /= 0).
    subroutine ftoc_set_durable(on) bind(C, name="ftoc_set_durable_")
      import :: c_int
      integer(c_int), intent(in) :: on
    end subroutine

    ! Rank and Fortran-order sizes (absent ones 0) of a dataset; rank -1 when there is none.
    subroutine ftoc_h5get_dims(name, name_length, path, path_length, rank, dim1, dim2, dim3) &
        bind(C, name="ftoc_h5get_dims_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      integer(c_int), intent(in) :: name_length, path_length
      integer(c_int), intent(out) :: rank, dim1, dim2, dim3
    end subroutine

    ! Reads only when the stored shape is dim1 x dim2 x dim3 (as for the dump) and
    ! element_size bytes fit the type code; otherwise the buffer is left alone.
    subroutine ftoc_h5read_data_checked(name, name_length, path, path_length, buffer, dim1, dim2, dim3, &
                                        element_size, type_code, string_length, status) &
        bind(C, name="ftoc_h5read_data_checked_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      type(*), dimension(*), intent(inout) :: buffer
      integer(c_int), intent(in) :: name_length, path_length, dim1, dim2, dim3, element_size, type_code, &
                                    string_length
      integer(c_int), intent(out) :: status
    end subroutine

    ! One step of Fortran sizes dim1 x dim2 (0 = absent) added to a series.
    subroutine ftoc_h5append_data(name, name_length, path, path_length, data, dim1, dim2, type_code) &
        bind(C, name="ftoc_h5append_data_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      type(*), dimension(*), intent(in) :: data
      integer(c_int), intent(in) :: name_length, path_length, dim1, dim2, type_code
    end subroutine

    ! Units and description of this thread's next dump, append or plot record (length 0: not given).
    subroutine ftoc_describe_next(units, units_length, long_name, long_name_length, x_units, x_units_length, &
                                  y_units, y_units_length) bind(C, name="ftoc_describe_next_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: units, long_name, x_units, y_units
      integer(c_int), intent(in) :: units_length, long_name_length, x_units_length, y_units_length
    end subroutine

    ! The same calls through a handle held open (see videz5_c.h).
    subroutine ftoc_h5dump_data_id(file_id, path, path_length, data, dim1, dim2, dim3, type_code, string_length) &
        bind(C, name="ftoc_h5dump_data_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      type(*), dimension(*), intent(in) :: data
      integer(c_int), intent(in) :: file_id, path_length, dim1, dim2, dim3, type_code, string_length
    end subroutine

    subroutine ftoc_h5read_data_checked_id(file_id, path, path_length, buffer, dim1, dim2, dim3, element_size, &
                                           type_code, string_length, status) bind(C, name="ftoc_h5read_data_checked_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      type(*), dimension(*), intent(inout) :: buffer
      integer(c_int), intent(in) :: file_id, path_length, dim1, dim2, dim3, element_size, type_code, string_length
      integer(c_int), intent(out) :: status
    end subroutine

    subroutine ftoc_h5get_dims_id(file_id, path, path_length, rank, dim1, dim2, dim3) bind(C, name="ftoc_h5get_dims_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      integer(c_int), intent(in) :: file_id, path_length
      integer(c_int), intent(out) :: rank, dim1, dim2, dim3
    end subroutine

    ! Both element types (type_code); titled 0 keeps the record's stored titles.
    subroutine ftoc_printh5_id(file_id, path, path_length, data, type_code, x, y, nx, ny, titled, &
                               title, title_length, xtitle, xtitle_length, ytitle, ytitle_length) &
        bind(C, name="ftoc_printh5_id_")
      import :: c_char, c_int, c_double
      character(kind=c_char), dimension(*), intent(in) :: path, title, xtitle, ytitle
      type(*), dimension(*), intent(in) :: data
      real(c_double), dimension(*), intent(in) :: x, y
      integer(c_int), intent(in) :: file_id, path_length, type_code, nx, ny, titled, title_length, xtitle_length, &
                                    ytitle_length
    end subroutine

    subroutine ftoc_flush_file_id(file_id, status) bind(C, name="ftoc_flush_file_id_")
      import :: c_int
      integer(c_int), intent(in) :: file_id
      integer(c_int), intent(out) :: status
    end subroutine

    subroutine ftoc_defer_commits_id(file_id, calls, seconds) bind(C, name="ftoc_defer_commits_id_")
      import :: c_int, c_double
      integer(c_int), intent(in) :: file_id, calls
      real(c_double), intent(in) :: seconds
    end subroutine

    subroutine ftoc_h5append_data_id(file_id, path, path_length, data, dim1, dim2, type_code) &
        bind(C, name="ftoc_h5append_data_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      type(*), dimension(*), intent(in) :: data
      integer(c_int), intent(in) :: file_id, path_length, dim1, dim2, type_code
    end subroutine

    ! An attribute of the dataset or group at path: count values (0: a scalar)
    ! of type_code, written whole, or read only when shape and values fit.
    subroutine ftoc_h5write_attr(name, name_length, path, path_length, attr, attr_length, data, count, type_code, &
                                 string_length, status) bind(C, name="ftoc_h5write_attr_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path, attr
      type(*), dimension(*), intent(in) :: data
      integer(c_int), intent(in) :: name_length, path_length, attr_length, count, type_code, string_length
      integer(c_int), intent(out) :: status
    end subroutine

    subroutine ftoc_h5read_attr(name, name_length, path, path_length, attr, attr_length, buffer, count, &
                                element_size, type_code, string_length, status) bind(C, name="ftoc_h5read_attr_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path, attr
      type(*), dimension(*), intent(inout) :: buffer
      integer(c_int), intent(in) :: name_length, path_length, attr_length, count, element_size, type_code, &
                                    string_length
      integer(c_int), intent(out) :: status
    end subroutine

    subroutine ftoc_h5write_attr_id(file_id, path, path_length, attr, attr_length, data, count, type_code, &
                                    string_length, status) bind(C, name="ftoc_h5write_attr_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path, attr
      type(*), dimension(*), intent(in) :: data
      integer(c_int), intent(in) :: file_id, path_length, attr_length, count, type_code, string_length
      integer(c_int), intent(out) :: status
    end subroutine

    subroutine ftoc_h5read_attr_id(file_id, path, path_length, attr, attr_length, buffer, count, element_size, &
                                   type_code, string_length, status) bind(C, name="ftoc_h5read_attr_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path, attr
      type(*), dimension(*), intent(inout) :: buffer
      integer(c_int), intent(in) :: file_id, path_length, attr_length, count, element_size, type_code, string_length
      integer(c_int), intent(out) :: status
    end subroutine

    ! exists 1 when a dataset or group is at path, else 0; prints nothing.
    subroutine ftoc_h5exists(name, name_length, path, path_length, exists) bind(C, name="ftoc_h5exists_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      integer(c_int), intent(in) :: name_length, path_length
      integer(c_int), intent(out) :: exists
    end subroutine

    subroutine ftoc_h5exists_id(file_id, path, path_length, exists) bind(C, name="ftoc_h5exists_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      integer(c_int), intent(in) :: file_id, path_length
      integer(c_int), intent(out) :: exists
    end subroutine

    ! The group's names into names_count strings of names_length characters, their number in count.
    subroutine ftoc_h5list(name, name_length, path, path_length, names, names_count, names_length, count, status) &
        bind(C, name="ftoc_h5list_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      character(kind=c_char), dimension(*), intent(inout) :: names
      integer(c_int), intent(in) :: name_length, path_length, names_count, names_length
      integer(c_int), intent(out) :: count, status
    end subroutine

    subroutine ftoc_h5list_id(file_id, path, path_length, names, names_count, names_length, count, status) &
        bind(C, name="ftoc_h5list_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      character(kind=c_char), dimension(*), intent(inout) :: names
      integer(c_int), intent(in) :: file_id, path_length, names_count, names_length
      integer(c_int), intent(out) :: count, status
    end subroutine

    ! Unlinks the dataset or group at path.
    subroutine ftoc_h5delete(name, name_length, path, path_length, status) bind(C, name="ftoc_h5delete_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      integer(c_int), intent(in) :: name_length, path_length
      integer(c_int), intent(out) :: status
    end subroutine

    subroutine ftoc_h5delete_id(file_id, path, path_length, status) bind(C, name="ftoc_h5delete_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      integer(c_int), intent(in) :: file_id, path_length
      integer(c_int), intent(out) :: status
    end subroutine

    ! Arrays of every kind and rank 0 to VIDEZ5_MAX_RANK (see videz5_c.h): dims,
    ! start and shape in Fortran order, rank values each; partial 1 for a block.
    subroutine ftoc_h5dump_array(name, name_length, path, path_length, data, rank, dims, type_code, string_length, &
                                 partial, start, shape) bind(C, name="ftoc_h5dump_array_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      type(*), dimension(*), intent(in) :: data
      integer(c_int), intent(in) :: name_length, path_length, rank, type_code, string_length, partial
      integer(c_int), dimension(*), intent(in) :: dims, start, shape
    end subroutine

    subroutine ftoc_h5dump_array_id(file_id, path, path_length, data, rank, dims, type_code, string_length, &
                                    partial, start, shape) bind(C, name="ftoc_h5dump_array_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      type(*), dimension(*), intent(in) :: data
      integer(c_int), intent(in) :: file_id, path_length, rank, type_code, string_length, partial
      integer(c_int), dimension(*), intent(in) :: dims, start, shape
    end subroutine

    subroutine ftoc_h5read_array(name, name_length, path, path_length, buffer, rank, dims, element_size, &
                                 type_code, string_length, partial, start, status) bind(C, name="ftoc_h5read_array_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      type(*), dimension(*), intent(inout) :: buffer
      integer(c_int), intent(in) :: name_length, path_length, rank, element_size, type_code, string_length, partial
      integer(c_int), dimension(*), intent(in) :: dims, start
      integer(c_int), intent(out) :: status
    end subroutine

    subroutine ftoc_h5read_array_id(file_id, path, path_length, buffer, rank, dims, element_size, type_code, &
                                    string_length, partial, start, status) bind(C, name="ftoc_h5read_array_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      type(*), dimension(*), intent(inout) :: buffer
      integer(c_int), intent(in) :: file_id, path_length, rank, element_size, type_code, string_length, partial
      integer(c_int), dimension(*), intent(in) :: dims, start
      integer(c_int), intent(out) :: status
    end subroutine

    ! Rank (-1: none) and Fortran-order sizes in dims(1:max_rank); a higher rank
    ! prints one line and gives status VIDEZ5_SHAPE_MISMATCH.
    subroutine ftoc_h5get_dims_array(name, name_length, path, path_length, max_rank, rank, dims, status) &
        bind(C, name="ftoc_h5get_dims_array_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: name, path
      integer(c_int), intent(in) :: name_length, path_length, max_rank
      integer(c_int), intent(out) :: rank, dims(*), status
    end subroutine

    subroutine ftoc_h5get_dims_array_id(file_id, path, path_length, max_rank, rank, dims, status) &
        bind(C, name="ftoc_h5get_dims_array_id_")
      import :: c_char, c_int
      character(kind=c_char), dimension(*), intent(in) :: path
      integer(c_int), intent(in) :: file_id, path_length, max_rank
      integer(c_int), intent(out) :: rank, dims(*), status
    end subroutine

    ! How this thread's next dump or append creates its dataset: level 1 to 9
    ! (deflate after shuffle) or -1 (chunks alone), chunk sizes (0 of them: the library's).
    subroutine ftoc_compress_next(level, chunk_rank, chunks) bind(C, name="ftoc_compress_next_")
      import :: c_int
      integer(c_int), intent(in) :: level, chunk_rank, chunks(*)
    end subroutine
  end interface

contains

  ! ---- the bodies of videz5_dump and videz5_read

  ! The one dump of every kind and rank: the array's own sizes (none for a
  ! scalar) and element type, never an element more. Every text comes before
  ! the array: gfortran passes a hidden length for a character array given as
  ! type(*), which would shift the lengths of the texts after it. A double,
  ! int or string array of rank 1 to 3, whole and stored as it comes, goes
  ! through the three-size entry as it always has; the rest through the array entry.
  subroutine dump_body(path, file, handle, held, units, description, array, sizes, type_code, element_bytes, &
                       replace, status, compress, chunks, start, shape)
    character(len=*), intent(in) :: path, file
    integer, intent(in) :: handle
    logical, intent(in) :: held
    character(len=*), intent(in), optional :: units, description
    type(*), dimension(*), intent(in) :: array
    integer, intent(in) :: sizes(:), type_code, element_bytes
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress, chunks(:), start(:), shape(:)
    ! Of fixed size, so that an error stop leaves nothing allocated; no specific has more dimensions.
    integer :: dims(VIDEZ5_MAX_RANK), first(VIDEZ5_MAX_RANK), whole(VIDEZ5_MAX_RANK), chars
    if (refused_empty('videz5_dump', path, product(sizes), 'WRITTEN', status)) return
    if (bad_block('videz5_dump', path, size(sizes), .true., start, shape, status)) return
    chars = merge(element_bytes, 0, type_code == VIDEZ5_STRING)
    dims = 0
    dims(:size(sizes)) = sizes
    call describe(units, description)
    call replace_next(replace)
    if (three_sizes(type_code, size(sizes)) .and. .not. (present(compress) .or. present(chunks) .or. &
                                                          present(start))) then
      if (held) then
        call ftoc_h5dump_data_id(handle, path, len_trim(path), array, dims(1), dims(2), dims(3), type_code, chars)
      else
        call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, dims(1), dims(2), dims(3), &
                              type_code, chars)
      end if
    else
      call compress_next(compress, chunks)
      first = 1
      whole = dims
      if (present(start)) then
        first(:size(sizes)) = start
        whole(:size(sizes)) = shape
      end if
      if (held) then
        call ftoc_h5dump_array_id(handle, path, len_trim(path), array, size(sizes), dims, type_code, chars, &
                                  merge(1, 0, present(start)), first, whole)
      else
        call ftoc_h5dump_array(file, len_trim(file), path, len_trim(path), array, size(sizes), dims, type_code, &
                               chars, merge(1, 0, present(start)), first, whole)
      end if
    end if
    call write_status(status)
  end subroutine

  ! Through a checked entry, so an array of another shape is refused. Like a
  ! READ without IOSTAT=, a failure that the caller did not ask to see ends the
  ! program, rather than let it go on with stale values.
  subroutine read_body(path, file, handle, held, array, sizes, type_code, element_bytes, status, start)
    character(len=*), intent(in) :: path, file
    integer, intent(in) :: handle
    logical, intent(in) :: held
    type(*), dimension(*), intent(inout) :: array
    integer, intent(in) :: sizes(:), type_code, element_bytes
    integer, intent(out), optional :: status
    integer, intent(in), optional :: start(:)
    integer :: dims(VIDEZ5_MAX_RANK), first(VIDEZ5_MAX_RANK), chars, s
    logical :: refused
    s = VIDEZ5_SHAPE_MISMATCH
    refused = refused_empty('videz5_read', path, product(sizes), 'READ')
    if (.not. refused) refused = bad_block('videz5_read', path, size(sizes), .false., start)
    if (.not. refused) then
      chars = merge(element_bytes, 0, type_code == VIDEZ5_STRING)
      dims = 0
      dims(:size(sizes)) = sizes
      first = 1
      if (present(start)) first(:size(sizes)) = start
      if (three_sizes(type_code, size(sizes)) .and. .not. present(start)) then
        if (held) then
          call ftoc_h5read_data_checked_id(handle, path, len_trim(path), array, dims(1), dims(2), dims(3), &
                                           element_bytes, type_code, chars, s)
        else
          call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, dims(1), dims(2), &
                                        dims(3), element_bytes, type_code, chars, s)
        end if
      else if (held) then
        call ftoc_h5read_array_id(handle, path, len_trim(path), array, size(sizes), dims, element_bytes, type_code, &
                                  chars, merge(1, 0, present(start)), first, s)
      else
        call ftoc_h5read_array(file, len_trim(file), path, len_trim(path), array, size(sizes), dims, element_bytes, &
                               type_code, chars, merge(1, 0, present(start)), first, s)
      end if
    end if
    if (present(status)) then
      status = s
    else if (s /= VIDEZ5_OK) then
      error stop 'videz5_read failed (see the line above); pass status= to handle it'
    end if
  end subroutine

  ! What the three-size entries have always taken.
  logical function three_sizes(type_code, rank)
    integer, intent(in) :: type_code, rank
    three_sizes = type_code <= VIDEZ5_STRING .and. rank >= 1 .and. rank <= 3
  end function

  ! A block's start= (and a write's shape=) hold one value per dimension of the
  ! array: the entries take as many as its rank, whatever the arrays hold.
  logical function bad_block(procedure, path, rank, writes, start, shape, status) result(bad)
    character(len=*), intent(in) :: procedure, path
    integer, intent(in) :: rank
    logical, intent(in) :: writes
    integer, intent(in), optional :: start(:), shape(:)
    integer, intent(out), optional :: status
    bad = writes .and. (present(start) .neqv. present(shape))
    if (present(start)) bad = bad .or. size(start) /= rank
    if (present(shape)) bad = bad .or. size(shape) /= rank
    if (.not. bad) return
    if (writes) then
      call say('INVALID BLOCK IN ' // procedure // '( ' // trim(path) // ' ): start= and shape= go together, ' // &
               'one value per dimension of the array, NOTHING WRITTEN')
      if (present(status)) status = VIDEZ5_WRITE_REFUSED
    else
      call say('INVALID BLOCK IN ' // procedure // '( ' // trim(path) // ' ): start= needs one value per ' // &
               'dimension of the array, NOTHING READ')
      if (present(status)) status = VIDEZ5_SHAPE_MISMATCH
    end if
  end function

  ! compress= and chunks= for the next dump or append (-1: chunks alone).
  subroutine compress_next(compress, chunks)
    integer, intent(in), optional :: compress, chunks(:)
    integer :: level
    if (.not. (present(compress) .or. present(chunks))) return
    level = -1
    if (present(compress)) level = compress
    if (present(chunks)) then
      call ftoc_compress_next(level, size(chunks), chunks)
    else
      call ftoc_compress_next(level, 0, [0])
    end if
  end subroutine

  ! ---- helpers of the bodies here and in module videz5

  ! An empty array has no element to store or to receive one, but the entries
  ! would take its zero sizes as absent dimensions and move one element.
  logical function refused_empty(procedure, path, n, what, status) result(refused)
    character(len=*), intent(in) :: procedure, path, what
    integer, intent(in) :: n
    integer, intent(out), optional :: status
    refused = n == 0
    if (refused) call say('EMPTY ARRAY IN ' // procedure // '( ' // trim(path) // ' ), NOTHING ' // what)
    if (refused .and. present(status)) status = VIDEZ5_WRITE_REFUSED
  end function

  ! replace=.true.: the next write replaces a dataset or record of another shape.
  subroutine replace_next(replace)
    logical, intent(in), optional :: replace
    if (.not. present(replace)) return
    if (replace) call ftoc_replace_next()
  end subroutine

  ! The caller's status=, when given, from what the library did.
  subroutine write_status(status)
    integer, intent(out), optional :: status
    integer(c_int) :: s
    if (.not. present(status)) return
    call ftoc_last_write_status(s)
    status = s
  end subroutine

  ! Describes the next write, when anything was given for it.
  subroutine describe(units, description, x_units, y_units)
    character(len=*), intent(in), optional :: units, description, x_units, y_units
    if (.not. (present(units) .or. present(description) .or. present(x_units) .or. present(y_units))) return
    call ftoc_describe_next(text(units), len(text(units)), text(description), len(text(description)), &
                            text(x_units), len(text(x_units)), text(y_units), len(text(y_units)))
  end subroutine

  pure function text(s) result(t)
    character(len=*), intent(in), optional :: s
    character(len=:), allocatable :: t
    if (present(s)) then
      t = trim(s)
    else
      t = ''
    end if
  end function

  ! Flushed at once, to stay in order with the library's own lines.
  subroutine say(line)
    character(len=*), intent(in) :: line
    write(output_unit, '(a)') line
    flush(output_unit)
  end subroutine

end module videz5_detail

! The specifics of videz5_dump and videz5_read, a module for each rank: the
! generics of the same name merge where module videz5 uses them all.
#define SCALAR
#define DIMS
module videz5_detail_rank0
#include "videz5_rank.inc"
end module videz5_detail_rank0
#undef DIMS
#undef SCALAR

#define DIMS (:)
module videz5_detail_rank1
#include "videz5_rank.inc"
end module videz5_detail_rank1
#undef DIMS

#define DIMS (:, :)
module videz5_detail_rank2
#include "videz5_rank.inc"
end module videz5_detail_rank2
#undef DIMS

#define DIMS (:, :, :)
module videz5_detail_rank3
#include "videz5_rank.inc"
end module videz5_detail_rank3
#undef DIMS

#define DIMS (:, :, :, :)
module videz5_detail_rank4
#include "videz5_rank.inc"
end module videz5_detail_rank4
#undef DIMS

#define DIMS (:, :, :, :, :)
module videz5_detail_rank5
#include "videz5_rank.inc"
end module videz5_detail_rank5
#undef DIMS

#define DIMS (:, :, :, :, :, :)
module videz5_detail_rank6
#include "videz5_rank.inc"
end module videz5_detail_rank6
#undef DIMS

#define DIMS (:, :, :, :, :, :, :)
module videz5_detail_rank7
#include "videz5_rank.inc"
end module videz5_detail_rank7
#undef DIMS

module videz5
  use, intrinsic :: iso_fortran_env, only: real64, int32
  use, intrinsic :: iso_c_binding, only: c_double, c_int, c_loc, c_f_pointer
  use videz5_detail
  use videz5_detail_rank0
  use videz5_detail_rank1
  use videz5_detail_rank2
  use videz5_detail_rank3
  use videz5_detail_rank4
  use videz5_detail_rank5
  use videz5_detail_rank6
  use videz5_detail_rank7
  implicit none
  private
  public :: ftoc_open_file_id, ftoc_close_file_id, ftoc_open_group_id, ftoc_close_group_id
  public :: ftoc_h5dump_data, ftoc_h5read_data
  public :: ftoc_printh5_double, ftoc_printh5_double_notitle, ftoc_printh5_int, ftoc_printh5_int_notitle
  public :: VIDEZ5_DOUBLE, VIDEZ5_INT, VIDEZ5_STRING, VIDEZ5_FLOAT, VIDEZ5_INT64, VIDEZ5_MAX_RANK
  public :: ftoc_h5get_dims, ftoc_h5read_data_checked
  public :: VIDEZ5_OK, VIDEZ5_NO_FILE, VIDEZ5_NO_DATASET, VIDEZ5_SHAPE_MISMATCH, VIDEZ5_TYPE_MISMATCH, &
            VIDEZ5_READ_FAILED, VIDEZ5_ARGUMENTS_DIFFER, VIDEZ5_WRITE_REFUSED, VIDEZ5_WRITE_FAILED
  public :: videz5_dump, videz5_read, videz5_get_dims, videz5_plot
  public :: ftoc_h5append_data, ftoc_describe_next, videz5_append
  public :: ftoc_set_durable, videz5_set_durable, ftoc_replace_next, ftoc_last_write_status
  public :: ftoc_h5dump_data_id, ftoc_h5read_data_checked_id, ftoc_h5get_dims_id, ftoc_printh5_id, &
            ftoc_flush_file_id, ftoc_defer_commits_id, ftoc_h5append_data_id
  public :: videz5_open, videz5_close, videz5_flush, videz5_defer_commits
  public :: ftoc_h5write_attr, ftoc_h5read_attr, ftoc_h5write_attr_id, ftoc_h5read_attr_id, VIDEZ5_NO_ATTRIBUTE
  public :: videz5_write_attr, videz5_read_attr
  public :: ftoc_h5exists, ftoc_h5exists_id, ftoc_h5list, ftoc_h5list_id, ftoc_h5delete, ftoc_h5delete_id, &
            VIDEZ5_NAMES_CUT
  public :: videz5_exists, videz5_list, videz5_delete
  public :: ftoc_h5dump_array, ftoc_h5dump_array_id, ftoc_h5read_array, ftoc_h5read_array_id, &
            ftoc_h5get_dims_array, ftoc_h5get_dims_array_id, ftoc_compress_next

  ! A scalar per step makes a 1-D series, a 1-D step of n a steps x n one (HDF5
  ! order), a 2-D step (n1, n2) steps x n2 x n1.
  interface videz5_append
    module procedure append_real64_0, append_real64_1, append_real64_2, append_int32_0, append_int32_1, &
                     append_int32_2
    module procedure held_append_real64_0, held_append_real64_1, held_append_real64_2, held_append_int32_0, &
                     held_append_int32_1, held_append_int32_2
  end interface

  ! 1-D data takes one axis, x; 2-D data(nx, ny) takes x(nx) and y(ny).
  interface videz5_plot
    module procedure plot_real64_1, plot_real64_2, plot_int32_1, plot_int32_2
    module procedure held_plot_real64_1, held_plot_real64_2, held_plot_int32_1, held_plot_int32_2
  end interface

  interface videz5_get_dims
    module procedure get_dims, held_get_dims
  end interface

  ! A scalar or a 1-D array, written as one attribute and read back only into
  ! a value of the same shape.
  interface videz5_write_attr
    module procedure write_attr_real64_0, write_attr_real64_1, write_attr_int32_0, write_attr_int32_1, &
                     write_attr_char_0, write_attr_char_1
    module procedure held_write_attr_real64_0, held_write_attr_real64_1, held_write_attr_int32_0, &
                     held_write_attr_int32_1, held_write_attr_char_0, held_write_attr_char_1
  end interface

  interface videz5_read_attr
    module procedure read_attr_real64_0, read_attr_real64_1, read_attr_int32_0, read_attr_int32_1, &
                     read_attr_char_0, read_attr_char_1
    module procedure held_read_attr_real64_0, held_read_attr_real64_1, held_read_attr_int32_0, &
                     held_read_attr_int32_1, held_read_attr_char_0, held_read_attr_char_1
  end interface

  interface videz5_exists
    module procedure exists_by_name, held_exists
  end interface

  interface videz5_list
    module procedure list_by_name, held_list
  end interface

  interface videz5_delete
    module procedure delete_by_name, held_delete
  end interface

contains

  subroutine append_real64_0(file, path, step, units, description, status, compress)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: step
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, file, units, description, [step], [integer ::], VIDEZ5_DOUBLE, &
                    status=status, compress=compress)
  end subroutine
  subroutine append_real64_1(file, path, step, units, description, status, compress)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: step(:)
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, file, units, description, step, shape(step), VIDEZ5_DOUBLE, &
                    status=status, compress=compress)
  end subroutine
  subroutine append_real64_2(file, path, step, units, description, status, compress)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: step(:, :)
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, file, units, description, step, shape(step), VIDEZ5_DOUBLE, &
                    status=status, compress=compress)
  end subroutine
  subroutine append_int32_0(file, path, step, units, description, status, compress)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: step
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, file, units, description, [step], [integer ::], VIDEZ5_INT, &
                    status=status, compress=compress)
  end subroutine
  subroutine append_int32_1(file, path, step, units, description, status, compress)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: step(:)
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, file, units, description, step, shape(step), VIDEZ5_INT, status=status, compress=compress)
  end subroutine
  subroutine append_int32_2(file, path, step, units, description, status, compress)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: step(:, :)
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, file, units, description, step, shape(step), VIDEZ5_INT, status=status, compress=compress)
  end subroutine

  ! 1-D data has only x, which also goes in as y (see plot_any).
  subroutine plot_real64_1(file, path, data, x, title, xtitle, ytitle, units, description, x_units, replace, status)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: data(:), x(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    call plot_any(path, file, data, shape(data), VIDEZ5_DOUBLE, x, x, title, xtitle, ytitle, units, description, &
                  x_units, replace=replace, status=status)
  end subroutine
  subroutine plot_real64_2(file, path, data, x, y, title, xtitle, ytitle, units, description, x_units, y_units, &
                      replace, status)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: data(:, :), x(:), y(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units, y_units
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    call plot_any(path, file, data, shape(data), VIDEZ5_DOUBLE, x, y, title, xtitle, ytitle, units, description, &
                  x_units, y_units, replace=replace, status=status)
  end subroutine
  subroutine plot_int32_1(file, path, data, x, title, xtitle, ytitle, units, description, x_units, replace, status)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: data(:)
    real(real64), intent(in) :: x(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    call plot_any(path, file, data, shape(data), VIDEZ5_INT, x, x, title, xtitle, ytitle, units, description, &
                  x_units, replace=replace, status=status)
  end subroutine
  subroutine plot_int32_2(file, path, data, x, y, title, xtitle, ytitle, units, description, x_units, y_units, &
                      replace, status)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: data(:, :)
    real(real64), intent(in) :: x(:), y(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units, y_units
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    call plot_any(path, file, data, shape(data), VIDEZ5_INT, x, y, title, xtitle, ytitle, units, description, &
                  x_units, y_units, replace=replace, status=status)
  end subroutine

  ! The same through a held handle.
  subroutine held_append_real64_0(handle, path, step, units, description, status, compress)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    real(real64), intent(in) :: step
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, '', units, description, [step], [integer ::], VIDEZ5_DOUBLE, handle=handle, &
                    status=status, compress=compress)
  end subroutine
  subroutine held_append_real64_1(handle, path, step, units, description, status, compress)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    real(real64), intent(in) :: step(:)
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, '', units, description, step, shape(step), VIDEZ5_DOUBLE, handle=handle, &
                    status=status, compress=compress)
  end subroutine
  subroutine held_append_real64_2(handle, path, step, units, description, status, compress)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    real(real64), intent(in) :: step(:, :)
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, '', units, description, step, shape(step), VIDEZ5_DOUBLE, handle=handle, &
                    status=status, compress=compress)
  end subroutine
  subroutine held_append_int32_0(handle, path, step, units, description, status, compress)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    integer(int32), intent(in) :: step
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, '', units, description, [step], [integer ::], VIDEZ5_INT, handle=handle, &
                    status=status, compress=compress)
  end subroutine
  subroutine held_append_int32_1(handle, path, step, units, description, status, compress)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    integer(int32), intent(in) :: step(:)
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, '', units, description, step, shape(step), VIDEZ5_INT, handle=handle, &
                    status=status, compress=compress)
  end subroutine
  subroutine held_append_int32_2(handle, path, step, units, description, status, compress)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    integer(int32), intent(in) :: step(:, :)
    character(len=*), intent(in), optional :: units, description
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    call append_any(path, '', units, description, step, shape(step), VIDEZ5_INT, handle=handle, &
                    status=status, compress=compress)
  end subroutine
  subroutine held_plot_real64_1(handle, path, data, x, title, xtitle, ytitle, units, description, x_units, &
                      replace, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    real(real64), intent(in) :: data(:), x(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    call plot_any(path, '', data, shape(data), VIDEZ5_DOUBLE, x, x, title, xtitle, ytitle, units, description, &
                  x_units, handle=handle, replace=replace, status=status)
  end subroutine
  subroutine held_plot_real64_2(handle, path, data, x, y, title, xtitle, ytitle, units, description, x_units, y_units, &
                      replace, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    real(real64), intent(in) :: data(:, :), x(:), y(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units, y_units
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    call plot_any(path, '', data, shape(data), VIDEZ5_DOUBLE, x, y, title, xtitle, ytitle, units, description, &
                  x_units, y_units, handle=handle, replace=replace, status=status)
  end subroutine
  subroutine held_plot_int32_1(handle, path, data, x, title, xtitle, ytitle, units, description, x_units, &
                      replace, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    integer(int32), intent(in) :: data(:)
    real(real64), intent(in) :: x(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    call plot_any(path, '', data, shape(data), VIDEZ5_INT, x, x, title, xtitle, ytitle, units, description, &
                  x_units, handle=handle, replace=replace, status=status)
  end subroutine
  subroutine held_plot_int32_2(handle, path, data, x, y, title, xtitle, ytitle, units, description, x_units, y_units, &
                      replace, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    integer(int32), intent(in) :: data(:, :)
    real(real64), intent(in) :: x(:), y(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units, y_units
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    call plot_any(path, '', data, shape(data), VIDEZ5_INT, x, y, title, xtitle, ytitle, units, description, &
                  x_units, y_units, handle=handle, replace=replace, status=status)
  end subroutine

  ! ---- shape query

  ! rank and dims(1:rank) of the dataset at path, in the order the array is
  ! declared (the rest of dims 0; a scalar has rank 0); rank -1, and nothing
  ! printed, when there is no dataset there. A rank above size(dims) prints one
  ! line and leaves dims 0: status VIDEZ5_SHAPE_MISMATCH.
  subroutine get_dims(file, path, rank, dims, status)
    character(len=*), intent(in) :: file, path
    integer, intent(out) :: rank, dims(:)
    integer, intent(out), optional :: status
    integer :: s
    call ftoc_h5get_dims_array(file, len_trim(file), path, len_trim(path), size(dims), rank, dims, s)
    if (present(status)) status = s
  end subroutine
  subroutine held_get_dims(handle, path, rank, dims, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    integer, intent(out) :: rank, dims(:)
    integer, intent(out), optional :: status
    integer :: s
    call ftoc_h5get_dims_array_id(handle, path, len_trim(path), size(dims), rank, dims, s)
    if (present(status)) status = s
  end subroutine

  ! ---- attributes

  ! A scalar goes in as [value], and a text with one blank more, so that an
  ! empty one has a length (the blanks at its end are not stored). A scalar is
  ! read through a one-element buffer holding the value, so that a refused
  ! read leaves it as it was.
  subroutine write_attr_real64_0(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    real(real64), intent(in) :: value
    integer, intent(out), optional :: status
    call write_attr_any(path, file, name, [value], [integer ::], VIDEZ5_DOUBLE, 0, status=status)
  end subroutine
  subroutine write_attr_real64_1(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    real(real64), intent(in) :: value(:)
    integer, intent(out), optional :: status
    call write_attr_any(path, file, name, value, shape(value), VIDEZ5_DOUBLE, 0, status=status)
  end subroutine
  subroutine write_attr_int32_0(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    integer(int32), intent(in) :: value
    integer, intent(out), optional :: status
    call write_attr_any(path, file, name, [value], [integer ::], VIDEZ5_INT, 0, status=status)
  end subroutine
  subroutine write_attr_int32_1(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    integer(int32), intent(in) :: value(:)
    integer, intent(out), optional :: status
    call write_attr_any(path, file, name, value, shape(value), VIDEZ5_INT, 0, status=status)
  end subroutine
  subroutine write_attr_char_0(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    character(len=*), intent(in) :: value
    integer, intent(out), optional :: status
    character(len=len(value) + 1) :: padded(1)
    padded(1) = value
    call write_attr_any(path, file, name, padded, [integer ::], VIDEZ5_STRING, len(padded), status=status)
  end subroutine
  subroutine write_attr_char_1(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    character(len=*), intent(in) :: value(:)
    integer, intent(out), optional :: status
    character(len=len(value) + 1) :: padded(size(value))
    padded = value
    call write_attr_any(path, file, name, padded, shape(value), VIDEZ5_STRING, len(padded), status=status)
  end subroutine
  subroutine read_attr_real64_0(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    real(real64), intent(inout) :: value
    integer, intent(out), optional :: status
    real(real64) :: one(1)
    one(1) = value
    call read_attr_any(path, file, name, one, [integer ::], storage_size(one) / 8, VIDEZ5_DOUBLE, 0, &
                       status)
    value = one(1)
  end subroutine
  subroutine read_attr_real64_1(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    real(real64), intent(inout) :: value(:)
    integer, intent(out), optional :: status
    call read_attr_any(path, file, name, value, shape(value), storage_size(value) / 8, VIDEZ5_DOUBLE, 0, &
                       status)
  end subroutine
  subroutine read_attr_int32_0(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    integer(int32), intent(inout) :: value
    integer, intent(out), optional :: status
    integer(int32) :: one(1)
    one(1) = value
    call read_attr_any(path, file, name, one, [integer ::], storage_size(one) / 8, VIDEZ5_INT, 0, &
                       status)
    value = one(1)
  end subroutine
  subroutine read_attr_int32_1(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    integer(int32), intent(inout) :: value(:)
    integer, intent(out), optional :: status
    call read_attr_any(path, file, name, value, shape(value), storage_size(value) / 8, VIDEZ5_INT, 0, &
                       status)
  end subroutine
  subroutine read_attr_char_0(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    character(len=*), intent(inout) :: value
    integer, intent(out), optional :: status
    character(len=len(value)) :: one(1)
    one(1) = value
    call read_attr_any(path, file, name, one, [integer ::], storage_size(one) / 8, VIDEZ5_STRING, len(value), &
                       status)
    value = one(1)
  end subroutine
  subroutine read_attr_char_1(file, path, name, value, status)
    character(len=*), intent(in) :: file, path, name
    character(len=*), intent(inout) :: value(:)
    integer, intent(out), optional :: status
    call read_attr_any(path, file, name, value, shape(value), storage_size(value) / 8, VIDEZ5_STRING, len(value), &
                       status)
  end subroutine
  subroutine held_write_attr_real64_0(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    real(real64), intent(in) :: value
    integer, intent(out), optional :: status
    call write_attr_any(path, '', name, [value], [integer ::], VIDEZ5_DOUBLE, 0, handle=handle, status=status)
  end subroutine
  subroutine held_write_attr_real64_1(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    real(real64), intent(in) :: value(:)
    integer, intent(out), optional :: status
    call write_attr_any(path, '', name, value, shape(value), VIDEZ5_DOUBLE, 0, handle=handle, status=status)
  end subroutine
  subroutine held_write_attr_int32_0(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    integer(int32), intent(in) :: value
    integer, intent(out), optional :: status
    call write_attr_any(path, '', name, [value], [integer ::], VIDEZ5_INT, 0, handle=handle, status=status)
  end subroutine
  subroutine held_write_attr_int32_1(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    integer(int32), intent(in) :: value(:)
    integer, intent(out), optional :: status
    call write_attr_any(path, '', name, value, shape(value), VIDEZ5_INT, 0, handle=handle, status=status)
  end subroutine
  subroutine held_write_attr_char_0(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    character(len=*), intent(in) :: value
    integer, intent(out), optional :: status
    character(len=len(value) + 1) :: padded(1)
    padded(1) = value
    call write_attr_any(path, '', name, padded, [integer ::], VIDEZ5_STRING, len(padded), handle=handle, status=status)
  end subroutine
  subroutine held_write_attr_char_1(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    character(len=*), intent(in) :: value(:)
    integer, intent(out), optional :: status
    character(len=len(value) + 1) :: padded(size(value))
    padded = value
    call write_attr_any(path, '', name, padded, shape(value), VIDEZ5_STRING, len(padded), handle=handle, status=status)
  end subroutine
  subroutine held_read_attr_real64_0(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    real(real64), intent(inout) :: value
    integer, intent(out), optional :: status
    real(real64) :: one(1)
    one(1) = value
    call read_attr_any(path, '', name, one, [integer ::], storage_size(one) / 8, VIDEZ5_DOUBLE, 0, &
                       status, handle=handle)
    value = one(1)
  end subroutine
  subroutine held_read_attr_real64_1(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    real(real64), intent(inout) :: value(:)
    integer, intent(out), optional :: status
    call read_attr_any(path, '', name, value, shape(value), storage_size(value) / 8, VIDEZ5_DOUBLE, 0, &
                       status, handle=handle)
  end subroutine
  subroutine held_read_attr_int32_0(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    integer(int32), intent(inout) :: value
    integer, intent(out), optional :: status
    integer(int32) :: one(1)
    one(1) = value
    call read_attr_any(path, '', name, one, [integer ::], storage_size(one) / 8, VIDEZ5_INT, 0, &
                       status, handle=handle)
    value = one(1)
  end subroutine
  subroutine held_read_attr_int32_1(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    integer(int32), intent(inout) :: value(:)
    integer, intent(out), optional :: status
    call read_attr_any(path, '', name, value, shape(value), storage_size(value) / 8, VIDEZ5_INT, 0, &
                       status, handle=handle)
  end subroutine
  subroutine held_read_attr_char_0(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    character(len=*), intent(inout) :: value
    integer, intent(out), optional :: status
    character(len=len(value)) :: one(1)
    one(1) = value
    call read_attr_any(path, '', name, one, [integer ::], storage_size(one) / 8, VIDEZ5_STRING, len(value), &
                       status, handle=handle)
    value = one(1)
  end subroutine
  subroutine held_read_attr_char_1(handle, path, name, value, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path, name
    character(len=*), intent(inout) :: value(:)
    integer, intent(out), optional :: status
    call read_attr_any(path, '', name, value, shape(value), storage_size(value) / 8, VIDEZ5_STRING, len(value), &
                       status, handle=handle)
  end subroutine

  ! ---- what a file holds

  ! Whether a dataset or group stands at path (an empty path or '/': the root
  ! group). Nothing is created or printed: no file, or none HDF5 can open, is false.
  logical function exists_by_name(file, path) result(found)
    character(len=*), intent(in) :: file, path
    integer(c_int) :: e
    call ftoc_h5exists(file, len_trim(file), path, len_trim(path), e)
    found = e /= 0
  end function
  logical function held_exists(handle, path) result(found)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    integer(c_int) :: e
    call ftoc_h5exists_id(handle, path, len_trim(path), e)
    found = e /= 0
  end function

  ! count is the number of names even when names has fewer elements: those
  ! past size(names) are not stored.
  subroutine list_by_name(file, group, names, count, status)
    character(len=*), intent(in) :: file, group
    character(len=*), intent(inout) :: names(:)
    integer, intent(out) :: count
    integer, intent(out), optional :: status
    call list_any(group, file, names, count, status)
  end subroutine
  subroutine held_list(handle, group, names, count, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: group
    character(len=*), intent(inout) :: names(:)
    integer, intent(out) :: count
    integer, intent(out), optional :: status
    call list_any(group, '', names, count, status, handle)
  end subroutine

  subroutine delete_by_name(file, path, status)
    character(len=*), intent(in) :: file, path
    integer, intent(out), optional :: status
    integer :: s
    call ftoc_h5delete(file, len_trim(file), path, len_trim(path), s)
    if (present(status)) status = s
  end subroutine
  subroutine held_delete(handle, path, status)
    integer, intent(in) :: handle
    character(len=*), intent(in) :: path
    integer, intent(out), optional :: status
    integer :: s
    call ftoc_h5delete_id(handle, path, len_trim(path), s)
    if (present(status)) status = s
  end subroutine

  ! ---- held files

  ! Opens (or creates) the file and holds it until videz5_close: calls through
  ! the handle skip HDF5's open and close. Negative when it cannot be opened.
  integer function videz5_open(file) result(handle)
    character(len=*), intent(in) :: file
    call ftoc_open_file_id(file, len_trim(file), handle)
  end function

  subroutine videz5_close(handle)
    integer, intent(in) :: handle
    call ftoc_close_file_id(handle)
  end subroutine

  ! Commits what the calls changed so far (status 0, negative on failure).
  subroutine videz5_flush(handle, status)
    integer, intent(in) :: handle
    integer, intent(out), optional :: status
    integer :: s
    call ftoc_flush_file_id(handle, s)
    if (present(status)) status = s
  end subroutine

  ! Every call through the handle is committed before it returns, unless this
  ! defers commits to every `calls` calls or the first call after `seconds`
  ! (and flush and close): a kill then loses the calls since the last commit.
  ! Neither given: back to committing every call.
  subroutine videz5_defer_commits(handle, calls, seconds)
    integer, intent(in) :: handle
    integer, intent(in), optional :: calls
    real(real64), intent(in), optional :: seconds
    integer :: n
    real(real64) :: t
    n = 0
    t = 0
    if (present(calls)) n = calls
    if (present(seconds)) t = seconds
    call ftoc_defer_commits_id(handle, n, t)
  end subroutine

  ! ---- the durable mode

  ! For nodes that can lose power: from now on each call's changes are forced to
  ! the disk before it returns (slower; see the README). Off by default.
  subroutine videz5_set_durable(on)
    logical, intent(in) :: on
    call ftoc_set_durable(merge(1, 0, on))
  end subroutine

  ! ---- the bodies

  ! One step: its own sizes (none for a scalar) and element type.
  subroutine append_any(path, file, units, description, step, sizes, type_code, handle, status, compress)
    character(len=*), intent(in) :: path, file
    character(len=*), intent(in), optional :: units, description
    type(*), dimension(*), intent(in) :: step
    integer, intent(in) :: sizes(:), type_code
    integer, intent(in), optional :: handle
    integer, intent(out), optional :: status
    integer, intent(in), optional :: compress
    integer :: dims(2)
    if (refused_empty('videz5_append', path, product(sizes), 'WRITTEN', status)) return
    dims = 0
    dims(:size(sizes)) = sizes
    call describe(units, description)
    call compress_next(compress)
    if (present(handle)) then
      call ftoc_h5append_data_id(handle, path, len_trim(path), step, dims(1), dims(2), type_code)
    else
      call ftoc_h5append_data(file, len_trim(file), path, len_trim(path), step, dims(1), dims(2), type_code)
    end if
    call write_status(status)
  end subroutine

  ! Without any title the no-title entry is used, which keeps a record's stored
  ! titles. The typed entries see the data through a pointer of its own type.
  subroutine plot_any(path, file, data, sizes, type_code, x, y, title, xtitle, ytitle, units, description, x_units, &
                      y_units, handle, replace, status)
    character(len=*), intent(in) :: path, file
    type(*), dimension(*), intent(in), target :: data
    integer, intent(in) :: sizes(:), type_code
    real(real64), intent(in), target :: x(:), y(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle, units, description, x_units, y_units
    integer, intent(in), optional :: handle
    logical, intent(in), optional :: replace
    integer, intent(out), optional :: status
    real(real64), pointer :: axis(:)
    real(c_double), pointer :: doubles(:)
    integer(c_int), pointer :: ints(:)
    integer :: nx, ny
    logical :: titled
    nx = sizes(1)
    ny = product(sizes(2:))
    if (.not. plot_fits(path, nx, ny, size(x), size(y), size(sizes), status)) return
    ! A record with one count above 1 keeps its axis values in "Y": one row
    ! (or 1-D data) hands it x.
    axis => y
    if (ny == 1 .and. nx > 1) then
      ! "X" then holds x(1) and "Y" the rest of x: both are in x's units.
      axis => x
      call describe(units, description, x_units, x_units)
    else
      call describe(units, description, x_units, y_units)
    end if
    titled = present(title) .or. present(xtitle) .or. present(ytitle)
    call replace_next(replace)
    if (present(handle)) then
      call ftoc_printh5_id(handle, path, len_trim(path), data, type_code, x, axis, nx, ny, merge(1, 0, titled), &
                           text(title), len(text(title)), text(xtitle), len(text(xtitle)), text(ytitle), &
                           len(text(ytitle)))
    else if (type_code == VIDEZ5_DOUBLE) then
      call c_f_pointer(c_loc(data), doubles, [nx * ny])
      if (titled) then
        call ftoc_printh5_double(file, len_trim(file), path, len_trim(path), doubles, x, axis, nx, ny, &
                                 text(title), len(text(title)), text(xtitle), len(text(xtitle)), &
                                 text(ytitle), len(text(ytitle)))
      else
        call ftoc_printh5_double_notitle(file, len_trim(file), path, len_trim(path), doubles, x, axis, nx, ny)
      end if
    else
      call c_f_pointer(c_loc(data), ints, [nx * ny])
      if (titled) then
        call ftoc_printh5_int(file, len_trim(file), path, len_trim(path), ints, x, axis, nx, ny, &
                              text(title), len(text(title)), text(xtitle), len(text(xtitle)), &
                              text(ytitle), len(text(ytitle)))
      else
        call ftoc_printh5_int_notitle(file, len_trim(file), path, len_trim(path), ints, x, axis, nx, ny)
      end if
    end if
    call write_status(status)
  end subroutine

  ! One attribute: its values and sizes (none for a scalar) and element type.
  subroutine write_attr_any(path, file, name, value, sizes, type_code, string_length, handle, status)
    character(len=*), intent(in) :: path, file, name
    type(*), dimension(*), intent(in) :: value
    integer, intent(in) :: sizes(:), type_code, string_length
    integer, intent(in), optional :: handle
    integer, intent(out), optional :: status
    integer :: count, s
    if (refused_empty('videz5_write_attr', path, product(sizes), 'WRITTEN', status)) return
    count = 0
    if (size(sizes) > 0) count = sizes(1)
    if (present(handle)) then
      call ftoc_h5write_attr_id(handle, path, len_trim(path), name, len_trim(name), value, count, type_code, &
                                string_length, s)
    else
      call ftoc_h5write_attr(file, len_trim(file), path, len_trim(path), name, len_trim(name), value, count, &
                             type_code, string_length, s)
    end if
    if (present(status)) status = s
  end subroutine

  ! Refused reads end the program without status=, as videz5_read's do.
  subroutine read_attr_any(path, file, name, value, sizes, element_size, type_code, string_length, status, handle)
    character(len=*), intent(in) :: path, file, name
    type(*), dimension(*), intent(inout) :: value
    integer, intent(in) :: sizes(:), element_size, type_code, string_length
    integer, intent(out), optional :: status
    integer, intent(in), optional :: handle
    integer :: count, s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read_attr', path, product(sizes), 'READ')) then
      count = 0
      if (size(sizes) > 0) count = sizes(1)
      if (present(handle)) then
        call ftoc_h5read_attr_id(handle, path, len_trim(path), name, len_trim(name), value, count, element_size, &
                                 type_code, string_length, s)
      else
        call ftoc_h5read_attr(file, len_trim(file), path, len_trim(path), name, len_trim(name), value, count, &
                              element_size, type_code, string_length, s)
      end if
    end if
    if (present(status)) then
      status = s
    else if (s /= VIDEZ5_OK) then
      error stop 'videz5_read_attr failed (see the line above); pass status= to handle it'
    end if
  end subroutine

  ! A listing that failed ends the program without status=, as a read does;
  ! names cut to their length (VIDEZ5_NAMES_CUT) do not.
  subroutine list_any(group, file, names, count, status, handle)
    character(len=*), intent(in) :: group, file
    character(len=*), intent(inout) :: names(:)
    integer, intent(out) :: count
    integer, intent(out), optional :: status
    integer, intent(in), optional :: handle
    integer :: s
    if (present(handle)) then
      call ftoc_h5list_id(handle, group, len_trim(group), names, size(names), len(names), count, s)
    else
      call ftoc_h5list(file, len_trim(file), group, len_trim(group), names, size(names), len(names), count, s)
    end if
    if (present(status)) then
      status = s
    else if (s < VIDEZ5_OK) then
      error stop 'videz5_list failed (see the line above); pass status= to handle it'
    end if
  end subroutine

  ! ---- helpers

  ! The axes must hold exactly one value per row and column of the data: the
  ! entries read as many as the counts say, whatever the arrays hold.
  logical function plot_fits(path, nx, ny, sx, sy, rank, status) result(fits)
    character(len=*), intent(in) :: path
    integer, intent(in) :: nx, ny, sx, sy, rank
    integer, intent(out), optional :: status
    character(len=80) :: sizes
    fits = .false.
    if (refused_empty('videz5_plot', path, nx * ny, 'WRITTEN', status)) return
    fits = sx == nx .and. (rank == 1 .or. sy == ny)
    if (fits) return
    if (present(status)) status = VIDEZ5_WRITE_REFUSED
    if (rank == 1) then
      write(sizes, '(a,i0,a,i0)') 'data ', nx, ', x ', sx
    else
      write(sizes, '(a,i0,a,i0,a,i0,a,i0)') 'data ', nx, ' x ', ny, ', x ', sx, ', y ', sy
    end if
    call say('AXIS SIZE MISMATCH IN videz5_plot( ' // trim(path) // ' ): ' // trim(sizes) // ', NOTHING WRITTEN')
  end function

end module videz5
