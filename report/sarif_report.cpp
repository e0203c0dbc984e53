// The findings as a SARIF 2.1.0 log for code scanning: one rule a kind of COMMON block
// error, one result a block and kind, the objects as artifacts (an archive member nested
// in its archive), the diagnostics as tool execution notifications, and the exit status
// in the invocation.
//
// A result's locations are the objects concerned, because objects are what drelk reads;
// under -m, where debug information gives the declaring source lines, those come first
// and the objects are related locations.
#include <map>
#include <unordered_map>
#include <utility>

#include "platform/strprintf.h"
#include "report/adoption.h"
#include "report/json_writer.h"
#include "report/report.h"
#include "report/sarif_rules.h"

namespace drelk {
namespace {

using sarif::level_of;
using sarif::Rule;
using sarif::rule_of;
using sarif::rules;
using sarif::write_rules;

constexpr std::string_view kSarifSchema = "https://json.schemastore.org/sarif-2.1.0.json";

// Code scanning takes at most this many locations and related locations a result.
constexpr size_t kMaxLocations = 1000;
// Sizes (or defining objects) that a result's message names before it says "and N more".
constexpr size_t kMaxNamedInMessage = 8;

// A kind of finding and the block it concerns, hashed (64-bit FNV-1a over the rule id,
// a NUL and the name's bytes) into the fingerprint that follows the finding from run to
// run whatever the objects' order or paths.
std::string fingerprint(std::string_view rule_id, std::string_view block) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  const auto add = [&hash](uint8_t byte) {
    hash ^= byte;
    hash *= 0x100000001B3ULL;
  };
  for (const char c : rule_id) add(static_cast<uint8_t>(c));
  add(0);
  for (const char c : block) add(static_cast<uint8_t>(c));
  constexpr char kHex[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) text[static_cast<size_t>(i)] = kHex[hash & 0xF];
  return text;
}

bool is_uri_path_character(uint8_t c) {
  // RFC 3986 unreserved and sub-delimiters, and '@'; ':' is left out, because in a
  // relative reference a ':' before the first '/' would read as a scheme.
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
    case '@':
      return true;
    default:
      return false;
  }
}

// Appends the bytes percent-encoded; '\' and '/' become '/' when `separators` is true,
// else they are encoded too (a member's name is one name, whatever it holds).
void append_uri_bytes(std::string& uri, std::string_view bytes, bool separators) {
  constexpr char kHex[] = "0123456789ABCDEF";
  for (const char ch : bytes) {
    const auto c = static_cast<uint8_t>(ch);
    if (separators && (c == '/' || c == '\\')) {
      uri.push_back('/');
    } else if (is_uri_path_character(c)) {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(kHex[c >> 4]);
      uri.push_back(kHex[c & 0xF]);
    }
  }
}

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

bool is_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A path as drelk shows it, as a URI: relative paths as relative references (relative to
// where drelk ran), absolute ones ("C:\dir", "\\server\share", "/dir") as file URIs.
std::string path_uri(std::string_view path) {
  std::string uri;
  uri.reserve(path.size() + 8);
  if (path.size() >= 3 && is_letter(path[0]) && path[1] == ':' && is_separator(path[2])) {
    uri.append("file:///").push_back(path[0]);
    uri.push_back(':');
    path.remove_prefix(2);
  } else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    uri.append("file:");
  } else if (!path.empty() && is_separator(path[0])) {
    uri.append("file://");
  }
  append_uri_bytes(uri, path, true);
  return uri;
}

std::string member_uri(std::string_view member) {
  std::string uri;
  append_uri_bytes(uri, member, false);
  return uri;
}

// The artifacts: one a file, and one a member of an archive (by its place in the
// archive), however often the file was named; and for each object, in the order of
// Findings::objects, its artifact and the artifact of the file it was read from.
struct Artifacts {
  std::vector<const ObjectEntry*> first_object;  // the object each artifact was made for
  std::vector<std::string> uris;                 // empty for a nameless member, a slice
  std::vector<uint32_t> parents;                 // kNoParent for a file
  std::vector<uint32_t> of_object;               // by ordinal
  std::vector<uint32_t> file_of_object;          // by ordinal
};

constexpr uint32_t kNoParent = UINT32_MAX;

uint32_t add_artifact(Artifacts& artifacts, const ObjectEntry& object, std::string uri,
                      uint32_t parent) {
  artifacts.first_object.push_back(&object);
  artifacts.uris.push_back(std::move(uri));
  artifacts.parents.push_back(parent);
  return static_cast<uint32_t>(artifacts.uris.size() - 1);
}

Artifacts make_artifacts(const Findings& findings) {
  Artifacts artifacts;
  artifacts.of_object.reserve(findings.objects.size());
  artifacts.file_of_object.reserve(findings.objects.size());
  std::unordered_map<std::string_view, uint32_t> files;
  std::map<std::pair<uint32_t, uint64_t>, uint32_t> members;
  uint32_t file = 0;
  for (const ObjectEntry* object : findings.objects) {
    uint32_t artifact = 0;
    if (object->in_archive || !object->architecture.empty()) {
      // A member follows its archive, and a universal file's slice (an artifact without a
      // URI of its own) its file, in the order of reading.
      const auto [at, added] = members.emplace(std::make_pair(file, object->member_offset), 0);
      if (added) {
        const bool named = object->in_archive && object->member_known;
        at->second =
            add_artifact(artifacts, *object, named ? member_uri(object->member) : "", file);
      }
      artifact = at->second;
    } else {
      const auto [at, added] = files.emplace(object->path, 0);
      if (added) at->second = add_artifact(artifacts, *object, path_uri(object->path), kNoParent);
      file = artifact = at->second;
    }
    artifacts.of_object.push_back(artifact);
    artifacts.file_of_object.push_back(file);
  }
  return artifacts;
}

void write_artifacts(JsonWriter& out, const Artifacts& artifacts) {
  out.raw("      \"artifacts\": [");
  bool first = true;
  for (size_t i = 0; i < artifacts.uris.size(); ++i) {
    const ObjectEntry& object = *artifacts.first_object[i];
    out.item(first).raw("        {");
    if (!artifacts.uris[i].empty())
      out.raw("\"location\": {\"uri\": ").string(artifacts.uris[i]).raw("}, ");
    if (artifacts.parents[i] != kNoParent) {
      out.raw("\"parentIndex\": ").number(artifacts.parents[i]);
      out.raw(", \"offset\": ").number(object.member_offset).raw(", ");
    }
    out.raw("\"description\": {\"text\": ").string(object.path).raw("}, ");
    out.raw("\"roles\": [\"analysisTarget\"]");
    if (!object.format.empty()) {
      out.raw(", \"properties\": {\"format\": ").string(object.format).raw("}");
    }
    out.raw("}");
  }
  out.close_items(first, "      ").raw(",\n");
}

// The artifact a location names for an object: its own, or, for a member whose name the
// archive does not give (an artifact without a URI), its archive's, so that every
// location has a URI that viewers can show.
uint32_t location_artifact(const Artifacts& artifacts, const ObjectEntry& object) {
  const uint32_t artifact = artifacts.of_object[object.ordinal];
  return artifacts.uris[artifact].empty() ? artifacts.file_of_object[object.ordinal] : artifact;
}

// {"artifactLocation": {...}: the caller closes the physical location.
void write_artifact_location(JsonWriter& out, const Artifacts& artifacts, uint32_t artifact) {
  out.raw("{\"artifactLocation\": {\"uri\": ").string(artifacts.uris[artifact]);
  out.raw(", \"index\": ").number(artifact).raw("}");
}

// One location: the object's artifact, and a message saying what the object (named by
// its path, which tells an archive member's archive too) does there.
void write_location(JsonWriter& out, const Artifacts& artifacts, const ObjectEntry& object,
                    std::string_view what, size_t* id) {
  out.raw("{");
  if (id != nullptr) out.raw("\"id\": ").number((*id)++).raw(", ");
  out.raw("\"physicalLocation\": ");
  write_artifact_location(out, artifacts, location_artifact(artifacts, object));
  out.raw("}, \"message\": {\"text\": ").string(object.path + " " + std::string(what));
  out.raw("}}");
}

// The messages are composed with strprintf (and llu), whose formats stay whole in the
// program (the Debian package's spelling check reads its strings). The result's rule and
// level follow from its class; the message ends with what the class means.
//
// Against a baseline the result has its baselineState; a suppressed result carries the
// suppression, of kind "external" (it is kept in a file beside the sources), with the
// entry's reason as its justification.
void write_result_head(JsonWriter& out, bool& first, FindingClass finding_class,
                       std::string_view block, const std::string& message,
                       std::string_view explanation, const Adoption* adoption = nullptr,
                       const FindingMark* mark = nullptr) {
  const size_t rule = rule_of(finding_class);
  out.item(first).raw("        {\"ruleId\": ").string(rules()[rule].id);
  out.raw(", \"ruleIndex\": ").number(rule).raw(", \"level\": ").string(level_of(finding_class));
  out.raw(",\n         \"message\": {\"text\": ")
      .string(message + " " + std::string(class_name(finding_class)) + ": " +
              std::string(explanation) + ".")
      .raw("}");
  out.raw(",\n         \"partialFingerprints\": {\"commonBlockFinding/v1\": ")
      .string(fingerprint(rules()[rule].id, block))
      .raw("}");
  if (mark == nullptr) return;
  if (adoption->baseline) {
    out.raw(",\n         \"baselineState\": ").string(baseline_state_name(mark->state));
  }
  if (mark->suppression != nullptr) {
    out.raw(",\n         \"suppressions\": [{\"kind\": \"external\", \"status\": \"accepted\", ");
    out.string_field("justification", mark->suppression->reason).raw("}]");
  }
}

// The class of a finding that the baseline names: by its class where the baseline has one,
// else by its kind, as the kinds were classed before classes were written.
FindingClass class_of_absent(const FindingPrint& gone) {
  for (const Rule& rule : rules()) {
    if (class_name(rule.finding_class) == gone.finding_class) return rule.finding_class;
  }
  if (gone.kind == "layout-mismatch") return FindingClass::kTypeConflict;
  if (gone.kind == "procedure-clash") return FindingClass::kProcedureClash;
  if (gone.kind == "possible-procedure-clash") return FindingClass::kPossibleProcedureClash;
  if (gone.kind == "alignment-smaller") return FindingClass::kAlignmentSmaller;
  return FindingClass::kExtent;
}

// A finding of the baseline that this run does not have: a result with baselineState
// "absent" and no location, since no object of this run holds it.
void write_absent(JsonWriter& out, bool& first, const Adoption& adoption,
                  const FindingPrint& gone) {
  const FindingClass finding_class = class_of_absent(gone);
  const size_t rule = rule_of(finding_class);
  out.item(first).raw("        {\"ruleId\": ").string(rules()[rule].id);
  out.raw(", \"ruleIndex\": ").number(rule).raw(", \"level\": ").string(level_of(finding_class));
  out.raw(",\n         \"message\": {\"text\": ")
      .string("Common Block " + gone.block + " (" + gone.kind +
              ") is no longer found: it was a finding of the baseline " + adoption.baseline_file +
              ".")
      .raw("}");
  out.raw(",\n         \"partialFingerprints\": {\"commonBlockFinding/v1\": ")
      .string(fingerprint(rules()[rule].id, gone.block))
      .raw("}");
  out.raw(",\n         \"baselineState\": \"absent\"}");
}

// What a location says of a declaration: "declares <what><size> bytes.", or for a shared
// library whose format records no size, that it defines the block.
std::string declaration_message(const BlockReference& reference, const char* what) {
  if (is_unsized_definition(reference)) {
    return "defines the COMMON block; its format records no size.";
  }
  return strprintf("declares %s%llu bytes.", what, llu(reference.size));
}

// Every declaration of the block as a related location, numbered from 1 up to the limit.
void write_declarations_related(JsonWriter& out, const Artifacts& artifacts,
                                const CommonBlock& block, const char* what) {
  out.raw(",\n         \"relatedLocations\": [");
  bool first_related = true;
  size_t id = 1;
  for (const BlockReference* reference : block_references(block)) {
    if (id > kMaxLocations) break;
    out.item(first_related).raw("           ");
    write_location(out, artifacts, *reference->object, declaration_message(*reference, what), &id);
  }
  out.close_items(first_related, "         ");
}

// Under -m, the locations of a result are the source lines that declare each distinct
// layout, and every declaration's object is a related location. False, with nothing
// written, when no declaration has a source line.
bool write_source_locations(JsonWriter& out, const Artifacts& artifacts, const CommonBlock& block,
                            const LayoutFindings& layouts) {
  bool any = false;
  for (const LayoutGroup& group : layouts.groups) any = any || !group.example->file.empty();
  if (!any) return false;
  out.raw(",\n         \"locations\": [");
  bool first_location = true;
  for (size_t g = 0; g < layouts.groups.size() && g < kMaxLocations; ++g) {
    const LayoutGroup& group = layouts.groups[g];
    const DeclaredLayout& layout = *group.example;
    if (layout.file.empty()) continue;
    out.item(first_location)
        .raw("           {\"physicalLocation\": {\"artifactLocation\": {\"uri\": ");
    out.string(path_uri(layout.file)).raw("}");
    if (layout.line != 0) out.raw(", \"region\": {\"startLine\": ").number(layout.line).raw("}");
    out.raw("}, \"message\": {\"text\": ");
    out.string(strprintf("%.*s declares the block with %llu bytes here (layout %zu of %zu, in %s).",
                         static_cast<int>(layout.routine.size()), layout.routine.data(),
                         llu(group.size), g + 1, layouts.groups.size(),
                         group.object->path.c_str()));
    out.raw("}}");
  }
  out.close_items(first_location, "         ");
  write_declarations_related(out, artifacts, block, "");
  return true;
}

void write_layout_mismatch(JsonWriter& out, bool& first, const Artifacts& artifacts,
                           const BlockFindings& found, const Adoption& adoption,
                           const FindingMark* mark) {
  const CommonBlock& block = *found.block;
  const LayoutFindings& layouts = found.layouts;
  std::string message =
      "Common Block " + std::string(block.name) + " is declared with different layouts";
  message += ": ";
  for (size_t i = 0; i < layouts.groups.size() && i < kMaxNamedInMessage; ++i) {
    const LayoutGroup& group = layouts.groups[i];
    if (i > 0) message += ", ";
    message += std::string(group.example->routine) + " in " + group.object->path;
    if (group.count > 1) message += strprintf(" and %zu more", group.count - 1);
  }
  if (layouts.groups.size() > kMaxNamedInMessage) {
    message += strprintf(", and %zu other layouts", layouts.groups.size() - kMaxNamedInMessage);
  }
  if (layouts.conflict.found) message += "; they conflict at " + describe_conflict(layouts);
  message += ".";
  write_result_head(out, first, found.finding_class, block.name, message, found.explanation,
                    &adoption, mark);
  if (!write_source_locations(out, artifacts, block, layouts)) {
    out.raw(",\n         \"locations\": [");
    bool first_location = true;
    for (size_t g = 0; g < layouts.groups.size() && g < kMaxLocations; ++g) {
      out.item(first_location).raw("           ");
      write_location(out, artifacts, *layouts.groups[g].object, "declares one of the layouts.",
                     nullptr);
    }
    out.close_items(first_location, "         ");
  }
  out.raw("}");
}

void write_size_mismatch(JsonWriter& out, bool& first, const Artifacts& artifacts,
                         const BlockFindings& found, bool layouts, const Adoption& adoption,
                         const FindingMark* mark) {
  const CommonBlock& block = *found.block;
  const std::vector<const BlockReference*> references = block_references(block);
  // The first declaration of each size, in list order, and how many declare that size. A
  // library without sizes has none: it is a related location of its own.
  struct Size {
    const BlockReference* first;
    size_t count;
  };
  std::vector<Size> sizes;
  std::unordered_map<uint64_t, size_t> size_index;
  std::vector<bool> is_first(references.size(), false);
  for (size_t i = 0; i < references.size(); ++i) {
    if (is_unsized_definition(*references[i])) continue;
    const auto [at, added] = size_index.emplace(references[i]->size, sizes.size());
    if (added) {
      sizes.push_back(Size{references[i], 1});
      is_first[i] = true;
    } else {
      ++sizes[at->second].count;
    }
  }

  std::string message =
      "Common Block " + std::string(block.name) + " is declared with different sizes: ";
  for (size_t i = 0; i < sizes.size() && i < kMaxNamedInMessage; ++i) {
    if (i > 0) message += ", ";
    message += strprintf("%llu bytes in %s", llu(sizes[i].first->size),
                         sizes[i].first->object->path.c_str());
    if (sizes[i].count > 1) message += strprintf(" and %zu more", sizes[i].count - 1);
  }
  if (sizes.size() > kMaxNamedInMessage) {
    message += strprintf(", and %zu other sizes", sizes.size() - kMaxNamedInMessage);
  }
  if (layouts && found.layouts.conflict.found) {
    message += "; they conflict at " + describe_conflict(found.layouts);
  }
  message += ".";
  write_result_head(out, first, found.finding_class, block.name, message, found.explanation,
                    &adoption, mark);
  if (layouts && write_source_locations(out, artifacts, block, found.layouts)) {
    out.raw("}");
    return;
  }

  out.raw(",\n         \"locations\": [");
  bool first_location = true;
  for (size_t i = 0; i < sizes.size() && i < kMaxLocations; ++i) {
    out.item(first_location).raw("           ");
    write_location(out, artifacts, *sizes[i].first->object,
                   strprintf("declares %llu bytes.", llu(sizes[i].first->size)), nullptr);
  }
  out.close_items(first_location, "         ");
  if (references.size() > sizes.size()) {
    out.raw(",\n         \"relatedLocations\": [");
    bool first_related = true;
    size_t id = 1;
    for (size_t i = 0; i < references.size() && id <= kMaxLocations; ++i) {
      if (is_first[i]) continue;
      out.item(first_related).raw("           ");
      write_location(out, artifacts, *references[i]->object,
                     declaration_message(*references[i], ""), &id);
    }
    out.close_items(first_related, "         ");
  }
  out.raw("}");
}

// A block named like a procedure: "Common Block <block><what><objects>.", located at the
// objects that define or call the procedure, each with `role` ("defines procedure x.").
void write_procedure_result(JsonWriter& out, bool& first, const Artifacts& artifacts,
                            const BlockFindings& found, FindingClass finding_class,
                            const std::string& what, const std::vector<const ObjectEntry*>& objects,
                            const std::string& role, std::string_view explanation,
                            const Adoption& adoption, const FindingMark* mark) {
  const CommonBlock& block = *found.block;
  std::string message = "Common Block " + std::string(block.name) + what;
  for (size_t i = 0; i < objects.size() && i < kMaxNamedInMessage; ++i) {
    if (i > 0) message += ", ";
    message += objects[i]->path;
  }
  if (objects.size() > kMaxNamedInMessage) {
    message += strprintf(" and %zu more", objects.size() - kMaxNamedInMessage);
  }
  message += ".";
  write_result_head(out, first, finding_class, block.name, message, explanation, &adoption, mark);

  out.raw(",\n         \"locations\": [");
  bool first_location = true;
  for (size_t i = 0; i < objects.size() && i < kMaxLocations; ++i) {
    out.item(first_location).raw("           ");
    write_location(out, artifacts, *objects[i], role, nullptr);
  }
  out.close_items(first_location, "         ");
  write_declarations_related(out, artifacts, block, "the COMMON block with ");
  out.raw("}");
}

// A block that libraries without sizes define: a note, located at the libraries.
void write_library_definition(JsonWriter& out, bool& first, const Artifacts& artifacts,
                              const BlockFindings& found) {
  const CommonBlock& block = *found.block;
  std::string message = "Common Block " + std::string(block.name) + " is defined by library " +
                        found.unsized_library->path;
  message += found.unsized_libraries > 1
                 ? strprintf(" and %zu more, which record no size.", found.unsized_libraries - 1)
                 : std::string(", which records no size.");
  write_result_head(out, first, FindingClass::kLibraryUnsized, block.name, message,
                    kLibraryUnsizedExplanation);
  out.raw(",\n         \"locations\": [");
  bool first_location = true;
  size_t listed = 0;
  for (const BlockReference* reference : block_references(block)) {
    if (!is_unsized_definition(*reference) || listed++ >= kMaxLocations) continue;
    out.item(first_location).raw("           ");
    write_location(out, artifacts, *reference->object, "defines the COMMON block.", nullptr);
  }
  out.close_items(first_location, "         ");
  out.raw("}");
}

// A block defined less aligned than a declaration asks for: a note, located at the
// definitions, with the declaration as its related location.
void write_alignment_smaller(JsonWriter& out, bool& first, const Artifacts& artifacts,
                             const BlockFindings& found, const AlignmentFindings& alignment,
                             const Adoption& adoption, const FindingMark* mark) {
  const CommonBlock& block = *found.block;
  std::string message = "Common Block " + std::string(block.name) + " is defined with alignment ";
  for (size_t i = 0; i < alignment.definitions.size() && i < kMaxNamedInMessage; ++i) {
    if (i > 0) message += ", ";
    message += strprintf("%llu in ", llu(alignment.definitions[i].alignment)) +
               alignment.definitions[i].object->path;
  }
  if (alignment.definitions.size() > kMaxNamedInMessage) {
    message += strprintf(" and %zu more", alignment.definitions.size() - kMaxNamedInMessage);
  }
  message += strprintf(", smaller than the alignment %llu declared in ", llu(alignment.declared)) +
             alignment.declaration->path + ".";
  write_result_head(out, first, FindingClass::kAlignmentSmaller, block.name, message,
                    kAlignmentSmallerExplanation, &adoption, mark);
  out.raw(",\n         \"locations\": [");
  bool first_location = true;
  for (size_t i = 0; i < alignment.definitions.size() && i < kMaxLocations; ++i) {
    out.item(first_location).raw("           ");
    write_location(out, artifacts, *alignment.definitions[i].object,
                   strprintf("defines the COMMON block with alignment %llu.",
                             llu(alignment.definitions[i].alignment)),
                   nullptr);
  }
  out.close_items(first_location, "         ");
  out.raw(",\n         \"relatedLocations\": [");
  bool first_related = true;
  size_t id = 1;
  out.item(first_related).raw("           ");
  write_location(
      out, artifacts, *alignment.declaration,
      strprintf("declares the COMMON block with alignment %llu.", llu(alignment.declared)), &id);
  out.close_items(first_related, "         ");
  out.raw("}");
}

void write_results(JsonWriter& out, const Findings& findings, const Artifacts& artifacts,
                   const Adoption& adoption) {
  out.raw("      \"results\": [");
  bool first = true;
  for (size_t b = 0; b < findings.blocks.size(); ++b) {
    const BlockFindings& found = findings.blocks[b];
    if (found.size_mismatch) {
      write_size_mismatch(out, first, artifacts, found, findings.layouts, adoption,
                          mark_of(adoption, b, FindingKind::kSizeMismatch));
    }
    if (found.layout_mismatch) {
      write_layout_mismatch(out, first, artifacts, found, adoption,
                            mark_of(adoption, b, FindingKind::kLayoutMismatch));
    }
    if (found.unsized_libraries > 0) write_library_definition(out, first, artifacts, found);
    if (has_alignment_note(found)) {
      write_alignment_smaller(out, first, artifacts, found, findings.alignments[found.alignment],
                              adoption, mark_of(adoption, b, FindingKind::kAlignmentSmaller));
    }
    if (found.clash_count > 0) {
      const std::string procedure(findings.procedures[found.first_clash].name);
      write_procedure_result(out, first, artifacts, found, FindingClass::kProcedureClash,
                             " conflicts with procedure " + procedure + " in ",
                             procedure_objects(findings, found, false),
                             "defines procedure " + procedure + ".", kProcedureClashExplanation,
                             adoption, mark_of(adoption, b, FindingKind::kProcedureClash));
    }
    if (found.call_count > 0) {
      const std::string procedure(findings.calls[found.first_call].name);
      write_procedure_result(
          out, first, artifacts, found, FindingClass::kPossibleProcedureClash,
          " may conflict with procedure " + procedure + ", which no input defines, called in ",
          procedure_objects(findings, found, true), "calls procedure " + procedure + ".",
          kPossibleProcedureClashExplanation, adoption,
          mark_of(adoption, b, FindingKind::kPossibleProcedureClash));
    }
  }
  for (const FindingPrint& gone : adoption.absent) write_absent(out, first, adoption, gone);
  out.close_items(first, "      ").raw("\n");
}

void write_invocation(JsonWriter& out, const Findings& findings, const DocumentContext& context,
                      const Artifacts& artifacts) {
  out.raw("      \"invocations\": [\n        {\"executionSuccessful\": ")
      .boolean(!findings.incomplete);
  out.raw(", \"exitCode\": ").signed_number(context.exit_status);
  out.raw(",\n         \"arguments\": [");
  bool first_argument = true;
  for (const std::string_view argument : context.arguments) {
    if (!first_argument) out.raw(", ");
    first_argument = false;
    out.string(argument);
  }
  out.raw("]");
  out.raw(",\n         \"toolExecutionNotifications\": [");
  bool first = true;
  if (context.diagnostics != nullptr && !context.diagnostics->empty()) {
    // A diagnostic names its object by path; the first object of that path is meant.
    std::unordered_map<std::string_view, const ObjectEntry*> by_path;
    for (const ObjectEntry* object : findings.objects) by_path.emplace(object->path, object);
    for (const DiagnosticRecord& record : *context.diagnostics) {
      out.item(first).raw("           {\"level\": \"error\", \"message\": {\"text\": ");
      out.string(without_line_ends(record.text)).raw("}");
      const auto found = by_path.find(record.object);
      if (found != by_path.end()) {
        const ObjectEntry& object = *found->second;
        out.raw(", \"locations\": [{\"physicalLocation\": ");
        if (record.offset) {
          // The offset is in the file: an archive member's is in its archive.
          write_artifact_location(out, artifacts, artifacts.file_of_object[object.ordinal]);
          out.raw(", \"region\": {\"byteOffset\": ").number(*record.offset).raw("}");
        } else {
          write_artifact_location(out, artifacts, location_artifact(artifacts, object));
        }
        out.raw("}}]");
      }
      out.raw("}");
    }
  }
  out.close_items(first, "         ").raw("}\n      ],\n");
}

}  // namespace

void render_sarif(const Findings& findings, const DocumentContext& context, TextStream& output) {
  const Artifacts artifacts = make_artifacts(findings);
  JsonWriter out(output);
  out.raw("{\n  \"$schema\": ").string(kSarifSchema).raw(",\n  \"version\": \"2.1.0\",\n");
  out.raw("  \"runs\": [\n    {\n      \"tool\": {\n        \"driver\": {\n");
  out.raw("          \"name\": ").string(context.tool_name).raw(",\n");
  out.raw("          \"fullName\": ").string(context.tool_title).raw(",\n");
  out.raw("          \"version\": ").string(context.tool_version).raw(",\n");
  out.raw("          \"semanticVersion\": ").string(context.tool_version).raw(",\n");
  write_rules(out);
  out.raw("        }\n      },\n");
  const Adoption none;
  const Adoption& adoption = context.adoption != nullptr ? *context.adoption : none;
  // The baseline is named by a GUID made from its bytes (SARIF's run.baselineGuid names the
  // run that the baseline states compare with).
  if (adoption.baseline) {
    out.raw("      \"baselineGuid\": ").string(adoption.baseline_guid).raw(",\n");
  }
  write_invocation(out, findings, context, artifacts);
  write_artifacts(out, artifacts);
  write_results(out, findings, artifacts, adoption);
  out.raw("    }\n  ]\n}\n");
}

}  // namespace drelk
