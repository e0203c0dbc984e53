C     Initialises COMMON /VEC/ in a BLOCK DATA: gfortran places it at the start of .data,
C     aligned as the declarations ask.
      BLOCK DATA VECBD
      DOUBLE PRECISION D
      COMMON /VEC/ D(2)
      DATA D /1D0, 2D0/
      END
