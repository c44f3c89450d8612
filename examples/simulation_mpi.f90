! The simulation as an MPI job: every rank holds a slab of the fields (the
! last dimension cut unevenly among the ranks) and all of them store each
! field into one shared file, one dataset per field, exactly as the serial
! dump of the whole field would lay it out. Rank 0 alone then writes a plot
! record with the serial call while the others wait, and reads a field whole.
! Run with: mpiexec -n 4 simulation_mpi
program simulation_mpi
  use mpi
  use, intrinsic :: iso_fortran_env, only: real64, int32
  use videz5
  use videz5_mpi
  implicit none
  character(len=*), parameter :: file = 'simulation_mpi.h5'
  integer, parameter :: nx = 32, ny = 24, nz = 18, nsteps = 3
  real(real64), allocatable :: temperature(:, :, :), back(:, :, :), whole(:, :, :)
  integer(int32), allocatable :: owner(:, :, :)
  real(real64) :: mean(nsteps), x(nsteps)
  integer :: ierr, me, n, z0, nzl, i, j, k, step, status, failures, total

  call MPI_Init(ierr)
  call MPI_Comm_rank(MPI_COMM_WORLD, me, ierr)
  call MPI_Comm_size(MPI_COMM_WORLD, n, ierr)
  failures = 0
  ! This rank's slab: z0 + 1 .. z0 + nzl; the first mod(nz, n) ranks get one more.
  nzl = nz / n + merge(1, 0, me < mod(nz, n))
  z0 = me * (nz / n) + min(me, mod(nz, n))
  allocate(temperature(nx, ny, nzl), back(nx, ny, nzl), owner(nx, ny, nzl))
  owner = me

  do step = 1, nsteps
    do k = 1, nzl
      do j = 1, ny
        do i = 1, nx
          temperature(i, j, k) = 300d0 + step * sin(0.1d0 * i) * cos(0.2d0 * j) + 0.01d0 * (z0 + k)
        end do
      end do
    end do
    ! Every rank, the same path: created at the first step, overwritten in place after.
    call videz5_pdump(MPI_COMM_WORLD, file, 'fields/temperature', temperature, [nx, ny, nz], [0, 0, z0], status)
    if (status /= VIDEZ5_OK) failures = failures + 1
    call MPI_Allreduce(sum(temperature), mean(step), 1, MPI_DOUBLE_PRECISION, MPI_SUM, MPI_COMM_WORLD, ierr)
    mean(step) = mean(step) / (nx * ny * nz)
    if (me == 0) print '(a,i0,a,i0,a)', 'step ', step, ': ', n, ' ranks dumped fields/temperature (32 x 24 x 18)'
  end do
  call videz5_pdump(MPI_COMM_WORLD, file, 'fields/owner', owner, [nx, ny, nz], [0, 0, z0], status)
  if (status /= VIDEZ5_OK) failures = failures + 1

  ! Each rank reads its own slab back.
  call videz5_pread(MPI_COMM_WORLD, file, 'fields/temperature', back, [nx, ny, nz], [0, 0, z0], status)
  if (status /= VIDEZ5_OK .or. any(back /= temperature)) failures = failures + 1

  ! One rank, serial calls, the others waiting: the collective calls have
  ! closed the file, so rank 0 opens it alone.
  if (me == 0) then
    x = [(dble(step), step = 1, nsteps)]
    call videz5_plot(file, 'plots/mean_temperature', mean, x, 'Mean temperature', 'step', 'T [K]')
    allocate(whole(nx, ny, nz))
    call videz5_read(file, 'fields/temperature', whole, status)
    if (status /= VIDEZ5_OK .or. any(whole(:, :, 1:nzl) /= temperature)) failures = failures + 1
    print '(a)', 'rank 0 wrote plots/mean_temperature and read fields/temperature whole'
  end if
  call MPI_Barrier(MPI_COMM_WORLD, ierr)

  call MPI_Allreduce(failures, total, 1, MPI_INTEGER, MPI_SUM, MPI_COMM_WORLD, ierr)
  if (me == 0) then
    if (total /= 0) print '(i0,a)', total, ' collective call(s) failed'
    if (total == 0) print '(a)', 'every rank read its slab back as written'
  end if
  call MPI_Finalize(ierr)
  if (total /= 0) error stop 1
end program simulation_mpi
