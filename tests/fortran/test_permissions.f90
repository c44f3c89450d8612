! A process that may not write where it is asked to (check.py runs it as an
! unprivileged user): an archived, read-only results file is still read, and
! every call that cannot write says why.
program test_permissions
  use videz5
  use test_support
  implicit none
  double precision :: t(3) = [1d0, 2d0, 3d0], back(3), back_checked(3)
  integer :: fid, status

  call section('an archived file is read')
  call ftoc_h5read_data('archived.h5', 11, 'results/t', 9, back, VIDEZ5_DOUBLE, 0)
  call videz5_read('archived.h5', 'results/t', back_checked, status)
  call expect(status == VIDEZ5_OK .and. all(back == [0.5d0, 1.5d0, 2.5d0]) .and. all(back_checked == back), &
              'read from a read-only file, unchecked and checked')
  call section('calls that cannot write say why')
  call ftoc_h5dump_data('archived.h5', 11, 'v', 1, t, 3, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_h5dump_data('readonly_dir/new.h5', 19, 'v', 1, t, 3, 0, 0, VIDEZ5_DOUBLE, 0)
  call ftoc_open_file_id('archived.h5', 11, fid)
  call expect(fid < 0, 'no handle to write with')
  call section('done')
end program test_permissions
