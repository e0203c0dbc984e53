C     Calls the function FINT, which comes from a library.
      SUBROUTINE USEF(X, Y)
      REAL X, Y, FINT
      EXTERNAL FINT
      Y = FINT(X)
      END
