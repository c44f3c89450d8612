! The videz5_mpi module: the collective calls of videz5_c_mpi, next to the
! module videz5 (use both; link videz5_fortran_mpi and videz5_c_mpi).
!   videz5_pdump(comm, file, path, block, global, offset [, status])
!   videz5_pread(comm, file, path, block, global, offset [, status])
! Every rank of the communicator (a Fortran handle, e.g. MPI_COMM_WORLD from
! mpif.h or comm%MPI_VAL from mpi_f08) calls with the same file, path and
! global(:) sizes, its own block, real64 or int32 of rank 1 to 3, and
! offset(:), the block's offsets from 0 in the global array, one per
! dimension. One dataset holds the global array exactly as videz5_dump of the
! assembled array would; blocks may be uneven or empty, and must cover it once.
! status (a VIDEZ5_ value) is the same on every rank; a failed read without
! status= ends the program, on every rank.
module videz5_mpi
  use, intrinsic :: iso_fortran_env, only: real64, int32
  use, intrinsic :: iso_c_binding, only: c_char, c_int
  use videz5, only: VIDEZ5_DOUBLE, VIDEZ5_INT, VIDEZ5_OK
  implicit none
  private
  public :: ftoc_h5pdump_data, ftoc_h5pread_data, videz5_pdump, videz5_pread

  interface
    subroutine ftoc_h5pdump_data(comm, name, name_length, path, path_length, block, global, offset, count, &
                                 type_code, status) bind(C, name="ftoc_h5pdump_data_")
      import :: c_char, c_int
      integer(c_int), intent(in) :: comm, name_length, path_length, global(3), offset(3), count(3), type_code
      character(kind=c_char), dimension(*), intent(in) :: name, path
      type(*), dimension(*), intent(in) :: block
      integer(c_int), intent(out) :: status
    end subroutine

    subroutine ftoc_h5pread_data(comm, name, name_length, path, path_length, block, global, offset, count, &
                                 element_size, type_code, status) bind(C, name="ftoc_h5pread_data_")
      import :: c_char, c_int
      integer(c_int), intent(in) :: comm, name_length, path_length, global(3), offset(3), count(3), &
                                    element_size, type_code
      character(kind=c_char), dimension(*), intent(in) :: name, path
      type(*), dimension(*), intent(inout) :: block
      integer(c_int), intent(out) :: status
    end subroutine
  end interface

  interface videz5_pdump
    module procedure pdump_real64_1, pdump_real64_2, pdump_real64_3, pdump_int32_1, pdump_int32_2, pdump_int32_3
  end interface

  interface videz5_pread
    module procedure pread_real64_1, pread_real64_2, pread_real64_3, pread_int32_1, pread_int32_2, pread_int32_3
  end interface

contains

  subroutine pdump_real64_1(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: block(:)
    integer, intent(out), optional :: status
    call pdump_any(comm, file, path, block, shape(block), global, offset, VIDEZ5_DOUBLE, status)
  end subroutine
  subroutine pdump_real64_2(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: block(:, :)
    integer, intent(out), optional :: status
    call pdump_any(comm, file, path, block, shape(block), global, offset, VIDEZ5_DOUBLE, status)
  end subroutine
  subroutine pdump_real64_3(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    real(real64), intent(in) :: block(:, :, :)
    integer, intent(out), optional :: status
    call pdump_any(comm, file, path, block, shape(block), global, offset, VIDEZ5_DOUBLE, status)
  end subroutine
  subroutine pdump_int32_1(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: block(:)
    integer, intent(out), optional :: status
    call pdump_any(comm, file, path, block, shape(block), global, offset, VIDEZ5_INT, status)
  end subroutine
  subroutine pdump_int32_2(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: block(:, :)
    integer, intent(out), optional :: status
    call pdump_any(comm, file, path, block, shape(block), global, offset, VIDEZ5_INT, status)
  end subroutine
  subroutine pdump_int32_3(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(in) :: block(:, :, :)
    integer, intent(out), optional :: status
    call pdump_any(comm, file, path, block, shape(block), global, offset, VIDEZ5_INT, status)
  end subroutine

  subroutine pread_real64_1(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    real(real64), intent(inout) :: block(:)
    integer, intent(out), optional :: status
    call pread_any(comm, file, path, block, shape(block), global, offset, storage_size(block) / 8, &
                   VIDEZ5_DOUBLE, status)
  end subroutine
  subroutine pread_real64_2(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    real(real64), intent(inout) :: block(:, :)
    integer, intent(out), optional :: status
    call pread_any(comm, file, path, block, shape(block), global, offset, storage_size(block) / 8, &
                   VIDEZ5_DOUBLE, status)
  end subroutine
  subroutine pread_real64_3(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    real(real64), intent(inout) :: block(:, :, :)
    integer, intent(out), optional :: status
    call pread_any(comm, file, path, block, shape(block), global, offset, storage_size(block) / 8, &
                   VIDEZ5_DOUBLE, status)
  end subroutine
  subroutine pread_int32_1(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(inout) :: block(:)
    integer, intent(out), optional :: status
    call pread_any(comm, file, path, block, shape(block), global, offset, storage_size(block) / 8, &
                   VIDEZ5_INT, status)
  end subroutine
  subroutine pread_int32_2(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(inout) :: block(:, :)
    integer, intent(out), optional :: status
    call pread_any(comm, file, path, block, shape(block), global, offset, storage_size(block) / 8, &
                   VIDEZ5_INT, status)
  end subroutine
  subroutine pread_int32_3(comm, file, path, block, global, offset, status)
    integer, intent(in) :: comm, global(:), offset(:)
    character(len=*), intent(in) :: file, path
    integer(int32), intent(inout) :: block(:, :, :)
    integer, intent(out), optional :: status
    call pread_any(comm, file, path, block, shape(block), global, offset, storage_size(block) / 8, &
                   VIDEZ5_INT, status)
  end subroutine

  ! ---- the bodies

  ! Sizes, offsets and counts as the entries take them: three each, absent ones
  ! 0. An empty global array goes in as no sizes at all, which every rank then
  ! refuses together (its zero would otherwise read as an absent dimension).
  subroutine triples(sizes, global, offset, g, o, c)
    integer, intent(in) :: sizes(:), global(:), offset(:)
    integer, intent(out) :: g(3), o(3), c(3)
    g = 0
    o = 0
    c = 0
    g(:min(size(global), 3)) = global(:min(size(global), 3))
    o(:min(size(offset), 3)) = offset(:min(size(offset), 3))
    c(:size(sizes)) = sizes
    if (any(g(:size(sizes)) == 0)) g = 0
  end subroutine

  subroutine pdump_any(comm, file, path, block, sizes, global, offset, type_code, status)
    integer, intent(in) :: comm, sizes(:), global(:), offset(:), type_code
    character(len=*), intent(in) :: file, path
    type(*), dimension(*), intent(in) :: block
    integer, intent(out), optional :: status
    integer :: g(3), o(3), c(3), s
    call triples(sizes, global, offset, g, o, c)
    call ftoc_h5pdump_data(comm, file, len_trim(file), path, len_trim(path), block, g, o, c, type_code, s)
    if (present(status)) status = s
  end subroutine

  subroutine pread_any(comm, file, path, block, sizes, global, offset, element_size, type_code, status)
    integer, intent(in) :: comm, sizes(:), global(:), offset(:), element_size, type_code
    character(len=*), intent(in) :: file, path
    type(*), dimension(*), intent(inout) :: block
    integer, intent(out), optional :: status
    integer :: g(3), o(3), c(3), s
    call triples(sizes, global, offset, g, o, c)
    call ftoc_h5pread_data(comm, file, len_trim(file), path, len_trim(path), block, g, o, c, element_size, &
                           type_code, s)
    if (present(status)) then
      status = s
    else if (s /= VIDEZ5_OK) then
      error stop 'videz5_pread failed (see the line above); pass status= to handle it'
    end if
  end subroutine

end module videz5_mpi
