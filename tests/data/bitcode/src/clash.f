C     A COMMON block named like the procedure SOLVE.
      SUBROUTINE CLASH
      COMMON /SOLVE/ A(4)
      DOUBLE PRECISION A
      A(1) = 0.0D0
      END
