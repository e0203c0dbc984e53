// Path splitting, wildcard matching and directory order: the same on every platform.
#include <cstring>

#include "platform/file_system.h"

namespace drelk {
namespace {

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

unsigned char fold(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

// True when `name[n..]` matches `pattern[p..]`. Iterative, with backtracking to the last
// '*' only, so that a hostile pattern cannot make the match exponential.
bool match_from(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0;
  size_t star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || fold(static_cast<unsigned char>(pattern[p])) ==
                                         fold(static_cast<unsigned char>(name[n])))) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

PathParts split_path(const std::string& path) {
  PathParts parts;
  size_t start = 0;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = path.substr(0, 2);
    start = 2;
  }
  size_t last_separator = std::string::npos;
  size_t dot = std::string::npos;  // the last '.' after the last separator
  for (size_t i = start; i < path.size(); ++i) {
    if (is_lead_byte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;  // the trail byte is part of the character, whatever its code
    } else if (is_separator(path[i])) {
      last_separator = i;
      dot = std::string::npos;
    } else if (path[i] == '.') {
      dot = i;
    }
  }
  size_t name_start = start;
  if (last_separator != std::string::npos) {
    parts.directory = path.substr(start, last_separator + 1 - start);
    name_start = last_separator + 1;
  }
  if (dot != std::string::npos) {
    parts.file_name = path.substr(name_start, dot - name_start);
    parts.extension = path.substr(dot);
  } else {
    parts.file_name = path.substr(name_start);
  }
  return parts;
}

bool wildcard_match(const std::string& pattern, const std::string& name) {
  if (match_from(pattern, name)) return true;
  // A trailing ".*" also matches names without any extension, as on Windows: "*.*"
  // matches every name and "prog.*" matches "prog".
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return match_from(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

int compare_folded(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char fa = fold(static_cast<unsigned char>(a[i]));
    const unsigned char fb = fold(static_cast<unsigned char>(b[i]));
    if (fa != fb) return fa < fb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

bool directory_order_less(const std::string& a, const std::string& b) {
  const int folded = compare_folded(a, b);
  return folded != 0 ? folded < 0 : a < b;
}

}  // namespace drelk
