C     Declares /BLK/ with 400 bytes, and blank COMMON with 12.
      SUBROUTINE SA
      COMMON /BLK/ X(100)
      COMMON // Y(3)
      REAL X, Y
      X(1) = 1.0
      Y(1) = X(1)
      END
