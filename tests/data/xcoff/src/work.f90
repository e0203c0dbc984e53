! A subroutine named like the COMMON block /WORK/ of sa.f90, with a blank
! COMMON of another size than sb.f90's.
subroutine work
  real :: y(20)
  common // y
  y(1) = 3.0
end subroutine work
