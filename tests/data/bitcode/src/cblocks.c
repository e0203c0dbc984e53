/* A C unit laying out data as a Fortran compiler lays out COMMON blocks:
   tentative definitions with -fcommon are common symbols. */
float blk_[100];              /* /BLK/ with 400 bytes, as sa.f declares it */
double state_[16];            /* /STATE/ with 128 bytes */
int cinit_[3] = {1, 2, 3};    /* initialised data: a definition of /CINIT/ */

void report_(void) {
  state_[0] = blk_[0] + cinit_[0];
}
