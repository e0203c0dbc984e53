// LLVM bitcode objects of flang's and clang's -flto, and llvm-ar's archives of them
// (tests/data/bitcode, see its build.sh): the report lists exactly the common globals that
// llvm-dis shows, with their sizes, whatever archive holds the object.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

#include "tests/e2e/e2e.h"

namespace drelk::test {
namespace {

const char* const kFolders[] = {"x86_64-linux", "arm64-macos", "x86_64-macos"};
const char* const kUnits[] = {"sa", "sb", "consts", "solve", "clash", "cblocks"};

// The bytes of one value of an IR type that the test data's globals use.
uint64_t type_size(const std::string& type) {
  static const std::map<std::string, uint64_t> sizes = {{"i8", 1},  {"i16", 2},   {"i32", 4},
                                                        {"i64", 8}, {"float", 4}, {"double", 8}};
  const auto found = sizes.find(type);
  if (found == sizes.end()) ADD_FAILURE() << "no size known for the IR type " << type;
  return found == sizes.end() ? 0 : found->second;
}

// The common globals of an `llvm-dis` listing, by name as the object's symbol table spells
// it (with the '_' that Darwin puts before every name), with their sizes:
//   @blk_ = common global [400 x i8] zeroinitializer, align 4
//   @state_ = common dso_local global [16 x double] zeroinitializer, align 16
std::map<std::string, uint64_t> llvm_dis_commons(const std::string& listing) {
  static const std::regex common(
      R"(^@([^ ]+) = (?:[a-z_]+ )*common (?:[a-z_]+ )*global (?:\[([0-9]+) x ([a-z0-9]+)\]|([a-z0-9]+)) )");
  const bool darwin = listing.find("target triple = \"") != std::string::npos &&
                      listing.find("-apple-") != std::string::npos;
  std::map<std::string, uint64_t> commons;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (!std::regex_search(line, match, common)) continue;
    const uint64_t size =
        match[2].matched ? std::stoull(match[2]) * type_size(match[3]) : type_size(match[4]);
    commons[(darwin ? "_" : "") + match[1].str()] = size;
  }
  return commons;
}

class BitcodeObjects : public DrelkRun {
 protected:
  void SetUp() override { copy_test_data("bitcode", dir); }
};

TEST_F(BitcodeObjects, ReportListsTheCommonsThatLlvmDisShows) {
#if defined(_WIN32)
  GTEST_SKIP() << "llvm-dis runs on the build machine only";
#endif
  const std::string dis = find_tool("llvm-dis-19");
  const std::string ar = find_tool("llvm-ar-19");
  if (dis.empty() || ar.empty()) GTEST_SKIP() << "llvm-dis-19 and llvm-ar-19 are not installed";

  // Each object's commons, as llvm-dis reads them from the object itself.
  std::map<std::string, std::map<std::string, uint64_t>> by_object;
  std::vector<std::string> inputs;
  for (const char* folder : kFolders) {
    for (const char* unit : kUnits) {
      const std::string path = std::string(folder) + "/" + unit + ".o";
      const ProgramResult listing = run_program(dis, {"-o", "-", path}, dir.str());
      ASSERT_EQ(listing.exit_status, 0) << listing.standard_error;
      by_object[path] = llvm_dis_commons(listing.standard_output);
      inputs.push_back(path);
    }
  }
  // An archive's members, as llvm-ar lists them, are the objects of the folder it was made
  // of (a thin archive's names are those objects' paths).
  std::multiset<ReportEntry> expected;
  for (const auto& [path, commons] : by_object) {
    for (const auto& [name, size] : commons) expected.emplace(name, size, ' ', path);
  }
  for (const auto& [archive, folder] :
       std::map<std::string, std::string>{{"libbc-gnu.a", "x86_64-linux/"},
                                          {"libbc-darwin.a", "arm64-macos/"},
                                          {"libbc-thin.a", ""}}) {
    const ProgramResult members = run_program(ar, {"t", archive}, dir.str());
    ASSERT_EQ(members.exit_status, 0) << members.standard_error;
    std::istringstream names(members.standard_output);
    for (std::string member; std::getline(names, member);) {
      for (const auto& [name, size] : by_object.at(folder + member)) {
        expected.emplace(name, size, ' ', archive + " (" + member + ")");
      }
    }
    inputs.push_back(archive);
  }

  const ProgramResult r = drelk(inputs);
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(expected.size(), 48u);  // the comparison is not vacuous
  EXPECT_EQ(report_entries(r.standard_output), expected);
}

// flang's objects of one target and clang's C unit: /BLK/ of 400 and 800 bytes, blank
// COMMON of two sizes, a block named like a procedure; a definition's size is not in the
// symbol table, so the BLOCK DATA of /CONSTS/ and C's initialised data show nothing.
TEST_F(BitcodeObjects, ObjectsOfLlvmToolChains) {
  const ProgramResult r =
      drelk_at_every_job_count({"x86_64-linux/*.o", "arm64-macos/sa.o", "arm64-macos/sb.o"});
  EXPECT_EQ(r.standard_output, golden("bitcode-objects.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  const ProgramResult problems = drelk_at_every_job_count({"-p", "x86_64-linux/*.o"});
  EXPECT_EQ(problems.standard_output, golden("bitcode-objects-problems.txt"));
  // A directory's bitcode objects are objects to read, told by their bytes.
  const ProgramResult tree = drelk({"-p", "x86_64-linux"});
  EXPECT_EQ(tree.standard_error, "");
  // A directory walk joins paths with the system's separator: '\\' on Windows.
  std::string walked = tree.standard_output;
#if defined(_WIN32)
  std::replace(walked.begin(), walked.end(), '\\', '/');
#endif
  EXPECT_NE(walked.find(problems.standard_output), std::string::npos) << tree.standard_output;
  // The documents for programs name the format.
  const std::string json = drelk({"-fjson", "x86_64-macos/sa.o", "libbc-gnu.a"}).standard_output;
  for (
      const char* expected : {
          R"({"path": "x86_64-macos/sa.o", "file": "x86_64-macos/sa.o", "format": "llvm-bitcode"})",
          R"("member": "sb.o", )",
      }) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
}

}  // namespace
}  // namespace drelk::test
