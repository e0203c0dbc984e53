      SUBROUTINE SB
      COMMON /Q/ IQ(10)
      INTEGER NW
      EQUIVALENCE (NW, IQ(2))
      NW = 2
      END
