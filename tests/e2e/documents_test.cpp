// The documents for programs (-fjson, -fsarif) and the exit status of -w, as a CI job sees
// them. Their layout on real inputs is checked by tests/report/documents_test.py.
#include "tests/e2e/e2e.h"
#include "tests/support/coff_builder.h"

namespace drelk::test {
namespace {

using Documents = DrelkRun;

// A quote, a backslash, a control byte and a byte that is not UTF-8, in a block name
// and in a procedure name of the same bytes.
const std::string kOddName =
    "_q\"b\\c\x01"
    "d\xE9_";

TEST_F(Documents, NamesOfAnyBytesSurviveIntoJsonAndSarif) {
  dir.write("odd name#1.obj", CoffObject()
                                  .section(".text", 4, 0, 0, test::pe::kCodeSectionCharacteristics)
                                  .common(kOddName, 8)
                                  .function(kOddName, 1)
                                  .bytes());
  const ProgramResult json = drelk({"-fjson", "odd*.obj"});
  EXPECT_EQ(json.exit_status, 0);
  const std::string escaped = "\"_q\\\"b\\\\c\\u0001d\xEF\xBF\xBD_\"";
  const std::string bytes = "\"5f7122625c630164e95f\"";
  EXPECT_NE(json.standard_output.find("{\"name\": " + escaped + ", \"name_bytes\": " + bytes +
                                      ", \"references\": [\n"
                                      "      {\"object\": 0, \"size\": 8, \"initialized\": false}\n"
                                      "    ]}"),
            std::string::npos)
      << json.standard_output;
  EXPECT_NE(json.standard_output.find("{\"kind\": \"procedure-clash\", \"block\": " + escaped +
                                      ", \"block_bytes\": " + bytes + ", \"procedure\": " +
                                      escaped + ", \"procedure_bytes\": " + bytes),
            std::string::npos)
      << json.standard_output;

  const ProgramResult sarif = drelk({"-fsarif", "odd*.obj"});
  EXPECT_EQ(sarif.exit_status, 0);
  EXPECT_NE(sarif.standard_output.find("\"text\": \"Common Block _q\\\"b\\\\c\\u0001d\xEF\xBF\xBD_"
                                       " conflicts with procedure "),
            std::string::npos)
      << sarif.standard_output;
  EXPECT_NE(sarif.standard_output.find("{\"location\": {\"uri\": \"odd%20name%231.obj\"}"),
            std::string::npos);
}

TEST_F(Documents, CommonBlockErrorsFailTheRunOnlyWithW) {
  dir.write("a.obj", object_declaring("_grid_", 804));
  dir.write("b.obj", object_declaring("_grid_", 964));
  dir.write("c.obj", object_declaring("_area_", 8));
  const struct {
    std::vector<std::string> arguments;
    int status;
  } cases[] = {
      {{"a.obj", "b.obj"}, 0},
      {{"-w", "a.obj", "b.obj"}, 1},
      {{"-W", "-p", "-fjson", "a.obj", "b.obj"}, 1},
      {{"-w", "-fsarif", "a.obj", "c.obj"}, 0},
      // A diagnostic wins: the check did not see everything.
      {{"-w", "a.obj", "b.obj", "missing.obj"}, 255},
      {{"-w", "-fjson", "a.obj", "missing.obj"}, 255},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& argument : c.arguments) shown += argument + " ";
    EXPECT_EQ(drelk(c.arguments).exit_status, c.status) << shown;
  }
}

TEST_F(Documents, TheSarifLogHoldsTheExitStatus) {
  dir.write("a.obj", object_declaring("_grid_", 804));
  dir.write("b.obj", object_declaring("_grid_", 964));
  const ProgramResult sarif = drelk({"-w", "-fsarif", "-odrelk.sarif", "*.obj"});
  EXPECT_EQ(sarif.exit_status, 1);
  EXPECT_EQ(sarif.standard_output, "");
  const std::string log = dir.read("drelk.sarif");
  EXPECT_NE(log.find("{\"executionSuccessful\": true, \"exitCode\": 1,"), std::string::npos) << log;

  // Nothing could be read: no text report, but a document that says why.
  const ProgramResult none = drelk({"-fsarif", "missing"});
#if defined(_WIN32)
  const std::string failed = "\"exitCode\": -1,";
#else
  const std::string failed = "\"exitCode\": 255,";
#endif
  EXPECT_EQ(none.exit_status, 255);
  EXPECT_NE(none.standard_output.find("{\"executionSuccessful\": false, " + failed),
            std::string::npos)
      << none.standard_output;
}

}  // namespace
}  // namespace drelk::test
