// Inputs of a few megabytes whose names, offsets and counts all lead to the same bytes, at
// full size: each would cost minutes or gigabytes if any byte range were decoded once for
// every name that leads to it. Each test writes its input with a generator of its own and
// runs drelk under an address-space limit and a deadline; a plain drelk must also stay
// within a time and a peak memory. With DRELK_TABLE_ROWS_DIR set, every input is also kept
// in a folder of that directory named after its test, to be timed by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/dwarf.h"
#include "tests/e2e/e2e.h"
#include "tests/hostile/bounded_run.h"
#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"
#include "tests/support/dwarf_builder.h"
#include "tests/support/elf_builder.h"

namespace drelk::test {
namespace {

namespace fs = std::filesystem;

// Far above what each input takes (well under a second and 100 MB), so that a loaded
// machine does not fail them, and far below what decoding the same bytes again for every
// name would take.
constexpr double kTimeLimitSeconds = 10;
constexpr uint64_t kPeakMemoryLimitKib = 600 * 1024;
constexpr uint64_t kAddressSpaceLimit = 2ull << 30;

void put_u16(std::vector<uint8_t>& out, uint16_t value) {
  put_le(out, value, 2);
}
void put_u32(std::vector<uint8_t>& out, uint32_t value) {
  put_le(out, value, 4);
}

// A COFF file header: machine i386, no optional header.
std::vector<uint8_t> coff_header(uint16_t sections, uint32_t symbol_table, uint32_t symbols) {
  std::vector<uint8_t> header;
  put_u16(header, 0x14C);
  put_u16(header, sections);
  put_u32(header, 0);
  put_u32(header, symbol_table);
  put_u32(header, symbols);
  put_u16(header, 0);
  put_u16(header, 0);
  return header;
}

// A COFF object of `symbols` symbol records named "x" of no storage class (18 MB for a
// million) and an empty string table.
std::vector<uint8_t> object_of_plain_symbols(uint32_t symbols) {
  std::vector<uint8_t> object = coff_header(0, 20, symbols);
  for (uint32_t i = 0; i < symbols; ++i) {
    object.push_back('x');
    object.resize(object.size() + 17);
  }
  put_u32(object, 4);
  return object;
}

// An archive member header of the ar format: name, zeros, the size in decimal, "`\n".
std::string member_header(const std::string& name, size_t size) {
  char header[61];
  std::snprintf(header, sizeof header, "%-16s%-12s%-6s%-6s%-8s%-10zu`\n", name.c_str(), "0", "0",
                "0", "644", size);
  return std::string(header, 60);
}

class TableRows : public DrelkRun {
 protected:
  BoundedResult run_row(const std::vector<std::string>& arguments) {
    keep_inputs();
    Limits limits;
    limits.deadline_seconds = drelk_is_instrumented() ? 1200 : 120;
    if (!drelk_is_instrumented()) limits.address_space_bytes = kAddressSpaceLimit;
    const BoundedResult r = run_bounded(drelk_binary(), arguments, dir.str(), limits);
    EXPECT_FALSE(r.timed_out) << "killed after " << r.wall_seconds << " s";
    if (!drelk_is_instrumented()) {
      EXPECT_LT(r.seconds, kTimeLimitSeconds);
      EXPECT_LT(r.peak_rss_kib, kPeakMemoryLimitKib);
    }
    RecordProperty("seconds", std::to_string(r.seconds));
    RecordProperty("peak_rss_kib", std::to_string(r.peak_rss_kib));
    return r;
  }

 private:
  void keep_inputs() const {
    const char* kept = std::getenv("DRELK_TABLE_ROWS_DIR");
    if (kept == nullptr || *kept == '\0') return;
    const fs::path to =
        fs::path(kept) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(to);
    fs::create_directories(to);
    fs::copy(dir.path(), to, fs::copy_options::recursive);
  }
};

// A Microsoft library whose 214,749 member offsets each lead to a COFF object of 143
// sections in one place: one 20-byte period of bytes serves as every member's file header
// and, twice over, as each of its section headers. The members' data all overlap: the first
// is read (10,001 diagnostics), the rest are reported once.
TEST_F(TableRows, LibraryOfMembersThatAllShareTheirBytes) {
  constexpr uint32_t kMembers = 214749;
  constexpr uint16_t kSections = 143;
  // Machine, sections, time stamp, symbol table at 0 with 4 symbols, no optional header;
  // as section headers: raw data of 0x10000 bytes at 0x008F014C, relocations at 0.
  std::vector<uint8_t> period = coff_header(kSections, 0, 4);
  period[18] = 1;  // characteristics, and the raw data size's high half
  std::vector<uint8_t> bytes(kArchiveSignature, kArchiveSignature + 8);
  const std::string first = member_header("/", 4);
  bytes.insert(bytes.end(), first.begin(), first.end());
  put_u32(bytes, 0);  // no symbols
  const size_t second_size = 4 + 4 * size_t{kMembers} + 4;
  size_t region = bytes.size() + 60 + second_size;
  region += (4 - region % 4) % 4;
  const std::string second = member_header("/", second_size);
  bytes.insert(bytes.end(), second.begin(), second.end());
  put_u32(bytes, kMembers);
  for (uint32_t i = 0; i < kMembers; ++i) put_u32(bytes, static_cast<uint32_t>(region + 20 * i));
  put_u32(bytes, 0);
  bytes.resize(region);
  const size_t region_size = 20 * size_t{kMembers} + 60 + 20 + kSections * 40 + 40;
  while (bytes.size() < region + region_size)
    bytes.insert(bytes.end(), period.begin(), period.end());
  dir.write("shared.lib", bytes);

  const BoundedResult r = run_row({"shared.lib"});
  EXPECT_NE(r.program.standard_error.find("overlaps a member already read"), std::string::npos);
  EXPECT_EQ(r.program.exit_status, 255);
}

// A GNU archive of 4,000 members of 20 bytes, each a COFF file header whose symbol table
// pointer reaches the one table of a million symbols at the archive's end: a member's
// tables lie within the member.
TEST_F(TableRows, MembersWhoseSymbolTablesAllLieInTheLastMember) {
  constexpr uint32_t kMembers = 4000;
  constexpr uint32_t kSymbols = 1000000;
  const auto archive = [&](const std::vector<uint32_t>& pointers) {
    Archive built = Archive().style(ArchiveStyle::NoLinkerMembers);
    for (uint32_t i = 0; i < kMembers; ++i) {
      built.member("m" + std::to_string(i) + ".obj", coff_header(0, pointers[i], kSymbols));
    }
    return built.member("table.obj", object_of_plain_symbols(kSymbols));
  };
  const std::vector<size_t> headers =
      archive(std::vector<uint32_t>(kMembers, 0)).layout().member_header_offsets;
  const size_t table = headers[kMembers] + 60 + 20;
  std::vector<uint32_t> pointers;
  for (uint32_t i = 0; i < kMembers; ++i) {
    pointers.push_back(static_cast<uint32_t>(table - (headers[i] + 60)));
  }
  dir.write("members.a", archive(pointers).bytes());

  const BoundedResult r = run_row({"members.a"});
  EXPECT_NE(r.program.standard_error.find("Object Format Error: The symbol table lies outside "
                                          "the object"),
            std::string::npos)
      << r.program.standard_error.substr(0, 2000);
  EXPECT_EQ(r.program.exit_status, 255);
}

// Files read ahead hold no descriptor while they wait for their turn, and no more files are
// opened ahead than a low limit of open files leaves room for: while the run reads an object
// of a million symbols, forty objects of more than a mebibyte each (too large to be read
// ahead) are opened ahead and wait, and under a limit of 16 open files every one is read.
TEST_F(TableRows, FilesOpenedAheadStayWithinALowLimitOfOpenFiles) {
  dir.write("a/first.obj", object_of_plain_symbols(1000000));
  std::vector<uint8_t> object = object_declaring("_x_", 4);
  object.resize(object.size() + (size_t{1} << 20) + 4096, 0);
  std::vector<std::string> paths;
  for (int i = 0; i < 40; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "b/f%02d.obj", i);
    dir.write(name, object);
    paths.push_back(name);
  }
  Limits limits;
  limits.open_files = 16;
  limits.deadline_seconds = drelk_is_instrumented() ? 1200 : 120;
  const BoundedResult r = run_bounded(drelk_binary(), {"-j4", "a/first", "b/*"}, dir.str(), limits);
  EXPECT_EQ(r.program.standard_error, "");
  std::string report = report_of("_x_", 4, paths);
  report.replace(report.find("in 40 objects"), 13, "in 41 objects");  // first.obj too
  EXPECT_EQ(r.program.standard_output, report);
  EXPECT_EQ(r.program.exit_status, 0);
}

// A thin archive of 1,000 members that all name one object of 18 MB: the file is read once.
TEST_F(TableRows, ThinArchiveThatNamesOneObjectAThousandTimes) {
  const std::vector<uint8_t> object = object_of_plain_symbols(1000000);
  dir.write("big.obj", object);
  std::string thin = kThinArchiveSignature;
  for (int i = 0; i < 1000; ++i) thin += member_header("big.obj/", object.size());
  dir.write("thin.a", thin);

  const BoundedResult r = run_row({"thin.a"});
  EXPECT_EQ(r.program.standard_error,
            "Drelk: Error - thin archive member file big.obj named again\n\n");
  EXPECT_EQ(r.program.exit_status, 255);
}

// 70,000 LTO symbol tables that all pair with one extension of 16 MB: it is decoded once.
TEST_F(TableRows, LtoSymbolTablesThatShareOneExtension) {
  // One record each: a_, a COMMON block of 8 bytes, in slot 0 of the extension.
  const std::vector<uint8_t> table = {'a', '_', 0, 0, 4, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ElfObject object;
  for (int i = 0; i < 70000; ++i) object.section_bytes(".gnu.lto_.symtab.1", table);
  std::vector<uint8_t> extension(16u << 20);
  extension[0] = 1;  // version 1
  extension[1] = 2;  // slot 0: a variable
  object.section_bytes(".gnu.lto_.ext_symtab.1", std::move(extension));
  object.common("__gnu_lto_slim", 1, 1).extended_numbering();
  dir.write("lto.o", object.bytes());

  const BoundedResult r = run_row({"lto.o"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_NE(r.program.standard_output.find(" a_\n"), std::string::npos);
}

// An ELF object declaring blk_, with the debug information of one block and `rela` as the
// RELA sections of .debug_info (section 1).
ElfObject object_with_debug_information() {
  const DwarfBuilder dwarf = common_block_dwarf("blk_", {{0, 4, dwarf::DW_ATE_signed}});
  return ElfObject()
      .section_bytes(".debug_info", dwarf.info)
      .section_bytes(".debug_abbrev", dwarf.abbrev)
      .common("blk_", 16);
}

// RELA records of `count` relocations (R_X86_64_32 against symbol 0), at offsets from
// `first` downwards.
std::vector<uint8_t> rela_records(uint32_t count, uint64_t first) {
  std::vector<uint8_t> records;
  for (uint32_t i = 0; i < count; ++i) {
    put_le(records, first - i, 8);
    put_le(records, 10, 8);
    put_le(records, 0, 8);
  }
  return records;
}

constexpr uint32_t kSht_Rela = 4;

// 100 RELA sections that all relocate .debug_info from one table of 100,000 records: the
// table is read once.
TEST_F(TableRows, RelaSectionsThatShareOneTable) {
  ElfObject object = object_with_debug_information();
  object.section_bytes(".rela.debug_info", rela_records(100000, 1u << 30), kSht_Rela)
      .section_info(".rela.debug_info", 1);
  for (int i = 0; i < 99; ++i) object.section_bytes(".rela.again", {}, kSht_Rela);
  object.section_info(".rela.again", 1);
  const ElfLayout layout = object.layout();
  for (size_t i = 0; i < layout.section_names.size(); ++i) {
    if (layout.section_names[i] != ".rela.debug_info") continue;
    object.section_offset(".rela.again", layout.section_offsets[i])
        .section_size(".rela.again", layout.section_sizes[i]);
  }
  dir.write("rela.o", object.bytes());

  // The sections share their bytes: their overlaps are reported, and nothing else.
  const BoundedResult r = run_row({"-m", "rela.o"});
  EXPECT_EQ(r.program.standard_error.find("Debug Information Error"), std::string::npos)
      << r.program.standard_error.substr(0, 2000);
  EXPECT_NE(r.program.standard_error.find("Raw data overlap between sections 3 and 4"),
            std::string::npos);
  EXPECT_EQ(r.program.exit_status, 255);
}

// 1,000 RELA sections of 1,000 records each for .debug_info, each section's offsets below
// the one before: they are gathered and sorted once.
TEST_F(TableRows, ThousandRelaSectionsOutOfOrder) {
  ElfObject object = object_with_debug_information();
  for (uint32_t i = 0; i < 1000; ++i) {
    object.section_bytes(".rela.debug_info", rela_records(1000, (1u << 30) - 1000 * i), kSht_Rela);
  }
  object.section_info(".rela.debug_info", 1);
  dir.write("rela.o", object.bytes());

  const BoundedResult r = run_row({"-m", "rela.o"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.exit_status, 0);
}

// 15,000 RELA sections of .text that all claim one table of 200,000 calls of lib_: the
// table is decoded once, and the call still found.
TEST_F(TableRows, CodeRelocationSectionsThatShareOneTable) {
  constexpr uint64_t kShf_Execinstr = 0x4;
  constexpr uint64_t kR_X86_64_Plt32 = 4;
  std::vector<uint8_t> calls;
  for (uint32_t i = 0; i < 200000; ++i) {
    put_le(calls, i, 8);
    put_le(calls, (uint64_t{1} << 32) | kR_X86_64_Plt32, 8);  // symbol 1, lib_
    put_le(calls, 0, 8);
  }
  ElfObject object;
  object.section(".text", 16).section_flags(".text", kShf_Execinstr).undefined("lib_");
  object.section_bytes(".rela.text", calls, kSht_Rela);
  for (int i = 0; i < 15000; ++i) object.section_bytes(".rela.again", {}, kSht_Rela);
  const ElfLayout layout = object.layout();
  for (const char* name : {".rela.text", ".rela.again"}) {
    object.section_info(name, 1).section_link(name, static_cast<uint32_t>(layout.symtab_index));
  }
  for (size_t i = 0; i < layout.section_names.size(); ++i) {
    if (layout.section_names[i] != ".rela.text") continue;
    object.section_offset(".rela.again", layout.section_offsets[i])
        .section_size(".rela.again", layout.section_sizes[i]);
  }
  dir.write("calls.o", object.bytes());
  dir.write("lib.o", ElfObject().common("lib_", 16).bytes());

  const BoundedResult r = run_row({"-p", "calls.o", "lib.o"});
  EXPECT_NE(r.program.standard_output.find("Common Block lib_ may conflict with procedure lib_"),
            std::string::npos)
      << r.program.standard_output;
  EXPECT_NE(r.program.standard_error.find("Raw data overlap between sections"), std::string::npos)
      << r.program.standard_error.substr(0, 500);
  EXPECT_EQ(r.program.exit_status, 255);
}

// Sets the abbreviation offset of the DWARF 5 unit that starts at `unit`.
void set_abbreviation_offset(DwarfBuilder& dwarf, size_t unit, uint32_t offset) {
  for (size_t i = 0; i < 4; ++i) dwarf.info[unit + 8 + i] = static_cast<uint8_t>(offset >> (8 * i));
}

// 2,000 units that take turns between two abbreviation tables of some 3 MB each: each
// table is decoded once.
TEST_F(TableRows, UnitsThatTakeTurnsBetweenTwoAbbreviationTables) {
  using namespace dwarf;
  DwarfBuilder dwarf;
  std::vector<uint32_t> tables;
  for (int table = 0; table < 2; ++table) {
    tables.push_back(static_cast<uint32_t>(dwarf.abbrev.size()));
    dwarf.abbreviation(1, DW_TAG_compile_unit, false, {{DW_AT_name, DW_FORM_string}});
    for (uint64_t code = 2; dwarf.abbrev.size() < tables.back() + (3u << 20); ++code) {
      dwarf.abbreviation(code, DW_TAG_variable, false, {{DW_AT_name, DW_FORM_string}});
    }
    dwarf.end_abbreviations();
  }
  for (int unit = 0; unit < 2000; ++unit) {
    const size_t start = dwarf.info.size();
    dwarf.begin_unit().code(1).string("a.f").end_unit();
    set_abbreviation_offset(dwarf, start, tables[unit % 2]);
  }
  dir.write("turns.o", ElfObject()
                           .common("blk_", 16)
                           .section_bytes(".debug_info", dwarf.info)
                           .section_bytes(".debug_abbrev", dwarf.abbrev)
                           .bytes());

  const BoundedResult r = run_row({"-m", "turns.o"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.exit_status, 0);
}

// A DWARF 4 line table header naming `files` files "a", no directories, no program.
std::vector<uint8_t> line_table_of(uint32_t files) {
  std::vector<uint8_t> header = {1, 1, 1, static_cast<uint8_t>(-5), 14, 13};
  for (int i = 0; i < 12; ++i) header.push_back(0);  // standard opcode lengths
  header.push_back(0);                               // no include directories
  for (uint32_t i = 0; i < files; ++i) header.insert(header.end(), {'a', 0, 0, 0, 0});
  header.push_back(0);
  std::vector<uint8_t> table;
  put_u32(table, static_cast<uint32_t>(2 + 4 + header.size()));
  put_u16(table, 4);
  put_u32(table, static_cast<uint32_t>(header.size()));
  table.insert(table.end(), header.begin(), header.end());
  return table;
}

// 2,000 units that share one line table of a million files, each with a block declared in
// one of them: the table is read once.
TEST_F(TableRows, UnitsThatShareALineTableOfAMillionFiles) {
  using namespace dwarf;
  DwarfBuilder dwarf;
  dwarf
      .abbreviation(1, DW_TAG_compile_unit, true,
                    {{DW_AT_name, DW_FORM_string}, {DW_AT_stmt_list, DW_FORM_sec_offset}})
      .abbreviation(2, DW_TAG_subprogram, true, {{DW_AT_name, DW_FORM_string}})
      .abbreviation(3, DW_TAG_common_block, true,
                    {{DW_AT_name, DW_FORM_string},
                     {DW_AT_linkage_name, DW_FORM_string},
                     {DW_AT_decl_file, DW_FORM_data4}})
      .abbreviation(4, DW_TAG_variable, false,
                    {{DW_AT_name, DW_FORM_string},
                     {DW_AT_type, DW_FORM_ref4},
                     {DW_AT_location, DW_FORM_exprloc}})
      .abbreviation(5, DW_TAG_base_type, false,
                    {{DW_AT_byte_size, DW_FORM_data1}, {DW_AT_encoding, DW_FORM_data1}})
      .end_abbreviations();
  for (uint32_t unit = 0; unit < 2000; ++unit) {
    dwarf.begin_unit().code(1).string("a.f").u32(0).code(2).string("s");
    dwarf.code(3).string("blk").string("blk_").u32(1 + unit * 499);
    const uint32_t type = dwarf.here() + 17 + 2;
    dwarf.code(4).string("m").u32(type).address_location(0);
    dwarf.end_children().end_children();
    dwarf.code(5).u8(4).u8(DW_ATE_signed);
    dwarf.end_children().end_unit();
  }
  dir.write("lines.o", ElfObject()
                           .common("blk_", 16)
                           .section_bytes(".debug_info", dwarf.info)
                           .section_bytes(".debug_abbrev", dwarf.abbrev)
                           .section_bytes(".debug_line", line_table_of(1000000))
                           .bytes());

  const BoundedResult r = run_row({"-m", "lines.o"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.exit_status, 0);
}

// 8,000 members whose type is a chain of typedefs at the longest chain described, down to
// an array of a million children (none of them a dimension) whose element lies beyond it:
// the chain, and the array's children, are read once.
TEST_F(TableRows, MembersOfATypeChainAtItsCap) {
  using namespace dwarf;
  constexpr uint32_t kMembers = 8000;
  constexpr uint32_t kTypedefs = 15;
  DwarfBuilder dwarf = common_block_abbreviations();
  // The abbreviations end with a 0 byte: the three more go before it.
  dwarf.abbrev.pop_back();
  dwarf.abbreviation(6, DW_TAG_typedef, false, {{DW_AT_type, DW_FORM_ref4}})
      .abbreviation(7, DW_TAG_array_type, true, {{DW_AT_type, DW_FORM_ref4}})
      .abbreviation(8, DW_TAG_typedef, false, {})
      .end_abbreviations();
  dwarf.begin_unit().code(kUnitCode).string("a.f").code(kRoutineCode).string("s");
  dwarf.code(kBlockCode).string("blk").string("blk_");
  const uint32_t member_size = 1 + 2 + 4 + 10;
  const uint32_t chain = dwarf.here() + kMembers * member_size + 2;
  for (uint32_t i = 0; i < kMembers; ++i) {
    dwarf.code(kMemberCode).string("m").u32(chain).address_location(i * 4);
  }
  dwarf.end_children().end_children();
  for (uint32_t i = 0; i < kTypedefs; ++i) dwarf.code(6).u32(chain + (i + 1) * 5);
  const uint32_t element = chain + kTypedefs * 5 + 5 + 1000000 + 1;
  dwarf.code(7).u32(element);
  for (uint32_t i = 0; i < 1000000; ++i) dwarf.code(8);
  dwarf.end_children();
  dwarf.code(kBaseTypeCode).u8(4).u8(DW_ATE_signed);
  dwarf.end_children().end_unit();
  dir.write("chain.o", ElfObject()
                           .common("blk_", 32000)
                           .section_bytes(".debug_info", dwarf.info)
                           .section_bytes(".debug_abbrev", dwarf.abbrev)
                           .bytes());

  const BoundedResult r = run_row({"-m", "chain.o"});
  EXPECT_EQ(r.program.standard_error.find("Out of memory"), std::string::npos)
      << r.program.standard_error.substr(0, 2000);
}

}  // namespace
}  // namespace drelk::test
