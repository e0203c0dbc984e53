// Damaged build trees, end to end: entries named like objects that are no regular file,
// files that cannot be read, links that loop or lead nowhere, a directory of ten thousand
// objects, names with blanks and bytes outside ASCII, and -o / -e files that cannot be
// written. drelk must give its diagnostics, go on with the rest, and finish.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e.h"
#include "tests/hostile/bounded_run.h"
#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"

namespace drelk::test {
namespace {

namespace fs = std::filesystem;

const std::string kIncomplete = "Drelk: Processing is incomplete due to previous error(s).\n\n";

size_t count_lines(const std::string& text, const std::string& start) {
  size_t count = 0;
  for (size_t at = 0; (at = text.find(start, at)) != std::string::npos; at += start.size()) {
    ++count;
  }
  return count;
}

std::string cannot_open(const std::string& name) {
  return "Drelk: Error opening input file \"" + name + "\"\n\n";
}

class DamagedTree : public DrelkRun {
 protected:
  BoundedResult run(const std::vector<std::string>& arguments, Limits limits = Limits()) const {
    if (drelk_is_instrumented()) limits.deadline_seconds *= 10;
    const BoundedResult r = run_bounded(drelk_binary(), arguments, dir.str(), limits);
    EXPECT_FALSE(r.timed_out) << "killed after " << r.wall_seconds << " s";
    return r;
  }

  // Runs drelk through the shell, after `setup` (redirections such as "exec 1>&-").
  BoundedResult run_in_shell(const std::string& setup,
                             const std::vector<std::string>& arguments) const {
    std::string script = setup + "; exec \"$0\"";
    std::vector<std::string> shell_arguments = {"-c", "", drelk_binary()};
    for (size_t i = 0; i < arguments.size(); ++i) {
      script += " \"$" + std::to_string(i + 1) + "\"";
      shell_arguments.push_back(arguments[i]);
    }
    shell_arguments[1] = script;
    Limits limits;
    if (drelk_is_instrumented()) limits.deadline_seconds *= 10;
    return run_bounded("/bin/sh", shell_arguments, dir.str(), limits);
  }

  // For runs as "nobody": the test directory and everything in it readable by all.
  void open_to_everyone() const {
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  }
};

TEST_F(DamagedTree, FifoNamedLikeAnObjectIsRefusedWithoutBlocking) {
  dir.write("a.obj", object_declaring("_x_", 4));
  ASSERT_EQ(mkfifo((dir.path() / "pipe.obj").c_str(), 0644), 0);
  Limits limits;
  limits.deadline_seconds = 10;
  const BoundedResult r = run({"*"}, limits);
  EXPECT_EQ(r.program.standard_error, cannot_open("pipe.obj"));
  EXPECT_EQ(r.program.standard_output, kIncomplete + report_of("_x_", 4, {"a.obj"}));
  EXPECT_EQ(r.program.exit_status, 255);
}

TEST_F(DamagedTree, FifoNamedOnTheCommandLineIsRefused) {
  ASSERT_EQ(mkfifo((dir.path() / "x.obj").c_str(), 0644), 0);
  Limits limits;
  limits.deadline_seconds = 10;
  const BoundedResult r = run({"x"}, limits);
  EXPECT_EQ(r.program.standard_error, cannot_open("x.obj"));
  // No file was opened: no report.
  EXPECT_EQ(r.program.standard_output, "");
  EXPECT_EQ(r.program.exit_status, 255);
}

// As root every file is readable; the run then goes as "nobody", for whom it is not.
TEST_F(DamagedTree, UnreadableFileIsReportedByItsBareNameAndTheRunGoesOn) {
  dir.write("sub/a.obj", object_declaring("_x_", 4));
  dir.write("sub/secret.obj", object_declaring("_x_", 4));
  dir.write("sub/z.obj", object_declaring("_x_", 4));
  open_to_everyone();
  fs::permissions(dir.path() / "sub", fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
  fs::permissions(dir.path() / "sub" / "a.obj", fs::perms::all, fs::perm_options::add);
  fs::permissions(dir.path() / "sub" / "z.obj", fs::perms::all, fs::perm_options::add);
  fs::permissions(dir.path() / "sub" / "secret.obj", fs::perms::none);
  Limits limits;
  limits.drop_root = true;
  const BoundedResult r = run({"sub/*"}, limits);
  if (running_as_root() && (r.program.exit_status == 126 || r.program.exit_status == 127)) {
    GTEST_SKIP() << "drelk cannot be started as user nobody here (status " << r.program.exit_status
                 << "): the test needs a user that permissions bind";
  }
  EXPECT_EQ(r.program.standard_error, cannot_open("secret.obj"));
  EXPECT_EQ(r.program.standard_output,
            kIncomplete + report_of("_x_", 4, {"sub/a.obj", "sub/z.obj"}));
  EXPECT_EQ(r.program.exit_status, 255);
}

TEST_F(DamagedTree, DirectoryNamedLikeAnObjectIsSkippedSilently) {
  dir.write("a.obj", object_declaring("_x_", 4));
  dir.make_directory("b.obj");
  dir.write("c.obj", object_declaring("_x_", 4));
  const BoundedResult r = run({"*"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.standard_output, report_of("_x_", 4, {"a.obj", "c.obj"}));
  EXPECT_EQ(r.program.exit_status, 0);
}

TEST_F(DamagedTree, DirectoryNamedLikeAnObjectIsSearchedUnderRecursion) {
  dir.write("b.obj/inner.obj", object_declaring("_x_", 4));
  const BoundedResult r = run({"-s", "*"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.standard_output, report_of("_x_", 4, {"b.obj\\inner.obj"}));
  EXPECT_EQ(r.program.exit_status, 0);
}

TEST_F(DamagedTree, DanglingLinkIsReportedAndTheRunGoesOn) {
  dir.write("a.obj", object_declaring("_x_", 4));
  fs::create_symlink("nowhere/missing.obj", dir.path() / "gone.obj");
  fs::create_directory_symlink("no-such-directory", dir.path() / "gone-dir");
  const BoundedResult r = run({"-s", "*"});
  // The dangling link to a directory is no directory: the search does not enter it.
  EXPECT_EQ(r.program.standard_error, cannot_open("gone.obj"));
  EXPECT_EQ(r.program.standard_output, kIncomplete + report_of("_x_", 4, {"a.obj"}));
  EXPECT_EQ(r.program.exit_status, 255);
}

TEST_F(DamagedTree, LinksToObjectsAreFollowed) {
  dir.write("real/a.obj", object_declaring("_x_", 4));
  fs::create_symlink("real/a.obj", dir.path() / "alias.obj");
  const BoundedResult r = run({"alias"});
  EXPECT_EQ(r.program.standard_output, report_of("_x_", 4, {"alias.obj"}));
  EXPECT_EQ(r.program.exit_status, 0);
}

// Links between siblings and to an ancestor two levels up: each directory is entered only
// where it is not already on the path the search came down.
TEST_F(DamagedTree, SymbolicLinkCyclesThroughSiblingsAndAncestorsEnd) {
  dir.write("top/a/x.obj", object_declaring("_x_", 4));
  dir.write("top/b/y.obj", object_declaring("_x_", 4));
  dir.make_directory("top/a/deep");
  fs::create_directory_symlink("../b", dir.path() / "top" / "a" / "to-b");
  fs::create_directory_symlink("../a", dir.path() / "top" / "b" / "to-a");
  fs::create_directory_symlink("../..", dir.path() / "top" / "a" / "deep" / "to-top");
  const BoundedResult r = run({"-s", "top/*"});
  EXPECT_EQ(r.program.exit_status, 255);
  // top/a, then its link to b (whose link back to a is not entered); top/b itself is the
  // folder searched already, and deep/to-top is top.
  EXPECT_EQ(r.program.standard_output,
            kIncomplete + report_of("_x_", 4, {"top/a\\to-b\\y.obj", "top/a\\x.obj"}));
}

// On POSIX a name may hold a '\\': what the search found is opened as found, not the file
// that the name would give with its backslash taken for a separator; only the pattern's
// own directory part is the user's path to convert.
TEST_F(DamagedTree, NamesFoundWithABackslashAreOpenedAsFound) {
  dir.write("x/a\\b.obj", object_declaring("_x_", 4));
  dir.write("x/a/b.obj", object_declaring("_y_", 8));
  dir.write("x/d\\e/z.obj", object_declaring("_x_", 4));
  const BoundedResult r = run({"-s", "x\\*.obj"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.standard_output,
            std::string("Common Block Analysis\n\n"
                        "Common   Block   Initialized   Object File\n"
                        "         Size \n\n"
                        " _x_\n"
                        "            4                  x\\a\\b.obj\n"
                        "            4                  x\\d\\e\\z.obj\n\n"
                        " _y_\n"
                        "            8                  x\\a\\b.obj\n\n"
                        "Summary: 2 blocks in 3 objects; 0 errors, 0 warnings, 0 notes\n"
                        "End of Analysis:  No problems encountered.\n"));
  EXPECT_EQ(r.program.exit_status, 0);
}

// A thin archive's member names its file as the archive stores it: on POSIX a '\\' in the
// name is a character of it, not a separator.
TEST_F(DamagedTree, ThinArchiveMemberWithABackslashIsOpenedAsNamed) {
  dir.write("lib/back\\slash.obj", object_declaring("_x_", 4));
  dir.write("lib/back/slash.obj", object_declaring("_y_", 8));
  dir.write("lib/thin.a", Archive()
                              .style(ArchiveStyle::Thin)
                              .member("back\\slash.obj", object_declaring("_z_", 2))
                              .bytes());
  const BoundedResult r = run({"lib/thin.a"});
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_NE(r.program.standard_output.find(" _x_\n            4                  "
                                           "lib/thin.a (back\\slash.obj)\n"),
            std::string::npos)
      << r.program.standard_output;
  EXPECT_EQ(r.program.exit_status, 0);
}

// A tree deeper than the longest path the system takes in one call: -s reads its deepest
// folder too, each directory opened from the one above it.
TEST_F(DamagedTree, TreeDeeperThanTheLongestPathIsSearchedToTheBottom) {
  constexpr int kDepth = 20;
  const std::string name(250, 'd');  // 20 levels: 5,020 bytes, beyond PATH_MAX (4,096)
  int directory = open(dir.str().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  for (int level = 0; level < kDepth; ++level) {
    ASSERT_EQ(mkdirat(directory, name.c_str(), 0755), 0);
    const int next = openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(directory);
    ASSERT_GE(next, 0);
    directory = next;
  }
  const std::vector<uint8_t> object = object_declaring("_x_", 4);
  const int file = openat(directory, "deep.obj", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_EQ(write(file, object.data(), object.size()), static_cast<ssize_t>(object.size()));
  close(file);

  const BoundedResult r = run({"-s", "*.obj"});
  std::string deepest;
  for (int level = 0; level < kDepth; ++level) deepest += name + "\\";
  EXPECT_NE(r.program.standard_output.find(deepest + "deep.obj\n"), std::string::npos);
  // Every folder above the object holds nothing that matches: one diagnostic each, and no
  // other.
  EXPECT_EQ(count_lines(r.program.standard_error, "Drelk: Can't find file "),
            static_cast<size_t>(kDepth));
  EXPECT_EQ(count_lines(r.program.standard_error, "Drelk: "), static_cast<size_t>(kDepth));
  EXPECT_EQ(r.program.exit_status, 255);

  // The test directory's removal cannot reach paths longer than the system takes: the tree
  // is taken down from its bottom.
  unlinkat(directory, "deep.obj", 0);
  for (int level = 0; level < kDepth; ++level) {
    const int parent = openat(directory, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(directory);
    unlinkat(parent, name.c_str(), AT_REMOVEDIR);
    directory = parent;
  }
  close(directory);
}

// Folders each holding two links to the next: 2^20 paths lead to the last of 21 folders,
// but each folder is searched once for the pattern.
TEST_F(DamagedTree, FolderReachedByManyLinksIsSearchedOnce) {
  constexpr int kDepth = 20;
  for (int i = 0; i <= kDepth; ++i) {
    const std::string folder = "chain/d" + std::to_string(i);
    dir.write(folder + "/x.obj", object_declaring("_x_", 4));
    if (i == 0) continue;
    const fs::path previous = dir.path() / "chain" / ("d" + std::to_string(i - 1));
    fs::create_directory_symlink("../d" + std::to_string(i), previous / "left");
    fs::create_directory_symlink("../d" + std::to_string(i), previous / "right");
  }
  Limits limits;
  limits.deadline_seconds = 20;
  const BoundedResult r = run({"-s", "chain/d0/*"}, limits);
  EXPECT_LT(r.seconds, 2.0);
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.exit_status, 0);
  // d0, then d1 through its left link, d2 through d1's left link, and so on.
  size_t listed = 0;
  for (size_t at = 0; (at = r.program.standard_output.find("x.obj\n", at)) != std::string::npos;
       ++at) {
    ++listed;
  }
  EXPECT_EQ(listed, static_cast<size_t>(kDepth + 1));
}

// Ten thousand objects in one directory, under a limit of 32 open files (valgrind needs a
// few of them for itself): each is closed after its analysis, and all are reported in order.
TEST_F(DamagedTree, TenThousandFilesInOneDirectory) {
  constexpr int kFiles = 10000;
  const std::vector<uint8_t> object = object_declaring("_x_", 4);
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.obj", i);
    dir.write(std::string("many/") + name, object);
    paths.push_back(std::string("many/") + name);
  }
  Limits limits;
  limits.open_files = 32;
  limits.deadline_seconds = 30;
  const BoundedResult r = run({"many/*"}, limits);
  EXPECT_EQ(r.program.standard_error, "");
  EXPECT_EQ(r.program.standard_output, report_of("_x_", 4, paths));
  EXPECT_EQ(r.program.exit_status, 0);
  if (!drelk_is_instrumented()) {
    EXPECT_LT(r.seconds, 5.0);
  }
}

TEST_F(DamagedTree, NamesWithBlanksAndBytesOutsideAsciiAreShownAsTheyAre) {
  const std::string blank = "my file.obj";
  const std::string accented = "caf\xc3\xa9.obj";  // UTF-8
  const std::string raw = "raw-\xff\xfe.obj";      // no valid encoding at all
  for (const std::string& name : {blank, accented, raw})
    dir.write(name, object_declaring("_x_", 4));
  const BoundedResult all = run({"*"});
  EXPECT_EQ(all.program.standard_error, "");
  // References of one size are listed by path, byte by byte.
  EXPECT_EQ(all.program.standard_output, report_of("_x_", 4, {accented, blank, raw}));

  const BoundedResult named = run({"raw-\xff\xfe.obj", "my file", "caf\xc3\xa9"});
  EXPECT_EQ(named.program.standard_error, "");
  EXPECT_EQ(named.program.standard_output, report_of("_x_", 4, {accented, blank, raw}));
  EXPECT_EQ(named.program.exit_status, 0);

  const BoundedResult missing = run({"no such \xff"});
  EXPECT_EQ(missing.program.standard_error, "Drelk: Can't find file no such \xff.obj\n\n");
}

TEST_F(DamagedTree, OutputFileInAMissingDirectoryFails) {
  dir.write("a.obj", object_declaring("_x_", 4));
  const BoundedResult r = run({"-omissing/report.txt", "a"});
  EXPECT_EQ(r.program.standard_error,
            "Drelk: Error opening output file \"missing/report.txt\".\n\n");
  EXPECT_EQ(r.program.standard_output, "");
  EXPECT_EQ(r.program.exit_status, 255);
}

TEST_F(DamagedTree, ErrorFileInAMissingDirectoryFails) {
  dir.write("a.obj", object_declaring("_x_", 4));
  const BoundedResult r = run({"-emissing/log.txt", "-oreport.txt", "a"});
  EXPECT_EQ(r.program.standard_error, "Drelk: Error opening error file \"missing/log.txt\"\n\n");
  EXPECT_FALSE(dir.exists("report.txt"));
  EXPECT_EQ(r.program.exit_status, 255);
}

// A read-only report file, for a user that the permission binds (nobody, when root).
TEST_F(DamagedTree, ReadOnlyOutputFileFails) {
  dir.write("a.obj", object_declaring("_x_", 4));
  dir.write("report.txt", std::string("previous report\n"));
  open_to_everyone();
  fs::permissions(dir.path() / "a.obj", fs::perms::all, fs::perm_options::add);
  fs::permissions(dir.path() / "report.txt",
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  Limits limits;
  limits.drop_root = true;
  const BoundedResult r = run({"-oreport.txt", "a"}, limits);
  if (running_as_root() && (r.program.exit_status == 126 || r.program.exit_status == 127)) {
    GTEST_SKIP() << "drelk cannot be started as user nobody here (status " << r.program.exit_status
                 << ")";
  }
  EXPECT_EQ(r.program.standard_error, "Drelk: Error opening output file \"report.txt\".\n\n");
  EXPECT_EQ(dir.read("report.txt"), "previous report\n");
  EXPECT_EQ(r.program.exit_status, 255);
}

// A report that cannot be written (the device is full) must not end as a successful check.
TEST_F(DamagedTree, ReportToAFullDeviceFails) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  dir.write("a.obj", object_declaring("_x_", 4));
  fs::create_symlink("/dev/full", dir.path() / "full.txt");
  const BoundedResult r = run({"-ofull.txt", "a"});
  EXPECT_NE(r.program.standard_error, "");
  EXPECT_EQ(r.program.exit_status, 255);
}

// Descriptors the caller left closed are not handed to the first files drelk opens: the
// report must not land in the -e file, nor the diagnostics in the -o file.
TEST_F(DamagedTree, ClosedStandardDescriptorsAreNotTakenByTheFilesOpened) {
  dir.write("a.obj", object_declaring("_x_", 4));
  const std::string missing = "Drelk: Can't find file missing.obj\n\n";
  BoundedResult r = run_in_shell("exec 1>&-", {"-elog.txt", "a", "missing"});
  EXPECT_EQ(dir.read("log.txt"), missing);
  EXPECT_EQ(r.program.exit_status, 255);
  r = run_in_shell("exec 2>&-", {"-orep.txt", "a", "missing"});
  EXPECT_EQ(dir.read("rep.txt"), kIncomplete + report_of("_x_", 4, {"a.obj"}));
  EXPECT_EQ(r.program.exit_status, 255);
  r = run_in_shell("exec 0<&- 1>&- 2>&-", {"-elog.txt", "-orep.txt", "a", "missing"});
  EXPECT_EQ(dir.read("log.txt"), missing);
  EXPECT_EQ(dir.read("rep.txt"), kIncomplete + report_of("_x_", 4, {"a.obj"}));
  EXPECT_EQ(r.program.exit_status, 255);
}

// Every write is checked: the banner, the usage text and the diagnostics are output too.
TEST_F(DamagedTree, WritesToAFullDeviceAreNeverASuccess) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  BoundedResult r = run_in_shell("exec >/dev/full", {"-v"});
  EXPECT_EQ(r.program.standard_error, "Drelk: Error writing to standard output\n\n");
  EXPECT_EQ(r.program.exit_status, 255);
  fs::create_symlink("/dev/full", dir.path() / "full.txt");
  r = run({"-efull.txt", "missing"});
  EXPECT_EQ(r.program.standard_error, "Drelk: Error writing error file \"full.txt\"\n\n");
  EXPECT_EQ(r.program.exit_status, 255);
  // Standard error itself: nothing can be said, but the status says it.
  r = run_in_shell("exec 2>/dev/full", {"missing"});
  EXPECT_EQ(r.program.exit_status, 255);
}

}  // namespace
}  // namespace drelk::test
