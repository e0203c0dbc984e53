// Every input the fuzzer found a fault with, replayed through the pipeline of the analysis
// fuzz target (fuzz/analyze_input.h) and through the built drelk; then each finding again as
// a readable object from the builder, with the diagnostics and report it must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/analyze_input.h"
#include "tests/e2e/e2e.h"
#include "tests/hostile/bounded_run.h"
#include "tests/support/coff_builder.h"

namespace drelk::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> regression_inputs() {
  const fs::path dir =
      fs::path(source_directory()) / "tests" / "data" / "fuzz-regressions" / "analyze";
  std::vector<fs::path> inputs;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

fuzz::AnalyzedInput analyze(const std::vector<uint8_t>& bytes) {
  return fuzz::analyze_input(bytes.data(), bytes.size());
}

TEST(FuzzRegressions, EveryCommittedInputIsAnalysedInProcess) {
  const std::vector<fs::path> inputs = regression_inputs();
  ASSERT_FALSE(inputs.empty());
  for (const fs::path& input : inputs) {
    const std::string bytes = read_file(input);
    // A crash or a sanitizer report ends the test binary here; the report must still come.
    const fuzz::AnalyzedInput result =
        fuzz::analyze_input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_NE(result.report.find("Common Block Analysis"), std::string::npos) << input;
  }
}

using FuzzRegressionsEndToEnd = DrelkRun;

TEST_F(FuzzRegressionsEndToEnd, BuiltDrelkFinishesOnEveryCommittedInput) {
  for (const fs::path& input : regression_inputs()) {
    fs::copy_file(input, dir.path() / "input.obj", fs::copy_options::overwrite_existing);
    const BoundedResult r = run_bounded(drelk_binary(), {"input.obj"}, dir.str(), Limits{});
    EXPECT_FALSE(r.timed_out) << input;
    // 0 or 255 (diagnostics reported); a signal shows as 128 + its number.
    EXPECT_TRUE(r.program.exit_status == 0 || r.program.exit_status == 255)
        << input << " ended with status " << r.program.exit_status << "\n"
        << r.program.standard_error;
    EXPECT_NE(r.program.standard_output.find("Common Block Analysis"), std::string::npos) << input;
  }
}

// empty-name-stored-first.bin: a symbol whose short name starts with a NUL has an empty
// name; when it was the first name the registry stored, the name store took a chunk that
// did not exist yet (a crash in a release build).
TEST(FuzzFindings, EmptyProcedureNameAsTheFirstNameStored) {
  const fuzz::AnalyzedInput r = analyze(
      CoffObject().section(".text", 4).function(std::string("\0f", 2), 1).common("_x_", 4).bytes());
  EXPECT_EQ(r.errors, "");
  EXPECT_NE(r.report.find(" _x_\n            4                  fuzz.obj\n"), std::string::npos)
      << r.report;
}

TEST(FuzzFindings, EmptyCommonBlockNameAsTheFirstNameStored) {
  // A long name whose string-table offset points at a NUL is empty too.
  const fuzz::AnalyzedInput r =
      analyze(CoffObject().common("", 8).name_offset(4).string_text(std::string(1, '\0')).bytes());
  EXPECT_EQ(r.errors, "");
  EXPECT_NE(r.report.find(" \n            8                  fuzz.obj\n"), std::string::npos)
      << r.report;
}

}  // namespace
}  // namespace drelk::test
