// Baseline states and suppressions, worked out once for every finding of the run.
#include "report/adoption.h"

namespace drelk {
namespace {

FindingKind declarations_kind(const BlockFindings& found) {
  return found.size_mismatch ? FindingKind::kSizeMismatch : FindingKind::kLayoutMismatch;
}

}  // namespace

std::string_view kind_name(FindingKind kind) {
  switch (kind) {
    case FindingKind::kSizeMismatch:
      return "size-mismatch";
    case FindingKind::kLayoutMismatch:
      return "layout-mismatch";
    case FindingKind::kProcedureClash:
      return "procedure-clash";
    case FindingKind::kPossibleProcedureClash:
      return "possible-procedure-clash";
    case FindingKind::kAlignmentSmaller:
      return "alignment-smaller";
  }
  return "size-mismatch";
}

const std::vector<std::string_view>& suppressible_kinds() {
  static const std::vector<std::string_view> kinds = {
      "size-mismatch",       "layout-mismatch", "procedure-clash",
      "initialised-smaller", "type-conflict",   "extent",
      "blank-common",        "library-smaller", "possible-procedure-clash",
      "alignment-smaller",
  };
  return kinds;
}

FindingPrint print_of(const Findings& findings, const BlockFindings& found, FindingKind kind) {
  FindingPrint print;
  print.kind = kind_name(kind);
  print.block = found.block->name;
  if (kind == FindingKind::kProcedureClash) {
    print.finding_class = class_name(FindingClass::kProcedureClash);
    for (size_t i = found.first_clash; i < found.first_clash + found.clash_count; ++i) {
      print.files.push_back(declarer_name(findings.procedures[i].definer->path));
    }
  } else if (kind == FindingKind::kPossibleProcedureClash) {
    print.finding_class = class_name(FindingClass::kPossibleProcedureClash);
    for (size_t i = found.first_call; i < found.first_call + found.call_count; ++i) {
      print.files.push_back(declarer_name(findings.calls[i].caller->path));
    }
  } else if (kind == FindingKind::kAlignmentSmaller) {
    print.finding_class = class_name(FindingClass::kAlignmentSmaller);
    const AlignmentFindings& alignment = findings.alignments[found.alignment];
    for (const ShortDefinition& definition : alignment.definitions) {
      print.files.push_back(declarer_name(definition.object->path));
      print.alignments.push_back(definition.alignment);
    }
    print.files.push_back(declarer_name(alignment.declaration->path));
    print.alignments.push_back(alignment.declared);
  } else {
    print.finding_class = class_name(found.finding_class);
    for (const BlockReference* reference : block_references(*found.block)) {
      print.sizes.push_back(reference->size);
      print.files.push_back(declarer_name(reference->object->path));
    }
    const LayoutConflict& conflict = found.layouts.conflict;
    if (conflict.found) {
      print.layouts = std::to_string(conflict.first) + "-" + std::to_string(conflict.last) + " " +
                      std::string(conflict.member_a->type) + " " +
                      std::string(conflict.member_b->type);
    }
  }
  normalise(print);
  return print;
}

Adoption adopt(const Findings& findings, Baseline* baseline,
               std::vector<Suppression>* suppressions) {
  Adoption adoption;
  adoption.baseline = baseline != nullptr;
  adoption.suppressions = suppressions != nullptr;
  if (!adoption.baseline && !adoption.suppressions) {
    adoption.failing = findings.counts;
    return adoption;
  }
  if (baseline != nullptr) adoption.baseline_guid = baseline->guid;
  adoption.blocks.resize(findings.blocks.size());
  const auto mark = [&](const BlockFindings& found, FindingKind kind, Severity severity,
                        FindingMark& marked) {
    const FindingPrint print = print_of(findings, found, kind);
    if (baseline != nullptr) {
      BaselineMatch match = match_baseline(*baseline, print);
      marked.state = match.state;
      marked.change = std::move(match.change);
    }
    if (suppressions != nullptr) {
      Suppression* entry =
          find_suppression(*suppressions, print.block, print.kind, print.finding_class);
      if (entry != nullptr) {
        ++entry->matches;
        marked.suppression = entry;
      }
    }
    if (baseline != nullptr) {
      switch (marked.state) {
        case BaselineState::kNew:
          ++adoption.counts.new_findings;
          break;
        case BaselineState::kUnchanged:
          ++adoption.counts.unchanged;
          break;
        case BaselineState::kUpdated:
          ++adoption.counts.updated;
          break;
        case BaselineState::kAbsent:
          break;
      }
    }
    if (marked.suppression != nullptr) ++adoption.counts.suppressed;
    // What is accepted, or known and unchanged, does not fail the run.
    if (marked.suppression != nullptr || marked.state == BaselineState::kUnchanged) return;
    adoption.failing.add(severity);
  };
  for (size_t b = 0; b < findings.blocks.size(); ++b) {
    const BlockFindings& found = findings.blocks[b];
    if (found.size_mismatch || found.layout_mismatch) {
      mark(found, declarations_kind(found), severity_of(found.finding_class),
           adoption.blocks[b].declarations);
    }
    if (found.clash_count > 0) {
      mark(found, FindingKind::kProcedureClash, severity_of(FindingClass::kProcedureClash),
           adoption.blocks[b].clash);
    }
    if (found.call_count > 0) {
      mark(found, FindingKind::kPossibleProcedureClash,
           severity_of(FindingClass::kPossibleProcedureClash), adoption.blocks[b].clash);
    }
    if (has_alignment_note(found)) {
      mark(found, FindingKind::kAlignmentSmaller, severity_of(FindingClass::kAlignmentSmaller),
           adoption.blocks[b].alignment);
    }
  }
  if (baseline != nullptr) {
    for (size_t i = 0; i < baseline->findings.size(); ++i) {
      if (!baseline->matched[i]) adoption.absent.push_back(baseline->findings[i]);
    }
    adoption.counts.absent = adoption.absent.size();
  }
  return adoption;
}

const FindingMark* mark_of(const Adoption& adoption, size_t block, FindingKind kind) {
  if (adoption.blocks.empty()) return nullptr;
  const BlockMarks& marks = adoption.blocks[block];
  if (kind == FindingKind::kAlignmentSmaller) return &marks.alignment;
  const bool clash =
      kind == FindingKind::kProcedureClash || kind == FindingKind::kPossibleProcedureClash;
  return clash ? &marks.clash : &marks.declarations;
}

}  // namespace drelk
