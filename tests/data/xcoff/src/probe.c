/* 32-bit XCOFF from C: tentative definitions become COMMON csects with
   -fcommon; an initialised array is read-write data with its length; a
   function has a descriptor named like it. */
int blk_[100];
double scale_[4];
int table_[3] = {1, 2, 3};
static int hidden_[8];
int a_rather_long_block_[5];
int *probe_(void) { return hidden_; }
