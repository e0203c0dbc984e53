// Resource bounds: inputs of a few bytes to a few megabytes that claim the largest counts
// and sizes the format can express. drelk runs under an address-space limit, as
// `ulimit -v 65536` would set it, and must give its diagnostics and finish in well under a
// second of processor time with a small peak memory, whatever the input claims.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/e2e.h"
#include "tests/hostile/bounded_run.h"
#include "tests/support/archive_builder.h"
#include "tests/support/bitcode_builder.h"
#include "tests/support/coff_builder.h"
#include "tests/support/dwarf_builder.h"
#include "tests/support/elf_builder.h"
#include "tests/support/macho_builder.h"
#include "tests/support/xcoff_builder.h"

namespace drelk::test {
namespace {

// `ulimit -v 65536`: a plain drelk needs about 10 MiB of it.
constexpr uint64_t kAddressSpaceLimit = 64ull << 20;
constexpr uint64_t kPeakMemoryLimitKib = 32 * 1024;
constexpr double kTimeLimitSeconds = 0.5;

class ResourceBounds : public DrelkRun {
 protected:
  // Writes `bytes` as input.obj, runs drelk on it under the limits and checks that it
  // finished in time and memory; returns what it wrote.
  BoundedResult run_on(const std::vector<uint8_t>& bytes, std::vector<std::string> arguments = {},
                       double time_limit = kTimeLimitSeconds) {
    dir.write("input.obj", bytes);
    arguments.push_back("input.obj");
    Limits limits;
    if (!drelk_is_instrumented()) limits.address_space_bytes = kAddressSpaceLimit;
    limits.deadline_seconds = 120;
    const BoundedResult r = run_bounded(drelk_binary(), arguments, dir.str(), limits);
    EXPECT_FALSE(r.timed_out) << "killed after " << r.wall_seconds << " s";
    if (!drelk_is_instrumented()) {
      EXPECT_LT(r.seconds, time_limit);
      EXPECT_LT(r.peak_rss_kib, kPeakMemoryLimitKib);
    }
    RecordProperty("seconds", std::to_string(r.seconds));
    RecordProperty("peak_rss_kib", std::to_string(r.peak_rss_kib));
    return r;
  }
};

const std::string kIncomplete = "Drelk: Processing is incomplete due to previous error(s).\n\n";
const std::string kNoBlocks =
    "Common Block Analysis\n\n\tNone of the objects scanned contain COMMON BLOCKS\n\n";

// 300,000 COMMON blocks in one 6 MB object need more than 64 MB. Under such a limit drelk
// must end with a diagnostic and the report of what it gathered (or, when even that does
// not fit, a second diagnostic), exit status 255: never an abort, never a success with
// declarations missing.
TEST_F(ResourceBounds, RunningOutOfMemoryIsSaidAndNeverASuccess) {
  if (drelk_is_instrumented()) GTEST_SKIP() << "needs the address-space limit of a plain drelk";
  CoffObject object;
  char name[16];
  for (int i = 0; i < 300000; ++i) {
    std::snprintf(name, sizeof name, "_b%05x_", i);
    object.common(name, 4);
  }
  dir.write("input.obj", object.bytes());
  for (const uint64_t megabytes : {32, 48, 64}) {
    Limits limits;
    limits.address_space_bytes = megabytes << 20;
    const BoundedResult r = run_bounded(drelk_binary(), {"-p", "input.obj"}, dir.str(), limits);
    EXPECT_FALSE(r.timed_out) << megabytes;
    EXPECT_EQ(r.program.exit_status, 255) << megabytes;
    EXPECT_EQ(r.program.standard_error.rfind("Drelk: Error: Out of memory", 0), 0u)
        << megabytes << ": " << r.program.standard_error;
    if (!r.program.standard_output.empty()) {
      // What was gathered is counted: -p shows no finding, then the summary.
      const std::string& shown = r.program.standard_output;
      EXPECT_EQ(shown.substr(0, kIncomplete.size()), kIncomplete) << megabytes;
      const std::string rest = shown.substr(std::min(shown.size(), kIncomplete.size()));
      const std::string counts = "; 0 errors, 0 warnings, 0 notes\n";
      EXPECT_TRUE(rest.empty() ||
                  (rest.rfind("Summary: ", 0) == 0 && rest.size() > counts.size() &&
                   rest.compare(rest.size() - counts.size(), counts.size(), counts) == 0))
          << megabytes << ": " << shown;
    }
  }
}

TEST_F(ResourceBounds, SymbolCountOfTwoToTheThirtyTwoMinusOne) {
  const BoundedResult r = run_on(CoffObject().common("_x_", 4).symbol_count(0xFFFFFFFF).bytes());
  // 2^32 - 1 records of 18 bytes are 77,309,411,310 bytes; the file holds 22 of them.
  EXPECT_EQ(r.program.standard_error,
            "Drelk: DRELK Internal: fread returned 22 bytes (77309411310 expected). [analyze]\n"
            "Drelk: Error reading symbol table\n\n");
  EXPECT_EQ(r.program.standard_output, kIncomplete + kNoBlocks);
  EXPECT_EQ(r.program.exit_status, 255);
}

TEST_F(ResourceBounds, StringTableOfFourGibibytes) {
  const BoundedResult r =
      run_on(CoffObject().common("_x_", 4).string_table_size(0xFFFFFFFF).bytes());
  EXPECT_EQ(r.program.standard_error,
            "Drelk: DRELK Internal: fread returned 0 bytes (4294967291 expected). [analyze]\n"
            "Drelk: Read of string table failed\n\n");
  // The block has a short name: without the string table it is still declared.
  EXPECT_NE(r.program.standard_output.find(" _x_\n"), std::string::npos);
  EXPECT_EQ(r.program.exit_status, 255);
}

TEST_F(ResourceBounds, StringTableAndSymbolTableBothAtTheirLargest) {
  const BoundedResult r = run_on(CoffObject()
                                     .section_count(0xFFFF)
                                     .common("_x_", 4)
                                     .symbol_count(0xFFFFFFFF)
                                     .string_table_size(0xFFFFFFFF)
                                     .bytes());
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_NE(r.program.standard_error.find("Drelk: Error reading section headers\n"),
            std::string::npos)
      << r.program.standard_error;
}

// A 3 GiB file (sparse: it takes no disk) that starts with an object header claiming
// 2^32 - 1 symbols (77 GB): the file cannot back the table, so it is the short read it
// would be, found without allocating or reading 2 GiB, whatever the memory limit.
TEST_F(ResourceBounds, SymbolTableLargerThanMemoryInASparseFile) {
  if (drelk_is_instrumented()) GTEST_SKIP() << "needs the address-space limit of a plain drelk";
  const std::vector<uint8_t> header =
      CoffObject().symbol_table_pointer(20).symbol_count(0xFFFFFFFF).no_string_table().bytes();
  dir.write("input.obj", header);
  std::filesystem::resize_file(dir.path() / "input.obj", 3ull << 30);
  Limits limits;
  limits.address_space_bytes = kAddressSpaceLimit;
  const BoundedResult r = run_bounded(drelk_binary(), {"input.obj"}, dir.str(), limits);
  RecordProperty("peak_rss_kib", std::to_string(r.peak_rss_kib));
  EXPECT_FALSE(r.timed_out);
  EXPECT_LT(r.seconds, kTimeLimitSeconds);
  EXPECT_LT(r.peak_rss_kib, kPeakMemoryLimitKib);
  // COFF positions end at 2^31 - 1: that is all a read could return.
  EXPECT_EQ(r.program.standard_error,
            "Drelk: DRELK Internal: fread returned 2147483627 bytes (77309411310 expected). "
            "[analyze]\nDrelk: Error reading symbol table\n\n");
  EXPECT_EQ(r.program.exit_status, 255);
}

TEST_F(ResourceBounds, SymbolTablePointerAtTheLargestStreamPosition) {
  const BoundedResult r = run_on(CoffObject()
                                     .common("_x_", 4)
                                     .symbol_table_pointer(0x7FFFFFFF)
                                     .symbol_count(0xFFFFFFFF)
                                     .bytes());
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_NE(r.program.standard_error.find("Error reading symbol table"), std::string::npos)
      << r.program.standard_error;
}

TEST_F(ResourceBounds, SixtyFiveThousandFiveHundredThirtyFiveSectionsClaimed) {
  const BoundedResult r = run_on(CoffObject().section(".data", 4).section_count(0xFFFF).bytes());
  // 65,535 headers of 40 bytes; the file holds one and its four bytes of raw data.
  EXPECT_EQ(r.program.standard_error,
            "Drelk: DRELK Internal: fread returned 44 bytes (2621400 expected). [analyze]\n"
            "Drelk: Error reading section headers\n\n");
  EXPECT_EQ(r.program.exit_status, 255);
}

// 65,535 real section headers (a 2.6 MB object) whose stretches all lie apart.
TEST_F(ResourceBounds, SixtyFiveThousandFiveHundredThirtyFiveSectionsPresent) {
  CoffObject object;
  for (uint32_t i = 0; i < 0xFFFF; ++i) {
    SectionHeader header;
    header.name = ".data";
    header.pointer_to_raw_data = 0x100000 + i * 64;
    header.size_of_raw_data = 16;
    header.pointer_to_relocations = 0x100000 + i * 64 + 16;
    header.number_of_relocations = 1;
    header.pointer_to_linenumbers = 0x100000 + i * 64 + 32;
    header.number_of_linenumbers = 2;
    object.section_header(header);
  }
  object.common("_x_", 4);
  const BoundedResult r = run_on(object.bytes());
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_NE(r.program.standard_output.find(" _x_\n"), std::string::npos);
  EXPECT_EQ(r.program.exit_status, 0);
}

size_t count_of(const std::string& text, const std::string& line) {
  size_t count = 0;
  for (size_t at = 0; (at = text.find(line, at)) != std::string::npos; at += line.size()) ++count;
  return count;
}

// 65,535 sections whose three stretches all coincide: 2 x 10^9 pairs, each overlapping in
// all nine ways, would be some 750 GB of diagnostics from a 2.6 MB object. The first 10,000
// are listed, then one line says the rest are not.
TEST_F(ResourceBounds, SixtyFiveThousandFiveHundredThirtyFiveOverlappingSections) {
  CoffObject object = sections_in_one_place(0xFFFF);
  // In time, for a plain drelk: run_on does not hold a sanitized one or one under valgrind
  // to the limit.
  const BoundedResult r = run_on(object.bytes());
  EXPECT_EQ(count_of(r.program.standard_error, "Drelk: Object Format Error: "), 10001u);
  EXPECT_EQ(count_of(r.program.standard_error, "Raw data overlap between sections 1 and 2\n"), 1u);
  const std::string last =
      "Drelk: Object Format Error: further section overlaps in input.obj "
      "not listed\n\n";
  EXPECT_EQ(r.program.standard_error.substr(r.program.standard_error.size() - last.size()), last);
  EXPECT_EQ(r.program.exit_status, 255);
}

// A library of eleven such objects claims 110,011 diagnostics: the run lists 100,000, counts
// the rest in one line at the end, and fails, whatever the count.
TEST_F(ResourceBounds, DiagnosticsBeyondTheRunsListingAreCounted) {
  const std::vector<uint8_t> bytes = sections_in_one_place(200).common("_x_", 4).bytes();
  Archive library = Archive().style(ArchiveStyle::NoLinkerMembers);
  for (int i = 0; i < 11; ++i) library.member("m" + std::to_string(i) + ".obj", bytes);
  // A hundred thousand lines take their time on an unbuffered standard error.
  const BoundedResult r = run_on(library.bytes(), {}, 5);
  EXPECT_EQ(count_of(r.program.standard_error, "Drelk: "), 100001u);
  const std::string last = "Drelk: further diagnostics not listed: 10011 more\n";
  EXPECT_EQ(r.program.standard_error.substr(r.program.standard_error.size() - last.size()), last);
  EXPECT_EQ(r.program.standard_output.rfind(kIncomplete, 0), 0u);
  EXPECT_EQ(r.program.exit_status, 255);
}

// A response file that names a 256 KB response file of one-letter names 1,000 times: the
// arguments taken from response files are held at a few bytes each beyond their own, and
// there are at most 4,194,304 of them, so the run ends with its diagnostic in a small part
// of the memory it once took (16 bytes for every byte read: 4 GB).
TEST_F(ResourceBounds, ResponseFilesThatNameOneFileAThousandTimes) {
  std::string inner;
  while (inner.size() < (256u << 10)) inner += "a.obj ";
  dir.write("inner.rsp", inner);
  std::string outer;
  for (int i = 0; i < 1000; ++i) outer += "@inner.rsp\n";
  dir.write("outer.rsp", outer);
  Limits limits;
  if (!drelk_is_instrumented()) limits.address_space_bytes = 1ull << 30;
  const BoundedResult r = run_bounded(drelk_binary(), {"@outer.rsp"}, dir.str(), limits);
  RecordProperty("peak_rss_kib", std::to_string(r.peak_rss_kib));
  EXPECT_FALSE(r.timed_out);
  if (!drelk_is_instrumented()) {
    EXPECT_LT(r.seconds, 10);  // a loaded machine; the expansion itself takes well under 1 s
    EXPECT_LT(r.peak_rss_kib, 200u << 10);
  }
  EXPECT_EQ(r.program.standard_error,
            "Drelk: Error: Response files name more than 4194304 arguments.\n\n\n");
  EXPECT_EQ(r.program.exit_status, 255);
}

// 65,535 sections whose raw data each wraps past the top of the 32-bit range and yet meets
// no other stretch under the overlap rules: testing a wrapping stretch against every
// section after it would be 2^31 pairs, minutes without reporting anything.
TEST_F(ResourceBounds, SixtyFiveThousandFiveHundredThirtyFiveWrappingSections) {
  CoffObject object;
  for (uint32_t i = 1; i <= 0xFFFF; ++i) {
    SectionHeader header;
    header.name = ".debug";
    // [0x80000000 + i * 0x8000, wrapping to i * 0x8000 - 1]: for i < j neither start lies
    // in the other's stretch, and the later one's end is past the earlier one's.
    header.pointer_to_raw_data = 0x80000000u + i * 0x8000;
    header.size_of_raw_data = 0x80000000u;
    object.section_header(header);
  }
  const BoundedResult r = run_on(object.bytes());
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.exit_status, 0);
}

TEST_F(ResourceBounds, LibraryMemberCountOfTwoToTheThirtyTwoMinusOne) {
  const BoundedResult r = run_on(Archive()
                                     .member("a.obj", CoffObject().common("_x_", 4).bytes())
                                     .symbol("_x_", 0)
                                     .member_count(0xFFFFFFFF)
                                     .bytes());
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_NE(r.program.standard_error.find("Drelk: Error reading library members"),
            std::string::npos)
      << r.program.standard_error;
  EXPECT_EQ(r.program.standard_output, kIncomplete + kNoBlocks);
}

TEST_F(ResourceBounds, LibrarySymbolCountOfTwoToTheThirtyTwoMinusOne) {
  const BoundedResult r = run_on(Archive()
                                     .style(ArchiveStyle::Gnu)
                                     .member("a.obj", CoffObject().common("_x_", 4).bytes())
                                     .symbol("_x_", 0)
                                     .first_linker_symbol_count(0xFFFFFFFF)
                                     .bytes());
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_NE(r.program.standard_error.find("Drelk: Error reading library symbol names"),
            std::string::npos)
      << r.program.standard_error;
}

TEST_F(ResourceBounds, LibraryMemberSizeBeyondTheLargestStreamPosition) {
  Archive archive = Archive()
                        .style(ArchiveStyle::NoLinkerMembers)
                        .member("a.obj", CoffObject().common("_x_", 4).bytes());
  std::vector<uint8_t> bytes = archive.bytes();
  // The member header's size field: ten decimal digits at offset 48 of the header.
  const size_t field = archive.member_header_offset(0) + 48;
  const std::string largest = "9999999999";
  std::copy(largest.begin(), largest.end(), bytes.begin() + static_cast<std::ptrdiff_t>(field));
  const BoundedResult r = run_on(bytes);
  EXPECT_EQ(r.program.standard_error, "Drelk: Error reading library member header\n\n");
  EXPECT_EQ(r.program.exit_status, 255);
}

// An archive whose second linker member lists the same member `count` times.
std::vector<uint8_t> same_member_listed(uint32_t count) {
  const auto archive = [](std::vector<uint32_t> offsets) {
    return Archive()
        .member("a.obj", CoffObject().common("_x_", 4).bytes())
        .symbol("_x_", 0)
        .member_offsets(std::move(offsets));
  };
  const uint32_t member =
      static_cast<uint32_t>(archive(std::vector<uint32_t>(count, 0)).member_header_offset(0));
  return archive(std::vector<uint32_t>(count, member)).bytes();
}

// The member offsets of the second linker member all name the same member: it is analysed
// once, and the repeat is reported once, however often the table lists it (a big member
// listed 100,000 times would otherwise be read 100,000 times).
TEST_F(ResourceBounds, MemberOffsetsThatAllNameTheSameMember) {
  const BoundedResult r = run_on(same_member_listed(100000));  // in time, for a plain drelk
  EXPECT_EQ(r.program.standard_error,
            "Drelk: Error - library member at offset 61b1a listed again\n\n");
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_EQ(count_of(r.program.standard_output, "input.obj (a.obj)\n"), 1u);
}

// 20,000 declarations of one block in one object: each must not grow the block's reference
// array by exactly one element, copying it whole (time growing with the square of the
// declarations).
TEST_F(ResourceBounds, TwentyThousandDeclarationsOfOneBlock) {
  CoffObject object;
  for (int i = 0; i < 20000; ++i) object.common("_x_", 4);
  const BoundedResult r = run_on(object.bytes());
  EXPECT_EQ(r.program.exit_status, 0);
  EXPECT_EQ(count_of(r.program.standard_output, "input.obj\n"), 20000u);
}

// 50,000 procedures in one object: the procedure list must not grow by exactly one element
// a time either.
TEST_F(ResourceBounds, FiftyThousandProcedures) {
  CoffObject object;
  object.section(".text", 4).common("_x_", 4);
  for (int i = 0; i < 50000; ++i) object.function("_p" + std::to_string(i), 1);
  const BoundedResult r = run_on(object.bytes());
  EXPECT_EQ(r.program.exit_status, 0);
}

// The same offsets claimed 2^32 - 1 times: the table ends with the file, before any
// member is analysed.
TEST_F(ResourceBounds, MemberCountThatLoopsOverTheSameOffsets) {
  const auto archive = [](std::vector<uint32_t> offsets) {
    return Archive()
        .member("a.obj", CoffObject().common("_x_", 4).bytes())
        .symbol("_x_", 0)
        .member_offsets(std::move(offsets))
        .member_count(0xFFFFFFFF);
  };
  const uint32_t member =
      static_cast<uint32_t>(archive(std::vector<uint32_t>(1000, 0)).member_header_offset(0));
  const BoundedResult r = run_on(archive(std::vector<uint32_t>(1000, member)).bytes());
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_NE(r.program.standard_error.find("Drelk: Error reading library members"),
            std::string::npos)
      << r.program.standard_error.substr(0, 2000);
  EXPECT_EQ(r.program.standard_output, kIncomplete + kNoBlocks);
}

// A member offset that points back at the first linker member: it is read as an object
// once, not walked again as a library.
TEST_F(ResourceBounds, MemberOffsetThatPointsBackAtTheLinkerMember) {
  const BoundedResult r = run_on(Archive()
                                     .member("a.obj", CoffObject().common("_x_", 4).bytes())
                                     .symbol("_x_", 0)
                                     .member_offsets({8, 8, 8})
                                     .bytes());
  EXPECT_EQ(r.program.exit_status, 255);
}

// ELF headers whose counts, offsets and sizes claim gigabytes that the file does not hold:
// each read is bounded by what the file holds, and each is reported.
TEST_F(ResourceBounds, ElfFieldsClaimingGigabytes) {
  const ElfObject sound = ElfObject().section(".text", 16).common("x_", 4);
  const uint64_t huge = uint64_t{1} << 62;
  const std::string short_read = "DRELK Internal: fread returned";
  const std::vector<std::tuple<const char*, ElfObject, std::string>> cases = {
      {"e_shnum", ElfObject(sound).section_count(0xFFFF), short_read},
      {"extended section count",
       ElfObject(sound).extended_numbering().section_size("", ~uint64_t{0}), short_read},
      {"e_shoff", ElfObject(sound).section_headers_offset(~uint64_t{0} >> 1), short_read},
      {"symbol table size", ElfObject(sound).section_size(".symtab", huge), short_read},
      {"symbol table offset", ElfObject(sound).section_offset(".symtab", huge), short_read},
      {"string table size", ElfObject(sound).section_size(".strtab", huge), short_read},
      {"LTO symbol table size",
       ElfObject(sound)
           .lto_symbols({{"blk_", elfv::LDPK_COMMON, elfv::LDST_VARIABLE, 8}})
           .section_size(".gnu.lto_.symtab.1", huge),
       "Error - unreadable LTO symbol table in input.obj"},
      {"ELF32 section header table offset",
       ElfObject(sound).elf32().section_headers_offset(0xFFFFFFF0), short_read},
  };
  for (const auto& [what, object, expected] : cases) {
    const BoundedResult r = run_on(object.bytes());
    EXPECT_EQ(r.program.exit_status, 255) << what;
    EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
        << what << ": " << r.program.standard_error;
  }
}

// 20,000 LTO symbol tables that each claim the whole object: no more of them is held than
// the object holds, and their extensions are found without comparing every pair.
TEST_F(ResourceBounds, ElfTwentyThousandLtoSymbolTables) {
  ElfObject object;
  for (int i = 0; i < 20000; ++i)
    object.section_bytes(".gnu.lto_.symtab", std::vector<uint8_t>(16));
  object.common("__gnu_lto_slim", 1);
  const size_t size = object.layout().size;
  object.section_offset(".gnu.lto_.symtab", 64).section_size(".gnu.lto_.symtab", size - 64);
  const BoundedResult r = run_on(object.bytes());
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_NE(r.program.standard_error.find("Error - unreadable LTO symbol table in input.obj"),
            std::string::npos);
}

// 70,000 sections (extended numbering) that all share the same bytes: the overlap lines
// of one object stop at ten thousand, as for COFF, rather than run to 2.4 billion.
TEST_F(ResourceBounds, ElfSeventyThousandSectionsInOnePlace) {
  ElfObject object;
  for (int i = 0; i < 70000; ++i) object.section(".o", 16);
  object.section_offset(".o", 64).extended_numbering().common("x_", 4);
  const BoundedResult r = run_on(object.bytes());
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_EQ(count_of(r.program.standard_error, "Raw data overlap between sections 1 and "), 10000u);
  const std::string last =
      "Drelk: Object Format Error: further section overlaps in input.obj not listed\n\n";
  EXPECT_EQ(r.program.standard_error.substr(r.program.standard_error.size() - last.size()), last);
  EXPECT_NE(r.program.standard_output.find(" x_\n"), std::string::npos);
}

// A 3 GiB sparse ELF file whose symbol table, or section header table, claims 2.5 GiB
// that the file can back but the address-space limit cannot hold: the table cannot be
// allocated, and drelk says so.
TEST_F(ResourceBounds, ElfTablesLargerThanMemoryInASparseFile) {
  if (drelk_is_instrumented()) GTEST_SKIP() << "needs the address-space limit of a plain drelk";
  const std::vector<std::pair<ElfObject, std::string>> cases = {
      {ElfObject().common("x_", 4).section_size(".symtab", 5ull << 29),
       "Drelk: \nError: Unable to allocate 2684354544 byte buffer to hold symbol table\n"},
      {ElfObject().common("x_", 4).extended_numbering().section_size("", 40000000),
       "Drelk: Error: Out of memory while analysing input.o\n\n"
       "Drelk: Error reading section headers\n"},
  };
  for (const auto& [object, expected] : cases) {
    dir.write("input.o", object.bytes());
    std::filesystem::resize_file(dir.path() / "input.o", 3ull << 30);
    Limits limits;
    limits.address_space_bytes = kAddressSpaceLimit;
    const BoundedResult r = run_bounded(drelk_binary(), {"input.o"}, dir.str(), limits);
    EXPECT_FALSE(r.timed_out);
    EXPECT_LT(r.seconds, kTimeLimitSeconds);
    EXPECT_LT(r.peak_rss_kib, kPeakMemoryLimitKib);
    EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
        << r.program.standard_error;
    EXPECT_EQ(r.program.exit_status, 255);
  }
}

// A BSD "#1/N" member name whose length claims almost ten gigabytes, within the size its
// header claims: no more of it is held than the file holds.
TEST_F(ResourceBounds, BsdMemberNameOfTenGigabytes) {
  Archive archive =
      Archive().style(ArchiveStyle::Bsd).member("a.o", ElfObject().common("x_", 4).bytes());
  std::vector<uint8_t> bytes = archive.bytes();
  const std::string field = "#1/9999999990   9999999999";
  const size_t header = archive.member_header_offset(0);
  std::copy(field.begin(), field.begin() + 16, bytes.begin() + static_cast<std::ptrdiff_t>(header));
  std::copy(field.begin() + 16, field.end(),
            bytes.begin() + static_cast<std::ptrdiff_t>(header + 48));
  const BoundedResult r = run_on(bytes);
  EXPECT_EQ(r.program.standard_error.find("Out of memory"), std::string::npos)
      << r.program.standard_error;
  EXPECT_EQ(r.program.exit_status, 255);
}

// An ELF file read on its own is not held to COFF's signed 32-bit stream positions: its
// section headers may lie beyond 2 GiB (here in a sparse file).
TEST_F(ResourceBounds, ElfSectionHeadersBeyondTwoGibibytes) {
  const uint64_t far = (uint64_t{1} << 31) + 4096;
  const ElfObject object = ElfObject().common("x_", 4).section_headers_offset(far);
  const ElfLayout layout = object.layout();
  const std::vector<uint8_t> bytes = object.bytes();
  {
    std::ofstream out(dir.path() / "input.o", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(layout.section_headers_offset));
    out.seekp(static_cast<std::streamoff>(far));
    out.write(reinterpret_cast<const char*>(bytes.data() + layout.section_headers_offset),
              static_cast<std::streamsize>(bytes.size() - layout.section_headers_offset));
  }
  Limits limits;
  if (!drelk_is_instrumented()) limits.address_space_bytes = kAddressSpaceLimit;
  const BoundedResult r = run_bounded(drelk_binary(), {"input.o"}, dir.str(), limits);
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_NE(r.program.standard_output.find(" x_\n"), std::string::npos);
  EXPECT_EQ(r.program.exit_status, 0);
}

namespace debug {

using namespace drelk::dwarf;

// An ELF object declaring blk_ whose debug sections are these.
std::vector<uint8_t> object_with(const DwarfBuilder& dwarf) {
  return ElfObject()
      .common("blk_", 16)
      .section_bytes(".debug_info", dwarf.info)
      .section_bytes(".debug_abbrev", dwarf.abbrev)
      .bytes();
}

// A unit of the common block abbreviations whose body is `body` (after the unit DIE).
DwarfBuilder unit_with(const std::vector<uint8_t>& body) {
  DwarfBuilder dwarf = common_block_abbreviations();
  dwarf.begin_unit().code(kUnitCode).string("a.f");
  dwarf.info.insert(dwarf.info.end(), body.begin(), body.end());
  return dwarf.end_unit();
}

}  // namespace debug

// Hostile debug sections under -m: lengths claiming gigabytes, an abbreviation table that
// never ends, a million nested entries, a million members of one block, types that refer
// to themselves, a line table counting 2^60 file names. Each is one diagnostic at most, the
// symbols are reported as they are, and the run stays fast and small.
TEST_F(ResourceBounds, HostileDebugSections) {
  using namespace debug;
  using namespace drelk::dwarf;
  const std::string kDamaged = "Drelk: Debug Information Error: ";
  std::vector<std::tuple<const char*, std::vector<uint8_t>, std::string>> cases;

  DwarfBuilder huge_unit = common_block_abbreviations();
  huge_unit.begin_unit().code(kUnitCode).string("a.f");
  huge_unit.info[0] = 0xEF;  // 0xffffffef: just below the reserved lengths
  huge_unit.info[1] = huge_unit.info[2] = huge_unit.info[3] = 0xFF;
  cases.emplace_back("unit length", object_with(huge_unit), "unit length beyond the section");

  // Abbreviations that run to the end of their section, a megabyte of them.
  DwarfBuilder endless;
  for (uint64_t code = 1; endless.abbrev.size() < (1u << 20); ++code) {
    endless.abbreviation(code, DW_TAG_variable, false, {{DW_AT_name, DW_FORM_string}});
  }
  endless.begin_unit().code(1).string("x").end_unit();
  cases.emplace_back("endless abbreviations", object_with(endless),
                     "abbreviation table runs past the section");

  // A million routines, each inside the one before.
  std::vector<uint8_t> nested;
  for (int i = 0; i < 1000000; ++i) {
    nested.push_back(kRoutineCode);
    nested.push_back(0);  // an empty name
  }
  cases.emplace_back("deep nesting", object_with(unit_with(nested)), "nested too deeply");

  // 100,000 members of one block: more than an object's layouts may hold.
  DwarfBuilder many = common_block_abbreviations();
  many.begin_unit().code(kUnitCode).string("a.f").code(kRoutineCode).string("s");
  many.code(kBlockCode).string("blk").string("blk_");
  const uint32_t type_at = many.here() + 100000 * 17 + 2;
  for (uint32_t i = 0; i < 100000; ++i)
    many.code(kMemberCode).string("m").u32(type_at).address_location(i);
  many.end_children().end_children().code(kBaseTypeCode).u8(1).u8(DW_ATE_signed);
  many.end_children().end_unit();
  cases.emplace_back("100,000 members", object_with(many), "more members than an object can hold");

  for (const auto& [what, bytes, reason] : cases) {
    const BoundedResult r = run_on(bytes, {"-m"});
    EXPECT_EQ(r.program.exit_status, 255) << what;
    EXPECT_NE(r.program.standard_error.find(kDamaged), std::string::npos)
        << what << ": " << r.program.standard_error;
    EXPECT_NE(r.program.standard_error.find(reason), std::string::npos)
        << what << ": " << r.program.standard_error;
    // The symbol scan is untouched: the block is reported.
    EXPECT_NE(r.program.standard_output.find(" blk_\n           16"), std::string::npos)
        << what << ": " << r.program.standard_output;
  }
}

// Types that refer to themselves and indirect forms in a row end without a hang.
TEST_F(ResourceBounds, DebugTypesThatReferToThemselves) {
  using namespace debug;
  using namespace drelk::dwarf;
  DwarfBuilder dwarf;
  dwarf.abbreviation(1, DW_TAG_compile_unit, true, {})
      .abbreviation(2, DW_TAG_common_block, true, {{DW_AT_linkage_name, DW_FORM_string}})
      .abbreviation(3, DW_TAG_variable, false,
                    {{DW_AT_type, DW_FORM_ref4}, {DW_AT_location, DW_FORM_exprloc}})
      .abbreviation(4, DW_TAG_typedef, false, {{DW_AT_type, DW_FORM_ref4}})
      .abbreviation(5, DW_TAG_array_type, true, {{DW_AT_type, DW_FORM_ref4}})
      .end_abbreviations();
  dwarf.begin_unit().code(1).code(2).string("blk_");
  const uint32_t member = dwarf.here();
  const uint32_t typedef_at = member + 15 * 2 + 1;
  dwarf.code(3).u32(typedef_at).address_location(0);
  dwarf.code(3).u32(typedef_at + 5).address_location(8);
  dwarf.end_children();
  dwarf.code(4).u32(typedef_at);                     // a typedef of itself
  dwarf.code(5).u32(typedef_at + 5).end_children();  // an array of itself
  dwarf.end_children().end_unit();
  const BoundedResult r = run_on(object_with(dwarf), {"-m", "-fjson"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_NE(r.program.standard_output.find("\"type\": \"?\""), std::string::npos)
      << r.program.standard_output;
}

// Array bounds at the ends of the 64-bit range: counts and extents that no arithmetic of
// signed numbers can hold are shown as the bits give them, never an overflow.
TEST_F(ResourceBounds, DebugArrayBoundsAtTheEndsOfTheRange) {
  using namespace debug;
  using namespace drelk::dwarf;
  DwarfBuilder dwarf;
  dwarf.abbreviation(1, DW_TAG_compile_unit, true, {})
      .abbreviation(2, DW_TAG_common_block, true, {{DW_AT_linkage_name, DW_FORM_string}})
      .abbreviation(3, DW_TAG_variable, false,
                    {{DW_AT_type, DW_FORM_ref4}, {DW_AT_location, DW_FORM_exprloc}})
      .abbreviation(4, DW_TAG_array_type, true, {{DW_AT_type, DW_FORM_ref4}})
      .abbreviation(5, DW_TAG_subrange_type, false,
                    {{DW_AT_lower_bound, DW_FORM_sdata}, {DW_AT_upper_bound, DW_FORM_sdata}})
      .abbreviation(6, DW_TAG_subrange_type, false, {{DW_AT_count, DW_FORM_data8}})
      .abbreviation(7, DW_TAG_base_type, false,
                    {{DW_AT_byte_size, DW_FORM_data1}, {DW_AT_encoding, DW_FORM_data1}})
      .end_abbreviations();
  const auto sleb = [&](int64_t value) {
    for (bool more = true; more;) {
      uint8_t byte = value & 0x7f;
      value >>= 7;
      more = !((value == 0 && !(byte & 0x40)) || (value == -1 && (byte & 0x40)));
      dwarf.u8(more ? byte | 0x80 : byte);
    }
  };
  dwarf.begin_unit().code(1).code(2).string("blk_");
  const uint32_t array_at = dwarf.here() + 15 + 1;  // after the member and its end
  dwarf.code(3).u32(array_at).address_location(0);
  dwarf.end_children();
  const uint32_t element_at = array_at + 5 + 21 + 9 + 1;
  dwarf.code(4).u32(element_at);
  dwarf.code(5);
  sleb(INT64_MIN);
  sleb(INT64_MAX);
  dwarf.code(6);
  put_le(dwarf.info, uint64_t{1} << 63, 8);
  dwarf.end_children();
  dwarf.code(7).u8(4).u8(DW_ATE_signed);
  dwarf.end_children().end_unit();
  const BoundedResult r = run_on(object_with(dwarf), {"-m", "-fjson"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_NE(
      r.program.standard_output.find("\"dimensions\": \"(-9223372036854775808:9223372036854775807,"
                                     "-9223372036854775808)\""),
      std::string::npos)
      << r.program.standard_output;
}

// Mach-O load commands and tables that claim the largest counts and sizes their fields can
// express: the walk of the load commands is bounded by their size, every table read by
// what the file holds, and each is reported.
TEST_F(ResourceBounds, MachOFieldsClaimingGigabytes) {
  const MachOObject sound =
      MachOObject().section("__TEXT", "__text", 16, machov::kCode, 1).common("_x_", 4);
  const std::string short_read = "DRELK Internal: fread returned";
  const std::vector<std::tuple<const char*, MachOObject, std::string>> cases = {
      {"ncmds 2^32 - 1", MachOObject(sound).command_count(0xFFFFFFFF),
       "Error - load command 2 lies outside the load commands"},
      {"cmdsize 0", MachOObject(sound).command_size(0, 0),
       "Error - load command 0 has a bad size of 0 bytes"},
      {"cmdsize 2^32 - 1", MachOObject(sound).command_size(0, 0xFFFFFFFF),
       "Error - load command 0 lies outside the load commands"},
      {"sizeofcmds 2^32 - 1", MachOObject(sound).commands_size(0xFFFFFFFF), short_read},
      {"nsects 2^32 - 1", MachOObject(sound).section_count(0xFFFFFFFF),
       "Error - load command 0 is too small for its 4294967295 sections"},
      {"a symbol table past the end", MachOObject(sound).symbol_offset(0xFFFFFFFF), short_read},
      {"nsyms 2^32 - 1", MachOObject(sound).symbol_count(0xFFFFFFFF), short_read},
      {"strsize 2^32 - 1", MachOObject(sound).string_size(0xFFFFFFFF), short_read},
      {"relocations 2^32 - 1 entries", MachOObject(sound).relocations_offset(1, 0xFFFFFFFF),
       "Section 1 relocations lie outside the object"},
  };
  for (const auto& [what, object, expected] : cases) {
    const BoundedResult r = run_on(object.bytes());
    EXPECT_EQ(r.program.exit_status, 255) << what;
    EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
        << what << ": " << r.program.standard_error;
  }
}

// Universal headers claiming 2^32 - 1 slices (no universal file: a Java class file's
// version could say so; it is read as what it then is), 44 slices that the file does not
// hold, and slices at the far end of 64-bit offsets.
TEST_F(ResourceBounds, UniversalHeadersClaimingTooMuch) {
  const std::vector<uint8_t> object = MachOObject().common("_x_", 4).bytes();
  const UniversalFile one = UniversalFile().slice(machov::CPU_TYPE_X86_64, 3, object, 0);
  const std::vector<std::pair<UniversalFile, std::string>> cases = {
      {UniversalFile(one).slice_count(0xFFFFFFFF), "Drelk: Error - bad file header machine value"},
      {UniversalFile(one).slice_count(44), "Drelk: Error reading file header"},
      {UniversalFile(one).fat64().slice_offset(0, ~uint64_t{0} - 8),
       "Drelk: Object Format Error: The x86_64 slice lies outside universal file input.obj"},
      {UniversalFile(one).fat64().slice_size(0, ~uint64_t{0}),
       "Drelk: Object Format Error: The x86_64 slice lies outside universal file input.obj"},
  };
  for (const auto& [file, expected] : cases) {
    const BoundedResult r = run_on(file.bytes());
    EXPECT_EQ(r.program.exit_status, 255) << expected;
    EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
        << expected << ": " << r.program.standard_error;
  }
}

// 70,000 Mach-O sections that all share the same bytes: the overlap lines stop at ten
// thousand, as for COFF and ELF.
TEST_F(ResourceBounds, MachOSeventyThousandSectionsInOnePlace) {
  MachOObject object;
  for (size_t i = 1; i <= 70000; ++i) {
    object.section("__DATA", "__data", 16).section_offset(i, 4096);
  }
  object.common("_x_", 4);
  const BoundedResult r = run_on(object.bytes());
  EXPECT_EQ(r.program.exit_status, 255);
  EXPECT_EQ(count_of(r.program.standard_error, "Raw data overlap between sections 1 and "), 10000u);
  const std::string last =
      "Drelk: Object Format Error: further section overlaps in input.obj not listed\n\n";
  EXPECT_EQ(r.program.standard_error.substr(r.program.standard_error.size() - last.size()), last);
  EXPECT_NE(r.program.standard_output.find(" _x_\n"), std::string::npos);

  // Each object of a library lists its own overlaps up to the cap: 200 sections in one
  // place are 19,900 pairs.
  MachOObject small;
  for (size_t i = 1; i <= 200; ++i) small.section("__DATA", "__data", 16).section_offset(i, 4096);
  const std::vector<uint8_t> bytes = small.common("_x_", 4).bytes();
  const BoundedResult two = run_on(Archive()
                                       .style(ArchiveStyle::NoLinkerMembers)
                                       .member("a.o", bytes)
                                       .member("b.o", bytes)
                                       .bytes());
  EXPECT_EQ(count_of(two.program.standard_error, "Object Format Error: Raw data overlap"), 20000u);
  for (const char* member : {"a.o", "b.o"}) {
    const std::string not_listed =
        std::string("further section overlaps in input.obj (") + member + ") not listed\n";
    EXPECT_EQ(count_of(two.program.standard_error, not_listed), 1u) << not_listed;
  }
}

// LLVM bitcode whose blocks, abbreviations, blobs and table ranges claim what the file does
// not hold: a megabyte of each ends in its diagnostic, in time and memory.
TEST_F(ResourceBounds, BitcodeClaimingTooMuch) {
  const BitcodeObject sound = BitcodeObject().common("blk_", 400, 4).function("sa_");
  constexpr size_t kMegabyte = 1 << 20;
  // A file of `count` copies of `item` in one SYMTAB block, `closed` with its END_BLOCK.
  const auto symtab_of = [](const std::function<void(BitWriter&)>& item, size_t count,
                            bool closed) {
    BitWriter writer;
    const size_t block = writer.enter_block(25, 32, 2);
    for (size_t i = 0; i < count; ++i) item(writer);
    if (closed) {
      writer.end_block(block, 32);
    } else {
      writer.align32();
    }
    std::vector<uint8_t> file = bitcode_file(writer);
    const auto words = static_cast<uint32_t>((writer.size() - block - 4) / 4);
    for (int i = 0; i < 4; ++i) file[4 + block + i] = static_cast<uint8_t>(words >> (8 * i));
    return file;
  };
  std::vector<uint8_t> huge_block = sound.bytes();
  for (size_t i = 8; i < 12; ++i) huge_block[i] = 0xFF;  // the first block's length word
  // Blocks each inside the one before, each reaching the end of the file, none ended.
  BitWriter nested;
  std::vector<size_t> length_words;
  for (size_t i = 0; i < kMegabyte / 8; ++i) length_words.push_back(nested.enter_block(25, 2, 2));
  std::vector<uint8_t> nested_file = bitcode_file(nested);
  for (const size_t at : length_words) {
    const auto words = static_cast<uint32_t>((nested.size() - at - 4) / 4);
    for (int i = 0; i < 4; ++i) nested_file[4 + at + i] = static_cast<uint8_t>(words >> (8 * i));
  }
  const std::string past_end = "a block, field or blob runs past the end of the bitcode";
  const std::vector<std::tuple<const char*, std::vector<uint8_t>, std::string>> cases = {
      {"a block length of 2^32 - 1 words", huge_block, past_end},
      {"131,072 nested blocks, none ended", nested_file, "a block ends without its END_BLOCK"},
      {"a million records, no END_BLOCK",
       symtab_of([](BitWriter& w) { w.fixed(3, 32).vbr(1, 6).vbr(0, 6); }, kMegabyte / 6, false),
       "a block ends without its END_BLOCK"},
      {"an abbreviation 65 bits wide",
       symtab_of([](BitWriter& w) { w.fixed(2, 32).vbr(1, 5).fixed(0, 1).fixed(1, 3).vbr(65, 5); },
                 1, true),
       "a field is wider than 64 bits"},
      {"a hundred thousand abbreviations",
       symtab_of([](BitWriter& w) { w.fixed(2, 32).vbr(1, 5).fixed(1, 1).vbr(1, 8); },
                 kMegabyte / 7, true),
       "a block defines more abbreviations than are read"},
      {"a blob of 2^40 bytes",
       symtab_of(
           [](BitWriter& w) {
             w.fixed(2, 32).vbr(2, 5).fixed(1, 1).vbr(1, 8).fixed(0, 1).fixed(5, 3);
             w.fixed(4, 32).vbr(uint64_t{1} << 40, 6);
           },
           1, true),
       past_end},
      {"an array of 2^60 VBR elements",
       symtab_of(
           [](BitWriter& w) {
             w.fixed(2, 32).vbr(3, 5).fixed(1, 1).vbr(1, 8);
             w.fixed(0, 1).fixed(3, 3).fixed(0, 1).fixed(2, 3).vbr(2, 5);
             w.fixed(4, 32).vbr(uint64_t{1} << 60, 6);
           },
           1, true),
       past_end},
      {"2^32 - 1 symbols", BitcodeObject(sound).symbols_range(76, 0xFFFFFFFF).bytes(),
       "a range of its records lies outside it"},
      {"uncommons at 2^32 - 1", BitcodeObject(sound).uncommons_range(0xFFFFFFFF, 1).bytes(),
       "a range of its records lies outside it"},
      {"version 5", BitcodeObject(sound).version(5).bytes(), "symbol table of version 5"},
  };
  for (const auto& [what, bytes, expected] : cases) {
    const BoundedResult r = run_on(bytes);
    EXPECT_EQ(r.program.exit_status, 255) << what;
    EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
        << what << ": " << r.program.standard_error;
  }
}

// XCOFF headers and tables that claim the largest counts, offsets and sizes their fields can
// express, in both classes: every table is read only as far as the object holds it, and
// each claim is reported.
TEST_F(ResourceBounds, XcoffFieldsClaimingGigabytes) {
  const std::string short_read = "DRELK Internal: fread returned";
  for (const bool is64 : {false, true}) {
    const XcoffObject sound = XcoffObject()
                                  .is64(is64)
                                  .section(".data", 16, xcoffv::STYP_DATA, 1)
                                  .common("x_", 4)
                                  .common("a_long_block_name_", 8);
    XcoffSymbolSpec greedy;
    greedy.name = "greedy_";
    greedy.aux_count = 255;
    const std::vector<std::tuple<const char*, XcoffObject, std::string>> cases = {
        {"f_nsyms 2^32 - 1", XcoffObject(sound).symbol_count(0xFFFFFFFF),
         "The symbol table lies outside the object"},
        {"f_symptr 2^32 - 1", XcoffObject(sound).symbol_offset(0xFFFFFFFF),
         "The symbol table lies outside the object"},
        {"f_symptr 2^64 - 1", XcoffObject(sound).symbol_offset(is64 ? ~uint64_t{0} : 0xFFFFFFF0),
         "The symbol table lies outside the object"},
        {"string table of 2^32 - 1 bytes", XcoffObject(sound).string_table_size(0xFFFFFFFF),
         "The string table lies outside the object"},
        {"f_nscns 65535", XcoffObject(sound).section_count(0xFFFF), short_read},
        {"2^32 - 1 relocations at 2^32 - 1",
         XcoffObject(sound).section_relocations(1, 0xFFFFFFFF, is64 ? 0xFFFFFFFF : 0xFFFE),
         "Section 1 relocations lie outside the object"},
        {"line numbers at the last offset",
         XcoffObject(sound).section_line_numbers(1, is64 ? ~uint64_t{0} : 0xFFFFFFFF, 1),
         "Section 1 line numbers lie outside the object"},
        {"255 auxiliary entries past the table",
         XcoffObject(sound).symbol(greedy).symbol_count(is64 ? 6 : 5),
         "Aux symbol count overflows symbol table"},
        {"a name at 2^32 - 1", XcoffObject(sound).name_offset(1, 0xFFFFFFFF),
         "name offset ffffffff is outside string table"},
    };
    for (const auto& [what, object, expected] : cases) {
      const BoundedResult r = run_on(object.bytes());
      EXPECT_EQ(r.program.exit_status, 255) << what << " " << is64;
      EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
          << what << " " << is64 << ": " << r.program.standard_error;
    }
  }
}

// Big archives whose member chain comes back on itself, points past the end or at the
// largest offset, or whose member headers claim sizes and names the file does not hold.
TEST_F(ResourceBounds, BigArchiveChainsThatLoopOrPointPastTheEnd) {
  const std::vector<uint8_t> member = XcoffObject().common("x_", 4).bytes();
  const BigArchive archive = BigArchive().member("a.o", member).member("b.o", member);
  std::vector<uint8_t> huge_size = archive.bytes();
  const std::string largest = "18446744073709551615";
  std::copy(largest.begin(), largest.end(), huge_size.begin() + archive.member_offset(1));
  std::vector<uint8_t> long_name = archive.bytes();
  const std::string name_length = "9999";
  std::copy(name_length.begin(), name_length.end(),
            long_name.begin() + archive.member_offset(1) + 108);
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {BigArchive(archive).next_member(0, archive.member_offset(0)).bytes(),
       "Error - library member at offset 80 listed again"},
      {BigArchive(archive).next_member(0, 1000000).bytes(),
       "Error - library member at offset f4240 lies outside the library"},
      {BigArchive(archive).first_member(~uint64_t{0}).bytes(),
       "Error - library member at offset ffffffffffffffff lies outside the library"},
      {long_name, "Error reading library member header"},
  };
  for (const auto& [bytes, expected] : cases) {
    const BoundedResult r = run_on(bytes);
    EXPECT_EQ(r.program.exit_status, 255) << expected;
    EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
        << expected << ": " << r.program.standard_error;
  }
  // A member that claims 2^64 - 1 bytes holds what the archive holds after its header.
  const BoundedResult r = run_on(huge_size);
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_NE(r.program.standard_output.find("input.obj (b.o)"), std::string::npos)
      << r.program.standard_output;
}

}  // namespace
}  // namespace drelk::test
