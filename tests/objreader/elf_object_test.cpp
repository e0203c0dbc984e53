// The ELF reader: what counts as a COMMON declaration, a procedure or initialised data in
// every class and byte order, extended section numbering, GCC's LTO symbol tables, and the
// checks of damaged objects; and ELF members in the archive styles of Linux and BSD tools.
#include <gtest/gtest.h>

#include "objreader/coff/coff_reader.h"
#include "objreader/elf/elf_reader.h"
#include "objreader/macho/macho_reader.h"
#include "objreader/objreader.h"
#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"
#include "tests/support/elf_builder.h"
#include "tests/support/in_memory_run.h"

namespace drelk::test {
namespace {

using elfv::STB_GLOBAL;
using elfv::STB_LOCAL;
using elfv::STB_WEAK;

// Every registered name with its references ("size[I]@path"), and the procedures.
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
  for (const ProcedureEntry& p : sorted_procedures(run.registry())) {
    names.emplace_back(std::string(p.name) + "@" + p.definer->path);
  }
  return names;
}

using Lines = std::vector<std::string>;

// An object with one symbol of every kind the scan tells apart.
ElfObject every_kind(ElfObject object) {
  return object.section(".text", 64)
      .section(".data", 32)
      .section(".tdata", 16)
      .section(".bss", 64, elfv::SHT_NOBITS)
      .function("helper", 1, STB_LOCAL)  // a static function is a procedure too
      .common("blk_", 400, 32)
      .common("__BLNK__", 20)
      .function("sub_", 1)
      .function("weak_sub_", 1, STB_WEAK)
      .data("init_", 2, 8)
      .data("tls_", 3, 16, STB_GLOBAL, elfv::STT_TLS)
      .data("literal_", 2, 41, STB_WEAK)  // a weak definition initialises nothing
      .data("static_", 2, 4, STB_LOCAL)
      .data("uninit_", 4, 64)  // in .bss: defined in a section all the same
      .function("versioned@VERS_1", 1)
      .symbol(ElfSymbol{"resolver_", 0, 8, elf_info(STB_GLOBAL, elfv::STT_GNU_IFUNC), 1, {}, {}})
      .undefined("ext_");
}

TEST(ElfScan, EveryClassAndByteOrderGivesTheSameDeclarations) {
  const std::vector<std::pair<const char*, ElfObject>> encodings = {
      {"ELF64 LSB", ElfObject()},
      {"ELF32 LSB", ElfObject().elf32()},
      {"ELF64 MSB", ElfObject().big_endian().machine(elfv::EM_S390)},
      {"ELF32 MSB", ElfObject().elf32().big_endian().machine(elfv::EM_PPC)},
  };
  for (const auto& [label, object] : encodings) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(every_kind(object).bytes(), "x.o"), Outcome::kOk) << label;
    EXPECT_EQ(run.diagnostics(), "") << label;
    EXPECT_EQ(blocks(run), (Lines{"__BLNK__ 20@x.o", "blk_ 400@x.o", "init_ 8I@x.o", "tls_ 16I@x.o",
                                  "uninit_ 64I@x.o"}))
        << label;
    EXPECT_EQ(procedures(run), (Lines{"helper@x.o", "resolver_@x.o", "sub_@x.o", "weak_sub_@x.o"}))
        << label;
  }
}

TEST(ElfScan, SixtyFourBitSizesAreNotCut) {
  InMemoryRun run;
  run.analyze(ElfObject().common("huge_", 0x100000004ull).bytes(), "x.o");
  EXPECT_EQ(blocks(run), (Lines{"huge_ 4294967300@x.o"}));
}

// A BLOCK DATA object defines the block with its size: a reference of its own, marked,
// which makes a COMMON of another size a conflict. A name that objects only define is a
// variable and never reported.
TEST(ElfScan, InitialisedDefinitionJoinsTheBlockWithItsSize) {
  InMemoryRun run;
  run.analyze(ElfObject().common("const_", 12).bytes(), "main.o");
  run.analyze(ElfObject()
                  .section(".data", 8)
                  .section_alignment(".data", 16)
                  .data("const_", 1, 8)
                  .data("verbose_", 1, 4)
                  .bytes(),
              "consts.o");
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(run.report(),
            "Common Block Analysis\n\n"
            "Common   Block   Initialized   Object File\n"
            "         Size \n\n"
            " const_\n"
            "           12                  main.o\n"
            "            8   I              consts.o\n\n"
            "Drelk Error: Common Block const_ is declared with different sizes\n"
            "  initialised-smaller (error): an initialised definition (BLOCK DATA) is smaller than "
            "a declaration; it decides the block's size on every linker, so routines that declare "
            "more write past its end into other data\n\n"
            "Summary: 1 block in 2 objects; 1 error, 0 warnings, 0 notes\n"
            "End of Analysis:  COMMON Block errors encountered.\n");

  InMemoryRun only_defined;
  only_defined.analyze(ElfObject().section(".data", 8).data("verbose_", 1, 4).bytes(), "c.o");
  only_defined.analyze(ElfObject().section(".data", 8).data("verbose_", 1, 8).bytes(), "d.o");
  EXPECT_EQ(only_defined.report(),
            "Common Block Analysis\n\n\tNone of the objects scanned contain COMMON BLOCKS\n\n");
}

// What each reference's alignment reads as: a COMMON's st_value, rounded up to a power of
// two as linkers take it; a definition's value within its section's sh_addralign (0 or 1:
// unaligned; no power of two: the largest that divides it).
TEST(ElfScan, AlignmentsOfDeclarationsAndOfDefinitionsByTheirPlace) {
  struct Case {
    uint64_t section_alignment;
    uint64_t value;
    uint64_t expected;
  };
  for (const Case& c : {Case{16, 0, 16}, Case{16, 4, 4}, Case{0, 0, 1}, Case{1, 8, 1},
                        Case{8, 24, 8}, Case{24, 0, 8}, Case{64, 96, 32}}) {
    InMemoryRun run;
    run.analyze(ElfObject()
                    .section(".data", 128)
                    .section_alignment(".data", c.section_alignment)
                    .symbol(ElfSymbol{
                        "blk_", c.value, 8, elf_info(STB_GLOBAL, elfv::STT_OBJECT), 1, {}, {}})
                    .bytes(),
                "x.o");
    ASSERT_EQ(run.registry().blocks.size(), 1u);
    EXPECT_EQ(block_alignments(run.registry().blocks.front()), std::vector<uint64_t>{c.expected})
        << c.section_alignment << " " << c.value;
  }
  InMemoryRun run;
  ElfSymbol extended{"ext_", 0, 8, elf_info(STB_GLOBAL, elfv::STT_OBJECT), elfv::SHN_XINDEX, 2, {}};
  run.analyze(ElfObject()
                  .section(".text", 16)
                  .section(".data", 8)
                  .section_alignment(".data", 32)
                  .symbol(extended)
                  .common("odd_", 8, 24)
                  .common("huge_", 8, UINT64_MAX)
                  .common("any_", 8, 0)
                  .extended_numbering()
                  .bytes(),
              "x.o");
  EXPECT_EQ(run.diagnostics(), "");
  std::vector<std::string> read;
  for (const CommonBlock* block : sorted_blocks(run.registry())) {
    read.push_back(std::string(block->name) + " " + std::to_string(block_alignments(*block)[0]));
  }
  EXPECT_EQ(read, (Lines{"any_ 0", "ext_ 32", "huge_ 9223372036854775808", "odd_ 32"}));
}

TEST(ElfScan, LargeModelCommonIsACommonOnX86_64Only) {
  const ElfSymbol large{
      "field_", 32, 1600000, elf_info(STB_GLOBAL, elfv::STT_OBJECT), elfv::SHN_X86_64_LCOMMON,
      {},       {}};
  InMemoryRun x86_64;
  x86_64.analyze(ElfObject().symbol(large).bytes(), "x.o");
  EXPECT_EQ(blocks(x86_64), (Lines{"field_ 1600000@x.o"}));
  // Elsewhere 0xFF02 is some other processor-specific index: reserved, so in range.
  InMemoryRun i386;
  i386.analyze(ElfObject().elf32().symbol(large).bytes(), "x.o");
  EXPECT_EQ(i386.diagnostics(), "");
  EXPECT_EQ(blocks(i386), Lines{});
}

TEST(ElfScan, ExtendedNumberingAndExtendedSectionIndexes) {
  ElfSymbol in_data{"init_", 0, 8, elf_info(STB_GLOBAL, elfv::STT_OBJECT), elfv::SHN_XINDEX, 2, {}};
  ElfSymbol nowhere = in_data;
  nowhere.name = "lost_";
  nowhere.extended_index = 99;
  const std::vector<uint8_t> object = ElfObject()
                                          .section(".text", 16)
                                          .section(".data", 8)
                                          .common("init_", 16)
                                          .symbol(in_data)
                                          .symbol(nowhere)
                                          .extended_numbering()
                                          .bytes();
  InMemoryRun run;
  EXPECT_EQ(run.analyze(object, "x.o"), Outcome::kFailed);
  // lost_ names section 99 of 7: classified, then reported.
  EXPECT_EQ(run.diagnostics(), "Drelk: Error: Section number is out of range\n\n");
  EXPECT_EQ(blocks(run), (Lines{"init_ 16@x.o 8I@x.o", "lost_ 8I@x.o"}));
}

// GCC's slim LTO objects: the ELF symbol table holds only the marker; the LTO symbol
// table's COMMON records carry sizes, and its extension tells functions from variables.
TEST(ElfScan, SlimLtoObjectsAreReadFromTheirLtoSymbolTables) {
  const std::vector<LtoSymbol> symbols = {
      {"smooth_", elfv::LDPK_DEF, elfv::LDST_FUNCTION, 0},
      {"mesh_", elfv::LDPK_COMMON, elfv::LDST_VARIABLE, 804},
      {"weak_fn_", elfv::LDPK_WEAKDEF, elfv::LDST_FUNCTION, 0},
      {"ltopar_", elfv::LDPK_COMMON, elfv::LDST_VARIABLE, 4},
      {"solve_", elfv::LDPK_UNDEF, elfv::LDST_FUNCTION, 0},
  };
  InMemoryRun run;
  EXPECT_EQ(run.analyze(ElfObject().lto_symbols(symbols, "b93b9ec4e0bff7d9").bytes(), "lto.o"),
            Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(blocks(run), (Lines{"ltopar_ 4@lto.o", "mesh_ 804@lto.o"}));
  EXPECT_EQ(procedures(run), (Lines{"smooth_@lto.o", "weak_fn_@lto.o"}));

  // A defined variable marks the object's own reference, as a COFF definition does.
  InMemoryRun marked;
  marked.analyze(ElfObject()
                     .common("mesh_", 804)
                     .lto_symbols({{"mesh_", elfv::LDPK_DEF, elfv::LDST_VARIABLE, 0}})
                     .bytes(),
                 "lto.o");
  EXPECT_EQ(blocks(marked), (Lines{"mesh_ 804I@lto.o"}));
}

// Nothing of an LTO object is missed silently: whatever cannot be read is reported, and
// the object fails (what could be read stays registered).
TEST(ElfScan, UnreadableLtoSymbolTablesAreReported) {
  const std::string unreadable = "Drelk: Error - unreadable LTO symbol table in lto.o\n\n";
  const std::vector<LtoSymbol> symbols = {{"blk_", elfv::LDPK_COMMON, elfv::LDST_VARIABLE, 96},
                                          {"sub_", elfv::LDPK_DEF, elfv::LDST_FUNCTION, 0}};
  struct Case {
    const char* what;
    ElfObject object;
    std::string diagnostics;
    Lines blocks;
  };
  const std::vector<Case> cases = {
      {"no extension: the definition's type is unknown",
       ElfObject().lto_symbols(symbols, "1", false),
       unreadable,
       {"blk_ 96@lto.o"}},
      {"a record cut short",
       ElfObject().lto_symbols(symbols).section_size(".gnu.lto_.symtab.1", 30),
       unreadable,
       {"blk_ 96@lto.o"}},
      {"the marker without a table", ElfObject().common("__gnu_lto_slim", 1), unreadable, {}},
      {"no section names", ElfObject().lto_symbols(symbols).section_names_index(1), unreadable, {}},
      {"the table outside the file",
       ElfObject().lto_symbols(symbols).section_offset(".gnu.lto_.symtab.1", 0x10000),
       "Drelk: Object Format Error: Section 1 data lies outside the object\n\n"
       "Drelk: DRELK Internal: fread returned 0 bytes (40 expected). [analyze]\n" +
           unreadable,
       {}},
  };
  for (const Case& c : cases) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(c.object.bytes(), "lto.o"), Outcome::kFailed) << c.what;
    EXPECT_EQ(run.diagnostics(), c.diagnostics) << c.what;
    EXPECT_EQ(blocks(run), c.blocks) << c.what;
  }
}

// Damaged objects: each differs from a sound one in one field.
TEST(ElfChecks, DamagedObjectsGetTheirDiagnostics) {
  const ElfObject sound = ElfObject().section(".text", 16).section(".data", 8).common("blk_", 8);
  const size_t text_at = sound.layout().section_offsets[1];
  const std::string unsupported = "Drelk: Error - unsupported ELF header in x.o\n\n";
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    Outcome result;
    std::string diagnostics;
  };
  const std::vector<Case> cases = {
      {"class 3", ElfObject(sound).ident_byte(4, 3).bytes(), Outcome::kFailed, unsupported},
      {"byte order 0", ElfObject(sound).ident_byte(5, 0).bytes(), Outcome::kFailed, unsupported},
      {"ident version 2", ElfObject(sound).ident_byte(6, 2).bytes(), Outcome::kFailed, unsupported},
      {"e_version 0", ElfObject(sound).version(0).bytes(), Outcome::kFailed, unsupported},
      {"e_type 0", ElfObject(sound).type(0).bytes(), Outcome::kFailed, unsupported},
      {"e_shentsize 40 in ELF64", ElfObject(sound).section_header_size(40).bytes(),
       Outcome::kFailed, unsupported},
      {"executable", ElfObject(sound).type(elfv::ET_EXEC).bytes(), Outcome::kOk,
       "Drelk: The file x.o is not an object file.\n"},
      {"shared object, read for its exported data", ElfObject(sound).type(elfv::ET_DYN).bytes(),
       Outcome::kOk, ""},
      {"core file", ElfObject(sound).type(elfv::ET_CORE).bytes(), Outcome::kOk,
       "Drelk: The file x.o is not an object file.\n"},
      {"header cut in its identification", sound.truncated(10), Outcome::kFailed,
       "Drelk: DRELK Internal: fread returned 10 bytes (16 expected). [analyze]\n"
       "Drelk: Error reading file header\n\n"},
      {"header cut after its identification", sound.truncated(40), Outcome::kFailed,
       "Drelk: DRELK Internal: fread returned 24 bytes (48 expected). [analyze]\n"
       "Drelk: Error reading file header\n\n"},
      {"section headers beyond the file",
       ElfObject(sound).section_headers_offset(1ull << 40).bytes(), Outcome::kFailed,
       "Drelk: DRELK Internal: fread returned 0 bytes (384 expected). [analyze]\n"
       "Drelk: Error reading section headers\n\n"},
      {"e_shnum claims 65535", ElfObject(sound).section_count(0xFFFF).bytes(), Outcome::kFailed,
       "Drelk: DRELK Internal: fread returned 384 bytes (4194240 expected). [analyze]\n"
       "Drelk: Error reading section headers\n\n"},
      {"symbol entry size 20", ElfObject(sound).symbol_entry_size(20).bytes(), Outcome::kFailed,
       "Drelk: Error - bad symbol table entry size 20 (expecting 24)\n\n"},
      {"symbol table linked to .text", ElfObject(sound).symbol_table_link(1).bytes(),
       Outcome::kFailed,
       "Drelk: Error - symbol table links to section 1, which is no string table\n\n"},
      {"symbol table linked beyond the sections", ElfObject(sound).symbol_table_link(70).bytes(),
       Outcome::kFailed,
       "Drelk: Error - symbol table links to section 70, which is no string table\n\n"},
      {"symbol table cut short by the end of the file",
       ElfObject(sound).section_offset(".symtab", sound.layout().size - 24).bytes(),
       Outcome::kFailed,
       "Drelk: Object Format Error: Section 3 data lies outside the object\n\n"
       "Drelk: DRELK Internal: fread returned 24 bytes (48 expected). [analyze]\n"
       "Drelk: Error reading symbol table\n\n"},
      {"string table outside the file",
       ElfObject(sound).section_offset(".strtab", 1ull << 62).bytes(), Outcome::kFailed,
       "Drelk: Object Format Error: Section 4 data lies outside the object\n\n"
       "Drelk: DRELK Internal: fread returned 0 bytes (6 expected). [analyze]\n"
       "Drelk: Read of string table failed\n\n"
       "Drelk: DRELK Internal: name offset        1 is outside string table\n"},
      {"sections sharing bytes", ElfObject(sound).section_offset(".data", text_at + 8).bytes(),
       Outcome::kOk, "Drelk: Object Format Error: Raw data overlap between sections 1 and 2\n\n"},
  };
  for (const Case& c : cases) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(c.bytes, "x.o"), c.result) << c.what;
    EXPECT_EQ(run.diagnostics(), c.diagnostics) << c.what;
  }
}

TEST(ElfChecks, SymbolsOutsideTheirTablesAreReportedAndTheScanGoesOn) {
  ElfSymbol unnamed{"", 0, 8, elf_info(STB_GLOBAL, elfv::STT_OBJECT), elfv::SHN_COMMON, {}, 0x1000};
  ElfSymbol far_section{"far_", 0, 16, elf_info(STB_GLOBAL, elfv::STT_FUNC), 50, {}, {}};
  InMemoryRun run;
  EXPECT_EQ(run.analyze(ElfObject()
                            .section(".text", 16)
                            .symbol(unnamed)
                            .symbol(far_section)
                            .common("after_", 4)
                            .bytes(),
                        "x.o"),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: name offset     1000 is outside string table\n"
            "Drelk: Error: Section number is out of range\n\n");
  // The out-of-range function is registered before it is reported, as in COFF.
  EXPECT_EQ(procedures(run), (Lines{"far_@x.o"}));
  EXPECT_EQ(blocks(run), (Lines{"after_ 4@x.o"}));
}

// Members of every archive style are read by the reader of their own format.
TEST(ElfArchives, EveryStyleAndMixedFormats) {
  const std::vector<uint8_t> elf = ElfObject().common("blk_", 96).bytes();
  const std::vector<uint8_t> coff = CoffObject().common("blk_", 48).bytes();
  for (const ArchiveStyle style : {ArchiveStyle::Gnu, ArchiveStyle::NoLinkerMembers,
                                   ArchiveStyle::Microsoft, ArchiveStyle::Bsd}) {
    const std::vector<uint8_t> library = Archive()
                                             .style(style)
                                             .member("a.o", elf)
                                             .member("a_long_member_name.obj", coff)
                                             .member("with blank.o", elf)
                                             .symbol("blk_", 0)
                                             .bytes();
    InMemoryRun run;
    EXPECT_EQ(run.analyze(library, "lib.a"), Outcome::kOk) << static_cast<int>(style);
    EXPECT_EQ(run.diagnostics(), "") << static_cast<int>(style);
    EXPECT_EQ(blocks(run), (Lines{"blk_ 96@lib.a (a.o) 48@lib.a (a_long_member_name.obj) "
                                  "96@lib.a (with blank.o)"}))
        << static_cast<int>(style);
  }
}

TEST(ElfArchives, BsdNameLongerThanItsMemberEndsTheWalk) {
  Archive archive =
      Archive().style(ArchiveStyle::Bsd).member("a.o", ElfObject().common("blk_", 96).bytes());
  archive.raw_member_name(0, "#1/99999");
  InMemoryRun run;
  EXPECT_EQ(run.analyze(archive.bytes(), "lib.a"), Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(), "Drelk: Error reading library member header\n\n");
}

// The object's extent inside an archive is its member: data beyond the member's end lies
// outside it, even where the archive goes on.
TEST(ElfArchives, SectionsBeyondTheirMemberLieOutsideIt) {
  const ElfObject object = ElfObject().section(".text", 16).common("blk_", 8);
  const size_t size = object.layout().size;
  const std::vector<uint8_t> library =
      Archive()
          .style(ArchiveStyle::Gnu)
          .member("a.o", ElfObject(object).section_offset(".text", size + 70).bytes())
          .member("b.o", object.bytes())
          .bytes();
  InMemoryRun run;
  run.analyze(library, "lib.a");
  EXPECT_EQ(run.diagnostics(),
            "Drelk: Object Format Error: Section 1 data lies outside the object\n\n");
}

}  // namespace
}  // namespace drelk::test
