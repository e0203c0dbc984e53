C     PDATA - initial values of the run parameters in /PARAMS/.
C     R = ALPHA*DT/DX**2 = 0.4, inside the FTCS stability limit.
      BLOCK DATA PDATA
      INTEGER NSTEP
      REAL DT, DX, ALPHA
      COMMON /PARAMS/ DT, DX, ALPHA, NSTEP
      DATA DT, DX, ALPHA, NSTEP / 0.001, 0.01, 0.04, 500 /
      END
