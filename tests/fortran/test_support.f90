! Checks shared by the Fortran test programs. A failed check prints one FAIL
! line and stops with a non-zero code; passing checks print nothing, so that
! standard output holds only the library's own lines and the section markers.
module test_support
  use iso_c_binding, only: c_int
  implicit none
  private
  public :: expect, expect_open, section

  interface
    function videz5_test_open_objects() bind(C) result(n)
      import :: c_int
      integer(c_int) :: n
    end function
  end interface

contains

  subroutine section(name)
    character(len=*), intent(in) :: name
    print '(a)', '== ' // name
  end subroutine

  subroutine expect(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (.not. ok) then
      print '(a)', 'FAIL: ' // what
      error stop 1
    end if
  end subroutine

  ! The library must leave open only what it handed back.
  subroutine expect_open(n, what)
    integer, intent(in) :: n
    character(len=*), intent(in) :: what
    integer :: open_now
    open_now = videz5_test_open_objects()
    if (open_now /= n) then
      print '(a,i0,a,i0,a)', 'FAIL: ', open_now, ' HDF5 objects open (expected ', n, ') after ' // what
      error stop 1
    end if
  end subroutine

end module test_support
