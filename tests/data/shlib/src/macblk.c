/* A dylib that defines the block a Fortran program declares as COMMON /SHARED/, a counter,
   and a procedure. */
struct shared { int n; double x[4]; };
struct shared shared_ = {4, {0, 0, 0, 0}};
int counter_ = 0;
int bump_(void) { return ++counter_; }
