C     A procedure whose name a COMMON block also has (see clash.f), and a
C     reader of /CONSTS/ with the size the BLOCK DATA gives it.
      SUBROUTINE SOLVE
      COMMON /CONSTS/ PI, E, N
      REAL PI, E
      INTEGER N
      N = N + 1
      END
