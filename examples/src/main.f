C     HEAT1D - explicit finite-difference solution of the 1-D heat
C     equation on a rod held at fixed end temperatures.
C
C     Grid and temperatures live in /GRID/, run parameters in /PARAMS/
C     (initialised by BLOCK DATA PDATA), the output unit in /IOUNIT/
C     (shared with the C timing routine) and scratch space in blank
C     COMMON.
      PROGRAM HEAT1D
      INTEGER N, LUN, IVERB, NSTEP, ISTEP
      REAL T(100), X(100), WORK(100)
      REAL DT, DX, ALPHA, ELAPS
      COMMON /GRID/ T, X, N
      COMMON /PARAMS/ DT, DX, ALPHA, NSTEP
      COMMON /IOUNIT/ LUN, IVERB
      COMMON WORK
      CALL SETUP
      DO 10 ISTEP = 1, NSTEP
         CALL STEP
   10 CONTINUE
      CALL WCLOCK(ELAPS)
      CALL REPORT
      WRITE (LUN, 100) T(N/2), ELAPS
  100 FORMAT (' MID-ROD TEMPERATURE ', F10.4, '   CPU ', F8.3)
      END
