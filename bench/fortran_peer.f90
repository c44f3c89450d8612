! Peer: the dumps a Fortran program would otherwise write with HDF5's own
! Fortran interface (Debian's libhdf5-fortran), side by side with the library
! called through `use videz5`, the way a Fortran user calls it.
!
!  - new 100-double datasets at g/dNNNNN: h5fopen_f / h5ltmake_dataset_f / h5fclose_f;
!  - overwrite in place (the Lite call cannot overwrite): h5fopen_f, h5dopen_f,
!    extent check, h5dwrite_f, closes;
!  - one 256 MiB double array into a new file: h5fcreate_f / h5ltmake_dataset_f / h5fclose_f;
!    and the library's file read back with h5fopen_f / h5ltread_dataset_f / h5fclose_f
!    (the same file for both reads: where the data lie in a file changes read speed).
!
! Library and peer calls alternate, the one going first swapping every pair;
! ratios are taken within each repetition, then their median.
module peer_clock
  use iso_c_binding
  implicit none

  type, bind(c) :: timespec
    integer(c_int64_t) :: sec, nsec
  end type

  interface
    integer(c_int) function clock_gettime(clock, ts) bind(c, name='clock_gettime')
      import :: c_int, timespec
      integer(c_int), value :: clock
      type(timespec), intent(out) :: ts
    end function
    integer(c_int) function c_unlink(path) bind(c, name='unlink')
      import :: c_int, c_char
      character(kind=c_char), dimension(*), intent(in) :: path
    end function
    integer(c_int) function c_rmdir(path) bind(c, name='rmdir')
      import :: c_int, c_char
      character(kind=c_char), dimension(*), intent(in) :: path
    end function
    type(c_ptr) function c_mkdtemp(template) bind(c, name='mkdtemp')
      import :: c_ptr, c_char
      character(kind=c_char), dimension(*), intent(inout) :: template
    end function
    subroutine c_qsort(base, count, size, compare) bind(c, name='qsort')
      import :: c_ptr, c_size_t, c_funptr
      type(c_ptr), value :: base
      integer(c_size_t), value :: count, size
      type(c_funptr), value :: compare
    end subroutine
  end interface

  ! What a stopped run removes, as the normal end does.
  character(len=4096) :: scratch_dir = ''
  character(len=4096) :: scratch_files(4) = ''

contains

  subroutine remove_scratch()
    integer :: i
    integer(c_int) :: rc
    do i = 1, size(scratch_files)
      if (len_trim(scratch_files(i)) > 0) call remove_file(scratch_files(i))
    end do
    if (len_trim(scratch_dir) > 0) rc = c_rmdir(trim(scratch_dir) // c_null_char)
  end subroutine

  double precision function now()
    type(timespec) :: ts
    integer(c_int) :: rc
    rc = clock_gettime(1_c_int, ts)  ! CLOCK_MONOTONIC
    now = dble(ts%sec) + 1d-9 * dble(ts%nsec)
  end function

  subroutine remove_file(path)
    character(len=*), intent(in) :: path
    integer(c_int) :: rc
    rc = c_unlink(trim(path) // c_null_char)
  end subroutine

  ! The values in ascending order, by the C library's qsort.
  function sorted(values) result(v)
    double precision, intent(in) :: values(:)
    double precision, target :: v(size(values))
    v = values
    if (size(v) > 1) call c_qsort(c_loc(v), int(size(v), c_size_t), c_sizeof(v(1)), c_funloc(compare_doubles))
  end function

  integer(c_int) function compare_doubles(a, b) bind(c)
    real(c_double), intent(in) :: a, b
    compare_doubles = merge(-1_c_int, merge(1_c_int, 0_c_int, a > b), a < b)
  end function

  double precision function median(values)
    double precision, intent(in) :: values(:)
    double precision :: v(size(values))
    integer :: n
    v = sorted(values)
    n = size(v)
    if (mod(n, 2) == 1) then
      median = v(n / 2 + 1)
    else
      median = 0.5d0 * (v(n / 2) + v(n / 2 + 1))
    end if
  end function

  ! The mean without the slowest tenth: a call that loses the processor to
  ! another process for milliseconds must not decide the figure (as in the C++ programs).
  double precision function trimmed_mean(values)
    double precision, intent(in) :: values(:)
    double precision :: v(size(values))
    integer :: keep
    v = sorted(values)
    keep = size(v) - size(v) / 10
    trimmed_mean = sum(v(1:keep)) / keep
  end function

  ! The q-quantile (0..1) of the values, interpolated between neighbours.
  double precision function quantile(values, q)
    double precision, intent(in) :: values(:), q
    double precision :: v(size(values)), position
    integer :: below
    v = sorted(values)
    position = q * (size(v) - 1)
    below = int(position) + 1
    if (below >= size(v)) then
      quantile = v(size(v))
    else
      quantile = v(below) + (position - (below - 1)) * (v(below + 1) - v(below))
    end if
  end function

  ! The median ratio and the spread of the middle half of the repetitions.
  function ratio_text(ratios) result(text)
    double precision, intent(in) :: ratios(:)
    character(len=:), allocatable :: text
    character(len=64) :: buffer
    write (buffer, '(f5.3,a,f5.3,a,f5.3,a)') median(ratios), ' (IQR ', quantile(ratios, 0.25d0), '–', &
      quantile(ratios, 0.75d0), ')'
    text = trim(buffer)
  end function

  ! "No slower": met when the median ratio is on the right side of 1; a tie when
  ! 1 lies inside the middle half of the repetitions, so the two cannot be told apart.
  function verdict(ratios, time_ratio) result(text)
    double precision, intent(in) :: ratios(:)
    logical, intent(in) :: time_ratio
    character(len=:), allocatable :: text
    logical :: met
    double precision :: low, high
    low = quantile(ratios, 0.25d0)
    high = quantile(ratios, 0.75d0)
    if (time_ratio) then
      met = median(ratios) <= 1d0
    else
      met = median(ratios) >= 1d0
    end if
    if (met) then
      text = 'yes'
    else if (low <= 1d0 .and. high >= 1d0) then
      text = 'tie (within noise)'
    else
      text = '**no**'
    end if
  end function

  subroutine require(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (.not. ok) then
      write (0, '(2a)') 'benchmark check failed: ', what
      call remove_scratch()
      error stop 2
    end if
  end subroutine

  subroutine row(figure, library, reference, ratio, goal, met)
    character(len=*), intent(in) :: figure, library, reference, ratio, goal, met
    print '(13a)', '| ', figure, ' | ', library, ' | ', reference, ' | ', ratio, ' | ', goal, ' | ', met, ' |'
  end subroutine

  function us(seconds) result(text)
    double precision, intent(in) :: seconds
    character(len=:), allocatable :: text
    character(len=32) :: buffer
    write (buffer, '(f0.1,a)') seconds * 1d6, ' µs'
    text = trim(buffer)
  end function

  ! Throughput of one 256 MiB transfer, as the C++ programs print it.
  function rate(seconds) result(text)
    double precision, intent(in) :: seconds
    character(len=:), allocatable :: text
    character(len=48) :: buffer
    write (buffer, '(i0,a,f5.3,a)') nint(256d0 / seconds), ' MiB/s (', seconds, ' s)'
    text = trim(buffer)
  end function

end module peer_clock

program fortran_peer
  use iso_c_binding
  use iso_fortran_env, only: int64
  use hdf5
  use h5lt
  use videz5
  use peer_clock
  implicit none

  integer, parameter :: nvalues = 100, reps = 21, calls = 200, large_reps = 9
  integer(hsize_t), parameter :: nbig = 33554432_hsize_t   ! 256 MiB of doubles
  character(len=:), allocatable :: dir, lib_file, lite_file, lib_big, lite_big
  character(len=4096) :: base
  character(len=8) :: name
  double precision :: values(nvalues)
  double precision, allocatable :: big(:), back(:)
  ! Index 0 holds the warm-up round, which no statistic uses.
  double precision :: lib_calls(calls), peer_calls(calls)
  double precision :: t0, lib_new(0:reps), peer_new(0:reps), ratio_new(0:reps)
  double precision :: lib_over(0:reps), peer_over(0:reps), ratio_over(0:reps)
  double precision :: lib_dump(0:large_reps), peer_dump(0:large_reps), lib_read(0:large_reps)
  double precision :: peer_read(0:large_reps), speed_dump(0:large_reps), speed_read(0:large_reps)
  integer(hid_t) :: fid, gid
  integer(hsize_t) :: dims(1), big_dims(1)
  integer :: err, rep, j, next, side, status, n, i, storage, max_corder, way
  integer :: nlinks
  logical :: library_turn
  type(c_ptr) :: made

  ! Scratch directory as the C++ programs make theirs.
  call get_environment_variable('VIDEZ5_BENCH_DIR', base, status=status)
  if (status /= 0 .or. len_trim(base) == 0) call get_environment_variable('TMPDIR', base, status=status)
  if (status /= 0 .or. len_trim(base) == 0) base = '/tmp'
  base = trim(base) // '/videz5-bench-peer-XXXXXX' // c_null_char
  made = c_mkdtemp(base)
  call require(c_associated(made), 'mkdtemp')
  n = index(base, c_null_char) - 1
  dir = base(1:n)
  lib_file = dir // '/lib.h5'
  lite_file = dir // '/lite.h5'
  lib_big = dir // '/lib-big.h5'
  lite_big = dir // '/lite-big.h5'
  scratch_dir = dir
  scratch_files = [character(len=4096) :: lib_file, lite_file, lib_big, lite_big]

  call h5open_f(err)
  values = [(0.25d0 * i, i = 1, nvalues)]
  dims = [int(nvalues, hsize_t)]

  ! Each file made the way its side makes it.
  call ftoc_h5dump_data(lib_file, len(lib_file), 'g/d00000', 8, values, nvalues, 0, 0, VIDEZ5_DOUBLE, 0)
  call h5fcreate_f(lite_file, H5F_ACC_EXCL_F, fid, err)
  call h5gcreate_f(fid, 'g', gid, err)
  call h5gclose_f(gid, err)
  call h5ltmake_dataset_f(fid, 'g/d00000', 1, dims, H5T_NATIVE_DOUBLE, values, err)
  call h5fclose_f(fid, err)
  call require(err == 0, 'peer file setup')

  ! New datasets.
  next = 1
  do rep = 0, reps
    do j = next, next + calls - 1
      write (name, '(a,i5.5)') 'g/d', j
      values(1) = dble(j)
      do side = 0, 1
        library_turn = (side == 0) .eqv. (mod(j, 2) == 0)
        t0 = now()
        if (library_turn) then
          call ftoc_h5dump_data(lib_file, len(lib_file), name, 8, values, nvalues, 0, 0, VIDEZ5_DOUBLE, 0)
          lib_calls(j - next + 1) = now() - t0
        else
          call h5fopen_f(lite_file, H5F_ACC_RDWR_F, fid, err)
          call h5ltmake_dataset_f(fid, name, 1, dims, H5T_NATIVE_DOUBLE, values, err)
          call h5fclose_f(fid, err)
          peer_calls(j - next + 1) = now() - t0
          call require(err == 0, 'h5ltmake_dataset_f')
        end if
      end do
    end do
    next = next + calls
    lib_new(rep) = trimmed_mean(lib_calls)
    peer_new(rep) = trimmed_mean(peer_calls)
    ratio_new(rep) = lib_new(rep) / peer_new(rep)
  end do
  call require(links_in(lib_file) == next, 'every new dataset written by the library')
  call require(links_in(lite_file) == next, 'every new dataset written by the peer')

  ! Overwrite in place.
  do rep = 0, reps
    do j = 1, calls
      values(2) = dble(j)
      do side = 0, 1
        library_turn = (side == 0) .eqv. (mod(j, 2) == 0)
        t0 = now()
        if (library_turn) then
          call ftoc_h5dump_data(lib_file, len(lib_file), 'g/d00000', 8, values, nvalues, 0, 0, VIDEZ5_DOUBLE, 0)
          lib_calls(j) = now() - t0
        else
          call core_overwrite(lite_file, 'g/d00000', values)
          peer_calls(j) = now() - t0
        end if
      end do
    end do
    lib_over(rep) = trimmed_mean(lib_calls)
    peer_over(rep) = trimmed_mean(peer_calls)
    ratio_over(rep) = lib_over(rep) / peer_over(rep)
  end do
  call require(links_in(lib_file) == next, 'overwrites added nothing')

  ! 256 MiB into a new file, then read back.
  allocate (big(nbig), back(nbig))
  do i = 1, int(nbig)
    big(i) = 0.5d0 * i
  end do
  back = 0
  big_dims = [nbig]
  do rep = 0, large_reps
    do way = 0, 1
      library_turn = (way == 0) .eqv. (mod(rep, 2) == 0)
      if (library_turn) then
        call remove_file(lib_big)
        t0 = now()
        call ftoc_h5dump_data(lib_big, len(lib_big), 'big', 3, big, int(nbig), 0, 0, VIDEZ5_DOUBLE, 0)
        lib_dump(rep) = now() - t0
      else
        call remove_file(lite_big)
        t0 = now()
        call h5fcreate_f(lite_big, H5F_ACC_TRUNC_F, fid, err)
        call h5ltmake_dataset_f(fid, 'big', 1, big_dims, H5T_NATIVE_DOUBLE, big, err)
        call h5fclose_f(fid, err)
        peer_dump(rep) = now() - t0
        call require(err == 0, 'large h5ltmake_dataset_f')
      end if
    end do
    speed_dump(rep) = peer_dump(rep) / lib_dump(rep)
  end do
  do rep = 0, large_reps
    do way = 0, 1
      library_turn = (way == 0) .eqv. (mod(rep, 2) == 0)
      back(1) = -1
      back(nbig) = -1
      if (library_turn) then
        t0 = now()
        call ftoc_h5read_data(lib_big, len(lib_big), 'big', 3, back, VIDEZ5_DOUBLE, 0)
        lib_read(rep) = now() - t0
      else
        t0 = now()
        call h5fopen_f(lib_big, H5F_ACC_RDONLY_F, fid, err)
        call h5ltread_dataset_f(fid, 'big', H5T_NATIVE_DOUBLE, back, big_dims, err)
        call h5fclose_f(fid, err)
        peer_read(rep) = now() - t0
      end if
      call require(same(back(1), big(1)) .and. same(back(nbig), big(nbig)), 'large read back')
    end do
    speed_read(rep) = peer_read(rep) / lib_read(rep)
  end do

  print '(a,i0,a,i0,a,i0,a)', 'Fortran calls; small: ', reps, ' repetitions of ', calls, &
        ' calls per side after one warm-up block (means without the slowest tenth of calls); large: ', &
        large_reps, ' repetitions after one warm-up.'
  print '(a)', ''
  print '(a)', '### Peer: HDF5''s own Fortran interface (time ratio = library / peer; speed ratio = peer time / library time)'
  print '(a)', ''
  print '(a)', '| figure | library | reference | ratio | goal | met |'
  print '(a)', '|---|---|---|---|---|---|'
  call row('new 100-double dataset vs `h5fopen_f`/`h5ltmake_dataset_f`/`h5fclose_f`', us(median(lib_new(1:))), &
           us(median(peer_new(1:))), ratio_text(ratio_new(1:)), 'time ratio ≤ 1.00', verdict(ratio_new(1:), .true.))
  call row('overwrite in place vs `h5fopen_f`/`h5dopen_f`/extent check/`h5dwrite_f` (core calls, not Lite)', &
           us(median(lib_over(1:))), us(median(peer_over(1:))), ratio_text(ratio_over(1:)), 'time ratio ≤ 1.00', &
           verdict(ratio_over(1:), .true.))
  call row('dump 256 MiB vs `h5fcreate_f`/`h5ltmake_dataset_f`/`h5fclose_f`', rate(median(lib_dump(1:))), &
           rate(median(peer_dump(1:))), ratio_text(speed_dump(1:)), 'speed ratio ≥ 1.00', verdict(speed_dump(1:), .false.))
  call row('(extra) read 256 MiB vs `h5fopen_f`/`h5ltread_dataset_f`/`h5fclose_f` of the same file', rate(median(lib_read(1:))), &
           rate(median(peer_read(1:))), ratio_text(speed_read(1:)), '(none)', '-')

  deallocate (big, back)
  call h5close_f(err)
  call remove_scratch()

contains

  subroutine core_overwrite(file, path, buffer)
    character(len=*), intent(in) :: file, path
    double precision, intent(in) :: buffer(:)
    integer(hid_t) :: f, d, s
    integer(hsize_t) :: stored(1), maxdims(1)
    integer :: rank, e
    call h5fopen_f(file, H5F_ACC_RDWR_F, f, e)
    call h5dopen_f(f, path, d, e)
    call h5dget_space_f(d, s, e)
    call h5sget_simple_extent_ndims_f(s, rank, e)
    call require(rank == 1, 'peer rank check')
    call h5sget_simple_extent_dims_f(s, stored, maxdims, e)
    call require(stored(1) == size(buffer), 'peer extent check')
    call h5dwrite_f(d, H5T_NATIVE_DOUBLE, buffer, stored, e)
    call require(e == 0, 'h5dwrite_f')
    call h5sclose_f(s, e)
    call h5dclose_f(d, e)
    call h5fclose_f(f, e)
  end subroutine

  ! Bit for bit: the values read back must be the very values dumped.
  logical function same(a, b)
    double precision, intent(in) :: a, b
    same = transfer(a, 0_int64) == transfer(b, 0_int64)
  end function

  integer function links_in(file)
    character(len=*), intent(in) :: file
    integer(hid_t) :: f, g
    integer :: e
    call h5fopen_f(file, H5F_ACC_RDONLY_F, f, e)
    call h5gopen_f(f, 'g', g, e)
    call h5gget_info_f(g, storage, nlinks, max_corder, e)
    links_in = nlinks
    call h5gclose_f(g, e)
    call h5fclose_f(f, e)
  end function
end program fortran_peer
