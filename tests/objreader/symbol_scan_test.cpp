// The symbol table scan: name resolution, what counts as a COMMON declaration, a procedure
// or initialised data, the section-number and auxiliary-record checks, and the marking of
// initialised blocks.
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

using pe::IMAGE_SYM_CLASS_STATIC;
using pe::IMAGE_SYM_CLASS_WEAK_EXTERNAL;
using pe::IMAGE_SYM_TYPE_FUNCTION;

std::vector<std::string> blocks(InMemoryRun& run) {
  std::vector<std::string> lines;
  for (const CommonBlock* block : sorted_blocks(run.registry())) {
    std::string line(block->name);
    for (const BlockReference* r : block_references(*block)) {
      line += " " + std::to_string(r->size) + (r->initialized ? "I" : "") + "@" + r->object->path;
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> procedures(InMemoryRun& run) {
  std::vector<std::string> names;
  for (const ProcedureEntry& p : sorted_procedures(run.registry())) names.emplace_back(p.name);
  return names;
}

TEST(NameResolution, ShortNameOfExactlyEightCharactersEndsAfterEight) {
  InMemoryRun run;
  run.analyze(CoffObject().common("_iounit_", 8).common("_abc", 4).bytes(), "x.obj");
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_abc 4@x.obj", "_iounit_ 8@x.obj"}));
}

TEST(NameResolution, LongNamesComeFromTheStringTable) {
  InMemoryRun run;
  run.analyze(CoffObject().common("___BLNK__", 400).common("_a_rather_long_block_", 4).bytes(),
              "x.obj");
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(blocks(run),
            (std::vector<std::string>{"___BLNK__ 400@x.obj", "_a_rather_long_block_ 4@x.obj"}));
}

TEST(NameResolution, NameInTheLastBytesOfTheTableIsReadToTheEnd) {
  // Text "abcdefgh" without a terminator: offset 8 addresses "efgh", the last four bytes.
  InMemoryRun run;
  run.analyze(CoffObject().symbol("", 4, 0).name_offset(8).string_text("abcdefgh").bytes(),
              "x.obj");
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"efgh 4@x.obj"}));
}

TEST(NameResolution, OffsetsOutsideTheTextAreReported) {
  // The table's stored size is 4 + 8 = 12: offset 12 is past its text; offsets below 4
  // point into the size field.
  for (uint32_t offset : {12u, 3u, 0u, 0xFFFFFFFFu}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(
                  CoffObject().symbol("", 4, 0).name_offset(offset).string_text("abcdefgh").bytes(),
                  "x.obj"),
              Outcome::kFailed);
    char expected[80];
    std::snprintf(expected, sizeof expected,
                  "Drelk: DRELK Internal: name offset %8x is outside string table\n", offset);
    EXPECT_EQ(run.diagnostics(), expected);
    EXPECT_TRUE(blocks(run).empty());
  }
}

TEST(Classification, UndefinedExternalDataIsADeclarationWhateverItsValue) {
  InMemoryRun run;
  run.analyze(CoffObject().common("_x_", 400).bytes(), "a.obj");
  run.analyze(CoffObject().common("_x_", 0).bytes(), "b.obj");
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_x_ 400@a.obj 0@b.obj"}));
  EXPECT_FALSE(sorted_blocks(run.registry())[0]->consistent);
}

TEST(Classification, DefinedFunctionsAreProceduresExceptDecoratedNames) {
  InMemoryRun run;
  run.analyze(CoffObject()
                  .section(".text", 16)
                  .function("_sub_", 1)
                  .function("_SUB@8", 1)
                  .function("_local", 1, IMAGE_SYM_CLASS_STATIC)
                  .symbol("_absolute", 0, -1, IMAGE_SYM_TYPE_FUNCTION)
                  .symbol("_undefined", 0, 0, IMAGE_SYM_TYPE_FUNCTION)
                  .bytes(),
              "x.obj");
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(procedures(run), (std::vector<std::string>{"_absolute", "_local", "_sub_"}));
  EXPECT_TRUE(blocks(run).empty());  // an undefined function is not a COMMON block
}

TEST(Classification, OnlyExternalDataOfTypeNullCounts) {
  InMemoryRun run;
  run.analyze(CoffObject()
                  .symbol("_static", 4, 0, 0, IMAGE_SYM_CLASS_STATIC)
                  .symbol("_typed", 4, 0, 4 /* int */)
                  .symbol("_abs", 4, -1)
                  .bytes(),
              "x.obj");
  EXPECT_TRUE(blocks(run).empty());
  EXPECT_EQ(run.diagnostics(), "");
}

TEST(SectionNumbers, DebugAndLastSectionAreAcceptedBeyondThemNot) {
  InMemoryRun ok;
  ok.analyze(CoffObject()
                 .section(".text", 4)
                 .section(".data", 4)
                 .symbol("_dbg", 0, -2)
                 .data("_d", 2)
                 .bytes(),
             "x.obj");
  EXPECT_EQ(ok.diagnostics(), "");

  for (int16_t section : {-3, 3}) {
    InMemoryRun run;
    EXPECT_EQ(
        run.analyze(
            CoffObject().section(".text", 4).section(".data", 4).symbol("_s", 0, section).bytes(),
            "x.obj"),
        Outcome::kFailed);
    EXPECT_EQ(run.diagnostics(), "Drelk: Error: Section number is out of range\n\n") << section;
  }
}

TEST(SectionNumbers, OutOfRangeFunctionIsStillRegisteredAndTheScanFails) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(CoffObject()
                            .section(".text", 4)
                            .function("_far_", 9)
                            .function("_near_", 1)
                            .common("_far_", 4)
                            .bytes(),
                        "x.obj"),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(), "Drelk: Error: Section number is out of range\n\n");
  EXPECT_EQ(procedures(run), (std::vector<std::string>{"_far_", "_near_"}));
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_far_ 4@x.obj"}));
}

TEST(AuxiliaryRecords, AreSkippedAsTheirCountSays) {
  // Two aux records that would read as COMMON declarations if they were not skipped.
  AuxRecord looks_like_common{};
  looks_like_common[0] = '_';
  looks_like_common[1] = 'a';
  looks_like_common[8] = 4;
  looks_like_common[16] = 2;
  InMemoryRun run;
  run.analyze(CoffObject()
                  .section(".text", 4)
                  .function("_f_", 1)
                  .aux(looks_like_common)
                  .aux(looks_like_common)
                  .common("_x_", 4)
                  .bytes(),
              "x.obj");
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_x_ 4@x.obj"}));
}

TEST(AuxiliaryRecords, WeakExternalSkipsExactlyOne) {
  AuxRecord weak{};
  AuxRecord second{};
  second[0] = '_';
  second[1] = 'w';
  second[8] = 12;
  second[16] = 2;
  InMemoryRun run;
  run.analyze(CoffObject()
                  .symbol("_weak", 0, 0, 0, IMAGE_SYM_CLASS_WEAK_EXTERNAL)
                  .aux(weak)
                  .aux(second)
                  .common("_x_", 4)
                  .bytes(),
              "x.obj");
  // The second aux record is read as a symbol: a 12-byte declaration of _w.
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_w 12@x.obj", "_x_ 4@x.obj"}));
  EXPECT_EQ(run.diagnostics(), "");
}

TEST(AuxiliaryRecords, CountReachingTheEndOfTheTableIsReported) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(
                CoffObject().common("_x_", 4).common("_y_", 8).aux_count(1).symbol_count(2).bytes(),
                "x.obj"),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(), "Drelk: Error:  Aux symbol count overflows symbol table\n\n");
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_x_ 4@x.obj", "_y_ 8@x.obj"}));
}

TEST(InitialisedBlocks, ObjectDeclaringAndDefiningABlockMarksItsReference) {
  InMemoryRun run;
  run.analyze(CoffObject().common("_x_", 4).bytes(), "a.obj");
  run.analyze(CoffObject().section(".data", 8).common("_x_", 8).data("_x_", 1).bytes(), "b.obj");
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_x_ 8I@b.obj 4@a.obj"}));
}

TEST(InitialisedBlocks, OnlyTheFirstOfTwoOwnDeclarationsIsMarked) {
  InMemoryRun run;
  run.analyze(CoffObject()
                  .section(".data", 8)
                  .common("_x_", 4)
                  .common("_x_", 4)
                  .data("_x_", 1)
                  .data("_x_", 1)
                  .bytes(),
              "a.obj");
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_x_ 4I@a.obj 4@a.obj"}));
}

// BLOCK DATA as gfortran writes it: the block is defined in .data, not declared. The
// definition is a reference of its own, of the size that the object's layout leaves it:
// up to the next symbol of its section, or to the section's end.
TEST(InitialisedBlocks, DefinitionWithoutDeclarationIsBoundedByTheLayout) {
  InMemoryRun run;
  run.analyze(CoffObject().common("_x_", 8).bytes(), "a.obj");
  run.analyze(CoffObject().section(".data", 8).data("_x_", 1).bytes(), "alone.obj");
  run.analyze(CoffObject().section(".data", 8).data("_x_", 1).data("_y_", 1, 4).bytes(),
              "pair.obj");
  run.analyze(CoffObject().section(".data", 8).data("_x_", 1, 12).bytes(), "past.obj");
  EXPECT_EQ(blocks(run),
            (std::vector<std::string>{"_x_ 8@a.obj 8I@alone.obj 4I@pair.obj", "_y_ 4I@pair.obj"}));
}

// Each COMMON declaration's alignment ("name alignment"), in name order.
std::vector<std::string> alignments(InMemoryRun& run) {
  std::vector<std::string> lines;
  for (const CommonBlock* block : sorted_blocks(run.registry())) {
    for (const uint64_t alignment : block_alignments(*block)) {
      lines.push_back(std::string(block->name) + " " + std::to_string(alignment));
    }
  }
  return lines;
}

// mingw-w64's -aligncomm: directives in .drectve give the COMMON symbols they name the
// alignment they ask for (the most, where a name is given twice); what is not a whole
// directive is passed over, and other directives are left alone.
TEST(Alignments, DirectivesGiveCommonSymbolsTheirAlignment) {
  const std::string text =
      " -aligncomm:\"_a_\",5 -aligncomm:_b_,3 -aligncomm:\"_a_\",4 -aligncomm:\"_c_\", "
      "-aligncomm:\"_d_\",64 -aligncomm:_e_ /DEFAULTLIB:\"libc\" -aligncomm:_f_,99999 "
      "-aligncomm:\"_g_\",2 -aligncomm:\"_h_";
  CoffObject object;
  object.section(".drectve", static_cast<uint32_t>(text.size()));
  for (const char* name : {"_a_", "_b_", "_c_", "_d_", "_e_", "_f_", "_g_", "_h_", "_i_"}) {
    object.common(name, 8);
  }
  std::vector<uint8_t> bytes = object.bytes();
  std::copy(text.begin(), text.end(), bytes.begin() + object.layout().raw_data_pointers[0]);
  InMemoryRun run;
  EXPECT_EQ(run.analyze(bytes, "a.obj"), Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(alignments(run), (std::vector<std::string>{"_a_ 32", "_b_ 8", "_c_ 0", "_d_ 0", "_e_ 0",
                                                       "_f_ 0", "_g_ 4", "_h_ 0", "_i_ 0"}));
  // A directive section whose data lies past the object's end is passed over.
  SectionHeader far_away;
  far_away.name = ".drectve";
  far_away.size_of_raw_data = 16;
  far_away.pointer_to_raw_data = 0x100000;
  InMemoryRun far;
  far.analyze(CoffObject().section_header(far_away).common("_a_", 8).bytes(), "b.obj");
  EXPECT_EQ(far.diagnostics(), "");
  EXPECT_EQ(alignments(far), (std::vector<std::string>{"_a_ 0"}));
}

// A definition's alignment: its offset within its section's IMAGE_SCN_ALIGN_* (none given:
// 16 bytes; IMAGE_SCN_TYPE_NO_PAD: 1; the undefined value 15: unknown).
TEST(Alignments, DefinitionsByTheirPlaceInTheirSection) {
  struct Case {
    uint32_t align_field;
    uint32_t extra;
    uint32_t offset;
    uint64_t expected;
  };
  for (const Case& c :
       {Case{0, 0, 0, 16}, Case{0, 0, 8, 8}, Case{4, 0, 4, 4}, Case{4, 0, 16, 8}, Case{1, 0, 0, 1},
        Case{14, 0, 0, 8192}, Case{15, 0, 0, 0}, Case{6, 0x8, 0, 1}}) {
    InMemoryRun run;
    run.analyze(CoffObject()
                    .section(".data", 64, 0, 0,
                             pe::kDataSectionCharacteristics | (c.align_field << 20) | c.extra)
                    .data("_x_", 1, c.offset)
                    .bytes(),
                "a.obj");
    EXPECT_EQ(alignments(run), std::vector<std::string>{"_x_ " + std::to_string(c.expected)})
        << c.align_field << " " << c.offset;
  }
}

TEST(InitialisedBlocks, MembersSharingAPathAreNotToldApart) {
  const std::vector<uint8_t> declares = CoffObject().common("_x_", 800).bytes();
  const std::vector<uint8_t> defines =
      CoffObject().section(".data", 4).common("_x_", 400).data("_x_", 1).bytes();
  InMemoryRun run;
  // Long names that the archive cannot resolve: both members are shown by the library alone.
  run.analyze(Archive()
                  .member("first.obj", declares)
                  .member("second.obj", defines)
                  .raw_member_name(0, "/9998")
                  .raw_member_name(1, "/9999")
                  .bytes(),
              "m.lib");
  // The second member's definition marks the first reference with the shared path.
  EXPECT_EQ(blocks(run), (std::vector<std::string>{
                             "_x_ 800I@m.lib (no obj file given) 400@m.lib (no obj file given)"}));
}

TEST(ScanFailures, FailedScanEndsTheLibraryWalk) {
  InMemoryRun run;
  run.analyze(Archive()
                  .member("a.obj", CoffObject().symbol("_bad", 0, 7).common("_a_", 4).bytes())
                  .member("b.obj", CoffObject().common("_b_", 4).bytes())
                  .bytes(),
              "m.lib");
  EXPECT_EQ(blocks(run), (std::vector<std::string>{"_a_ 4@m.lib (a.obj)"}));
}

}  // namespace
}  // namespace drelk::test
