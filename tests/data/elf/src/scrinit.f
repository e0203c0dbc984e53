C     The BLOCK DATA that initialises the THREADPRIVATE block of threads.f.
      BLOCK DATA SCRINI
      INTEGER K(4)
      COMMON /SCR/ K
!$OMP THREADPRIVATE(/SCR/)
      DATA K /4*0/
      END
