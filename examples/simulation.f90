! A small "simulation" that stores its results with videz5_c and reads them back.
program simulation
  use videz5
  use, intrinsic :: iso_fortran_env, only: real32, int64
  implicit none
  character(len=*), parameter :: file = 'simulation.h5'
  integer, parameter :: nx = 16, ny = 12, nsteps = 3
  double precision :: temperature(nx, ny), energy(nsteps), field(4, 3, 2), x(nx), y(ny)
  double precision :: temperature_back(nx, ny), energy_back(nsteps), field_back(4, 3, 2)
  integer :: cells(nx, ny), cells_back(nx, ny)
  character(len=8) :: species(3), species_back(3)
  integer :: i, j, step, failures, rank, dims(3), status
  double precision, allocatable :: sized_back(:, :), series_back(:)
  real(real32) :: state(nx, ny, 2, 3), slab(nx, 4, 2, 1)
  integer(int64) :: steps_done
  integer :: dims7(7), count
  character(len=16) :: names(4), units
  logical :: there(2)

  failures = 0
  x = [(0.1d0 * i, i = 1, nx)]
  y = [(0.2d0 * j, j = 1, ny)]
  species = [character(len=8) :: 'H2O', 'CO2', 'N2']
  field = reshape([(dble(i), i = 1, size(field))], shape(field))

  do step = 1, nsteps
    do j = 1, ny
      do i = 1, nx
        temperature(i, j) = 300d0 + step * sin(x(i)) * cos(y(j))
        cells(i, j) = mod(i * j + step, 7)
      end do
    end do
    energy(step) = sum(temperature) / size(temperature)
    ! The same path every step: overwritten in place, the shape being unchanged.
    call ftoc_h5dump_data(file, len(file), 'fields/temperature', 18, temperature, nx, ny, 0, VIDEZ5_DOUBLE, 0)
    print '(a,i0,a)', 'step ', step, ': dumped fields/temperature (16 x 12 doubles)'
    ! One value per step: the series grows by one and keeps every earlier step.
    call videz5_append(file, 'history/mean_temperature', energy(step), units='K', &
                       description='mean temperature over the grid')
  end do
  print '(a,i0,a)', 'appended ', nsteps, ' steps to history/mean_temperature (units K)'

  call ftoc_h5dump_data(file, len(file), 'fields/cells', 12, cells, nx, ny, 0, VIDEZ5_INT, 0)
  call ftoc_h5dump_data(file, len(file), 'fields/field3d', 14, field, 4, 3, 2, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(file, len(file), 'history/energy', 14, energy, nsteps, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(file, len(file), 'meta/species', 12, species, 3, 0, 0, VIDEZ5_STRING, len(species))
  print '(a)', 'dumped fields/cells (int), fields/field3d (4 x 3 x 2), history/energy, meta/species'

  call ftoc_printh5_double(file, len(file), 'plots/energy', 12, energy, [(dble(i), i = 1, nsteps)], &
                           [(dble(i), i = 1, nsteps)], nsteps, 1, 'Mean temperature', 16, 'step', 4, 'T [K]', 5)
  call ftoc_printh5_double(file, len(file), 'plots/temperature', 17, temperature, x, y, nx, ny, &
                           'Temperature', 11, 'x [m]', 5, 'y [m]', 5)
  print '(a)', 'wrote plot records plots/energy (1-D) and plots/temperature (2-D)'

  temperature_back = 0
  cells_back = 0
  field_back = 0
  energy_back = 0
  species_back = ''
  call ftoc_h5read_data(file, len(file), 'fields/temperature', 18, temperature_back, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(file, len(file), 'fields/cells', 12, cells_back, VIDEZ5_INT, 0)
  call ftoc_h5read_data(file, len(file), 'fields/field3d', 14, field_back, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(file, len(file), 'history/energy', 14, energy_back, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(file, len(file), 'meta/species', 12, species_back, VIDEZ5_STRING, len(species_back))
  call check(all(temperature_back == temperature), 'fields/temperature')
  call check(all(cells_back == cells), 'fields/cells')
  call check(all(field_back == field), 'fields/field3d')
  call check(all(energy_back == energy), 'history/energy')
  call check(all(species_back == species), 'meta/species')

  ! The same through the module's generic procedures: no lengths or sizes to
  ! pass, the shape asked before allocating, and a read that cannot overrun.
  call videz5_get_dims(file, 'fields/temperature', rank, dims)
  allocate(sized_back(dims(1), dims(2)))
  call videz5_read(file, 'fields/temperature', sized_back)
  call check(rank == 2 .and. all(sized_back == temperature), 'fields/temperature (allocated from its shape)')
  call videz5_plot(file, 'plots/cells', cells, x, y, 'Cell classes', 'x', 'y', description='cell class', &
                   x_units='m', y_units='m')
  print '(a)', 'wrote plot record plots/cells (2-D, int) through the module'
  deallocate(sized_back)

  ! Self-describing results: units and a description stored with the data.
  call videz5_dump(file, 'fields/x', x, units='m', description='cell centres along x')
  ! The series reads back whole: its number of steps is its last size.
  call videz5_get_dims(file, 'history/mean_temperature', rank, dims)
  allocate(series_back(dims(1)))
  call videz5_read(file, 'history/mean_temperature', series_back)
  call check(rank == 1 .and. all(series_back == energy), 'history/mean_temperature (series of 3 steps)')

  ! A plot that grows with the run: a record of another length replaces the
  ! stored one whole (replace=), and status= tells whether it was written.
  call videz5_plot(file, 'plots/mean_temperature', energy(1:2), [1d0, 2d0], 'Mean temperature', 'step', 'T', &
                   units='K', status=status)
  call videz5_plot(file, 'plots/mean_temperature', energy, [(dble(i), i = 1, nsteps)], 'Mean temperature', &
                   'step', 'T', units='K', replace=.true., status=status)
  energy_back = 0
  call videz5_read(file, 'plots/mean_temperature/data', energy_back)
  call check(status == VIDEZ5_OK .and. all(energy_back == energy), &
             'plots/mean_temperature/data (replaced: 2 steps, then 3)')

  ! A fluid code's state u(nx, ny, nz, nvar) in single precision, compressed;
  ! a 64-bit counter as a scalar; one subdomain read back with start=.
  state = reshape([(real(i, real32) / 4, i = 1, size(state))], shape(state))
  call videz5_dump(file, 'restart/state', state, compress=4)
  call videz5_dump(file, 'restart/steps_done', int(nsteps, int64))
  call videz5_get_dims(file, 'restart/state', rank, dims7)
  call videz5_read(file, 'restart/state', slab, start=[1, 5, 1, 3])
  call videz5_read(file, 'restart/steps_done', steps_done)
  call check(rank == 4 .and. all(dims7(:4) == [nx, ny, 2, 3]) .and. all(slab == state(:, 5:8, :, 3:3)) .and. &
             steps_done == nsteps, 'restart/state (rank 4, real32, compressed; a block of it) and restart/steps_done')
  ! A block written into a larger dataset, made filled with zeros.
  call videz5_dump(file, 'fields/patch', temperature(1:4, 1:4), start=[5, 5], shape=[nx, ny])
  call videz5_read(file, 'fields/patch', temperature_back)
  call check(all(temperature_back(5:8, 5:8) == temperature(1:4, 1:4)) .and. sum(abs(temperature_back)) == &
             sum(abs(temperature(1:4, 1:4))), 'fields/patch (a 4 x 4 block of a 16 x 12 dataset)')

  ! Attributes: the run's own, and the units that units= stored.
  call videz5_write_attr(file, 'restart', 'time', 0.25d0 * nsteps)
  call videz5_read_attr(file, 'fields/x', 'units', units)
  ! What the file holds: ask, list and take out.
  call videz5_dump(file, 'restart/scratch', [1, 2, 3])
  call videz5_delete(file, 'restart/scratch')
  call videz5_list(file, 'restart', names, count)
  there = [videz5_exists(file, 'restart/state'), videz5_exists(file, 'restart/scratch')]
  call check(units == 'm' .and. all(there .eqv. [.true., .false.]) .and. count == 2 .and. &
             all(names(:2) == ['state     ', 'steps_done']), 'the units of fields/x, and the names in restart after a delete')

  if (failures /= 0) then
    print '(i0,a)', failures, ' dataset(s) did not read back as written'
    error stop 1
  end if
  print '(a)', 'all datasets read back as written'

contains

  subroutine check(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (ok) then
      print '(a,a)', 'read back ', what
    else
      print '(a,a)', 'MISMATCH in ', what
      failures = failures + 1
    end if
  end subroutine

end program simulation
