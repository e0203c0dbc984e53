// Runs a program the way a user at a terminal would, in a working directory of the
// test's own, and collects exactly what it wrote and how it ended.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace drelk::test {

struct ProgramResult {
  std::string standard_output;
  std::string standard_error;
  int exit_status = -1;  // as a POSIX shell sees it: 0 to 255
};

// Runs `program` with `arguments` (argv[0] is `program` unless `argv0` is given) in
// `directory`, with no standard input.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& directory, const std::string* argv0 = nullptr);

#if !defined(_WIN32)
// Reads a child's standard output and standard error pipes until both end, or until
// `deadline`; closes both. False when the deadline came first.
bool collect_output(
    int output_pipe, int error_pipe, ProgramResult& result,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
#endif

}  // namespace drelk::test
