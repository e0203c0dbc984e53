      SUBROUTINE EXTB
      COMMON /EXT/ N, X(5)
      X(N) = 2.0
      END
