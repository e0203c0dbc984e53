// drelk: checks the COMMON blocks of COFF objects and libraries for size conflicts and
// clashes with procedure names.
#include <cstdio>
#include <cstdlib>

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
  // The -e and -o files stay open until the process ends; exit flushes them. The process
  // ends right after the run: what the run holds goes back with it, not piece by piece.
  run.release_at_end = false;
  std::exit(drelk::run_drelk(run, argc, argv));
}
