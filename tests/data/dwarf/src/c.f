      SUBROUTINE SC
      COMMON /Q/ X(10)
      X(1) = 1.0
      END
