/* A unit with a long name: its COMMON /OUTPUT/ has the name of the procedure OUTPUT. */
struct {
  int n;
  float x[200];
} mesh_;
int output_; /* COMMON /OUTPUT/ IUNIT */

void boundary_conditions_(void) {
  mesh_.x[0] = 0.0f;
  mesh_.x[mesh_.n - 1] = 0.0f;
  output_ = 6;
}
