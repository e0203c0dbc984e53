// Reading a baseline from a JSON report and comparing findings with it.
#include "report/baseline.h"

#include <algorithm>
#include <utility>

#include "platform/strprintf.h"
#include "report/json_value.h"

namespace drelk {
namespace {

std::string joined_sizes(const std::vector<uint64_t>& sizes) {
  std::string text;
  for (uint64_t size : sizes) {
    if (!text.empty()) text += ", ";
    text += std::to_string(size);
  }
  return text;
}

// A block or path as the document stores it: "<key>_bytes" holds the exact bytes, in
// hexadecimal, where the name was not valid UTF-8.
std::string name_at(const JsonValue& value, std::string_view key) {
  const auto bytes = value.string_at(std::string(key) + "_bytes");
  if (bytes && bytes->size() % 2 == 0) {
    std::string decoded;
    for (size_t i = 0; i < bytes->size(); i += 2) {
      decoded += static_cast<char>(std::stoi(std::string(bytes->substr(i, 2)), nullptr, 16));
    }
    return decoded;
  }
  return std::string(value.string_at(key).value_or(""));
}

bool is_hex(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

// Where the layouts of a finding conflict, as a baseline compares it: the bytes and the two
// types, not the routines' source paths, which a rebuild elsewhere may change.
std::string conflict_print(const JsonValue& conflict) {
  std::string print;
  if (const JsonValue* first = conflict.find("first")) print += first->text;
  print += '-';
  if (const JsonValue* last = conflict.find("last")) print += last->text;
  if (const JsonValue* sides = conflict.find("sides");
      sides != nullptr && sides->is(JsonValue::Kind::kArray)) {
    for (const JsonValue& side : sides->items) {
      print += ' ';
      print += side.string_at("type").value_or("");
    }
  }
  return print;
}

// One finding of the document; false where it lacks what every version writes.
bool read_finding(const JsonValue& value, FindingPrint& print) {
  if (!value.is(JsonValue::Kind::kObject)) return false;
  const auto kind = value.string_at("kind");
  if (!kind || (!value.string_at("block") && !value.string_at("block_bytes"))) return false;
  if (const auto bytes = value.string_at("block_bytes"); bytes && !is_hex(*bytes)) return false;
  print.kind = *kind;
  print.block = name_at(value, "block");
  print.finding_class = value.string_at("class").value_or("");
  // One entry of a list of objects: its file, and the size or alignment it gives.
  const auto read_entry = [&print](const JsonValue& entry) {
    if (!entry.is(JsonValue::Kind::kObject)) return false;
    if (const auto path = entry.string_at("path")) print.files.push_back(declarer_name(*path));
    for (const auto& [field, values] :
         {std::pair{"size", &print.sizes}, std::pair{"alignment", &print.alignments}}) {
      if (const JsonValue* number = entry.find(field)) {
        const auto held = number->unsigned_integer();
        if (!held) return false;
        values->push_back(*held);
      }
    }
    return true;
  };
  for (const char* list : {"declarations", "definers", "callers", "definitions"}) {
    const JsonValue* entries = value.find(list);
    if (entries == nullptr || !entries->is(JsonValue::Kind::kArray)) continue;
    for (const JsonValue& entry : entries->items) {
      if (!read_entry(entry)) return false;
    }
  }
  if (const JsonValue* declaration = value.find("declaration");
      declaration != nullptr && !read_entry(*declaration)) {
    return false;
  }
  if (const JsonValue* conflict = value.find("conflict");
      conflict != nullptr && conflict->is(JsonValue::Kind::kObject)) {
    print.layouts = conflict_print(*conflict);
  }
  normalise(print);
  return true;
}

// A name-based GUID (RFC 4122 layout, version 8 bits) from the document's bytes, so that the
// same baseline is named by the same GUID on every run. FNV-1a over the bytes, twice seeded.
std::string guid_of(std::string_view text) {
  uint64_t halves[2] = {0xcbf29ce484222325ull, 0x84222325cbf29ce4ull};
  for (uint64_t& h : halves) {
    for (unsigned char c : text) {
      h ^= c;
      h *= 0x100000001b3ull;
    }
  }
  halves[0] = (halves[0] & ~0xF000ull) | 0x8000ull;              // version 8: a custom GUID
  halves[1] = (halves[1] & ~(0xC0ull << 56)) | (0x80ull << 56);  // the RFC 4122 variant
  return strprintf("%08llx-%04llx-%04llx-%04llx-%012llx",
                   static_cast<unsigned long long>(halves[0] >> 32),
                   static_cast<unsigned long long>(halves[0] >> 16 & 0xFFFF),
                   static_cast<unsigned long long>(halves[0] & 0xFFFF),
                   static_cast<unsigned long long>(halves[1] >> 48),
                   static_cast<unsigned long long>(halves[1] & 0xFFFFFFFFFFFFull));
}

std::string index_key(const FindingPrint& print) {
  std::string key = print.kind;
  key += '\0';
  key += print.block;
  return key;
}

}  // namespace

std::string_view baseline_state_name(BaselineState state) {
  switch (state) {
    case BaselineState::kNew:
      return "new";
    case BaselineState::kUnchanged:
      return "unchanged";
    case BaselineState::kUpdated:
      return "updated";
    case BaselineState::kAbsent:
      return "absent";
  }
  return "new";
}

void normalise(FindingPrint& print) {
  std::sort(print.sizes.begin(), print.sizes.end());
  print.sizes.erase(std::unique(print.sizes.begin(), print.sizes.end()), print.sizes.end());
  std::sort(print.files.begin(), print.files.end());
  print.files.erase(std::unique(print.files.begin(), print.files.end()), print.files.end());
  std::sort(print.alignments.begin(), print.alignments.end());
  print.alignments.erase(std::unique(print.alignments.begin(), print.alignments.end()),
                         print.alignments.end());
}

std::string declarer_name(std::string_view path) {
  // The member, where there is one, stands in parentheses after the archive's path.
  std::string_view file = path;
  std::string_view member;
  if (const size_t open = path.rfind(" ("); open != std::string_view::npos && path.back() == ')') {
    file = path.substr(0, open);
    member = path.substr(open);
  }
  const size_t slash = file.find_last_of("/\\");
  if (slash != std::string_view::npos) file.remove_prefix(slash + 1);
  return std::string(file) + std::string(member);
}

bool read_baseline(std::string_view text, Baseline& baseline, std::string& why) {
  JsonValue document;
  JsonError error;
  const auto keep = [](std::string_view name) {
    return name == "schema" || name == "version" || name == "findings";
  };
  if (!parse_json(text, document, error, keep)) {
    why = strprintf("is not a JSON document (line %llu, column %llu: %s)",
                    static_cast<unsigned long long>(error.line),
                    static_cast<unsigned long long>(error.column), error.message.c_str());
    return false;
  }
  if (!document.is(JsonValue::Kind::kObject) ||
      document.string_at("schema").value_or("") != "drelk-report" || !document.find("version") ||
      !document.find("version")->unsigned_integer()) {
    why = "is not a drelk JSON report";
    return false;
  }
  const JsonValue* findings = document.find("findings");
  if (findings == nullptr || !findings->is(JsonValue::Kind::kArray)) {
    why = "is a drelk JSON report without findings";
    return false;
  }
  baseline.findings.clear();
  for (const JsonValue& value : findings->items) {
    FindingPrint print;
    if (!read_finding(value, print)) {
      why = strprintf("is a damaged drelk JSON report (finding %zu)", baseline.findings.size() + 1);
      return false;
    }
    baseline.findings.push_back(std::move(print));
  }
  baseline.matched.assign(baseline.findings.size(), false);
  baseline.index.clear();
  for (size_t i = 0; i < baseline.findings.size(); ++i) {
    baseline.index.emplace(index_key(baseline.findings[i]), i);
  }
  baseline.guid = guid_of(text);
  return true;
}

BaselineMatch match_baseline(Baseline& baseline, const FindingPrint& print) {
  BaselineMatch match;
  const auto [first, last] = baseline.index.equal_range(index_key(print));
  for (auto at = first; at != last; ++at) {
    const size_t i = at->second;
    const FindingPrint& was = baseline.findings[i];
    if (baseline.matched[i]) continue;
    baseline.matched[i] = true;
    std::vector<std::string> changes;
    if (!was.finding_class.empty() && !print.finding_class.empty() &&
        was.finding_class != print.finding_class) {
      changes.push_back("class " + print.finding_class + " (was " + was.finding_class + ")");
    }
    if (was.sizes != print.sizes) {
      changes.push_back("sizes " + joined_sizes(print.sizes) + " (were " + joined_sizes(was.sizes) +
                        ")");
    }
    if (was.alignments != print.alignments) {
      changes.push_back("alignments " + joined_sizes(print.alignments) + " (were " +
                        joined_sizes(was.alignments) + ")");
    }
    if (was.files != print.files) changes.push_back("declared in other files");
    if (!was.layouts.empty() && !print.layouts.empty() && was.layouts != print.layouts) {
      changes.push_back("layouts part elsewhere");
    }
    if (changes.empty()) {
      match.state = BaselineState::kUnchanged;
    } else {
      match.state = BaselineState::kUpdated;
      for (const std::string& change : changes) {
        if (!match.change.empty()) match.change += "; ";
        match.change += change;
      }
    }
    return match;
  }
  return match;
}

}  // namespace drelk
