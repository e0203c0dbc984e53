C     Defines TAB and calls it: a clash with the block, not a possible one.
      REAL FUNCTION TAB(X)
      REAL X
      TAB = 2.0 * X
      END
      SUBROUTINE USET(X, Y)
      REAL X, Y, TAB
      Y = TAB(X)
      END
