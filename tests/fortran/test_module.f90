! The module's generic dump, read and shape query, as a simulation code calls them.
program test_module
  use, intrinsic :: iso_fortran_env, only: real64, int32
  use videz5
  use test_support
  implicit none
  ! Fixed-length variables: their trailing blanks are not part of the names.
  character(len=24) :: f = 'module.h5', path = 'real/t'
  character(len=16), parameter :: files(5) = [character(len=16) :: 'module.h5', 'module.h5', 'module.h5', &
                                                'absent.h5', 'notes.txt']
  character(len=16), parameter :: missing(5) = [character(len=16) :: 'real/nothing', 'nogroup/nothing', 'real', &
                                                  'real/t', 'real/t']
  real(real64) :: t(4, 3), t_back(4, 3), wrong(3, 4), flat(12), line(5), cube(4, 3, 2), cube_back(4, 3, 2)
  real(real64) :: big(6, 5), none(0)
  real(real64), allocatable :: grown(:, :)
  integer(int32) :: k(3) = [7, 8, 9], k_back(3), k2(2, 3)
  character(len=6) :: words(3), grid(2, 2), grid_back(2, 2)
  character(len=3) :: short(3)
  integer :: i, rank, dims(3), status, fid, gid, unit

  t = reshape([(0.5d0 * i, i = 1, 12)], shape(t))
  cube = reshape([(dble(i), i = 1, 24)], shape(cube))
  big = reshape([(dble(i), i = 1, 30)], shape(big))
  line = [(dble(i), i = 1, 5)]
  k2 = reshape([(10 * i, i = 1, 6)], shape(k2))
  words = [character(len=6) :: 'alpha', 'beta', 'gamma']
  grid = reshape([character(len=6) :: 'a', 'bb', 'ccc', 'dddd'], shape(grid))

  call section('dumps of every kind and rank')
  call videz5_dump(f, path, t)
  call videz5_dump(f, 'real/line', line)
  call videz5_dump(f, 'real/cube', cube)
  call videz5_dump(f, 'int/k', k)
  call videz5_dump(f, 'int/k2', k2)
  call videz5_dump(f, 'text/words', words)
  call videz5_dump(f, 'text/grid', grid)
  ! A strided section: the module hands the library its values in order.
  call videz5_dump(f, 'real/every_other', big(1:6:2, 2:4))
  call section('shapes before reading')
  call videz5_get_dims(f, 'real/cube', rank, dims)
  call expect(rank == 3 .and. all(dims == [4, 3, 2]), 'shape of real/cube')
  call videz5_get_dims(f, '/int/k2', rank, dims)
  call expect(rank == 2 .and. all(dims == [2, 3, 0]), 'shape by absolute path')
  call videz5_get_dims(f, 'real/every_other', rank, dims)
  allocate(grown(dims(1), dims(2)))
  call videz5_read(f, 'real/every_other', grown)
  call expect(all(grown == big(1:6:2, 2:4)), 'allocated from the shape and read')
  call section('no dataset: the query gives rank -1 quietly, a read says why')
  open(newunit=unit, file='notes.txt', status='replace', action='write')
  write(unit, '(a)') 'not hdf5'
  close(unit)
  wrong = 42
  do i = 1, 5
    call videz5_get_dims(files(i), missing(i), rank, dims)
    call videz5_read(files(i), missing(i), wrong, status)
    call expect(rank == -1 .and. all(dims == 0) .and. all(wrong == 42) .and. &
                status == merge(VIDEZ5_NO_DATASET, VIDEZ5_NO_FILE, i <= 3), 'no dataset at ' // missing(i))
  end do
  call section('read back')
  call videz5_read(f, path, t_back, status)
  call expect(status == VIDEZ5_OK .and. all(t_back == t), 'status of a good read')
  call videz5_read(f, 'real/cube', cube_back)
  call videz5_read(f, 'int/k', k_back)
  call videz5_read(f, 'text/grid', grid_back)
  call expect(all(cube_back == cube) .and. all(k_back == k) .and. all(grid_back == grid), 'round trips')
  ! Into a strided section: only its elements change.
  big = -1
  call videz5_read(f, 'real/every_other', big(1:6:2, 2:4))
  call expect(all(big(1:6:2, 2:4) == grown) .and. count(big == -1) == 30 - 9, 'read into a section')
  ! Another string length or numeric type is a conversion, not a shape change.
  call videz5_read(f, 'text/words', short)
  call expect(all(short == ['alp', 'bet', 'gam']), 'strings cut to the array''s length')
  line = 0
  call videz5_read(f, 'int/k', line(1:3))
  call expect(all(line(1:3) == [7, 8, 9]), 'ints read as reals')
  call section('refused reads leave the array alone')
  flat = 42
  call videz5_read(f, 'real/t', flat, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH .and. all(flat == 42), 'same count, other rank')
  line = 42
  call videz5_read(f, 'text/words', line(1:3), status)
  call expect(status == VIDEZ5_TYPE_MISMATCH .and. all(line == 42), 'strings into reals')
  call section('empty arrays')
  call videz5_dump(f, 'real/empty', none)
  call videz5_read(f, 'real/line', none, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH, 'status of an empty read')
  call section('overwrite in place in the durable mode')
  call videz5_set_durable(.true.)
  call videz5_dump(f, 'real/t', -t)
  call videz5_set_durable(.false.)
  call section('reads beside a handle the program holds')
  call ftoc_open_file_id(f, len_trim(f), fid)
  call videz5_read(f, 'real/t', t_back, status)
  call videz5_get_dims(f, 'real/t', rank, dims)
  call expect(status == VIDEZ5_OK .and. all(t_back == -t) .and. rank == 2, 'read while the file is open for writing')
  call ftoc_close_file_id(fid)
  call section('a held file: the same calls through its handle')
  line = [(dble(i), i = 1, 5)]
  fid = videz5_open(f)
  call videz5_dump(fid, 'held/t', t)
  call videz5_defer_commits(fid, calls=100)
  call videz5_dump(fid, 'held/k', k, units='1')
  call videz5_append(fid, 'held/s', 0.5d0)
  call videz5_append(fid, 'held/s', 1.5d0)
  call videz5_plot(fid, 'held/p', line, line, title='t', xtitle='x', ytitle='y')
  call videz5_flush(fid, status)
  call videz5_get_dims(fid, 'held/t', rank, dims)
  call videz5_read(fid, 'held/t', t_back)
  call expect(status == 0 .and. rank == 2 .and. all(dims == [4, 3, 0]) .and. all(t_back == t), 'through the handle')
  call ftoc_open_group_id(fid, 'held/below', 10, gid)
  call videz5_dump(gid, 'v', line)
  call ftoc_close_group_id(gid)
  call videz5_close(fid)
  call videz5_dump(fid, 'held/late', line)
  call videz5_dump(0, 'held/late', line)
  call videz5_read(fid, 'held/t', t_back, status)
  call expect(status == VIDEZ5_NO_FILE, 'a closed handle')
  deallocate(grown)  ! memcheck counts what is still allocated at exit
  call section('done')
end program test_module
