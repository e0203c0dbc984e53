/* Written for a finer mesh: /MESH/ and /SCRUZ/ are larger here than elsewhere. */
struct {
  int n;
  float x[240];
} mesh_; /* COMMON /MESH/ N, X(240): 964 bytes */

float const_[3];
double __BLNK__[25];
struct {
  double u[1250];
} scruz_; /* COMMON /SCRUZ/ U(1250) */

extern int nsteps_; /* an external reference: declares nothing */

void solve_(void) {
  for (int i = 0; i < mesh_.n; ++i) mesh_.x[i] = const_[0] * (float)scruz_.u[i % 250] + nsteps_;
  __BLNK__[0] = mesh_.x[0];
}
