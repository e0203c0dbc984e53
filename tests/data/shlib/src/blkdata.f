      block data blkinit
      real*8 x(4)
      integer n
      common /shared/ x, n
      data n /4/
      end
