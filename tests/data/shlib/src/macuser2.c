/* A second program object that declares the block with another size (-fcommon), so that
   the sizes differ beside a library that records none. */
struct shared { int n; double x[4]; };
struct shared shared_;
int peek(void) { return shared_.n; }
