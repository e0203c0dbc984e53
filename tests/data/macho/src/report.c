/* SUBROUTINE OUTPUT and the report: OUTPUT clashes with the COMMON block /OUTPUT/. */
void write_real_(const float* value); /* an external procedure */

float const_[3];

void output_(void) {
  write_real_(&const_[0]);
}

void report_(void) {
  output_();
}
