! Checks shared by the test programs. A failed check prints one FAIL line and
! stops; passing checks print nothing, so that standard output holds only the
! library's lines and the section markers.
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
  ! Each section starts with nothing of HDF5 open: the calls before it left
  ! open only what they handed back, and that was closed.
  subroutine section(name)
    character(len=*), intent(in) :: name
    call expect_open(0, 'the calls before section "' // name // '"')
    print '(a)', '== ' // name
  end subroutine
  subroutine expect(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (ok) return
    print '(a)', 'FAIL: ' // what
    error stop 1
  end subroutine
  subroutine expect_open(n, what)
    integer, intent(in) :: n
    character(len=*), intent(in) :: what
    character(len=40) :: counts
    write(counts, '(i0,a,i0,a)') videz5_test_open_objects(), ' HDF5 objects open (expected ', n, ')'
    call expect(videz5_test_open_objects() == n, trim(counts) // ' after ' // what)
  end subroutine
end module test_support
