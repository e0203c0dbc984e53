      SUBROUTINE INIT
      COMMON /BLK/ X(10)
      X(1) = 2.0
      END
      BLOCK DATA BOTH
      COMMON /BLK/ X(10)
      DATA X /10*1.0/
      END
