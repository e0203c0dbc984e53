// Blocks named like procedures that the objects call (tests/data/calls, see its build.sh):
// CERNLIB's /FINT/ against its library function FINT in each format that records calls,
// a procedure that is only passed as an argument (GRID), and one that an input defines
// (TAB), which stays a procedure clash.
#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"

namespace drelk::test {
namespace {

const std::string kPossibleClashLine =
    "  possible-procedure-clash (warning): a procedure that the objects call has the block's name "
    "and comes from a library not read: linked together, the block's storage overlays its code "
    "or the call jumps into data\n";

class ProcedureCalls : public DrelkRun {
 protected:
  void SetUp() override { copy_test_data("calls", dir); }
};

// gfortran's calls are PLT relocations on x86-64 and i386, mingw-w64's undefined symbols
// of function type; the argument GRID is neither (COFF declares it as a size-0 reference).
TEST_F(ProcedureCalls, CallsOfALibraryFunctionInEveryFormat) {
  for (const std::string folder : {"x86_64", "i386", "mingw-x86_64"}) {
    const std::string ext = folder == "mingw-x86_64" ? ".obj" : ".o";
    const std::string f = folder + "/";
    const ProgramResult r =
        drelk({"-p", f + "fintblk" + ext, f + "usef" + ext, f + "passf" + ext, f + "tab" + ext});
    EXPECT_EQ(r.standard_output,
              "Drelk Error: Common Block fint_ may conflict with procedure fint_, which no "
              "input defines, called in " +
                  f + "usef" + ext + " and 1 more object\n" + kPossibleClashLine +
                  "\nSummary: 1 block in 4 objects; 0 errors, 1 warning, 0 notes\n")
        << folder;
    EXPECT_EQ(r.standard_error, "") << folder;
    EXPECT_EQ(r.exit_status, 0) << folder;
    // A definition among the inputs makes it a procedure clash alone; a procedure passed as
    // an argument is no call.
    const ProgramResult defined =
        drelk({"-p", f + "gridblk" + ext, f + "passf" + ext, f + "tab" + ext});
    EXPECT_EQ(defined.standard_output.find("may conflict"), std::string::npos) << folder;
    EXPECT_NE(defined.standard_output.find("Common Block tab_ conflicts with procedure tab_ in " +
                                           f + "tab" + ext + "\n" + kProcedureClashLine),
              std::string::npos)
        << defined.standard_output;
  }
  // AArch64: a branch-and-link relocation (clang, from C).
  EXPECT_EQ(drelk({"-p", "aarch64/fintblk.o", "aarch64/calls.o"}).standard_output,
            "Drelk Error: Common Block fint_ may conflict with procedure fint_, which no input "
            "defines, called in aarch64/calls.o\n" +
                kPossibleClashLine + "\n" + summary_line(1, 2, 0, 1, 0));
}

// A warning: -w fails on it, --fail-on=error does not; a suppression and a baseline know
// its kind.
TEST_F(ProcedureCalls, AWarningThatBaselinesAndSuppressionsKnow) {
  const std::vector<std::string> inputs{"x86_64/fintblk.o", "x86_64/usef.o"};
  std::vector<std::string> arguments{"-w", "-q"};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());
  EXPECT_EQ(drelk(arguments).exit_status, 1);
  arguments[0] = "--fail-on=error";
  EXPECT_EQ(drelk(arguments).exit_status, 0);

  dir.write("accepted.txt", "fint_ possible-procedure-clash  # FINT is renamed in the library\n");
  std::vector<std::string> suppressed{"-w", "--suppressions", "accepted.txt", "-p"};
  suppressed.insert(suppressed.end(), inputs.begin(), inputs.end());
  const ProgramResult accepted = drelk(suppressed);
  EXPECT_EQ(accepted.exit_status, 0) << accepted.standard_output << accepted.standard_error;
  EXPECT_EQ(accepted.standard_error, "");

  std::vector<std::string> json{"-fjson", "-o", "base.json"};
  json.insert(json.end(), inputs.begin(), inputs.end());
  ASSERT_EQ(drelk(json).exit_status, 0);
  std::vector<std::string> compared{"-w", "--baseline", "base.json", "-p"};
  compared.insert(compared.end(), inputs.begin(), inputs.end());
  const ProgramResult known = drelk(compared);
  EXPECT_EQ(known.exit_status, 0) << known.standard_output << known.standard_error;
  EXPECT_NE(known.standard_output.find(kPossibleClashLine + "  baseline: unchanged\n"),
            std::string::npos)
      << known.standard_output;
}

}  // namespace
}  // namespace drelk::test
