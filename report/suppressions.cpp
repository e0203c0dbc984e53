// Reading a suppressions file and matching its entries against findings.
#include "report/suppressions.h"

#include <algorithm>

namespace drelk {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// Splits the text before '#' into its blank-separated words.
std::vector<std::string_view> words_of(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_blank(text[i])) ++i;
    const size_t start = i;
    while (i < text.size() && !is_blank(text[i])) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

// Matches a set "[...]" that starts at pattern[0]; `length` is set to the set's length in
// the pattern, or 0 where the '[' opens no set and stands for itself.
bool set_match(std::string_view pattern, char c, size_t& length) {
  size_t i = 1;
  const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) ++i;
  bool matched = false;
  const size_t first = i;
  while (i < pattern.size() && (pattern[i] != ']' || i == first)) {
    const unsigned char low = static_cast<unsigned char>(pattern[i]);
    unsigned char high = low;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      high = static_cast<unsigned char>(pattern[i + 2]);
      i += 2;
    }
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= low && u <= high) matched = true;
    ++i;
  }
  if (i >= pattern.size()) {
    length = 0;
    return c == '[';
  }
  length = i + 1;
  return matched != negated;
}

}  // namespace

bool name_pattern_match(std::string_view pattern, std::string_view name) {
  // Iterative matching with one backtrack point, the last '*': linear in practice and
  // never worse than the product of the two lengths.
  size_t p = 0;
  size_t n = 0;
  size_t star = std::string_view::npos;
  size_t star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      star_name = n;
      continue;
    }
    if (p < pattern.size()) {
      size_t length = 1;
      bool matched = false;
      if (pattern[p] == '?') {
        matched = true;
      } else if (pattern[p] == '[') {
        matched = set_match(pattern.substr(p), name[n], length);
        if (length == 0) length = 1;
      } else {
        matched = pattern[p] == name[n];
      }
      if (matched) {
        p += length;
        ++n;
        continue;
      }
    }
    if (star == std::string_view::npos) return false;
    p = star;
    n = ++star_name;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool parse_suppressions(std::string_view text, const std::vector<std::string_view>& kinds,
                        std::vector<Suppression>& entries, SuppressionError& error) {
  uint64_t number = 0;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    if (number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    const size_t hash = line.find('#');
    const std::vector<std::string_view> words = words_of(line.substr(0, hash));
    if (words.empty()) continue;  // a blank line or a comment
    error.line = number;
    if (words.size() > 2) {
      error.message = "more than a block name and a kind before '#'";
      return false;
    }
    if (words.size() == 2 && std::find(kinds.begin(), kinds.end(), words[1]) == kinds.end()) {
      error.message = "\"" + std::string(words[1]) + "\" is not a kind of finding";
      return false;
    }
    const std::string_view reason =
        hash == std::string_view::npos ? std::string_view() : trimmed(line.substr(hash + 1));
    if (reason.empty()) {
      error.message = "no reason after '#'";
      return false;
    }
    Suppression& entry = entries.emplace_back();
    entry.pattern = words[0];
    if (words.size() == 2) entry.kind = words[1];
    entry.reason = reason;
    entry.line = number;
  }
  return true;
}

Suppression* find_suppression(std::vector<Suppression>& entries, std::string_view name,
                              std::string_view kind, std::string_view finding_class) {
  for (Suppression& entry : entries) {
    if (!entry.kind.empty() && entry.kind != kind && entry.kind != finding_class) continue;
    if (name_pattern_match(entry.pattern, name)) return &entry;
  }
  return nullptr;
}

}  // namespace drelk
