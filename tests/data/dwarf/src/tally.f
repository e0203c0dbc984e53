C     The reference declaration of /TALLY/: a count, ten REAL*8 weights and a label.
      SUBROUTINE TALLY1(K)
      INTEGER K
      INTEGER N
      REAL*8 W(10)
      CHARACTER*8 LABEL
      COMMON /TALLY/ N, W, LABEL
      N = K
      W(1) = 1.0D0
      LABEL = 'first'
      END
C     A second routine of the same file declares /TALLY/ alike, and blank COMMON.
      SUBROUTINE TALLY2
      INTEGER N
      REAL*8 W(10)
      CHARACTER*8 LABEL
      COMMON /TALLY/ N, W, LABEL
      REAL*8 SCRAT(0:99)
      COMMON SCRAT
      SCRAT(0) = W(2)
      END
