C     Boundary values and the flux function. /OUTPUT/ is a COMMON block here,
C     while OUTPUT is also the name of a subroutine in report.f.
      REAL FUNCTION FLUX(XX)
      REAL XX
      REAL X(100), T(100)
      INTEGER N
      COMMON /MESH/ X, T, N
      INTEGER UNIT
      COMMON /OUTPUT/ UNIT
      FLUX = XX * T(1)
      END

      SUBROUTINE QUAD(F, A, B, S)
      REAL F, A, B, S
      EXTERNAL F
      S = 0.5 * (B - A) * (F(A) + F(B))
      END
