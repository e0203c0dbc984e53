// The Mach-O reader: what counts as a COMMON declaration, a procedure or initialised data in
// every class and byte order, the checks of damaged load commands, tables and section
// layouts; universal files slice by slice; Darwin archives' index members.
#include <gtest/gtest.h>

#include "objreader/coff/coff_reader.h"
#include "objreader/elf/elf_reader.h"
#include "objreader/macho/macho_reader.h"
#include "objreader/objreader.h"
#include "tests/support/archive_builder.h"
#include "tests/support/elf_builder.h"
#include "tests/support/in_memory_run.h"
#include "tests/support/macho_builder.h"

namespace drelk::test {
namespace {

using Lines = std::vector<std::string>;
using machov::N_EXT;
using machov::N_SECT;

// An object with one symbol of every kind the scan tells apart, in sections __text (1),
// __stubs (2, some instructions), __data (3) and __bss (4, zero-fill).
MachOObject every_kind(MachOObject object) {
  return object.section("__TEXT", "__text", 64, machov::kCode)
      .section("__TEXT", "__stubs", 12, machov::S_ATTR_SOME_INSTRUCTIONS)
      .section("__DATA", "__data", 32)
      .section("__DATA", "__bss", 64, machov::S_ZEROFILL)
      .common("_blk_", 400, 5)
      .common("___BLNK__", 20)
      .symbol(MachSymbol{"_hidden_", machov::N_PEXT | N_EXT, 0, 0x300, 8, {}})
      .undefined("_ext_")  // n_value 0: a reference that declares nothing
      .symbol(MachSymbol{"_local_", machov::N_UNDF, 0, 0, 16, {}})  // not external: no common
      .defined("_sub_", 1)
      .defined("_helper", 1, false)  // a static function is a procedure too
      .defined("_stub_", 2)
      .defined("_blk_", 3)  // initialises /BLK/: marks the object's own declaration
      .defined("_init_", 3)
      .defined("_static_", 3, false)
      .defined("_uninit_", 4)
      .defined("___BLNK__", 4, false)  // not external: initialises nothing
      .symbol(MachSymbol{"_abs_", machov::N_ABS | N_EXT, 0, 0, 64, {}})
      .symbol(MachSymbol{"_ind_", machov::N_INDR | N_EXT, 0, 0, 64, {}})
      // Debugging entries, whatever else their bits say, declare nothing and are not checked.
      .symbol(MachSymbol{"_sub_", machov::N_FUN, 99, 0, 0, {}})
      .symbol(MachSymbol{"_dbg_", machov::N_GSYM | N_EXT, 0, 0, 8, 0x7FFFFFFF});
}

TEST(MachOScan, EveryClassAndByteOrderGivesTheSameDeclarations) {
  const std::vector<std::pair<const char*, MachOObject>> encodings = {
      {"64-bit little-endian", MachOObject()},
      {"32-bit little-endian", MachOObject().bits32()},
      {"64-bit big-endian", MachOObject().big_endian().cpu(0x01000012)},
      {"32-bit big-endian", MachOObject().bits32().big_endian().cpu(machov::CPU_TYPE_POWERPC)},
  };
  for (const auto& [label, object] : encodings) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(every_kind(object).bytes(), "x.o"), Outcome::kOk) << label;
    EXPECT_EQ(run.diagnostics(), "") << label;
    EXPECT_EQ(run.blocks(), (Lines{"___BLNK__ 20@x.o", "_blk_ 400I@x.o", "_hidden_ 8@x.o",
                                   "_init_ 32I@x.o", "_uninit_ 64I@x.o"}))
        << label;
    EXPECT_EQ(run.procedures(), (Lines{"_helper@x.o", "_stub_@x.o", "_sub_@x.o"})) << label;
  }
}

// A Mach-O definition has no size, but its object's layout bounds it: up to the next symbol
// of its section, or the section's end. Where the object does not declare the block it is a
// reference of its own, as a COFF one is.
TEST(MachOScan, DefinitionsAreBoundedByTheirSection) {
  InMemoryRun run;
  run.analyze(MachOObject().common("_const_", 12).bytes(), "main.o");
  run.analyze(MachOObject().section("__DATA", "__data", 8).defined("_const_", 1).bytes(),
              "consts.o");
  run.analyze(MachOObject()
                  .section("__DATA", "__data", 24)
                  .defined("_const_", 1)
                  .symbol(MachSymbol{"_next_", machov::N_SECT | N_EXT, 1, 0, 4, {}})
                  .bytes(),
              "two.o");
  EXPECT_EQ(run.blocks(), (Lines{"_const_ 12@main.o 8I@consts.o 4I@two.o", "_next_ 20I@two.o"}));
}

MachOObject sound() {
  return MachOObject()
      .section("__TEXT", "__text", 16, machov::kCode, 2)
      .section("__DATA", "__data", 8, 0, 1)
      .common("_blk_", 8);
}

// Damaged objects: each differs from a sound one in one field.
TEST(MachOChecks, DamagedObjectsGetTheirDiagnostics) {
  const MachOLayout layout = sound().layout();
  const std::string not_an_object = "Drelk: The file x.o is not an object file.\n";
  const std::string name_outside =
      "Drelk: DRELK Internal: name offset        1 is outside string table\n";
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    Outcome result;
    std::string diagnostics;
  };
  const std::vector<Case> cases = {
      {"file type 0", MachOObject(sound()).file_type(0).bytes(), Outcome::kFailed,
       "Drelk: Error - unsupported Mach-O header in x.o\n\n"},
      {"file type 13", MachOObject(sound()).file_type(13).bytes(), Outcome::kFailed,
       "Drelk: Error - unsupported Mach-O header in x.o\n\n"},
      {"executable", MachOObject(sound()).file_type(machov::MH_EXECUTE).bytes(), Outcome::kOk,
       not_an_object},
      {"dynamic library, read for its exported data",
       MachOObject(sound()).file_type(machov::MH_DYLIB).bytes(), Outcome::kOk, ""},
      {"debug companion, read only under -m",
       MachOObject(sound()).file_type(machov::MH_DSYM).bytes(), Outcome::kOk,
       "Drelk: The file x.o is debug information only (-m reads its COMMON block layouts), not "
       "an object file.\n"},
      {"header cut short", sound().truncated(10), Outcome::kFailed,
       "Drelk: DRELK Internal: fread returned 6 bytes (28 expected). [analyze]\n"
       "Drelk: Error reading file header\n\n"},
      {"load commands beyond the file", MachOObject(sound()).commands_size(0x100000).bytes(),
       Outcome::kFailed,
       "Drelk: DRELK Internal: fread returned " + std::to_string(layout.size - 32) +
           " bytes (1048576 expected). [analyze]\nDrelk: Error reading section headers\n\n"},
      {"one command more than they hold", MachOObject(sound()).command_count(3).bytes(),
       Outcome::kFailed, "Drelk: Error - load command 2 lies outside the load commands\n\n"},
      {"command size 0", MachOObject(sound()).command_size(0, 0).bytes(), Outcome::kFailed,
       "Drelk: Error - load command 0 has a bad size of 0 bytes\n\n"},
      {"command beyond the others", MachOObject(sound()).command_size(1, 32).bytes(),
       Outcome::kFailed, "Drelk: Error - load command 1 lies outside the load commands\n\n"},
      {"segment smaller than its header", MachOObject(sound()).command_size(0, 64).bytes(),
       Outcome::kFailed,
       "Drelk: Error - load command 0 has a bad size of 64 bytes\n\n"
       "Drelk: Error - load command 1 has a bad size of 0 bytes\n\n"},
      {"more sections than the segment holds", MachOObject(sound()).section_count(3).bytes(),
       Outcome::kFailed, "Drelk: Error - load command 0 is too small for its 3 sections\n\n"},
      {"symbol table command too small", MachOObject(sound()).command_size(1, 16).bytes(),
       Outcome::kFailed, "Drelk: Error - load command 1 has a bad size of 16 bytes\n\n"},
      {"symbol table past the end", MachOObject(sound()).symbol_offset(0xFFFFFFF0).bytes(),
       Outcome::kFailed,
       "Drelk: DRELK Internal: fread returned 0 bytes (16 expected). [analyze]\n"
       "Drelk: Error reading symbol table\n\n"},
      {"string table past the end", MachOObject(sound()).string_offset(0xFFFFFFF0).bytes(),
       Outcome::kFailed,
       "Drelk: DRELK Internal: fread returned 0 bytes (7 expected). [analyze]\n"
       "Drelk: Read of string table failed\n\n" +
           name_outside},
      {"sections sharing data",
       MachOObject(sound()).section_offset(2, layout.section_offsets[0] + 8).bytes(), Outcome::kOk,
       "Drelk: Object Format Error: Raw data overlap between sections 1 and 2\n\n"},
      {"data over relocations",
       MachOObject(sound()).section_offset(1, layout.section_offsets[1] + 24).bytes(), Outcome::kOk,
       "Drelk: Object Format Error: Section 1 raw data overlaps section 2 relocations\n\n"},
      {"relocations over data",
       MachOObject(sound()).relocations_offset(1, layout.section_offsets[1]).bytes(), Outcome::kOk,
       "Drelk: Object Format Error: Section 1 relocations overlap section 2 raw data\n\n"},
      {"relocations over relocations",
       MachOObject(sound()).relocations_offset(2, layout.section_offsets[1] + 16).bytes(),
       Outcome::kOk, "Drelk: Object Format Error: Relocations overlap for sections 1 and 2\n\n"},
      {"data beyond the object", MachOObject(sound()).section_offset(2, 0xFFFFFFFF).bytes(),
       Outcome::kOk, "Drelk: Object Format Error: Section 2 data lies outside the object\n\n"},
      {"relocations beyond the object", MachOObject(sound()).relocations_offset(1, 0x10000).bytes(),
       Outcome::kOk,
       "Drelk: Object Format Error: Section 1 relocations lie outside the object\n\n"},
  };
  for (const Case& c : cases) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(c.bytes, "x.o"), c.result) << c.what;
    EXPECT_EQ(run.diagnostics(), c.diagnostics) << c.what;
  }
}

// Zero-fill sections hold nothing in the file: clang gives them all offset 0.
TEST(MachOChecks, ZeroFillSectionsOverlapNothing) {
  InMemoryRun run;
  run.analyze(MachOObject()
                  .section("__DATA", "__bss", 64, machov::S_ZEROFILL)
                  .section("__DATA", "__common", 64, machov::S_ZEROFILL)
                  .common("_blk_", 8)
                  .bytes(),
              "x.o");
  EXPECT_EQ(run.diagnostics(), "");
}

TEST(MachOChecks, SymbolsOutsideTheirTablesAreReportedAndTheScanGoesOn) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(MachOObject()
                            .section("__TEXT", "__text", 16, machov::kCode)
                            .symbol(MachSymbol{"", N_EXT, 0, 0, 8, 0x1000})
                            .defined("_far_", 2)
                            .defined("_nowhere_", 0)
                            .common("_after_", 4)
                            .bytes(),
                        "x.o"),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: name offset     1000 is outside string table\n"
            "Drelk: Error: Section number is out of range\n\n"
            "Drelk: Error: Section number is out of range\n\n");
  // Defined in no section of the object: external data, classified before it is reported.
  EXPECT_EQ(run.blocks(), (Lines{"_after_ 4@x.o"}));
  EXPECT_EQ(run.procedures(), Lines{});
}

// Universal files: each slice is an object of its own, named by its architecture, so the
// marks of one slice never land on another's declarations.
TEST(UniversalFiles, EachSliceIsAnObjectOfItsOwn) {
  const std::vector<uint8_t> x86_64 = MachOObject().common("_blk_", 96).bytes();
  const std::vector<uint8_t> arm64 = MachOObject()
                                         .cpu(machov::CPU_TYPE_ARM64)
                                         .section("__DATA", "__data", 8)
                                         .defined("_blk_", 1)
                                         .common("_scr_", 88)
                                         .bytes();
  for (const bool fat64 : {false, true}) {
    UniversalFile file = UniversalFile()
                             .slice(machov::CPU_TYPE_X86_64, 3, x86_64)
                             .slice(machov::CPU_TYPE_ARM64, 0, arm64, 14);
    if (fat64) file.fat64();
    InMemoryRun run;
    EXPECT_EQ(run.analyze(file.bytes(), "x.o"), Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "");
    EXPECT_EQ(run.blocks(),
              (Lines{"_blk_ 96@x.o (x86_64) 8I@x.o (arm64)", "_scr_ 88@x.o (arm64)"}));
    const std::vector<const ObjectEntry*>& entries = run.registry().entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]->format, "universal");
    EXPECT_EQ(entries[2]->format, "macho");
    EXPECT_EQ(entries[2]->architecture, "arm64");
    EXPECT_EQ(entries[2]->member_offset, 16384u);
    EXPECT_EQ(object_file(*entries[2]), "x.o");
  }
}

TEST(UniversalFiles, ArchitecturesAreShownByTheirUsualNames) {
  const std::vector<uint8_t> object = MachOObject().common("_blk_", 8).bytes();
  UniversalFile file;
  for (const auto& [type, subtype] : std::vector<std::pair<uint32_t, uint32_t>>{
           {machov::CPU_TYPE_X86, 3},
           {machov::CPU_TYPE_X86_64, machov::CPU_SUBTYPE_X86_64_H},
           {machov::CPU_TYPE_ARM64, machov::CPU_SUBTYPE_ARM64E | 0x80000000},  // with capabilities
           {machov::CPU_TYPE_ARM, machov::CPU_SUBTYPE_ARM_V7},
           {machov::CPU_TYPE_ARM, 99},
           {305, 0}}) {
    file.slice(type, subtype, object);
  }
  InMemoryRun run;
  run.analyze(file.bytes(), "x.o");
  EXPECT_EQ(run.blocks(), (Lines{"_blk_ 8@x.o (arm) 8@x.o (arm64e) 8@x.o (armv7) "
                                 "8@x.o (cputype 305) 8@x.o (i386) 8@x.o (x86_64h)"}));
}

// A universal member of an archive, and a universal static library (lipo's: archives as
// slices): the architecture comes last, after the member.
TEST(UniversalFiles, ArchivesHoldUniversalFilesAndUniversalFilesHoldArchives) {
  const std::vector<uint8_t> x86_64 = MachOObject().common("_blk_", 96).bytes();
  const std::vector<uint8_t> arm64 =
      MachOObject().cpu(machov::CPU_TYPE_ARM64).common("_blk_", 88).bytes();
  const std::vector<uint8_t> universal = UniversalFile()
                                             .slice(machov::CPU_TYPE_X86_64, 3, x86_64)
                                             .slice(machov::CPU_TYPE_ARM64, 0, arm64, 14)
                                             .bytes();
  InMemoryRun member;
  member.analyze(Archive().style(ArchiveStyle::Bsd).member("x.o", universal).bytes(), "lib.a");
  EXPECT_EQ(member.diagnostics(), "");
  EXPECT_EQ(member.blocks(), (Lines{"_blk_ 96@lib.a (x.o) (x86_64) 88@lib.a (x.o) (arm64)"}));

  const auto library = [](const std::vector<uint8_t>& object) {
    return Archive().style(ArchiveStyle::Bsd).member("x.o", object).member("y.o", object).bytes();
  };
  InMemoryRun slices;
  slices.analyze(UniversalFile()
                     .slice(machov::CPU_TYPE_X86_64, 3, library(x86_64), 3)
                     .slice(machov::CPU_TYPE_ARM64, 0, library(arm64), 3)
                     .bytes(),
                 "lib.a");
  EXPECT_EQ(slices.diagnostics(), "");
  EXPECT_EQ(slices.blocks(), (Lines{"_blk_ 96@lib.a (x.o) (x86_64) 96@lib.a (y.o) (x86_64) "
                                    "88@lib.a (x.o) (arm64) 88@lib.a (y.o) (arm64)"}));

  // Inside an archive a universal file's slices are objects only.
  InMemoryRun nested;
  EXPECT_EQ(
      nested.analyze(
          Archive()
              .style(ArchiveStyle::Bsd)
              .member("lib.a",
                      UniversalFile().slice(machov::CPU_TYPE_X86_64, 3, library(x86_64), 3).bytes())
              .bytes(),
          "outer.a"),
      Outcome::kFailed);
  EXPECT_EQ(nested.diagnostics(),
            "Drelk: Error - unsupported universal file slice outer.a (lib.a) (x86_64)\n\n");
}

TEST(UniversalFiles, DamagedUniversalFiles) {
  const std::vector<uint8_t> object = MachOObject().common("_blk_", 8).bytes();
  const UniversalFile two = UniversalFile()
                                .slice(machov::CPU_TYPE_X86_64, 3, object)
                                .slice(machov::CPU_TYPE_ARM64, 0, object, 14);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string diagnostics;
    Lines blocks;
  };
  const std::vector<Case> cases = {
      {"a slice beyond the file",
       UniversalFile(two).slice_offset(0, 0xFFFFFF00).bytes(),
       "Drelk: Object Format Error: The x86_64 slice lies outside universal file x.o\n\n",
       {"_blk_ 8@x.o (arm64)"}},
      {"a slice larger than the file",
       UniversalFile(two).slice_size(1, 0xFFFFFFFF).bytes(),
       "Drelk: Object Format Error: The arm64 slice lies outside universal file x.o\n\n",
       {"_blk_ 8@x.o (x86_64)"}},
      {"more slices than the file holds",
       UniversalFile().slice(machov::CPU_TYPE_X86_64, 3, object, 0).slice_count(44).bytes(),
       "Drelk: DRELK Internal: fread returned " + std::to_string(object.size() + 20) +
           " bytes (880 expected). [analyze]\nDrelk: Error reading file header\n\n",
       {}},
      {"an empty slice",
       UniversalFile(two).slice_size(0, 0).bytes(),
       "Drelk: Error - unsupported universal file slice x.o (x86_64)\n\n",
       {"_blk_ 8@x.o (arm64)"}},
      {"a slice that is an ELF object",
       UniversalFile()
           .slice(machov::CPU_TYPE_X86_64, 3, ElfObject().common("blk_", 8).bytes())
           .bytes(),
       "Drelk: Error - unsupported universal file slice x.o (x86_64)\n\n",
       {}},
      {"a slice that is the universal file itself",
       UniversalFile(two).slice_offset(0, 0).bytes(),
       "Drelk: Error - unsupported universal file slice x.o (x86_64)\n\n",
       {"_blk_ 8@x.o (arm64)"}},
  };
  for (const Case& c : cases) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(c.bytes, "x.o"), Outcome::kFailed) << c.what;
    EXPECT_EQ(run.diagnostics(), c.diagnostics) << c.what;
    EXPECT_EQ(run.blocks(), c.blocks) << c.what;
  }
}

// A Java class file starts with the universal magic; its second word is its version.
TEST(UniversalFiles, JavaClassFilesAreNotUniversalFiles) {
  for (const uint32_t version : {45u, 52u, 0x0003002Du, 0xFFFF0041u}) {
    std::vector<uint8_t> bytes = {0xCA, 0xFE, 0xBA, 0xBE};
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes.push_back(static_cast<uint8_t>(version >> shift));
    bytes.resize(64, 0);
    InMemoryRun run;
    run.analyze(bytes, "Main.class");
    EXPECT_EQ(run.registry().entries.size(), 1u) << version;
    EXPECT_EQ(run.registry().entries[0]->format, "coff") << version;
  }
}

// Darwin's index members, in the name field or as "#1/N" names, are no objects.
TEST(MachOArchives, SymbolIndexesOfEveryNameArePassedOver) {
  const std::vector<uint8_t> index(16, 0);
  const std::vector<uint8_t> object = MachOObject().common("_blk_", 8).bytes();
  InMemoryRun run;
  EXPECT_EQ(run.analyze(Archive()
                            .style(ArchiveStyle::Bsd)
                            .member("__.SYMDEF SORTED", index)
                            .member("__.SYMDEF_64", index)
                            .member("__.SYMDEF_64 SORTED", index)
                            .member("x", index)
                            .member("a.o", object)
                            .raw_member_name(3, "__.SYMDEF SORTED")
                            .bytes(),
                        "lib.a"),
            Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(run.blocks(), (Lines{"_blk_ 8@lib.a (a.o)"}));
}

}  // namespace
}  // namespace drelk::test
