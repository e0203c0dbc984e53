C     Per-thread scratch space: a THREADPRIVATE COMMON block.
      SUBROUTINE SCRAT
      INTEGER K(4)
      COMMON /SCR/ K
!$OMP THREADPRIVATE(/SCR/)
      K(1) = 1
      END
