// The command line: switches, the banner and usage text, the -e and -o streams, and the
// exit status that a script sees.
#include <filesystem>

#include "tests/e2e/e2e.h"
#include "tests/support/archive_builder.h"

namespace drelk::test {
namespace {

const std::string kBanner =
    "drelk: Drelk COMMON Block Checker 1.1.0\n"
    "    Version: 1.1.0\n"
    "\n";

const std::string kUsage =
    kBanner +
    "COMMON block analyzer: Searches object files for COMMON block inconsistencies\n"
    "\n"
    "usage:  drelk [switches] input-files\n"
    "    -e[file]  --error-file=FILE  Direct internal errors to a specified file (default: "
    "stderr)\n"
    "    -f<fmt>   --format=FMT       Output format: text, json, sarif or html (default: text)\n"
    "    -j<n>     --jobs=N           Read N files at once (default: the processors drelk may use; "
    "-j1: one after another)\n"
    "    -m        --layouts          Show the members of inconsistent blocks from debug "
    "information (-g)\n"
    "    -o[file]  --output=FILE      Output to a specified file (default: stdout)\n"
    "    -p        --problems-only    Only display COMMON block problems (default: display all "
    "COMMON block information)\n"
    "    -q        --quiet            Write only the findings or the document; the exit status "
    "tells the rest\n"
    "    -s        --recursive        Recurse over subdirectories\n"
    "    -v        --version          Display version information\n"
    "    -w        --exit-code        Exit with status 1 on COMMON block errors and warnings "
    "(default: 0)\n"
    "    --fail-on=LEVEL              Exit with status 1 on findings of LEVEL (error, warning or "
    "note) or graver\n"
    "    --baseline=FILE              Compare with an earlier -fjson report: only new and updated "
    "findings fail\n"
    "    --suppressions=FILE          Accept the findings FILE lists (a block name or pattern, a "
    "kind, # reason)\n"
    "    --show-suppressed            List suppressed findings in the text report\n"
    "    --stale-suppressions         Report suppressions that accept no finding\n"
    "    -?        --help             Displays this message\n"
    "    --                           Take every later argument as an input\n"
    "    @file                        Read further arguments from a file (blank-separated, "
    "\"quoted\" when they hold blanks)\n"
    "Switches without a value may be bundled (-pw). Inputs are files, wildcard patterns (a name "
    "without\n"
    "an extension gets .obj unless only the name as given exists) and directories, searched for "
    "objects.\n"
    "\n"
    "exit status:\n"
    "    0    the analysis ran (with -w or --fail-on: and found nothing that fails it)\n"
    "    1    -w or --fail-on: findings of the severity asked for or graver\n"
    "    255  (-1 on Windows) a diagnostic was reported, or the command line is unusable\n"
    "\n"
    "finding classes:\n"
    "    error    initialised-smaller, type-conflict, procedure-clash, library-smaller\n"
    "    warning  extent, possible-procedure-clash\n"
    "    note     blank-common, library-unsized, alignment-smaller\n";

const std::string kNoInput = "Drelk: Error: No input file specified.\n\n\n";

using CommandLine = DrelkRun;

TEST_F(CommandLine, NoArgumentsIsAnErrorWithThreeLineFeeds) {
  const ProgramResult r = drelk({});
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(r.standard_error, kNoInput);
  EXPECT_EQ(r.exit_status, 255);
}

TEST_F(CommandLine, VersionPrintsTheBannerAloneAndSucceeds) {
  for (const char* argument : {"-v", "/v", "-V", "-verbose", "--version"}) {
    const ProgramResult r = drelk({argument});
    EXPECT_EQ(r.standard_output, kBanner) << argument;
    EXPECT_EQ(r.standard_error, "") << argument;
    EXPECT_EQ(r.exit_status, 0) << argument;
  }
}

TEST_F(CommandLine, BannerShowsTheProgramNameAsInvoked) {
  const ProgramResult r = drelk_as("./bin/drelk", {"-v"});
  EXPECT_EQ(r.standard_output,
            "./bin/drelk: Drelk COMMON Block Checker 1.1.0\n"
            "    Version: 1.1.0\n\n");
}

TEST_F(CommandLine, HelpSwitchesPrintUsageAndReadNoInput) {
  dir.write("file.obj", std::string("not an object"));
  for (const char* argument : {"-?", "/?", "-h", "-H", "-help", "/help", "--help"}) {
    const ProgramResult r = drelk({argument, "file.obj"});
    EXPECT_EQ(r.standard_output, kUsage) << argument;
    EXPECT_EQ(r.standard_error, "") << argument;
    EXPECT_EQ(r.exit_status, 0) << argument;
  }
}

TEST_F(CommandLine, VersionAndHelpTogetherPrintTheBannerAlone) {
  EXPECT_EQ(drelk({"-?", "-v"}).standard_output, kBanner);
  EXPECT_EQ(drelk({"-v", "-?"}).standard_output, kBanner);
}

TEST_F(CommandLine, IllegalSwitchPrintsUsageAndFails) {
  dir.write("file.obj", std::string("not an object"));
  const ProgramResult r = drelk({"-x", "file.obj"});
  EXPECT_EQ(r.standard_error, "Drelk: Illegal program option: -x\n\n\n");
  EXPECT_EQ(r.standard_output, kUsage);
  EXPECT_EQ(r.exit_status, 255);
}

TEST_F(CommandLine, IllegalSwitchEndsTheScanAtOnce) {
  const ProgramResult version_first = drelk({"-v", "-x"});
  EXPECT_EQ(version_first.standard_error, "Drelk: Illegal program option: -x\n\n\n");
  EXPECT_EQ(version_first.standard_output, kBanner);
  EXPECT_EQ(version_first.exit_status, 255);

  const ProgramResult version_after = drelk({"-x", "-v"});
  EXPECT_EQ(version_after.standard_output, kUsage);
  EXPECT_EQ(version_after.exit_status, 255);
}

TEST_F(CommandLine, HelpWithExtraLettersIsAnIllegalOption) {
  for (const char* argument : {"-hx", "-HELP", "-helpme"}) {
    const ProgramResult r = drelk({argument});
    EXPECT_EQ(r.standard_error, "Drelk: Illegal option " + std::string(argument) + "\n\n\n");
    EXPECT_EQ(r.standard_output, kUsage);
    EXPECT_EQ(r.exit_status, 255);
  }
}

TEST_F(CommandLine, OnlyGnuSpellingsAreUsageAndVersion) {
  for (const char* argument : {"--helpme", "--Help", "--versions", "/-help"}) {
    const ProgramResult r = drelk({argument});
    EXPECT_EQ(r.standard_error,
              "Drelk: Illegal program option: " + std::string(argument) + "\n\n\n");
    EXPECT_EQ(r.standard_output, kUsage) << argument;
    EXPECT_EQ(r.exit_status, 255) << argument;
  }
}

TEST_F(CommandLine, FormatMustBeNamedExactly) {
  dir.write("file.obj", std::string("not an object"));
  for (const char* argument : {"-f", "-fJSON", "-fjson5", "-fxml", "-f=json", "/ftexts"}) {
    const ProgramResult r = drelk({argument, "file.obj"});
    EXPECT_EQ(r.standard_error, "Drelk: Illegal option " + std::string(argument) + "\n\n\n");
    EXPECT_EQ(r.standard_output, kUsage) << argument;
    EXPECT_EQ(r.exit_status, 255) << argument;
  }
}

TEST_F(CommandLine, LoneSwitchCharactersAreIllegal) {
  EXPECT_EQ(drelk({"-"}).standard_error, "Drelk: Illegal program option: -\n\n\n");
  EXPECT_EQ(drelk({"/"}).standard_error, "Drelk: Illegal program option: /\n\n\n");
}

#if defined(_WIN32)
TEST_F(CommandLine, ArgumentStartingWithSlashIsAlwaysASwitch) {
  // /dir/x.obj is the switch with the letter d, not a path.
  const ProgramResult r = drelk({"/dir/x.obj"});
  EXPECT_EQ(r.standard_error, "Drelk: Illegal program option: /dir/x.obj\n\n\n");
  EXPECT_EQ(r.exit_status, 255);
}
#else
TEST_F(CommandLine, AbsolutePathIsAPatternAndSlashSwitchesKeepTheirMeaning) {
  dir.write("objs/c.obj", object_declaring("_x_", 4));
  dir.write("objs/d.obj", object_declaring("_x_", 8));
  const std::string objs = dir.str() + "/objs/";
  const ProgramResult r = drelk({"/p", "/orep.txt", objs + "c.obj", objs + "d"});
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(dir.read("rep.txt"),
            "Drelk Error: Common Block _x_ is declared with different sizes\n" + kExtentLine +
                "              8 bytes in " + objs +
                "d.obj\n"
                "              4 bytes in " +
                objs + "c.obj\n\n" + summary_line(1, 2, 0, 1, 0));

  // The -e look-up takes an absolute path for a path as well: "/etc/..." is no -e switch.
  const ProgramResult e = drelk({"/etc/.." + objs + "missing", "-elog.txt"});
  EXPECT_EQ(e.standard_error, "");
  EXPECT_EQ(dir.read("log.txt"), "Drelk: Can't find file /etc/.." + objs + "missing.obj\n\n");
  EXPECT_EQ(e.exit_status, 255);
}

TEST_F(CommandLine, AbsolutePatternIsSearchedRecursively) {
  dir.write("tree/a.obj", object_declaring("_x_", 4));
  dir.write("tree/sub/b.obj", object_declaring("_x_", 4));
  const std::string tree = dir.str() + "/tree/";
  const ProgramResult r = drelk({"-s", tree + "*"});
  EXPECT_EQ(r.standard_output, report_of("_x_", 4, {tree + "a.obj", tree + "sub\\b.obj"}));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
}
#endif

TEST_F(CommandLine, SwitchesAloneAreNoInput) {
  for (const char* argument : {"-p", "-s", "-elog.txt", "-oreport.txt"}) {
    const ProgramResult r = drelk({argument});
    EXPECT_EQ(r.standard_error, kNoInput) << argument;
    EXPECT_EQ(r.exit_status, 255) << argument;
  }
  // The streams are set up only once there is input to analyse.
  EXPECT_FALSE(dir.exists("log.txt"));
  EXPECT_FALSE(dir.exists("report.txt"));
}

TEST_F(CommandLine, UsageNeverOpensTheStreamFiles) {
  const ProgramResult r = drelk({"-elog.txt", "-oreport.txt", "-?", "x.obj"});
  EXPECT_EQ(r.standard_output, kUsage);
  EXPECT_FALSE(dir.exists("log.txt"));
  EXPECT_FALSE(dir.exists("report.txt"));
}

TEST_F(CommandLine, StreamSwitchAloneTakesTheNextArgumentAsItsFile) {
  // The file name is the next argument, as getopt takes it: no input is left.
  for (const char* argument : {"-e", "-o"}) {
    const ProgramResult r = drelk({argument, "x.obj"});
    EXPECT_EQ(r.standard_error, kNoInput) << argument;
    EXPECT_EQ(r.exit_status, 255) << argument;
  }
  EXPECT_FALSE(dir.exists("x.obj"));
  // As the last argument there is none: the name is empty.
  dir.write("a.obj", object_declaring("_x_", 4));
  const ProgramResult e = drelk({"a.obj", "-e"});
  EXPECT_EQ(e.standard_error, "Drelk: Error opening error file \"\"\n\n");
  EXPECT_EQ(e.standard_output, "");
  EXPECT_EQ(e.exit_status, 255);
  const ProgramResult o = drelk({"a.obj", "-o"});
  EXPECT_EQ(o.standard_error, "Drelk: Error opening output file \"\".\n\n");
  EXPECT_EQ(o.exit_status, 255);
}

TEST_F(CommandLine, DiagnosticsGoToTheFirstErrorFile) {
  const ProgramResult r = drelk({"-ea.txt", "-eb.txt", "missing.obj"});
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(dir.read("a.txt"), "Drelk: Can't find file missing.obj\n\n");
  EXPECT_FALSE(dir.exists("b.txt"));
}

TEST_F(CommandLine, UpperCaseStreamSwitchesNameTheirFiles) {
  const ProgramResult r = drelk({"-Elog.txt", "-Oreport.txt", "missing"});
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(dir.read("log.txt"), "Drelk: Can't find file missing.obj\n\n");
  EXPECT_EQ(dir.read("report.txt"), "");
  EXPECT_EQ(r.exit_status, 255);
}

TEST_F(CommandLine, ProgramNameIsNeverTakenForAStreamSwitch) {
  // An absolute program path starts with '/': the output file must still be the one the
  // -o switch names, not the rest of the program path.
  dir.write("x.obj", std::string());
  const ProgramResult r = drelk_as("/opt/tools/drelk", {"-orep.txt", "x.obj"});
  EXPECT_TRUE(dir.exists("rep.txt"));
  EXPECT_NE(dir.read("rep.txt").find("Common Block Analysis"), std::string::npos);
  EXPECT_EQ(r.standard_output, "");
}

TEST_F(CommandLine, MissingInputIsReportedWithoutAReport) {
  const ProgramResult r = drelk({"-onone.txt", "missing"});
  EXPECT_EQ(r.standard_error, "Drelk: Can't find file missing.obj\n\n");
  EXPECT_EQ(r.exit_status, 255);
  // No file was opened, so no report: the -o file stays empty.
  EXPECT_EQ(dir.read("none.txt"), "");
}

TEST_F(CommandLine, UnwritableOutputFileFails) {
  dir.make_directory("out");
  dir.write("x.obj", std::string());
  const ProgramResult r = drelk({"-oout", "x.obj"});
  EXPECT_EQ(r.standard_error, "Drelk: Error opening output file \"out\".\n\n");
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(r.exit_status, 255);
}

TEST_F(CommandLine, UnwritableErrorFileFailsOnStandardError) {
  dir.make_directory("log");
  dir.write("x.obj", std::string());
  const ProgramResult r = drelk({"-elog", "-oout.txt", "x.obj"});
  EXPECT_EQ(r.standard_error, "Drelk: Error opening error file \"log\"\n\n");
  EXPECT_FALSE(dir.exists("out.txt"));
  EXPECT_EQ(r.exit_status, 255);
}

}  // namespace
}  // namespace drelk::test

namespace drelk::test {
namespace {

// A Windows executable: refused with a diagnostic naming its path, which shows the order
// in which the arguments reached the input expansion.
std::vector<uint8_t> executable() {
  return {'M', 'Z', 0x90, 0, 3, 0};
}

std::string refused(const std::string& path) {
  return "Drelk: The file " + path + " is not an object file.\n";
}

using ResponseFiles = DrelkRun;

TEST_F(ResponseFiles, ArgumentsAndSwitchesTakeThePlaceOfTheFileInOrder) {
  for (const char* name : {"a.exe", "my dir/b.exe", "c.exe", "d.exe"})
    dir.write(name, executable());
  // A byte order mark, line ends of either kind, blanks and tabs; a name with a blank in
  // quotes that cover part of it; a switch whose file name the -e look-up must find; a
  // nested response file.
  dir.write("list.rsp", std::string("\xEF\xBB\xBF-eerr.txt \"my dir\"/b.exe\r\n\t@more.rsp\n"));
  dir.write("more.rsp", std::string("c.exe"));
  const ProgramResult r = drelk({"a.exe", "@list.rsp", "d.exe"});
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(dir.read("err.txt"),
            refused("a.exe") + refused("my dir/b.exe") + refused("c.exe") + refused("d.exe"));
  EXPECT_EQ(r.exit_status, 255);
}

TEST_F(ResponseFiles, UnreadableResponseFileEndsTheRunBeforeAnyInput) {
  dir.write("a.obj", object_declaring("_x_", 4));
  dir.write("self.rsp", std::string("a.obj @self.rsp"));
  dir.write("outer.rsp", std::string("a.obj @inner.rsp"));
  dir.make_directory("folder");
  for (const auto& [argument, typed] :
       std::vector<std::pair<std::string, std::string>>{{"@missing.rsp", "missing.rsp"},
                                                        {"@self.rsp", "self.rsp"},
                                                        {"@outer.rsp", "inner.rsp"},
                                                        {"@folder", "folder"},
                                                        {"@", ""}}) {
    const ProgramResult r = drelk({"-orep.txt", "a.obj", argument});
    EXPECT_EQ(r.standard_error, "Drelk: Error: Cannot read response file \"" + typed + "\".\n\n\n")
        << argument;
    EXPECT_EQ(r.standard_output, "") << argument;
    EXPECT_EQ(r.exit_status, 255) << argument;
    EXPECT_FALSE(dir.exists("rep.txt")) << argument;
  }
}

TEST_F(ResponseFiles, FileBeginningWithAtIsNamedThroughItsDirectory) {
  dir.write("@x.obj", object_declaring("_x_", 4));
  EXPECT_EQ(drelk({"./@x"}).standard_output, report_of("_x_", 4, {"./@x.obj"}));
}

}  // namespace
}  // namespace drelk::test

namespace drelk::test {
namespace {

using WrittenFiles = DrelkRun;

// An input that is also the -o or -e file, however either is named, comes out of the run
// byte for byte as it was: the run says so, writes no report and fails.
TEST_F(WrittenFiles, AnInputIsNeverOverwritten) {
  const std::vector<uint8_t> object = object_declaring("_x_", 4);
  dir.write("list.rsp", std::string("victim.obj"));
  dir.write("thin.a", Archive().style(ArchiveStyle::Thin).member("victim.obj", object).bytes());
  const auto said = [](const std::string& input, const std::string& role,
                       const std::string& named) {
    return "Drelk: Error: Input file \"" + input + "\" is also the " + role + " file \"" + named +
           "\"; it is left as it was.\n\n";
  };
  const std::string missing = "Drelk: Can't find file missing.obj\n\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string standard_error;
    std::string kept;
  };
  std::vector<Case> cases = {
      {{"-ovictim.obj", "victim.obj"}, said("victim.obj", "output", "victim.obj"), "victim.obj"},
      {{"-evictim.obj", "victim.obj"}, said("victim.obj", "error", "victim.obj"), "victim.obj"},
      {{"-o./victim.obj", "victim"}, said("victim.obj", "output", "./victim.obj"), "victim.obj"},
      {{"-ovictim.obj", "thin.a"}, said("victim.obj", "output", "victim.obj"), "victim.obj"},
      // What was said before the -e file was found to be an input is not lost.
      {{"-evictim.obj", "missing", "victim.obj"},
       missing + said("victim.obj", "error", "victim.obj"),
       "victim.obj"},
      {{"-elist.rsp", "@list.rsp"}, said("list.rsp", "error", "list.rsp"), "list.rsp"},
      {{"-olist.rsp", "@list.rsp"}, said("list.rsp", "output", "list.rsp"), "list.rsp"},
  };
#ifndef _WIN32
  cases.push_back(
      {{"-olink.obj", "victim.obj"}, said("victim.obj", "output", "link.obj"), "victim.obj"});
#endif
  for (const Case& c : cases) {
    dir.write("victim.obj", object);
    dir.write("list.rsp", std::string("victim.obj"));
#ifndef _WIN32
    std::filesystem::remove(dir.path() / "link.obj");
    std::filesystem::create_hard_link(dir.path() / "victim.obj", dir.path() / "link.obj");
#endif
    const std::string before = read_file(dir.path() / c.kept);
    const ProgramResult r = drelk(c.arguments);
    EXPECT_EQ(r.standard_error, c.standard_error) << c.arguments[0];
    EXPECT_EQ(r.standard_output, "") << c.arguments[0];
    EXPECT_EQ(r.exit_status, 255) << c.arguments[0];
    EXPECT_EQ(read_file(dir.path() / c.kept), before) << c.arguments[0];
  }
}

// The -e and -o files are emptied when the run writes them: what they held before is gone,
// and when both name one file, the report comes first and the diagnostics after it.
TEST_F(WrittenFiles, AreReplacedWholeWhenWritten) {
  dir.write("x.obj", object_declaring("_x_", 4));
  const ProgramResult plain = drelk({"x.obj", "missing"});
  const std::string old_text(5000, '#');
  dir.write("rep.txt", old_text);
  dir.write("err.txt", old_text);
  const ProgramResult r = drelk({"-eerr.txt", "-orep.txt", "x.obj", "missing"});
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(dir.read("rep.txt"), plain.standard_output);
  EXPECT_EQ(dir.read("err.txt"), plain.standard_error);

  dir.write("both.txt", old_text);
  EXPECT_EQ(drelk({"-eboth.txt", "-oboth.txt", "x.obj", "missing"}).exit_status, 255);
  EXPECT_EQ(dir.read("both.txt"), plain.standard_output + plain.standard_error);
}

}  // namespace
}  // namespace drelk::test
