#include "tests/e2e/e2e.h"

#include <cstdlib>

namespace drelk::test {

std::string drelk_binary() {
  const char* override_path = std::getenv("DRELK_UNDER_TEST");
  return override_path != nullptr ? override_path : DRELK_BINARY;
}

std::string source_directory() {
  return DRELK_SOURCE_DIR;
}

std::string golden(const std::string& name) {
  return read_file(std::filesystem::path(source_directory()) / "tests" / "golden" / name);
}

ProgramResult DrelkRun::drelk(const std::vector<std::string>& arguments) const {
  return drelk_as("drelk", arguments);
}

ProgramResult DrelkRun::drelk_as(const std::string& argv0,
                                 const std::vector<std::string>& arguments) const {
  return run_program(drelk_binary(), arguments, dir.str(), &argv0);
}

}  // namespace drelk::test
