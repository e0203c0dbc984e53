! Arrays with bounds of their own, LOGICAL, COMPLEX, a sequence type, and blank COMMON
! of another extent.
subroutine grid
  type point
    sequence
    real(8) :: x, y
  end type point
  integer(2) :: nx
  logical :: ok
  complex(8) :: z
  real(4) :: field(-2:2, 3)
  character(len=4) :: tags(2)
  type(point) :: origin
  common /mesh/ nx, ok, z, field, tags, origin
  real(8) :: scrat(50)
  common scrat
  nx = 1
end subroutine grid
