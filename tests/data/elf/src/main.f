C     ROD: heat conduction along a rod, the main program. The mesh and the
C     work array are shared with the solver through COMMON blocks.
      PROGRAM ROD
      REAL X(100), T(100)
      INTEGER N
      COMMON /MESH/ X, T, N
      REAL WORK(50)
      COMMON // WORK
      REAL PI, E, G
      COMMON /CONST/ PI, E, G
      N = 100
      CALL SOLVE
      CALL OUTPUT(T, N)
      END
