// Parallel reading (-j): files read ahead by many threads are taken into the run in the
// order of one job, so that every output is the same whatever the count of jobs, with
// every kind of diagnostic a file, a member, the search or the run itself can give.
#include <filesystem>

#include "tests/e2e/e2e.h"
#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"

namespace drelk::test {
namespace {

using ParallelReading = DrelkRun;

std::string numbered(const char* prefix, int i) {
  std::string digits = std::to_string(i);
  return prefix + std::string(3 - digits.size(), '0') + digits;
}

// More files than the read-ahead holds at once, of every kind: good objects declaring
// blocks of sizes that differ, damaged ones, executables, libraries with a damaged member,
// objects of more than a mebibyte (read in their turn), thin archives whose member files
// are missing, and files that are no objects at all.
void write_mixed_tree(const RunDirectory& dir) {
  for (int i = 0; i < 150; ++i) {
    const std::string name = "tree/" + numbered("f", i);
    if (i % 5 == 0) {
      dir.write(name + ".obj", CoffObject().common("_x_", 4).symbol_count(0xFFFFFFFF).bytes());
    } else if (i % 7 == 0) {
      dir.write(name + ".obj", std::vector<uint8_t>{'M', 'Z', 0x90, 0, 3, 0});
    } else if (i % 11 == 0) {
      Archive library;
      library.member("good.obj", object_declaring("_lib_", 8 + i))
          .member("bad.obj", CoffObject().common("_y_", 4).string_table_size(0x10000).bytes())
          .member("last.obj", object_declaring("_x_", 16));
      dir.write(name + ".lib", library.bytes());
      dir.write(name + ".obj", library.bytes());
    } else if (i % 13 == 0) {
      std::vector<uint8_t> large = object_declaring("_big_", 4 * i);
      large.resize(large.size() + (3u << 19));
      dir.write(name + ".obj", large);
    } else if (i % 17 == 0) {
      Archive thin = Archive().style(ArchiveStyle::Thin);
      thin.member(numbered("gone", i) + ".obj", object_declaring("_gone_", 4));
      dir.write(name + ".obj", thin.bytes());
    } else if (i % 19 == 0) {
      dir.write(name + ".obj", std::string("plain text, no object"));
    } else {
      dir.write(name + ".obj", object_declaring(i % 3 == 0 ? "_x_" : "_area_", 4 * (i % 4 + 1)));
    }
  }
}

TEST_F(ParallelReading, EveryKindOfInputAndDiagnosticComesInTheOrderOfOneJob) {
  write_mixed_tree(dir);
  // Named files with a pattern that finds nothing in between, and the same files again.
  const ProgramResult named = drelk_at_every_job_count({"tree/*.obj", "missing.obj", "tree/f00*"});
  EXPECT_NE(named.standard_error.find("Can't find file missing.obj"), std::string::npos);
  EXPECT_NE(named.standard_error.find("Error opening input file"), std::string::npos);
  EXPECT_NE(named.standard_error.find("not an object file"), std::string::npos);
  EXPECT_EQ(named.exit_status, 255);
  // A directory input (files told by their bytes, counted), as documents with the
  // diagnostics' objects and offsets, and the recursive search.
  drelk_at_every_job_count({"-fjson", "tree"});
  drelk_at_every_job_count({"-fsarif", "-p", "tree", "tree"});
  drelk_at_every_job_count({"-s", "*.lib"});
}

// Every corpus of real compiler output and every fuzz finding of the suite, read as a
// directory with their layouts, in the text report and in the documents.
TEST_F(ParallelReading, EveryCorpusOfTheSuiteReadsTheSame) {
  for (const std::filesystem::directory_entry& corpus :
       std::filesystem::directory_iterator(source_directory() + "/tests/data")) {
    if (!corpus.is_directory()) continue;
    const std::string path = corpus.path().string();
    SCOPED_TRACE(path);
    drelk_at_every_job_count({"-m", path});
    drelk_at_every_job_count({"-m", "-fjson", path});
    drelk_at_every_job_count({"-fsarif", path});
  }
}

// The run stops at an input that is its own output file: the files after it are read
// ahead, but nothing they gave may show.
TEST_F(ParallelReading, AnInputThatIsTheOutputFileEndsTheReadingWhereOneJobDoes) {
  write_mixed_tree(dir);
  const ProgramResult r = drelk_at_every_job_count({"-otree/f071.obj", "tree/*.obj"});
  const std::string last =
      "Drelk: Error: Input file \"tree/f071.obj\" is also the output file \"tree/f071.obj\"; "
      "it is left as it was.\n\n";
  ASSERT_GE(r.standard_error.size(), last.size());
  EXPECT_EQ(r.standard_error.substr(r.standard_error.size() - last.size()), last);
  EXPECT_EQ(r.exit_status, 255);
}

// Files of ten thousand diagnostics each, then more damaged files than the read-ahead
// holds: the run lists 100,000 and counts the rest, at the same place for every count of
// jobs, though each file is read before the run knows how many the files before it gave
// (the later ones only count theirs).
TEST_F(ParallelReading, TheListingOfDiagnosticsEndsAtTheSamePlace) {
  const std::vector<uint8_t> bytes = sections_in_one_place(200).common("_x_", 4).bytes();
  for (int i = 0; i < 10; ++i) dir.write(numbered("m", i) + ".obj", bytes);
  const std::vector<uint8_t> damaged =
      CoffObject().common("_x_", 4).symbol_count(0xFFFFFFFF).bytes();
  for (int i = 0; i < 100; ++i) dir.write(numbered("n", i) + ".obj", damaged);
  const ProgramResult r = drelk_at_every_job_count({"m*.obj", "n*.obj"});
  const std::string last = "Drelk: further diagnostics not listed: 210 more\n";
  ASSERT_GE(r.standard_error.size(), last.size());
  EXPECT_EQ(r.standard_error.substr(r.standard_error.size() - last.size()), last);
}

TEST_F(ParallelReading, JobsAreACountFromOneTo1024) {
  dir.write("a.obj", object_declaring("_x_", 4));
  const std::string report = report_of("_x_", 4, {"a.obj"});
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{"-j", "3", "a.obj"},
                                                    {"--jobs", "3", "a.obj"},
                                                    {"--jobs=1024", "a.obj"},
                                                    {"-J2", "a.obj"},
                                                    {"--jo=2", "a.obj"}}) {
    const ProgramResult r = drelk(arguments);
    EXPECT_EQ(r.standard_output, report) << arguments[0];
    EXPECT_EQ(r.exit_status, 0) << arguments[0];
  }
  for (const char* argument :
       {"-j0", "-jx", "-j2x", "-j1025", "-j-1", "--jobs=", "--jobs=0", "--jobs=99999999999"}) {
    const ProgramResult r = drelk({argument, "a.obj"});
    EXPECT_EQ(r.standard_error, "Drelk: Illegal option " + std::string(argument) + "\n\n\n");
    EXPECT_EQ(r.exit_status, 255) << argument;
  }
}

}  // namespace
}  // namespace drelk::test
