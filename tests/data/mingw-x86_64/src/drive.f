C     DRIVE integrates the heat flux over the rod: FLUX is passed to the
C     quadrature routine as an argument, so the compiler refers to it by an
C     undefined external symbol.
      SUBROUTINE DRIVE(TOTAL)
      REAL TOTAL
      EXTERNAL FLUX
      REAL T(100), X(100)
      INTEGER N
      COMMON /GRID/ T, X, N
      CALL QUAD(FLUX, X(1), X(N), TOTAL)
      END
