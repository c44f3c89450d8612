! The shape query and the checked read as entry points, every length passed by
! hand, on this library's files and on foreign.h5, which check.py writes first.
program test_checked_entries
  use videz5
  use test_support
  implicit none
  character(len=*), parameter :: f = 'checked.h5', foreign = 'foreign.h5'
  ! Element size, type code and string length of buffers that do not fit the code.
  integer, parameter :: sizes(5) = [4, 4, 0, 8, 8], codes(5) = [VIDEZ5_DOUBLE, VIDEZ5_STRING, VIDEZ5_STRING, 3, -1]
  integer, parameter :: lengths(5) = [0, 8, 0, 0, 0]
  double precision :: v(5), m(2, 3), one(1), sentinel(5)
  integer :: ints(4), rank, d1, d2, d3, status, i
  character(len=4) :: s4(2)
  double precision, allocatable :: big(:, :, :)
  integer, allocatable :: ibig(:, :, :)

  v = [(dble(i), i = 1, 5)]
  m = reshape([(dble(i), i = 1, 6)], shape(m))

  call section('sizes as the dump takes them, 0 for absent')
  call ftoc_h5dump_data(f, len(f), 'v', 1, v, 5, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'g/m', 3, m, 2, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'one', 3, [9d0], 0, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5get_dims(f, len(f), 'g/m', 3, rank, d1, d2, d3)
  call expect(rank == 2 .and. all([d1, d2, d3] == [2, 3, 0]), 'get_dims g/m')
  ! A length shorter than the text: only that much is the name.
  call ftoc_h5get_dims(f // 'xyz', len(f), 'v and more', 1, rank, d1, d2, d3)
  call expect(rank == 1 .and. all([d1, d2, d3] == [5, 0, 0]), 'names cut at their lengths')
  call ftoc_h5read_data_checked(f, len(f), 'one', 3, one, 0, 0, 0, 8, VIDEZ5_DOUBLE, 0, status)
  call expect(status == VIDEZ5_OK .and. one(1) == 9, 'all sizes 0: one element')
  call ftoc_h5read_data_checked(f, len(f), 'g/m', 3, sentinel, 3, 2, 0, 8, VIDEZ5_DOUBLE, 0, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH, 'transposed sizes refused')
  call ftoc_h5read_data_checked(f, len(f), 'g/m', 3, sentinel, 2, 3, 1, 8, VIDEZ5_DOUBLE, 0, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH, 'a size of 1 counts towards the rank')
  call section('element sizes and codes checked before the file is even looked for')
  sentinel = 42
  do i = 1, size(codes)
    call ftoc_h5read_data_checked('absent.h5', 9, 'v', 1, sentinel, 5, 0, 0, sizes(i), codes(i), lengths(i), status)
    call expect(status == VIDEZ5_TYPE_MISMATCH .and. all(sentinel == 42), 'element case ' // char(48 + i))
  end do
  call section('values that would change are refused')
  ints = 42
  call ftoc_h5read_data_checked(foreign, len(foreign), 'i64big', 6, ints, 4, 0, 0, 4, VIDEZ5_INT, 0, status)
  call expect(status == VIDEZ5_TYPE_MISMATCH .and. all(ints == 42), 'a value out of range refused')
  ! Checked in batches, the last value included.
  allocate(big(60, 100, 200), ibig(60, 100, 200))
  big = 1
  big(60, 100, 200) = 0.5d0
  ibig = 42
  call ftoc_h5dump_data(f, len(f), 'big', 3, big, 60, 100, 200, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data_checked(f, len(f), 'big', 3, ibig, 60, 100, 200, 4, VIDEZ5_INT, 0, status)
  call expect(status == VIDEZ5_TYPE_MISMATCH .and. all(ibig == 42), 'a fraction as the last value of many')
  big(60, 100, 200) = -7
  call ftoc_h5dump_data(f, len(f), 'big', 3, big, 60, 100, 200, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data_checked(f, len(f), 'big', 3, ibig, 60, 100, 200, 4, VIDEZ5_INT, 0, status)
  call expect(status == VIDEZ5_OK .and. count(ibig == 1) == size(ibig) - 1 .and. ibig(60, 100, 200) == -7, &
              'whole numbers read as ints')
  deallocate(big, ibig)  ! memcheck counts what is still allocated at exit
  call section('files written by others')
  call ftoc_h5get_dims(foreign, len(foreign), 'rank4', 5, rank, d1, d2, d3)
  call expect(rank == 4 .and. all([d1, d2, d3] == 0), 'rank 4: no sizes')
  call ftoc_h5get_dims(foreign, len(foreign), 'scalar', 6, rank, d1, d2, d3)
  call expect(rank == 0 .and. all([d1, d2, d3] == 0), 'scalar: rank 0')
  call ftoc_h5get_dims(foreign, len(foreign), 'empty', 5, rank, d1, d2, d3)
  call expect(rank == 1 .and. all([d1, d2, d3] == 0), 'an empty dataset')
  sentinel = 42
  call ftoc_h5read_data_checked(foreign, len(foreign), 'rank4', 5, sentinel, 5, 4, 3, 8, VIDEZ5_DOUBLE, 0, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH .and. all(sentinel == 42), 'rank 4 refused')
  call ftoc_h5read_data_checked(foreign, len(foreign), 'scalar', 6, sentinel, 1, 0, 0, 8, VIDEZ5_DOUBLE, 0, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH .and. all(sentinel == 42), 'scalar refused')
  s4 = 'keep'
  call ftoc_h5read_data_checked(foreign, len(foreign), 'vlen', 4, s4, 2, 0, 0, 4, VIDEZ5_STRING, 4, status)
  call expect(status == VIDEZ5_TYPE_MISMATCH .and. all(s4 == 'keep'), 'variable-length strings refused')
  ints = 0
  call ftoc_h5read_data_checked(foreign, len(foreign), 'i64', 3, ints, 4, 0, 0, 4, VIDEZ5_INT, 0, status)
  call expect(status == VIDEZ5_OK .and. all(ints == [-2, 0, 5, 70000]), '64-bit ints converted')
  call section('done')
end program test_checked_entries
