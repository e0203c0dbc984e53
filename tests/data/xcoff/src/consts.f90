! BLOCK DATA of two blocks: flang puts both in one .data csect, a label
! each, /CA/'s 4 bytes padded to 8 before /CB/.
block data consts
  integer :: a
  common /ca/ a
  real(8) :: b(3)
  common /cb/ b
  data a /1/, b /1.0d0, 2.0d0, 3.0d0/
end block data consts
