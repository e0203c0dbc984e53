! /BLK/ with 800 bytes, where sa.f90 declares 400; and blank COMMON.
subroutine sb
  real :: x(200)
  common /blk/ x
  real :: y(10)
  common // y
  x(1) = 2.0
  y(1) = 2.0
end subroutine sb
