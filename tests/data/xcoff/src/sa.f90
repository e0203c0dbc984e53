! /BLK/ with 400 bytes, and /WORK/, a COMMON block named like the
! subroutine of work.f90.
subroutine sa
  real :: x(100)
  common /blk/ x
  integer :: w
  common /work/ w
  x(1) = 1.0
  w = 1
end subroutine sa
