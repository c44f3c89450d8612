! Array dump and read through the entry points, every length passed by hand.
program test_arrays
  use videz5
  use test_support
  implicit none
  character(len=*), parameter :: f = 'arrays.h5'
  double precision :: t(4, 3), t_back(4, 3), cube(4, 3, 2), sentinel(5)
  integer :: ints(3, 2), ints_back(3, 2), as_int(4, 3), i
  character(len=8) :: words(3) = ['alpha   ', 'beta    ', 'gamma   '], words_back(3)
  character(len=12) :: long_words(3)
  character(len=3) :: short_back(3)

  t = reshape([(0.5d0 * i, i = 1, 12)], shape(t))
  cube = reshape([(dble(i), i = 1, 24)], shape(cube))
  ints = reshape([(i, i = 1, 6)], shape(ints))

  call section('dumps of every rank and type')
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'fields/cube', 11, cube, 4, 3, 2, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'ints', 4, ints, 3, 2, 0, VIDEZ5_INT, 0)
  call ftoc_h5dump_data(f, len(f), 'text/words', 10, words, 3, 0, 0, VIDEZ5_STRING, 8)
  call ftoc_h5dump_data(f, len(f), '/abs/path', 9, t, 12, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'shapes/zero_middle', 18, cube, 4, 0, 2, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'shapes/keeps_one', 16, t, 5, 1, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'shapes/all_zero', 15, t, 0, 0, 0, VIDEZ5_DOUBLE, 0)
  ! An exact name, not a prefix of one that exists.
  call ftoc_h5dump_data(f, len(f), 'fields/c', 8, [0.25d0], 1, 0, 0, VIDEZ5_DOUBLE, 0)
  call section('read back, strings into a shorter length, doubles as ints')
  call ftoc_h5read_data(f, len(f), 'fields/t', 8, t_back, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(f, len(f), 'ints', 4, ints_back, VIDEZ5_INT, 0)
  call ftoc_h5read_data(f, len(f), 'text/words', 10, words_back, VIDEZ5_STRING, 8)
  call expect(all(t_back == t) .and. all(ints_back == ints) .and. all(words_back == words), 'round trips')
  call ftoc_h5read_data(f, len(f), 'text/words', 10, short_back, VIDEZ5_STRING, 3)
  call expect(all(short_back == ['alp', 'bet', 'gam']), 'strings cut to the read length')
  call ftoc_h5read_data(f, len(f), 'fields/t', 8, as_int, VIDEZ5_INT, 0)
  call expect(all(as_int == int(t)), 'doubles read as ints')
  call section('overwrite in place')
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, -t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  ! The stored element type stays: whole numbers as doubles go into the int
  ! dataset, a fraction is refused; texts that fit go into the stored length
  ! (trailing blanks aside), a longer one is refused.
  call ftoc_h5dump_data(f, len(f), 'ints', 4, [(10d0 * i, i = 1, 6)], 3, 2, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'ints', 4, [(1.9d0 * i, i = 1, 6)], 3, 2, 0, VIDEZ5_DOUBLE, 0)
  long_words = words
  call ftoc_h5dump_data(f, len(f), 'text/words', 10, long_words, 3, 0, 0, VIDEZ5_STRING, 12)
  long_words(3) = 'too long txt'
  call ftoc_h5dump_data(f, len(f), 'text/words', 10, long_words, 3, 0, 0, VIDEZ5_STRING, 12)
  call section('a changed rank or size is refused')
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, cube, 4, 3, 2, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(f, len(f), 'fields/t', 8, cube, 4, 4, 0, VIDEZ5_DOUBLE, 0)
  call section('missing datasets leave the buffer alone')
  sentinel = 42
  call ftoc_h5read_data(f, len(f), 'fields/nothing', 14, sentinel, VIDEZ5_DOUBLE, 0)
  call ftoc_h5read_data(f, len(f), 'nogroup/nothing', 15, sentinel, VIDEZ5_DOUBLE, 0)
  call expect(all(sentinel == 42), 'buffer untouched')
  call section('done')
end program test_arrays
