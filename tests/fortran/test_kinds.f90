! Every kind and rank through videz5_dump and videz5_read: real32, real64,
! int32, int64 and strings, scalars and ranks up to 7, by name and through a
! held handle; the shape query up to rank 7; the conversions a read refuses.
program test_kinds
  use videz5
  use test_support
  use, intrinsic :: iso_fortran_env, only: real32, real64, int32, int64
  implicit none
  character(len=*), parameter :: f = 'kinds.h5'
  real(real32) :: s(2, 3), s_back(2, 3), u_single(3, 2, 2, 2), single
  real(real64) :: u(3, 2, 2, 2), u_back(3, 2, 2, 2), r7(2, 1, 2, 1, 1, 1, 3), r7_back(2, 1, 2, 1, 1, 1, 3)
  real(real64) :: x, s_wide(2, 3), u3(3, 2, 2)
  integer(int64) :: counts(3), counts_back(3), big
  integer(int32) :: narrow(3), n
  character(len=5) :: word, words(2, 1, 1, 2), words_back(2, 1, 1, 2)
  integer :: i, rank, dims(7), dims3(3), st, h

  call section('kinds and ranks by name')
  s = reshape([(0.5 * i, i = 1, 6)], shape(s))
  u = reshape([(dble(i), i = 1, 24)], shape(u))
  r7 = reshape([(i / 4d0, i = 1, 12)], shape(r7))
  ! 2**53 + 1: exact as a 64-bit integer, not as a double
  counts = [1_int64, -2_int64, 9007199254740993_int64]
  words = reshape(['one  ', 'two  ', 'three', 'four '], shape(words))
  call videz5_dump(f, 'single', s)
  call videz5_dump(f, 'fluid/u', u, units='m/s')
  call videz5_dump(f, 'rank7', r7)
  call videz5_dump(f, 'counts', counts)
  call videz5_dump(f, 'words', words)
  call videz5_dump(f, 'scalars/x', 2.5d0)
  call videz5_dump(f, 'scalars/n', 7)
  call videz5_dump(f, 'scalars/big', huge(1_int64))
  call videz5_dump(f, 'scalars/single', 0.25)
  call videz5_dump(f, 'scalars/word', 'hello')
  call videz5_read(f, 'single', s_back)
  call videz5_read(f, 'fluid/u', u_back)
  call videz5_read(f, 'rank7', r7_back)
  call videz5_read(f, 'counts', counts_back)
  call videz5_read(f, 'words', words_back)
  call expect(all(s_back == s) .and. all(u_back == u) .and. all(r7_back == r7) .and. all(counts_back == counts) &
              .and. all(words_back == words), 'arrays read back')
  call videz5_read(f, 'scalars/x', x)
  call videz5_read(f, 'scalars/n', n)
  call videz5_read(f, 'scalars/big', big)
  call videz5_read(f, 'scalars/single', single)
  call videz5_read(f, 'scalars/word', word)
  call expect(x == 2.5d0 .and. n == 7 .and. big == huge(1_int64) .and. single == 0.25 .and. word == 'hello', &
              'scalars read back')

  call section('shapes up to rank 7')
  call videz5_get_dims(f, 'rank7', rank, dims, st)
  call expect(rank == 7 .and. all(dims == [2, 1, 2, 1, 1, 1, 3]) .and. st == VIDEZ5_OK, 'rank 7')
  call videz5_get_dims(f, 'scalars/x', rank, dims)
  call expect(rank == 0 .and. all(dims == 0), 'a scalar has rank 0')
  call videz5_get_dims(f, 'single', rank, dims3)
  call expect(rank == 2 .and. all(dims3 == [2, 3, 0]), 'three sizes for rank 2')
  call videz5_get_dims(f, 'nothing', rank, dims, st)
  call expect(rank == -1 .and. st == VIDEZ5_NO_DATASET, 'no dataset')
  ! Too few sizes for the rank: one line, the rank told, no sizes.
  call videz5_get_dims(f, 'fluid/u', rank, dims3, st)
  call expect(rank == 4 .and. all(dims3 == 0) .and. st == VIDEZ5_SHAPE_MISMATCH, 'rank 4 into three sizes')

  call section('through a held handle')
  h = videz5_open(f)
  call videz5_dump(h, 'held/u', 2 * u, status=st)
  call videz5_dump(h, 'held/n', 8_int64)
  call videz5_read(h, 'held/u', u_back)
  call videz5_read(h, 'held/n', big)
  call videz5_get_dims(h, 'held/u', rank, dims)
  call expect(st == VIDEZ5_OK .and. all(u_back == 2 * u) .and. big == 8 .and. rank == 4 .and. &
              all(dims(:4) == [3, 2, 2, 2]), 'held')
  call videz5_close(h)

  call section('conversions')
  ! Floats read exactly as doubles; doubles never as floats, even whole ones.
  call videz5_read(f, 'single', s_wide)
  call expect(all(s_wide == s), 'floats as doubles')
  u_single = -1
  call videz5_read(f, 'fluid/u', u_single, st)
  call expect(st == VIDEZ5_TYPE_MISMATCH .and. all(u_single == -1), 'whole doubles refused as floats')
  call videz5_read(f, 'scalars/x', single, st)
  call expect(st == VIDEZ5_TYPE_MISMATCH .and. single == 0.25, 'a double scalar refused as a float')
  ! 64-bit integers read as 32-bit ones only when every value fits.
  call videz5_read(f, 'counts', narrow, st)
  call expect(st == VIDEZ5_TYPE_MISMATCH, 'a count beyond 32 bits')
  call videz5_dump(f, 'small_counts', [1_int64, 2_int64, 3_int64])
  call videz5_read(f, 'small_counts', narrow, st)
  call expect(st == VIDEZ5_OK .and. all(narrow == [1, 2, 3]), 'counts within 32 bits')
  ! An overwrite keeps the stored floats when they hold the new values exactly.
  call videz5_dump(f, 'single', s_wide / 2, status=st)
  call expect(st == VIDEZ5_OK, 'halves over floats')
  call videz5_dump(f, 'single', s_wide + 0.1d0, status=st)
  call expect(st == VIDEZ5_WRITE_REFUSED, 'a double that a float would round')
  ! A scalar is not a one-element array, nor a rank-4 dataset a rank-3 array.
  call videz5_dump(f, 'one', [1d0])
  call videz5_read(f, 'one', x, st)
  call videz5_read(f, 'fluid/u', u3, st)
  call expect(st == VIDEZ5_SHAPE_MISMATCH, 'shapes')
  call section('done')
end program test_kinds
