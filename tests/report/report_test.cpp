// The analysis report: columns, error lines, the procedure cursor, -p, and the verdict;
// the escaping and the URIs of the documents for programs.
#include "report/report.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "registry/registry.h"
#include "report/json_writer.h"

namespace drelk {
namespace {

class ReportTest : public ::testing::Test {
 protected:
  ~ReportTest() override { free_lists(registry); }

  const ObjectEntry& object(const std::string& path) {
    return *record_object(registry, path, path);
  }

  std::string report(int error_count = 0, bool problems_only = false) {
    std::string text;
    TextStream out = memory_text_stream(text);
    report_common_blocks(registry, error_count, problems_only, out);
    return text;
  }

  Registry registry;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

const char kHeading[] =
    "Common Block Analysis\n\n"
    "Common   Block   Initialized   Object File\n"
    "         Size \n\n";

// The lines that classes and counts add under the error lines and before the verdict.
const char kExtent[] =
    "  extent (warning): sizes differ and not every layout was compared (-m, objects built with "
    "-g): GNU ld and lld keep the largest size; Apple's ld64 since Xcode 15 and MSVC's LINK may "
    "keep another, which larger declarations overrun\n";
const char kClash[] =
    "  procedure-clash (error): a procedure has the block's name: the linker takes both for one "
    "symbol, so the block's storage overlays code or a call jumps into data\n";

// A declaration marked initialised is the initialised definition, as an object that both
// declares and initialises a block holds it: the larger declaration is the graver risk.
TEST_F(ReportTest, SizeConflictWithAnInitialisedDeclaration) {
  const ObjectEntry& a = object("C:\\src\\a.obj");
  const ObjectEntry& b = object("C:\\src\\b.obj");
  add_common_reference(registry, a, "AREA", 400);
  add_common_reference(registry, b, "AREA", 800);
  mark_initialized(*find_block(registry, "AREA"), b.path);
  EXPECT_EQ(report(), std::string(kHeading) +
                          " AREA\n"
                          "          800   I              C:\\src\\b.obj\n"
                          "          400                  C:\\src\\a.obj\n"
                          "\n"
                          "Drelk Error: Common Block AREA is declared with different sizes\n" +
                          kExtent +
                          "\n"
                          "Summary: 1 block in 2 objects; 0 errors, 1 warning, 0 notes\n"
                          "End of Analysis:  COMMON Block errors encountered.\n");
  EXPECT_EQ(report(0, true),
            std::string("Drelk Error: Common Block AREA is declared with different sizes\n") +
                kExtent +
                "            800 bytes in C:\\src\\b.obj\n"
                "            400 bytes in C:\\src\\a.obj\n"
                "\n"
                "Summary: 1 block in 2 objects; 0 errors, 1 warning, 0 notes\n");
  // The initialised declaration smaller than another is the error of its own class.
  mark_initialized(*find_block(registry, "AREA"), a.path);
  const std::string marked = report(0, true);
  EXPECT_NE(marked.find("\n  initialised-smaller (error): "), std::string::npos) << marked;
  EXPECT_NE(marked.find("; 1 error, 0 warnings,"), std::string::npos) << marked;
}

// A definition is held against the declaration of another object that asks the most: its
// own object's declaration never counts (an object that both declares and defines a block
// is hostile, or a linker's business), and one of unknown alignment never counts either.
TEST_F(ReportTest, DefinitionsAreHeldAgainstTheLargestAlignmentOfTheOthers) {
  const ObjectEntry& a = object("a.o");
  const ObjectEntry& b = object("b.o");
  const ObjectEntry& c = object("c.o");
  add_common_reference(registry, a, "own_", 8, 64);
  add_initialized_reference(registry, a, "own_", 8, false, 8);
  add_common_reference(registry, b, "own_", 8, 16);
  add_initialized_reference(registry, a, "most_", 8, false, 8);
  add_common_reference(registry, b, "most_", 8, 16);
  add_common_reference(registry, c, "most_", 8, 32);
  add_initialized_reference(registry, c, "two_", 8, false, 4);
  add_initialized_reference(registry, b, "two_", 8, false, 2);
  add_common_reference(registry, a, "two_", 8, 16);
  add_initialized_reference(registry, a, "fine_", 8, false, 32);
  add_common_reference(registry, b, "fine_", 8, 16);
  add_initialized_reference(registry, a, "unknown_", 8, false, 0);
  add_common_reference(registry, b, "unknown_", 8, 16);
  add_initialized_reference(registry, a, "undeclared_", 8, false, 4);
  add_common_reference(registry, b, "undeclared_", 8, 0);
  std::string notes;
  for (const std::string& line : lines_of(report(0, true))) {
    if (line.starts_with("Drelk Note")) notes += line + "\n";
  }
  EXPECT_EQ(notes,
            "Drelk Note: Common Block most_ is defined with alignment 8 in a.o, smaller than the "
            "alignment 32 declared in c.o\n"
            "Drelk Note: Common Block own_ is defined with alignment 8 in a.o, smaller than the "
            "alignment 16 declared in b.o\n"
            "Drelk Note: Common Block two_ is defined with alignment 2 in b.o and 1 more "
            "definition, smaller than the alignment 16 declared in a.o\n");
  // Notes, not errors: the verdict stays.
  EXPECT_NE(report().find("; 0 errors, 0 warnings, 3 notes\nEnd of Analysis:  No problems "
                          "encountered.\n"),
            std::string::npos);
}

TEST_F(ReportTest, NoBlocksAtAll) {
  object("a.obj");
  EXPECT_EQ(report(),
            "Common Block Analysis\n\n\tNone of the objects scanned contain COMMON BLOCKS\n\n");
  EXPECT_EQ(report(0, true), "");
  EXPECT_EQ(report(2, true), "Drelk: Processing is incomplete due to previous error(s).\n\n");
}

// A name that objects only refer to with size 0 (a procedure passed as an argument, a
// variable defined elsewhere) is no COMMON block: not listed, no error, not even against a
// procedure of its name; once some object declares it with a size, its size-0 references
// are listed with it.
TEST_F(ReportTest, NamesOnlyReferredToAreNotCommonBlocks) {
  const ObjectEntry& caller = object("caller.obj");
  const ObjectEntry& flux = object("flux.obj");
  add_common_reference(registry, caller, "flux_", 0);
  add_procedure(registry, flux, "flux_");
  EXPECT_EQ(report(),
            "Common Block Analysis\n\n\tNone of the objects scanned contain COMMON BLOCKS\n\n");
  EXPECT_EQ(report(0, true), "");

  add_common_reference(registry, caller, "grid_", 0);
  add_common_reference(registry, flux, "grid_", 804);
  EXPECT_EQ(report(), std::string(kHeading) +
                          " grid_\n"
                          "          804                  flux.obj\n"
                          "            0                  caller.obj\n"
                          "\n"
                          "Drelk Error: Common Block grid_ is declared with different sizes\n" +
                          kExtent +
                          "\n"
                          "Summary: 1 block in 2 objects; 0 errors, 1 warning, 0 notes\n"
                          "End of Analysis:  COMMON Block errors encountered.\n");
}

TEST_F(ReportTest, IncompleteProcessingDoesNotChangeTheVerdict) {
  add_common_reference(registry, object("a.obj"), "X", 4);
  EXPECT_EQ(report(1), "Drelk: Processing is incomplete due to previous error(s).\n\n" +
                           std::string(kHeading) +
                           " X\n"
                           "            4                  a.obj\n"
                           "\n"
                           "Summary: 1 block in 1 object; 0 errors, 0 warnings, 0 notes\n"
                           "End of Analysis:  No problems encountered.\n");
}

TEST_F(ReportTest, BlockBothInconsistentAndClashingGetsBothErrorsSizeFirst) {
  const ObjectEntry& a = object("a.obj");
  const ObjectEntry& b = object("b.obj");
  add_common_reference(registry, a, "_s_", 4);
  add_common_reference(registry, b, "_s_", 8);
  add_procedure(registry, b, "_s_");
  add_procedure(registry, a, "_s_");
  EXPECT_EQ(report(0, true),
            std::string("Drelk Error: Common Block _s_ is declared with different sizes\n") +
                kExtent +
                "              8 bytes in b.obj\n"
                "              4 bytes in a.obj\n"
                "\n"
                "Drelk Error: Common Block _s_ conflicts with procedure _s_ in b.obj\n" +
                kClash +
                "\n"
                "Drelk Error: Common Block _s_ conflicts with procedure _s_ in a.obj\n" +
                kClash +
                "\n"
                "Summary: 1 block in 2 objects; 1 error, 1 warning, 0 notes\n");
}

TEST_F(ReportTest, ProcedureCursorMovesAcrossBlocks) {
  const ObjectEntry& a = object("a.obj");
  for (const char* block : {"B", "D", "F"}) add_common_reference(registry, a, block, 4);
  for (const char* procedure : {"A", "C", "D", "E", "G"}) add_procedure(registry, a, procedure);
  EXPECT_EQ(report(0, true),
            std::string("Drelk Error: Common Block D conflicts with procedure D in a.obj\n") +
                kClash + "\nSummary: 3 blocks in 1 object; 1 error, 0 warnings, 0 notes\n");
}

TEST_F(ReportTest, SizesPrintUnsigned) {
  const ObjectEntry& a = object("a.obj");
  add_common_reference(registry, a, "BIG", 0xFFFFFFFF);
  add_common_reference(registry, a, "BIG", 0x80000000);
  EXPECT_EQ(report(), std::string(kHeading) +
                          " BIG\n"
                          "   4294967295                  a.obj\n"
                          "   2147483648                  a.obj\n"
                          "\n"
                          "Drelk Error: Common Block BIG is declared with different sizes\n" +
                          kExtent +
                          "\n"
                          "Summary: 1 block in 1 object; 0 errors, 1 warning, 0 notes\n"
                          "End of Analysis:  COMMON Block errors encountered.\n");
  EXPECT_EQ(report(0, true),
            std::string("Drelk Error: Common Block BIG is declared with different sizes\n") +
                kExtent +
                "     4294967295 bytes in a.obj\n"
                "     2147483648 bytes in a.obj\n"
                "\n"
                "Summary: 1 block in 1 object; 0 errors, 1 warning, 0 notes\n");
}

TEST_F(ReportTest, LargeReportsAreWrittenWhole) {
  const ObjectEntry& a = object("a.obj");
  for (int i = 0; i < 20000; ++i) add_common_reference(registry, a, "B" + std::to_string(i), 4);
  const std::string text = report();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5 + 3 * 20000 + 2);
  const std::string end =
      "Summary: 20,000 blocks in 1 object; 0 errors, 0 warnings, 0 notes\n"
      "End of Analysis:  No problems encountered.\n";
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

// Names and paths are bytes from files: the documents for programs must carry every one
// as valid JSON, with the damage visible and the exact bytes recoverable.
TEST(JsonEscaping, BytesBecomeValidJsonText) {
  struct Case {
    std::string bytes;
    std::string escaped;
    bool valid_utf8;
  };
  const Case cases[] = {
      {"_grid_", "_grid_", true},
      {"a\"b\\c", "a\\\"b\\\\c", true},
      {"\n\t\r\b\f", "\\n\\t\\r\\b\\f", true},
      {std::string("\x01\x1F\x7F", 3), "\\u0001\\u001f\\u007f", true},
      {std::string("x\0y", 3), "x\\u0000y", true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
      // Each byte that is not part of well-formed UTF-8 becomes U+FFFD, alone.
      {"a\xE9z", "a\xEF\xBF\xBDz", false},
      {"\x80", "\xEF\xBF\xBD", false},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", false},                  // overlong '/'
      {"\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},  // overlong
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},  // a surrogate
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},
      {"\xF5", "\xEF\xBF\xBD", false},
      {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD", false},  // cut short at the end
      {"\xE2\x82x", "\xEF\xBF\xBD\xEF\xBF\xBDx", false},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(append_json_escaped(out, c.bytes), c.valid_utf8) << c.escaped;
    EXPECT_EQ(out, c.escaped);
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid_utf8) << c.escaped;
  }
}

// SARIF names objects by URI: relative paths as typed (both separators as '/'), absolute
// ones as file URIs, and every byte a URI cannot hold percent-encoded.
TEST_F(ReportTest, SarifArtifactsAreUris) {
  const struct {
    const char* path;
    const char* uri;
  } cases[] = {
      {"a.obj", "a.obj"},
      {"src\\inner/a.obj", "src/inner/a.obj"},
      {"../lib/a b#1%.obj", "../lib/a%20b%231%25.obj"},
      {"C:\\src\\a.obj", "file:///C:/src/a.obj"},
      {"\\\\server\\share\\a.obj", "file://server/share/a.obj"},
      {"\\src\\a.obj", "file:///src/a.obj"},
      {"c:a.obj", "c%3Aa.obj"},
      {"\xC3\xA9\xE9.obj", "%C3%A9%E9.obj"},
  };
  for (const auto& c : cases) {
    free_lists(registry);
    add_common_reference(registry, object(c.path), "X", 4);
    std::string text;
    TextStream out = memory_text_stream(text);
    DocumentContext context;
    render_sarif(find_problems(registry, 0), context, out);
    EXPECT_NE(text.find(std::string("{\"location\": {\"uri\": \"") + c.uri + "\"}"),
              std::string::npos)
        << c.path << "\n"
        << text;
  }
}

}  // namespace
}  // namespace drelk
