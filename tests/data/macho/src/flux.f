C     The flux routine of the solver, compiled by flang: /SCRUZ/ as the
C     coarse mesh has it, and a BLOCK DATA that initialises /STEPS/.
      SUBROUTINE FLUX
      COMMON /SCRUZ/ U(250)
      DOUBLE PRECISION U
      COMMON /STEPS/ NSTEP, DT
      DO 10 I = 1, 250
        U(I) = U(I) * DT
   10 CONTINUE
      END

      BLOCK DATA STEPS0
      COMMON /STEPS/ NSTEP, DT
      DATA NSTEP, DT /100, 0.01/
      END
