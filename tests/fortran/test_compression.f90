! Compression: compress= deflates a new dataset after the shuffle filter, in
! chunks of chunks= or the library's; reads are transparent, an overwrite
! keeps the stored filters, a series is compressed from its first step, and a
! bad level or chunk is refused with nothing written.
program test_compression
  use videz5
  use test_support
  use, intrinsic :: iso_fortran_env, only: real64, int32
  implicit none
  character(len=*), parameter :: f = 'compressed.h5'
  real(real64) :: field(64, 32, 4), back(64, 32, 4), wide(256, 256, 4)
  integer(int32) :: cells(100, 30), cells_back(100, 30)
  integer :: i, j, k, st

  call section('compressed dumps read back')
  field = reshape([(((sin(i / 10d0) * cos(j / 7d0) + k, i = 1, 64), j = 1, 32), k = 1, 4)], shape(field))
  call videz5_dump(f, 'field', field, compress=6, status=st)
  call videz5_read(f, 'field', back)
  call expect(st == VIDEZ5_OK .and. all(back == field), 'field')
  cells = reshape([(mod(i, 7), i = 1, size(cells))], shape(cells))
  call videz5_dump(f, 'cells', cells, compress=1, chunks=[50, 10], units='class')
  call videz5_read(f, 'cells', cells_back)
  call expect(all(cells_back == cells), 'cells')
  wide = 1
  call videz5_dump(f, 'wide', wide, compress=9)
  call videz5_dump(f, 'chunked', field, chunks=[64, 32, 1])

  call section('an overwrite keeps the filters')
  call videz5_dump(f, 'field', 2 * field, status=st)
  call videz5_read(f, 'field', back)
  call expect(st == VIDEZ5_OK .and. all(back == 2 * field), 'overwritten')

  call section('a compressed series')
  do k = 1, 3
    call videz5_append(f, 'series', field(:, 1, k), compress=4)
  end do

  call section('refused, nothing written')
  call videz5_dump(f, 'bad/zero', field, compress=0, status=st)
  call expect(st == VIDEZ5_WRITE_REFUSED, 'level 0')
  call videz5_dump(f, 'bad/ten', field, compress=10)
  call videz5_dump(f, 'bad/chunks', field, compress=1, chunks=[65, 1, 1], status=st)
  call expect(st == VIDEZ5_WRITE_REFUSED, 'a chunk larger than the array')
  call videz5_dump(f, 'bad/rank', field, compress=1, chunks=[8, 8])
  call videz5_dump(f, 'bad/empty', field, chunks=[8, 0, 1])
  call videz5_append(f, 'bad/series', 1d0, compress=-3)
  call expect(.not. videz5_exists(f, 'bad'), 'a refused dump wrote its groups')
  call section('done')
end program test_compression
