// What the platform decides: arguments as the program receives them, the case of the
// directories a pattern names, and on Windows the paths of a double-byte code page.
#include "tests/e2e/e2e.h"
#include "tests/support/coff_builder.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace drelk::test {
namespace {

// An illegal switch comes back whole in its diagnostic, which shows what drelk received.
std::string illegal(const std::string& argument) {
  return "Drelk: Illegal program option: " + argument + "\n\n\n";
}

std::string report_of_one(const std::string& path) {
  return "Common Block Analysis\n\n"
         "Common   Block   Initialized   Object File\n"
         "         Size \n\n"
         " _x_\n"
         "            4                  " +
         path + "\n\n" + summary_line(1, 1, 0, 0, 0) +
         "End of Analysis:  No problems encountered.\n";
}

std::vector<uint8_t> declaring_x() {
  return CoffObject().section(".text", 4).common("_x_", 4).bytes();
}

using Platform = DrelkRun;

TEST_F(Platform, ArgumentsReachTheProgramAsGiven) {
  for (const char* argument : {"-x with  spaces", "-x\"quoted\"", "-x\ttab", "-x trailing\\",
                               "-x\\\\\"both\\", "-x\\server\\share"}) {
    EXPECT_EQ(drelk({argument}).standard_error, illegal(argument)) << argument;
  }
}

TEST_F(Platform, DirectoryCaseMattersOnlyWhereTheFileSystemIgnoresIt) {
  dir.write("src/a.obj", declaring_x());
  // Everywhere the file name is matched without regard to case and shown as found.
  EXPECT_EQ(drelk({"src\\A"}).standard_output, report_of_one("src\\a.obj"));
  const ProgramResult r = drelk({"SRC\\a"});
#if defined(_WIN32)
  // The path is kept as typed.
  EXPECT_EQ(r.standard_output, report_of_one("SRC\\a.obj"));
  EXPECT_EQ(r.exit_status, 0);
#else
  EXPECT_EQ(r.standard_error, "Drelk: Can't find file SRC\\a.obj\n\n");
  EXPECT_EQ(r.exit_status, 255);
#endif
}

#if defined(_WIN32)
// Shift-JIS (code page 932) writes U+8868 as 0x95 0x5C: its trail byte is the code of '\'.
const std::string kTrailBackslash = "\x95\x5C";

class DoubleByteCodePage : public DrelkRun {
 protected:
  void SetUp() override {
    if (GetACP() != 932) GTEST_SKIP() << "needs code page 932, not " << GetACP();
    // The ANSI functions take the names in the code page; std::filesystem would not.
    const std::string directory = dir.str() + "\\" + kTrailBackslash;
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
    file_ = directory + "\\" + kTrailBackslash + ".obj";
    const std::vector<uint8_t> bytes = declaring_x();
    const HANDLE handle = CreateFileA(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(handle);
  }
  void TearDown() override {
    if (file_.empty()) return;
    DeleteFileA(file_.c_str());
    RemoveDirectoryA((dir.str() + "\\" + kTrailBackslash).c_str());
  }

 private:
  std::string file_;
};

TEST_F(DoubleByteCodePage, NameEndingInATrailBackslashKeepsItsDirectory) {
  // Split byte by byte, the last 0x5C would end the directory part and the report would
  // name a file that is not there.
  const std::string path = kTrailBackslash + "\\" + kTrailBackslash;
  const ProgramResult r = drelk({path});
  EXPECT_EQ(r.standard_output, report_of_one(path + ".obj"));
  EXPECT_EQ(r.standard_error, "");
  EXPECT_EQ(r.exit_status, 0);
}

TEST_F(DoubleByteCodePage, RecursionSearchesTheNameInEverySubdirectory) {
  const ProgramResult r = drelk({"-s", kTrailBackslash});
  EXPECT_EQ(r.standard_error, "Drelk: Can't find file " + kTrailBackslash + ".obj\n\n");
  EXPECT_EQ(r.standard_output,
            "Drelk: Processing is incomplete due to previous error(s).\n\n" +
                report_of_one(kTrailBackslash + "\\" + kTrailBackslash + ".obj"));
}
#endif

}  // namespace
}  // namespace drelk::test
