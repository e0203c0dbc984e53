// drelk -m on objects of gfortran -g (tests/data/dwarf, tests/data/macho/dwarf): the
// layouts listed under each inconsistent block, the layout error of equal sizes, and
// nothing of it without -m.
#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"

namespace drelk::test {
namespace {

const char* const kObjects[] = {"clash.o",  "grid.o",  "nodebug.o",
                                "shrunk.o", "tally.o", "tally4.o"};

std::vector<uint8_t> data_file(const std::string& relative) {
  const std::string text =
      read_file(std::filesystem::path(source_directory()) / "tests" / "data" / "dwarf" / relative);
  return std::vector<uint8_t>(text.begin(), text.end());
}

class Layouts : public DrelkRun {
 protected:
  void SetUp() override {
    for (const char* object : kObjects)
      dir.write(object, data_file(std::string("x86_64/") + object));
  }
};

TEST_F(Layouts, ListedUnderEachInconsistentBlock) {
  const ProgramResult r = drelk({"-m", "*.o"});
  EXPECT_EQ(r.standard_output, golden("dwarf-layouts.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  const ProgramResult p = drelk({"-m", "-p", "*.o"});
  EXPECT_EQ(p.standard_output, golden("dwarf-layouts-problems.txt"));
}

// Equal sizes with other members are an error only -m can see: -w fails on it then.
TEST_F(Layouts, EqualSizesWithOtherMembersFailOnlyUnderM) {
  const ProgramResult plain = drelk({"-w", "clash.o"});
  EXPECT_EQ(plain.exit_status, 0);
  EXPECT_EQ(plain.standard_output.find("layout"), std::string::npos) << plain.standard_output;
  const ProgramResult m = drelk({"-w", "-m", "clash.o"});
  EXPECT_EQ(m.exit_status, 1);
  EXPECT_NE(m.standard_output.find("Drelk Error: Common Block pair_ is declared with different "
                                   "layouts\n"),
            std::string::npos)
      << m.standard_output;
}

// A damaged .debug_info is said once; the symbols are read and reported as without -m.
TEST_F(Layouts, DamagedDebugInformationIsOneDiagnostic) {
  std::vector<uint8_t> bytes = data_file("x86_64/tally.o");
  // The first unit's length, at the start of .debug_info (found by its version and unit
  // type after it), claims more than the section holds.
  const uint8_t header[] = {0x05, 0x00, 0x01, 0x08};
  const auto at = std::search(bytes.begin(), bytes.end(), std::begin(header), std::end(header));
  ASSERT_NE(at, bytes.end());
  const size_t length_at = static_cast<size_t>(at - bytes.begin()) - 4;
  bytes[length_at + 2] = 0x7f;
  dir.write("damaged.o", bytes);
  const ProgramResult plain = drelk({"damaged.o"});
  const ProgramResult m = drelk({"-m", "damaged.o"});
  EXPECT_EQ(m.standard_error,
            "Drelk: Debug Information Error: .debug_info in damaged.o cannot be read (unit length "
            "beyond the section); COMMON block layouts after that are not shown\n\n");
  EXPECT_EQ(m.standard_output, "Drelk: Processing is incomplete due to previous error(s).\n\n" +
                                   plain.standard_output);
}

// Each object's references carry its own layouts: a Mach-O object read after a Windows one
// of the same block (both name it _tally_) neither keeps nor repeats the other's.
TEST_F(Layouts, EachObjectCarriesItsOwnLayouts) {
  dir.write("tally.obj", data_file("mingw-i686/tally.obj"));
  dir.write("tally-macho.o", data_file("../macho/dwarf/tally-i386.o"));
  const std::string json = drelk({"-m", "-fjson", "tally.obj", "tally-macho.o"}).standard_output;
  size_t routines = 0;
  for (size_t at = json.find("\"tally1\""); at != std::string::npos;
       at = json.find("\"tally1\"", at + 1)) {
    ++routines;
  }
  EXPECT_EQ(routines, 2u) << json;
}

}  // namespace
}  // namespace drelk::test
