! BLOCK DATA: /BLK/ initialised with its 400 bytes.
block data init
  real :: x(100)
  common /blk/ x
  data x /100*0.5/
end block data init
