// The findings as one JSON document for programs: the objects read, every block with its
// declarations, the COMMON block errors, the diagnostics and the verdict. The layout is
// described by docs/drelk-report.schema.json; objects are referred to by their index in
// "objects", so that a declaration costs a number rather than a path.
#include "report/json_writer.h"
#include "report/report.h"

namespace drelk {
namespace {

// The document's name and layout version: a program checks both before it reads on.
constexpr std::string_view kSchemaName = "drelk-report";
constexpr uint64_t kSchemaVersion = 1;

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

// A reference's layouts (-m): one for each routine of its object that declares the block.
void write_reference_layouts(JsonWriter& out, const ReferenceLayouts& reference) {
  out.raw(", \"layouts\": [");
  for (size_t i = 0; i < reference.count; ++i) {
    const DeclaredLayout& layout = reference.layouts[i];
    if (i > 0) out.raw(", ");
    out.raw("{").string_field("routine", layout.routine).raw(", ");
    write_source(out, layout);
    out.raw(", \"members\": [");
    bool first = true;
    for (const LayoutMember& member : layout.shape->members) {
      if (!first) out.raw(", ");
      first = false;
      out.raw("{\"offset\": ").number(member.offset).raw(", \"size\": ").number(member.size);
      out.raw(", ").string_field("type", member.type).raw(", ").string_field("name", member.name);
      out.raw(", ").string_field("dimensions", member.dimensions).raw("}");
    }
    out.raw("]}");
  }
  out.raw("]");
}

void write_blocks(JsonWriter& out, const Findings& findings, bool problems_only) {
  out.raw("  \"blocks\": [");
  bool first = true;
  for (const BlockFindings& found : findings.blocks) {
    if (problems_only && !has_errors(found)) continue;
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
    };
    if (findings.layouts) {
      for (const ReferenceLayouts& reference : block_layouts(*found.block)) {
        write_reference(reference.reference);
        write_reference_layouts(out, reference);
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
void write_layout_findings(JsonWriter& out, const LayoutFindings& layouts) {
  out.raw(",\n     \"parting_offset\": ");
  if (layouts.parted) {
    out.number(layouts.parting_offset);
  } else {
    out.raw("null");
  }
  out.raw(", \"without_debug\": ").number(layouts.without_debug);
  out.raw(", \"layouts\": [");
  bool first = true;
  for (const LayoutGroup& group : layouts.groups) {
    out.item(first);
    write_object_reference(out, *group.object);
    out.raw(", \"size\": ").number(group.size);
    out.raw(", \"declarations\": ").number(group.count).raw(", ");
    out.string_field("routine", group.example->routine).raw(", ");
    write_source(out, *group.example);
    out.raw("}");
  }
  out.close_items(first, "    ");
}

// A finding about how a block is declared: its kind, every declaration with its size and,
// when the layouts were read, the layouts.
void write_declarations_finding(JsonWriter& out, bool& first, const char* kind,
                                const CommonBlock& block, const BlockFindings& found,
                                bool layouts) {
  out.item(first).raw("    {\"kind\": ").string(kind).raw(", ");
  out.string_field("block", block.name).raw(", \"declarations\": [");
  bool first_declaration = true;
  for (const BlockReference* reference : block_references(block)) {
    out.item(first_declaration);
    write_object_reference(out, *reference->object);
    out.raw(", \"size\": ").number(reference->size).raw("}");
  }
  out.close_items(first_declaration, "    ");
  if (layouts) write_layout_findings(out, found.layouts);
  out.raw("}");
}

void write_findings(JsonWriter& out, const Findings& findings) {
  out.raw("  \"findings\": [");
  bool first = true;
  for (const BlockFindings& found : findings.blocks) {
    const CommonBlock& block = *found.block;
    if (found.size_mismatch) {
      write_declarations_finding(out, first, "size-mismatch", block, found, findings.layouts);
    }
    if (found.layout_mismatch) {
      write_declarations_finding(out, first, "layout-mismatch", block, found, true);
    }
    if (found.clash_count > 0) {
      out.item(first).raw("    {\"kind\": \"procedure-clash\", ");
      out.string_field("block", block.name).raw(", ");
      // The procedure has the block's name: that is the clash.
      out.string_field("procedure", findings.procedures[found.first_clash].name);
      out.raw(", \"definers\": [");
      bool first_definer = true;
      for (size_t i = found.first_clash; i < found.first_clash + found.clash_count; ++i) {
        out.item(first_definer);
        write_object_reference(out, *findings.procedures[i].definer);
        out.raw("}");
      }
      out.close_items(first_definer, "    ").raw("}");
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
  write_blocks(out, findings, context.problems_only);
  write_findings(out, findings);
  write_diagnostics(out, context.diagnostics);
  // A run that could not read everything never says that it found no problems.
  out.raw("  \"verdict\": ")
      .string(findings.errors_seen  ? "common-block-errors"
              : findings.incomplete ? "incomplete"
                                    : "no-problems")
      .raw("\n}\n");
}

}  // namespace drelk
