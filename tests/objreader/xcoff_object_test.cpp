// The XCOFF reader: what counts as a COMMON declaration, a procedure or initialised data in
// both classes, the checks of damaged symbol tables and section layouts; AIX big archives
// walked by their chain of member headers.
#include <gtest/gtest.h>

#include "objreader/objreader.h"
#include "platform/strprintf.h"
#include "tests/support/in_memory_run.h"
#include "tests/support/xcoff_builder.h"

namespace drelk::test {
namespace {

using Lines = std::vector<std::string>;
using namespace xcoffv;

XcoffSymbolSpec csect(const std::string& name, uint8_t storage_class, uint8_t type,
                      uint8_t mapping_class, uint64_t length, int16_t section = 0) {
  return csect_symbol(name, storage_class, type, mapping_class, length, section);
}

// An object with one symbol of every kind the scan tells apart, in sections .text (1),
// .data (2) and .bss (3).
XcoffObject every_kind(XcoffObject object) {
  XcoffSymbolSpec with_function_entry = csect("two_entries_", C_EXT, XTY_CM, XMC_RW, 12, 3);
  with_function_entry.aux_count = 2;  // a function entry first: the csect entry is the last
  return object.section(".text", 64, STYP_TEXT)
      .section(".data", 64, STYP_DATA)
      .section(".bss", 1024, STYP_BSS)
      .common("blk_", 400)
      .common("__BLNK__", 20)
      .common("a_rather_long_block_name_", 8)  // in the string table in either class
      .symbol(csect("weak_", C_WEAKEXT, XTY_CM, XMC_RW, 16, 3))
      .symbol(csect("local_", C_HIDEXT, XTY_CM, XMC_RW, 32, 3))  // .lcomm: no block
      .symbol(csect(".sub_", C_EXT, XTY_LD, XMC_PR, 0, 1))       // code: not the procedure
      .descriptor("sub_", 2)
      .symbol(csect("helper_", C_HIDEXT, XTY_SD, XMC_DS, 24, 2))  // a static function's
      .symbol(csect("blk_", C_HIDEXT, XTY_SD, XMC_TC, 8, 2))      // the TOC entry of /BLK/
      .data("init_", 12, 2)
      .symbol(csect("static_", C_HIDEXT, XTY_SD, XMC_RW, 4, 2))
      .symbol(csect("ext_", C_EXT, XTY_ER, XMC_RW, 0))  // a reference declares nothing
      .symbol(with_function_entry);
}

TEST(XcoffScan, BothClassesGiveTheSameDeclarations) {
  for (const bool is64 : {false, true}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(every_kind(XcoffObject().is64(is64)).bytes(), "x.o"), Outcome::kOk)
        << is64;
    EXPECT_EQ(run.diagnostics(), "") << is64;
    EXPECT_EQ(run.blocks(),
              (Lines{"__BLNK__ 20@x.o", "a_rather_long_block_name_ 8@x.o", "blk_ 400@x.o",
                     "init_ 12I@x.o", "two_entries_ 12@x.o", "weak_ 16@x.o"}))
        << is64;
    EXPECT_EQ(run.procedures(), (Lines{"helper_@x.o", "sub_@x.o"})) << is64;
  }
}

// A 64-bit csect length has two halves; flang's BLOCK DATA is a label in the .data csect,
// bounded by the csect's end; XL Fortran's blank COMMON is blank COMMON too.
TEST(XcoffScan, LengthsAndLabels) {
  InMemoryRun run;
  run.analyze(XcoffObject().is64().common("huge_", 0x123456789).bytes(), "huge.o");
  XcoffSymbolSpec label = csect("blk_", C_EXT, XTY_LD, XMC_RW, 2, 1);  // in the csect at 2
  label.value = 0x100;
  XcoffSymbolSpec data = csect(".data", C_HIDEXT, XTY_SD, XMC_RW, 400, 1);
  data.value = 0x100;
  run.analyze(XcoffObject()
                  .is64()
                  .section(".data", 400, STYP_DATA)
                  .symbol(csect("init.f90", 103, 0, 0, 0))  // C_FILE, its aux entry
                  .symbol(data)
                  .symbol(label)
                  .bytes(),
              "init.o");
  run.analyze(XcoffObject().common("blk_", 800).common("#BLNK_COM", 8).bytes(), "xl.o");
  run.analyze(XcoffObject().common("#BLNK_COM", 16).bytes(), "xl2.o");
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(run.blocks(), (Lines{"#BLNK_COM 16@xl2.o 8@xl.o", "blk_ 800@xl.o 400I@init.o",
                                 "huge_ 4886718345@huge.o"}));
  EXPECT_NE(run.report().find("blank-common (note)"), std::string::npos) << run.report();
}

// Alignments: a COMMON csect asks for 2 to the power of its x_smtyp's high bits; a csect
// of data has its own; a label has its offset within its csect's.
TEST(XcoffScan, AlignmentsOfCsectsAndLabels) {
  XcoffSymbolSpec data = csect(".data", C_HIDEXT, XTY_SD, XMC_RW, 64, 1);
  data.value = 0x100;
  XcoffSymbolSpec first = csect("first_", C_EXT, XTY_LD, XMC_RW, 0, 1);
  first.value = 0x100;
  XcoffSymbolSpec second = csect("second_", C_EXT, XTY_LD, XMC_RW, 0, 1);
  second.value = 0x104;
  XcoffSymbolSpec own = csect("own_", C_EXT, XTY_SD, XMC_RW, 16, 1);
  own.alignment_log2 = 4;
  own.value = 0x140;
  XcoffSymbolSpec asks = csect("asks_", C_EXT, XTY_CM, XMC_RW, 8);
  asks.alignment_log2 = 5;
  InMemoryRun run;
  run.analyze(XcoffObject()
                  .section(".data", 128, STYP_DATA)
                  .symbol(data)
                  .symbol(first)
                  .symbol(second)
                  .symbol(own)
                  .symbol(asks)
                  .bytes(),
              "x.o");
  EXPECT_EQ(run.diagnostics(), "");
  Lines read;
  for (const CommonBlock* block : sorted_blocks(run.registry())) {
    read.push_back(std::string(block->name) + " " + std::to_string(block_alignments(*block)[0]));
  }
  EXPECT_EQ(read, (Lines{"asks_ 32", "first_ 8", "own_ 16", "second_ 4"}));
}

// Damaged symbols are reported where they stand, and the scan goes on with the next one.
TEST(XcoffScan, DamagedSymbolsAreReportedAndPassedOver) {
  XcoffSymbolSpec no_csect = csect("bare_", C_EXT, XTY_CM, XMC_RW, 4);
  no_csect.aux_count = 0;
  XcoffSymbolSpec stray = csect("stray_", C_EXT, XTY_CM, XMC_RW, 4);
  stray.section = 9;
  XcoffSymbolSpec last = csect("last_", C_EXT, XTY_CM, XMC_RW, 4);
  const XcoffObject object = XcoffObject()
                                 .section(".bss", 64, STYP_BSS)
                                 .common("a_long_name_outside_", 8)
                                 .common("below_four_long_", 8)
                                 .symbol(no_csect)
                                 .symbol(stray)
                                 .common("good_", 4)
                                 .symbol(last)
                                 .name_offset(0, 0x1000)
                                 .name_offset(1, 2);
  for (const bool truncated : {false, true}) {
    // The last symbol's auxiliary entry is cut off by the symbol count.
    XcoffObject damaged = XcoffObject(object).symbol_count(truncated ? 10 : 11);
    InMemoryRun run;
    EXPECT_EQ(run.analyze(damaged.bytes(), "x.o"), Outcome::kFailed);
    const std::string expected =
        "Drelk: DRELK Internal: name offset     1000 is outside string table\n"
        "Drelk: DRELK Internal: name offset        2 is outside string table\n"
        "Drelk: Object Format Error: Symbol 4 has no csect auxiliary entry\n\n"
        "Drelk: Error: Section number is out of range\n\n" +
        std::string(truncated ? "Drelk: Error:  Aux symbol count overflows symbol table\n\n" : "");
    EXPECT_EQ(run.diagnostics(), expected) << truncated;
    EXPECT_EQ(run.blocks(), truncated ? (Lines{"good_ 4@x.o", "stray_ 4@x.o"})
                                      : (Lines{"good_ 4@x.o", "last_ 4@x.o", "stray_ 4@x.o"}));
  }
  // Without its string table a 32-bit object still gives its short names.
  InMemoryRun run;
  EXPECT_EQ(run.analyze(XcoffObject()
                            .common("a_long_name_", 8)
                            .common("short_", 4)
                            .without_string_table()
                            .bytes(),
                        "x.o"),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: name offset        4 is outside string table\n");
  EXPECT_EQ(run.blocks(), (Lines{"short_ 4@x.o"}));
}

// Sections' data, relocations and line numbers may not share a byte or lie past the
// object; a 32-bit count of 65535 is taken from the overflow section.
TEST(XcoffLayout, OverlapsAndStretchesOutsideTheObject) {
  for (const bool is64 : {false, true}) {
    InMemoryRun run;
    const XcoffObject object = XcoffObject()
                                   .is64(is64)
                                   .section(".text", 32, STYP_TEXT, 2)
                                   .section(".data", 32, STYP_DATA)
                                   .section(".dwline", 8, 0x10)
                                   .section_data(2, is64 ? 248 : 148)  // inside .text's data
                                   .section_line_numbers(3, 4000, 2)   // past the end
                                   .common("x_", 4);
    run.analyze(object.bytes(), "x.o");
    EXPECT_EQ(run.diagnostics(),
              "Drelk: Object Format Error: Section 3 line numbers lie outside the object\n\n"
              "Drelk: Object Format Error: Raw data overlap between sections 1 and 2\n\n")
        << is64;
    EXPECT_EQ(run.blocks(), (Lines{"x_ 4@x.o"}));
  }
  InMemoryRun run;
  const XcoffObject overflowing = XcoffObject()
                                      .section(".text", 16, STYP_TEXT)
                                      .section(".data", 16, STYP_DATA)
                                      .overflowing_relocations(1, 70000)
                                      .common("x_", 4);
  EXPECT_EQ(run.analyze(overflowing.bytes(), "x.o"), Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "");
  // Its 70000 relocations reach data that 65535 of them would not.
  InMemoryRun clash;
  clash.analyze(XcoffObject(overflowing).section_data(2, 172 + 680000).bytes(), "x.o");
  EXPECT_EQ(clash.diagnostics(),
            "Drelk: Object Format Error: Section 1 relocations overlap section 2 raw data\n\n");
}

// Executables and shared objects are refused as no object files.
TEST(XcoffScan, LinkedFilesAreRefused) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(XcoffObject().flags(F_SHROBJ).common("x_", 4).bytes(), "shr.o"),
            Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "Drelk: The file shr.o is not an object file.\n");
  EXPECT_EQ(run.blocks(), Lines{});
}

// A big archive's members are read in the order their headers link them, each at most
// once; a chain that loops or points past the end is reported.
TEST(BigArchive, MembersInLinkedOrderLoopsAndOffsetsPastTheEnd) {
  const std::vector<uint8_t> a = XcoffObject().common("blk_", 400).bytes();
  const std::vector<uint8_t> b = XcoffObject().is64().common("blk_", 800).bytes();
  const std::vector<uint8_t> c = XcoffObject().common("other_", 4).bytes();
  const BigArchive archive = BigArchive().member("a.o", a).member("bb.o", b).member("c.o", c);
  {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(archive.bytes(), "lib.a"), Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "");
    EXPECT_EQ(run.blocks(),
              (Lines{"blk_ 800@lib.a (bb.o) 400@lib.a (a.o)", "other_ 4@lib.a (c.o)"}));
  }
  {
    // bb.o links back to a.o.
    InMemoryRun run;
    const BigArchive loop = BigArchive(archive).next_member(1, archive.member_offset(0));
    EXPECT_EQ(run.analyze(loop.bytes(), "lib.a"), Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "Drelk: Error - library member at offset 80 listed again\n\n");
    EXPECT_EQ(run.blocks(), (Lines{"blk_ 800@lib.a (bb.o) 400@lib.a (a.o)"}));
  }
  for (const uint64_t past : {uint64_t{100000}, ~uint64_t{0}}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(BigArchive(archive).next_member(0, past).bytes(), "lib.a"),
              Outcome::kFailed);
    EXPECT_EQ(run.diagnostics(), "Drelk: Error - library member at offset " +
                                     strprintf("%llx", static_cast<unsigned long long>(past)) +
                                     " lies outside the library\n\n");
    EXPECT_EQ(run.blocks(), (Lines{"blk_ 400@lib.a (a.o)"}));
  }
  InMemoryRun empty;
  EXPECT_EQ(empty.analyze(BigArchive().bytes(), "empty.a"), Outcome::kOk);
  EXPECT_EQ(empty.diagnostics(), "");
}

}  // namespace
}  // namespace drelk::test
