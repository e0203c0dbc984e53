// drelk: checks the COMMON blocks of COFF objects and libraries for size conflicts and
// clashes with procedure names.
#include <cstdio>

#include "driver/driver.h"

int main(int argc, char** argv) {
  // A descriptor the caller left closed would be taken by the first file opened, and the
  // report or the diagnostics written into it.
  drelk::reserve_standard_descriptors();
  drelk::Run run;
  run.diagnostics.error_stream = drelk::file_text_stream(stderr);
  run.standard_output = drelk::file_text_stream(stdout);
  run.standard_error = drelk::file_text_stream(stderr);
  run.output_stream = drelk::file_text_stream(stdout);
  // The -e and -o files stay open until the process ends; exit flushes them.
  return drelk::run_drelk(run, argc, argv);
}
