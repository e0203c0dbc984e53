// Definitions less aligned than a COMMON declaration asks for (tests/data/alignment, see its
// build.sh): gfortran's COMMON /VEC/ of two REAL*8 values asks for 16 bytes; an assembler
// file defines it 4 bytes into its data section, a gfortran BLOCK DATA where it is asked.
#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"

namespace drelk::test {
namespace {

const std::string kAlignmentLine =
    "  alignment-smaller (note): a definition of the block is less aligned than a COMMON "
    "declaration asks for: where the block is placed as the definition is (an object's always: "
    "GNU ld warns of it for ELF, lld and mingw-w64's ld say nothing), code compiled for the "
    "larger alignment may fault in aligned vector loads and stores\n";

std::string note_line(const std::string& definition, int defined, const std::string& declaration,
                      int declared) {
  return "Drelk Note: Common Block vec_ is defined with alignment " + std::to_string(defined) +
         " in " + definition + ", smaller than the alignment " + std::to_string(declared) +
         " declared in " + declaration + "\n" + kAlignmentLine + "\n";
}

class Alignment : public DrelkRun {
 protected:
  void SetUp() override { copy_test_data("alignment", dir); }
};

// ELF: the COMMON's st_value against the definition's place (st_value 4 in a .data aligned
// to 8); a BLOCK DATA at the start of its .data of 16 is as aligned as asked.
TEST_F(Alignment, ElfDefinitionsAgainstTheAlignmentDeclared) {
  for (const std::string folder : {"x86_64/", "i386/"}) {
    const ProgramResult r = drelk({"-p", folder + "vecdecl.o", folder + "vecdef.o"});
    EXPECT_EQ(r.standard_output, note_line(folder + "vecdef.o", 4, folder + "vecdecl.o", 16) +
                                     summary_line(1, 2, 0, 0, 1))
        << folder;
    EXPECT_EQ(r.standard_error, "");
    EXPECT_EQ(r.exit_status, 0);
  }
  EXPECT_EQ(drelk({"-p", "x86_64/vecdecl.o", "x86_64/vecbd.o"}).standard_output,
            summary_line(1, 2, 0, 0, 0));
  // The full report keeps its listing and adds the note after it.
  EXPECT_EQ(drelk({"x86_64/vecdef.o", "x86_64/vecdecl.o"}).standard_output,
            "Common Block Analysis\n\n"
            "Common   Block   Initialized   Object File\n"
            "         Size \n\n"
            " vec_\n"
            "           16                  x86_64/vecdecl.o\n"
            "           16   I              x86_64/vecdef.o\n\n" +
                note_line("x86_64/vecdef.o", 4, "x86_64/vecdecl.o", 16) +
                summary_line(1, 2, 0, 0, 1) + "End of Analysis:  No problems encountered.\n");
}

// COFF: mingw-w64 gfortran asks for the alignment in .drectve (-aligncomm:"vec_",4), and a
// definition's is its offset within its section's IMAGE_SCN_ALIGN_*; Mach-O: the COMMON's
// n_desc, and the definition's address within its section's align.
TEST_F(Alignment, CoffAndMachODefinitionsAgainstTheAlignmentDeclared) {
  EXPECT_EQ(drelk({"-p", "mingw-x86_64/vecdecl.obj", "mingw-x86_64/vecdef.obj"}).standard_output,
            note_line("mingw-x86_64/vecdef.obj", 4, "mingw-x86_64/vecdecl.obj", 16) +
                summary_line(1, 2, 0, 0, 1));
  EXPECT_EQ(drelk({"-p", "mingw-x86_64/vecdecl.obj", "mingw-x86_64/vecbd.obj"}).standard_output,
            summary_line(1, 2, 0, 0, 0));
  const ProgramResult macho = drelk({"-p", "macho/vecdecl.o", "macho/vecdef.o"});
  EXPECT_EQ(macho.standard_output,
            "Drelk Note: Common Block _vec_ is defined with alignment 4 in macho/vecdef.o, smaller "
            "than the alignment 16 declared in macho/vecdecl.o\n" +
                kAlignmentLine + "\n" + summary_line(1, 2, 0, 0, 1));
  EXPECT_EQ(macho.standard_error, "");
}

// Compilers choose COMMON alignments differently (flang asks 8 where gfortran asks 16):
// declarations are never held against each other, and a definition is held against the
// declaration that asks the most.
TEST_F(Alignment, DeclarationsAreNeverComparedWithEachOther) {
  EXPECT_EQ(
      drelk({"-p", "x86_64/vecdecl.o", "x86_64/vecdecl-flang.o", "x86_64/vecbd.o"}).standard_output,
      summary_line(1, 3, 0, 0, 0));
  EXPECT_EQ(drelk({"-p", "x86_64/vecdecl-flang.o", "x86_64/vecdef.o", "x86_64/vecdecl.o"})
                .standard_output,
            note_line("x86_64/vecdef.o", 4, "x86_64/vecdecl.o", 16) + summary_line(1, 3, 0, 0, 1));
}

// A note: -w passes, --fail-on=note fails; a suppression accepts it, and a baseline tells a
// changed alignment.
TEST_F(Alignment, ANoteThatBaselinesAndSuppressionsKnow) {
  EXPECT_EQ(drelk({"-w", "-q", "x86_64/vecdecl.o", "x86_64/vecdef.o"}).exit_status, 0);
  EXPECT_EQ(drelk({"--fail-on=note", "-q", "x86_64/vecdecl.o", "x86_64/vecdef.o"}).exit_status, 1);
  dir.write("accepted.txt",
            "vec_ alignment-smaller  # the C side is aligned in the next release\n");
  const ProgramResult accepted = drelk(
      {"--fail-on=note", "--suppressions", "accepted.txt", "x86_64/vecdecl.o", "x86_64/vecdef.o"});
  EXPECT_EQ(accepted.exit_status, 0) << accepted.standard_output << accepted.standard_error;

  ASSERT_EQ(
      drelk({"-fjson", "-o", "base.json", "x86_64/vecdecl-flang.o", "x86_64/vecdef.o"}).exit_status,
      0);
  const ProgramResult same =
      drelk({"-p", "--baseline", "base.json", "x86_64/vecdecl-flang.o", "x86_64/vecdef.o"});
  EXPECT_NE(same.standard_output.find(kAlignmentLine + "  baseline: unchanged\n"),
            std::string::npos)
      << same.standard_output;
  const ProgramResult changed =
      drelk({"-p", "--baseline", "base.json", "x86_64/vecdecl.o", "x86_64/vecdef.o"});
  EXPECT_NE(changed.standard_output.find(kAlignmentLine +
                                         "  baseline: updated: alignments 4, 16 (were 4, 8); "
                                         "declared in other files\n"),
            std::string::npos)
      << changed.standard_output;
}

}  // namespace
}  // namespace drelk::test
