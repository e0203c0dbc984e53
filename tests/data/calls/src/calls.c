/* Calls fint_ as a Fortran caller does, for targets without a Fortran compiler here. */
extern float fint_(float *x);
float usef_(float *x) { return fint_(x); }
