// The findings as one JSON document for programs: the objects read, every block with its
// declarations, the COMMON block errors, the diagnostics and the verdict. The layout is
// described by docs/drelk-report.schema.json; objects are referred to by their index in
// "objects", so that a declaration costs a number rather than a path; under -m each
// distinct layout's members are written once, in "shapes", and referred to by index.
#include <unordered_map>

#include "report/adoption.h"
#include "report/json_writer.h"
#include "report/report.h"
#include "report/storage.h"

namespace drelk {
namespace {

// The document's name and layout version: a program checks both before it reads on.
constexpr std::string_view kSchemaName = "drelk-report";
constexpr uint64_t kSchemaVersion = 2;

void write_objects(JsonWriter& out, const Findings& findings) {
  out.raw("  \"objects\": [");
  bool first = true;
  for (const ObjectEntry* object : findings.objects) {
    out.item(first).raw("    {").string_field("path", object->path).raw(", ");
    out.string_field("file", object_file(*object));
    if (object->in_archive) {
      out.raw(", ");
      if (object->member_known) {
        out.string_field("member", object->member);
      } else {
        out.raw("\"member\": null");
      }
    }
    if (object->in_archive || !object->architecture.empty()) {
      out.raw(", \"offset\": ").number(object->member_offset);
    }
    if (!object->architecture.empty()) {
      out.raw(", ").string_field("architecture", object->architecture);
    }
    out.raw(", \"format\": ");
    if (object->format.empty()) {
      out.raw("null");
    } else {
      out.string(object->format);
    }
    if (object->role != InputRole::kObject) {
      out.raw(", \"role\": ").string(object->role == InputRole::kLibrary ? "library" : "program");
    }
    out.raw("}");
  }
  out.close_items(first, "  ").raw(",\n");
}

// `"file": ..., "line": ...` of a layout: null where the debug information does not say.
void write_source(JsonWriter& out, const DeclaredLayout& layout) {
  if (layout.file.empty()) {
    out.raw("\"file\": null");
  } else {
    out.string_field("file", layout.file);
  }
  out.raw(", \"line\": ");
  if (layout.line == 0) {
    out.raw("null");
  } else {
    out.number(layout.line);
  }
}

// The distinct member lists of the layouts the document shows, each written once: a code
// base declares each block from a few INCLUDE files in thousands of routines.
struct ShapeIndex {
  std::unordered_map<const LayoutShape*, uint64_t> number;
  std::vector<const LayoutShape*> shapes;
  uint64_t of(const LayoutShape* shape) {
    const auto [at, added] = number.emplace(shape, shapes.size());
    if (added) shapes.push_back(shape);
    return at->second;
  }
};

bool is_shown(const BlockFindings& found, bool problems_only) {
  return !problems_only || has_errors(found) || found.unsized_libraries > 0 ||
         has_alignment_note(found);
}

ShapeIndex index_shapes(const Findings& findings, bool problems_only) {
  ShapeIndex index;
  for (const BlockFindings& found : findings.blocks) {
    if (!is_shown(found, problems_only)) continue;
    for (const ReferenceLayouts& reference : block_layouts(*found.block)) {
      for (size_t i = 0; i < reference.count; ++i) index.of(reference.layouts[i].shape);
    }
  }
  return index;
}

void write_shapes(JsonWriter& out, const ShapeIndex& index) {
  out.raw("  \"shapes\": [");
  bool first = true;
  for (const LayoutShape* shape : index.shapes) {
    out.item(first).raw("    {\"members\": [");
    bool first_member = true;
    for (const LayoutMember& member : shape->members) {
      if (!first_member) out.raw(", ");
      first_member = false;
      out.raw("{\"offset\": ").number(member.offset).raw(", \"size\": ").number(member.size);
      out.raw(", ").string_field("type", member.type).raw(", ").string_field("name", member.name);
      out.raw(", ").string_field("dimensions", member.dimensions).raw("}");
    }
    out.raw("]}");
  }
  out.close_items(first, "  ").raw(",\n");
}

// A reference's layouts (-m): one for each routine of its object that declares the block.
void write_reference_layouts(JsonWriter& out, const ReferenceLayouts& reference,
                             ShapeIndex& shapes) {
  out.raw(", \"layouts\": [");
  for (size_t i = 0; i < reference.count; ++i) {
    const DeclaredLayout& layout = reference.layouts[i];
    if (i > 0) out.raw(", ");
    out.raw("{").string_field("routine", layout.routine).raw(", ");
    write_source(out, layout);
    out.raw(", \"shape\": ").number(shapes.of(layout.shape)).raw("}");
  }
  out.raw("]");
}

void write_blocks(JsonWriter& out, const Findings& findings, bool problems_only,
                  ShapeIndex& shapes) {
  out.raw("  \"blocks\": [");
  bool first = true;
  for (const BlockFindings& found : findings.blocks) {
    if (!is_shown(found, problems_only)) continue;
    out.item(first).raw("    {").string_field("name", found.block->name);
    out.raw(", \"references\": [");
    bool first_reference = true;
    const auto write_reference = [&](const BlockReference* reference) {
      out.item(first_reference)
          .raw("      {\"object\": ")
          .number(reference->object->ordinal)
          .raw(", \"size\": ")
          .number(reference->size)
          .raw(", \"initialized\": ")
          .boolean(reference->initialized);
      if (is_unsized_definition(*reference)) out.raw(", \"sized\": false");
      const std::string_view exported = exported_name(*reference->object, found.block->name);
      if (!exported.empty()) out.raw(", ").string_field("exported_as", exported);
    };
    if (findings.layouts) {
      for (const ReferenceLayouts& reference : block_layouts(*found.block)) {
        write_reference(reference.reference);
        write_reference_layouts(out, reference, shapes);
        out.raw("}");
      }
    } else {
      for (const BlockReference* reference : block_references(*found.block)) {
        write_reference(reference);
        out.raw("}");
      }
    }
    out.close_items(first_reference, "    ").raw("}");
  }
  out.close_items(first, "  ").raw(",\n");
}

// {"object": <index>, "path": <path> — the caller adds what else it says and the brace.
void write_object_reference(JsonWriter& out, const ObjectEntry& object) {
  out.raw("      {\"object\": ").number(object.ordinal).raw(", ").string_field("path", object.path);
}

// The distinct layouts of an inconsistent block (-m), as the text report lists them.
void write_layout_findings(JsonWriter& out, const LayoutFindings& layouts, ShapeIndex& shapes) {
  out.raw(",\n     \"parting_offset\": ").number(layouts.parting_offset);
  out.raw(", \"without_debug\": ").number(layouts.without_debug);
  out.raw(", \"block_data\": ").number(layouts.block_data);
  if (layouts.conflict.found) {
    const LayoutConflict& conflict = layouts.conflict;
    out.raw(",\n     \"conflict\": {\"first\": ").number(conflict.first);
    out.raw(", \"last\": ").number(conflict.last).raw(", ");
    out.string_field("text", describe_conflict(layouts)).raw(", \"sides\": [");
    const auto side = [&](size_t group, const LayoutMember& member) {
      out.raw("{\"layout\": ").number(group).raw(", ");
      out.string_field("type", member.type).raw(", ");
      out.string_field("member", member.name).raw(", ");
      out.string_field("element", element_name(member, conflict.first)).raw("}");
    };
    side(conflict.group_a, *conflict.member_a);
    out.raw(", ");
    side(conflict.group_b, *conflict.member_b);
    out.raw("]}");
  }
  out.raw(", \"layouts\": [");
  bool first = true;
  for (const LayoutGroup& group : layouts.groups) {
    out.item(first);
    write_object_reference(out, *group.object);
    out.raw(", \"size\": ").number(group.size);
    out.raw(", \"declarations\": ").number(group.count).raw(", ");
    out.string_field("routine", group.example->routine).raw(", ");
    write_source(out, *group.example);
    out.raw(", \"shape\": ").number(shapes.of(group.example->shape)).raw("}");
  }
  out.close_items(first, "    ");
}

// "class", "severity" and "explanation" of a finding.
void write_class(JsonWriter& out, FindingClass finding_class, std::string_view explanation) {
  out.raw(",\n     ").string_field("class", class_name(finding_class));
  out.raw(", ").string_field("severity", severity_name(severity_of(finding_class)));
  out.raw(",\n     ").string_field("explanation", explanation);
}

// What the baseline and the suppressions make of a finding, where there are either.
void write_mark(JsonWriter& out, const Adoption& adoption, const FindingMark* mark) {
  if (mark == nullptr) return;
  if (adoption.baseline) {
    out.raw(",\n     ").string_field("baseline", baseline_state_name(mark->state));
    if (!mark->change.empty()) out.raw(", ").string_field("baseline_change", mark->change);
  }
  if (mark->suppression != nullptr) {
    out.raw(",\n     \"suppressed\": {").string_field("reason", mark->suppression->reason);
    out.raw(", ").string_field("file", adoption.suppressions_file);
    out.raw(", \"line\": ").number(mark->suppression->line).raw("}");
  }
}

// The baseline compared and what it found, and the suppressions applied.
void write_adoption(JsonWriter& out, const Adoption& adoption) {
  if (adoption.baseline) {
    const AdoptionCounts& counts = adoption.counts;
    out.raw("  \"baseline\": {").string_field("file", adoption.baseline_file);
    out.raw(", ").string_field("guid", adoption.baseline_guid);
    out.raw(", \"new\": ").number(counts.new_findings);
    out.raw(", \"updated\": ").number(counts.updated);
    out.raw(", \"unchanged\": ").number(counts.unchanged);
    out.raw(", \"absent\": ").number(counts.absent).raw(", \"absent_findings\": [");
    bool first = true;
    for (const FindingPrint& gone : adoption.absent) {
      out.item(first).raw("    {").string_field("kind", gone.kind).raw(", ");
      out.string_field("block", gone.block);
      if (!gone.finding_class.empty()) out.raw(", ").string_field("class", gone.finding_class);
      out.raw("}");
    }
    out.close_items(first, "  ").raw("},\n");
  }
  if (adoption.suppressions) {
    out.raw("  \"suppressions\": {").string_field("file", adoption.suppressions_file);
    out.raw(", \"suppressed\": ").number(adoption.counts.suppressed).raw("},\n");
  }
}

// A finding about how a block is declared: its kind, every declaration with its size and,
// when the layouts were read, the layouts.
void write_declarations_finding(JsonWriter& out, bool& first, const char* kind,
                                const CommonBlock& block, const BlockFindings& found, bool layouts,
                                ShapeIndex& shapes, const Adoption& adoption,
                                const FindingMark* mark) {
  out.item(first).raw("    {\"kind\": ").string(kind).raw(", ");
  out.string_field("block", block.name).raw(", \"declarations\": [");
  bool first_declaration = true;
  for (const BlockReference* reference : block_references(block)) {
    out.item(first_declaration);
    write_object_reference(out, *reference->object);
    out.raw(", \"size\": ").number(reference->size);
    if (is_unsized_definition(*reference)) out.raw(", \"sized\": false");
    out.raw("}");
  }
  out.close_items(first_declaration, "    ");
  write_class(out, found.finding_class, found.explanation);
  write_mark(out, adoption, mark);
  if (layouts) write_layout_findings(out, found.layouts, shapes);
  out.raw("}");
}

// A block named like a procedure: the procedure, and the objects that define it (a clash)
// or call it (a possible clash), listed as `list`.
void write_procedure_finding(JsonWriter& out, bool& first, FindingClass finding_class,
                             const char* list, std::string_view block, std::string_view procedure,
                             const std::vector<const ObjectEntry*>& objects,
                             std::string_view explanation, const Adoption& adoption,
                             const FindingMark* mark) {
  out.item(first).raw("    {\"kind\": ").string(class_name(finding_class)).raw(", ");
  out.string_field("block", block).raw(", ");
  out.string_field("procedure", procedure);
  out.raw(", \"").raw(list).raw("\": [");
  bool first_object = true;
  for (const ObjectEntry* object : objects) {
    out.item(first_object);
    write_object_reference(out, *object);
    out.raw("}");
  }
  out.close_items(first_object, "    ");
  write_class(out, finding_class, explanation);
  write_mark(out, adoption, mark);
  out.raw("}");
}

void write_findings(JsonWriter& out, const Findings& findings, ShapeIndex& shapes,
                    const Adoption& adoption) {
  out.raw("  \"findings\": [");
  bool first = true;
  for (size_t b = 0; b < findings.blocks.size(); ++b) {
    const BlockFindings& found = findings.blocks[b];
    const CommonBlock& block = *found.block;
    if (found.size_mismatch) {
      write_declarations_finding(out, first, "size-mismatch", block, found, findings.layouts,
                                 shapes, adoption,
                                 mark_of(adoption, b, FindingKind::kSizeMismatch));
    }
    if (found.layout_mismatch) {
      write_declarations_finding(out, first, "layout-mismatch", block, found, true, shapes,
                                 adoption, mark_of(adoption, b, FindingKind::kLayoutMismatch));
    }
    if (found.unsized_libraries > 0) {
      out.item(first).raw("    {\"kind\": \"library-definition\", ");
      out.string_field("block", block.name).raw(", \"libraries\": [");
      bool first_library = true;
      for (const BlockReference* reference : block_references(block)) {
        if (!is_unsized_definition(*reference)) continue;
        out.item(first_library);
        write_object_reference(out, *reference->object);
        out.raw("}");
      }
      out.close_items(first_library, "    ");
      write_class(out, FindingClass::kLibraryUnsized, kLibraryUnsizedExplanation);
      out.raw("}");
    }
    if (has_alignment_note(found)) {
      const AlignmentFindings& alignment = findings.alignments[found.alignment];
      out.item(first).raw("    {\"kind\": \"alignment-smaller\", ");
      out.string_field("block", block.name).raw(", \"definitions\": [");
      bool first_definition = true;
      for (const ShortDefinition& definition : alignment.definitions) {
        out.item(first_definition);
        write_object_reference(out, *definition.object);
        out.raw(", \"alignment\": ").number(definition.alignment).raw("}");
      }
      out.close_items(first_definition, "    ");
      out.raw(",\n     \"declaration\": {\"object\": ").number(alignment.declaration->ordinal);
      out.raw(", ").string_field("path", alignment.declaration->path);
      out.raw(", \"alignment\": ").number(alignment.declared).raw("}");
      write_class(out, FindingClass::kAlignmentSmaller, kAlignmentSmallerExplanation);
      write_mark(out, adoption, mark_of(adoption, b, FindingKind::kAlignmentSmaller));
      out.raw("}");
    }
    if (found.clash_count > 0) {
      // The procedure has the block's name: that is the clash.
      write_procedure_finding(out, first, FindingClass::kProcedureClash, "definers", block.name,
                              findings.procedures[found.first_clash].name,
                              procedure_objects(findings, found, false), kProcedureClashExplanation,
                              adoption, mark_of(adoption, b, FindingKind::kProcedureClash));
    }
    if (found.call_count > 0) {
      write_procedure_finding(out, first, FindingClass::kPossibleProcedureClash, "callers",
                              block.name, findings.calls[found.first_call].name,
                              procedure_objects(findings, found, true),
                              kPossibleProcedureClashExplanation, adoption,
                              mark_of(adoption, b, FindingKind::kPossibleProcedureClash));
    }
  }
  out.close_items(first, "  ").raw(",\n");
}

void write_diagnostics(JsonWriter& out, const std::vector<DiagnosticRecord>* diagnostics) {
  out.raw("  \"diagnostics\": [");
  bool first = true;
  if (diagnostics != nullptr) {
    for (const DiagnosticRecord& record : *diagnostics) {
      out.item(first).raw("    {").string_field("text", without_line_ends(record.text)).raw(", ");
      if (record.object.empty()) {
        out.raw("\"object\": null");
      } else {
        out.string_field("object", record.object);
      }
      out.raw(", \"offset\": ");
      if (record.offset) {
        out.number(*record.offset);
      } else {
        out.raw("null");
      }
      out.raw("}");
    }
  }
  out.close_items(first, "  ").raw(",\n");
}

}  // namespace

void render_json(const Findings& findings, const DocumentContext& context, TextStream& output) {
  JsonWriter out(output);
  out.raw("{\n  \"schema\": ").string(kSchemaName);
  out.raw(",\n  \"version\": ").number(kSchemaVersion);
  out.raw(",\n  \"tool\": {").string_field("name", context.tool_name).raw(", ");
  out.string_field("version", context.tool_version).raw("}");
  out.raw(",\n  \"complete\": ").boolean(!findings.incomplete);
  out.raw(",\n  \"problems_only\": ").boolean(context.problems_only);
  // -m: the references carry their layouts, and layouts are compared.
  if (findings.layouts) out.raw(",\n  \"layouts\": true");
  out.raw(",\n");
  write_objects(out, findings);
  ShapeIndex shapes;
  if (findings.layouts) {
    shapes = index_shapes(findings, context.problems_only);
    write_shapes(out, shapes);
  }
  write_blocks(out, findings, context.problems_only, shapes);
  const Adoption none;
  const Adoption& adoption = context.adoption != nullptr ? *context.adoption : none;
  write_findings(out, findings, shapes, adoption);
  write_adoption(out, adoption);
  write_diagnostics(out, context.diagnostics);
  const SeverityCounts& counts = findings.counts;
  out.raw("  \"summary\": {\"blocks\": ").number(findings.blocks.size());
  out.raw(", \"objects\": ").number(findings.objects_read);
  out.raw(", \"errors\": ").number(counts.errors);
  out.raw(", \"warnings\": ").number(counts.warnings);
  out.raw(", \"notes\": ").number(counts.notes).raw("},\n");
  // A run that could not read everything never says that it found no problems.
  out.raw("  \"verdict\": ")
      .string(findings.errors_seen  ? "common-block-errors"
              : findings.incomplete ? "incomplete"
                                    : "no-problems")
      .raw("\n}\n");
}

}  // namespace drelk
