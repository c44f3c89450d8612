! Datasets and plot records that change shape (replace=.true.), and status= on every write.
program test_replace
  use videz5
  use, intrinsic :: iso_fortran_env, only: real64
  implicit none
  character(len=*), parameter :: f = 'replace.h5'
  real(real64) :: t(205), e(205), field(4, 3), x4(4), y3(3)
  integer :: i, s(12), h
  character(len=0) :: blank(2)

  t = [(i * 0.5_real64, i = 1, 205)]
  e = t**2
  field = reshape([(i * 1d0, i = 1, 12)], shape(field))
  x4 = [1d0, 2d0, 3d0, 4d0]
  y3 = [10d0, 20d0, 30d0]

  ! A dataset that grows: refused without replace=, replaced whole with it,
  ! its units going over to the new one.
  call videz5_dump(f, 'energy', e(:105), units='J', status=s(1))
  call videz5_dump(f, 'energy', e, status=s(2))
  call videz5_dump(f, 'energy', e, replace=.true., status=s(3))
  ! Another element type: whole ints give way to doubles with a fraction.
  call videz5_dump(f, 'kind', [1, 2, 3])
  call videz5_dump(f, 'kind', [0.5d0, 1.5d0, 2.5d0], replace=.true., status=s(4))
  ! A group is never replaced by a dataset.
  call videz5_dump(f, 'grp/inner', [1d0])
  call videz5_dump(f, 'grp', [1d0, 2d0], replace=.true., status=s(5))
  print '(a,5(1x,i0))', 'dumps:', s(1:5)

  ! A 1-D record growing each step: 105 points, then 205.
  call videz5_plot(f, 'plots/energy', e(:105), t(:105), 'Energy', 't [s]', 'E [J]', x_units='s')
  call videz5_plot(f, 'plots/energy', e, t, 'Energy', 't [s]', 'E [J]', status=s(1))
  call videz5_plot(f, 'plots/energy', e, t, 'Energy', 't [s]', 'E [J]', replace=.true., status=s(2))
  ! A 2-D record that becomes 1-D, without titles: the stored ones label it.
  call videz5_plot(f, 'plots/shape', field, x4, y3, 'Field', 'x', 'y')
  call videz5_plot(f, 'plots/shape', e(:7), t(:7), replace=.true., status=s(3))
  ! The same through a held file, and a title that grows.
  h = videz5_open(f)
  call videz5_plot(h, 'plots/held', field, x4, y3, 'F', 'x', 'y', status=s(4))
  call videz5_plot(h, 'plots/held', field(:2, :), x4(:2), y3, 'Field, fewer columns', 'x', 'y', replace=.true., &
                   status=s(5))
  call videz5_close(h)
  print '(a,5(1x,i0))', 'records:', s(1:5)

  ! status= on every refusal: empty arrays, axes that do not fit, a step of
  ! another shape, no file to open, an unknown handle, texts of no length
  ! (refused before any file is opened); then a good write.
  call videz5_dump(f, 'empty', e(1:0), status=s(1))
  call videz5_plot(f, 'plots/bad', e(:3), t(:4), status=s(2))
  call videz5_append(f, 'steps', [1d0, 2d0], status=s(3))
  call videz5_append(f, 'steps', [1d0, 2d0, 3d0], status=s(4))
  call videz5_append(f, 'steps', e(1:0), status=s(5))
  call videz5_dump('no/such/dir/x.h5', 'v', [1d0], status=s(6))
  call videz5_plot(12345, 'p', e(:3), t(:3), status=s(7))
  call videz5_append(12345, 'p', 1d0, status=s(8))
  call videz5_dump(f, 'blank', blank, status=s(9))
  call videz5_dump(f, 'fine', [1, 2], status=s(10))
  print '(a,10(1x,i0))', 'statuses:', s(1:10)
end program
