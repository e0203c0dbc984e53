C     Declares COMMON /VEC/ of two REAL*8 values: gfortran asks for 16-byte alignment
C     (st_value 16 on x86-64), flang for 8.
      SUBROUTINE USEV
      DOUBLE PRECISION D
      COMMON /VEC/ D(2)
      D(1) = D(1) + D(2)
      END
