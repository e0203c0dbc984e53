#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/strprintf.h"
#include "report/adoption.h"
#include "report/report.h"

namespace drelk {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

// Collects the report's text and writes it in large pieces: a code base's report runs to
// millions of lines, so each piece is copied once into a buffer, which grows with the
// report up to 64 KiB (a small report costs no large buffer).
class ReportWriter {
 public:
  explicit ReportWriter(TextStream& output) : output_(output) {}
  ~ReportWriter() { flush(); }

  ReportWriter& text(std::string_view s) {
    char* at = room(s.size());
    if (!s.empty()) std::memcpy(at, s.data(), s.size());
    used_ += s.size();
    return *this;
  }

  // One declaration's line: its size as "%<width>u" prints it, `between`, the object's
  // path and a line feed, composed in place.
  ReportWriter& declaration(uint64_t size, size_t width, std::string_view between,
                            std::string_view path) {
    char digits[20];
    size_t n = 0;
    do {
      digits[sizeof digits - ++n] = static_cast<char>('0' + size % 10);
      size /= 10;
    } while (size != 0);
    const size_t pad = width > n ? width - n : 0;
    char* at = room(pad + n + between.size() + path.size() + 1);
    std::memset(at, ' ', pad);
    at += pad;
    std::memcpy(at, digits + sizeof digits - n, n);
    at += n;
    std::memcpy(at, between.data(), between.size());
    at += between.size();
    if (!path.empty()) std::memcpy(at, path.data(), path.size());
    at[path.size()] = '\n';
    used_ += pad + n + between.size() + path.size() + 1;
    return *this;
  }

  // `s` in a field of `width` characters, padded with blanks on the left (or, `left`, on
  // the right), as printf's "%*s" and "%-*s" write it.
  ReportWriter& field(std::string_view s, size_t width, bool left = false) {
    const size_t pad = width > s.size() ? width - s.size() : 0;
    char* at = room(pad + s.size());
    if (!left) {
      std::memset(at, ' ', pad);
      at += pad;
    }
    if (!s.empty()) std::memcpy(at, s.data(), s.size());
    if (left) std::memset(at + s.size(), ' ', pad);
    used_ += pad + s.size();
    return *this;
  }

  // A number in a field of `width` characters, as "%*llu" writes it.
  ReportWriter& number(uint64_t value, size_t width) {
    char digits[20];
    size_t n = 0;
    do {
      digits[sizeof digits - ++n] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    return field(std::string_view(digits + sizeof digits - n, n), width);
  }

  void flush() {
    if (used_ > 0) write_text(output_, std::string_view(buffer_.get(), used_));
    used_ = 0;
  }

 private:
  // Room for `n` more bytes at the end of the buffer: the buffer grows while it is below
  // its size, and is flushed once it is full; a piece larger than the whole buffer makes it
  // grow further.
  char* room(size_t n) {
    if (n > capacity_ - used_) {
      if (capacity_ >= kBufferSize) flush();
      if (n > capacity_ - used_)
        grow(std::max(used_ + n, std::min(2 * capacity_ + 256, kBufferSize)));
    }
    return buffer_.get() + used_;
  }

  void grow(size_t capacity) {
    auto grown = std::make_unique_for_overwrite<char[]>(capacity);
    if (used_ > 0) std::memcpy(grown.get(), buffer_.get(), used_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
  }

  TextStream& output_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

const char* plural(size_t count) {
  return count == 1 ? "" : "s";
}

// Where a layout was declared: "routine at file:line (object)".
std::string declared_where(const LayoutGroup& group) {
  const DeclaredLayout& layout = *group.example;
  std::string where(layout.routine);
  if (!layout.file.empty()) {
    if (!where.empty()) where += " at ";
    where += layout.file;
    if (layout.line != 0) where += strprintf(":%u", layout.line);
  }
  if (!where.empty()) where += " ";
  return where + "(" + group.object->path + ")";
}

// The distinct layouts of a block, each once: a line saying how many declarations have
// it and where one of them is, then its members one per line, with "->" at the first
// offset where the layouts part; then the declarations without debug information.
void write_layouts(ReportWriter& out, const LayoutFindings& layouts) {
  if (layouts.conflict.found) out.text("  Conflict: ").text(describe_conflict(layouts)).text("\n");
  const size_t total = layouts.groups.size();
  for (size_t g = 0; g < total; ++g) {
    const LayoutGroup& group = layouts.groups[g];
    out.text(strprintf("  Layout %zu of %zu: %llu bytes in %zu declaration%s, as in %s\n", g + 1,
                       total, llu(group.size), group.count, plural(group.count),
                       declared_where(group).c_str()));
    out.text(strprintf("     %10s %9s  %-14s %s\n", "offset", "size", "type", "member"));
    const PartingMember parting =
        layouts.parted ? member_at(group, layouts.parting_offset) : PartingMember{};
    bool marked = false;
    const auto mark_gap = [&](uint64_t before) {
      if (!layouts.parted || marked || parting.member != nullptr ||
          layouts.parting_offset >= before) {
        return;
      }
      out.text(strprintf("  -> %10llu %9s  %s\n", llu(layouts.parting_offset), "",
                         parting.past_end ? "(end of block)" : "(no member)"));
      marked = true;
    };
    for (const LayoutMember& member : group.example->shape->members) {
      mark_gap(member.offset + 1);
      const bool here = layouts.parted && &member == parting.member;
      marked = marked || here;
      // "  %2s %10llu %9llu  %-14s %s%s\n", composed in place: a block may list thousands.
      out.text(here ? "  -> " : "     ")
          .number(member.offset, 10)
          .text(" ")
          .number(member.size, 9)
          .text("  ")
          .field(member.type, 14, true)
          .text(" ")
          .text(member.name)
          .text(member.dimensions)
          .text("\n");
    }
    mark_gap(UINT64_MAX);
  }
  if (layouts.block_data > 0) {
    out.text(strprintf(
        "  BLOCK DATA: no layout in its debug information: %zu definition%s, as in %s\n",
        layouts.block_data, plural(layouts.block_data), layouts.block_data_example->path.c_str()));
  }
  if (layouts.without_debug > 0) {
    out.text(strprintf("  Without debug information: %zu declaration%s, as in %s\n",
                       layouts.without_debug, plural(layouts.without_debug),
                       layouts.without_example->path.c_str()));
  }
}

// One reference's line: its size in a field of `width` ("-" for a library that records
// none), `between`, and its object, with the version a library exports the block with.
void write_declaration(ReportWriter& out, const BlockReference& reference, std::string_view block,
                       size_t width, std::string_view between) {
  const ObjectEntry& object = *reference.object;
  if (is_unsized_definition(reference)) {
    out.field("-", width).text(between).text(object.path).text("\n");
    return;
  }
  const std::string_view exported = exported_name(object, block);
  if (exported.empty()) {
    out.declaration(reference.size, width, between, object.path);
  } else {
    out.declaration(reference.size, width, between,
                    object.path + " (exports " + std::string(exported) + ")");
  }
}

// The line under a finding's error line: its class, its severity and what it means.
void write_class(ReportWriter& out, FindingClass finding_class, std::string_view explanation) {
  out.text("  ")
      .text(class_name(finding_class))
      .text(" (")
      .text(severity_name(severity_of(finding_class)))
      .text("): ")
      .text(explanation)
      .text("\n");
}

// A count with its thousands separated by commas: "1,722".
std::string grouped(size_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string counted(size_t value, const char* one, const char* many) {
  return grouped(value) + " " + (value == 1 ? one : many);
}

// "Summary: 1,722 blocks in 1,206 objects; 3 errors, 28 warnings, 2 notes".
void write_summary(ReportWriter& out, const Findings& findings, const Adoption* adoption) {
  const SeverityCounts& counts = findings.counts;
  out.text("Summary: ")
      .text(counted(findings.blocks.size(), "block", "blocks"))
      .text(" in ")
      .text(counted(findings.objects_read, "object", "objects"))
      .text("; ")
      .text(counted(counts.errors, "error", "errors"))
      .text(", ")
      .text(counted(counts.warnings, "warning", "warnings"))
      .text(", ")
      .text(counted(counts.notes, "note", "notes"));
  if (adoption != nullptr && adoption->baseline) {
    const AdoptionCounts& states = adoption->counts;
    out.text("; against the baseline ")
        .text(grouped(states.new_findings))
        .text(" new, ")
        .text(grouped(states.updated))
        .text(" updated, ")
        .text(grouped(states.unchanged))
        .text(" unchanged, ")
        .text(grouped(states.absent))
        .text(" absent");
  }
  if (adoption != nullptr && adoption->suppressions) {
    out.text("; ").text(grouped(adoption->counts.suppressed)).text(" suppressed");
  }
  out.text("\n");
}

// The lines under a finding's class line that say what the baseline and the suppressions
// make of it.
void write_mark(ReportWriter& out, const Adoption& adoption, const FindingMark& mark) {
  if (adoption.baseline) {
    out.text("  baseline: ").text(baseline_state_name(mark.state));
    if (!mark.change.empty()) out.text(": ").text(mark.change);
    out.text("\n");
  }
  if (mark.suppression != nullptr) {
    out.text("  suppressed: ")
        .text(mark.suppression->reason)
        .text(strprintf(" (%s, line %llu)\n", adoption.suppressions_file.c_str(),
                        llu(mark.suppression->line)));
  }
}

// The baseline's findings that this run no longer has.
void write_absent(ReportWriter& out, const Adoption& adoption) {
  for (const FindingPrint& gone : adoption.absent) {
    out.text("Absent since the baseline: Common Block ")
        .text(gone.block)
        .text(" (")
        .text(gone.kind);
    if (!gone.finding_class.empty() && gone.finding_class != gone.kind) {
      out.text(", ").text(gone.finding_class);
    }
    out.text(")\n");
  }
  if (!adoption.absent.empty()) out.text("\n");
}

// The baseline's and the suppressions' marks of the findings, where there are any, and
// whether a finding is listed at all.
struct FindingMarks {
  const Adoption* adoption;
  bool show_suppressed;

  const FindingMark* of(size_t block, FindingKind kind) const {
    return adoption != nullptr ? mark_of(*adoption, block, kind) : nullptr;
  }
  bool shown(const FindingMark* mark) const {
    return mark == nullptr || mark->suppression == nullptr || show_suppressed;
  }
};

// The "Drelk Error" line of a declarations finding with its class line and mark.
void write_declarations_finding(ReportWriter& out, const CommonBlock& block,
                                const BlockFindings& found, const FindingMarks& marks,
                                const FindingMark* mark, const char* what) {
  out.text("Drelk Error: Common Block ").text(block.name).text(what);
  write_class(out, found.finding_class, found.explanation);
  if (mark != nullptr) write_mark(out, *marks.adoption, *mark);
}

// The note on a block that libraries without sizes define.
void write_library_note(ReportWriter& out, const BlockFindings& found) {
  out.text("Drelk Note: Common Block ")
      .text(found.block->name)
      .text(" is defined by library ")
      .text(found.unsized_library->path);
  if (found.unsized_libraries > 1) {
    out.text(strprintf(" and %zu more, which record no size\n", found.unsized_libraries - 1));
  } else {
    out.text(", which records no size\n");
  }
  write_class(out, FindingClass::kLibraryUnsized, kLibraryUnsizedExplanation);
  out.text("\n");
}

// The note on a block that some object defines less aligned than another's declaration asks
// for: the first such definition, how many more there are, and the declaration.
void write_alignment_note(ReportWriter& out, const Findings& findings, const BlockFindings& found,
                          const FindingMarks& marks) {
  const size_t b = static_cast<size_t>(&found - findings.blocks.data());
  const FindingMark* mark = marks.of(b, FindingKind::kAlignmentSmaller);
  if (!marks.shown(mark)) return;
  const AlignmentFindings& alignment = findings.alignments[found.alignment];
  const ShortDefinition& first = alignment.definitions.front();
  out.text("Drelk Note: Common Block ")
      .text(found.block->name)
      .text(strprintf(" is defined with alignment %llu in ", llu(first.alignment)))
      .text(first.object->path);
  const size_t more = alignment.definitions.size() - 1;
  if (more > 0) out.text(" and ").text(counted(more, "more definition", "more definitions"));
  out.text(strprintf(", smaller than the alignment %llu declared in ", llu(alignment.declared)))
      .text(alignment.declaration->path)
      .text("\n");
  write_class(out, FindingClass::kAlignmentSmaller, kAlignmentSmallerExplanation);
  if (mark != nullptr) write_mark(out, *marks.adoption, *mark);
  out.text("\n");
}

// A block named like a procedure that objects call and no input defines: one finding,
// naming the first caller and counting the others.
void write_possible_clash(ReportWriter& out, const Findings& findings, const BlockFindings& found,
                          const FindingMarks& marks) {
  const size_t b = static_cast<size_t>(&found - findings.blocks.data());
  const FindingMark* mark = marks.of(b, FindingKind::kPossibleProcedureClash);
  if (!marks.shown(mark)) return;
  const ProcedureCall& first = findings.calls[found.first_call];
  out.text("Drelk Error: Common Block ")
      .text(found.block->name)
      .text(" may conflict with procedure ")
      .text(first.name)
      .text(", which no input defines, called in ")
      .text(first.caller->path);
  if (found.call_count == 2) out.text(" and 1 more object");
  if (found.call_count > 2)
    out.text(" and ").text(grouped(found.call_count - 1)).text(" more objects");
  out.text("\n");
  write_class(out, FindingClass::kPossibleProcedureClash, kPossibleProcedureClashExplanation);
  if (mark != nullptr) write_mark(out, *marks.adoption, *mark);
  out.text("\n");
}

// One block: its listing (without -p) and its findings.
void write_block(ReportWriter& out, const Findings& findings, size_t b, bool problems_only,
                 const FindingMarks& marks) {
  const BlockFindings& found = findings.blocks[b];
  const CommonBlock& block = *found.block;
  const FindingMark* declarations =
      marks.of(b, found.size_mismatch ? FindingKind::kSizeMismatch : FindingKind::kLayoutMismatch);
  const FindingMark* clash = marks.of(b, FindingKind::kProcedureClash);
  // Only what is printed is put in list order: with -p, the blocks of several sizes.
  const bool listed = !problems_only || found.size_mismatch;
  const std::vector<const BlockReference*> references =
      listed ? block_references(block) : std::vector<const BlockReference*>();
  if (!problems_only) {
    out.text(" ").text(block.name).text("\n");
    for (const BlockReference* reference : references) {
      write_declaration(out, *reference, block.name, 13,
                        reference->initialized ? "   I              " : "                  ");
    }
    out.text("\n");
  }
  if (found.size_mismatch && marks.shown(declarations)) {
    write_declarations_finding(out, block, found, marks, declarations,
                               " is declared with different sizes\n");
    if (problems_only) {
      for (const BlockReference* reference : references) {
        write_declaration(out, *reference, block.name, 15, " bytes in ");
      }
    }
    if (findings.layouts) write_layouts(out, found.layouts);
    out.text("\n");
  }
  if (found.layout_mismatch && marks.shown(declarations)) {
    write_declarations_finding(out, block, found, marks, declarations,
                               " is declared with different layouts\n");
    write_layouts(out, found.layouts);
    out.text("\n");
  }
  if (found.unsized_libraries > 0) write_library_note(out, found);
  if (has_alignment_note(found)) write_alignment_note(out, findings, found, marks);
  for (size_t i = found.first_clash;
       marks.shown(clash) && i < found.first_clash + found.clash_count; ++i) {
    const ProcedureEntry& procedure = findings.procedures[i];
    out.text("Drelk Error: Common Block ")
        .text(block.name)
        .text(" conflicts with procedure ")
        .text(procedure.name)
        .text(" in ")
        .text(procedure.definer->path)
        .text("\n");
    write_class(out, FindingClass::kProcedureClash, kProcedureClashExplanation);
    if (clash != nullptr) write_mark(out, *marks.adoption, *clash);
    out.text("\n");
  }
  if (found.call_count > 0) write_possible_clash(out, findings, found, marks);
}

// The folders read and the verdict that closes a full report.
void write_closing(ReportWriter& out, const Findings& findings) {
  for (const DirectoryInput& directory : findings.directory_inputs) {
    out.text(strprintf("%llu files read under ",
                       static_cast<unsigned long long>(directory.files_read)))
        .text(directory.path)
        .text("\n\n");
  }
  out.text("End of Analysis")
      .text(findings.errors_seen ? ":  COMMON Block errors encountered."
                                 : ":  No problems encountered.")
      .text("\n");
}

}  // namespace

void render_text(const Findings& findings, bool problems_only, TextStream& output, bool quiet,
                 const Adoption* adoption, bool show_suppressed) {
  ReportWriter out(output);
  if (findings.incomplete && !quiet)
    out.text("Drelk: Processing is incomplete due to previous error(s).\n\n");

  if (!problems_only) {
    out.text("Common Block Analysis\n\n");
    if (findings.blocks.empty()) {
      out.text("\tNone of the objects scanned contain COMMON BLOCKS\n\n");
      return;
    }
    out.text("Common   Block   Initialized   Object File\n");
    out.text("         Size \n\n");
  }
  const FindingMarks marks{adoption, show_suppressed};
  for (size_t b = 0; b < findings.blocks.size(); ++b) {
    write_block(out, findings, b, problems_only, marks);
  }
  if (adoption != nullptr) write_absent(out, *adoption);
  // Where the verdict closes the report, and with -p once there is some block to count;
  // -q writes the findings alone.
  if (!findings.blocks.empty() && !quiet) write_summary(out, findings, adoption);
  if (!problems_only) write_closing(out, findings);
}

void report_common_blocks(const Registry& registry, uint64_t error_count, bool problems_only,
                          TextStream& output) {
  render_text(find_problems(registry, error_count), problems_only, output);
}

}  // namespace drelk
