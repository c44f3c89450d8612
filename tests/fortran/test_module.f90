! The module's generic dump, read and shape query, as a simulation code calls them.
program test_module
  use, intrinsic :: iso_fortran_env, only: real64, int32
  use videz5
  use test_support
  implicit none
  character(len=24) :: f, path
  real(real64) :: t(4, 3), t_back(4, 3), wrong(3, 4), flat(12), line(5), cube(4, 3, 2), cube_back(4, 3, 2)
  real(real64) :: big(6, 5), none(0)
  real(real64), allocatable :: grown(:, :)
  integer(int32) :: k(3), k_back(3), k2(2, 3), k2_back(2, 3), k3(2, 2, 2), k3_back(2, 2, 2)
  character(len=6) :: words(3), words_back(3), grid(2, 2), grid_back(2, 2), box(1, 2, 2), box_back(1, 2, 2)
  character(len=3) :: short(3)
  integer :: i, rank, dims(3), status, fid, unit

  ! Fixed-length variables: their trailing blanks are not part of the names.
  f = 'module.h5'
  t = reshape([(0.5d0 * i, i = 1, 12)], shape(t))
  cube = reshape([(dble(i), i = 1, 24)], shape(cube))
  big = reshape([(dble(i), i = 1, 30)], shape(big))
  line = [(dble(i), i = 1, 5)]
  k = [7, 8, 9]
  k2 = reshape([(10 * i, i = 1, 6)], shape(k2))
  k3 = reshape([(i, i = 1, 8)], shape(k3))
  words = [character(len=6) :: 'alpha', 'beta', 'gamma']
  grid = reshape([character(len=6) :: 'a', 'bb', 'ccc', 'dddd'], shape(grid))
  box = reshape([character(len=6) :: 'p', 'q', 'r', 's'], shape(box))

  call section('dumps of every kind and rank')
  path = 'real/t'
  call videz5_dump(f, path, t)
  call videz5_dump(f, 'real/line', line)
  call videz5_dump(f, 'real/cube', cube)
  call videz5_dump(f, 'int/k', k)
  call videz5_dump(f, 'int/k2', k2)
  call videz5_dump(f, 'int/k3', k3)
  call videz5_dump(f, 'text/words', words)
  call videz5_dump(f, 'text/grid', grid)
  call videz5_dump(f, 'text/box', box)
  ! A strided section: the module hands the library its values in order.
  call videz5_dump(f, 'real/every_other', big(1:6:2, 2:4))
  call expect_open(0, 'dumps')

  call section('shapes before reading')
  call videz5_get_dims(f, 'real/t', rank, dims)
  call expect(rank == 2 .and. all(dims == [4, 3, 0]), 'shape of real/t')
  call videz5_get_dims(f, 'real/cube', rank, dims)
  call expect(rank == 3 .and. all(dims == [4, 3, 2]), 'shape of real/cube')
  call videz5_get_dims(f, 'text/words', rank, dims)
  call expect(rank == 1 .and. all(dims == [3, 0, 0]), 'shape of text/words')
  call videz5_get_dims(f, '/int/k2', rank, dims)
  call expect(rank == 2 .and. all(dims == [2, 3, 0]), 'shape by absolute path')
  call videz5_get_dims(f, 'real/every_other', rank, dims)
  call expect(rank == 2 .and. all(dims == [3, 3, 0]), 'shape of a dumped section')
  allocate(grown(dims(1), dims(2)))
  grown = 0
  call videz5_read(f, 'real/every_other', grown)
  call expect(all(grown == big(1:6:2, 2:4)), 'allocated from the shape and read')
  call expect_open(0, 'shape queries')

  call section('no dataset: rank -1, nothing printed')
  call videz5_get_dims(f, 'real/nothing', rank, dims)
  call expect(rank == -1 .and. all(dims == 0), 'missing dataset')
  call videz5_get_dims(f, 'nogroup/nothing', rank, dims)
  call expect(rank == -1, 'missing group')
  call videz5_get_dims(f, 'real', rank, dims)
  call expect(rank == -1, 'a group is not a dataset')
  call videz5_get_dims('absent.h5', 'real/t', rank, dims)
  call expect(rank == -1, 'missing file')
  open(newunit=unit, file='notes.txt', status='replace', action='write')
  write(unit, '(a)') 'not hdf5'
  close(unit)
  call videz5_get_dims('notes.txt', 'real/t', rank, dims)
  call expect(rank == -1, 'a file that is not HDF5')
  call expect_open(0, 'failed shape queries')

  call section('read back')
  t_back = 0
  cube_back = 0
  k_back = 0
  k2_back = 0
  k3_back = 0
  words_back = ''
  grid_back = ''
  box_back = ''
  call videz5_read(f, path, t_back, status)
  call expect(status == VIDEZ5_OK, 'status of a good read')
  call videz5_read(f, 'real/cube', cube_back)
  call videz5_read(f, 'int/k', k_back)
  call videz5_read(f, 'int/k2', k2_back)
  call videz5_read(f, 'int/k3', k3_back)
  call videz5_read(f, 'text/words', words_back)
  call videz5_read(f, 'text/grid', grid_back)
  call videz5_read(f, 'text/box', box_back)
  call expect(all(t_back == t) .and. all(cube_back == cube), 'reals round trip')
  call expect(all(k_back == k) .and. all(k2_back == k2) .and. all(k3_back == k3), 'ints round trip')
  call expect(all(words_back == words) .and. all(grid_back == grid) .and. all(box_back == box), &
              'strings round trip')
  ! Into a strided section: only its elements change.
  big = -1
  call videz5_read(f, 'real/every_other', big(1:6:2, 2:4))
  call expect(all(big(1:6:2, 2:4) == grown) .and. count(big == -1) == 30 - 9, 'read into a section')
  ! Another string length is a conversion, not a shape change.
  call videz5_read(f, 'text/words', short)
  call expect(all(short == ['alp', 'bet', 'gam']), 'strings cut to the array''s length')
  ! So is another numeric type: ints read as reals.
  line = 0
  call videz5_read(f, 'int/k', line(1:3))
  call expect(all(line(1:3) == [7, 8, 9]), 'ints read as reals')
  call expect_open(0, 'reads')

  call section('refused reads leave the array alone')
  wrong = 42
  call videz5_read(f, 'real/t', wrong, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH .and. all(wrong == 42), 'transposed shape')
  flat = 42
  call videz5_read(f, 'real/t', flat, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH .and. all(flat == 42), 'same count, other rank')
  call videz5_read(f, 'real/cube', t_back, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH .and. all(t_back == t), 'fewer elements than stored')
  call videz5_read(f, 'real/nothing', wrong, status)
  call expect(status == VIDEZ5_NO_DATASET .and. all(wrong == 42), 'missing dataset')
  call videz5_read(f, 'real', wrong, status)
  call expect(status == VIDEZ5_NO_DATASET, 'a group')
  call videz5_read('absent.h5', 'real/t', wrong, status)
  call expect(status == VIDEZ5_NO_FILE .and. all(wrong == 42), 'missing file')
  call videz5_read('notes.txt', 'real/t', wrong, status)
  call expect(status == VIDEZ5_NO_FILE, 'not an HDF5 file')
  line = 42
  call videz5_read(f, 'text/words', line(1:3), status)
  call expect(status == VIDEZ5_TYPE_MISMATCH .and. all(line == 42), 'strings into reals')
  words_back = 'keep'
  call videz5_read(f, 'int/k', words_back, status)
  call expect(status == VIDEZ5_TYPE_MISMATCH .and. all(words_back == 'keep'), 'ints into strings')
  call expect_open(0, 'refused reads')

  call section('empty arrays')
  call videz5_dump(f, 'real/empty', none)
  call videz5_read(f, 'real/line', none, status)
  call expect(status == VIDEZ5_SHAPE_MISMATCH, 'status of an empty read')
  call videz5_get_dims(f, 'real/empty', rank, dims)
  call expect(rank == -1, 'nothing written for an empty array')

  call section('overwrite in place, refusal of another shape')
  t = -t
  ! In the durable mode, as a program on nodes that can lose power does.
  call videz5_set_durable(.true.)
  call videz5_dump(f, 'real/t', t)
  call videz5_set_durable(.false.)
  call videz5_dump(f, 'real/t', wrong)
  call videz5_read(f, 'real/t', t_back)
  call expect(all(t_back == t), 'in place, and kept after the refusal')
  call expect_open(0, 'overwrites')

  call section('reads beside a handle the program holds')
  call ftoc_open_file_id(f, len_trim(f), fid)
  call videz5_read(f, 'real/t', t_back, status)
  call expect(status == VIDEZ5_OK .and. all(t_back == t), 'read while the file is open for writing')
  call videz5_get_dims(f, 'real/t', rank, dims)
  call expect(rank == 2, 'shape while the file is open for writing')
  call ftoc_close_file_id(fid)
  call expect_open(0, 'held handle closed')
  deallocate(grown)
  call section('done')
end program test_module
