C     OUTPUT writes the temperatures; its name is also a COMMON block's.
      SUBROUTINE OUTPUT(T, N)
      INTEGER N
      REAL T(N)
      WRITE (*, *) T
      END
