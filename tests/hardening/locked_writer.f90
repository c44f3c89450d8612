! Calls the entry points on a file that another process (a viewer) holds open.
! Usage: locked_writer write | read | giveup | newest | damaged
program locked_writer
  use videz5
  implicit none
  character(len=*), parameter :: f = 'held.h5'
  character(len=16) :: mode
  integer :: k_back(6) = 0, i, fid, gid, rank, dims(3), status
  double precision, parameter :: a(5, 4) = reshape([(0.5d0 * i, i = 1, 20)], [5, 4]), x(5) = [(i, i = 1, 5)]
  integer, parameter :: k(6) = [(10 * i, i = 1, 6)]
  double precision :: back(5, 4) = 0, seed(3) = 0

  call get_command_argument(1, mode)
  select case (trim(mode))
  case ('write')
    print '(a)', '== dumps while the file is held'
    call ftoc_h5dump_data(f, len(f), 'run/a', 5, a, 5, 4, 0, VIDEZ5_DOUBLE, 0)
    call ftoc_h5dump_data(f, len(f), 'run/k', 5, k, 6, 0, 0, VIDEZ5_INT, 0)
    call ftoc_printh5_double(f, len(f), 'run/plot', 8, a, x, -x, 5, 4, 'held', 4, 'x', 1, 'y', 1)
    call ftoc_open_file_id(f, len(f), fid)
    call ftoc_open_group_id(fid, 'run/handles', 11, gid)
    if (fid < 0 .or. gid < 0) print '(a)', 'FAIL: handles'
    call ftoc_close_group_id(gid)
    call ftoc_close_file_id(fid)
  case ('read')
    print '(a)', '== reads while the file is held'
    call ftoc_h5read_data(f, len(f), 'run/a', 5, back, VIDEZ5_DOUBLE, 0)
    call ftoc_h5read_data(f, len(f), 'run/k', 5, k_back, VIDEZ5_INT, 0)
    call ftoc_h5read_data(f, len(f), 'seed', 4, seed, VIDEZ5_DOUBLE, 0)
    if (any(back /= a) .or. any(k_back /= k) .or. any(seed /= [1, 2, 3])) print '(a)', 'FAIL: read back'
    back = 0
    call videz5_get_dims(f, 'run/a', rank, dims)
    call videz5_read(f, 'run/a', back, status)
    if (rank /= 2 .or. any(dims /= [5, 4, 0]) .or. status /= VIDEZ5_OK .or. any(back /= a)) &
      print '(a)', 'FAIL: checked read'
  case ('giveup')
    print '(a)', '== a dump and a checked read while the file stays held'
    call ftoc_h5dump_data(f, len(f), 'late', 4, a, 5, 4, 0, VIDEZ5_DOUBLE, 0)
    call videz5_read(f, 'seed', seed, status)
    if (status /= VIDEZ5_NO_FILE) print '(a)', 'FAIL: checked read status'
  case ('newest')
    print '(a)', '== a file in the newest format that a killed writer left flagged'
    call ftoc_h5dump_data('newest.h5', 9, 'run/a', 5, a, 5, 4, 0, VIDEZ5_DOUBLE, 0)
  case ('damaged')
    print '(a)', '== a damaged HDF5 file fails at once'
    call ftoc_open_file_id('damaged.h5', 10, fid)
    if (fid >= 0) print '(a)', 'FAIL: damaged file opened'
  end select
  print '(a)', '== done'
end program locked_writer
