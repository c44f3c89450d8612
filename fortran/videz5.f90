! The videz5 module: explicit interfaces for the videz5_c entry points, and
! generic procedures that pass every length and size themselves:
!   videz5_dump(file, path, array)           real64 / int32 / character, rank 1 to 3
!   videz5_read(file, path, array [, status]) the same; refuses an array of another shape
!   videz5_get_dims(file, path, rank, dims)  rank -1 when there is no dataset
!   videz5_plot(file, path, data, x [, y] [, title, xtitle, ytitle])
! File and path names are taken up to their last non-blank character.
!
! Entry point interfaces:
! Data and buffer arguments are assumed-type, assumed-size, so one program can
! dump double, integer and character arrays of any rank through the same entry
! point without -fallow-argument-mismatch. (A scalar goes in as [value].)
! Every text is followed by the number of its characters to take; the hidden
! length that the compiler appends for character arguments is ignored.
! File and group handles are default integers; a negative handle means failure.
module videz5
  use, intrinsic :: iso_fortran_env, only: real64, int32, output_unit
  implicit none
  private
  public :: ftoc_open_file_id, ftoc_close_file_id, ftoc_open_group_id, ftoc_close_group_id
  public :: ftoc_h5dump_data, ftoc_h5read_data
  public :: ftoc_printh5_double, ftoc_printh5_double_notitle, ftoc_printh5_int, ftoc_printh5_int_notitle
  public :: VIDEZ5_DOUBLE, VIDEZ5_INT, VIDEZ5_STRING
  public :: ftoc_h5get_dims, ftoc_h5read_data_checked
  public :: VIDEZ5_OK, VIDEZ5_NO_FILE, VIDEZ5_NO_DATASET, VIDEZ5_SHAPE_MISMATCH, VIDEZ5_TYPE_MISMATCH, &
            VIDEZ5_READ_FAILED
  public :: videz5_dump, videz5_read, videz5_get_dims, videz5_plot
  public :: ftoc_set_durable, videz5_set_durable

  ! Element type codes.
  integer, parameter :: VIDEZ5_DOUBLE = 0, VIDEZ5_INT = 1, VIDEZ5_STRING = 2
  ! Status of a checked read (videz5_read, ftoc_h5read_data_checked), as in videz5_c.h.
  integer, parameter :: VIDEZ5_OK = 0, VIDEZ5_NO_FILE = -1, VIDEZ5_NO_DATASET = -2, VIDEZ5_SHAPE_MISMATCH = -3, &
                        VIDEZ5_TYPE_MISMATCH = -4, VIDEZ5_READ_FAILED = -5

  interface
    subroutine ftoc_open_file_id(name, name_length, file_id)
      character(len=*), intent(in) :: name
      integer, intent(in) :: name_length
      integer, intent(out) :: file_id
    end subroutine

    subroutine ftoc_close_file_id(file_id)
      integer, intent(in) :: file_id
    end subroutine

    subroutine ftoc_open_group_id(loc_id, path, path_length, group_id)
      integer, intent(in) :: loc_id
      character(len=*), intent(in) :: path
      integer, intent(in) :: path_length
      integer, intent(out) :: group_id
    end subroutine

    subroutine ftoc_close_group_id(group_id)
      integer, intent(in) :: group_id
    end subroutine

    subroutine ftoc_h5dump_data(name, name_length, path, path_length, data, dim1, dim2, dim3, &
                                type_code, string_length)
      character(len=*), intent(in) :: name, path
      integer, intent(in) :: name_length, path_length
      type(*), dimension(*), intent(in) :: data
      integer, intent(in) :: dim1, dim2, dim3, type_code, string_length
    end subroutine

    subroutine ftoc_h5read_data(name, name_length, path, path_length, buffer, type_code, string_length)
      character(len=*), intent(in) :: name, path
      integer, intent(in) :: name_length, path_length
      type(*), dimension(*), intent(inout) :: buffer
      integer, intent(in) :: type_code, string_length
    end subroutine

    subroutine ftoc_printh5_double(name, name_length, path, path_length, data, x, y, nx, ny, &
                                   title, title_length, xtitle, xtitle_length, ytitle, ytitle_length)
      character(len=*), intent(in) :: name, path, title, xtitle, ytitle
      integer, intent(in) :: name_length, path_length, title_length, xtitle_length, ytitle_length
      double precision, dimension(*), intent(in) :: data, x, y
      integer, intent(in) :: nx, ny
    end subroutine

    subroutine ftoc_printh5_double_notitle(name, name_length, path, path_length, data, x, y, nx, ny)
      character(len=*), intent(in) :: name, path
      integer, intent(in) :: name_length, path_length
      double precision, dimension(*), intent(in) :: data, x, y
      integer, intent(in) :: nx, ny
    end subroutine

    subroutine ftoc_printh5_int(name, name_length, path, path_length, data, x, y, nx, ny, &
                                title, title_length, xtitle, xtitle_length, ytitle, ytitle_length)
      character(len=*), intent(in) :: name, path, title, xtitle, ytitle
      integer, intent(in) :: name_length, path_length, title_length, xtitle_length, ytitle_length
      integer, dimension(*), intent(in) :: data
      double precision, dimension(*), intent(in) :: x, y
      integer, intent(in) :: nx, ny
    end subroutine

    subroutine ftoc_printh5_int_notitle(name, name_length, path, path_length, data, x, y, nx, ny)
      character(len=*), intent(in) :: name, path
      integer, intent(in) :: name_length, path_length
      integer, dimension(*), intent(in) :: data
      double precision, dimension(*), intent(in) :: x, y
      integer, intent(in) :: nx, ny
    end subroutine

    ! The durable mode: every call's changes reach the disk before it returns (on /= 0).
    subroutine ftoc_set_durable(on)
      integer, intent(in) :: on
    end subroutine

    ! Rank and Fortran-order sizes (absent ones 0) of a dataset; rank -1 when there is none.
    subroutine ftoc_h5get_dims(name, name_length, path, path_length, rank, dim1, dim2, dim3)
      character(len=*), intent(in) :: name, path
      integer, intent(in) :: name_length, path_length
      integer, intent(out) :: rank, dim1, dim2, dim3
    end subroutine

    ! Reads only when the stored shape is dim1 x dim2 x dim3 (as for the dump) and
    ! element_size bytes fit the type code; otherwise the buffer is left alone.
    subroutine ftoc_h5read_data_checked(name, name_length, path, path_length, buffer, dim1, dim2, dim3, &
                                        element_size, type_code, string_length, status)
      character(len=*), intent(in) :: name, path
      integer, intent(in) :: name_length, path_length
      type(*), dimension(*), intent(inout) :: buffer
      integer, intent(in) :: dim1, dim2, dim3, element_size, type_code, string_length
      integer, intent(out) :: status
    end subroutine
  end interface

  interface videz5_dump
    module procedure dump_real64_1, dump_real64_2, dump_real64_3, dump_int32_1, dump_int32_2, dump_int32_3, &
                     dump_char_1, dump_char_2, dump_char_3
  end interface

  interface videz5_read
    module procedure read_real64_1, read_real64_2, read_real64_3, read_int32_1, read_int32_2, read_int32_3, &
                     read_char_1, read_char_2, read_char_3
  end interface

  ! 1-D data takes one axis, x; 2-D data(nx, ny) takes x(nx) and y(ny).
  interface videz5_plot
    module procedure plot_real64_1, plot_real64_2, plot_int32_1, plot_int32_2
  end interface

contains

  ! ---- dumps: the array's own sizes and element type, never an element more

  subroutine dump_real64_1(file, path, array)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: array(:)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array), 0, 0, VIDEZ5_DOUBLE, 0)
  end subroutine

  subroutine dump_real64_2(file, path, array)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: array(:, :)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array, 1), size(array, 2), 0, &
                          VIDEZ5_DOUBLE, 0)
  end subroutine

  subroutine dump_real64_3(file, path, array)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: array(:, :, :)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array, 1), size(array, 2), &
                          size(array, 3), VIDEZ5_DOUBLE, 0)
  end subroutine

  subroutine dump_int32_1(file, path, array)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: array(:)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array), 0, 0, VIDEZ5_INT, 0)
  end subroutine

  subroutine dump_int32_2(file, path, array)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: array(:, :)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array, 1), size(array, 2), 0, &
                          VIDEZ5_INT, 0)
  end subroutine

  subroutine dump_int32_3(file, path, array)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: array(:, :, :)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array, 1), size(array, 2), &
                          size(array, 3), VIDEZ5_INT, 0)
  end subroutine

  subroutine dump_char_1(file, path, array)
    character(len=*), intent(in) :: file, path
    character(len=*), intent(in) :: array(:)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array), 0, 0, VIDEZ5_STRING, &
                          len(array))
  end subroutine

  subroutine dump_char_2(file, path, array)
    character(len=*), intent(in) :: file, path
    character(len=*), intent(in) :: array(:, :)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array, 1), size(array, 2), 0, &
                          VIDEZ5_STRING, len(array))
  end subroutine

  subroutine dump_char_3(file, path, array)
    character(len=*), intent(in) :: file, path
    character(len=*), intent(in) :: array(:, :, :)
    if (refused_empty('videz5_dump', path, size(array), 'WRITTEN')) return
    call ftoc_h5dump_data(file, len_trim(file), path, len_trim(path), array, size(array, 1), size(array, 2), &
                          size(array, 3), VIDEZ5_STRING, len(array))
  end subroutine

  ! ---- reads: through the checked entry, so an array of another shape is refused

  subroutine read_real64_1(file, path, array, status)
    character(len=*), intent(in) :: file, path
    real(real64), intent(inout) :: array(:)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array), 0, 0, &
                                    storage_size(array) / 8, VIDEZ5_DOUBLE, 0, s)
    call finish_read(s, status)
  end subroutine

  subroutine read_real64_2(file, path, array, status)
    character(len=*), intent(in) :: file, path
    real(real64), intent(inout) :: array(:, :)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array, 1), &
                                    size(array, 2), 0, storage_size(array) / 8, VIDEZ5_DOUBLE, 0, s)
    call finish_read(s, status)
  end subroutine

  subroutine read_real64_3(file, path, array, status)
    character(len=*), intent(in) :: file, path
    real(real64), intent(inout) :: array(:, :, :)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array, 1), &
                                    size(array, 2), size(array, 3), storage_size(array) / 8, VIDEZ5_DOUBLE, 0, s)
    call finish_read(s, status)
  end subroutine

  subroutine read_int32_1(file, path, array, status)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(inout) :: array(:)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array), 0, 0, &
                                    storage_size(array) / 8, VIDEZ5_INT, 0, s)
    call finish_read(s, status)
  end subroutine

  subroutine read_int32_2(file, path, array, status)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(inout) :: array(:, :)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array, 1), &
                                    size(array, 2), 0, storage_size(array) / 8, VIDEZ5_INT, 0, s)
    call finish_read(s, status)
  end subroutine

  subroutine read_int32_3(file, path, array, status)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(inout) :: array(:, :, :)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array, 1), &
                                    size(array, 2), size(array, 3), storage_size(array) / 8, VIDEZ5_INT, 0, s)
    call finish_read(s, status)
  end subroutine

  subroutine read_char_1(file, path, array, status)
    character(len=*), intent(in) :: file, path
    character(len=*), intent(inout) :: array(:)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array), 0, 0, &
                                    storage_size(array) / 8, VIDEZ5_STRING, len(array), s)
    call finish_read(s, status)
  end subroutine

  subroutine read_char_2(file, path, array, status)
    character(len=*), intent(in) :: file, path
    character(len=*), intent(inout) :: array(:, :)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array, 1), &
                                    size(array, 2), 0, storage_size(array) / 8, VIDEZ5_STRING, len(array), s)
    call finish_read(s, status)
  end subroutine

  subroutine read_char_3(file, path, array, status)
    character(len=*), intent(in) :: file, path
    character(len=*), intent(inout) :: array(:, :, :)
    integer, intent(out), optional :: status
    integer :: s
    s = VIDEZ5_SHAPE_MISMATCH
    if (.not. refused_empty('videz5_read', path, size(array), 'READ')) &
      call ftoc_h5read_data_checked(file, len_trim(file), path, len_trim(path), array, size(array, 1), &
                                    size(array, 2), size(array, 3), storage_size(array) / 8, VIDEZ5_STRING, &
                                    len(array), s)
    call finish_read(s, status)
  end subroutine

  ! ---- shape query

  ! rank and dims(1:rank) of the dataset at path, in the order the array is declared
  ! (unused sizes 0); rank -1, and nothing printed, when there is no dataset there.
  subroutine videz5_get_dims(file, path, rank, dims)
    character(len=*), intent(in) :: file, path
    integer, intent(out) :: rank, dims(3)
    call ftoc_h5get_dims(file, len_trim(file), path, len_trim(path), rank, dims(1), dims(2), dims(3))
  end subroutine

  ! ---- the durable mode

  ! For nodes that can lose power: from now on each call's changes are forced to
  ! the disk before it returns (slower; see the README). Off by default.
  subroutine videz5_set_durable(on)
    logical, intent(in) :: on
    call ftoc_set_durable(merge(1, 0, on))
  end subroutine

  ! ---- plot records

  subroutine plot_real64_1(file, path, data, x, title, xtitle, ytitle)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: data(:), x(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle
    if (.not. plot_fits(path, size(data), 1, size(x), 1, 1)) return
    ! A record with one count above 1 keeps its axis values in "Y".
    call plot_double(file, path, data, x, x, size(data), 1, title, xtitle, ytitle)
  end subroutine

  subroutine plot_real64_2(file, path, data, x, y, title, xtitle, ytitle)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: data(:, :), x(:), y(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle
    if (.not. plot_fits(path, size(data, 1), size(data, 2), size(x), size(y), 2)) return
    ! One row is stored as 1-D data whose axis values come from "y": hand it x.
    if (size(data, 2) == 1 .and. size(data, 1) > 1) then
      call plot_double(file, path, data, x, x, size(data, 1), 1, title, xtitle, ytitle)
    else
      call plot_double(file, path, data, x, y, size(data, 1), size(data, 2), title, xtitle, ytitle)
    end if
  end subroutine

  subroutine plot_int32_1(file, path, data, x, title, xtitle, ytitle)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: data(:)
    real(real64), intent(in) :: x(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle
    if (.not. plot_fits(path, size(data), 1, size(x), 1, 1)) return
    call plot_int(file, path, data, x, x, size(data), 1, title, xtitle, ytitle)
  end subroutine

  subroutine plot_int32_2(file, path, data, x, y, title, xtitle, ytitle)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: data(:, :)
    real(real64), intent(in) :: x(:), y(:)
    character(len=*), intent(in), optional :: title, xtitle, ytitle
    if (.not. plot_fits(path, size(data, 1), size(data, 2), size(x), size(y), 2)) return
    if (size(data, 2) == 1 .and. size(data, 1) > 1) then
      call plot_int(file, path, data, x, x, size(data, 1), 1, title, xtitle, ytitle)
    else
      call plot_int(file, path, data, x, y, size(data, 1), size(data, 2), title, xtitle, ytitle)
    end if
  end subroutine

  ! Without any title the no-title entry is used, which keeps a record's stored titles.
  subroutine plot_double(file, path, data, x, y, nx, ny, title, xtitle, ytitle)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: data(*), x(*), y(*)
    integer, intent(in) :: nx, ny
    character(len=*), intent(in), optional :: title, xtitle, ytitle
    if (present(title) .or. present(xtitle) .or. present(ytitle)) then
      call ftoc_printh5_double(file, len_trim(file), path, len_trim(path), data, x, y, nx, ny, &
                               text(title), len(text(title)), text(xtitle), len(text(xtitle)), &
                               text(ytitle), len(text(ytitle)))
    else
      call ftoc_printh5_double_notitle(file, len_trim(file), path, len_trim(path), data, x, y, nx, ny)
    end if
  end subroutine

  subroutine plot_int(file, path, data, x, y, nx, ny, title, xtitle, ytitle)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: data(*)
    real(real64), intent(in) :: x(*), y(*)
    integer, intent(in) :: nx, ny
    character(len=*), intent(in), optional :: title, xtitle, ytitle
    if (present(title) .or. present(xtitle) .or. present(ytitle)) then
      call ftoc_printh5_int(file, len_trim(file), path, len_trim(path), data, x, y, nx, ny, &
                            text(title), len(text(title)), text(xtitle), len(text(xtitle)), &
                            text(ytitle), len(text(ytitle)))
    else
      call ftoc_printh5_int_notitle(file, len_trim(file), path, len_trim(path), data, x, y, nx, ny)
    end if
  end subroutine

  ! ---- helpers

  ! An empty array has no element to store or to receive one, but the entries
  ! would take its zero sizes as absent dimensions and move one element.
  logical function refused_empty(procedure, path, n, what) result(refused)
    character(len=*), intent(in) :: procedure, path, what
    integer, intent(in) :: n
    refused = n == 0
    if (refused) call say('EMPTY ARRAY IN ' // procedure // '( ' // trim(path) // ' ), NOTHING ' // what)
  end function

  ! The axes must hold exactly one value per row and column of the data: the
  ! entries read as many as the counts say, whatever the arrays hold.
  logical function plot_fits(path, nx, ny, sx, sy, rank) result(fits)
    character(len=*), intent(in) :: path
    integer, intent(in) :: nx, ny, sx, sy, rank
    character(len=80) :: sizes
    fits = .false.
    if (refused_empty('videz5_plot', path, nx * ny, 'WRITTEN')) return
    fits = sx == nx .and. (rank == 1 .or. sy == ny)
    if (fits) return
    if (rank == 1) then
      write(sizes, '(a,i0,a,i0)') 'data ', nx, ', x ', sx
    else
      write(sizes, '(a,i0,a,i0,a,i0,a,i0)') 'data ', nx, ' x ', ny, ', x ', sx, ', y ', sy
    end if
    call say('AXIS SIZE MISMATCH IN videz5_plot( ' // trim(path) // ' ): ' // trim(sizes) // ', NOTHING WRITTEN')
  end function

  ! Like a READ without IOSTAT=: a failure that the caller did not ask to see
  ! ends the program, rather than let it go on with stale values.
  subroutine finish_read(s, status)
    integer, intent(in) :: s
    integer, intent(out), optional :: status
    if (present(status)) then
      status = s
    else if (s /= VIDEZ5_OK) then
      error stop 'videz5_read failed (see the line above); pass status= to handle it'
    end if
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

end module videz5
