// Shared libraries, DLLs and import libraries built by real tool chains (tests/data/shlib,
// see its build.sh) and Debian's Open MPI: their exported data define the blocks that
// objects declare, with the sizes readelf shows for an ELF library; a library smaller than
// a declaration is an error of its own class, one whose format records no size a note.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "tests/e2e/e2e.h"

namespace drelk::test {
namespace {

// A directory walk joins paths with the system's separator: '\\' on Windows. The text with
// '/' in their place, to compare with paths written the POSIX way.
std::string with_slashes(std::string text) {
#if defined(_WIN32)
  std::replace(text.begin(), text.end(), '\\', '/');
#endif
  return text;
}

namespace fs = std::filesystem;

const char kLibmpi[] = "/usr/lib/x86_64-linux-gnu/openmpi/lib/libmpi.so";

class SharedLibraries : public DrelkRun {
 protected:
  void SetUp() override { copy_test_data("shlib", dir); }
};

// The sizes of the defined OBJECT and TLS symbols that `readelf --dyn-syms -W` lists.
std::map<std::string, uint64_t> readelf_exports(const std::string& listing) {
  std::map<std::string, uint64_t> exports;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string number, value, size, type, bind, visibility, index, name;
    if (!(fields >> number >> value >> size >> type >> bind >> visibility >> index >> name) ||
        number.back() != ':' || index == "UND" || (type != "OBJECT" && type != "TLS")) {
      continue;
    }
    exports[name.substr(0, name.find('@'))] = std::stoull(size, nullptr, 0);
  }
  return exports;
}

// A gfortran program that includes Open MPI's mpif.h declares the two status blocks with
// 24 bytes; the libmpi.so it links with defines them with 8. The report's sizes for every
// block it lists of the library are those of readelf's dynamic symbols.
TEST_F(SharedLibraries, OpenMpiStatusBlocksAgainstLibmpi) {
#if defined(_WIN32)
  GTEST_SKIP() << "Open MPI's libmpi.so is a Linux library";
#endif
  if (!fs::exists(kLibmpi)) {
    if (std::getenv("CI") != nullptr) FAIL() << "libopenmpi-dev is not installed: " << kLibmpi;
    GTEST_SKIP() << "libopenmpi-dev is not installed (apt-get install libopenmpi-dev): no "
                 << kLibmpi;
  }
  const std::string readelf = find_tool("readelf");
  if (readelf.empty()) GTEST_SKIP() << "readelf (binutils) is not installed";
  const ProgramResult listing = run_program(readelf, {"--dyn-syms", "-W", kLibmpi}, dir.str());
  ASSERT_EQ(listing.exit_status, 0) << listing.standard_error;
  const std::map<std::string, uint64_t> exports = readelf_exports(listing.standard_output);
  ASSERT_EQ(exports.at("mpi_fortran_status_ignore_"), 8u);

  const ProgramResult r = drelk({"mpiprog.o", kLibmpi});
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  size_t compared = 0;
  for (const ReportEntry& entry : report_entries(r.standard_output)) {
    const auto& [block, size, initialised, object] = entry;
    if (object != kLibmpi) continue;
    EXPECT_EQ(initialised, 'I') << block;
    ASSERT_EQ(exports.count(block), 1u) << block;
    EXPECT_EQ(size, exports.at(block)) << block;
    ++compared;
  }
  EXPECT_GE(compared, 2u);
  const std::string smaller =
      "  library-smaller (error): a shared library defines the block with fewer bytes than a "
      "declaration: a program linked against it gets a copy of the declared size while the "
      "library's code knows its own smaller object, and routines that declare more read and "
      "write past the library's object\n";
  for (const char* block : {"mpi_fortran_status_ignore_", "mpi_fortran_statuses_ignore_"}) {
    EXPECT_NE(r.standard_output.find(std::string("Drelk Error: Common Block ") + block +
                                     " is declared with different sizes\n" + smaller),
              std::string::npos)
        << block << "\n"
        << r.standard_output;
  }
  EXPECT_NE(r.standard_output.find(" mpi_fortran_status_ignore_\n"
                                   "           24                  mpiprog.o\n"
                                   "            8   I              " +
                                   std::string(kLibmpi) + "\n"),
            std::string::npos)
      << r.standard_output;
}

// mpif.h's COMMON declarations ask for 16 bytes (gfortran's st_value); libmpi.so places
// most of its definitions at smaller alignments: a note for each, with the alignment that
// readelf's value and section alignment give the definition.
TEST_F(SharedLibraries, OpenMpiDefinitionsLessAlignedThanDeclared) {
#if defined(_WIN32)
  GTEST_SKIP() << "Open MPI's libmpi.so is a Linux library";
#endif
  if (!fs::exists(kLibmpi)) {
    if (std::getenv("CI") != nullptr) FAIL() << "libopenmpi-dev is not installed: " << kLibmpi;
    GTEST_SKIP() << "libopenmpi-dev is not installed: no " << kLibmpi;
  }
  const std::string readelf = find_tool("readelf");
  if (readelf.empty()) GTEST_SKIP() << "readelf (binutils) is not installed";
  // Each section's sh_addralign, the last column of `readelf -SW`.
  const ProgramResult sections = run_program(readelf, {"-SW", kLibmpi}, dir.str());
  ASSERT_EQ(sections.exit_status, 0) << sections.standard_error;
  std::map<std::string, uint64_t> section_alignment;
  const std::regex section_line(R"(^\s*\[\s*(\d+)\].*\s(\d+)\s*$)");
  std::istringstream section_lines(sections.standard_output);
  for (std::string line; std::getline(section_lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, section_line)) section_alignment[m[1]] = std::stoull(m[2]);
  }
  const ProgramResult symbols = run_program(readelf, {"--dyn-syms", "-W", kLibmpi}, dir.str());
  ASSERT_EQ(symbols.exit_status, 0) << symbols.standard_error;
  const ProgramResult r = drelk({"-p", "mpiprog.o", kLibmpi});
  EXPECT_EQ(r.standard_error, "");
  size_t checked = 0;
  std::istringstream lines(symbols.standard_output);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string number, value, size, type, bind, visibility, index, name;
    if (!(fields >> number >> value >> size >> type >> bind >> visibility >> index >> name) ||
        !name.starts_with("mpi_fortran_") || type != "OBJECT") {
      continue;
    }
    const uint64_t address = std::stoull(value, nullptr, 16);
    uint64_t alignment = std::max<uint64_t>(section_alignment.at(index), 1);
    while (address % alignment != 0) alignment /= 2;
    const std::string note = "Drelk Note: Common Block " + name + " is defined with alignment " +
                             std::to_string(alignment) + " in " + kLibmpi +
                             ", smaller than the alignment 16 declared in mpiprog.o\n";
    if (alignment < 16) {
      EXPECT_NE(r.standard_output.find(note), std::string::npos) << note << r.standard_output;
    } else {
      EXPECT_EQ(r.standard_output.find("Common Block " + name + " is defined with alignment"),
                std::string::npos)
          << name;
    }
    ++checked;
  }
  EXPECT_GE(checked, 9u);
  EXPECT_NE(r.standard_output.find("Common Block mpi_fortran_bottom_ is defined with alignment 8"),
            std::string::npos)
      << r.standard_output;
}

// Our own libraries of every format beside the objects that declare their blocks: an ELF
// BLOCK DATA library smaller than a declaration, a versioned export shown as the library
// exports it, a dylib, a DLL, its GNU and short import libraries (the formats without
// sizes are a note).
TEST_F(SharedLibraries, LibrariesOfEveryFormat) {
  const ProgramResult r = drelk({"user.o", "libblk.so", "libver.so", "macuser.o", "libmac.dylib",
                                 "userw.obj", "shared.dll", "libshared.dll.a", "shared.lib"});
  EXPECT_EQ(r.standard_output, golden("shlib-libraries.txt"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
  // The documents say which file was a library, and the version of an export.
  const std::string json = drelk({"-fjson", "user.o", "libver.so", "shared.dll"}).standard_output;
  EXPECT_NE(json.find("\"path\": \"libver.so\", \"file\": \"libver.so\", \"format\": \"elf\", "
                      "\"role\": \"library\"}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"exported_as\": \"vblk_@@DRELK_1\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"kind\": \"library-definition\", \"block\": \"shared_\""),
            std::string::npos)
      << json;
  EXPECT_EQ(json.find("\"role\": \"library\"}", json.find("user.o")),
            json.find("\"role\": \"library\"}"));
}

// A library's definition never makes a name a block: a library alone lists no block, and
// a library that only a procedure's name meets is no clash.
TEST_F(SharedLibraries, ALibraryAloneDeclaresNoBlock) {
  const ProgramResult r = drelk({"libblk.so", "libmac.dylib", "shared.dll"});
  EXPECT_EQ(r.standard_output,
            "Common Block Analysis\n\n\tNone of the objects scanned contain COMMON BLOCKS\n\n");
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
}

// A library named twice, or by a link to it, is read once; a position-independent program
// is ET_DYN as a library is, and stays refused. In a directory input the libraries are read
// and the program is passed over.
TEST_F(SharedLibraries, LibrariesReadOnceAndProgramsRefused) {
  std::error_code error;
  fs::create_symlink("libblk.so", dir.path() / "libblk.so.1", error);
  const bool linked = !error;
  std::vector<std::string> inputs{"user.o", "libblk.so", "libblk.so"};
  if (linked) inputs.push_back("libblk.so.1");
  const ProgramResult r = drelk(inputs);
  EXPECT_NE(r.standard_output.find(" shared_\n"
                                   "           88                  user.o\n"
                                   "           40   I              libblk.so\n\n"),
            std::string::npos)
      << r.standard_output;
  EXPECT_EQ(r.standard_error, "");

  const ProgramResult program = drelk({"pieprog"});
  EXPECT_EQ(program.standard_error, "Drelk: The file pieprog is not an object file.\n");
  EXPECT_EQ(program.exit_status, 255);

  fs::create_directories(dir.path() / "build");
  for (const char* name : {"user.o", "libblk.so", "pieprog", "shared.dll", "libmac.dylib"}) {
    fs::copy_file(dir.path() / name, dir.path() / "build" / name);
  }
  const ProgramResult walk = drelk({"-p", "build"});
  EXPECT_EQ(walk.standard_error, "");
  EXPECT_EQ(walk.exit_status, 0);
  const std::string walked = with_slashes(walk.standard_output);
  EXPECT_NE(walked.find("             88 bytes in build/user.o\n"
                        "             40 bytes in build/libblk.so\n"
                        "              - bytes in build/shared.dll\n"),
            std::string::npos)
      << walk.standard_output;
}

// The -m report of layouts without what names the objects: the lines that list sizes by
// object, the object after a layout's routine, the count of objects.
std::string layout_findings(const std::string& report) {
  std::istringstream lines(report);
  std::string line, kept;
  while (std::getline(lines, line)) {
    if (line.find(" bytes in ") != std::string::npos && line.find("Layout ") == std::string::npos) {
      continue;
    }
    if (line.rfind("  Layout ", 0) == 0) line = line.substr(0, line.rfind(" ("));
    if (line.rfind("  BLOCK DATA: ", 0) == 0) line = line.substr(0, line.rfind(" as in "));
    if (line.rfind("Summary: ", 0) == 0) line = line.substr(line.find(';'));
    kept += line + "\n";
  }
  return kept;
}

// -m on a program linked from objects of known layouts (tests/data/dwarf/x86_64) finds
// what -m on the objects finds: each routine's layout is a declaration of its own, of the
// extent of its members, offsets counted from the block symbol's address; the BLOCK DATA's
// block keeps the size the linker gave it. A position-independent program (ET_DYN) and one
// of fixed addresses (ET_EXEC) alike.
TEST_F(SharedLibraries, LayoutsOfALinkedProgramAreThoseOfItsObjects) {
  copy_test_data("dwarf", dir);
  std::vector<std::string> objects{"-m", "-p"};
  for (const char* unit : {"tally", "clash", "grid", "a", "b", "c", "exta", "extb", "bd", "u"}) {
    objects.push_back(std::string("x86_64/") + unit + ".o");
  }
  const ProgramResult from_objects = drelk(objects);
  ASSERT_EQ(from_objects.standard_error, "");
  const std::string expected = layout_findings(from_objects.standard_output);
  EXPECT_NE(expected.find("type-conflict"), std::string::npos) << expected;
  for (const char* program : {"layouts-prog", "layouts-exec"}) {
    const ProgramResult r = drelk({"-m", "-p", program});
    EXPECT_EQ(r.standard_error, "") << program;
    EXPECT_EQ(r.exit_status, 0) << program;
    EXPECT_EQ(layout_findings(r.standard_output), expected) << program;
    EXPECT_NE(r.standard_output.find("Layout 1 of 2: 44 bytes in 1 declaration, as in exta at "
                                     "src/exta.f:2 (" +
                                     std::string(program) + ")\n"),
              std::string::npos)
        << r.standard_output;
  }
  // The documents say the file was a program; without -m, and without debug information,
  // a program stays refused.
  const std::string json = drelk({"-m", "-fjson", "layouts-prog"}).standard_output;
  EXPECT_NE(json.find("\"format\": \"elf\", \"role\": \"program\"}"), std::string::npos) << json;
  EXPECT_EQ(drelk({"layouts-prog"}).standard_error,
            "Drelk: The file layouts-prog is not an object file.\n");
  EXPECT_EQ(drelk({"-m", "pieprog"}).standard_error,
            "Drelk: The file pieprog is not an object file.\n");
}

// The same for mingw-w64 programs (tests/data/dwarf/mingw-x86_64's objects linked into
// layouts.exe, PE32+; mingw-i686's into layouts32.exe, PE32 with '_' before each symbol):
// their DWARF sections have long names through the COFF string table, and a member's
// DW_OP_addr is ImageBase + its section's RVA + its offset. The BLOCK DATA's block, whose
// size COFF does not record, is bounded by the next symbol of its section as in the
// objects. Without -m a program stays refused.
TEST_F(SharedLibraries, LayoutsOfAMingwProgramAreThoseOfItsObjects) {
  copy_test_data("dwarf", dir);
  for (const auto& [folder, program] :
       {std::pair<std::string, std::string>{"mingw-x86_64", "layouts.exe"},
        {"mingw-i686", "layouts32.exe"}}) {
    std::vector<std::string> objects{"-m", "-p"};
    for (const char* unit : {"tally", "clash", "grid", "a", "b", "c", "exta", "extb", "bd", "u"}) {
      objects.push_back(folder + "/" + unit + ".obj");
    }
    const ProgramResult from_objects = drelk(objects);
    ASSERT_EQ(from_objects.standard_error, "");
    const std::string expected = layout_findings(from_objects.standard_output);
    EXPECT_NE(expected.find("initialised-smaller"), std::string::npos) << expected;
    const ProgramResult r = drelk({"-m", "-p", program});
    EXPECT_EQ(r.standard_error, "") << program;
    EXPECT_EQ(r.exit_status, 0) << program;
    EXPECT_EQ(layout_findings(r.standard_output), expected) << program;
  }
  const ProgramResult r = drelk({"-m", "-p", "layouts.exe"});
  EXPECT_NE(r.standard_output.find("             64 bytes in layouts.exe\n"), std::string::npos)
      << r.standard_output;
  const std::string json = drelk({"-m", "-fjson", "layouts.exe"}).standard_output;
  EXPECT_NE(json.find("\"format\": \"pe-exe\", \"role\": \"program\"}"), std::string::npos) << json;
  EXPECT_EQ(drelk({"layouts.exe"}).standard_error,
            "Drelk: The file layouts.exe is not an object file.\n");
}

// A DLL built with -g under -m: its exports stay definitions without sizes (a note), and
// its DWARF's declarations keep theirs, so that its routines' layouts are compared; in the
// text report, JSON, SARIF and the HTML page alike.
TEST_F(SharedLibraries, LayoutsOfAMingwDll) {
  const ProgramResult r = drelk({"-m", "layouts.dll"});
  EXPECT_EQ(r.standard_error, "");
  EXPECT_NE(r.standard_output.find(" ext_\n"
                                   "           44                  layouts.dll\n"
                                   "           24                  layouts.dll\n"
                                   "            -   I              layouts.dll\n"),
            std::string::npos)
      << r.standard_output;
  EXPECT_NE(r.standard_output.find("Drelk Error: Common Block ext_ is declared with different "
                                   "sizes\n  extent (warning)"),
            std::string::npos)
      << r.standard_output;
  EXPECT_NE(r.standard_output.find("Summary: 2 blocks in 1 object; 0 errors, 1 warning, 2 notes"),
            std::string::npos)
      << r.standard_output;
  // Only the exports are unsized: in the listings of blk_ and ext_, and among the
  // declarations of ext_'s finding.
  const std::string json = drelk({"-m", "-fjson", "layouts.dll"}).standard_output;
  size_t unsized = 0;
  for (size_t at = json.find("\"sized\": false"); at != std::string::npos;
       at = json.find("\"sized\": false", at + 1)) {
    ++unsized;
  }
  EXPECT_EQ(unsized, 3u) << json;
  const std::string html = drelk({"-m", "-fhtml", "layouts.dll"}).standard_output;
  EXPECT_NE(html.find("[[44,0,0],[24,0,0],[\"-\",1,0]]"), std::string::npos) << html;
  const std::string sarif = drelk({"-m", "-fsarif", "layouts.dll"}).standard_output;
  EXPECT_NE(sarif.find("Common Block ext_ is declared with different sizes: 44 bytes in "
                       "layouts.dll, 24 bytes in layouts.dll."),
            std::string::npos)
      << sarif;
}

// A .dSYM bundle's findings in the words of an ELF program's: Mach-O names a block's
// symbol with a leading '_', and records no size, so that a BLOCK DATA's block is bounded
// by the next symbol of its section (the explanation says so).
std::string as_elf_findings(std::string findings) {
  const std::string prefix = "Common Block _";
  for (size_t at = findings.find(prefix); at != std::string::npos;
       at = findings.find(prefix, at + prefix.size() - 1)) {
    findings.erase(at + prefix.size() - 1, 1);
  }
  const std::string bounded =
      ": its object's layout leaves it fewer bytes (up to the next symbol of its section) than "
      "the block is declared with; it decides the block's size on every linker (LINK's LNK2133)";
  const size_t at = findings.find(bounded);
  if (at != std::string::npos) {
    findings.replace(at, bounded.size(), "; it decides the block's size on every linker");
  }
  return findings;
}

// -m on a .dSYM bundle (its companion file, Mach-O MH_DSYM, carries layouts-exec's DWARF
// and symbols) finds what -m on the ELF program finds: the walk of the bundle finds the
// companion and passes over its Info.plist; the companion named itself reads the same.
TEST_F(SharedLibraries, LayoutsOfADsymBundleAreThoseOfItsProgram) {
  const ProgramResult elf = drelk({"-m", "-p", "layouts-exec"});
  ASSERT_EQ(elf.standard_error, "");
  const std::string expected = layout_findings(elf.standard_output);
  const std::string companion = "layouts-exec.dSYM/Contents/Resources/DWARF/layouts-exec";
  for (const std::string& input : {std::string("layouts-exec.dSYM"), companion}) {
    const ProgramResult r = drelk({"-m", "-p", input});
    EXPECT_EQ(r.standard_error, "") << input;
    EXPECT_EQ(r.exit_status, 0) << input;
    const std::string findings = layout_findings(r.standard_output);
    EXPECT_EQ(as_elf_findings(findings), expected) << input;
    EXPECT_NE(findings.find("Common Block _blk_ is declared with different sizes\n"
                            "  initialised-smaller (error): an initialised definition (BLOCK "
                            "DATA) is smaller than a declaration: its object's layout"),
              std::string::npos)
        << findings;
    EXPECT_NE(with_slashes(r.standard_output).find("             40 bytes in " + companion + "\n"),
              std::string::npos)
        << r.standard_output;
  }
  EXPECT_NE(drelk({"-m", "layouts-exec.dSYM"})
                .standard_output.find("1 files read under layouts-exec.dSYM\n"),
            std::string::npos);
  const std::string json = drelk({"-m", "-fjson", companion}).standard_output;
  EXPECT_NE(json.find("\"format\": \"macho\", \"role\": \"program\"}"), std::string::npos) << json;
}

// What a dSYM is without -m, a dSYM whose DWARF describes no block (a C program's, made by
// dsymutil), and the Mach-O program itself, which keeps no debug information of its own.
TEST_F(SharedLibraries, DsymBundlesAndMachOProgramsWithoutLayouts) {
  const std::string companion = "layouts-exec.dSYM/Contents/Resources/DWARF/layouts-exec";
  EXPECT_EQ(drelk({companion}).standard_error,
            "Drelk: The file " + companion +
                " is debug information only (-m reads its COMMON block layouts), not an object "
                "file.\n");
  // A walk without -m passes the companion over, as it passes over programs.
  const ProgramResult walked = drelk({"layouts-exec.dSYM", "user.o"});
  EXPECT_EQ(walked.standard_error, "");
  EXPECT_NE(walked.standard_output.find("0 files read under layouts-exec.dSYM\n"),
            std::string::npos)
      << walked.standard_output;
  const ProgramResult c = drelk({"-m", "macprog.dSYM"});
  EXPECT_EQ(with_slashes(c.standard_error),
            "Drelk: The file macprog.dSYM/Contents/Resources/DWARF/macprog is debug information "
            "that describes no COMMON block, not an object file.\n");
  EXPECT_EQ(c.exit_status, 255);
  EXPECT_EQ(drelk({"-m", "macprog"}).standard_error,
            "Drelk: The file macprog is not an object file: a Mach-O program keeps its debug "
            "information in its .dSYM bundle; name macprog.dSYM for -m to read its COMMON block "
            "layouts.\n");
  EXPECT_EQ(drelk({"macprog"}).standard_error, "Drelk: The file macprog is not an object file.\n");
}

}  // namespace
}  // namespace drelk::test
