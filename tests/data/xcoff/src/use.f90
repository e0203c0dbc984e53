! Declares the blocks that consts.f90 initialises, with their own sizes.
subroutine use
  integer :: a
  common /ca/ a
  real(8) :: b(3)
  common /cb/ b
  a = int(b(1))
end subroutine use
