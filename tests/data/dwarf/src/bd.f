      BLOCK DATA BD
      COMMON /BLK/ X(10)
      DATA X /10*1.0/
      END
