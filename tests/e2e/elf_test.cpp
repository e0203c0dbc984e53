// Objects and archives built by Linux tool chains (tests/data/elf, see its build.sh): the
// report lists exactly the COMMON declarations and initialised definitions that readelf
// shows, every archiver's packing of the same members gives the same report, and a thin
// archive's members are read from the files beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "tests/e2e/e2e.h"
#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"

namespace drelk::test {
namespace {

namespace fs = std::filesystem;

const char* const kArchives[] = {"librod.a", "librod-thin.a", "librod-bsd.a", "librod-sym64.a"};

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// What `readelf -sW` shows, as the report would list it: every COMMON symbol (COM, and
// x86-64's LARGE_COM) and every global data object defined in a section, of the names
// that some object declares as COMMON with a non-zero size.
std::multiset<ReportEntry> readelf_entries(const std::string& listing) {
  std::multiset<ReportEntry> all;
  std::set<std::string> declared;
  std::istringstream lines(listing);
  std::string line, file;
  while (std::getline(lines, line)) {
    if (line.rfind("File: ", 0) == 0) {
      file = line.substr(6);
      // "lib.a(member)" and a thin archive's "lib.a[member]" are "lib.a (member)" here.
      const size_t open = file.find_first_of("([");
      if (open != std::string::npos && (file.back() == ')' || file.back() == ']')) {
        file = file.substr(0, open) + " (" + file.substr(open + 1, file.size() - open - 2) + ")";
      }
      continue;
    }
    std::istringstream fields(line);
    std::string number, value, size, type, bind, visibility, index, name;
    if (!(fields >> number >> value >> size >> type >> bind >> visibility >> index >> name) ||
        number.back() != ':' || !std::isdigit(static_cast<unsigned char>(number[0]))) {
      continue;  // not a symbol: a heading, or a symbol without a name
    }
    const uint64_t bytes = std::stoull(size, nullptr, 0);
    if (index == "COM" || index == "LARGE_COM") {
      all.emplace(name, bytes, ' ', file);
      if (bytes != 0) declared.insert(name);
    } else if (bind == "GLOBAL" && (type == "OBJECT" || type == "TLS") &&
               std::all_of(index.begin(), index.end(), ::isdigit)) {
      all.emplace(name, bytes, 'I', file);
    }
  }
  std::multiset<ReportEntry> entries;
  for (const ReportEntry& e : all) {
    if (declared.count(std::get<0>(e)) != 0) entries.insert(e);
  }
  return entries;
}

class ElfObjects : public DrelkRun {
 protected:
  void SetUp() override { copy_test_data("elf", dir); }
};

TEST_F(ElfObjects, ReportListsWhatReadelfShows) {
#if defined(_WIN32)
  GTEST_SKIP() << "readelf runs on the build machine only";
#endif
  const std::string readelf = find_tool("readelf");
  if (readelf.empty()) GTEST_SKIP() << "readelf (binutils) is not installed";
  // Every input but the LTO object, whose symbols readelf does not see.
  std::vector<std::string> inputs;
  for (const char* name : {"boundary_conditions", "consts", "field", "labels", "main", "probe",
                           "report", "scrinit", "solve", "threads"}) {
    inputs.push_back(std::string("x86_64/") + name + ".o");
  }
  for (const char* name : {"consts", "main", "probe", "solve"}) {
    inputs.push_back(std::string("i386/") + name + ".o");
  }
  // readelf reads the GNU-style archives (not BSD's "#1/N" names).
  for (const char* name :
       {"s390x/probe.o", "ppc/probe.o", "librod.a", "librod-thin.a", "librod-sym64.a"}) {
    inputs.push_back(name);
  }
  std::vector<std::string> arguments{"-sW"};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());
  const ProgramResult listing = run_program(readelf, arguments, dir.str());
  ASSERT_EQ(listing.exit_status, 0) << listing.standard_error;

  const ProgramResult r = drelk(inputs);
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  const std::multiset<ReportEntry> expected = readelf_entries(listing.standard_output);
  EXPECT_EQ(expected.size(), 52u);  // the comparison is not vacuous
  EXPECT_EQ(report_entries(r.standard_output), expected);
}

// gfortran, gcc and flang objects: sizes that differ (one of them only an initialised
// definition shows), a procedure named like a block, THREADPRIVATE and large-model
// commons, an LTO object; weak and ordinary variables never appear.
TEST_F(ElfObjects, ObjectsOfLinuxToolChains) {
  const ProgramResult r = drelk_at_every_job_count({"x86_64/*.o"});
  EXPECT_EQ(r.standard_output, golden("elf-objects.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  // The documents for programs name what each file was read as.
  const std::string json = drelk({"-fjson", "x86_64/main.o", "librod-thin.a"}).standard_output;
  EXPECT_NE(json.find("\"format\": \"elf\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"format\": \"thin-archive\""), std::string::npos) << json;
}

TEST_F(ElfObjects, EveryArchiverGivesTheSameReport) {
  const std::string expected = drelk({"librod.a"}).standard_output;
  EXPECT_NE(expected.find(" (boundary_conditions.o)"), std::string::npos) << expected;
  for (const char* archive : kArchives) {
    const ProgramResult r = drelk({archive});
    std::string shown = replace_all(r.standard_output, archive, "librod.a");
    shown = replace_all(shown, "(x86_64/", "(");  // a thin archive names its files' paths
    EXPECT_EQ(shown, expected) << archive;
    EXPECT_EQ(r.standard_error, "") << archive;
    EXPECT_EQ(r.exit_status, 0) << archive;
  }
  // The problems alone, from the thin archive.
  EXPECT_EQ(drelk({"-p", "librod-thin.a"}).standard_output,
            "Drelk Error: Common Block const_ is declared with different sizes\n" +
                kInitialisedSmallerLine +
                "             12 bytes in librod-thin.a (x86_64/main.o)\n"
                "             12 bytes in librod-thin.a (x86_64/solve.o)\n"
                "              8 bytes in librod-thin.a (x86_64/consts.o)\n\n"
                "Drelk Error: Common Block mesh_ is declared with different sizes\n" +
                kExtentLine +
                "            964 bytes in librod-thin.a (x86_64/solve.o)\n"
                "            804 bytes in librod-thin.a (x86_64/boundary_conditions.o)\n"
                "            804 bytes in librod-thin.a (x86_64/main.o)\n\n"
                "Drelk Error: Common Block output_ conflicts with procedure output_ in "
                "librod-thin.a (x86_64/report.o)\n" +
                kProcedureClashLine + "\n" + summary_line(4, 5, 2, 1, 0));
}

// A thin archive's member files are found beside the archive wherever it is named from;
// one that is gone is reported and the others are still read.
TEST_F(ElfObjects, ThinArchiveMembersAreTheFilesBesideIt) {
  fs::create_directories(dir.path() / "lib");
  fs::rename(dir.path() / "librod-thin.a", dir.path() / "lib" / "librod-thin.a");
  fs::rename(dir.path() / "x86_64", dir.path() / "lib" / "x86_64");
  fs::remove(dir.path() / "lib" / "x86_64" / "report.o");
  const ProgramResult r = drelk({"lib/librod-thin.a"});
  EXPECT_EQ(r.standard_error, "Drelk: Error opening input file \"lib/x86_64/report.o\"\n\n");
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(r.standard_output.find("conflicts with procedure"), std::string::npos);
  EXPECT_NE(r.standard_output.find("lib/librod-thin.a (x86_64/solve.o)"), std::string::npos);
}

// An archive may hold COFF and ELF members side by side: each goes to its own reader.
TEST_F(ElfObjects, ArchiveOfCoffAndElfMembers) {
  const std::string coff = read_file(fs::path(source_directory()) / "examples" / "solver.obj");
  const std::string elf = read_file(dir.path() / "x86_64" / "main.o");
  dir.write("mixed.a", Archive()
                           .style(ArchiveStyle::Gnu)
                           .member("solver.obj", std::vector<uint8_t>(coff.begin(), coff.end()))
                           .member("main.o", std::vector<uint8_t>(elf.begin(), elf.end()))
                           .bytes());
  const ProgramResult r = drelk({"mixed.a"});
  EXPECT_EQ(r.standard_error, "");
  EXPECT_NE(
      r.standard_output.find(" _grid_\n          964                  mixed.a (solver.obj)\n"),
      std::string::npos)
      << r.standard_output;
  EXPECT_NE(r.standard_output.find(" mesh_\n          804                  mixed.a (main.o)\n"),
            std::string::npos)
      << r.standard_output;
}

}  // namespace
}  // namespace drelk::test
