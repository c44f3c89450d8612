! Reading a file that does not exist ends the process with a message.
program abort_read_missing
  use videz5
  implicit none
  double precision :: v(2)
  print '(a)', 'before'
  call ftoc_h5read_data('missing.h5', 10, 'v', 1, v, VIDEZ5_DOUBLE, 0)
  print '(a)', 'not reached'
end program
