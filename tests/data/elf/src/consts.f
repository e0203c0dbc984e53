C     The constants, initialised once. This BLOCK DATA still has the /CONST/
C     of an older version, without G: it initialises 8 bytes where the other
C     units declare 12, which only the sizes of ELF definitions show.
      BLOCK DATA CONSTS
      REAL PI, E
      COMMON /CONST/ PI, E
      DATA PI /3.14159/, E /2.71828/
      END
