! One of several processes that write into the same file at once, each to its
! own paths: large and small arrays and plot records. It says "ready", waits
! for a file named "go" so that all of them start together, then prints
! "returned N" after each call. Every value is a function of (writer, call),
! so that the checker can recompute it.
!
! Usage: shared_writer FILE WRITER CALLS
program shared_writer
  use videz5
  use, intrinsic :: iso_c_binding, only: c_int
  implicit none
  interface
    integer(c_int) function usleep(microseconds) bind(C, name='usleep')
      import :: c_int
      integer(c_int), value :: microseconds
    end function
  end interface
  character(len=256) :: file, arg
  character(len=32) :: path
  character(len=12) :: title
  double precision :: big(20000), data(16, 12), x(16), y(12)
  integer :: small(3), writer, calls, c, i, n
  logical :: go

  call get_command_argument(1, file)
  call get_command_argument(2, arg)
  read(arg, *) writer
  call get_command_argument(3, arg)
  read(arg, *) calls

  print '(a)', 'ready'
  flush(6)
  do
    inquire(file='go', exist=go)
    if (go) exit
    if (usleep(1000_c_int) /= 0) exit
  end do

  do c = 1, calls
    select case (mod(c, 3))
    case (0)  ! 160 KB
      big = [(writer * 1000000d0 + c + i / 100000d0, i = 1, size(big))]
      write(path, '(a,i0,a,i0)') 'w', writer, '/a', c
      n = len_trim(path)
      call ftoc_h5dump_data(file, len_trim(file), path, n, big, size(big), 0, 0, VIDEZ5_DOUBLE, 0)
    case (1)
      data = reshape([(writer * 1000d0 + c + i / 1000d0, i = 1, size(data))], shape(data))
      x = [(c + 0.5d0 * i, i = 1, 16)]
      y = [(writer - 0.5d0 * i, i = 1, 12)]
      write(title, '(a,i0,a,i0)') 'w', writer, ' c', c
      write(path, '(a,i0,a,i0)') 'w', writer, '/p', c
      n = len_trim(path)
      call ftoc_printh5_double(file, len_trim(file), path, n, data, x, y, 16, 12, title, len_trim(title), &
                               'x', 1, 'y', 1)
    case (2)  ! three ints
      small = [(writer * 1000 + c * 10 + i, i = 1, 3)]
      write(path, '(a,i0,a,i0)') 'w', writer, '/k', c
      n = len_trim(path)
      call ftoc_h5dump_data(file, len_trim(file), path, n, small, 3, 0, 0, VIDEZ5_INT, 0)
    end select
    print '(a,i0)', 'returned ', c
  end do
end program shared_writer
