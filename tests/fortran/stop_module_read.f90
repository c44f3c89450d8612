! A module read refused without a status argument ends the program, as a Fortran
! READ without IOSTAT= does, after the library's line.
program stop_module_read
  use videz5
  implicit none
  double precision :: t(2, 3), u(3, 2)
  t = 1
  u = 0
  call videz5_dump('stop.h5', 't', t)
  print '(a)', 'before'
  call videz5_read('stop.h5', 't', u)
  print '(a)', 'not reached'
end program
