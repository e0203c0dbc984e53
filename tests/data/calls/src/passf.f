C     Calls FINT again, and passes the function GRID as an argument without calling it.
      SUBROUTINE PASSF(X, Y)
      REAL X, Y, FINT, GRID
      EXTERNAL FINT, GRID
      Y = FINT(X)
      CALL APPLY(GRID, X)
      END
