! A bad element type code on a read prints ABORT and ends the process.
program abort_read_code
  use videz5
  implicit none
  double precision :: v(2)
  call ftoc_h5dump_data('there.h5', 8, 'v', 1, [1d0, 2d0], 2, 0, 0, VIDEZ5_DOUBLE, 0)
  print '(a)', 'before'
  call ftoc_h5read_data('there.h5', 8, 'v', 1, v, 7, 0)
  print '(a)', 'not reached'
end program
