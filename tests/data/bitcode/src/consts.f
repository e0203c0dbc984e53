C     Initialises /CONSTS/: a BLOCK DATA defines the block's data.
      BLOCK DATA BDCON
      COMMON /CONSTS/ PI, E, N
      REAL PI, E
      INTEGER N
      DATA PI, E, N / 3.14159, 2.71828, 7 /
      END
