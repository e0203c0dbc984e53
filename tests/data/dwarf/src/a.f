      SUBROUTINE SA
      COMMON /Q/ IQ(10)
      IQ(1) = 1
      END
