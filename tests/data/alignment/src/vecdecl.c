/* COMMON /VEC/ of two REAL*8 values as a C tentative definition (-fcommon): clang asks
   for 16-byte alignment on Mach-O, in n_desc. */
double vec_[2];
void usev_(void) { vec_[0] += vec_[1]; }
