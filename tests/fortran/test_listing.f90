! What a file holds: whether a dataset or group is there, a group's names in
! HDF5's order, and deletes, by file name and through held handles; what a
! delete does to the file's size.
program test_listing
  use videz5
  use test_support
  use, intrinsic :: iso_fortran_env, only: int64
  implicit none
  character(len=*), parameter :: f = 'listing.h5'
  character(len=*), parameter :: members(5) = [character(len=5) :: 'zeta', 'Alpha', 'beta', '10', '9']
  character(len=16) :: names(8)
  character(len=8) :: few(2), none(0)
  character(len=3) :: short(3)
  real(kind(1d0)) :: big(100000)
  integer(int64) :: before, after
  integer :: n, i, s(6), h, g, unit
  logical :: there

  call section('asking before there is a file creates nothing')
  ! Array constructors rather than .and.: each function is called, whatever the others give.
  call expect(.not. any([videz5_exists(f, '/'), videz5_exists(f, 'a')]), 'no file: nothing there')
  inquire(file=f, exist=there)
  call expect(.not. there, 'exists created the file')
  open(newunit=unit, file='notes.txt', status='replace', action='write')
  write(unit, '(a)') 'not hdf5'
  close(unit)
  call expect(.not. videz5_exists('notes.txt', '/'), 'a file that is not HDF5')

  call section('datasets and groups that exist')
  call videz5_dump(f, 'b/x', [1d0])
  call videz5_dump(f, 'a', [1, 2])
  call videz5_plot(f, 'plots/p', [1d0, 2d0], [0d0, 1d0], 't', 'x', 'y')
  call expect(all([videz5_exists(f, 'b'), videz5_exists(f, 'b/x'), videz5_exists(f, '/b/x'), videz5_exists(f, 'a'), &
                   videz5_exists(f, '/'), videz5_exists(f, ''), videz5_exists(f, 'plots/p/data')]), 'there')
  call expect(.not. any([videz5_exists(f, 'b/nothing'), videz5_exists(f, 'nothing/x'), &
                         videz5_exists(f, 'b/x/below'), videz5_exists(f, 'a/')]), 'not there')

  call section('names in HDF5''s name order')
  do i = 1, 5
    call videz5_dump(f, 'g/' // trim(members(i)), [dble(i)])
  end do
  call videz5_dump(f, 'g/sub/deep', [1d0])
  names = 'stale'
  call videz5_list(f, 'g', names, n, s(1))
  print '(a,i0,a,i0,8(1x,a))', 'g: ', n, ', status ', s(1), (trim(names(i)), i = 1, n)
  call expect(all(names(n + 1:) == ''), 'names past the last one are blank')
  call videz5_list(f, 'g', few, n, s(2))
  call videz5_list(f, 'g', none, n, s(3))
  call expect(n == 6 .and. all(few == ['10   ', '9    ']) .and. all(s(2:3) == VIDEZ5_OK), 'fewer names than members')
  call videz5_list(f, '/', names, n)
  print '(a,i0,8(1x,a))', '/: ', n, (trim(names(i)), i = 1, n)
  call videz5_list(f, 'g/sub', names, n)
  call expect(n == 1 .and. names(1) == 'deep', 'g/sub')
  call videz5_dump(f, 'g/a_longer_name', [1d0])
  call videz5_list(f, 'g', short, n, s(1))
  call expect(n == 7 .and. all(short == ['10 ', '9  ', 'Alp']), 'names cut')
  ! Names cut are no failure: without status= the program goes on.
  call videz5_list(f, 'g', short, n)
  call expect(n == 7, 'names cut, without status=')
  names = 'stale'
  call videz5_list(f, 'b/x', names, n, s(2))
  call expect(n == -1 .and. all(names == 'stale'), 'a dataset has no names')
  call videz5_list(f, 'nothing', names, n, s(3))
  call videz5_list('absent.h5', 'g', names, n, s(4))
  print '(a,4(1x,i0))', 'lists:', s(1:4)

  call section('through a held file and a group handle')
  h = videz5_open(f)
  call expect(all([videz5_exists(h, 'b/x'), .not. videz5_exists(h, 'b/y')]), 'exists through the handle')
  call ftoc_open_group_id(h, 'g', 1, g)
  call expect(all([videz5_exists(g, 'zeta'), videz5_exists(g, ''), .not. videz5_exists(g, 'g')]), 'below g')
  call videz5_delete(g, '9', s(1))
  call videz5_list(g, '', names, n, s(2))
  call expect(n == 6 .and. names(2) == 'Alpha' .and. all(s(1:2) == VIDEZ5_OK), 'listed through the group')
  call videz5_delete(h, 'g/zeta', s(1))
  call videz5_list(h, 'g', names, n, s(2))
  call expect(n == 5 .and. names(5) == 'sub' .and. all(s(1:2) == VIDEZ5_OK), 'deleted through the file')
  call ftoc_close_group_id(g)
  call videz5_close(h)
  call expect(.not. any([videz5_exists(12345, 'b'), videz5_exists(h, 'b')]), 'unknown handles')

  call section('deletes')
  call videz5_delete(f, 'b/x', s(1))
  call expect(all([.not. videz5_exists(f, 'b/x'), videz5_exists(f, 'b')]), 'a dataset deleted')
  call videz5_delete(f, 'g', s(2))
  call expect(.not. videz5_exists(f, 'g/sub/deep'), 'a group deleted with what it held')
  ! The viewer group of a record links its data too.
  call videz5_delete(f, 'plots/p/data')
  call expect(all([.not. videz5_exists(f, 'plots/p/data'), videz5_exists(f, 'plots/p/plot/data')]), &
              'an object another link names')
  call videz5_delete(f, 'b/x', s(3))
  call videz5_delete(f, '/', s(4))
  call videz5_delete('absent.h5', 'b', s(5))
  call videz5_delete(12345, 'b', s(6))
  print '(a,6(1x,i0))', 'deletes:', s(1:6)

  call section('the space of a deleted dataset')
  ! Its bytes lie inside the file, before those of the dataset written after it.
  big = 1
  call videz5_dump(f, 'space/big', big)
  call videz5_dump(f, 'space/after', [1d0])
  inquire(file=f, size=before)
  call videz5_delete(f, 'space/big')
  inquire(file=f, size=after)
  call expect(after == before, 'the file does not shrink')
  call videz5_dump(f, 'space/next', [1d0])
  inquire(file=f, size=after)
  call expect(after > before, 'the next dump goes to the end')
  ! What the file ends with goes back.
  before = after
  call videz5_dump(f, 'space/last', big)
  call videz5_delete(f, 'space/last')
  inquire(file=f, size=after)
  call expect(after == before, 'the space at the end given back')

  call section('a held file that defers its commits forgets the groups it kept')
  h = videz5_open(f)
  call videz5_defer_commits(h, calls=100)
  call videz5_dump(h, 'kept/x', [1d0])
  call videz5_delete(h, 'kept', s(1))
  call videz5_dump(h, 'kept/y', [2d0])
  call videz5_close(h)
  call expect(all([s(1) == VIDEZ5_OK, videz5_exists(f, 'kept/y'), .not. videz5_exists(f, 'kept/x')]), &
              'a group made anew after its delete')
  call section('done')
end program test_listing
