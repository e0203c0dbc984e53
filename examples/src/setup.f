C     SETUP - lay out the grid and the initial temperature profile.
C     The rod starts at 20 degrees with its ends held at 100 and 0.
      SUBROUTINE SETUP
      INTEGER N, LUN, IVERB, NSTEP, I
      REAL T(100), X(100)
      REAL DT, DX, ALPHA, R
      COMMON /GRID/ T, X, N
      COMMON /PARAMS/ DT, DX, ALPHA, NSTEP
      COMMON /IOUNIT/ LUN, IVERB
      LUN = 6
      IVERB = 1
      N = 100
      R = ALPHA * DT / (DX * DX)
      IF (R .GT. 0.5) WRITE (LUN, *) 'SETUP: UNSTABLE, R =', R
      DO 10 I = 1, N
         X(I) = REAL(I - 1) * DX
         T(I) = 20.0
   10 CONTINUE
      T(1) = 100.0
      T(N) = 0.0
      END
