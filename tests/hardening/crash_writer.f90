! The workload of the crash harness and of the shared-file check: numbered
! calls, each followed by "returned N", so that whoever kills the process knows
! which calls had finished; every value is a function of the call number (and
! the writer), for the checkers to recompute.
! Usage: crash_writer [CALLS [FIRST]] (default 1000000 from 1; 0: open and close the file)
!        crash_writer CALLS 1 WRITER: one of several writers of crash.h5, each to its own
!        paths; it says "ready" and waits for a file named "go", so that all start together.
!        crash_writer CALLS FIRST 0 HELD: every call through one handle held for the run,
!        committed at each call (HELD 1) or deferred and flushed after every HELD calls;
!        "returned N" only once N is committed.
program crash_writer
  use videz5
  use, intrinsic :: iso_c_binding, only: c_int
  implicit none
  interface
    integer(c_int) function usleep(microseconds) bind(C, name='usleep')
      import :: c_int
      integer(c_int), value :: microseconds
    end function
  end interface
  character(len=*), parameter :: f = 'crash.h5', shared_kinds = 'apk'
  character(len=131) :: arg = ' '
  character(len=32) :: path
  character(len=12) :: words(4), title
  double precision :: small(12, 6), field(200, 100), data(16, 12), x(16), y(16), frame(120, 120), block(40, 8)
  integer :: counts(12), n, calls = 1000000, first = 1, writer = 0, held = 0, c, i, fid, gid, hid, rank, dims(3)
  logical :: go

  ! A slash ends the list: missing arguments keep their defaults.
  do i = 1, 4
    call get_command_argument(i, arg(32 * i - 31:32 * i))
  end do
  arg(131:) = '/'
  read(arg, *) calls, first, writer, held
  if (held > 0) then
    call ftoc_open_file_id(f, len(f), hid)
    ! Deferred with no count of its own to meet (some kinds of call make two
    ! writes): committed by a flush after every HELD calls.
    if (held > 1) call ftoc_defer_commits_id(hid, huge(held), 0d0)
  end if

  if (writer > 0) then
    print '(a)', 'ready'
    flush(6)
    do
      inquire(file='go', exist=go)
      if (go) exit
      if (usleep(1000_c_int) /= 0) exit
    end do
  end if

  ! No calls: the library's next open of a killed run's file, nothing else.
  if (calls == 0) then
    call ftoc_open_file_id(f, len(f), fid)
    call ftoc_close_file_id(fid)
  end if

  do c = first, first + calls - 1
    x = [(c + 0.5d0 * i, i = 1, 16)]
    y = [(merge(writer, c, writer > 0) - 0.5d0 * i, i = 1, 16)]
    if (writer > 0) write(path, '(a,i0,a,a,i0)') 'w', writer, '/', shared_kinds(mod(c, 3) + 1:mod(c, 3) + 1), c
    ! 0 to 6: the crash workload; 7 to 9: a writer of a shared file.
    select case (merge(7 + mod(c, 3), mod(c - 1, 7), writer > 0))
    case (0)  ! a new dataset in a group that changes every ten of these
      small = reshape([(c + i / 1000d0, i = 1, size(small))], shape(small))
      write(path, '(a,i0,a,i0)') 'new/g', (c - 1) / 60, '/d', c
      call put(trim(path), small, 12, 6, 0, VIDEZ5_DOUBLE, 0)
    case (1)  ! the same large dataset, compressed (level 1: the fastest deflate), overwritten in place
      field = reshape([(c + i / 1d6, i = 1, size(field))], shape(field))
      call ftoc_compress_next(1, 0, [0])
      call put_array('fixed/field', field, [200, 100], 0, [1, 1], [200, 100])
    case (2)  ! one of five plot records rewritten in place
      data = reshape([(c + i / 1000d0, i = 1, size(data))], shape(data))
      write(title, '(a,i6.6)') 'step', c
      write(path, '(a,i0)') 'plots/p', mod((c - 1) / 6, 5)
      if (held > 0) then
        call ftoc_printh5_id(hid, trim(path), len_trim(path), data, VIDEZ5_DOUBLE, x, y, 16, 12, 1, title, 10, &
                             'x', 1, 'y', 1)
      else
        call ftoc_printh5_double(f, len(f), trim(path), len_trim(path), data, x, y, 16, 12, title, 10, 'x', 1, 'y', 1)
      end if
    case (3)  ! new fixed-length strings
      do i = 1, 4
        write(words(i), '(a,i0,a,i0)') 'c', c, '-w', i
      end do
      write(path, '(a,i0)') 'text/t', c
      call put(trim(path), words, 4, 0, 0, VIDEZ5_STRING, 12)
    case (4)  ! one of three int plot records replaced, 10 and 12 values in turns
      n = merge(10, 12, mod((c - 1) / 7, 2) == 0)
      counts = [(c * 10 + i, i = 1, 12)]
      write(path, '(a,i0)') 'iplots/q', mod((c - 1) / 6, 3)
      call ftoc_replace_next()
      if (held > 0) then
        call ftoc_printh5_id(hid, trim(path), len_trim(path), counts, VIDEZ5_INT, x, y, n, 1, 1, 'counts', 6, &
                             'i', 1, 'n', 1)
      else
        call ftoc_printh5_int(f, len(f), trim(path), len_trim(path), counts, x, y, n, 1, 'counts', 6, 'i', 1, 'n', 1)
      end if
    case (5)  ! a group made through held handles
      fid = hid
      if (held == 0) call ftoc_open_file_id(f, len(f), fid)
      write(path, '(a,i0)') 'held/h', c
      call ftoc_open_group_id(fid, trim(path), len_trim(path), gid)
      call ftoc_close_group_id(gid)
      ! and through the same handle one of four blocks of a 40 x 32 grid written in place, the first
      ! made with zeros around it
      block = reshape([(c + i / 1000d0, i = 1, size(block))], shape(block))
      call ftoc_h5dump_array_id(fid, 'blocks/grid', 11, block, 2, [40, 8], VIDEZ5_DOUBLE, 0, 1, &
                                [1, 1 + 8 * mod((c - 6) / 7, 4)], [40, 32])
      if (held == 0) call ftoc_close_file_id(fid)
    case (6)  ! a step appended to a scalar series and to one of 14400 doubles (two to a chunk),
      ! unless a killed run already added it, as a restarted job would check
      call dims_of('series/frames')
      if (rank < 0 .or. dims(3) < c / 7) then
        frame = reshape([(c + i / 1d5, i = 1, size(frame))], shape(frame))
        call append('series/frames', frame, 120, 120)
      end if
      call dims_of('series/energy')
      if (rank < 0 .or. dims(1) < c / 7) call append('series/energy', [c + 0.25d0], 0, 0)
    case (7)  ! a new 160 KB array
      field = reshape([(writer * 1000000d0 + c + i / 100000d0, i = 1, size(field))], shape(field))
      call put(trim(path), field, size(field), 0, 0, VIDEZ5_DOUBLE, 0)
    case (8)  ! a new plot record
      data = reshape([(writer * 1000d0 + c + i / 1000d0, i = 1, size(data))], shape(data))
      write(title, '(a,i0,a,i0)') 'w', writer, ' c', c
      call ftoc_printh5_double(f, len(f), trim(path), len_trim(path), data, x, y, 16, 12, title, len_trim(title), &
                               'x', 1, 'y', 1)
    case (9)  ! three new ints
      counts(:3) = [(writer * 1000 + c * 10 + i, i = 1, 3)]
      call put(trim(path), counts, 3, 0, 0, VIDEZ5_INT, 0)
    end select
    if (held > 1 .and. mod(c - first + 1, max(held, 1)) == 0) call ftoc_flush_file_id(hid, i)
    if (held <= 1 .or. mod(c - first + 1, max(held, 1)) == 0) print '(a,i0)', 'returned ', c
  end do
  if (held > 0) call ftoc_close_file_id(hid)

contains

  subroutine put(path, data, dim1, dim2, dim3, type_code, string_length)
    character(len=*), intent(in) :: path
    type(*), dimension(*), intent(in) :: data
    integer, intent(in) :: dim1, dim2, dim3, type_code, string_length
    if (held > 0) then
      call ftoc_h5dump_data_id(hid, path, len(path), data, dim1, dim2, dim3, type_code, string_length)
    else
      call ftoc_h5dump_data(f, len(f), path, len(path), data, dim1, dim2, dim3, type_code, string_length)
    end if
  end subroutine

  ! Through the array entry: with partial 1 the block at start of a dataset of Fortran sizes whole.
  subroutine put_array(path, data, dims, partial, start, whole)
    character(len=*), intent(in) :: path
    double precision, intent(in) :: data(*)
    integer, intent(in) :: dims(:), partial, start(:), whole(:)
    if (held > 0) then
      call ftoc_h5dump_array_id(hid, path, len(path), data, size(dims), dims, VIDEZ5_DOUBLE, 0, partial, start, whole)
    else
      call ftoc_h5dump_array(f, len(f), path, len(path), data, size(dims), dims, VIDEZ5_DOUBLE, 0, partial, start, &
                             whole)
    end if
  end subroutine

  subroutine append(path, step, dim1, dim2)
    character(len=*), intent(in) :: path
    double precision, intent(in) :: step(*)
    integer, intent(in) :: dim1, dim2
    if (held > 0) then
      call ftoc_h5append_data_id(hid, path, len(path), step, dim1, dim2, VIDEZ5_DOUBLE)
    else
      call ftoc_h5append_data(f, len(f), path, len(path), step, dim1, dim2, VIDEZ5_DOUBLE)
    end if
  end subroutine

  subroutine dims_of(path)
    character(len=*), intent(in) :: path
    if (held > 0) then
      call ftoc_h5get_dims_id(hid, path, len(path), rank, dims(1), dims(2), dims(3))
    else
      call ftoc_h5get_dims(f, len(f), path, len(path), rank, dims(1), dims(2), dims(3))
    end if
  end subroutine
end program crash_writer
