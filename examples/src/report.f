C     REPORT - print the run parameters.  /SETUP/ counts the runs and
C     keeps the report options; its name is also that of SUBROUTINE
C     SETUP, so both come out as the same external symbol.
      SUBROUTINE REPORT
      INTEGER IRUN, NOUT, ISTART
      INTEGER NSTEP, LUN, IVERB
      REAL DT, DX, ALPHA
      COMMON /PARAMS/ DT, DX, ALPHA, NSTEP
      COMMON /IOUNIT/ LUN, IVERB
      COMMON /SETUP/ IRUN, NOUT, ISTART
      IRUN = IRUN + 1
      IF (IVERB .GT. 0) WRITE (LUN, 100) IRUN, NSTEP, DT, DX, ALPHA
  100 FORMAT (' RUN ', I3, ': ', I6, ' STEPS, DT =', F8.5,
     &        ', DX =', F8.5, ', ALPHA =', F8.5)
      END
