// Input expansion: default extension, wildcards, directory order, recursion with -s, and
// the paths that the report and the diagnostics show.
#include "tests/e2e/e2e.h"
#include "tests/support/coff_builder.h"

namespace drelk::test {
namespace {

// A Windows executable: refused with a diagnostic that names its path, which makes the
// order in which files are taken visible.
std::vector<uint8_t> executable() {
  return {'M', 'Z', 0x90, 0, 3, 0};
}

std::string refused(const std::string& path) {
  return "Drelk: The file " + path + " is not an object file.\n";
}

using InputExpansion = DrelkRun;

TEST_F(InputExpansion, PatternWithoutExtensionSearchesObjectFiles) {
  dir.write("prog.obj", object_declaring("_x_", 4));
  dir.write("prog.lib", object_declaring("_y_", 8));
  const ProgramResult r = drelk({"prog"});
  EXPECT_EQ(r.standard_output, report_of("_x_", 4, {"prog.obj"}));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
}

TEST_F(InputExpansion, PatternWithExtensionIsSearchedUnchanged) {
  dir.write("prog.obj", object_declaring("_x_", 4));
  dir.write("prog.lib", object_declaring("_y_", 8));
  EXPECT_EQ(drelk({"prog.lib"}).standard_output, report_of("_y_", 8, {"prog.lib"}));
  // "prog." has the extension "." and finds neither.
  const ProgramResult dot = drelk({"prog."});
  EXPECT_EQ(dot.standard_error, "Drelk: Can't find file prog.\n\n");
  EXPECT_EQ(dot.exit_status, 255);
}

TEST_F(InputExpansion, MissingFileNamesThePatternWithItsExtension) {
  const ProgramResult r = drelk({"nothing"});
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(r.standard_error, "Drelk: Can't find file nothing.obj\n\n");
  EXPECT_EQ(r.exit_status, 255);
}

TEST_F(InputExpansion, StarAloneMeansEveryObjectFile) {
  dir.write("a.obj", object_declaring("_x_", 4));
  dir.write("b.obj", object_declaring("_x_", 4));
  dir.write("c.txt", std::string("text"));
  EXPECT_EQ(drelk({"*"}).standard_output, report_of("_x_", 4, {"a.obj", "b.obj"}));
}

TEST_F(InputExpansion, StarDotStarMatchesEveryFileButNoDirectory) {
  dir.write("a.obj", object_declaring("_x_", 4));
  dir.write("noext", object_declaring("_x_", 4));
  dir.write("z.lib", object_declaring("_x_", 4));
  dir.make_directory("sub.obj");
  const ProgramResult r = drelk({"*.*"});
  EXPECT_EQ(r.standard_output, report_of("_x_", 4, {"a.obj", "noext", "z.lib"}));
  EXPECT_EQ(r.standard_error, "");
}

TEST_F(InputExpansion, WildcardsMatchWithoutRegardToCase) {
  dir.write("Alpha.OBJ", object_declaring("_x_", 4));
  dir.write("beta.obj", object_declaring("_x_", 4));
  dir.write("gamma.obj", object_declaring("_x_", 4));
  EXPECT_EQ(drelk({"?E*.obj"}).standard_output, report_of("_x_", 4, {"beta.obj"}));
  EXPECT_EQ(drelk({"a*"}).standard_output, report_of("_x_", 4, {"Alpha.OBJ"}));
}

TEST_F(InputExpansion, FilesAreTakenInCaseFoldedNameOrder) {
  for (const char* name : {"b.exe", "C.exe", "a.exe", "_.exe"}) dir.write(name, executable());
#if defined(_WIN32)
  // The file system ignores case: "A.exe" would be "a.exe" written again.
  const std::string upper_a;
#else
  dir.write("A.exe", executable());
  const std::string upper_a = refused("A.exe");
#endif
  const ProgramResult r = drelk({"*.exe"});
  // 'A' and 'a' fold together and then go by byte order; '_' (0x5F) sorts after the
  // folded letters, as NTFS orders it.
  EXPECT_EQ(r.standard_error,
            upper_a + refused("a.exe") + refused("b.exe") + refused("C.exe") + refused("_.exe"));
  EXPECT_EQ(r.exit_status, 255);
}

#if !defined(_WIN32)
TEST_F(InputExpansion, NamedFileFindsItselfOrElseEveryCaseVariantInDirectoryOrder) {
  for (const char* name : {"a.exe", "A.EXE", "ab.exe", "A.exe", "_.exe"}) {
    dir.write(std::string("d/") + name, executable());
  }
  // A name that no file has as spelled, then a wildcard, then a name that one file has:
  // each search finds what a search of its own would.
  const ProgramResult r = drelk({"d/a.EXE", "d/*.exe", "d/A.exe"});
  const std::string variants = refused("d/A.EXE") + refused("d/A.exe") + refused("d/a.exe");
  EXPECT_EQ(r.standard_error,
            variants + variants + refused("d/ab.exe") + refused("d/_.exe") + refused("d/A.exe"));
  EXPECT_EQ(r.exit_status, 255);
}
#endif

TEST_F(InputExpansion, PatternMatchingOnlyDirectoriesDoesNothing) {
  dir.make_directory("x.obj");
  const ProgramResult r = drelk({"x.obj"});
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
}

TEST_F(InputExpansion, SameFileTwiceIsAnalysedTwice) {
  dir.write("a.obj", object_declaring("_x_", 4));
  EXPECT_EQ(drelk({"a", "a.obj"}).standard_output, report_of("_x_", 4, {"a.obj", "a.obj"}));
}

TEST_F(InputExpansion, DirectoryPartIsKeptAsTypedWithEitherSeparator) {
  dir.write("src/one/a.obj", object_declaring("_x_", 4));
  EXPECT_EQ(drelk({"src/one/a"}).standard_output, report_of("_x_", 4, {"src/one/a.obj"}));
  EXPECT_EQ(drelk({"src\\one\\*"}).standard_output, report_of("_x_", 4, {"src\\one\\a.obj"}));
}

TEST_F(InputExpansion, RecursionVisitsFilesBeforeSubdirectoriesDepthFirst) {
  dir.write("src/top.exe", executable());
  dir.write("src/b/inner.exe", executable());
  dir.write("src/a/deep/x.exe", executable());
  dir.write("src/a/y.exe", executable());
  dir.make_directory("src/empty");
  const ProgramResult r = drelk({"-s", "src/*.exe"});
  EXPECT_EQ(r.standard_error, refused("src/top.exe") + refused("src/a\\y.exe") +
                                  refused("src/a\\deep\\x.exe") + refused("src/b\\inner.exe") +
                                  "Drelk: Can't find file src/empty\\*.exe\n\n");
  EXPECT_EQ(r.exit_status, 255);
}

TEST_F(InputExpansion, RecursionSuppliesTheDefaultExtensionInSubdirectories) {
  dir.write("top.obj", object_declaring("_x_", 4));
  dir.write("lib/part.obj", object_declaring("_x_", 4));
  const ProgramResult r = drelk({"/s", "*"});
  EXPECT_EQ(r.standard_output, report_of("_x_", 4, {"lib\\part.obj", "top.obj"}));
  EXPECT_EQ(r.standard_error, "");
}

TEST_F(InputExpansion, RecursionWithoutMatchesAtTheTopStillDescends) {
  dir.write("lib/part.obj", object_declaring("_x_", 4));
  const ProgramResult r = drelk({"-s", "*.obj"});
  EXPECT_EQ(r.standard_error, "Drelk: Can't find file *.obj\n\n");
  EXPECT_EQ(r.standard_output, "Drelk: Processing is incomplete due to previous error(s).\n\n" +
                                   report_of("_x_", 4, {"lib\\part.obj"}));
}

TEST_F(InputExpansion, LongPathsAreUsedWhole) {
  std::string deep;
  for (int i = 0; i < 30; ++i) deep += "directory-with-a-long-name-" + std::to_string(i) + "/";
  dir.write(deep + "a.obj", object_declaring("_x_", 4));
  const ProgramResult r = drelk({deep + "a"});
#if defined(_WIN32)
  // The system's ANSI file functions take paths of at most MAX_PATH (260) characters;
  // the diagnostic still names the whole path.
  EXPECT_EQ(r.standard_error, "Drelk: Can't find file " + deep + "a.obj\n\n");
  EXPECT_EQ(r.exit_status, 255);
#else
  EXPECT_EQ(r.standard_output, report_of("_x_", 4, {deep + "a.obj"}));
  EXPECT_EQ(r.standard_error, "");
#endif
}

TEST_F(InputExpansion, SymbolicLinkCycleEndsUnderRecursion) {
  dir.write("tree/a.obj", object_declaring("_x_", 4));
#if defined(_WIN32)
  // Windows makes directory links only with a privilege (and wine not at all).
  std::error_code error;
  std::filesystem::create_directory_symlink("..", dir.path() / "tree" / "up", error);
  if (error) GTEST_SKIP() << "cannot make a directory link here: " << error.message();
#else
  std::filesystem::create_directory_symlink("..", dir.path() / "tree" / "up");
#endif
  std::filesystem::create_directory_symlink(".", dir.path() / "tree" / "self");
  const ProgramResult r = drelk({"-s", "tree/*"});
  // tree/up is the test directory, entered once; its tree is the directory the search
  // started in, and tree/self is tree itself: neither is entered again.
  EXPECT_EQ(r.standard_error, "Drelk: Can't find file tree/up\\*.obj\n\n");
  EXPECT_EQ(r.standard_output, "Drelk: Processing is incomplete due to previous error(s).\n\n" +
                                   report_of("_x_", 4, {"tree/a.obj"}));
  EXPECT_EQ(r.exit_status, 255);
}

}  // namespace
}  // namespace drelk::test
