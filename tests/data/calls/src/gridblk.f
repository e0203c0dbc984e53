C     A block named like GRID, which is only passed as an argument, and like TAB, which
C     a routine of the inputs defines.
      SUBROUTINE SETG
      COMMON /GRID/ G(8)
      COMMON /TAB/ T(2)
      G(1) = 0.0
      T(1) = 0.0
      END
