// End-to-end tests: the built drelk runs in a fresh temporary directory, and its exact
// standard output, standard error and exit status are compared.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace drelk::test {

// The drelk under test and the source tree (for the examples and golden files).
std::string drelk_binary();
std::string source_directory();

// The text of a golden file under tests/golden/.
std::string golden(const std::string& name);

class DrelkRun : public ::testing::Test {
 protected:
  // Runs drelk in the test's directory; argv[0] is "drelk", as a user on PATH sees it.
  ProgramResult drelk(const std::vector<std::string>& arguments) const;
  ProgramResult drelk_as(const std::string& argv0, const std::vector<std::string>& arguments) const;

  TempDir dir;
};

}  // namespace drelk::test
