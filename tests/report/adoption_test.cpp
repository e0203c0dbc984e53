// Reading what a team keeps in its repository: baselines (drelk's own JSON reports read
// back) and suppression files.
#include <gtest/gtest.h>

#include <string>

#include "report/baseline.h"
#include "report/json_value.h"
#include "report/suppressions.h"

namespace drelk {
namespace {

TEST(JsonValue, ReadsWhatTheReportsWrite) {
  JsonValue value;
  JsonError error;
  ASSERT_TRUE(parse_json(
      R"({"a": [1, -2.5e3, true, false, null], "b": {"c": "x\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00"}})",
      value, error))
      << error.message;
  const JsonValue* a = value.find("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items.size(), 5u);
  EXPECT_EQ(a->items[0].unsigned_integer(), 1u);
  EXPECT_EQ(a->items[1].text, "-2.5e3");
  EXPECT_FALSE(a->items[1].unsigned_integer());
  EXPECT_TRUE(a->items[2].boolean);
  EXPECT_TRUE(a->items[4].is(JsonValue::Kind::kNull));
  EXPECT_EQ(value.find("b")->string_at("c"), "x\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(JsonValue, RefusesWhatIsNotJsonAndSaysWhere) {
  struct Case {
    const char* text;
    const char* message;
    uint64_t line, column;
  };
  const Case cases[] = {
      {"", "the document ends where a value was expected", 1, 1},
      {"{\"a\": 1} x", "text after the end of the document", 1, 10},
      {"[1,\n 2", "an array that does not end", 2, 3},
      {"[01]", "an array whose items are not separated by commas", 1, 3},
      {"{\"a\" 1}", "an object member without ':'", 1, 6},
      {"{1: 2}", "an object member without a name", 1, 2},
      {"\"a\tb\"", "a control character in a string", 1, 3},
      {"\"\\x\"", "an unknown escape in a string", 1, 3},
      {"\"\\ud800\"", "an escape of an unpaired surrogate", 1, 8},
      {"\"\\udc00\"", "an escape of an unpaired surrogate", 1, 8},
      {"\"\xC3\"", "a string that is not valid UTF-8", 1, 2},
      {"1.", "a number without digits after its point", 1, 3},
      {"tru", "not a JSON value", 1, 1},
      {"\"abc", "a string that does not end", 1, 5},
  };
  for (const Case& c : cases) {
    JsonValue value;
    JsonError error;
    EXPECT_FALSE(parse_json(c.text, value, error)) << c.text;
    EXPECT_EQ(error.message, c.message) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.column, c.column) << c.text;
  }
}

TEST(JsonValue, BoundsNestingAndDropsWhatIsNotKept) {
  JsonValue value;
  JsonError error;
  EXPECT_FALSE(parse_json(std::string(100000, '['), value, error));
  EXPECT_EQ(error.message, "nesting too deep");
  EXPECT_TRUE(
      parse_json(std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']'), value, error));

  // Members passed over are checked all the same, and keep nothing.
  const auto keep = [](std::string_view name) { return name == "kept"; };
  ASSERT_TRUE(parse_json(R"({"dropped": [1, {"x": [2]}], "kept": [3]})", value, error, keep));
  ASSERT_EQ(value.names.size(), 1u);
  EXPECT_EQ(value.names[0], "kept");
  EXPECT_EQ(value.values.size(), 1u);
  EXPECT_FALSE(parse_json(R"({"dropped": [1, {"x": [2}], "kept": [3]})", value, error, keep));
}

TEST(NamePattern, MatchesAsTheShellDoes) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"grid_", "grid_", true},     {"grid_", "GRID_", false},
      {"grid_", "grid_x", false},   {"*", "", true},
      {"cfft*", "cfftw_", true},    {"*_", "grid_", true},
      {"*_", "grid", false},        {"g?id_", "grid_", true},
      {"g?id_", "gid_", false},     {"[a-c]blk", "bblk", true},
      {"[!a-c]blk", "bblk", false}, {"[!a-c]blk", "xblk", true},
      {"[]]x", "]x", true},         {"[ab", "[ab", true},
      {"*a*b*c*", "xaxbxcx", true}, {"*a*b*c*", "xaxcxbx", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(name_pattern_match(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
  // A pattern of many stars against a long name that fails at its end stays fast.
  EXPECT_FALSE(name_pattern_match(std::string(200, '*') + "b", std::string(100000, 'a')));
}

const std::vector<std::string_view> kKinds = {"size-mismatch", "procedure-clash", "extent",
                                              "blank-common"};

TEST(Suppressions, ReadsEntriesCommentsAndReasons) {
  std::vector<Suppression> entries;
  SuppressionError error;
  ASSERT_TRUE(
      parse_suppressions("\xEF\xBB\xBF# accepted findings\n"
                         "\n"
                         "___BLNK__ blank-common  # scratch areas\r\n"
                         "  cfft*   # the FFT work areas #3\n",
                         kKinds, entries, error))
      << error.message;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].pattern, "___BLNK__");
  EXPECT_EQ(entries[0].kind, "blank-common");
  EXPECT_EQ(entries[0].reason, "scratch areas");
  EXPECT_EQ(entries[0].line, 3u);
  EXPECT_EQ(entries[1].pattern, "cfft*");
  EXPECT_EQ(entries[1].kind, "");
  EXPECT_EQ(entries[1].reason, "the FFT work areas #3");

  EXPECT_EQ(find_suppression(entries, "___BLNK__", "size-mismatch", "blank-common"), &entries[0]);
  EXPECT_EQ(find_suppression(entries, "___BLNK__", "size-mismatch", "extent"), nullptr);
  EXPECT_EQ(find_suppression(entries, "cfftw_", "procedure-clash", ""), &entries[1]);
}

TEST(Suppressions, SaysWhichLineIsBadAndWhy) {
  struct Case {
    const char* text;
    uint64_t line;
    const char* message;
  };
  const Case cases[] = {
      {"a # ok\nb c d # three words\n", 2, "more than a block name and a kind before '#'"},
      {"grid_ sizes # no such kind\n", 1, "\"sizes\" is not a kind of finding"},
      {"# fine\n\ngrid_\n", 3, "no reason after '#'"},
      {"grid_ #   \n", 1, "no reason after '#'"},
  };
  for (const Case& c : cases) {
    std::vector<Suppression> entries;
    SuppressionError error;
    EXPECT_FALSE(parse_suppressions(c.text, kKinds, entries, error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(error.message, c.message) << c.text;
  }
}

constexpr const char* kReport = R"json({
  "schema": "drelk-report", "version": 1,
  "objects": [{"path": "/a/very/long/folder/main.obj"}],
  "findings": [
    {"kind": "size-mismatch", "block": "_grid_", "declarations": [
      {"object": 4, "path": "build1/solver.obj", "size": 964},
      {"object": 9, "path": "build1/lib/physics.lib (setup.obj)", "size": 804}]},
    {"kind": "procedure-clash", "block": "_setup_", "procedure": "_setup_", "definers": [
      {"object": 3, "path": "build1\\setup.obj"}]}
  ],
  "verdict": "common-block-errors"
})json";

FindingPrint print(std::string kind, std::string block, std::vector<uint64_t> sizes,
                   std::vector<std::string> files) {
  FindingPrint p{std::move(kind), std::move(block), "", std::move(sizes), std::move(files), "", {}};
  normalise(p);
  return p;
}

TEST(Baseline, ComparesByBlockAndKindWhateverTheFolders) {
  Baseline baseline;
  std::string why;
  ASSERT_TRUE(read_baseline(kReport, baseline, why)) << why;
  ASSERT_EQ(baseline.findings.size(), 2u);
  EXPECT_EQ(baseline.findings[0].files,
            (std::vector<std::string>{"physics.lib (setup.obj)", "solver.obj"}));
  EXPECT_EQ(baseline.findings[1].files, std::vector<std::string>{"setup.obj"});

  // The same findings from a build folder of another name are unchanged.
  EXPECT_EQ(match_baseline(baseline, print("size-mismatch", "_grid_", {804, 964},
                                           {"physics.lib (setup.obj)", "solver.obj"}))
                .state,
            BaselineState::kUnchanged);
  const BaselineMatch updated =
      match_baseline(baseline, print("procedure-clash", "_setup_", {}, {"setup.obj", "x.obj"}));
  EXPECT_EQ(updated.state, BaselineState::kUpdated);
  EXPECT_EQ(updated.change, "declared in other files");
  // Each baseline finding stands for one finding of the run; the kind is part of the name.
  EXPECT_EQ(match_baseline(baseline, print("size-mismatch", "_grid_", {804, 964}, {})).state,
            BaselineState::kNew);
  EXPECT_EQ(match_baseline(baseline, print("procedure-clash", "_grid_", {}, {})).state,
            BaselineState::kNew);
  EXPECT_EQ(baseline.matched, (std::vector<bool>{true, true}));
  EXPECT_EQ(baseline.guid.size(), 36u);
}

TEST(Baseline, SaysWhatChangedInAnUpdatedFinding) {
  Baseline baseline;
  std::string why;
  ASSERT_TRUE(read_baseline(kReport, baseline, why));
  const BaselineMatch m = match_baseline(
      baseline,
      print("size-mismatch", "_grid_", {804, 1000}, {"physics.lib (setup.obj)", "solver.obj"}));
  EXPECT_EQ(m.state, BaselineState::kUpdated);
  EXPECT_EQ(m.change, "sizes 804, 1000 (were 804, 964)");
}

TEST(Baseline, RefusesDocumentsThatAreNotDrelkReports) {
  struct Case {
    const char* text;
    const char* why;
  };
  const Case cases[] = {
      {"",
       "is not a JSON document (line 1, column 1: the document ends where a value was "
       "expected)"},
      {R"({"version": "2.1.0", "runs": []})", "is not a drelk JSON report"},
      {R"({"schema": "drelk-report", "version": 1})", "is a drelk JSON report without findings"},
      {R"({"schema": "drelk-report", "version": 1, "findings": [{"block": "x"}]})",
       "is a damaged drelk JSON report (finding 1)"},
      {R"({"schema": "drelk-report", "version": 1, "findings": [{"kind": "size-mismatch",
          "block": "x", "declarations": [{"size": -1}]}]})",
       "is a damaged drelk JSON report (finding 1)"},
      {R"({"schema": "drelk-report", "version": 1, "findings": [{"kind": "size-mismatch",
          "block_bytes": "zz"}]})",
       "is a damaged drelk JSON report (finding 1)"},
  };
  for (const Case& c : cases) {
    Baseline baseline;
    std::string why;
    EXPECT_FALSE(read_baseline(c.text, baseline, why)) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
  }
}

}  // namespace
}  // namespace drelk
