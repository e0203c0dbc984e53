// Adopting drelk on a code base with a backlog: each finding of the run compared with a
// baseline (new, unchanged, updated; and the baseline's findings that are gone, absent),
// and accepted or not by the team's suppressions. What fails the run is then what is new
// or updated and not suppressed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "report/baseline.h"
#include "report/findings.h"
#include "report/suppressions.h"

namespace drelk {

// The kinds of finding, as the documents name them; a finding is one kind for one block.
enum class FindingKind : uint8_t {
  kSizeMismatch,
  kLayoutMismatch,
  kProcedureClash,
  kPossibleProcedureClash,
  kAlignmentSmaller,
};
std::string_view kind_name(FindingKind kind);

// The kinds and classes a suppression entry may name.
const std::vector<std::string_view>& suppressible_kinds();

// What the baseline and the suppressions say of one finding.
struct FindingMark {
  BaselineState state = BaselineState::kNew;
  std::string change;                        // for `updated`: what changed
  const Suppression* suppression = nullptr;  // the entry that accepts it, or none
};

// The marks of a block's findings: its size or layout finding, its procedure clash (or
// possible clash: a block has one or the other), and its definitions' alignment.
struct BlockMarks {
  FindingMark declarations;
  FindingMark clash;
  FindingMark alignment;
};

struct AdoptionCounts {
  size_t new_findings = 0;
  size_t unchanged = 0;
  size_t updated = 0;
  size_t absent = 0;
  size_t suppressed = 0;
};

struct Adoption {
  bool baseline = false;      // a baseline was compared
  bool suppressions = false;  // suppressions were applied
  std::string baseline_guid;
  std::string baseline_file;  // as the user named them
  std::string suppressions_file;
  std::vector<BlockMarks> blocks;    // parallel to Findings::blocks, where either was given
  std::vector<FindingPrint> absent;  // the baseline's findings that this run does not have
  AdoptionCounts counts;
  // The findings that fail the run by their severity: not suppressed, and new or updated
  // where there is a baseline. Without either, the findings' own counts.
  SeverityCounts failing;
};

// The print of a finding of this run, as a baseline compares it.
FindingPrint print_of(const Findings& findings, const BlockFindings& found, FindingKind kind);

// Marks every finding. `baseline` and `suppressions` may be null; the suppressions' match
// counts are kept in the entries, for the stale ones to be found.
Adoption adopt(const Findings& findings, Baseline* baseline,
               std::vector<Suppression>* suppressions);

// The marks of a block's finding of `kind`, or nullptr where the run has neither a baseline
// nor suppressions.
const FindingMark* mark_of(const Adoption& adoption, size_t block, FindingKind kind);

}  // namespace drelk
