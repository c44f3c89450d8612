! Series grown one step per call, and units and descriptions on dumps, appends and plot records.
program test_series
  use videz5
  use, intrinsic :: iso_fortran_env, only: real64
  implicit none
  character(len=*), parameter :: f = 'series.h5'
  real(real64) :: v(3), g(2, 3), d(4, 3), x(4), y(3)
  real(real64), allocatable :: back(:, :), w(:), wide(:, :, :)
  integer :: i, j, k, rank, dims(3), status, n(2, 5)
  logical :: same(3)

  do k = 1, 5
    v = [(k * 10 + i, i = 1, 3)]
    g = reshape([(k + i / 10d0, i = 1, 6)], shape(g))
    call videz5_append(f, 'scalar/e', k * 0.5_real64, units='J', description='kinetic energy')
    call videz5_append(f, 'runs/v', v)
    call videz5_append(f, 'g', g)
    call videz5_append(f, 'n', [k, -k])
  end do
  ! Refused, the stored steps kept: another step shape or type, no series there, an empty step.
  call videz5_append(f, 'runs/v', [1d0, 2d0])
  call videz5_append(f, 'g', reshape([1d0, 2d0, 3d0, 4d0, 5d0, 6d0], [3, 2]))
  call videz5_append(f, 'runs/v', [1, 2, 3])
  call videz5_dump(f, 'fixed', [1d0, 2d0], units='m', description='fixed size')
  call videz5_append(f, 'fixed', [1d0, 2d0])
  call videz5_append(f, 'runs', 1d0)
  call videz5_append(f, 'runs/v', v(1:0))

  ! The whole series through the existing shape query and read: steps are the last size.
  call videz5_get_dims(f, 'runs/v', rank, dims)
  allocate(back(dims(1), dims(2)))
  call videz5_read(f, 'runs/v', back, status)
  print '(a,i0,a,3(1x,i0),a,i0,a,l1)', 'runs/v: rank ', rank, ', dims', dims, ', status ', status, &
        ', last step read back ', all(back(:, 5) == v)
  flush(6)
  deallocate(back)
  call videz5_read(f, 'n', n, status)
  print '(a,i0,a,l1)', 'n: status ', status, ', read back ', all(n(1, :) == [(k, k = 1, 5)]) .and. all(n(2, :) == -n(1, :))

  ! Steps of 80 KB, three to a chunk: 'wide/a' and 'wide/b' grown in turns
  ! have their chunks between each other's, 'wide/c' grown alone has them in
  ! a row; each has a last chunk one third full. Whole reads put every value back.
  allocate(w(10000), wide(10000, 10, 3), back(10000, 10))
  do k = 1, 10
    do i = 1, 3
      w = [(i * 1d6 + k * 1d4 + j, j = 1, 10000)]
      wide(:, k, i) = w
      if (i < 3) call videz5_append(f, 'wide/' // achar(96 + i), w)
    end do
  end do
  do k = 1, 10
    call videz5_append(f, 'wide/c', wide(:, k, 3))
  end do
  do i = 1, 3
    back = 0
    call videz5_read(f, 'wide/' // achar(96 + i), back, status)
    same(i) = status == 0 .and. all(back == wide(:, :, i))
  end do
  print '(a,3(1x,l1))', 'wide: a, b, c read back', same
  deallocate(w, wide, back)

  ! A longer text replaces the attribute whole; a refused write takes its description along unused.
  call videz5_dump(f, 'fixed', [3d0, 4d0], units='km/s')
  call videz5_dump(f, 'fixed', [1d0], units='lost')
  call videz5_dump(f, 'plain', [1d0])
  x = [1, 2, 3, 4]
  y = [5, 6, 7]
  d = reshape([(i * 1d0, i = 1, 12)], shape(d))
  call videz5_plot(f, 'plots/T', d, x, y, 'T', 'x', 'y', units='K', description='temperature', x_units='m', &
                   y_units='s')
  call videz5_plot(f, 'plots/line', x, x, 'line', 'x [m]', 'v', units='m/s', x_units='m')
end program test_series
