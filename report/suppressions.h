// Suppressions: findings a team accepts on purpose, kept in a plain text file in its
// repository. One entry a line: a block name or a shell-style pattern of names ('*', '?',
// '[...]'), optionally the kind or class of finding it accepts, and the reason after '#':
//
//   # blank COMMON may differ in size (the standard allows it)
//   ___BLNK__ blank-common   # every routine sizes its own scratch area
//   cfft*                    # the FFT library's work areas, sized by the caller
//
// Blank lines and lines that begin with '#' are comments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drelk {

struct Suppression {
  std::string pattern;   // a block name or a pattern of names, as the symbols spell them
  std::string kind;      // a kind or class of finding, or empty for every finding
  std::string reason;    // the text after '#'
  uint64_t line = 0;     // where the entry stands in its file
  uint64_t matches = 0;  // findings it accepted in this run
};

struct SuppressionError {
  uint64_t line = 0;
  std::string message;
};

// Reads the entries of a suppressions file. `kinds` names the kinds and classes an entry may
// give. Returns false at the first bad line: more than a name and a kind before '#', an
// unknown kind, or no reason.
bool parse_suppressions(std::string_view text, const std::vector<std::string_view>& kinds,
                        std::vector<Suppression>& entries, SuppressionError& error);

// Shell-style matching of a whole name: '*' any run of bytes, '?' one byte, '[abc]',
// '[a-z]' and '[!abc]' a set; every other byte stands for itself (case matters: the names
// are the symbols' own).
bool name_pattern_match(std::string_view pattern, std::string_view name);

// The first entry that accepts a finding of the block `name` with kind `kind` and class
// `finding_class` (either may be empty), or nullptr.
Suppression* find_suppression(std::vector<Suppression>& entries, std::string_view name,
                              std::string_view kind, std::string_view finding_class);

}  // namespace drelk
