      SUBROUTINE EXTA
      COMMON /EXT/ N, X(10)
      N = 10
      X(N) = 1.0
      END
