! The collective calls as an MPI program makes them, on 1 to 4 ranks: a table
! of global arrays cut into blocks along each dimension (even, uneven, one
! rank empty), each dumped collectively into par.h5 and read back by blocks,
! and by rank 0 dumped whole with the serial call into ser.h5, for check.py
! to compare. Then overwrites, refusals, mismatched arguments and failed reads.
! Standard output: the library's lines (rank 0's) and one closing line.
program test_collective
  use mpi
  use, intrinsic :: iso_fortran_env, only: real64, int32
  use videz5
  use videz5_mpi
  implicit none
  integer :: ierr, me, n, failures, total
  character(len=*), parameter :: par = 'par.h5'

  call MPI_Init(ierr)
  call MPI_Comm_rank(MPI_COMM_WORLD, me, ierr)
  call MPI_Comm_size(MPI_COMM_WORLD, n, ierr)
  failures = 0

  !             name          global sizes  cut along  how     element
  call run_case('d1_even',     [12, 5, 3],  1, 'even',   VIDEZ5_DOUBLE)
  call run_case('d1_uneven',   [13, 5, 3],  1, 'uneven', VIDEZ5_DOUBLE)
  call run_case('d2_even',     [4, 12, 3],  2, 'even',   VIDEZ5_INT)
  call run_case('d2_uneven',   [4, 13, 3],  2, 'uneven', VIDEZ5_DOUBLE)
  call run_case('d3_even',     [3, 4, 12],  3, 'even',   VIDEZ5_DOUBLE)
  call run_case('d3_uneven',   [3, 4, 13],  3, 'uneven', VIDEZ5_INT)
  call run_case('g/plane',     [7, 6, 0],   2, 'empty',  VIDEZ5_INT)
  call run_case('g/h/line',    [13, 0, 0],  1, 'uneven', VIDEZ5_INT)
  call run_case('g/h/doubles', [13, 0, 0],  1, 'empty',  VIDEZ5_DOUBLE)

  call overwrites()
  call mismatches()
  call failed_reads()
  call serial_afterwards()

  call MPI_Allreduce(failures, total, 1, MPI_INTEGER, MPI_SUM, MPI_COMM_WORLD, ierr)
  if (me == 0) print '(a,i0,a,a)', 'collective on ', n, ' ranks: ', trim(merge('ok    ', 'FAILED', total == 0))
  call MPI_Finalize(ierr)

contains

  subroutine expect(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (ok) return
    print '(a,i0,a)', 'FAIL on rank ', me, ': ' // what
    failures = failures + 1
  end subroutine

  ! The value at global (i, j, k), from 1: exact in both element types.
  real(real64) function value(i, j, k, code)
    integer, intent(in) :: i, j, k, code
    value = i + 100 * j + 10000 * k
    if (code == VIDEZ5_DOUBLE) value = value + 0.25d0
  end function

  ! This rank's part of length points: equal parts, parts one apart, or the
  ! last rank empty and the others sharing them.
  subroutine cut(length, how, offset, count)
    integer, intent(in) :: length
    character(len=*), intent(in) :: how
    integer, intent(out) :: offset, count
    integer :: parts, r
    parts = n
    if (how == 'empty' .and. n > 1) parts = n - 1
    offset = 0
    do r = 0, me
      count = length / parts + merge(1, 0, r < mod(length, parts))
      if (r == parts) count = 0
      if (r < me) offset = offset + count
    end do
  end subroutine

  subroutine run_case(name, global, along, how, code)
    character(len=*), intent(in) :: name, how
    integer, intent(in) :: global(3), along, code
    integer :: rank, offset(3), count(3), i, j, k, s
    real(real64), allocatable :: values(:, :, :), whole(:, :, :)
    rank = count_nonzero(global)
    offset = 0
    count = max(global, 1)
    call cut(global(along), how, offset(along), count(along))
    allocate(values(count(1), count(2), count(3)), whole(max(global(1), 1), max(global(2), 1), max(global(3), 1)))
    do k = 1, size(whole, 3)
      do j = 1, size(whole, 2)
        do i = 1, size(whole, 1)
          whole(i, j, k) = value(i, j, k, code)
        end do
      end do
    end do
    values = whole(offset(1) + 1:offset(1) + count(1), offset(2) + 1:offset(2) + count(2), &
                   offset(3) + 1:offset(3) + count(3))
    call dump(name, values, global(:rank), offset(:rank), code, s)
    call expect(s == VIDEZ5_OK, name // ': collective dump')
    values = -1
    call read_back(name, values, global(:rank), offset(:rank), code, s)
    call expect(s == VIDEZ5_OK, name // ': collective read')
    call expect(all(values == whole(offset(1) + 1:offset(1) + count(1), offset(2) + 1:offset(2) + count(2), &
                                    offset(3) + 1:offset(3) + count(3))), name // ': values read back')
    ! The same global array, whole, through the serial dump.
    if (me == 0) call serial_dump(name, whole, global, code)
    call MPI_Barrier(MPI_COMM_WORLD, ierr)
  end subroutine

  integer function count_nonzero(global)
    integer, intent(in) :: global(3)
    count_nonzero = count(global /= 0)
  end function

  ! Through the generic procedures, with the block's own rank and type.
  subroutine dump(name, values, global, offset, code, s)
    character(len=*), intent(in) :: name
    real(real64), intent(in) :: values(:, :, :)
    integer, intent(in) :: global(:), offset(:), code
    integer, intent(out) :: s
    integer(int32) :: ints(size(values, 1), size(values, 2), size(values, 3))
    ints = nint(values)
    select case (size(global) * 10 + code)
      case (10 + VIDEZ5_DOUBLE); call videz5_pdump(MPI_COMM_WORLD, par, 'cases/' // name, values(:, 1, 1), global, offset, s)
      case (20 + VIDEZ5_DOUBLE); call videz5_pdump(MPI_COMM_WORLD, par, 'cases/' // name, values(:, :, 1), global, offset, s)
      case (30 + VIDEZ5_DOUBLE); call videz5_pdump(MPI_COMM_WORLD, par, 'cases/' // name, values, global, offset, s)
      case (10 + VIDEZ5_INT); call videz5_pdump(MPI_COMM_WORLD, par, 'cases/' // name, ints(:, 1, 1), global, offset, s)
      case (20 + VIDEZ5_INT); call videz5_pdump(MPI_COMM_WORLD, par, 'cases/' // name, ints(:, :, 1), global, offset, s)
      case default; call videz5_pdump(MPI_COMM_WORLD, par, 'cases/' // name, ints, global, offset, s)
    end select
  end subroutine

  subroutine read_back(name, values, global, offset, code, s)
    character(len=*), intent(in) :: name
    real(real64), intent(inout) :: values(:, :, :)
    integer, intent(in) :: global(:), offset(:), code
    integer, intent(out) :: s
    integer(int32) :: ints(size(values, 1), size(values, 2), size(values, 3))
    ints = -1
    select case (size(global) * 10 + code)
      case (10 + VIDEZ5_DOUBLE); call videz5_pread(MPI_COMM_WORLD, par, 'cases/' // name, values(:, 1, 1), global, offset, s)
      case (20 + VIDEZ5_DOUBLE); call videz5_pread(MPI_COMM_WORLD, par, 'cases/' // name, values(:, :, 1), global, offset, s)
      case (30 + VIDEZ5_DOUBLE); call videz5_pread(MPI_COMM_WORLD, par, 'cases/' // name, values, global, offset, s)
      case (10 + VIDEZ5_INT); call videz5_pread(MPI_COMM_WORLD, par, 'cases/' // name, ints(:, 1, 1), global, offset, s)
      case (20 + VIDEZ5_INT); call videz5_pread(MPI_COMM_WORLD, par, 'cases/' // name, ints(:, :, 1), global, offset, s)
      case default; call videz5_pread(MPI_COMM_WORLD, par, 'cases/' // name, ints, global, offset, s)
    end select
    if (code == VIDEZ5_INT) values = ints
  end subroutine

  subroutine serial_dump(name, whole, global, code)
    character(len=*), intent(in) :: name
    real(real64), intent(in) :: whole(:, :, :)
    integer, intent(in) :: global(3), code
    if (code == VIDEZ5_DOUBLE) then
      call ftoc_h5dump_data('ser.h5', 6, 'cases/' // name, len('cases/' // name), whole, &
                            global(1), global(2), global(3), VIDEZ5_DOUBLE, 0)
    else
      call ftoc_h5dump_data('ser.h5', 6, 'cases/' // name, len('cases/' // name), nint(whole), &
                            global(1), global(2), global(3), VIDEZ5_INT, 0)
    end if
  end subroutine

  ! In place when the shape is unchanged and the stored type holds every
  ! rank's values; refused (and the data kept) otherwise.
  subroutine overwrites()
    real(real64), allocatable :: t(:, :, :), line(:)
    integer :: o, c, s
    call cut(12, 'even', o, c)
    allocate(t(c, 5, 3))
    t = -7.5d0
    call videz5_pdump(MPI_COMM_WORLD, par, 'cases/d1_even', t, [12, 5, 3], [o, 0, 0], s)
    call expect(s == VIDEZ5_OK, 'overwrite in place')
    call videz5_pdump(MPI_COMM_WORLD, par, 'cases/d1_even', t(:, :, 1:2), [12, 5, 2], [o, 0, 0], s)
    call expect(s == VIDEZ5_WRITE_REFUSED, 'another shape refused')
    ! Whole doubles go into the int dataset; one fraction on the last rank stops them all.
    call cut(13, 'uneven', o, c)
    allocate(line(c))
    line = 5
    call videz5_pdump(MPI_COMM_WORLD, par, 'cases/g/h/line', line, [13], [o], s)
    call expect(s == VIDEZ5_OK, 'whole doubles into ints')
    if (me == n - 1) line(1) = 0.5d0
    call videz5_pdump(MPI_COMM_WORLD, par, 'cases/g/h/line', line, [13], [o], s)
    call expect(s == VIDEZ5_WRITE_REFUSED, 'a fraction on one rank refused on all')
  end subroutine

  ! One rank passing something else: refused everywhere, nothing written.
  subroutine mismatches()
    real(real64) :: a(12)
    integer :: o, c, s, last
    last = n - 1
    a = 1
    call cut(12, 'even', o, c)
    if (n > 1) then
      call videz5_pdump(MPI_COMM_WORLD, par, merge('mismatch/b', 'mismatch/a', me == last), a(:c), [12], [o], s)
      call expect(s == VIDEZ5_ARGUMENTS_DIFFER, 'paths differ')
      call videz5_pdump(MPI_COMM_WORLD, merge('own.h5', par, me == last), 'mismatch/a', a(:c), [12], [o], s)
      call expect(s == VIDEZ5_ARGUMENTS_DIFFER, 'file names differ')
      call videz5_pdump(MPI_COMM_WORLD, par, 'mismatch/a', a(:c), [merge(13, 12, me == last)], [o], s)
      call expect(s == VIDEZ5_ARGUMENTS_DIFFER, 'global sizes differ')
      call ftoc_h5pdump_data(MPI_COMM_WORLD, par, len(par), 'mismatch/a', 10, a, [12, 0, 0], [o, 0, 0], [c, 0, 0], &
                             merge(VIDEZ5_INT, VIDEZ5_DOUBLE, me == last), s)
      call expect(s == VIDEZ5_ARGUMENTS_DIFFER, 'element types differ')
      call videz5_pdump(MPI_COMM_WORLD, par, 'mismatch/a', a(:c), [12], [merge(0, o, me == 1)], s)
      call expect(s == VIDEZ5_ARGUMENTS_DIFFER, 'blocks overlap')
    end if
    call videz5_pdump(MPI_COMM_WORLD, par, 'mismatch/a', a(:c - merge(1, 0, me == last)), [12], [o], s)
    call expect(s == VIDEZ5_ARGUMENTS_DIFFER, 'an element uncovered')
    call videz5_pdump(MPI_COMM_WORLD, par, 'mismatch/a', a(:c), [12], [o + merge(1, 0, me == last)], s)
    call expect(s == VIDEZ5_ARGUMENTS_DIFFER, 'a block outside')
  end subroutine

  subroutine failed_reads()
    real(real64) :: t(12, 5, 4)
    integer :: s
    t = 0
    call videz5_pread(MPI_COMM_WORLD, par, 'cases/d1_even', t, [12, 5, 4], [0, 0, 0], s)
    call expect(s == VIDEZ5_SHAPE_MISMATCH .and. all(t == 0), 'another shape read')
    call videz5_pread(MPI_COMM_WORLD, par, 'cases/none', t, [12, 5, 4], [0, 0, 0], s)
    call expect(s == VIDEZ5_NO_DATASET, 'no dataset')
    call videz5_pread(MPI_COMM_WORLD, 'missing.h5', 'cases/d1_even', t, [12, 5, 4], [0, 0, 0], s)
    call expect(s == VIDEZ5_NO_FILE, 'no file')
    call videz5_pread(MPI_COMM_WORLD, par, 'cases/d1_even', t(:, :, :3), [12, 5, 3], [0, 0, 1], s)
    call expect(s == VIDEZ5_ARGUMENTS_DIFFER, 'a block outside')
  end subroutine

  ! Once the collective calls returned, rank 0 alone reads with the serial
  ! calls and writes a plot record while the others wait at a barrier.
  subroutine serial_afterwards()
    real(real64) :: t(12, 5, 3), x(4)
    integer :: s
    if (me == 0) then
      call videz5_read(par, 'cases/d1_even', t, s)
      call expect(s == VIDEZ5_OK .and. all(t == -7.5d0), 'serial checked read after the collective calls')
      t = 0
      call ftoc_h5read_data(par, len(par), 'cases/d1_even', 13, t, VIDEZ5_DOUBLE, 0)
      call expect(all(t == -7.5d0), 'seven-argument read after the collective calls')
      x = [1, 2, 3, 4]
      call videz5_plot(par, 'plots/p', x * 2, x, 'title', 'x', 'y')
    end if
    call MPI_Barrier(MPI_COMM_WORLD, ierr)
  end subroutine

end program test_collective
