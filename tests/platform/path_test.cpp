// Path splitting, wildcard matching and the directory order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/file_system.h"

namespace drelk {
namespace {

std::vector<std::string> parts(const std::string& path) {
  const PathParts p = split_path(path);
  return {p.drive, p.directory, p.file_name, p.extension};
}

TEST(SplitPath, ComponentsAsTheWindowsRuntimeSplitsThem) {
  using V = std::vector<std::string>;
  EXPECT_EQ(parts("prog"), (V{"", "", "prog", ""}));
  EXPECT_EQ(parts("prog."), (V{"", "", "prog", "."}));
  EXPECT_EQ(parts("C:\\src\\x.obj"), (V{"C:", "\\src\\", "x", ".obj"}));
  EXPECT_EQ(parts("C:x.obj"), (V{"C:", "", "x", ".obj"}));
  EXPECT_EQ(parts("src/sub\\*.*"), (V{"", "src/sub\\", "*", ".*"}));
  EXPECT_EQ(parts("dir.d/file"), (V{"", "dir.d/", "file", ""}));
  EXPECT_EQ(parts("a.b.c"), (V{"", "", "a.b", ".c"}));
  EXPECT_EQ(parts(".hidden"), (V{"", "", "", ".hidden"}));
}

TEST(SplitPath, LongComponentsAreKeptWhole) {
  const std::string directory(1000, 'd');
  const std::string name(300, 'n');
  EXPECT_EQ(parts(directory + "/" + name + ".obj"),
            (std::vector<std::string>{"", directory + "/", name, ".obj"}));
}

TEST(WildcardMatch, StarAndQuestionMarkWithoutRegardToCase) {
  EXPECT_TRUE(wildcard_match("*.obj", "a.OBJ"));
  EXPECT_TRUE(wildcard_match("*.obj", ".obj"));
  EXPECT_FALSE(wildcard_match("*.obj", "a.objx"));
  EXPECT_TRUE(wildcard_match("?.obj", "a.obj"));
  EXPECT_FALSE(wildcard_match("?.obj", "ab.obj"));
  EXPECT_FALSE(wildcard_match("?.obj", ".obj"));
  EXPECT_TRUE(wildcard_match("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(wildcard_match("a*b*c", "aXbYbZ"));
  EXPECT_TRUE(wildcard_match("prog.obj", "PROG.OBJ"));
}

TEST(WildcardMatch, StarDotStarMatchesNamesWithoutADot) {
  EXPECT_TRUE(wildcard_match("*.*", "noext"));
  EXPECT_TRUE(wildcard_match("*.*", "a.b.c"));
  EXPECT_TRUE(wildcard_match("*.*", "."));
  EXPECT_TRUE(wildcard_match("prog.*", "prog"));
  EXPECT_FALSE(wildcard_match("prog.*", "program"));
}

// The matching by definition, recursively: exponential, but exact on short strings.
bool matches_by_definition(const char* p, const char* n) {
  if (*p == '\0') return *n == '\0';
  if (*p == '*')
    return matches_by_definition(p + 1, n) || (*n != '\0' && matches_by_definition(p, n + 1));
  if (*n == '\0') return false;
  const auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  return (*p == '?' || up(*p) == up(*n)) && matches_by_definition(p + 1, n + 1);
}

TEST(WildcardMatch, AgreesWithTheDefinitionOnRandomPatterns) {
  std::mt19937 random(7);
  const std::string pattern_characters = "aAb?*.";
  const std::string name_characters = "aAb.";
  for (int i = 0; i < 200000; ++i) {
    std::string pattern(random() % 8, ' ');
    for (char& c : pattern) c = pattern_characters[random() % pattern_characters.size()];
    std::string name(random() % 10, ' ');
    for (char& c : name) c = name_characters[random() % name_characters.size()];
    bool expected = matches_by_definition(pattern.c_str(), name.c_str());
    // A trailing ".*" also matches a name without a dot.
    if (!expected && pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
        name.find('.') == std::string::npos) {
      expected = matches_by_definition(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
    }
    ASSERT_EQ(wildcard_match(pattern, name), expected) << pattern << " " << name;
  }
}

TEST(WildcardMatch, ManyStarsStayFast) {
  const std::string pattern = std::string(50, '*') + "x";
  EXPECT_FALSE(wildcard_match(pattern, std::string(5000, 'a')));
}

TEST(DirectoryOrder, FoldedBytesThenPlainBytes) {
  std::vector<std::string> names = {"b", "_", "B", "a", "A", "ab", "[", "Z", "z"};
  std::sort(names.begin(), names.end(), directory_order_less);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "ab", "B", "b", "Z", "z", "[", "_"}));
}

}  // namespace
}  // namespace drelk
