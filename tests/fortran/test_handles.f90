! File and group handles held across calls, as a Fortran program holds them.
program test_handles
  use videz5
  use test_support
  implicit none
  integer :: fid, fid2, g, g123, below, again, bad, stale, unit
  character(len=12) :: padded
  double precision :: v(3)

  v = [1d0, 2d0, 3d0]

  call section('create by name, blanks past the length ignored')
  padded = 'out.h5'
  call ftoc_open_file_id(padded, 6, fid)
  call expect(fid > 0, 'new file handle is positive')
  call ftoc_open_group_id(fid, 'g', 1, g)
  call expect(g > 0, 'group g handed back')
  call ftoc_open_group_id(fid, 'g1/g2/g3', 8, g123)
  call expect(g123 > 0, 'group g1/g2/g3 handed back')
  ! Starting from a group handle: the new groups lie below it.
  call ftoc_open_group_id(g123, 'below/deeper', 12, below)
  call expect(below > 0, 'group below a group handle')
  ! Blanks inside the given length belong to the name.
  call ftoc_open_group_id(fid, 'a b ', 4, again)
  call expect(again > 0, 'group with blanks')
  call expect_open(5, 'a file and four groups held')
  call ftoc_close_group_id(again)
  call ftoc_close_group_id(below)
  call ftoc_close_group_id(g123)
  call expect_open(2, 'closing three groups')
  call ftoc_close_group_id(g)
  call ftoc_close_file_id(fid)
  call expect_open(0, 'closing everything')

  call section('reopen keeps contents and adds to them')
  call ftoc_h5dump_data('out.h5', 6, 'data/v', 6, v, 3, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_open_file_id('out.h5', 6, fid2)
  call expect(fid2 > fid, 'handles grow and are never reused')
  call ftoc_open_group_id(fid2, 'g', 1, g)
  call ftoc_open_group_id(g, 'added', 5, again)
  call expect(g > 0 .and. again > 0, 'existing group opened, new one created below it')
  call ftoc_close_group_id(again)
  call ftoc_close_group_id(g)
  call ftoc_close_file_id(fid2)
  call expect_open(0, 'reopen and close')

  call section('unknown and stale handles fail quietly')
  stale = fid2
  call ftoc_open_group_id(stale, 'x', 1, bad)
  call expect(bad < 0, 'stale file handle gives a negative group')
  call ftoc_open_group_id(987654, 'x', 1, bad)
  call expect(bad < 0, 'unknown handle gives a negative group')
  call ftoc_open_group_id(-1, 'x', 1, bad)
  call expect(bad < 0, 'negative handle gives a negative group')
  call expect_open(0, 'failed walks')

  call section('a name that cannot be created')
  call ftoc_open_file_id('no/such/dir/x.h5', 16, bad)
  call expect(bad < 0, 'missing directory gives a negative handle')
  call expect_open(0, 'failed create')

  call section('a file that is not HDF5 is left alone')
  open(newunit=unit, file='notes.txt', status='replace', action='write')
  write(unit, '(a)') 'results of a week of computing'
  close(unit)
  call ftoc_open_file_id('notes.txt', 9, bad)
  call expect(bad < 0, 'non-HDF5 file refused')
  call expect_open(0, 'refused file')

  call section('an empty file is replaced')
  open(newunit=unit, file='empty.h5', status='replace', action='write')
  close(unit)
  call ftoc_open_file_id('empty.h5', 8, fid)
  call expect(fid > 0, 'empty file replaced by an HDF5 file')
  call ftoc_close_file_id(fid)

  call section('a file handle given to the group close stays usable')
  call ftoc_open_file_id('out.h5', 6, fid)
  call ftoc_close_group_id(fid)
  call ftoc_open_group_id(fid, 'still', 5, g)
  call expect(g > 0, 'file handle survives a wrong close')
  call ftoc_close_group_id(g)
  call ftoc_close_file_id(fid)
  call expect_open(0, 'wrong close then right close')
  call section('done')
end program test_handles
