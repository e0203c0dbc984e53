// The command line as users of nm, readelf and the GNU tools expect it: bundled switches,
// long options, directories as inputs, one name for one file, names without an extension,
// -q, and documents that say what happened.
#include <filesystem>
#include <set>
#include <sstream>

#include "tests/e2e/e2e.h"
#include "tests/support/archive_builder.h"
#include "tests/support/elf_builder.h"

namespace drelk::test {
namespace {

using UnixHabits = DrelkRun;

// The finding alone, as -q shows it, and as -p shows it, with the count after it.
const std::string kSizeFinding =
    "Drelk Error: Common Block _grid_ is declared with different sizes\n" + kExtentLine +
    "            964 bytes in b.obj\n"
    "            804 bytes in a.obj\n\n";
const std::string kSizeError = kSizeFinding + summary_line(1, 2, 0, 1, 0);

void write_mismatch(RunDirectory& dir) {
  dir.write("a.obj", object_declaring("_grid_", 804));
  dir.write("b.obj", object_declaring("_grid_", 964));
}

TEST_F(UnixHabits, BundledSwitchesEachApply) {
  write_mismatch(dir);
  for (const char* bundle : {"-pw", "-wp", "/pw", "-PW"}) {
    const ProgramResult r = drelk({bundle, "*.obj"});
    EXPECT_EQ(r.standard_output, kSizeError) << bundle;
    EXPECT_EQ(r.exit_status, 1) << bundle;
  }
  // -s applies too: the objects of sub/ are read.
  dir.write("sub/c.obj", object_declaring("_grid_", 964));
  const ProgramResult recursive = drelk({"-ps", "*.obj"});
  EXPECT_NE(recursive.standard_output.find("964 bytes in sub\\c.obj\n"), std::string::npos);
  EXPECT_EQ(recursive.exit_status, 0);
  // A letter that is no switch without a value keeps the rule that the first one counts.
  const ProgramResult p_first = drelk({"-px", "*.obj"});
  EXPECT_EQ(p_first.standard_output, kSizeError);
  EXPECT_EQ(p_first.exit_status, 0);
}

TEST_F(UnixHabits, LongOptionsActAsTheirSwitches) {
  write_mismatch(dir);
  const ProgramResult r = drelk({"--problems-only", "--exit-code", "--output", "r.txt",
                                 "--error-file=e.txt", "*.obj", "missing"});
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(dir.read("r.txt"),
            "Drelk: Processing is incomplete due to previous error(s).\n\n" + kSizeError);
  EXPECT_EQ(dir.read("e.txt"), "Drelk: Can't find file missing.obj\n\n");

  // Unambiguous abbreviations, as getopt_long takes them; a value after '=' or as the
  // next argument.
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"--prob", "--format=json", "*.obj"}, {"--problems", "--format", "json", "*.obj"}}) {
    const ProgramResult json = drelk(arguments);
    EXPECT_EQ(json.exit_status, 0);
    EXPECT_NE(json.standard_output.find("\"problems_only\": true"), std::string::npos);
  }
  dir.write("sub/c.obj", object_declaring("_grid_", 964));
  EXPECT_NE(drelk({"--recursive", "-p", "*.obj"}).standard_output.find("964 bytes in sub\\c.obj"),
            std::string::npos);
}

TEST_F(UnixHabits, StreamSwitchAloneTakesTheNextArgument) {
  write_mismatch(dir);
  const ProgramResult r = drelk({"-p", "-o", "r.txt", "-e", "e.txt", "*.obj", "missing"});
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(r.standard_error, "");
  EXPECT_NE(dir.read("r.txt").find(kSizeError), std::string::npos);
  EXPECT_EQ(dir.read("e.txt"), "Drelk: Can't find file missing.obj\n\n");
}

TEST_F(UnixHabits, UnknownAmbiguousOrMisusedLongOptionsAreIllegal) {
  dir.write("a.obj", object_declaring("_x_", 4));
  for (const char* argument : {"--frobnicate", "--e", "--quiet=yes", "--=x", "--Help"}) {
    const ProgramResult r = drelk({argument, "a.obj"});
    EXPECT_EQ(r.standard_error,
              "Drelk: Illegal program option: " + std::string(argument) + "\n\n\n");
    EXPECT_NE(r.standard_output.find("usage:  drelk"), std::string::npos) << argument;
    EXPECT_EQ(r.exit_status, 255) << argument;
  }
  const ProgramResult format = drelk({"--format=xml", "a.obj"});
  EXPECT_EQ(format.standard_error, "Drelk: Illegal option --format=xml\n\n\n");
  EXPECT_EQ(format.exit_status, 255);
  const ProgramResult missing = drelk({"a.obj", "--output"});
  EXPECT_EQ(missing.standard_error, "Drelk: Option --output requires an argument\n\n\n");
  EXPECT_EQ(missing.exit_status, 255);
}

TEST_F(UnixHabits, DoubleDashEndsTheSwitches) {
  dir.write("-x.obj", object_declaring("_x_", 4));
  const ProgramResult r = drelk({"--", "-x.obj"});
  EXPECT_EQ(r.standard_output, report_of("_x_", 4, {"-x.obj"}));
  EXPECT_EQ(r.exit_status, 0);
}

#if !defined(_WIN32)
TEST_F(UnixHabits, ANameWithoutWildcardsNamesOneFile) {
  dir.write("Ab.o", object_declaring("blk_", 40));
  dir.write("ab.o", object_declaring("blk_", 80));
  const ProgramResult r = drelk({"-p", "Ab.o"});
  EXPECT_EQ(r.standard_output, summary_line(1, 1, 0, 0, 0));
  EXPECT_EQ(r.exit_status, 0);
  dir.write("list.rsp", std::string("Ab.o ab.o\n"));
  // Each name once in a response file: two objects, not four.
  const std::string listed = drelk({"-fjson", "@list.rsp"}).standard_output;
  EXPECT_NE(listed.find("\"objects\": [\n"
                        "    {\"path\": \"Ab.o\", \"file\": \"Ab.o\", \"format\": \"coff\"},\n"
                        "    {\"path\": \"ab.o\", \"file\": \"ab.o\", \"format\": \"coff\"}\n"
                        "  ],"),
            std::string::npos)
      << listed;
  // Where the name as spelled does not exist, its case variants are still found.
  EXPECT_EQ(drelk({"-p", "AB.o"}).standard_output,
            "Drelk Error: Common Block blk_ is declared with different sizes\n" + kExtentLine +
                "             80 bytes in ab.o\n"
                "             40 bytes in Ab.o\n\n" +
                summary_line(1, 2, 0, 1, 0));
}
#endif

TEST_F(UnixHabits, NameWithoutExtensionIsReadAsGivenWhenOnlyThatExists) {
  dir.write("prog", object_declaring("_x_", 4));
  dir.write("lib/libfoo", object_declaring("_x_", 4));
  const ProgramResult r = drelk({"prog", "./lib/libfoo"});
  EXPECT_EQ(r.standard_output, report_of("_x_", 4, {"./lib/libfoo", "prog"}));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  // With ".obj" added the name still comes first.
  dir.write("prog.obj", object_declaring("_x_", 4));
  EXPECT_EQ(drelk({"prog"}).standard_output, report_of("_x_", 4, {"prog.obj"}));
  // A missing name is reported as before.
  EXPECT_EQ(drelk({"nothing"}).standard_error, "Drelk: Can't find file nothing.obj\n\n");
}

TEST_F(UnixHabits, QuietWritesOnlyTheFindings) {
  write_mismatch(dir);
  const ProgramResult r = drelk({"-q", "*.obj", "missing"});
  EXPECT_EQ(r.standard_output, kSizeFinding);
  EXPECT_EQ(r.standard_error, "Drelk: Can't find file missing.obj\n\n");
  EXPECT_EQ(r.exit_status, 255);
  const ProgramResult clean = drelk({"--quiet", "a.obj"});
  EXPECT_EQ(clean.standard_output, "");
  EXPECT_EQ(clean.exit_status, 0);
  // The document stays whole.
  const ProgramResult json = drelk({"-q", "-fjson", "a.obj"});
  EXPECT_NE(json.standard_output.find("\"problems_only\": false"), std::string::npos);
}

TEST_F(UnixHabits, AnIncompleteRunIsNeverNoProblems) {
  dir.write("a.obj", object_declaring("_x_", 4));
  const ProgramResult r = drelk({"-fjson", "a.obj", "missing"});
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_NE(r.standard_output.find("\"complete\": false"), std::string::npos);
  EXPECT_NE(r.standard_output.find("\"verdict\": \"incomplete\""), std::string::npos);
  EXPECT_NE(r.standard_output.find("{\"text\": \"Can't find file missing.obj\", \"object\": null"),
            std::string::npos)
      << r.standard_output;
  EXPECT_NE(drelk({"-fjson", "a.obj"}).standard_output.find("\"verdict\": \"no-problems\""),
            std::string::npos);
}

// Files drelk cannot read are named for what they are, one line each with the path;
// executables keep their line (a shared library is read), and a damaged COFF object its
// lines.
TEST_F(UnixHabits, FilesThatAreNoObjectAreNamedForWhatTheyAre) {
  dir.write("empty.o", std::string());
  dir.write("notes.obj", std::string("COMMON /GRID/ is declared in grid.inc\n"));
  dir.write("lto.o", std::vector<uint8_t>{'B', 'C', 0xC0, 0xDE, 0x35, 0x14, 0, 0, 5, 0, 0, 0});
  dir.write("solver", ElfObject().type(elfv::ET_EXEC).bytes());
  dir.write("libsolver.so", ElfObject().type(elfv::ET_DYN).bytes());
  dir.write("solver.exe", std::vector<uint8_t>{'M', 'Z', 0x90, 0, 3, 0});
  std::vector<uint8_t> cut = object_declaring("_x_", 4);
  cut.resize(10);
  dir.write("cut.obj", cut);
  dir.make_directory("objs.obj");
  dir.write(
      "libthin.a",
      Archive().style(ArchiveStyle::Thin).member("objs.obj", {}).member("notes.obj", {}).bytes());
  const ProgramResult r = drelk({"empty.o", "notes.obj", "lto.o", "solver", "libsolver.so",
                                 "solver.exe", "cut.obj", "libthin.a"});
  EXPECT_EQ(r.standard_error,
            "Drelk: The file empty.o is empty, not an object file.\n"
            "Drelk: The file notes.obj is a text file, not an object file.\n"
            "Drelk: Error - unreadable LLVM bitcode in lto.o: a block, field or blob runs past the "
            "end of the bitcode\n\n"
            "Drelk: The file solver is not an object file.\n"
            "Drelk: The file solver.exe is not an object file.\n"
            "Drelk: DRELK Internal: fread returned 10 bytes (20 expected). [process_file_header]\n"
            "Drelk: Error reading file header\n\n"
            "Drelk: The file objs.obj is a directory, not an object file.\n"
            "Drelk: The file notes.obj is a text file, not an object file.\n");
  EXPECT_EQ(r.exit_status, 255);
}

// A build tree as CMake leaves it: objects with and without extensions, a library, and
// files that are not objects at all, some of them named like objects.
class DirectoryInput : public DrelkRun {
 protected:
  void lay_out_tree() {
    dir.write("build/CMakeCache.txt", std::string("CMAKE_BUILD_TYPE:STRING=Release\n"));
    dir.write("build/Makefile", std::string("all:\n\ttrue\n"));
    dir.write("build/CMakeFiles/solver.dir/src/main.f.o", object_declaring("_grid_", 804));
    dir.write("build/CMakeFiles/solver.dir/src/solve.f.obj", object_declaring("_grid_", 964));
    dir.write("build/CMakeFiles/solver.dir/src/solve.f.o.d", std::string("solve.f.o: solve.f\n"));
    dir.write("build/CMakeFiles/empty.dir/flags.make", std::string("FFLAGS = -O2\n"));
    dir.make_directory("build/CMakeFiles/nothing.dir");
    dir.write("build/fpm/setup", object_declaring("_grid_", 804));
    dir.write("build/lib/libphys.a",
              std::string("!<arch>\n"));  // an empty archive: read, holding nothing
    dir.write("build/solver", ElfObject().type(elfv::ET_EXEC).common("grid_", 8).bytes());
    dir.write("build/libsolver.so", ElfObject().type(elfv::ET_DYN).common("grid_", 8).bytes());
    dir.write("build/solver.exe", std::vector<uint8_t>{'M', 'Z', 0x90, 0, 3, 0});
    dir.write("build/empty.o", std::string());
    dir.write("build/notes.obj", std::string("just text that is named like an object\n"));
    dir.write("build/elf.o", ElfObject().common("grid_", 804).bytes());
  }
};

TEST_F(DirectoryInput, EveryObjectAndLibraryUnderItIsReadInNameOrder) {
  lay_out_tree();
#if !defined(_WIN32)
  // A link back into the tree is followed once.
  std::filesystem::create_directory_symlink("..", dir.path() / "build" / "lib" / "up");
#endif
  const char sep = std::filesystem::path::preferred_separator;
  const auto path = [&](std::string p) {
    for (char& c : p)
      if (c == '/') c = sep;
    return p;
  };
  const std::vector<std::string> read = {path("build/CMakeFiles/solver.dir/src/main.f.o"),
                                         path("build/CMakeFiles/solver.dir/src/solve.f.obj"),
                                         path("build/elf.o"), path("build/fpm/setup"),
                                         path("build/lib/libphys.a")};
  const ProgramResult r = drelk({"build"});
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  // The same report as the files named one by one, with the count before the verdict.
  const ProgramResult one_by_one = drelk(std::vector<std::string>(read.begin(), read.end()));
  const std::string verdict = "End of Analysis";
  const size_t at = one_by_one.standard_output.find(verdict);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(r.standard_output, one_by_one.standard_output.substr(0, at) +
                                   "5 files read under build\n\n" +
                                   one_by_one.standard_output.substr(at));
  // A trailing separator is kept as typed, and "." names the current directory.
  EXPECT_NE(drelk({"build/"}).standard_output.find("5 files read under build/\n"),
            std::string::npos);
  EXPECT_NE(drelk({"-w", "."}).standard_output.find(path("./build/elf.o")), std::string::npos);
}

TEST_F(DirectoryInput, FolderWithoutObjectsIsNoError) {
  dir.write("docs/README", std::string("nothing to see\n"));
  const ProgramResult r = drelk({"docs"});
  EXPECT_EQ(r.standard_output, "");
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
}

TEST_F(DirectoryInput, DamagedObjectsUnderItAreStillDiagnosed) {
  // A COFF header that claims more sections than the file holds.
  std::vector<uint8_t> damaged = object_declaring("_x_", 4);
  damaged.resize(24);
  dir.write("tree/damaged.obj", damaged);
  const ProgramResult r = drelk({"tree"});
  EXPECT_NE(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 255);
}

}  // namespace
}  // namespace drelk::test

namespace drelk::test {
namespace {

// The switches a line of the usage text, or the head of an item of the manual page's
// OPTIONS, names: "-e[file]  --error-file=FILE  Direct ..." names -e and --error-file.
std::set<std::string> switches_named(const std::string& line) {
  std::set<std::string> names;
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    if (word[0] != '-' && word[0] != '@') break;
    // "-m," and "--output=file," in the manual page's heads.
    const size_t comma = word.find(',');
    names.insert(word.substr(0, word.find_first_of("[<=,")));
    if (comma == std::string::npos || comma + 1 == word.size()) continue;
    word = word.substr(comma + 1);
    names.insert(word.substr(0, word.find_first_of("[<=,")));
  }
  return names;
}

// The lines of the usage text that name switches, as `drelk --help` prints them.
std::vector<std::string> usage_switch_lines(const std::string& usage) {
  std::vector<std::string> lines;
  std::istringstream text(usage);
  std::string line;
  while (std::getline(text, line)) {
    if (line.rfind("    -", 0) == 0 || line.rfind("    @", 0) == 0) lines.push_back(line);
  }
  return lines;
}

// The manual page's item heads under OPTIONS, with the font escapes and macros gone.
std::set<std::string> manual_switches(const std::string& page) {
  std::set<std::string> names;
  const size_t start = page.find("\n.SH OPTIONS\n");
  const size_t end = page.find("\n.SH ", start + 1);
  std::istringstream text(page.substr(start, end - start));
  std::string line;
  bool head = false;
  while (std::getline(text, line)) {
    if (head) {
      // The macro's arguments, set side by side as the page shows them: ".BR \\-m \", \"
      // \\-\\-layouts" is "-m, --layouts".
      std::string plain;
      bool quoted = false;
      for (size_t i = line.find(' ') + 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'f') {
          i += 2;  // \fR, \fB, \fI, \fP
        } else if (line[i] == '"') {
          quoted = !quoted;
        } else if (line[i] != '\\' && (quoted || line[i] != ' ')) {
          plain += line[i];  // \- is '-'
        }
      }
      for (const std::string& name : switches_named(plain)) names.insert(name);
    }
    head = line == ".TP";
  }
  return names;
}

using SwitchLists = DrelkRun;

TEST_F(SwitchLists, UsageTextManualPageAndReadmeListTheSameSwitches) {
  const ProgramResult help = drelk({"--help"});
  const std::vector<std::string> usage = usage_switch_lines(help.standard_output);
  ASSERT_GT(usage.size(), 10u);
  std::set<std::string> in_usage;
  for (const std::string& line : usage) {
    for (const std::string& name : switches_named(line.substr(4))) in_usage.insert(name);
  }
  EXPECT_TRUE(in_usage.count("--quiet") && in_usage.count("-q") && in_usage.count("--"));

  const std::filesystem::path source = source_directory();
  EXPECT_EQ(manual_switches(read_file(source / "docs" / "drelk.1")), in_usage);
  // The README shows the usage text's switch lines as they are.
  EXPECT_EQ(usage_switch_lines(read_file(source / "README.md")), usage);
}

}  // namespace
}  // namespace drelk::test
