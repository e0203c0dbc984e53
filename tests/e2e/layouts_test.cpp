// drelk -m on objects of gfortran -g (tests/data/dwarf, tests/data/macho/dwarf): the
// layouts listed under each inconsistent block, the layout error of equal sizes, and
// nothing of it without -m.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/e2e/e2e.h"
#include "tests/support/elf_builder.h"

namespace drelk::test {
namespace {

const char* const kObjects[] = {"clash.o",  "grid.o",  "nodebug.o",
                                "shrunk.o", "tally.o", "tally4.o"};
// One block of every class: /Q/ (a.o, b.o, c.o), /BLK/ (bd.o, u.o), /EXT/ (exta.o, extb.o),
// blank COMMON (grid.o, tally.o), /PAIR/ and the subroutine PAIR (clash.o, pairp.o).
const char* const kClassObjects[] = {"a.o",    "b.o",    "c.o",     "bd.o",    "u.o",    "exta.o",
                                     "extb.o", "grid.o", "tally.o", "clash.o", "pairp.o"};

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
    for (const char* object : kClassObjects)
      dir.write(object, data_file(std::string("x86_64/") + object));
  }
};

TEST_F(Layouts, ListedUnderEachInconsistentBlock) {
  std::vector<std::string> arguments = {"-m"};
  arguments.insert(arguments.end(), std::begin(kObjects), std::end(kObjects));
  const ProgramResult r = drelk_at_every_job_count(arguments);
  EXPECT_EQ(r.standard_output, golden("dwarf-layouts.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  arguments.insert(arguments.begin() + 1, "-p");
  const ProgramResult p = drelk_at_every_job_count(arguments);
  EXPECT_EQ(p.standard_output, golden("dwarf-layouts-problems.txt"));
}

// The class of each finding, where two layouts part, and the count at the end, in the text
// report and in the JSON document (whose layouts each hold their members once).
TEST_F(Layouts, EveryClassOfFindingIsShownAndCounted) {
  std::vector<std::string> arguments = {"-m"};
  arguments.insert(arguments.end(), std::begin(kClassObjects), std::end(kClassObjects));
  EXPECT_EQ(drelk_at_every_job_count(arguments).standard_output, golden("dwarf-classes.txt"));
  arguments.push_back("-fjson");
  std::string json = drelk_at_every_job_count(arguments).standard_output;
  const std::string version = "\"tool\": {\"name\": \"drelk\", \"version\": \"";
  const size_t at = json.find(version);
  ASSERT_NE(at, std::string::npos);
  json.replace(at + version.size(), json.find('"', at + version.size()) - at - version.size(),
               "VERSION");
  EXPECT_EQ(json, golden("dwarf-classes.json"));
}

// Members that share storage (EQUIVALENCE) are views of the same bytes, not a difference;
// the same bytes read as another type are, and -m names where.
TEST_F(Layouts, EquivalenceViewsAreNoDifferenceButOtherTypesAre) {
  const ProgramResult views = drelk({"-m", "-w", "a.o", "b.o"});
  EXPECT_EQ(views.exit_status, 0);
  EXPECT_EQ(views.standard_output.find("Drelk Error"), std::string::npos) << views.standard_output;
  const ProgramResult types = drelk({"-m", "-p", "-w", "a.o", "c.o"});
  EXPECT_EQ(types.exit_status, 1);
  EXPECT_NE(
      types.standard_output.find("Drelk Error: Common Block q_ is declared with different layouts\n"
                                 "  type-conflict (error): "),
      std::string::npos)
      << types.standard_output;
  EXPECT_NE(types.standard_output.find("  Conflict: bytes 0-3: INTEGER*4 iq(1) in sa "
                                       "(src/a.f:2), REAL*4 x(1) in sc (src/c.f:2)\n"),
            std::string::npos)
      << types.standard_output;
}

// A routine and a BLOCK DATA of one file describe each member twice: one layout, each
// member once, and still the BLOCK DATA's finding.
TEST_F(Layouts, RoutineAndBlockDataOfOneFileGiveOneLayout) {
  dir.write("both.o", data_file("x86_64/both.o"));
  const ProgramResult r = drelk({"-m", "-p", "both.o", "u.o"});
  const std::string& out = r.standard_output;
  EXPECT_NE(out.find("  initialised-smaller (error): "), std::string::npos) << out;
  EXPECT_NE(out.find("Layout 2 of 2: 40 bytes in 1 declaration"), std::string::npos) << out;
  const std::string member = "  REAL*4         x(10)\n";
  ASSERT_NE(out.find(member), std::string::npos) << out;
  EXPECT_EQ(out.find(member, out.find(member) + 1), std::string::npos) << out;
}

// Which findings fail the run: -w errors and warnings, --fail-on the severity named.
TEST_F(Layouts, ExitStatusFollowsTheSeverityAskedFor) {
  const struct {
    std::vector<std::string> arguments;
    int status;
  } cases[] = {
      {{"grid.o", "tally.o"}, 0},  // blank COMMON of two sizes: a note
      {{"-w", "grid.o", "tally.o"}, 0},
      {{"--fail-on=warning", "grid.o", "tally.o"}, 0},
      {{"--fail-on=note", "grid.o", "tally.o"}, 1},
      {{"-w", "exta.o", "extb.o"}, 1},  // a routine declares the start: a warning
      {{"--fail-on=error", "exta.o", "extb.o"}, 0},
      {{"--fail-on=error", "-fjson", "bd.o", "u.o"}, 1},  // BLOCK DATA smaller: an error
      {{"--fail-on=error", "-m", "a.o", "b.o"}, 0},
      {{"--fail-on=error", "-m", "-fsarif", "a.o", "c.o"}, 1},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += argument + " ";
    EXPECT_EQ(drelk(c.arguments).exit_status, c.status) << shown;
  }
  const ProgramResult wrong = drelk({"--fail-on=warnings", "a.o"});
  EXPECT_EQ(wrong.standard_error, "Drelk: Illegal program option: --fail-on=warnings\n\n\n");
  EXPECT_EQ(wrong.exit_status, 255);
}

// The same sources compiled with mingw-w64 gfortran (COFF): the BLOCK DATA, which defines
// /BLK/ in .data without declaring it, is bounded by its section (64 bytes, below the 80
// declared elsewhere), and the layouts compare as on ELF.
TEST_F(Layouts, MingwObjectsGiveTheSameClasses) {
  for (const char* object : {"a.obj", "b.obj", "c.obj", "bd.obj", "u.obj"})
    dir.write(object, data_file(std::string("mingw-x86_64/") + object));
  const ProgramResult smaller = drelk({"-p", "bd.obj", "u.obj"});
  EXPECT_EQ(smaller.standard_output.substr(0, smaller.standard_output.find("  initialised")),
            "Drelk Error: Common Block blk_ is declared with different sizes\n");
  EXPECT_NE(smaller.standard_output.find("  initialised-smaller (error): "), std::string::npos);
  EXPECT_NE(smaller.standard_output.find("             64 bytes in bd.obj\n"), std::string::npos)
      << smaller.standard_output;
  EXPECT_EQ(drelk({"-w", "-m", "a.obj", "b.obj"}).exit_status, 0);
  EXPECT_NE(drelk({"-m", "a.obj", "c.obj"})
                .standard_output.find("  Conflict: bytes 0-3: INTEGER*4 iq(1) in sa (src/a.f:2), "
                                      "REAL*4 x(1) in sc (src/c.f:2)\n"),
            std::string::npos);
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

// Debug sections compressed with -gz (zlib, GNU's .zdebug_ form, zstd; and mingw-w64's COFF
// .zdebug_ sections) give the layouts that the same objects uncompressed give.
TEST_F(Layouts, CompressedDebugSectionsGiveTheSameLayouts) {
  const struct {
    const char* compressed;
    const char* plain;
    const char* extension;
    bool readable;
  } cases[] = {
#if defined(DRELK_HAVE_ZLIB)
    {"compressed/zlib", "x86_64", ".o", true},
    {"compressed/zlib-gnu", "x86_64", ".o", true},
    {"compressed/mingw-x86_64", "mingw-x86_64", ".obj", true},
#else
    {"compressed/zlib", "x86_64", ".o", false},
#endif
#if defined(DRELK_HAVE_ZSTD)
    {"compressed/zstd", "x86_64", ".o", true},
#else
    {"compressed/zstd", "x86_64", ".o", false},
#endif
  };
  for (const auto& c : cases) {
    for (const char* unit : {"tally", "shrunk"}) {
      const std::string name = std::string(unit) + c.extension;
      dir.write("gz/" + name, data_file(std::string(c.compressed) + "/" + name));
      dir.write("plain/" + name, data_file(std::string(c.plain) + "/" + name));
    }
    const std::string pattern = std::string("*") + c.extension;
    const ProgramResult gz = drelk({"-m", "-p", "gz/" + pattern});
    const ProgramResult plain = drelk({"-m", "-p", "plain/" + pattern});
    if (c.readable) {
      std::string expected = plain.standard_output;
      for (size_t at = 0; (at = expected.find("plain/", at)) != std::string::npos;) {
        expected.replace(at, 6, "gz/");
      }
      EXPECT_NE(plain.standard_output.find("Layout 2 of 2"), std::string::npos);
      EXPECT_EQ(gz.standard_output, expected) << c.compressed;
      EXPECT_EQ(gz.standard_error, "") << c.compressed;
    } else {
      EXPECT_NE(gz.standard_error.find("cannot be read (it is compressed with"), std::string::npos)
          << gz.standard_error;
    }
    std::filesystem::remove_all(dir.path() / "gz");
    std::filesystem::remove_all(dir.path() / "plain");
  }
}

// A compressed debug section that cannot be expanded is one diagnostic; the symbols are
// read as without -m.
TEST_F(Layouts, DamagedCompressedDebugSectionIsOneDiagnostic) {
  std::vector<uint8_t> stored = {'Z', 'L', 'I', 'B', 0, 0, 0, 0, 0, 0, 0, 64};
  stored.insert(stored.end(), {0x78, 0x9c, 0xde, 0xad, 0xbe, 0xef});
  dir.write("damaged.o", ElfObject()
                             .section_bytes(".zdebug_info", stored)
                             .section_bytes(".zdebug_abbrev", stored)
                             .common("tally_", 96)
                             .bytes());
  const ProgramResult m = drelk({"-m", "damaged.o"});
#if defined(DRELK_HAVE_ZLIB)
  const char* why = "its compressed data is damaged";
#else
  const char* why = "it is compressed with zlib, which this drelk was built without";
#endif
  EXPECT_EQ(m.standard_error, std::string("Drelk: Debug Information Error: .zdebug_info in "
                                          "damaged.o cannot be read (") +
                                  why + "); COMMON block layouts are not shown\n\n");
  EXPECT_EQ(m.standard_output, "Drelk: Processing is incomplete due to previous error(s).\n\n" +
                                   drelk({"damaged.o"}).standard_output);
  EXPECT_EQ(m.exit_status, 255);
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
