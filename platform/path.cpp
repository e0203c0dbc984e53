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

// True when `segment` (no '*' in it) matches `name` at `at`: '?' any one character,
// every other character without regard to case.
bool segment_matches_at(std::string_view segment, std::string_view name, size_t at) {
  for (size_t i = 0; i < segment.size(); ++i) {
    const char p = segment[i];
    if (p != '?' &&
        fold(static_cast<unsigned char>(p)) != fold(static_cast<unsigned char>(name[at + i]))) {
      return false;
    }
  }
  return true;
}

// True when `name` matches `pattern`. The stretches between stars are matched in turn: the
// first at the start of the name, the last at its end, each one between them at the
// leftmost place it fits, which finds a match whenever there is one. The work grows with
// the lengths' product at most, so a hostile pattern cannot make the match exponential.
bool match_from(std::string_view pattern, std::string_view name) {
  const size_t first_star = pattern.find('*');
  if (first_star == std::string_view::npos) {
    return pattern.size() == name.size() && segment_matches_at(pattern, name, 0);
  }
  const size_t last_star = pattern.rfind('*');
  const std::string_view head = pattern.substr(0, first_star);
  const std::string_view tail = pattern.substr(last_star + 1);
  if (name.size() < head.size() + tail.size() || !segment_matches_at(head, name, 0) ||
      !segment_matches_at(tail, name, name.size() - tail.size())) {
    return false;
  }
  size_t at = head.size();
  const size_t end = name.size() - tail.size();
  size_t star = first_star;
  while (star < last_star) {
    const size_t next = pattern.find('*', star + 1);
    const std::string_view segment = pattern.substr(star + 1, next - star - 1);
    star = next;
    if (segment.empty()) continue;
    while (at + segment.size() <= end && !segment_matches_at(segment, name, at)) ++at;
    if (at + segment.size() > end) return false;
    at += segment.size();
  }
  return true;
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

std::string member_file_path(const std::string& archive_path, const std::string& member) {
  const bool absolute =
      (!member.empty() && is_separator(member[0])) || (member.size() >= 2 && member[1] == ':');
  if (absolute) return member;
  const PathParts parts = split_path(archive_path);
  return parts.drive + parts.directory + member;
}

bool wildcard_match(std::string_view pattern, std::string_view name) {
  if (match_from(pattern, name)) return true;
  // A trailing ".*" also matches names without any extension, as on Windows: "*.*"
  // matches every name and "prog.*" matches "prog".
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return match_from(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

std::string fold_name(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(fold(static_cast<unsigned char>(c)));
  return folded;
}

bool directory_order_less(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const unsigned char fa = fold(static_cast<unsigned char>(a[i]));
    const unsigned char fb = fold(static_cast<unsigned char>(b[i]));
    if (fa != fb) return fa < fb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace drelk
