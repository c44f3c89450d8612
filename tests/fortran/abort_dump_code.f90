! A bad element type code on a dump ends the process, silently, before any file exists.
program abort_dump_code
  use videz5
  implicit none
  double precision :: v(2)
  v = 1
  print '(a)', 'before'
  call ftoc_h5dump_data('never.h5', 8, 'v', 1, v, 2, 0, 0, 3, 0)
  print '(a)', 'not reached'
end program
