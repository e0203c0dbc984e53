C     /PAIR/ as one REAL*8 here, as two INTEGERs in PAIRS: equal sizes, different types.
      SUBROUTINE PAIRD
      REAL*8 D
      COMMON /PAIR/ D
      D = 0.0D0
      END
      SUBROUTINE PAIRS
      INTEGER I, J
      COMMON /PAIR/ I, J
      I = J
      END
