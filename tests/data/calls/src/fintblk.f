C     A block named like the library function FINT, as CERNLIB's /FINT/ is.
      SUBROUTINE SETF
      COMMON /FINT/ A(4), N
      A(1) = 1.0
      N = 4
      END
