// Telling executables, archives and objects apart, and the archive walks.
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

std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> declaring(const std::string& block, uint32_t size) {
  return CoffObject().section(".text", 4).common(block, size).bytes();
}

// The references of a block as "size path" lines.
std::vector<std::string> references_of(InMemoryRun& run, const std::string& block) {
  std::vector<std::string> lines;
  const CommonBlock* found = find_block(run.registry(), block);
  if (found == nullptr) return lines;
  for (const BlockReference* reference : block_references(*found)) {
    lines.push_back(std::to_string(reference->size) + " " + reference->object->path);
  }
  return lines;
}

TEST(Classification, ExecutableSignaturesAtOffsetZeroAreRefused) {
  for (const char* signature : {"MZ", "NE", "LE"}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(bytes_of(std::string(signature) + "rest of it"), "dir/prog.exe"),
              Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "Drelk: The file dir/prog.exe is not an object file.\n");
  }
}

TEST(Classification, PortableExecutableSignatureFailsTheFile) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(bytes_of(std::string("PE\0\0rest", 8)), "x.dll"), Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(), "Drelk: The file x.dll is not an object file.\n");
}

// Files that are plainly no object are named for what they are, in one line with the path.
TEST(Classification, FilesThatAreNoObjectAreNamedForWhatTheyAre) {
  const std::string utf8_text =
      "! Gr\xC3\xB6\xC3\x9F"
      "e des Gitters\n";
  const struct {
    std::vector<uint8_t> bytes;
    const char* what;
  } cases[] = {
      {{}, "empty"},
      {{'a', 'b', 'c'}, "a text file"},
      {bytes_of("CMAKE_BUILD_TYPE:STRING=Release\r\n\tFFLAGS=-O2\f"), "a text file"},
      {bytes_of(utf8_text), "a text file"},
  };
  for (const auto& c : cases) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(c.bytes, "dir/x.obj"), Outcome::kFailed) << c.what;
    EXPECT_EQ(run.diagnostics(),
              std::string("Drelk: The file dir/x.obj is ") + c.what + ", not an object file.\n")
        << c.what;
  }
}

// Anything else is COFF's to judge, with today's lines: a file shorter than a signature
// is a short read, as is a COFF header cut short, and bytes that are not text (a NUL, a
// stray byte, a UTF-8 sequence broken off) are no text file.
TEST(Classification, FileShorterThanASignatureIsAShortRead) {
  InMemoryRun one;
  one.analyze({0x01}, "one.obj");
  EXPECT_EQ(one.diagnostics(),
            "Drelk: DRELK Internal: fread returned 1 bytes (2 expected). [one.obj]\n"
            "Drelk: Error reading file signature\n\n");
  for (const std::vector<uint8_t>& bytes : std::vector<std::vector<uint8_t>>{
           {0x4C, 0x01, 0x00}, {'a', 'b', 0x00}, {'a', 0xC3, 'b'}, {'a', 0x7F, 'b'}}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(bytes, "x.obj"), Outcome::kFailed);
    EXPECT_EQ(run.diagnostics(),
              "Drelk: DRELK Internal: fread returned 3 bytes (4 expected). [analyze]\n"
              "Drelk: Error reading file signature\n\n");
  }
}

TEST(Classification, AnythingElseIsReadAsAnObject) {
  InMemoryRun run;
  run.analyze(declaring("_area_", 400), "a.obj");
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(references_of(run, "_area_"), (std::vector<std::string>{"400 a.obj"}));
}

TEST(ArchiveWalk, MembersAreNamedByTheirHeaderNames) {
  const std::vector<uint8_t> library = Archive()
                                           .member("a.obj", declaring("_x_", 4))
                                           .member("b.obj", declaring("_x_", 8))
                                           .symbol("_x_", 0)
                                           .bytes();
  InMemoryRun run;
  EXPECT_EQ(run.analyze(library, "lib/m.lib"), Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(references_of(run, "_x_"),
            (std::vector<std::string>{"8 lib/m.lib (b.obj)", "4 lib/m.lib (a.obj)"}));
  EXPECT_EQ(run.registry().member_entries.back()->name, "m.lib (b.obj)");
}

// A name that does not fit the header is looked up in the long-names member, whose entries
// end with a NUL (Microsoft) or with "/\n" (GNU), and shown whole, directories included;
// only a reference the archive cannot resolve leaves the member without a name.
TEST(ArchiveWalk, LongMemberNamesAreShownWhole) {
  for (const ArchiveStyle style :
       {ArchiveStyle::Microsoft, ArchiveStyle::Gnu, ArchiveStyle::NoLinkerMembers}) {
    const std::vector<uint8_t> library =
        Archive()
            .style(style)
            .member("a-very-long-member-name.obj", declaring("_x_", 4))
            .member("..\\coff-i686\\gphys\\gbrele.o", declaring("_x_", 4))
            .member("b.obj", declaring("_x_", 4))
            .raw_member_name(2, "/9999")
            .bytes();
    InMemoryRun run;
    EXPECT_EQ(run.analyze(library, "m.lib"), Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "");
    EXPECT_EQ(references_of(run, "_x_"),
              (std::vector<std::string>{"4 m.lib (..\\coff-i686\\gphys\\gbrele.o)",
                                        "4 m.lib (a-very-long-member-name.obj)",
                                        "4 m.lib (no obj file given)"}))
        << static_cast<int>(style);
  }
}

TEST(ArchiveWalk, NameBeforeTheFirstSlashKeepsItsBlanks) {
  const std::vector<uint8_t> library =
      Archive().member("x.obj", declaring("_x_", 4)).raw_member_name(0, "my obj/").bytes();
  InMemoryRun run;
  run.analyze(library, "m.lib");
  EXPECT_EQ(references_of(run, "_x_"), (std::vector<std::string>{"4 m.lib (my obj)"}));
}

TEST(ArchiveWalk, LibraryWithoutMembersAnalysesNothing) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(Archive().bytes(), "empty.lib"), Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_TRUE(run.registry().member_entries.empty());
}

TEST(ArchiveWalk, FirstFailingMemberEndsTheWalk) {
  const std::vector<uint8_t> bad = CoffObject().optional_header_size_field(96).bytes();
  const std::vector<uint8_t> library = Archive()
                                           .member("a.obj", declaring("_a_", 4))
                                           .member("bad.obj", bad)
                                           .member("c.obj", declaring("_c_", 4))
                                           .bytes();
  InMemoryRun run;
  EXPECT_EQ(run.analyze(library, "m.lib"), Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: bad optional header size of 96 (expecting 28 or 224)\n\n"
            "Drelk: Could not process optional header (file m.lib (bad.obj))\n");
  EXPECT_EQ(references_of(run, "_a_").size(), 1u);
  EXPECT_EQ(find_block(run.registry(), "_c_"), nullptr);
}

TEST(ArchiveWalk, MemberOffsetsAreTakenInTableOrder) {
  Archive archive;
  archive.member("a.obj", CoffObject().section(".text", 4).function("_p", 1).bytes())
      .member("b.obj", CoffObject().section(".text", 4).function("_p", 1).bytes());
  const uint32_t a = static_cast<uint32_t>(archive.member_header_offset(0));
  const uint32_t b = static_cast<uint32_t>(archive.member_header_offset(1));
  InMemoryRun run;
  run.analyze(archive.member_offsets({b, a}).bytes(), "m.lib");
  // Procedures of one name keep their arrival order.
  std::vector<std::string> definers;
  for (const ProcedureEntry& p : sorted_procedures(run.registry())) {
    definers.push_back(p.definer->path);
  }
  EXPECT_EQ(definers, (std::vector<std::string>{"m.lib (b.obj)", "m.lib (a.obj)"}));
}

TEST(ArchiveWalk, TruncatedSymbolNamesEndAtTheEndOfTheFile) {
  const std::vector<uint8_t> library =
      Archive().member("a.obj", declaring("_x_", 4)).first_linker_symbol_count(0x00FFFFFF).bytes();
  InMemoryRun run;
  EXPECT_EQ(run.analyze(library, "m.lib"), Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 0 bytes (1 expected). [analyze]\n"
            "Drelk: Error reading library symbol names\n\n");
}

TEST(ArchiveWalk, MemberCountBeyondTheFileIsAShortReadNotAnAllocation) {
  const std::vector<uint8_t> library =
      Archive().member("a.obj", declaring("_x_", 4)).member_count(0xFFFFFFFF).bytes();
  InMemoryRun run;
  EXPECT_EQ(run.analyze(library, "m.lib"), Outcome::kFailed);
  // The offsets are read one by one until the file ends, whatever the count claims.
  EXPECT_EQ(run.diagnostics().rfind("Drelk: DRELK Internal: fread returned ", 0), 0u);
  EXPECT_NE(
      run.diagnostics().find(" (4 expected). [analyze]\nDrelk: Error reading library members\n"),
      std::string::npos);
  EXPECT_EQ(run.error_count(), 2u);
}

TEST(ArchiveWalk, TruncatedSymbolCount) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(Archive().member("a.obj", declaring("_x_", 4)).truncated(70), "m.lib"),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 2 bytes (4 expected). [analyze]\n"
            "Drelk: Error with number of symbols in library\n\n");
}

// Each field of the linker members that a truncated library ends in, with the diagnostics
// of that field.
TEST(ArchiveWalk, TruncatedLinkerMembersSayWhichFieldIsMissing) {
  Archive archive;
  archive.member("a.obj", declaring("_x_", 4)).symbol("_x_", 0);
  const ArchiveLayout layout = archive.layout();
  const size_t second = *layout.second_linker_offset;
  const struct {
    size_t length;
    std::string diagnostics;
  } cases[] = {
      {*layout.first_linker_offset + 62,
       "Drelk: DRELK Internal: fread returned 2 bytes (4 expected). [analyze]\n"
       "Drelk: Error with number of symbols in library\n\n"},
      {second + 62,
       "Drelk: DRELK Internal: fread returned 2 bytes (4 expected). [analyze]\n"
       "Drelk: Error reading number of members in library\n\n"},
      {second + 66,
       "Drelk: DRELK Internal: fread returned 2 bytes (4 expected). [analyze]\n"
       "Drelk: Error reading library members\n"},
  };
  for (const auto& c : cases) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(archive.truncated(c.length), "m.lib"), Outcome::kFailed) << c.length;
    EXPECT_EQ(run.diagnostics(), c.diagnostics) << c.length;
  }
}

// A first linker member of odd length is followed by a pad byte: the next member header
// stands at the even offset after it, whether that is a second linker member or an object.
TEST(ArchiveWalk, OddLengthFirstLinkerMemberIsFollowedByAPadByte) {
  for (const ArchiveStyle style : {ArchiveStyle::Microsoft, ArchiveStyle::Gnu}) {
    // 4 + 4 + "_ab_\0": 13 bytes.
    const std::vector<uint8_t> library =
        Archive().style(style).member("a.obj", declaring("_ab_", 4)).symbol("_ab_", 0).bytes();
    InMemoryRun run;
    EXPECT_EQ(run.analyze(library, "m.lib"), Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "");
    EXPECT_EQ(references_of(run, "_ab_"), (std::vector<std::string>{"4 m.lib (a.obj)"}));
  }
}

TEST(ArchiveWalk, SwapBytes32ReversesTheBytes) {
  EXPECT_EQ(swap_bytes32(0x01020304u), 0x04030201u);
  EXPECT_EQ(swap_bytes32(0xFF000000u), 0x000000FFu);
}

// Archives as GNU ar, llvm-ar and older llvm-lib write them: no second linker member.
TEST(SequentialArchiveWalk, GnuArchiveGivesTheSameMembersAsAMicrosoftOne) {
  auto build = [](ArchiveStyle style) {
    return Archive()
        .style(style)
        .member("a.obj", declaring("_x_", 4))
        .member("odd.obj", CoffObject().common("_x_", 8).string_text("z").bytes())
        .member("a-long-member-name.obj", declaring("_x_", 4))
        .symbol("_x_", 0)
        .bytes();
  };
  std::vector<std::vector<std::string>> listings;
  for (ArchiveStyle style :
       {ArchiveStyle::Microsoft, ArchiveStyle::Gnu, ArchiveStyle::NoLinkerMembers}) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(build(style), "m.lib"), Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "");
    listings.push_back(references_of(run, "_x_"));
  }
  EXPECT_EQ(listings[0],
            (std::vector<std::string>{"8 m.lib (odd.obj)", "4 m.lib (a-long-member-name.obj)",
                                      "4 m.lib (a.obj)"}));
  EXPECT_EQ(listings[1], listings[0]);
  EXPECT_EQ(listings[2], listings[0]);
}

TEST(SequentialArchiveWalk, UnreadableSizeFieldEndsTheWalk) {
  Archive archive;
  archive.style(ArchiveStyle::Gnu)
      .member("a.obj", declaring("_x_", 4))
      .member("b.obj", declaring("_y_", 4));
  std::vector<uint8_t> bytes = archive.bytes();
  const size_t second = archive.member_header_offset(1);
  std::fill(bytes.begin() + second + 48, bytes.begin() + second + 58, 'x');
  InMemoryRun run;
  EXPECT_EQ(run.analyze(bytes, "m.lib"), Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(), "Drelk: Error reading library member header\n\n");
  EXPECT_EQ(references_of(run, "_x_").size(), 1u);
}

TEST(SequentialArchiveWalk, TruncatedMemberHeaderEndsTheWalk) {
  Archive archive;
  archive.style(ArchiveStyle::Gnu)
      .member("a.obj", declaring("_x_", 4))
      .member("b.obj", declaring("_y_", 4));
  InMemoryRun run;
  EXPECT_EQ(run.analyze(archive.truncated(archive.member_header_offset(1) + 30), "m.lib"),
            Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(),
            "Drelk: DRELK Internal: fread returned 30 bytes (60 expected). [analyze]\n"
            "Drelk: Error reading library member header\n\n");
}

// A short import member: Sig1 0, Sig2 0xFFFF, version 0, machine, then the rest.
std::vector<uint8_t> import_member(uint16_t version) {
  std::vector<uint8_t> bytes(40, 0);
  bytes[2] = 0xFF;
  bytes[3] = 0xFF;
  bytes[4] = static_cast<uint8_t>(version);
  bytes[5] = static_cast<uint8_t>(version >> 8);
  bytes[6] = 0x4C;  // IMAGE_FILE_MACHINE_I386
  bytes[7] = 0x01;
  return bytes;
}

TEST(ImportMembers, ShortImportMembersAreSkippedInBothWalks) {
  for (ArchiveStyle style : {ArchiveStyle::Microsoft, ArchiveStyle::Gnu}) {
    InMemoryRun run;
    const std::vector<uint8_t> library = Archive()
                                             .style(style)
                                             .member("k32.dll", import_member(0))
                                             .member("a.obj", declaring("_x_", 4))
                                             .bytes();
    EXPECT_EQ(run.analyze(library, "k.lib"), Outcome::kOk);
    EXPECT_EQ(run.diagnostics(), "");
    EXPECT_EQ(references_of(run, "_x_"), (std::vector<std::string>{"4 k.lib (a.obj)"}));
  }
}

TEST(ImportMembers, BigObjectHeaderIsReportedNotMisread) {
  InMemoryRun run;
  EXPECT_EQ(run.analyze(import_member(2), "big.obj"), Outcome::kFailed);
  EXPECT_EQ(run.diagnostics(), "Drelk: Error - unsupported big object format in big.obj\n\n");

  InMemoryRun member;
  const std::vector<uint8_t> library =
      Archive().member("big.obj", import_member(2)).member("a.obj", declaring("_x_", 4)).bytes();
  EXPECT_EQ(member.analyze(library, "m.lib"), Outcome::kFailed);
  EXPECT_EQ(member.diagnostics(),
            "Drelk: Error - unsupported big object format in m.lib (big.obj)\n\n");
}

}  // namespace
}  // namespace drelk::test
