! Legacy code: no interface module, external calls with explicit lengths, the
! same entry point called with double and integer arrays (built with
! -fallow-argument-mismatch, as such code is).
program test_legacy
  implicit none
  external :: ftoc_h5dump_data, ftoc_h5read_data, ftoc_printh5_int
  double precision :: a(3, 2), a_back(3, 2) = 0, x(4) = [1, 2, 3, 4]
  integer :: k(4) = [10, 20, 30, 40], k_back(4) = 0, i

  a = reshape([(dble(i), i = 1, 6)], shape(a))
  call ftoc_h5dump_data('legacy.h5', 9, 'old/a', 5, a, 3, 2, 0, 0, 0)
  call ftoc_h5dump_data('legacy.h5', 9, 'old/k', 5, k, 4, 0, 0, 1, 0)
  call ftoc_printh5_int('legacy.h5', 9, 'old/plot', 8, k, x, x, 4, 1, 'counts', 6, 'i', 1, 'n', 1)
  call ftoc_h5read_data('legacy.h5', 9, 'old/a', 5, a_back, 0, 0)
  call ftoc_h5read_data('legacy.h5', 9, 'old/k', 5, k_back, 1, 0)
  if (any(a_back /= a) .or. any(k_back /= k)) then
    print '(a)', 'FAIL: legacy round trip'
    error stop 1
  end if
  print '(a)', 'legacy ok'
end program test_legacy
