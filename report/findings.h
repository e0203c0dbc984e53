// The findings of a run, computed once from the registry: which blocks are reported,
// which of them are declared with different sizes, which are named like a procedure, and
// the verdict. Every renderer (text, and the formats for programs) prints from these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"

namespace drelk {

// What kind of risk a finding is, computed once from what the objects hold.
enum class FindingClass : uint8_t {
  kInitialisedSmaller,  // an initialised definition is smaller than some declaration
  kTypeConflict,        // some byte is read as different types (-m)
  kExtent,              // sizes differ, the declarations agree on the bytes they share
  kBlankCommon,         // blank COMMON of different sizes, which the standard allows
  kProcedureClash,      // a block named like a procedure that some object defines
  kLibrarySmaller,      // a shared library defines the block smaller than some declaration
  kLibraryUnsized,      // a shared library whose format records no size defines the block
  // A block named like a procedure that some object calls but no input defines: it comes
  // from a library that was not read.
  kPossibleProcedureClash,
  // A definition of the block is less aligned than some other object's COMMON declaration
  // asks for.
  kAlignmentSmaller,
};

enum class Severity : uint8_t { kError, kWarning, kNote };

// The class as the outputs name it: "initialised-smaller", "type-conflict", ...
std::string_view class_name(FindingClass finding_class);
Severity severity_of(FindingClass finding_class);
// "error", "warning", "note".
std::string_view severity_name(Severity severity);

// A distinct layout of a block: the declarations whose members agree in offset, size and
// type (their names and the shapes of their arrays may differ), of one block size.
struct LayoutGroup {
  const DeclaredLayout* example = nullptr;  // the first in list order
  const ObjectEntry* object = nullptr;      // the example's object
  uint64_t size = 0;                        // the size that the example's object declares
  size_t count = 0;                         // declarations (routines) with this layout
};

// The first bytes that two layouts of a block read as different types.
struct LayoutConflict {
  bool found = false;
  uint64_t first = 0;  // the bytes [first, last]
  uint64_t last = 0;
  size_t group_a = 0;  // the two layouts (indexes into LayoutFindings::groups) and a
  size_t group_b = 0;  // member of each that covers the bytes
  const LayoutMember* member_a = nullptr;
  const LayoutMember* member_b = nullptr;
};

// The layouts of a block's declarations, worked out under -m for the blocks whose
// declarations disagree.
struct LayoutFindings {
  std::vector<LayoutGroup> groups;  // in order of first appearance in list order
  size_t without_debug = 0;         // references whose object describes no layout
  const ObjectEntry* without_example = nullptr;
  // Initialised definitions (BLOCK DATA): compilers describe no block for them, -g or not.
  size_t block_data = 0;
  const ObjectEntry* block_data_example = nullptr;
  // Where the layouts part: the first conflicting byte, or, where they agree, the end of
  // the smallest declaration.
  bool parted = false;
  uint64_t parting_offset = 0;
  LayoutConflict conflict;
};

// A definition whose alignment is smaller than a COMMON declaration asks for.
struct ShortDefinition {
  const ObjectEntry* object = nullptr;
  uint64_t alignment = 0;
};

// The definitions of a block less aligned than the COMMON declarations of other objects ask
// for, where the formats record both; the declarations' alignments are never compared with
// each other (compilers choose them differently).
struct AlignmentFindings {
  std::vector<ShortDefinition> definitions;  // in list order
  const ObjectEntry* declaration = nullptr;  // the declaration that asks the most of the first
  uint64_t declared = 0;                     // its alignment
};

inline constexpr uint32_t kNoAlignmentFinding = UINT32_MAX;

struct BlockFindings {
  const CommonBlock* block = nullptr;
  bool size_mismatch = false;  // declared with different sizes
  // Declared with one size, but with some byte read as different types by two
  // declarations (only found under -m).
  bool layout_mismatch = false;
  // Definitions less aligned than a declaration asks for (a note): an index into
  // Findings::alignments, or kNoAlignmentFinding. Held beside the flags, in room the
  // record has: most blocks have none, and a run holds every block's record.
  uint32_t alignment = kNoAlignmentFinding;
  LayoutFindings layouts;  // under -m, for a block of either mismatch
  // The class of the size or layout finding, and its explanation.
  FindingClass finding_class = FindingClass::kExtent;
  std::string_view explanation;
  // Shared libraries whose format records no size (Mach-O, PE) that define the block: a
  // note, with the first of them.
  size_t unsized_libraries = 0;
  const ObjectEntry* unsized_library = nullptr;
  // The procedures named like the block: [first_clash, first_clash + clash_count) of
  // Findings::procedures.
  size_t first_clash = 0;
  size_t clash_count = 0;
  // Where no input defines such a procedure, the objects that call one: [first_call,
  // first_call + call_count) of Findings::calls.
  size_t first_call = 0;
  size_t call_count = 0;
};

inline bool has_alignment_note(const BlockFindings& found) {
  return found.alignment != kNoAlignmentFinding;
}

// True when the block has a COMMON block finding of any kind.
inline bool has_errors(const BlockFindings& found) {
  return found.size_mismatch || found.layout_mismatch || found.clash_count > 0 ||
         found.call_count > 0;
}

// A directory named as an input, and how many files were read under it.
struct DirectoryInput {
  std::string path;
  uint64_t files_read = 0;
};

// The explanations of a procedure clash, of a possible one, and of a block defined by a
// library without size.
extern const std::string_view kProcedureClashExplanation;
extern const std::string_view kPossibleProcedureClashExplanation;
extern const std::string_view kLibraryUnsizedExplanation;
extern const std::string_view kAlignmentSmallerExplanation;

// A shared library whose format records no sizes of its definitions (Mach-O, PE).
bool is_unsized_library(const ObjectEntry& object);

// A definition by such a library: it takes no part in the comparison of sizes. The
// declarations that a DLL's own debug information makes under -m keep their sizes.
bool is_unsized_definition(const BlockReference& reference);

// How many findings there are of each severity: a size or layout finding is one, and the
// clashes of a block with procedures of its name are one.
struct SeverityCounts {
  size_t errors = 0;
  size_t warnings = 0;
  size_t notes = 0;
  size_t at_least(Severity severity) const {
    return errors + (severity >= Severity::kWarning ? warnings : 0) +
           (severity >= Severity::kNote ? notes : 0);
  }
  void add(Severity severity) {
    ++(severity == Severity::kError ? errors : severity == Severity::kWarning ? warnings : notes);
  }
};

struct Findings {
  // Every object analysed, files and archive members, in the order they were read.
  std::vector<const ObjectEntry*> objects;
  // Every COMMON block, in name order: every name that some object declares with a
  // non-zero size, with all its references (size-0 references included).
  std::vector<BlockFindings> blocks;
  // The procedures named like some block, in name order, equal names in arrival order.
  std::vector<ProcedureEntry> procedures;
  // The calls of procedures named like some block that no input defines, in name order,
  // equal names in arrival order.
  std::vector<ProcedureCall> calls;
  // The blocks' definitions less aligned than a declaration asks for, in name order
  // (BlockFindings::alignment).
  std::vector<AlignmentFindings> alignments;
  bool errors_seen = false;  // some COMMON block error: the verdict
  bool incomplete = false;   // diagnostics were reported during the analysis
  bool layouts = false;      // -m: layouts were read and compared
  // The directories named as inputs, in command-line order, for the text report's count.
  std::vector<DirectoryInput> directory_inputs;
  SeverityCounts counts;
  size_t objects_read = 0;  // the objects among `objects`: not the archives and universal files
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

// The objects behind a block's clash with a procedure of its name: those that define it,
// or, for a possible clash (`calls`), those that call it.
std::vector<const ObjectEntry*> procedure_objects(const Findings& findings,
                                                  const BlockFindings& found, bool calls);

// "bytes 0-3: INTEGER*4 iq(1) in sa (a.f:2), REAL*4 x(1) in sc (c.f:2)".
std::string describe_conflict(const LayoutFindings& layouts);

}  // namespace drelk
