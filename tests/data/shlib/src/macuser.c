/* A program object that declares the block larger, as a Fortran COMMON would (-fcommon). */
struct shared { int n; double x[10]; };
struct shared shared_;
int use(void) { return shared_.n; }
