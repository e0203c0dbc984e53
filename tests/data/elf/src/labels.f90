! Compiled with flang: its string literals become weak objects in COMDAT
! groups, which are no COMMON blocks.
subroutine label
  real :: x(100), t(100)
  integer :: n
  common /mesh/ x, t, n
  print *, 'rod temperatures'
end subroutine label
