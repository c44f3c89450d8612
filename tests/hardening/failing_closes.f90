! Writes that start failing (the disk full) at a chosen call, under the crash
! shim's VIDEZ5_FAIL_WHEN=fail-now: each failure is told once, by the call
! that met it, and the program goes on and ends normally.
! Usage: failing_closes group | overwrite (the latter with VIDEZ5_FAIL_SIZE=4096:
! the open's own small writes go through, the array's fail) | lockless (with
! VIDEZ5_NO_FLOCK: a file system without locks, told once per file)
program failing_closes
  use videz5
  implicit none
  character(len=16) :: mode
  double precision :: a(5) = [1, 2, 3, 4, 5], x(64, 64), back(64, 64)
  integer :: fid, gid, status

  call get_command_argument(1, mode)
  select case (trim(mode))
  case ('group')
    ! Deferred, the dump through the group is committed when the file
    ! closes, and the group's close is what closes it.
    call ftoc_open_file_id('c.h5', 4, fid)
    call ftoc_defer_commits_id(fid, 100, 0d0)
    call ftoc_open_group_id(fid, 'g', 1, gid)
    call ftoc_h5dump_data_id(gid, 'a', 1, a, 5, 0, 0, VIDEZ5_DOUBLE, 0)
    call ftoc_close_file_id(fid)
    call fail(.true.)
    call ftoc_close_group_id(gid)
    call fail(.false.)
    call ftoc_h5dump_data('c.h5', 4, 'b', 1, a, 5, 0, 0, VIDEZ5_DOUBLE, 0)
  case ('overwrite')
    x = 1
    call videz5_dump('r.h5', 'x', x)
    call fail(.true.)
    x = 2
    call videz5_dump('r.h5', 'x', x)
    call fail(.false.)
    call videz5_read('r.h5', 'x', back, status)
    if (status /= VIDEZ5_OK .or. any(back /= 1)) print '(a)', 'FAIL: x changed'
  case ('lockless')
    call videz5_dump('l.h5', 'a', a)
    call videz5_dump('l.h5', 'b', a)
    call videz5_read('l.h5', 'a', a, status)
    call videz5_dump('m.h5', 'a', a)
    call ftoc_open_file_id('l.h5', 4, fid)
    call ftoc_close_file_id(fid)
    call videz5_dump('e.h5', 'a', a)  ! a file made before
  end select
  print '(a)', '== done'

contains

  subroutine fail(on)
    logical, intent(in) :: on
    integer :: unit
    open(newunit=unit, file='fail-now')
    if (on) then
      print '(a)', '== writes fail from here'
      close(unit)
    else
      print '(a)', '== writes work again'
      close(unit, status='delete')
    end if
  end subroutine
end program failing_closes
