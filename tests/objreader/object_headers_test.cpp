// The file header, optional header, section table, string table and symbol table checks,
// their diagnostics in order, and their effect on the analysis.
#include <gtest/gtest.h>

#include "objreader/coff/coff_reader.h"
#include "objreader/elf/elf_reader.h"
#include "objreader/macho/macho_reader.h"
#include "objreader/objreader.h"
#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"
#include "tests/support/in_memory_run.h"

namespace drelk::test {
namespace {

constexpr const char* kPath = "obj/x.obj";

bool declares(InMemoryRun& run, const std::string& block) {
  return find_block(run.registry(), block) != nullptr;
}

TEST(FileHeader, TimeStampsTheRuntimeCannotHoldAreReported) {
  struct Case {
    uint32_t stamp;
    const char* diagnostics;
  };
  for (const Case& c : {Case{0, ""}, Case{0x7FFFFFFF, ""}, Case{0x01020304, ""},
                        Case{0x80000000, "Drelk: Error - bad file header time stamp\n\n"},
                        Case{0xFFFFFFFF, "Drelk: Error - bad file header time stamp\n\n"}}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(CoffObject().time_stamp(c.stamp).common("_x_", 4).bytes(), kPath),
              Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), c.diagnostics) << std::hex << c.stamp;
    EXPECT_TRUE(declares(run, "_x_"));  // reported, and analysed all the same
  }
}

TEST(FileHeader, MachineTypesOfTodaysToolChainsAreValid) {
  for (uint16_t machine :
       {0x0, 0x14C, 0x162, 0x166, 0x168, 0x183, 0x184, 0x1F0, 0x8664, 0xAA64, 0x1C4, 0xA641}) {
    InMemoryRun run;
    run.analyze(CoffObject().machine(machine).bytes(), kPath);
    EXPECT_EQ(run.diagnostics(), "") << std::hex << machine;
  }
}

TEST(FileHeader, OtherMachineTypesAreReportedAndStillScanned) {
  for (uint16_t machine : {0x200, 0x1, 0xFFFF}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(CoffObject().machine(machine).common("_x_", 4).bytes(), kPath),
              Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "Drelk: Error - bad file header machine value\n\n");
    EXPECT_TRUE(declares(run, "_x_"));
  }
}

TEST(FileHeader, BothHeaderDiagnosticsComeInOrder) {
  InMemoryRun run;
  run.analyze(CoffObject().time_stamp(0x90000000).machine(0x200).bytes(), kPath);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: Error - bad file header time stamp\n\n"
            "Drelk: Error - bad file header machine value\n\n");
}

TEST(FileHeader, TruncatedHeaderFailsTheObject) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(CoffObject().truncated(12), kPath), Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 12 bytes (20 expected). [process_file_header]\n"
            "Drelk: Error reading file header\n\n");
}

TEST(OptionalHeader, SizesOtherThan28Or224AreUnusable) {
  InMemoryRun run;
  EXPECT_EQ(
      run.analyze(CoffObject().optional_header_size_field(96).common("_x_", 4).bytes(), kPath),
      Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: bad optional header size of 96 (expecting 28 or 224)\n\n"
            "Drelk: Could not process optional header (file obj/x.obj)\n");
  EXPECT_FALSE(declares(run, "_x_"));
}

TEST(OptionalHeader, SubsystemIsCheckedInTheLongFormOnly) {
  for (uint16_t subsystem : {0, 1, 2, 3, 5, 7}) {
    InMemoryRun run;
    run.analyze(CoffObject().optional_header(224, subsystem).bytes(), kPath);
    EXPECT_EQ(run.diagnostics(), "") << subsystem;
  }
  InMemoryRun bad;
  EXPECT_EQ(bad.analyze(CoffObject().optional_header(224, 4).common("_x_", 4).bytes(), kPath),
            Outcome::kOk);
  EXPECT_EQ(bad.diagnostics(), "Drelk: DRELK Internal: bad optional header subsystem value\n\n");
  EXPECT_TRUE(declares(bad, "_x_"));

  InMemoryRun small;
  small.analyze(CoffObject().optional_header(28).bytes(), kPath);
  EXPECT_EQ(small.diagnostics(), "");
}

TEST(OptionalHeader, TruncatedOptionalHeader) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(CoffObject().optional_header(224).truncated(100), kPath), Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 80 bytes (224 expected). [process_opt_header]\n"
            "Drelk: DRELK Internal:  error reading optional header\n\n"
            "Drelk: Could not process optional header (file obj/x.obj)\n");
}

TEST(SectionTable, TruncatedSectionTableFailsTheObject) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(CoffObject().section(".text", 4).section(".data", 4).truncated(40), kPath),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 20 bytes (80 expected). [analyze]\n"
            "Drelk: Error reading section headers\n\n");
}

TEST(SectionTable, MaximumSectionCountIsAShortReadOfWhatTheFileHolds) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(CoffObject().section(".text", 4).section_count(0xFFFF).bytes(), kPath),
            Outcome::kFailed);
  EXPECT_NE(run.diagnostics().find(
                "(2621400 expected). [analyze]\nDrelk: Error reading section headers\n"),
            std::string::npos)
      << run.diagnostics();
}

TEST(StringTable, ObjectEndingAfterItsSymbolTableHasNoStringTable) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(
                CoffObject().common("_x_", 4).common("_a_long_name_", 8).no_string_table().bytes(),
                kPath),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 0 bytes (4 expected). [analyze]\n"
            "Drelk: Error reading string table size\n\n"
            "Drelk: DRELK Internal: name offset        4 is outside string table\n");
  EXPECT_TRUE(declares(run, "_x_"));  // short names are still read
}

TEST(StringTable, SizeFieldOfFourIsAnEmptyTable) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(CoffObject().common("_x_", 4).string_table_size(4).bytes(), kPath),
            Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "");
}

TEST(StringTable, SizesOneToThreeAreBad) {
  for (uint32_t size : {1u, 2u, 3u}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(CoffObject().common("_x_", 4).string_table_size(size).bytes(), kPath),
              Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "Drelk: Bad string table size\n\n");
  }
}

TEST(StringTable, SizeZeroMeansNoTable) {
  InMemoryRun run;
  run.analyze(CoffObject().common("_x_", 4).string_table_size(0).bytes(), kPath);
  EXPECT_EQ(run.diagnostics(), "");
}

TEST(StringTable, HugeClaimedSizeIsAShortReadNotAnAllocation) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(CoffObject().common("_x_", 4).string_table_size(0xFFFFFFF0).bytes(), kPath),
            Outcome::kOk);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 0 bytes (4294967276 expected). [analyze]\n"
            "Drelk: Read of string table failed\n\n");
  EXPECT_TRUE(declares(run, "_x_"));
}

TEST(StringTable, UnreachablePositionIsReportedInHex) {
  InMemoryRun run;
  run.analyze(CoffObject().common("_x_", 4).symbol_table_pointer(0x90000000).bytes(), kPath);
  // Symbol table at 0x90000000, one symbol: the string table would be at 0x90000012.
  EXPECT_EQ(run.diagnostics(),
            "Drelk: Error seeking to start of string table at file address 90000012\n\n"
            "Drelk: Error seeking to symbol table\n\n");
}

TEST(SymbolTable, ClaimedSymbolsBeyondTheFileAreAShortRead) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(CoffObject().common("_x_", 4).symbol_count(0xFFFFFFFF).bytes(), kPath),
            Outcome::kFailed);
  // The string table is looked for past the claimed symbols, at a 32-bit position that
  // wraps to 2 (20 - 18): the zero bytes there read as "no string table".
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 22 bytes (77309411310 expected). [analyze]\n"
            "Drelk: Error reading symbol table\n\n");
  EXPECT_FALSE(declares(run, "_x_"));
}

TEST(SymbolTable, ObjectWithoutSymbolTableStillHasItsSectionsChecked) {
  InMemoryRun run;
  SectionHeader a;
  a.pointer_to_raw_data = 100;
  a.size_of_raw_data = 10;
  SectionHeader b = a;
  EXPECT_EQ(run.analyze(CoffObject().section_header(a).section_header(b).bytes(), kPath),
            Outcome::kOk);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: Object Format Error: Raw data overlap between sections 1 and 2\n\n");
}

TEST(SymbolTable, TablesOfOneMemberDoNotLeakIntoTheNext) {
  // The first member has a string table; the second has none and long names: they must be
  // reported, not resolved through the first member's table.
  const std::vector<uint8_t> first = CoffObject().common("_first_long_name_", 4).bytes();
  const std::vector<uint8_t> second =
      CoffObject().symbol("", 4, 0).name_offset(4).no_string_table().bytes();
  InMemoryRun run;
  run.analyze(Archive().member("a.obj", first).member("b.obj", second).bytes(), "m.lib");
  EXPECT_NE(run.diagnostics().find("name offset        4 is outside string table"),
            std::string::npos);
  EXPECT_EQ(sorted_blocks(run.registry()).size(), 1u);
}

}  // namespace
}  // namespace drelk::test
