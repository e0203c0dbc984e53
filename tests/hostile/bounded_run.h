// Runs drelk the way the hostile-input tests need: under resource limits (the address space
// limit that `ulimit -v` sets, a limit on open files), with a deadline after which it is
// killed, so that a hang fails the test instead of the suite, and with the peak memory and
// the time it took. POSIX only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace drelk::test {

struct Limits {
  uint64_t address_space_bytes = 0;  // RLIMIT_AS, as `ulimit -v` sets it; 0 for none
  uint64_t open_files = 0;           // RLIMIT_NOFILE; 0 leaves it as it is
  double deadline_seconds = 60;      // killed with SIGKILL after this
  // Runs the program as the unprivileged user "nobody" when the tests run as root, so that
  // file permissions apply to it.
  bool drop_root = false;
};

struct BoundedResult {
  ProgramResult program;
  bool timed_out = false;
  double seconds = 0;         // processor time (user and system) of the child
  double wall_seconds = 0;    // on the wall clock, until it ended or was killed
  uint64_t peak_rss_kib = 0;  // the child's maximum resident set, from wait4
};

BoundedResult run_bounded(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& directory, const Limits& limits);

// True when DRELK_UNDER_TEST names a wrapper (valgrind) or drelk was built with
// AddressSanitizer: their shadow memory needs far more address space than drelk itself, and
// they run many times slower, so the limits and timings below apply to a plain drelk only.
bool drelk_is_instrumented();

// The user ID that drop_root switches to.
inline constexpr unsigned kNobody = 65534;

bool running_as_root();

}  // namespace drelk::test
