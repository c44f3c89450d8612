! Explicit interfaces for the ten videz5_c entry points.
!
! Data and buffer arguments are assumed-type, assumed-size, so one program can
! dump double, integer and character arrays of any rank through the same entry
! point without -fallow-argument-mismatch. (A scalar goes in as [value].)
! Every text is followed by the number of its characters to take; the hidden
! length that the compiler appends for character arguments is ignored.
! File and group handles are default integers; a negative handle means failure.
module videz5
  implicit none
  private
  public :: ftoc_open_file_id, ftoc_close_file_id, ftoc_open_group_id, ftoc_close_group_id
  public :: ftoc_h5dump_data, ftoc_h5read_data
  public :: ftoc_printh5_double, ftoc_printh5_double_notitle, ftoc_printh5_int, ftoc_printh5_int_notitle
  public :: VIDEZ5_DOUBLE, VIDEZ5_INT, VIDEZ5_STRING

  ! Element type codes.
  integer, parameter :: VIDEZ5_DOUBLE = 0, VIDEZ5_INT = 1, VIDEZ5_STRING = 2

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
  end interface
end module videz5
