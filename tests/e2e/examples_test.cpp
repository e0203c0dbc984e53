// The sample objects and libraries of real compilers and archivers: the report a reader of
// the sources expects, in every output mode, whatever tool packed the library.
#include <gtest/gtest.h>

#include "tests/e2e/e2e.h"
#include "tests/support/archive_builder.h"

namespace drelk::test {
namespace {

const char* const kObjects[] = {"main.obj",  "pdata.obj",  "report.obj",
                                "setup.obj", "solver.obj", "wclock.obj"};

std::vector<uint8_t> source_file(const std::string& relative) {
  const std::string text = read_file(std::filesystem::path(source_directory()) / relative);
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class Examples : public DrelkRun {
 protected:
  void SetUp() override {
    for (const char* object : kObjects)
      dir.write(object, source_file(std::string("examples/") + object));
    dir.write("lib/physics.lib", source_file("examples/lib/physics.lib"));
    for (const char* archive :
         {"physics-llvm14.lib", "physics-gnu.a", "imports.lib", "imports-gnu.a"}) {
      dir.write(std::string("archives/") + archive,
                source_file(std::string("tests/data/archives/") + archive));
    }
    for (const char* object : {"drive.obj", "flux.obj"}) {
      dir.write(std::string("x64/") + object,
                source_file(std::string("tests/data/mingw-x86_64/") + object));
    }
  }
};

TEST_F(Examples, ObjectsShowTheSizeConflictAndTheProcedureClash) {
  const ProgramResult r = drelk_at_every_job_count({"*.obj"});
  EXPECT_EQ(r.standard_output, golden("examples-objects.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);  // COMMON block errors do not fail the run
}

TEST_F(Examples, DefaultExtensionFindsTheSameObjects) {
  EXPECT_EQ(drelk({"*"}).standard_output, golden("examples-objects.txt"));
}

TEST_F(Examples, LibraryMembersAreShownByLibraryAndMemberName) {
  const ProgramResult r = drelk_at_every_job_count({"lib/physics.lib"});
  EXPECT_EQ(r.standard_output, golden("examples-library.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
}

TEST_F(Examples, ProblemsOnlyWithWildcardAndBackslash) {
  const ProgramResult r = drelk_at_every_job_count({"-p", "lib\\*.lib"});
  EXPECT_EQ(r.standard_output, golden("examples-library-problems.txt"));
  EXPECT_EQ(r.exit_status, 0);
}

TEST_F(Examples, OutputFileHoldsTheReport) {
  const ProgramResult r = drelk({"-oreport.txt", "*.obj"});
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(dir.read("report.txt"), golden("examples-objects.txt"));
}

TEST_F(Examples, EveryArchiverGivesTheSameReport) {
  // The same three members packed with both linker members by llvm-lib 19, by our own
  // packer, by llvm-lib 14 and by GNU ar (the last two write no second linker member).
  Archive ours;
  ours.member("setup.obj", source_file("examples/setup.obj"))
      .member("explicit_solver.obj", source_file("examples/solver.obj"))
      .member("report.obj", source_file("examples/report.obj"));
  dir.write("archives/ours.lib", ours.bytes());
  const std::string expected = golden("examples-library.txt");
  for (const char* library :
       {"archives/ours.lib", "archives/physics-llvm14.lib", "archives/physics-gnu.a"}) {
    const ProgramResult r = drelk({library});
    EXPECT_EQ(r.standard_output, replace_all(expected, "lib/physics.lib", library)) << library;
    EXPECT_EQ(r.standard_error, "") << library;
    EXPECT_EQ(r.exit_status, 0) << library;
  }
}

TEST_F(Examples, ImportLibrariesAreReadWithoutDiagnostics) {
  // Short import members are skipped; the import descriptors' plain external references
  // (Value 0) declare no COMMON block.
  for (const char* library : {"archives/imports.lib", "archives/imports-gnu.a"}) {
    const ProgramResult r = drelk({library});
    EXPECT_EQ(r.standard_error, "") << library;
    EXPECT_EQ(r.standard_output,
              "Common Block Analysis\n\n\tNone of the objects scanned contain COMMON BLOCKS\n\n")
        << library;
    EXPECT_EQ(r.exit_status, 0);
  }
}

TEST_F(Examples, ProcedurePassedAsAnArgumentIsNoCommonBlock) {
  // On x86-64, drive.obj refers to FLUX, which it passes to QUAD, by an undefined external
  // of type 0 and value 0; flux.obj defines FLUX. Nobody declares flux_ as COMMON.
  const ProgramResult r = drelk({"x64/*.obj"});
  EXPECT_EQ(r.standard_output,
            "Common Block Analysis\n\n"
            "Common   Block   Initialized   Object File\n"
            "         Size \n\n"
            " grid_\n"
            "          804                  x64/drive.obj\n"
            "          804                  x64/flux.obj\n\n" +
                summary_line(1, 2, 0, 0, 0) + "End of Analysis:  No problems encountered.\n");
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
}

TEST_F(Examples, ExecutableIsRefusedButTheReportStillRuns) {
  dir.write("prog.exe", std::vector<uint8_t>{'M', 'Z', 0, 0});
  const ProgramResult r = drelk({"prog.exe"});
  EXPECT_EQ(r.standard_error, "Drelk: The file prog.exe is not an object file.\n");
  EXPECT_EQ(r.standard_output,
            "Drelk: Processing is incomplete due to previous error(s).\n\n"
            "Common Block Analysis\n\n\tNone of the objects scanned contain COMMON BLOCKS\n\n");
  EXPECT_EQ(r.exit_status, 255);
}

}  // namespace
}  // namespace drelk::test
