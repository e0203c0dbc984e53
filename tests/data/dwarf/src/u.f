      SUBROUTINE U
      COMMON /BLK/ X(20)
      X(20) = 0.0
      END
