/* /BLK/ again, with 800 bytes, and a function named like a COMMON block of
   probe.c. */
int blk_[200];
void scale_(void) {}
