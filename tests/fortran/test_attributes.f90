! Attributes on datasets and groups: every kind and shape, by file name and
! through held file and group handles, replaced whole, and refused reads and
! writes that leave everything as it was.
program test_attributes
  use videz5
  use test_support
  use, intrinsic :: iso_fortran_env, only: real64, int32
  implicit none
  character(len=*), parameter :: f = 'attrs.h5'
  real(real64) :: r, r2(2), r3(3), r4(4), r6(6)
  integer(int32) :: k, k2(2), k4(4)
  character(len=16) :: text, words(3)
  character(len=4) :: short
  integer :: s(10), h, g

  call section('written by file name and read back')
  call videz5_dump(f, 'fields/t', [1d0, 2d0, 3d0], units='K', description='temperature')
  call videz5_write_attr(f, 'fields/t', 'scale', 0.5d0, status=s(1))
  call videz5_write_attr(f, 'fields/t', 'limits', [-1.5d0, 0d0, 2.25d0], status=s(2))
  call videz5_write_attr(f, 'fields', 'step', 42, status=s(3))
  call videz5_write_attr(f, 'fields', 'cells', [4, 3, 2, 1], status=s(4))
  call videz5_write_attr(f, 'fields', 'code', 'videz5 test   ', status=s(5))
  call videz5_write_attr(f, 'fields', 'empty', '', status=s(6))
  call videz5_write_attr(f, '/', 'species', [character(len=8) :: 'H', 'He', 'Li'], status=s(7))
  print '(a,7(1x,i0))', 'writes:', s(1:7)
  call videz5_read_attr(f, 'fields/t', 'scale', r)
  call videz5_read_attr(f, 'fields/t', 'limits', r3)
  call videz5_read_attr(f, 'fields', 'step', k)
  call videz5_read_attr(f, 'fields', 'cells', k4)
  call expect(r == 0.5d0 .and. all(r3 == [-1.5d0, 0d0, 2.25d0]) .and. k == 42 .and. all(k4 == [4, 3, 2, 1]), &
              'numbers read back')
  ! Ints read as doubles, as videz5_read reads them.
  call videz5_read_attr(f, 'fields', 'cells', r4)
  call expect(all(r4 == [4d0, 3d0, 2d0, 1d0]), 'ints read as doubles')
  call videz5_write_attr(f, 'fields', 'whole', 3d0)
  call videz5_read_attr(f, 'fields', 'whole', k)
  call expect(k == 3, 'a whole double read as an int')
  call videz5_read_attr(f, 'fields', 'code', text)
  call expect(text == 'videz5 test', 'a text, blank-padded')
  text = 'x'
  call videz5_read_attr(f, 'fields', 'empty', text)
  call expect(text == '', 'an empty text')
  call videz5_read_attr(f, '', 'species', words)
  call expect(all(words == ['H ', 'He', 'Li']), 'texts of the root group')
  ! What units= and description= stored.
  call videz5_read_attr(f, 'fields/t', 'units', text)
  call expect(text == 'K', 'units')
  call videz5_read_attr(f, 'fields/t', 'long_name', text, s(1))
  call expect(text == 'temperature' .and. s(1) == VIDEZ5_OK, 'long_name')

  call section('replaced whole: type and size follow the new value')
  call videz5_write_attr(f, 'fields', 'step', 2.5d0)
  call videz5_write_attr(f, 'fields/t', 'limits', [1, 2])
  call videz5_write_attr(f, 'fields/t', 'units', 'kelvin')
  call videz5_read_attr(f, 'fields', 'step', r)
  call videz5_read_attr(f, 'fields/t', 'limits', k2)
  call videz5_read_attr(f, 'fields/t', 'units', text)
  call expect(r == 2.5d0 .and. all(k2 == [1, 2]) .and. text == 'kelvin', 'replaced')

  call section('through held file and group handles')
  h = videz5_open(f)
  call videz5_write_attr(h, 'fields/t', 'held', 7, status=s(1))
  call videz5_defer_commits(h, calls=10)
  call videz5_write_attr(h, 'fields/t', 'deferred', 'yes', status=s(2))
  call videz5_read_attr(h, 'fields/t', 'deferred', text, s(3))
  call expect(text == 'yes' .and. s(3) == VIDEZ5_OK, 'read back before its commit')
  call ftoc_open_group_id(h, 'fields', 6, g)
  call videz5_write_attr(g, 't', 'from group', [1d0, 2d0], status=s(4))
  call videz5_write_attr(g, '', 'group itself', 1, status=s(5))
  call videz5_read_attr(g, 't', 'held', k, s(6))
  call videz5_read_attr(g, '/', 'group itself', k2(1), s(7))
  call expect(k == 7 .and. k2(1) == 1 .and. all(s(1:7) == VIDEZ5_OK), 'through the handles')
  call ftoc_close_group_id(g)
  call videz5_close(h)

  call section('refused reads leave the value alone')
  k = -1
  r = -1
  r2 = -1
  text = 'untouched'
  short = 'same'
  call videz5_read_attr(f, 'fields/t', 'missing', k, s(1))
  call videz5_read_attr(f, 'nothing/here', 'units', text, s(2))
  call videz5_read_attr(f, 'fields/t', 'limits', k, s(3))
  call videz5_read_attr(f, 'fields/t', 'from group', r3, s(4))
  call videz5_read_attr(f, 'fields/t', 'scale', k, s(5))
  call videz5_read_attr(f, 'fields/t', 'units', r, s(6))
  call videz5_read_attr(f, 'fields', 'code', short, s(7))
  call videz5_read_attr('absent.h5', 'fields', 'code', text, s(8))
  call videz5_read_attr(12345, 'fields', 'code', r2, s(9))
  call videz5_read_attr(f, 'fields/t', 'scale', r2(1:1), s(10))
  print '(a,10(1x,i0))', 'reads:', s(1:10)
  call expect(k == -1 .and. r == -1 .and. all(r2 == -1) .and. text == 'untouched' .and. short == 'same', &
              'values left alone')

  call section('attributes h5py wrote')
  call videz5_read_attr('foreign.h5', '/', 'n', k, s(1))
  call expect(k == 7 .and. s(1) == VIDEZ5_OK, 'a 64-bit integer in range, read as int32')
  call videz5_read_attr('foreign.h5', '/', 'note', text, s(1))
  call videz5_read_attr('foreign.h5', '/', 'grid', r6, s(2))
  call videz5_read_attr('foreign.h5', '/', 'padded', short, s(3))
  call expect(short == 'ab' .and. s(3) == VIDEZ5_OK, 'blank-padded text, its padding not counted')
  print '(a,3(1x,i0))', 'reads:', s(1:3)

  call section('refused writes change nothing')
  call videz5_write_attr(f, 'nothing/here', 'units', 'm', status=s(1))
  call videz5_write_attr('absent.h5', 'fields', 'units', 'm', status=s(2))
  call videz5_write_attr(f, 'fields', 'none', r3(1:0), status=s(3))
  call videz5_write_attr(12345, 'fields', 'units', 'm', status=s(4))
  print '(a,4(1x,i0))', 'writes:', s(1:4)
  call section('done')
end program test_attributes
