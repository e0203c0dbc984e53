#include "report/findings.h"

namespace drelk {

Findings find_problems(const Registry& registry, int error_count) {
  Findings findings;
  findings.incomplete = error_count > 0;
  findings.objects = registry.entries;
  findings.procedures = procedures_named_like_blocks(registry);
  const std::vector<const CommonBlock*> blocks = sorted_blocks(registry);
  findings.blocks.reserve(blocks.size());
  // Blocks and procedures are both in name order: one merge finds every clash.
  size_t cursor = 0;
  for (const CommonBlock* block : blocks) {
    // A name that no object declares with a non-zero size is only referred to (a
    // procedure passed as an argument, a variable defined elsewhere): not a COMMON block.
    if (!block->declared) continue;
    BlockFindings found;
    found.block = block;
    found.size_mismatch = !block->consistent;
    while (cursor < findings.procedures.size() && block->name > findings.procedures[cursor].name) {
      ++cursor;
    }
    found.first_clash = cursor;
    while (cursor < findings.procedures.size() &&
           block->name == findings.procedures[cursor].name) {
      ++cursor;
    }
    found.clash_count = cursor - found.first_clash;
    if (found.size_mismatch || found.clash_count > 0) findings.errors_seen = true;
    findings.blocks.push_back(found);
  }
  return findings;
}

}  // namespace drelk
