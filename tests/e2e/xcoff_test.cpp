// XCOFF objects and AIX big archives of LLVM's AIX tool chains (tests/data/xcoff, see its
// build.sh): the report lists exactly the COMMON csects that llvm-readobj shows, with their
// lengths, and the same objects packed in big archives give the same report.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/e2e/e2e.h"

namespace drelk::test {
namespace {

// Every external XTY_CM csect of an `llvm-readobj --syms` listing, with its SectionLen and
// object. A member's listing starts "File: lib.a(m.o)"; the report shows "lib.a (m.o)".
std::multiset<ReportEntry> readobj_commons(const std::string& listing) {
  std::multiset<ReportEntry> commons;
  std::istringstream lines(listing);
  std::string line, object, name, storage_class;
  uint64_t length = 0;
  const auto value_of = [&](const std::string& key) {
    const size_t at = line.find(key);
    return at == std::string::npos ? std::string() : line.substr(at + key.size());
  };
  while (std::getline(lines, line)) {
    if (line.rfind("File: ", 0) == 0) {
      object = line.substr(6);
      const size_t open = object.find('(');
      if (open != std::string::npos) object.insert(open, " ");
    } else if (line.rfind("    Name: ", 0) == 0) {  // a symbol's, not an auxiliary entry's
      name = value_of("Name: ");
    } else if (line.find("StorageClass: ") != std::string::npos) {
      storage_class = value_of("StorageClass: ");
    } else if (line.find("SectionLen: ") != std::string::npos) {
      length = std::stoull(value_of("SectionLen: "));
    } else if (line.find("SymbolType: XTY_CM") != std::string::npos &&
               (storage_class.rfind("C_EXT ", 0) == 0 ||
                storage_class.rfind("C_WEAKEXT ", 0) == 0)) {
      commons.emplace(name, length, ' ', object);
    }
  }
  return commons;
}

class XcoffObjects : public DrelkRun {
 protected:
  void SetUp() override { copy_test_data("xcoff", dir); }
};

const std::vector<std::string> kInputs = {
    "ppc64/sa.o",  "ppc64/sb.o",  "ppc64/init.o", "ppc64/work.o", "ppc64/consts.o",
    "ppc64/use.o", "ppc/probe.o", "ppc/field.o",  "libfort.a",    "libmixed.a"};

// The oracle's COMMON csects are the report's uninitialised lines; the initialised ones
// are the BLOCK DATA of init.o and consts.o, labels in their .data csects that the oracle
// shows as XTY_LD, each bounded by the next label or the csect's end.
TEST_F(XcoffObjects, ReportListsTheCommonsThatLlvmReadobjShows) {
#if defined(_WIN32)
  GTEST_SKIP() << "llvm-readobj runs on the build machine only";
#endif
  std::string readobj;
  for (const char* tool : {"llvm-readobj-19", "llvm-readobj"}) {
    if (readobj.empty()) readobj = find_tool(tool);
  }
  if (readobj.empty()) GTEST_SKIP() << "llvm-readobj (Debian's llvm) is not installed";
  std::vector<std::string> arguments{"--syms"};
  arguments.insert(arguments.end(), kInputs.begin(), kInputs.end());
  const ProgramResult listing = run_program(readobj, arguments, dir.str());
  ASSERT_EQ(listing.exit_status, 0) << listing.standard_error;

  const ProgramResult r = drelk(kInputs);
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  std::multiset<ReportEntry> declared, initialised;
  for (const ReportEntry& entry : report_entries(r.standard_output)) {
    (std::get<2>(entry) == 'I' ? initialised : declared).insert(entry);
  }
  const std::multiset<ReportEntry> expected = readobj_commons(listing.standard_output);
  EXPECT_EQ(expected.size(), 29u);  // the comparison is not vacuous
  EXPECT_EQ(declared, expected);
  std::multiset<ReportEntry> block_data;
  for (const std::string object : {"libfort.a (", "libmixed.a (", "ppc64/"}) {
    const std::string end = object.back() == '(' ? ")" : "";
    block_data.insert({"blk_", 400, 'I', object + "init.o" + end});
    block_data.insert({"ca_", 8, 'I', object + "consts.o" + end});
    block_data.insert({"cb_", 24, 'I', object + "consts.o" + end});
  }
  EXPECT_EQ(initialised, block_data);
}

// flang's 64-bit objects and clang's 32-bit ones: /BLK/ with 400 and 800 bytes and its BLOCK
// DATA, blank COMMON of two sizes, procedures named like blocks (by their descriptors), a
// long name from a 32-bit string table; the TOC entries of the blocks and the code csects
// ".name" are neither blocks nor procedures.
TEST_F(XcoffObjects, ObjectsOfAixToolChains) {
  const ProgramResult r = drelk_at_every_job_count({"ppc64/*.o", "ppc/*.o"});
  EXPECT_EQ(r.standard_output, golden("xcoff-objects.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  // A directory searched for objects takes XCOFF objects by their bytes.
  EXPECT_EQ(report_entries(drelk({"ppc64/", "ppc/"}).standard_output),
            report_entries(r.standard_output));
  // The documents for programs name what each file was read as.
  const std::string json = drelk({"-fjson", "libfort.a"}).standard_output;
  for (const char* expected : {
           R"({"path": "libfort.a", "file": "libfort.a", "format": "big-archive"})",
           R"("member": "sa.o", )",
           R"("format": "xcoff"})",
       }) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
}

// The 64-bit members in a big archive, alone or among 32-bit ones, give the objects' own
// report, member by member in the archive's order.
TEST_F(XcoffObjects, BigArchivesGiveTheirMembersReports) {
  const auto shown_as = [](std::multiset<ReportEntry> entries, const std::string& archive) {
    std::multiset<ReportEntry> shown;
    for (ReportEntry entry : entries) {
      std::string& path = std::get<3>(entry);
      if (path.rfind(archive + " (", 0) == 0) {
        path = path.substr(archive.size() + 2, path.size() - archive.size() - 3);
      } else {
        path = path.substr(path.find('/') + 1);
      }
      shown.insert(entry);
    }
    return shown;
  };
  const ProgramResult objects = drelk({"ppc64/*.o"});
  const ProgramResult fort = drelk({"libfort.a"});
  EXPECT_EQ(fort.standard_error, "");
  EXPECT_EQ(shown_as(report_entries(fort.standard_output), "libfort.a"),
            shown_as(report_entries(objects.standard_output), ""));
  const ProgramResult all_objects = drelk({"ppc64/*.o", "ppc/*.o"});
  const ProgramResult mixed = drelk({"libmixed.a"});
  EXPECT_EQ(mixed.standard_error, "");
  EXPECT_EQ(shown_as(report_entries(mixed.standard_output), "libmixed.a"),
            shown_as(report_entries(all_objects.standard_output), ""));
  // The documents list the members in the order the archive links them.
  const std::string listed = drelk({"-fjson", "libmixed.a"}).standard_output;
  size_t at = 0;
  for (const char* member :
       {"sa.o", "sb.o", "init.o", "work.o", "consts.o", "use.o", "probe.o", "field.o"}) {
    const size_t next = listed.find(std::string("\"member\": \"") + member + "\"", at);
    EXPECT_NE(next, std::string::npos) << member << "\n" << listed;
    at = next == std::string::npos ? at : next;
  }
}

}  // namespace
}  // namespace drelk::test
