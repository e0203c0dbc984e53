// The platform layer on the real file system of the platform the tests are built for:
// directory search, file opening, directory identity, and on Windows the path splitter
// in a double-byte code page.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace drelk {
namespace {

using test::TempDir;

// The names found, in directory order, a directory's with a trailing '/'.
std::vector<std::string> listed(std::vector<DirEntry> entries) {
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    return directory_order_less(a.name, b.name);
  });
  std::vector<std::string> names;
  for (const DirEntry& entry : entries)
    names.push_back(entry.name + (entry.is_directory ? "/" : ""));
  return names;
}

class FileSystem : public ::testing::Test {
 protected:
  std::string at(const std::string& relative) const { return dir.str() + "/" + relative; }
  TempDir dir;
  DirectorySearch search;
};

TEST_F(FileSystem, SearchFindsMatchesWithoutRegardToCaseWithTheirDirectoryFlag) {
  dir.write("a.obj", std::string("x"));
  dir.write("B.OBJ", std::string("x"));
  dir.write("c.lib", std::string("x"));
  dir.make_directory("d.obj");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(find_files(search, at("*.obj"), entries));
  EXPECT_EQ(listed(entries), (std::vector<std::string>{"a.obj", "B.OBJ", "d.obj/"}));
}

TEST_F(FileSystem, StarDotStarFindsEveryEntryAndTheDotEntries) {
  dir.write("noext", std::string("x"));
  dir.make_directory("sub");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(find_files(search, at("*.*"), entries));
  EXPECT_EQ(listed(entries), (std::vector<std::string>{"./", "../", "noext", "sub/"}));
}

TEST_F(FileSystem, SearchTakesEitherSeparator) {
  dir.write("sub/inner/x.obj", std::string("x"));
  std::vector<DirEntry> entries;
  for (const std::string& pattern : {dir.str() + "\\sub\\inner\\x.obj", at("sub/inner/x.obj"),
                                     dir.str() + "\\sub/inner\\*.obj"}) {
    ASSERT_TRUE(find_files(search, pattern, entries)) << pattern;
    EXPECT_EQ(listed(entries), std::vector<std::string>{"x.obj"}) << pattern;
  }
}

TEST_F(FileSystem, SearchWithoutAMatchOrADirectoryFindsNothing) {
  dir.write("a.lib", std::string("x"));
  std::vector<DirEntry> entries{DirEntry{"left over", false}};
  EXPECT_FALSE(find_files(search, at("*.obj"), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(find_files(search, at("missing/*.*"), entries));
  EXPECT_FALSE(find_files(search, at("a.lib/*.*"), entries));
}

TEST_F(FileSystem, OpenedFileGivesItsSizeAndBytes) {
  std::vector<uint8_t> bytes(100000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 1);
  // A carriage return + line feed and a Ctrl-Z must come back as they are: binary reads.
  bytes[10] = '\r';
  bytes[11] = '\n';
  bytes[12] = 0x1A;
  dir.write("big.obj", bytes);
  InputStream stream;
  ASSERT_TRUE(open_input_file(at("big.obj"), stream));
  EXPECT_EQ(stream.size, bytes.size());
  std::vector<uint8_t> read(bytes.size() + 1);
  EXPECT_EQ(stream_read(stream, read.data(), read.size()), bytes.size());
  read.pop_back();
  EXPECT_EQ(read, bytes);
  close_input_stream(stream);
}

TEST_F(FileSystem, OnlyRegularFilesAreOpened) {
  dir.make_directory("d.obj");
  InputStream stream;
  EXPECT_FALSE(open_input_file(at("d.obj"), stream));
  EXPECT_FALSE(open_input_file(at("missing.obj"), stream));
#if defined(_WIN32)
  // Devices answer to their names in every directory.
  EXPECT_FALSE(open_input_file("NUL", stream));
  EXPECT_FALSE(open_input_file(at("nul.obj"), stream));
  EXPECT_FALSE(open_input_file("CON", stream));
#else
  EXPECT_FALSE(open_input_file("/dev/null", stream));
  // A FIFO with no writer would block an ordinary open.
  ASSERT_EQ(mkfifo(at("pipe.obj").c_str(), 0600), 0);
  EXPECT_FALSE(open_input_file(at("pipe.obj"), stream));
#endif
  EXPECT_EQ(stream.descriptor, -1);
}

TEST_F(FileSystem, DirectoryIdentityBelongsToTheDirectoryNotToThePath) {
  dir.make_directory("sub/inner");
  DirectoryIdentity sub, sub_again, inner, here, cwd;
  ASSERT_TRUE(directory_identity(at("sub"), sub));
  ASSERT_TRUE(directory_identity(dir.str() + "\\sub\\inner\\..", sub_again));
  ASSERT_TRUE(directory_identity(at("sub/inner"), inner));
  EXPECT_EQ(sub, sub_again);
  EXPECT_NE(sub, inner);
  // The empty directory part of a pattern is the current directory.
  ASSERT_TRUE(directory_identity("", here));
  ASSERT_TRUE(directory_identity(std::filesystem::current_path().string(), cwd));
  EXPECT_EQ(here, cwd);
  EXPECT_FALSE(directory_identity(at("missing"), here));
}

#if defined(_WIN32)
// Shift-JIS (code page 932) writes U+8868 as 0x95 0x5C: its trail byte is the code of '\'.
const std::string kTrailBackslash = "\x95\x5C";

std::vector<std::string> parts(const std::string& path) {
  const PathParts p = split_path(path);
  return {p.drive, p.directory, p.file_name, p.extension};
}

TEST(DoubleByteCodePage, TrailByteIsNeitherASeparatorNorADot) {
  if (!IsDBCSLeadByte(0x95)) GTEST_SKIP() << "0x95 is no lead byte in code page " << GetACP();
  using V = std::vector<std::string>;
  const std::string& c = kTrailBackslash;
  EXPECT_EQ(parts("dir\\" + c + ".obj"), (V{"", "dir\\", c, ".obj"}));
  EXPECT_EQ(parts(c + "\\x.obj"), (V{"", c + "\\", "x", ".obj"}));
  EXPECT_EQ(parts("C:" + c + c), (V{"C:", "", c + c, ""}));
  // A '\' after a lead byte is its trail byte; a lead byte that ends the path stands alone.
  EXPECT_EQ(parts("a\x95\\b"), (V{"", "", "a\x95\\b", ""}));
  EXPECT_EQ(parts("a\\b.\x95"), (V{"", "a\\", "b", ".\x95"}));
  EXPECT_FALSE(is_lead_byte('\\'));
  EXPECT_FALSE(is_lead_byte('.'));
}

TEST(DoubleByteCodePage, NameEndingInATrailBackslashIsFoundAndOpened) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932, not " << GetACP();
  TempDir dir;
  // The ANSI functions take the name in the code page; std::filesystem would not.
  const std::string directory = dir.str() + "\\" + kTrailBackslash;
  ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
  const std::string file = directory + "\\" + kTrailBackslash + ".obj";
  const HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(handle, "COFF", 4, &written, nullptr);
  CloseHandle(handle);

  // As the input expansion composes the path: the pattern's directory part, then the name.
  const PathParts p = split_path(directory + "\\" + kTrailBackslash);
  EXPECT_EQ(p.directory.substr(p.directory.size() - 3), kTrailBackslash + "\\");
  EXPECT_EQ(p.file_name, kTrailBackslash);
  std::vector<DirEntry> entries;
  DirectorySearch search;
  ASSERT_TRUE(find_files(search, p.drive + p.directory + p.file_name + ".obj", entries));
  ASSERT_EQ(listed(entries), std::vector<std::string>{kTrailBackslash + ".obj"});
  InputStream stream;
  ASSERT_TRUE(open_input_file(p.drive + p.directory + entries[0].name, stream));
  EXPECT_EQ(stream.size, 4u);
  close_input_stream(stream);
  DirectoryIdentity identity;
  EXPECT_TRUE(directory_identity(p.drive + p.directory, identity));
  DeleteFileA(file.c_str());
  RemoveDirectoryA(directory.c_str());
}
#endif

}  // namespace
}  // namespace drelk
