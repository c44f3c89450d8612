! The workload of the crash harness: numbered calls of every writing entry
! point in a loop, each followed by "returned N" on standard output, so that
! whoever kills this process knows which calls had finished. Every value
! written is a function of its call number, so the checker can recompute it.
!
! Usage: crash_writer [CALLS [FIRST]]   (default: 1000000 calls, numbered from 1;
!        0 calls: open the file and close it again)
program crash_writer
  use videz5
  implicit none
  character(len=*), parameter :: f = 'crash.h5'
  character(len=32) :: arg, path
  character(len=12) :: words(4)
  character(len=10) :: title
  double precision :: small(12, 6), field(200, 100), data(16, 12), x(16), y(16)
  integer :: counts(10), calls, first, c, i, fid, gid, n

  calls = 1000000
  first = 1
  if (command_argument_count() >= 1) then
    call get_command_argument(1, arg)
    read(arg, *) calls
  end if
  if (command_argument_count() >= 2) then
    call get_command_argument(2, arg)
    read(arg, *) first
  end if

  ! No calls: the library's next open of a killed run's file, nothing else.
  if (calls == 0) then
    call ftoc_open_file_id(f, len(f), fid)
    call ftoc_close_file_id(fid)
  end if

  do c = first, first + calls - 1
    select case (mod(c - 1, 6))
    case (0)  ! a new dataset in a group that changes every ten of these
      small = reshape([(c + i / 1000d0, i = 1, size(small))], shape(small))
      write(path, '(a,i0,a,i0)') 'new/g', (c - 1) / 60, '/d', c
      n = len_trim(path)
      call ftoc_h5dump_data(f, len(f), path, n, small, 12, 6, 0, VIDEZ5_DOUBLE, 0)
    case (1)  ! the same large dataset overwritten in place
      field = reshape([(c + i / 1d6, i = 1, size(field))], shape(field))
      call ftoc_h5dump_data(f, len(f), 'fixed/field', 11, field, 200, 100, 0, VIDEZ5_DOUBLE, 0)
    case (2)  ! one of five plot records rewritten in place
      data = reshape([(c + i / 1000d0, i = 1, size(data))], shape(data))
      x = [(c + 0.5d0 * i, i = 1, 16)]
      y = [(c - 0.5d0 * i, i = 1, 16)]
      write(title, '(a,i6.6)') 'step', c
      write(path, '(a,i0)') 'plots/p', mod((c - 1) / 6, 5)
      n = len_trim(path)
      call ftoc_printh5_double(f, len(f), path, n, data, x, y, 16, 12, title, 10, 'x', 1, 'y', 1)
    case (3)  ! new fixed-length strings
      do i = 1, 4
        write(words(i), '(a,i0,a,i0)') 'c', c, '-w', i
      end do
      write(path, '(a,i0)') 'text/t', c
      n = len_trim(path)
      call ftoc_h5dump_data(f, len(f), path, n, words, 4, 0, 0, VIDEZ5_STRING, 12)
    case (4)  ! one of three int plot records rewritten in place
      counts = [(c * 10 + i, i = 1, 10)]
      x = [(c + 0.5d0 * i, i = 1, 16)]
      y = [(c - 0.5d0 * i, i = 1, 16)]
      write(path, '(a,i0)') 'iplots/q', mod((c - 1) / 6, 3)
      n = len_trim(path)
      call ftoc_printh5_int(f, len(f), path, n, counts, x, y, 10, 1, 'counts', 6, 'i', 1, 'n', 1)
    case (5)  ! a group made through held handles
      call ftoc_open_file_id(f, len(f), fid)
      write(path, '(a,i0)') 'held/h', c
      n = len_trim(path)
      call ftoc_open_group_id(fid, path, n, gid)
      call ftoc_close_group_id(gid)
      call ftoc_close_file_id(fid)
    end select
    print '(a,i0)', 'returned ', c
  end do
end program crash_writer
