! Plot records through the module's generic videz5_plot; check.py then looks at
! the records and renders them to images.
program test_module_plots
  use, intrinsic :: iso_fortran_env, only: real64, int32
  use videz5
  use test_support
  implicit none
  character(len=*), parameter :: f = 'module_plots.h5'
  integer, parameter :: nx = 24, ny = 16
  real(real64) :: field(nx, ny), x(nx), y(ny), wave(40), t(40), row(5, 1), wide(nx + 1, ny)
  integer(int32) :: counts(nx, ny)
  integer :: i, j

  x = [(0.25d0 * i, i = 1, nx)]
  y = [(0.5d0 * j, j = 1, ny)]
  field = spread(sin(x), 2, ny) * spread(cos(y / 2), 1, nx)
  counts = reshape([((i * j, i = 1, nx), j = 1, ny)], shape(counts))
  t = [(0.2d0 * i, i = 1, 40)]
  wave = sin(t)
  row(:, 1) = [1d0, 4d0, 9d0, 16d0, 25d0]
  wide = 0

  call section('2-D records with titles')
  call videz5_plot(f, 'fields/temperature', field, x, y, 'Temperature', 'x [m]', 'y [m]')
  call videz5_plot(f, 'fields/counts', counts, x, y, title='Cell counts', xtitle='x [m]', ytitle='y [m]')
  call section('1-D records')
  call videz5_plot(f, 'series/wave', wave, t, 'Wave', 't [s]', 'amplitude')
  ! Only a title: the axis titles are stored empty.
  call videz5_plot(f, 'series/histogram', [3, 9, 14, 11, 5, 1], [(dble(i), i = 1, 6)], title='Histogram')
  ! A single row is a 1-D record over x.
  call videz5_plot(f, 'series/row', row, [1d0, 2d0, 3d0, 4d0, 5d0], [0d0], 'Squares', 'n', 'n**2')
  call section('without titles')
  call videz5_plot(f, 'bare/wave', wave, t)
  call videz5_plot(f, 'bare/counts', counts, x, y)
  call section('axes that do not fit the data are refused')
  call videz5_plot(f, 'refused/short_x', field, x(1:nx - 1), y, 'r', 'x', 'y')
  call videz5_plot(f, 'refused/long_y', counts, x, [y, 1d0], 'r', 'x', 'y')
  call videz5_plot(f, 'refused/line', wave, t(1:39))
  call videz5_plot(f, 'refused/empty', wave(1:0), t(1:0))
  call section('a rewrite of another shape keeps the record as stored')
  call videz5_plot(f, 'fields/temperature', wide, [x, 0d0], y, 'Temperature', 'x [m]', 'y [m]')
  call section('done')
end program test_module_plots
