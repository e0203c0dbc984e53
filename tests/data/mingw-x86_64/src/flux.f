C     FLUX and the quadrature routine that DRIVE hands it to.
      REAL FUNCTION FLUX(XX)
      REAL XX
      REAL T(100), X(100)
      INTEGER N
      COMMON /GRID/ T, X, N
      FLUX = XX * T(1)
      END

      SUBROUTINE QUAD(F, A, B, S)
      REAL F, A, B, S
      EXTERNAL F
      S = 0.5 * (B - A) * (F(A) + F(B))
      END
