! File and group handles held across calls, as a Fortran program holds them.
program test_handles
  use videz5
  use test_support
  implicit none
  integer :: fid, fid2, g, g123, below, again, bad, unit
  character(len=12) :: padded = 'out.h5'

  call section('create by name, blanks past the length ignored')
  call ftoc_open_file_id(padded, 6, fid)
  call ftoc_open_group_id(fid, 'g', 1, g)
  call ftoc_open_group_id(fid, 'g1/g2/g3', 8, g123)
  call ftoc_open_group_id(g123, 'below/deeper', 12, below)  ! below the group, not the file
  call ftoc_open_group_id(fid, 'a b ', 4, again)  ! blanks inside the length belong to the name
  call expect(all([fid, g, g123, below, again] > 0), 'handles handed back')
  call expect_open(5, 'a file and four groups held')
  call ftoc_close_group_id(again)
  call ftoc_close_group_id(below)
  call ftoc_close_group_id(g123)
  call expect_open(2, 'closing three groups')
  call ftoc_close_group_id(g)
  call ftoc_close_file_id(fid)
  call section('reopen keeps contents and adds to them; a closed handle is stale')
  call ftoc_h5dump_data('out.h5', 6, 'data/v', 6, [1d0, 2d0, 3d0], 3, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_open_file_id('out.h5', 6, fid2)
  call ftoc_open_group_id(fid2, 'g', 1, g)
  call ftoc_open_group_id(g, 'added', 5, again)
  call expect(fid2 > fid .and. g > 0 .and. again > 0, 'reopened with a new handle, never a reused one')
  call ftoc_close_group_id(again)
  call ftoc_close_group_id(g)
  call ftoc_close_file_id(fid2)
  call ftoc_open_group_id(fid2, 'x', 1, bad)
  call expect(bad < 0, 'a stale file handle gives a negative group')
  call section('a name that cannot be created')
  call ftoc_open_file_id('no/such/dir/x.h5', 16, bad)
  call expect(bad < 0, 'missing directory gives a negative handle')
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
  call section('done')
end program test_handles
