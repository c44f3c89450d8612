! Plot records through the four plot entry points.
program test_plots
  use videz5
  use test_support
  implicit none
  character(len=*), parameter :: f = 'plots.h5'
  double precision :: data(4, 3), wide(6, 3), x(6), y(6)
  integer :: counts(4, 3), i

  data = reshape([(dble(i), i = 1, 12)], shape(data))
  wide = 7
  counts = int(10 * data)
  x = [(0.5d0 * i, i = 1, 6)]
  y = -[(dble(i), i = 1, 6)]

  call section('titled records')
  call ftoc_printh5_double(f, len(f), 'run1/temp', 9, data, x, y, 4, 3, 'Temperature', 11, 'x [m]', 5, 'y [m]', 5)
  ! A title ends at its length or at a NUL before it; blanks inside the length stay.
  call ftoc_printh5_int(f, len(f), 'run1/counts', 11, counts, x, y, 4, 3, 'Tem' // char(0) // 'perature', 5, &
                        'x  ', 3, '', 0)
  call section('counts of 0 and 1 drop out')
  call ftoc_printh5_double(f, len(f), 'counts/both', 11, data, x, y, 4, 3, 'b', 1, 'x', 1, 'y', 1)
  call ftoc_printh5_double(f, len(f), 'counts/ny_only', 14, data, x, y, 1, 5, 'n', 1, 'x', 1, 'y', 1)
  call ftoc_printh5_double(f, len(f), 'counts/nx_only', 14, data, x, y, 5, 1, 'n', 1, 'x', 1, 'y', 1)
  call ftoc_printh5_double(f, len(f), 'counts/none', 11, data, x, y, 0, 0, 'z', 1, 'x', 1, 'y', 1)
  call section('a titled record rewritten without titles keeps them')
  call ftoc_printh5_double_notitle(f, len(f), 'run1/temp', 9, -data, x, y, 4, 3)
  call section('rewrites with longer titles, then with nx changed')
  call ftoc_printh5_double(f, len(f), 'counts/both', 11, data, x, y, 4, 3, 'longer', 6, 'xx', 2, '', 0)
  ! Refused as a whole: the axis that would fit and the titles stay too.
  call ftoc_printh5_double(f, len(f), 'counts/both', 11, wide, x, 10 * y, 6, 3, 'w', 1, 'x', 1, 'y', 1)
  call section('done')
end program test_plots
