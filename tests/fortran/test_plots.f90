! Plot records through the four plot entry points.
program test_plots
  use videz5
  use test_support
  implicit none
  character(len=*), parameter :: f = 'plots.h5'
  double precision :: data(4, 3), wide(6, 3), x(6), y(6)
  integer :: counts(4, 3)
  integer :: i

  data = reshape([(dble(i), i = 1, 12)], shape(data))
  wide = 7
  counts = reshape([(10 * i, i = 1, 12)], shape(counts))
  x = [(0.5d0 * i, i = 1, 6)]
  y = [(-1d0 * i, i = 1, 6)]

  call section('titled records')
  call ftoc_printh5_double(f, len(f), 'run1/temp', 9, data, x, y, 4, 3, &
                           'Temperature', 11, 'x [m]', 5, 'y [m]', 5)
  call ftoc_printh5_int(f, len(f), 'run1/counts', 11, counts, x, y, 4, 3, &
                        'Temperature', 5, 'x  ', 3, '', 0)
  call expect_open(0, 'titled records')

  call section('the four count cases')
  call ftoc_printh5_double(f, len(f), 'counts/both', 11, data, x, y, 4, 3, 'b', 1, 'x', 1, 'y', 1)
  call ftoc_printh5_double(f, len(f), 'counts/ny_only', 14, data, x, y, 1, 5, 'n', 1, 'x', 1, 'y', 1)
  call ftoc_printh5_double(f, len(f), 'counts/nx_only', 14, data, x, y, 5, 1, 'n', 1, 'x', 1, 'y', 1)
  call ftoc_printh5_double(f, len(f), 'counts/none', 11, data, x, y, 0, 0, 'z', 1, 'x', 1, 'y', 1)

  call section('without titles')
  call ftoc_printh5_double_notitle('bare.h5', 7, 'run1/temp', 9, data, x, y, 4, 3)
  call ftoc_printh5_int_notitle('bare.h5', 7, 'run1/counts', 11, counts, x, y, 4, 3)
  ! Rewriting a titled record without titles keeps its titles.
  call ftoc_printh5_double_notitle(f, len(f), 'run1/temp', 9, -data, x, y, 4, 3)
  call expect_open(0, 'records without titles')

  call section('rewrite with other title lengths')
  call ftoc_printh5_double(f, len(f), 'counts/both', 11, data, x, y, 4, 3, 'longer', 6, 'xx', 2, '', 0)

  call section('rewrite with nx changed')
  ! Nothing of the record changes, the axis that would fit and the titles included.
  call ftoc_printh5_double(f, len(f), 'counts/both', 11, wide, x, 10 * y, 6, 3, 'w', 1, 'x', 1, 'y', 1)
  call expect_open(0, 'rewrites')
  call section('done')
end program test_plots
