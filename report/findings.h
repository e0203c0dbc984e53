// The findings of a run, computed once from the registry: which blocks are reported,
// which of them are declared with different sizes, which are named like a procedure, and
// the verdict. Every renderer (text, and the formats for programs) prints from these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registry/registry.h"

namespace drelk {

// A distinct layout of a block: the declarations whose members agree in offset, size and
// type (their names and the shapes of their arrays may differ), of one block size.
struct LayoutGroup {
  const DeclaredLayout* example = nullptr;  // the first in list order
  const ObjectEntry* object = nullptr;      // the example's object
  uint64_t size = 0;                        // the size that the example's object declares
  size_t count = 0;                         // declarations (routines) with this layout
};

// The layouts of a block's declarations, worked out under -m for the blocks whose
// declarations disagree.
struct LayoutFindings {
  std::vector<LayoutGroup> groups;  // in order of first appearance in list order
  size_t without_debug = 0;         // references whose object describes no layout
  const ObjectEntry* without_example = nullptr;
  bool parted = false;          // the groups part at some offset
  uint64_t parting_offset = 0;  // the first offset where they do
};

struct BlockFindings {
  const CommonBlock* block = nullptr;
  bool size_mismatch = false;  // declared with different sizes
  // Declared with one size, but with members that differ in type or extent at some
  // offset (only found under -m).
  bool layout_mismatch = false;
  LayoutFindings layouts;  // under -m, for a block of either mismatch
  // The procedures named like the block: [first_clash, first_clash + clash_count) of
  // Findings::procedures.
  size_t first_clash = 0;
  size_t clash_count = 0;
};

// True when the block has a COMMON block error of either kind.
inline bool has_errors(const BlockFindings& found) {
  return found.size_mismatch || found.layout_mismatch || found.clash_count > 0;
}

// A directory named as an input, and how many files were read under it.
struct DirectoryInput {
  std::string path;
  uint64_t files_read = 0;
};

struct Findings {
  // Every object analysed, files and archive members, in the order they were read.
  std::vector<const ObjectEntry*> objects;
  // Every COMMON block, in name order: every name that some object declares with a
  // non-zero size, with all its references (size-0 references included).
  std::vector<BlockFindings> blocks;
  // The procedures named like some block, in name order, equal names in arrival order.
  std::vector<ProcedureEntry> procedures;
  bool errors_seen = false;  // some COMMON block error: the verdict
  bool incomplete = false;   // diagnostics were reported during the analysis
  bool layouts = false;      // -m: layouts were read and compared
  // The directories named as inputs, in command-line order, for the text report's count.
  std::vector<DirectoryInput> directory_inputs;
};

// `layouts` (-m) compares the declarations' layouts too.
Findings find_problems(const Registry& registry, uint64_t error_count, bool layouts = false);

// Where a group's layout stands at the parting offset: the member that starts there, the
// member that covers it, or none (a gap, or past the end of the block).
struct PartingMember {
  const LayoutMember* member = nullptr;
  bool past_end = false;
};
PartingMember member_at(const LayoutGroup& group, uint64_t offset);

}  // namespace drelk
