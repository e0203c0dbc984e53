C     Declares /BLK/ with 800 bytes, and blank COMMON with 40.
      SUBROUTINE SB
      COMMON /BLK/ X(200)
      COMMON // Y(10)
      REAL X, Y
      X(1) = 2.0
      Y(1) = X(1)
      CALL SOLVE
      END
