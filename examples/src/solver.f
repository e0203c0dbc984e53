C     STEP - advance the temperatures one time step (FTCS scheme).
C     Blank COMMON holds the new profile while it is being built.
C
C     NOTE: /GRID/ here was enlarged to 120 points and the other
C     files were never changed to match; X and N no longer line up.
      SUBROUTINE STEP
      INTEGER N, NSTEP, I
      REAL T(120), X(120), WORK(100)
      REAL DT, DX, ALPHA, R
      COMMON /GRID/ T, X, N
      COMMON /PARAMS/ DT, DX, ALPHA, NSTEP
      COMMON WORK
      R = ALPHA * DT / (DX * DX)
      DO 10 I = 2, N - 1
         WORK(I) = T(I) + R * (T(I+1) - 2.0 * T(I) + T(I-1))
   10 CONTINUE
      DO 20 I = 2, N - 1
         T(I) = WORK(I)
   20 CONTINUE
      END
