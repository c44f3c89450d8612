! Parts of arrays: videz5_dump with start= and shape= writes a block into a
! dataset (made filled with zeros when absent), videz5_read with start= reads
! one; blocks that do not fit, and datasets of another shape or kind, are
! refused and leave the file as it was.
program test_blocks
  use videz5
  use test_support
  use, intrinsic :: iso_fortran_env, only: real64
  implicit none
  character(len=*), parameter :: f = 'blocks.h5'
  real(real64) :: grid(6, 4), block(2, 3), got(2, 3), u(4, 3, 2, 2), sub(2, 3, 1, 1)
  character(len=4) :: names(3)
  integer :: i, j, st, h

  call section('blocks into a new dataset and back')
  block = reshape([(dble(i), i = 1, 6)], shape(block))
  call videz5_dump(f, 'grid', block, start=[3, 2], shape=[6, 4], status=st)
  call expect(st == VIDEZ5_OK, 'first block')
  call videz5_dump(f, 'grid', -block, start=[1, 1], shape=[6, 4])
  call videz5_read(f, 'grid', grid)
  call expect(all(grid(3:4, 2:4) == block) .and. all(grid(1:2, 1:3) == -block) .and. all(grid(5:, :) == 0) .and. &
              all(grid(1:2, 4) == 0) .and. all(grid(3:4, 1) == 0), 'the blocks and zeros around them')
  call videz5_read(f, 'grid', got, start=[2, 2])
  call expect(all(got == grid(2:3, 2:4)), 'a block read')
  u = reshape([(dble(i), i = 1, size(u))], shape(u))
  call videz5_dump(f, 'fluid/u', u)
  ! One variable of a subdomain: u(2:3, 1:3, 2, 2).
  call videz5_read(f, 'fluid/u', sub, start=[2, 1, 2, 2])
  call expect(all(sub(:, :, 1, 1) == u(2:3, :, 2, 2)), 'a subdomain of rank 4')
  names = ['ab  ', 'cd  ', 'efgh']
  call videz5_dump(f, 'names', names(2:3), start=[2], shape=[4])

  call section('through a held handle')
  h = videz5_open(f)
  call videz5_dump(h, 'grid', 10 * block, start=[5, 1], shape=[6, 4])
  call videz5_read(h, 'grid', got, start=[5, 1], status=st)
  call expect(st == VIDEZ5_OK .and. all(got == 10 * block), 'held')
  call videz5_close(h)

  call section('refused, the file unchanged')
  call videz5_dump(f, 'grid', block, start=[6, 1], shape=[6, 4], status=st)
  call expect(st == VIDEZ5_WRITE_REFUSED, 'a block past the end')
  call videz5_dump(f, 'grid', block, start=[0, 1], shape=[6, 4])
  call videz5_dump(f, 'grid', block, start=[1, 1], shape=[6, 5], status=st)
  call expect(st == VIDEZ5_WRITE_REFUSED, 'another shape')
  call videz5_dump(f, 'names', [1d0], start=[1], shape=[4], status=st)
  call expect(st == VIDEZ5_WRITE_REFUSED, 'another kind')
  call videz5_dump(f, 'grid', block, start=[1, 1])
  call videz5_dump(f, 'grid', block, start=[1, 1, 1], shape=[6, 4, 1], status=st)
  call expect(st == VIDEZ5_WRITE_REFUSED, 'start= and shape= of another rank')
  call videz5_read(f, 'grid', got, start=[6, 1], status=st)
  call expect(st == VIDEZ5_SHAPE_MISMATCH, 'a block read past the end')
  call videz5_read(f, 'grid', got, start=[1], status=st)
  call videz5_read(f, 'grid', got, start=[0, 1], status=st)
  call videz5_read(f, 'fluid/u', got, start=[1, 1], status=st)
  call expect(st == VIDEZ5_SHAPE_MISMATCH, 'a block of another rank')
  call videz5_read(f, 'grid', grid)
  call expect(all(grid(5:6, 1:3) == 10 * block) .and. all(grid(3:4, 2:4) == block), 'unchanged')
  ! Asked for: a dataset of another shape gives way to the new one, zeros around the block.
  call videz5_dump(f, 'grid', block, start=[1, 1], shape=[2, 4], replace=.true., status=st)
  call videz5_read(f, 'grid', grid(1:2, :))
  call expect(st == VIDEZ5_OK .and. all(grid(1:2, 1:3) == block) .and. all([(grid(j, 4) == 0, j = 1, 2)]), &
              'replaced')
  call section('done')
end program test_blocks
