// The findings of a run, computed once from the registry: which blocks are reported,
// which of them are declared with different sizes, which are named like a procedure, and
// the verdict. Every renderer (text, and the formats for programs) prints from these.
#pragma once

#include <cstddef>
#include <vector>

#include "registry/registry.h"

namespace drelk {

struct BlockFindings {
  const CommonBlock* block = nullptr;
  bool size_mismatch = false;  // declared with different sizes
  // The procedures named like the block: [first_clash, first_clash + clash_count) of
  // Findings::procedures.
  size_t first_clash = 0;
  size_t clash_count = 0;
};

// True when the block has a COMMON block error of either kind.
inline bool has_errors(const BlockFindings& found) {
  return found.size_mismatch || found.clash_count > 0;
}

struct Findings {
  // Every object analysed, files and archive members, in the order they were read.
  std::vector<const ObjectEntry*> objects;
  // Every COMMON block, in name order: every name that some object declares with a
  // non-zero size, with all its references (size-0 references included).
  std::vector<BlockFindings> blocks;
  // The procedures named like some block, in name order, equal names in arrival order.
  std::vector<ProcedureEntry> procedures;
  bool errors_seen = false;                // some COMMON block error: the verdict
  bool incomplete = false;                 // diagnostics were reported during the analysis
};

Findings find_problems(const Registry& registry, int error_count);

}  // namespace drelk
