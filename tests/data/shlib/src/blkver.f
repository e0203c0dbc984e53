      block data verinit
      integer m(2)
      common /vblk/ m
      data m /1, 2/
      end
