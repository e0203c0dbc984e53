// Objects, archives and universal files of macOS tool chains (tests/data/macho, see its
// build.sh): the report lists exactly the commons that llvm-nm shows, with their sizes,
// each slice of a universal file as an object of its own, and every packing of the same
// objects gives the same report.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/e2e/e2e.h"

namespace drelk::test {
namespace {

// Every "(common)" symbol of an `llvm-nm -m -A` listing, with its size and object. Each
// line starts with its object: "x.o: ", "lib.a:m.o: ", and for a universal file's slice
// "(for architecture arm64):x.o: "; the report shows "x.o", "lib.a (m.o)", "x.o (arm64)".
std::multiset<ReportEntry> llvm_nm_commons(const std::string& listing) {
  std::multiset<ReportEntry> commons;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t end = line.find(": ");
    if (end == std::string::npos) continue;
    std::string prefix = line.substr(0, end);
    std::string architecture;
    const std::string marker = "(for architecture ";
    if (prefix.rfind(marker, 0) == 0) {
      const size_t close = prefix.find("):");
      architecture = " (" + prefix.substr(marker.size(), close - marker.size()) + ")";
      prefix.erase(0, close + 2);
    }
    const size_t colon = prefix.find(':');
    if (colon != std::string::npos) {
      prefix = prefix.substr(0, colon) + " (" + prefix.substr(colon + 1) + ")";
    }
    std::istringstream fields(line.substr(end + 2));
    std::string value, kind;
    if (!(fields >> value >> kind) || kind != "(common)") continue;
    const std::string name = line.substr(line.rfind(' ') + 1);
    commons.emplace(name, std::stoull(value, nullptr, 16), ' ', prefix + architecture);
  }
  return commons;
}

class MachOObjects : public DrelkRun {
 protected:
  void SetUp() override { copy_test_data("macho", dir); }
};

TEST_F(MachOObjects, ReportListsTheCommonsThatLlvmNmShows) {
#if defined(_WIN32)
  GTEST_SKIP() << "llvm-nm runs on the build machine only";
#endif
  std::string nm;
  for (const char* tool : {"llvm-nm-19", "llvm-nm", "llvm-nm-14"}) {
    if (nm.empty()) nm = find_tool(tool);
  }
  if (nm.empty()) GTEST_SKIP() << "llvm-nm (Debian's llvm) is not installed";
  std::vector<std::string> inputs = {"i386/main.o", "solve-universal.o", "libsolver.a",
                                     "libsolver-sym64.a", "libsolver-universal.a"};
  for (const char* unit : {"main", "solve", "consts", "boundary_conditions", "report"}) {
    inputs.push_back(std::string("x86_64/") + unit + ".o");
    inputs.push_back(std::string("arm64/") + unit + ".o");
  }
  inputs.push_back("arm64/flux.o");
  std::vector<std::string> arguments{"-m", "-A", "--arch=all"};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());
  const ProgramResult listing = run_program(nm, arguments, dir.str());
  ASSERT_EQ(listing.exit_status, 0) << listing.standard_error;

  const ProgramResult r = drelk(inputs);
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  const std::multiset<ReportEntry> expected = llvm_nm_commons(listing.standard_output);
  EXPECT_EQ(expected.size(), 63u);  // the comparison is not vacuous
  // An initialised definition (BLOCK DATA) is data, not a common, to llvm-nm: drelk lists it
  // with its bound and the I mark.
  std::multiset<ReportEntry> commons = report_entries(r.standard_output);
  const size_t definitions =
      std::erase_if(commons, [](const ReportEntry& entry) { return std::get<2>(entry) == 'I'; });
  EXPECT_GT(definitions, 0u);
  EXPECT_EQ(commons, expected);
}

// clang's objects of both processors, a 32-bit one, flang's, and a universal file: sizes
// that differ (/SCRUZ/ as in Nek5000), a block named like a procedure; a definition carries
// no size in Mach-O, but /CONST/'s BLOCK DATA ends where the next symbol of its section
// begins, 8 bytes on, and is smaller than the 12 bytes declared.
TEST_F(MachOObjects, ObjectsOfMacOsToolChains) {
  const ProgramResult r =
      drelk_at_every_job_count({"x86_64/*.o", "arm64/flux.o", "i386/main.o", "solve-universal.o"});
  EXPECT_EQ(r.standard_output, golden("macho-objects.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  // The documents for programs name what each file was read as, and a slice's place.
  const std::string json = drelk({"-fjson", "solve-universal.o", "libsolver.a"}).standard_output;
  for (const char* expected : {
           R"({"path": "solve-universal.o", "file": "solve-universal.o", "format": "universal"})",
           R"x({"path": "solve-universal.o (arm64)", "file": "solve-universal.o", )x"
           R"x("offset": 16384, "architecture": "arm64", "format": "macho"})x",
           R"("member": "solve.o", )",
       }) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
}

// The same members, packed with each index style or as the slices of a universal static
// library, give the same declarations.
TEST_F(MachOObjects, EveryPackingGivesTheSameReport) {
  const ProgramResult plain = drelk({"libsolver.a"});
  EXPECT_EQ(plain.standard_error, "");
  EXPECT_NE(plain.standard_output.find(" (boundary_conditions.o)\n"), std::string::npos);
  const ProgramResult sym64 = drelk({"libsolver-sym64.a"});
  EXPECT_EQ(sym64.standard_error, "");
  std::string shown = sym64.standard_output;
  for (size_t at; (at = shown.find("libsolver-sym64.a")) != std::string::npos;) {
    shown.replace(at, 17, "libsolver.a");
  }
  EXPECT_EQ(shown, plain.standard_output);

  const ProgramResult universal = drelk({"libsolver-universal.a"});
  EXPECT_EQ(universal.standard_error, "");
  EXPECT_EQ(universal.exit_status, 0);
  std::multiset<ReportEntry> x86_64;
  size_t arm64 = 0;
  for (ReportEntry entry : report_entries(universal.standard_output)) {
    std::string& path = std::get<3>(entry);
    const std::string suffix = " (x86_64)";
    if (path.size() > suffix.size() &&
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      path = "libsolver.a" + path.substr(21, path.size() - 21 - suffix.size());
      x86_64.insert(entry);
    } else {
      ++arm64;
    }
  }
  EXPECT_EQ(x86_64, report_entries(plain.standard_output));
  EXPECT_EQ(arm64, x86_64.size());
}

}  // namespace
}  // namespace drelk::test
