/* BLOCK DATA CONSTS: the initialised definition of /CONST/, with an older layout of two
   values. Mach-O records no size for it. */
float const_[2] = {3.14159f, 2.71828f};
int nsteps_ = 100; /* initialised data that no object declares as COMMON */
