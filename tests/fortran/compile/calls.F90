! Calls of the module's generic procedures, only compiled: with -DBAD=0 every
! call is right; each BAD=n adds one of a wrong type or rank, to be refused.
program calls
  use, intrinsic :: iso_fortran_env, only: real32, real64, int8, int32, int64
  use videz5
  implicit none
  real(real64) :: r1(3), r2(3, 2), r3(3, 2, 2), r4(2, 2, 2, 2), scalar
  real(real32) :: s2(3, 2), single
  integer(int32) :: i1(3), i2(3, 2), i3(3, 2, 2)
  integer(int64) :: l1(3), long
  integer(int8) :: byte1(3)
  real(real64) :: r7(2, 1, 1, 1, 1, 1, 2), r8(1, 1, 1, 1, 1, 1, 1, 1)
  integer :: dims7(7)
  logical :: b1(3)
  complex(real64) :: c1(3)
  character(len=4) :: w1(3), w2(3, 2), w3(3, 2, 2)
  character(len=16) :: name = 'f.h5'
  integer :: rank, dims(3), status, handle = 1, count
  logical :: there

  call videz5_dump(name, 'r1', r1)
  call videz5_dump(name, 'r2', r2)
  call videz5_dump(name, 'r3', r3)
  call videz5_dump(name, 'i1', i1)
  call videz5_dump(name, 'i2', i2)
  call videz5_dump(name, 'i3', i3)
  call videz5_dump(name, 'w1', w1)
  call videz5_dump(name, 'w2', w2)
  call videz5_dump(name, 'w3', w3)
  call videz5_dump(name, 'section', r2(1:3:2, :))
  call videz5_dump(name, 'single', s2)
  call videz5_dump(name, 'int64', l1, compress=4)
  call videz5_dump(handle, 'rank4', r4, compress=1, chunks=[2, 2, 1, 1])
  call videz5_dump(name, 'rank7', r7, start=[1, 1, 1, 1, 1, 1, 3], shape=[2, 1, 1, 1, 1, 1, 4], status=status)
  call videz5_dump(name, 'scalar', scalar)
  call videz5_dump(handle, 'long', long, 'units', 'description', .true., status)
  call videz5_dump(name, 'text', 'text')
  call videz5_read(name, 'single', s2, status, [1, 1])
  call videz5_read(handle, 'rank4', r4, start=[1, 1, 1, 2])
  call videz5_read(name, 'scalar', scalar, status)
  call videz5_read(handle, 'long', long)
  call videz5_read(name, 'text', w1(1))
  call videz5_get_dims(name, 'rank7', rank, dims7, status)
  call videz5_append(name, 'series', r1, compress=9)
  call videz5_read(name, 'r1', r1)
  call videz5_read(name, 'r2', r2, status)
  call videz5_read(name, 'r3', r3, status=status)
  call videz5_read(name, 'i3', i3)
  call videz5_read(name, 'w2', w2, status)
  call videz5_get_dims(name, 'r2', rank, dims)
  call videz5_plot(name, 'p1', r1, r1)
  call videz5_plot(name, 'p1t', r1, r1, 'title', 'x', 'y')
  call videz5_plot(name, 'p2', r2, r1, r1(1:2))
  call videz5_plot(name, 'p2t', r2, r1, r1(1:2), title='t', ytitle='y')
  call videz5_plot(name, 'i1', i1, r1, xtitle='x')
  call videz5_plot(name, 'i2', i2, r1, r1(1:2), 't', 'x', 'y')
  call videz5_write_attr(name, 'r1', 'scalar', scalar)
  call videz5_write_attr(name, 'r1', 'array', r1, status)
  call videz5_write_attr(name, 'r1', 'int', i1(1))
  call videz5_write_attr(handle, 'r1', 'ints', i1, status=status)
  call videz5_write_attr(handle, 'r1', 'text', 'text')
  call videz5_write_attr(name, '/', 'texts', w1)
  call videz5_read_attr(name, 'r1', 'scalar', scalar)
  call videz5_read_attr(handle, 'r1', 'array', r1, status)
  call videz5_read_attr(name, 'r1', 'int', i1(1), status=status)
  call videz5_read_attr(name, 'r1', 'ints', i1)
  call videz5_read_attr(handle, 'r1', 'text', w1(1))
  call videz5_read_attr(name, '/', 'texts', w1)
  there = videz5_exists(name, 'r1')
  there = videz5_exists(handle, '/')
  call videz5_list(name, '/', w1, count)
  call videz5_list(handle, 'g', w1(1:2), count, status)
  call videz5_delete(name, 'r1')
  call videz5_delete(handle, 'g', status=status)

#if BAD == 1
  call videz5_dump(name, 'logical', b1)
#elif BAD == 2
  call videz5_dump(name, 'int8', byte1)
#elif BAD == 3
  call videz5_dump(name, 'rank8', r8)
#elif BAD == 4
  call videz5_dump(name, 'compress', r1, compress=1.0)
#elif BAD == 5
  call videz5_read(name, 'logical', b1)
#elif BAD == 6
  call videz5_read(name, 'complex', c1)
#elif BAD == 7
  call videz5_read(name, 'status', r2, 1.0)
#elif BAD == 8
  call videz5_plot(name, 'int_axis', r2, i1, r1)
#elif BAD == 9
  call videz5_plot(name, 'no_y', r2, r1)
#elif BAD == 10
  call videz5_plot(name, 'rank3', r3, r1, r1)
#elif BAD == 11
  call videz5_get_dims(name, 'real_rank', scalar, dims)
#elif BAD == 12
  call videz5_write_attr(name, 'r1', 'single', single)
#elif BAD == 13
  call videz5_write_attr(handle, 'r1', 'int64', l1)
#elif BAD == 14
  call videz5_write_attr(name, 'r1', 'rank2', r2)
#elif BAD == 15
  call videz5_read_attr(name, 'r1', 'logical', b1)
#elif BAD == 16
  call videz5_read_attr(handle, 'r1', 'complex', c1(1))
#elif BAD == 17
  call videz5_read_attr(name, 'r1', 'status', scalar, 1.0)
#elif BAD == 18
  there = videz5_exists(name, 1)
#elif BAD == 19
  call videz5_list(name, '/', i1, count)
#elif BAD == 20
  call videz5_list(handle, '/', w1, scalar)
#elif BAD == 21
  call videz5_delete(name, 1.0)
#elif BAD == 22
  call videz5_read(name, 'scalar_block', scalar, start=[1])
#elif BAD == 23
  call videz5_append(name, 'series', r1, compress='9')
#elif BAD == 24
  call videz5_get_dims(name, 'r2', rank, dims, 1.0)
#endif
end program calls
