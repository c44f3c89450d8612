! Array dump and read through the module, as a simulation code calls them.
program test_arrays
  use videz5
  use test_support
  implicit none
  character(len=*), parameter :: f = 'arrays.h5'
  double precision :: t(4, 3), t_back(4, 3), cube(4, 3, 2), cube_back(4, 3, 2), one(1), sentinel(5)
  integer :: ints(3, 2), ints_back(3, 2), as_int(4, 3)
  character(len=8) :: words(10), words_back(10)
  character(len=12) :: long_words(10)
  character(len=3) :: short_back(2)
  integer :: i

  t = reshape([(0.5d0 * i, i = 1, 12)], shape(t))
  one = 0.25d0
  cube = reshape([(dble(i), i = 1, 24)], shape(cube))
  ints = reshape([(i, i = 1, 6)], shape(ints))
  do i = 1, 10
    write(words(i), '(a,i0)') 'w', i
  end do

  call section('dumps of every rank and type')
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'fields/cube', 11, cube, 4, 3, 2, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'ints', 4, ints, 3, 2, 0, VIDEZ5_INT, 0)
  call ftoc_h5dump_data(f, len(f), 'text/words', 10, words, 10, 0, 0, VIDEZ5_STRING, 8)
  call ftoc_h5dump_data(f, len(f), '/abs/path', 9, t, 12, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'shapes/zero_middle', 18, cube, 4, 0, 2, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'shapes/keeps_one', 16, t, 5, 1, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'shapes/all_zero', 15, t, 0, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'shapes/only_dim2', 16, t, 0, 7, 0, VIDEZ5_DOUBLE, 0)
  call expect_open(0, 'dumps')

  call section('read back')
  t_back = 0
  cube_back = 0
  ints_back = 0
  words_back = ''
  call ftoc_h5read_data(f, len(f), 'fields/t', 8, t_back, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(f, len(f), 'fields/cube', 11, cube_back, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(f, len(f), 'ints', 4, ints_back, VIDEZ5_INT, 0)
  call ftoc_h5read_data(f, len(f), 'text/words', 10, words_back, VIDEZ5_STRING, 8)
  call expect(all(t_back == t), 'doubles round trip')
  call expect(all(cube_back == cube), 'rank 3 round trip')
  call expect(all(ints_back == ints), 'ints round trip')
  call expect(all(words_back == words), 'strings round trip')
  ! HDF5 converts on the way: doubles read as ints.
  call ftoc_h5read_data(f, len(f), 'fields/t', 8, as_int, VIDEZ5_INT, 0)
  call expect(all(as_int == int(t)), 'doubles read as ints')
  call expect_open(0, 'reads')

  call section('overwrite in place')
  t = -t
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(f, len(f), 'fields/t', 8, t_back, VIDEZ5_DOUBLE, 0)
  call expect(all(t_back == t), 'overwritten values')
  ! The stored element type stays: whole numbers as doubles go into the int
  ! dataset, a fraction is refused; texts that fit go into the stored length
  ! (trailing blanks aside), a longer one is refused.
  call ftoc_h5dump_data(f, len(f), 'ints', 4, [(10d0 * i, i = 1, 6)], 3, 2, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'ints', 4, [(1.9d0 * i, i = 1, 6)], 3, 2, 0, VIDEZ5_DOUBLE, 0)
  long_words = words
  call ftoc_h5dump_data(f, len(f), 'text/words', 10, long_words, 10, 0, 0, VIDEZ5_STRING, 12)
  long_words(3) = 'too long txt'
  call ftoc_h5dump_data(f, len(f), 'text/words', 10, long_words, 10, 0, 0, VIDEZ5_STRING, 12)

  call section('a changed shape is refused')
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, cube, 4, 3, 2, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, cube, 4, 4, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, cube, 5, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(f, len(f), 'fields/t', 8, t_back, VIDEZ5_DOUBLE, 0)
  call expect(all(t_back == t), 'refused writes left the data')
  call expect_open(0, 'refusals')

  call section('a group where a dataset is asked for')
  call ftoc_h5dump_data(f, len(f), 'fields', 6, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call section('an exact name, not a prefix')
  call ftoc_h5dump_data(f, len(f), 'fields/c', 8, one, 1, 0, 0, VIDEZ5_DOUBLE, 0)
  call expect_open(0, 'group refusal and prefix name')

  call section('string lengths below 1')
  call ftoc_h5dump_data(f, len(f), 'text/none', 9, words, 10, 0, 0, VIDEZ5_STRING, 0)
  call ftoc_h5read_data(f, len(f), 'text/words', 10, words_back, VIDEZ5_STRING, -1)
  call expect_open(0, 'refused string lengths')

  call section('strings read into a shorter length')
  call ftoc_h5dump_data(f, len(f), 'text/pair', 9, ['abcdefgh', 'ijklmnop'], 2, 0, 0, VIDEZ5_STRING, 8)
  call ftoc_h5read_data(f, len(f), 'text/pair', 9, short_back, VIDEZ5_STRING, 3)
  call expect(short_back(1) == 'abc' .and. short_back(2) == 'ijk', 'strings cut to the read length')

  call section('missing datasets leave the buffer alone')
  sentinel = 42
  call ftoc_h5read_data(f, len(f), 'fields/nothing', 14, sentinel, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(f, len(f), 'nogroup/nothing', 15, sentinel, VIDEZ5_DOUBLE, 0)
  call expect(all(sentinel == 42), 'buffer untouched')
  call expect_open(0, 'missing reads')
  call section('done')
end program test_arrays
