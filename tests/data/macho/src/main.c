/* The main program of a small solver, in C as a Fortran compiler lays it out: every
   COMMON block is a tentative definition (a Mach-O common symbol, -fcommon), named in
   lower case with a trailing underscore; blank COMMON is __BLNK__. */
struct {
  int n;
  float x[200];
} mesh_; /* COMMON /MESH/ N, X(200): 804 bytes */

float const_[3];   /* COMMON /CONST/ PI, E, G */
double __BLNK__[25]; /* blank COMMON */
struct {
  double u[250];
} scruz_; /* COMMON /SCRUZ/ U(250) */

void solve_(void);
void report_(void);

static void setup(void) { /* a procedure of this object alone: still a procedure */
  mesh_.n = 200;
}

int main(void) {
  setup();
  solve_();
  report_();
  return 0;
}
