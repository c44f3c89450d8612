! Bad inputs through the Fortran face, as docs/bad-inputs.md lists them. Every
! one must end in a clear outcome (a line on standard output, a negative
! handle) with nothing lost and no crash; bad_inputs_check.py compares the
! output byte for byte and checks every file afterwards. Given a MODE, the
! program tries one of the inputs that end the process instead.
program bad_inputs
  use videz5
  use test_support
  implicit none
  character(len=*), parameter :: keep = 'keep.h5', nul = char(0)
  integer :: fid, gid, bad, i, code, dims(3)
  double precision, parameter :: t(4, 3) = reshape([(0.5d0 * i, i = 1, 12)], [4, 3])
  double precision, parameter :: x(6) = [(dble(i), i = 1, 6)], y(6) = -x
  character(len=8), parameter :: words(2) = ['first   ', 'second  ']
  integer, parameter :: never_handed_out(3) = [987654, 0, -5]
  character(len=32) :: mode
  character(len=8) :: words_back(2)
  double precision :: sentinel(12), big(8200)

  call get_command_argument(1, mode)
  if (mode /= '') then
    ! An element type code (the number after the mode's last '_'), a missing file, a refused module read.
    if (index(mode, '_code_') > 0) read(mode(index(mode, '_', back=.true.) + 1:), *) code
    if (mode(:11) == 'module_read' .or. mode == 'module_list') call videz5_dump('there.h5', 't', t)
    print '(a)', 'before'
    if (mode(:10) == 'dump_code_') call ftoc_h5dump_data('never.h5', 8, 'v', 1, x, 2, 0, 0, code, 0)
    if (mode(:10) == 'read_code_') call ftoc_h5read_data('never.h5', 8, 'v', 1, sentinel, code, 0)
    if (mode == 'read_empty_name') call ftoc_h5read_data('', 0, 'v', 1, sentinel, VIDEZ5_DOUBLE, 0)
    if (mode == 'read_missing') call ftoc_h5read_data('missing.h5', 10, 'v', 1, sentinel, VIDEZ5_DOUBLE, 0)
    if (mode == 'module_read') call videz5_read('there.h5', 't', sentinel)  ! without status=
    if (mode == 'module_read_attr') call videz5_read_attr('there.h5', 't', 'nothing', sentinel(1))
    if (mode == 'module_list') call videz5_list('there.h5', 't', words_back, i)
    print '(a)', 'not reached'
    stop
  end if

  ! What must survive everything below.
  call ftoc_h5dump_data(keep, len(keep), 'fields/t', 8, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(keep, len(keep), 'text/w', 6, words, 2, 0, 0, VIDEZ5_STRING, 8)
  call ftoc_open_file_id(keep, len(keep), fid)
  call ftoc_open_group_id(fid, 'g', 1, gid)
  call ftoc_close_group_id(gid)
  call ftoc_close_file_id(fid)

  call section('a file that is not HDF5')
  call ftoc_h5dump_data('notes.txt', 9, 'v', 1, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call read_fails('notes.txt', 'v')
  call ftoc_printh5_double_notitle('notes.txt', 9, 'p', 1, t, x, y, 4, 3)
  call ftoc_open_file_id('notes.txt', 9, bad)
  call expect(bad < 0, 'non-HDF5 file gives a negative handle')

  call section('a damaged HDF5 file')
  call ftoc_h5dump_data('damaged.h5', 10, 'v', 1, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call read_fails('damaged.h5', 'v')

  call section('a directory, a device, a FIFO')
  call ftoc_h5dump_data('adir', 4, 'v', 1, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_open_file_id('/dev/null', 9, bad)
  call expect(bad < 0, '/dev/null gives a negative handle')
  call ftoc_h5dump_data('fifo.h5', 7, 'v', 1, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call read_fails('fifo.h5', 'v')
  sentinel = 42
  call ftoc_h5read_data_checked('fifo.h5', 7, 'v', 1, sentinel, 12, 0, 0, 8, VIDEZ5_DOUBLE, 0, code)
  call ftoc_h5get_dims('fifo.h5', 7, 'v', 1, bad, dims(1), dims(2), dims(3))
  call expect(code == VIDEZ5_NO_FILE .and. all(sentinel == 42) .and. bad == -1, 'a checked read of a FIFO')

  call section('an unwritable location')
  call ftoc_h5dump_data('/proc/videz5-bad.h5', 19, 'v', 1, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_open_file_id('notes.txt/x.h5', 14, bad)
  call expect(bad < 0, 'a path through a file gives a negative handle')

  call section('an empty file name')
  call ftoc_h5dump_data('', 0, 'v', 1, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_open_file_id('ignored', 0, bad)
  call expect(bad < 0, 'empty file name gives a negative handle')

  call section('NUL inside the given lengths')
  call ftoc_h5dump_data('nul.h5' // nul // 'junk', 11, 'v' // nul // 'w', 3, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_printh5_double('nul.h5', 6, 'p' // nul // 'q', 3, t, x, y, 4, 3, 'ab' // nul // 'cd', 5, &
                           nul // 'x', 2, 'y', 1)

  call section('unknown, stale, doubly closed and mixed-up handles')
  do i = 1, size(never_handed_out)
    call ftoc_open_group_id(never_handed_out(i), 'x', 1, bad)
    call expect(bad < 0, 'a handle never handed out')
  end do
  call ftoc_close_file_id(987654)
  call ftoc_close_group_id(-1)
  call ftoc_open_file_id(keep, len(keep), fid)
  call ftoc_open_group_id(fid, 'g', 1, gid)
  call ftoc_close_file_id(gid)
  call ftoc_close_group_id(gid)
  call ftoc_close_group_id(gid)
  call ftoc_close_file_id(fid)
  call ftoc_close_file_id(fid)
  call ftoc_open_group_id(fid, 'x', 1, bad)
  call expect(bad < 0, 'stale handle')
  call expect_open(0, 'wrong and repeated closes')

  call section('empty paths and empty path components')
  call ftoc_h5dump_data(keep, len(keep), '', 0, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(keep, len(keep), 'a//b', 4, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(keep, len(keep), 'a/', 2, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(keep, len(keep), '/', 1, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(keep, len(keep), '//x', 3, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call read_fails(keep, '')
  call ftoc_open_file_id(keep, len(keep), fid)
  call ftoc_open_group_id(fid, '', 0, bad)
  call expect(bad < 0, 'empty group path gives a negative handle')
  call ftoc_open_group_id(fid, 'a//b', 4, bad)
  call expect(bad < 0, 'empty group path component gives a negative handle')
  call ftoc_close_file_id(fid)
  call ftoc_printh5_double(keep, len(keep), '', 0, t, x, y, 4, 3, 't', 1, 'x', 1, 'y', 1)
  call expect_open(0, 'empty paths')

  call section('a dataset name that holds a group, a group path through a dataset')
  call ftoc_h5dump_data(keep, len(keep), 'g', 1, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call read_fails(keep, 'g')
  call ftoc_h5dump_data(keep, len(keep), 'fields/t/x', 10, t, 4, 3, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_printh5_double_notitle(keep, len(keep), 'fields/t', 8, t, x, y, 4, 3)
  call expect_open(0, 'groups and datasets mixed up')

  call section('string lengths below 1')
  call ftoc_h5dump_data(keep, len(keep), 'text/w', 6, words, 2, 0, 0, VIDEZ5_STRING, 0)
  call ftoc_h5dump_data(keep, len(keep), 'text/w', 6, words, 2, 0, 0, VIDEZ5_STRING, -huge(1) - 1)
  call ftoc_h5read_data(keep, len(keep), 'text/w', 6, words_back, VIDEZ5_STRING, -1)

  call section('sizes that cannot describe the array')
  call ftoc_h5dump_data(keep, len(keep), 'huge', 4, t, -1, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(keep, len(keep), 'huge', 4, t, 100000, 100000, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data(keep, len(keep), 'huge', 4, t, -1, -1, -1, VIDEZ5_INT, 0)
  call ftoc_h5dump_data(keep, len(keep), 'huge', 4, words, 2, 0, 0, VIDEZ5_STRING, huge(1))
  call ftoc_printh5_double(keep, len(keep), 'huge', 4, t, x, y, 100000, 100000, 't', 1, 'x', 1, 'y', 1)
  call ftoc_printh5_int_notitle(keep, len(keep), 'huge', 4, [1, 2], x, y, -1, 1)
  call ftoc_h5dump_data('never.h5', 8, 'huge', 4, t, -1, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5append_data(keep, len(keep), 'huge', 4, t, 100000, 100000, VIDEZ5_DOUBLE)
  call ftoc_h5append_data('never.h5', 8, 'huge', 4, words, 2, 0, VIDEZ5_STRING)
  call ftoc_h5append_data('never.h5', 8, 'huge', 4, t, 4, 3, -1)

  call section('zero sizes and titles of length 0')
  call ftoc_h5dump_data(keep, len(keep), 'zero', 4, t, 0, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_printh5_double(keep, len(keep), 'untitled', 8, t, x, y, 4, 3, 'ignored', 0, '', 0, 'y', 0)

  call section('values HDF5 cannot convert')
  call ftoc_h5dump_data(keep, len(keep), 'text/w', 6, [7d0, 8d0], 2, 0, 0, VIDEZ5_DOUBLE, 0)
  call read_fails(keep, 'text/w')

  call section('attributes: nowhere to go, bad arguments, too large')
  call ftoc_h5write_attr('never.h5', 8, 'v', 1, 'units', 5, words, 0, VIDEZ5_STRING, 8, code)
  call expect(code == VIDEZ5_NO_FILE, 'an attribute in a file not there')
  call ftoc_h5write_attr('notes.txt', 9, 'v', 1, 'units', 5, words, 0, VIDEZ5_STRING, 8, code)
  call expect(code == VIDEZ5_NO_FILE, 'an attribute in a file not HDF5')
  call ftoc_h5write_attr(keep, len(keep), 'fields/t/x', 10, 'units', 5, words, 0, VIDEZ5_STRING, 8, code)
  call expect(code == VIDEZ5_WRITE_REFUSED, 'an attribute below a dataset')
  call ftoc_h5write_attr(keep, len(keep), 'fields/t', 8, 'units', 5, x, 0, 7, 0, code)
  call ftoc_h5write_attr(keep, len(keep), 'fields/t', 8, 'units', 5, words, 0, VIDEZ5_STRING, 0, code)
  call ftoc_h5write_attr(keep, len(keep), 'fields/t', 8, '', 0, x, 0, VIDEZ5_DOUBLE, 0, code)
  call ftoc_h5write_attr(keep, len(keep), 'fields/t', 8, 'huge', 4, x, -1, VIDEZ5_DOUBLE, 0, code)
  call ftoc_h5write_attr_id(987654, 'fields/t', 8, 'units', 5, x, 0, VIDEZ5_DOUBLE, 0, code)
  call expect(code == VIDEZ5_NO_FILE, 'an attribute through an unknown handle')
  big = 1
  call videz5_write_attr(keep, 'g', 'big', big, status=code)
  call expect(code == VIDEZ5_WRITE_REFUSED, 'an attribute too large')
  call videz5_write_attr(keep, 'g', 'big', big(:8100), status=code)
  call expect(code == VIDEZ5_OK, 'the largest attribute that goes in')
  sentinel = 42
  call ftoc_h5read_attr(keep, len(keep), 'g', 1, 'big', 3, sentinel, 0, 4, VIDEZ5_DOUBLE, 0, code)
  call ftoc_h5read_attr('notes.txt', 9, 'g', 1, 'big', 3, sentinel, 0, 8, VIDEZ5_DOUBLE, 0, code)
  call ftoc_h5read_attr('fifo.h5', 7, 'g', 1, 'big', 3, sentinel, 0, 8, VIDEZ5_DOUBLE, 0, code)
  call ftoc_h5read_attr(keep, len(keep), 'g', 1, '', 0, sentinel, 0, 8, VIDEZ5_DOUBLE, 0, code)
  call ftoc_h5read_attr_id(987654, 'g', 1, 'big', 3, sentinel, 0, 8, VIDEZ5_DOUBLE, 0, code)
  call expect(all(sentinel == 42), 'failed attribute reads left their buffer alone')

  call section('the array entries: codes, ranks, sizes, blocks and compression')
  ! Refused with one line before any file is touched, and the process goes on.
  sentinel = 42
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, x, 1, [6], 7, 0, 0, [1], [6])
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, words, 1, [2], VIDEZ5_STRING, 0, 0, [1], [2])
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, x, 8, [1, 1, 1, 1, 1, 1, 1, 6], VIDEZ5_DOUBLE, 0, 0, &
                         [1, 1, 1, 1, 1, 1, 1, 1], [1, 1, 1, 1, 1, 1, 1, 6])
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, x, 2, [6, 0], VIDEZ5_DOUBLE, 0, 0, [1, 1], [6, 1])
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, x, 1, [-1], VIDEZ5_DOUBLE, 0, 0, [1], [1])
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, x, 0, [0], VIDEZ5_DOUBLE, 0, 1, [1], [1])
  call ftoc_h5dump_array(keep, len(keep), 'fields/t', 8, x, 1, [6], VIDEZ5_DOUBLE, 0, 1, [-1], [12])
  call ftoc_compress_next(12, 0, [0])
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, x, 1, [6], VIDEZ5_DOUBLE, 0, 0, [1], [6])
  call ftoc_compress_next(1, 1, [7])
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, x, 1, [6], VIDEZ5_DOUBLE, 0, 0, [1], [6])
  call ftoc_compress_next(1, 0, [0])
  call ftoc_h5dump_array(keep, len(keep), 'a/v', 3, x, 0, [0], VIDEZ5_DOUBLE, 0, 0, [0], [0])
  call ftoc_last_write_status(code)
  call expect(code == VIDEZ5_WRITE_REFUSED, 'a compressed scalar')
  call ftoc_h5read_array(keep, len(keep), 'fields/t', 8, sentinel, 2, [4, 3], 8, 5, 0, 0, [1, 1], code)
  call ftoc_h5read_array(keep, len(keep), 'fields/t', 8, sentinel, 9, [4, 3], 8, VIDEZ5_DOUBLE, 0, 0, [1, 1], code)
  call ftoc_h5read_array(keep, len(keep), 'fields/t', 8, sentinel, 2, [4, 3], 4, VIDEZ5_DOUBLE, 0, 0, [1, 1], code)
  call ftoc_h5read_array(keep, len(keep), 'fields/t', 8, sentinel, 2, [4, 3], 8, VIDEZ5_DOUBLE, 0, 1, [2, 1], code)
  call ftoc_h5read_array(keep, len(keep), 'fields/t', 8, sentinel, 2, [2, 2], 8, VIDEZ5_DOUBLE, 0, 1, &
                         [huge(1), 1], code)
  call expect(code == VIDEZ5_SHAPE_MISMATCH .and. all(sentinel == 42), 'a block past the end')
  call ftoc_h5get_dims_array(keep, len(keep), 'fields/t', 8, 1, i, dims, code)
  call expect(i == 2 .and. code == VIDEZ5_SHAPE_MISMATCH, 'sizes for a rank of 1')
  call ftoc_h5dump_array_id(987654, 'v', 1, x, 1, [6], VIDEZ5_DOUBLE, 0, 0, [1], [6])
  call ftoc_h5read_array_id(987654, 'v', 1, sentinel, 1, [6], 8, VIDEZ5_DOUBLE, 0, 0, [1], code)
  call expect(code == VIDEZ5_NO_FILE .and. all(sentinel == 42), 'an unknown handle')

  call section('asking, listing and deleting where there is nothing to find')
  ! Each asked on its own: false, and never a line, whatever stands under the name.
  call expect(.not. videz5_exists('fifo.h5', '/'), 'a FIFO holds nothing')
  call expect(.not. videz5_exists('notes.txt', '/'), 'a file that is not HDF5 holds nothing')
  call expect(.not. videz5_exists('damaged.h5', '/'), 'a damaged file holds nothing')
  call expect(.not. videz5_exists('adir', '/'), 'a directory holds nothing')
  call expect(.not. videz5_exists('never.h5', '/'), 'a file not there holds nothing')
  call expect(.not. videz5_exists(987654, '/'), 'an unknown handle holds nothing')
  call ftoc_h5list('fifo.h5', 7, '/', 1, words_back, 2, 8, i, code)
  call ftoc_h5list('notes.txt', 9, '/', 1, words_back, 2, 8, i, code)
  call ftoc_h5list_id(987654, '/', 1, words_back, 2, 8, i, code)
  call expect(i == -1 .and. code == VIDEZ5_NO_FILE, 'a listing of no file')
  call ftoc_h5list(keep, len(keep), 'fields', 6, words_back, 1, 0, i, code)
  call expect(i == 1 .and. code == VIDEZ5_NAMES_CUT, 'names of length 0')
  call ftoc_h5delete('never.h5', 8, 'fields', 6, code)
  call ftoc_h5delete('notes.txt', 9, 'fields', 6, code)
  call expect(code == VIDEZ5_NO_FILE, 'a delete in a file that is not HDF5')
  call ftoc_h5delete(keep, len(keep), '', 0, code)
  call ftoc_h5delete(keep, len(keep), 'fields/t/x', 10, code)
  call ftoc_h5delete(keep, len(keep), 'a//b', 4, code)
  call expect(code == VIDEZ5_WRITE_REFUSED, 'nothing to delete')
  call ftoc_h5delete_id(987654, 'fields', 6, code)
  call expect_open(0, 'everything')
  call section('done')
contains
  subroutine read_fails(file, path)
    character(len=*), intent(in) :: file, path
    sentinel = 42
    call ftoc_h5read_data(file, len(file), path, len(path), sentinel, VIDEZ5_DOUBLE, 0)
    call expect(all(sentinel == 42), 'the failed read of ' // file // ': ' // path // ' left its buffer alone')
  end subroutine
end program bad_inputs
