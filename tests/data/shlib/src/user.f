      subroutine user
      real*8 x(10)
      integer n
      common /shared/ x, n
      integer m(4)
      common /vblk/ m
      n = 10
      x(10) = 1.0d0
      m(4) = 3
      end
