// End-to-end tests: the built drelk runs in a fresh temporary directory, and its exact
// standard output, standard error and exit status are compared.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace drelk::test {

// The drelk under test and the source tree (for the examples and golden files).
std::string drelk_binary();
std::string source_directory();

// The text of a golden file under tests/golden/.
std::string golden(const std::string& name);

// Text that drelk wrote to its standard output, its standard error or an -e or -o file,
// with the line ends of the expectations: on Windows the C runtime's text mode writes
// each line feed as carriage return + line feed, so there every line feed must come as
// that pair (the test fails on one that does not) and is given back alone. Elsewhere the
// text is returned as it is. `what` names the text in a failure.
std::string from_text_mode(const std::string& text, const std::string& what);

// The test's directory. read() gives back a file that drelk wrote, through from_text_mode,
// so that one set of expectations serves the Linux and the Windows build.
// An object that declares one COMMON block of `size` bytes.
std::vector<uint8_t> object_declaring(const std::string& block, uint32_t size);

// The line under a finding's error line, for the classes the plain reports show. Inline, so
// that they are made before the expectations of any test file that builds on them (a
// definition in e2e.cpp left them empty where the linker put that file last).
inline const std::string kExtentLine =  // sizes differ, layouts not compared
    "  extent (warning): sizes differ and not every layout was compared (-m, objects built with "
    "-g): GNU ld and lld keep the largest size; Apple's ld64 since Xcode 15 and MSVC's LINK may "
    "keep another, which larger declarations overrun\n";
inline const std::string kInitialisedSmallerLine =
    "  initialised-smaller (error): an initialised definition (BLOCK DATA) is smaller than a "
    "declaration; it decides the block's size on every linker, so routines that declare more "
    "write past its end into other data\n";
inline const std::string kProcedureClashLine =
    "  procedure-clash (error): a procedure has the block's name: the linker takes both for one "
    "symbol, so the block's storage overlays code or a call jumps into data\n";

// "Summary: ..." with these counts.
std::string summary_line(size_t blocks, size_t objects, size_t errors, size_t warnings,
                         size_t notes);

// The full report of one block declared with one size by each of `paths`, in order.
std::string report_of(const std::string& block, uint32_t size,
                      const std::vector<std::string>& paths);

// One line of a report's listing: block, size, 'I' or ' ', object path.
using ReportEntry = std::tuple<std::string, uint64_t, char, std::string>;

// The entries of a full report, for comparisons with what another reader shows.
std::multiset<ReportEntry> report_entries(const std::string& report);

// The path of `tool` on PATH, or empty.
std::string find_tool(const std::string& tool);

// Copies the files of tests/data/<name> (its sources under src/ left out) into `dir`.
void copy_test_data(const std::string& name, const TempDir& dir);

class RunDirectory : public TempDir {
 public:
  std::string read(const std::string& relative) const;
};

class DrelkRun : public ::testing::Test {
 protected:
  // Runs drelk in the test's directory; argv[0] is "drelk", as a user on PATH sees it.
  // Both output streams come back through from_text_mode.
  ProgramResult drelk(const std::vector<std::string>& arguments) const;
  ProgramResult drelk_as(const std::string& argv0, const std::vector<std::string>& arguments) const;
  // Runs drelk with -j1, -j2 and -j8 before the arguments, and fails the test unless every
  // count of jobs gives the same bytes on both streams and the same exit status (a document
  // that shows the command line is compared with the count taken out). Returns the -j1 run.
  ProgramResult drelk_at_every_job_count(const std::vector<std::string>& arguments) const;

  RunDirectory dir;
};

}  // namespace drelk::test
