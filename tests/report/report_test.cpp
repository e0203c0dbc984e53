// The analysis report: columns, error lines, the procedure cursor, -p, and the verdict.
#include "report/report.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "registry/registry.h"

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

const char kHeading[] =
    "Common Block Analysis\n\n"
    "Common   Block   Initialized   Object File\n"
    "         Size \n\n";

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
                          "Drelk Error: Common Block AREA is declared with different sizes\n"
                          "\n"
                          "End of Analysis:  COMMON Block errors encountered.\n");
  EXPECT_EQ(report(0, true),
            "Drelk Error: Common Block AREA is declared with different sizes\n"
            "            800 bytes in C:\\src\\b.obj\n"
            "            400 bytes in C:\\src\\a.obj\n"
            "\n");
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
                          "Drelk Error: Common Block grid_ is declared with different sizes\n"
                          "\n"
                          "End of Analysis:  COMMON Block errors encountered.\n");
}

TEST_F(ReportTest, IncompleteProcessingDoesNotChangeTheVerdict) {
  add_common_reference(registry, object("a.obj"), "X", 4);
  EXPECT_EQ(report(1), "Drelk: Processing is incomplete due to previous error(s).\n\n" +
                           std::string(kHeading) +
                           " X\n"
                           "            4                  a.obj\n"
                           "\n"
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
            "Drelk Error: Common Block _s_ is declared with different sizes\n"
            "              8 bytes in b.obj\n"
            "              4 bytes in a.obj\n"
            "\n"
            "Drelk Error: Common Block _s_ conflicts with procedure _s_ in b.obj\n\n"
            "Drelk Error: Common Block _s_ conflicts with procedure _s_ in a.obj\n\n");
}

TEST_F(ReportTest, ProcedureCursorMovesAcrossBlocks) {
  const ObjectEntry& a = object("a.obj");
  for (const char* block : {"B", "D", "F"}) add_common_reference(registry, a, block, 4);
  for (const char* procedure : {"A", "C", "D", "E", "G"}) add_procedure(registry, a, procedure);
  EXPECT_EQ(report(0, true), "Drelk Error: Common Block D conflicts with procedure D in a.obj\n\n");
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
                          "Drelk Error: Common Block BIG is declared with different sizes\n"
                          "\n"
                          "End of Analysis:  COMMON Block errors encountered.\n");
  EXPECT_EQ(report(0, true),
            "Drelk Error: Common Block BIG is declared with different sizes\n"
            "     4294967295 bytes in a.obj\n"
            "     2147483648 bytes in a.obj\n"
            "\n");
}

TEST_F(ReportTest, LargeReportsAreWrittenWhole) {
  const ObjectEntry& a = object("a.obj");
  for (int i = 0; i < 20000; ++i) add_common_reference(registry, a, "B" + std::to_string(i), 4);
  const std::string text = report();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5 + 3 * 20000 + 1);
  EXPECT_EQ(text.substr(text.size() - 43), "End of Analysis:  No problems encountered.\n");
}

}  // namespace
}  // namespace drelk
