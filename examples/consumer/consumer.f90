! Dumps a field, asks its shape, allocates and reads it back, writes a plot record.
program consumer
  use, intrinsic :: iso_fortran_env, only: real64
  use videz5
  implicit none
  real(real64) :: field(3, 2), axis_x(3), axis_y(2)
  real(real64), allocatable :: back(:, :)
  integer :: i, rank, dims(3)

  field = reshape([(0.5_real64 * i, i = 1, 6)], shape(field))
  axis_x = [1, 2, 3]
  axis_y = [10, 20]
  call videz5_dump('consumer.h5', 'fields/f', field)
  call videz5_get_dims('consumer.h5', 'fields/f', rank, dims)
  allocate(back(dims(1), dims(2)))
  call videz5_read('consumer.h5', 'fields/f', back)
  call videz5_plot('consumer.h5', 'plots/f', field, axis_x, axis_y, 'f', 'x', 'y')
  print '(a,i0,a,i0,a,i0,a,l1)', 'consumer: rank ', rank, ', ', dims(1), ' x ', dims(2), ', read back ', &
    all(back == field)
  deallocate(back)
end program consumer
