C     SOLVE relaxes the temperatures. It was written for a finer mesh of 120
C     points: its /MESH/ is larger than the one of the main program. FLUX is
C     passed to the quadrature routine, so it is only referred to here.
      SUBROUTINE SOLVE
      REAL X(120), T(120)
      INTEGER N
      COMMON /MESH/ X, T, N
      REAL WORK(50)
      COMMON // WORK
      REAL PI, E, G
      COMMON /CONST/ PI, E, G
      EXTERNAL FLUX
      REAL Q
      CALL QUAD(FLUX, X(1), X(N), Q)
      T(1) = Q * PI
      END
