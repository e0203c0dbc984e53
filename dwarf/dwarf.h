// The DWARF reader's interface: the COMMON block layouts that an object's debug information
// describes (DW_TAG_common_block and its DW_TAG_variable members), with the types, offsets
// and source lines of the members. The container (a COFF, ELF or Mach-O reader) locates the
// debug sections and hands over their bytes, and a callback that gives a relocated field its
// value; the DWARF reader knows nothing of the container and reports nothing itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/outcome.h"

namespace drelk {

// The debug sections that the layouts read.
enum DebugSection : uint8_t {
  kDebugInfo,
  kDebugAbbrev,
  kDebugStr,
  kDebugLineStr,
  kDebugLine,
  kDebugStrOffsets,
  kDebugAddr,
  kDebugSectionCount,
};

// Which debug section a section name is, or kDebugSectionCount for none that the layouts
// need. ELF and COFF names (".debug_info") and Mach-O's ("__debug_info") are both known.
DebugSection debug_section_named(std::string_view name);

// The section's name as ELF and COFF write it (".debug_info"), as diagnostics show it.
const char* debug_section_name(DebugSection section);

// The value that a field at `offset` of `section`, holding `stored`, takes once relocated.
// Called for the fields that a relocation may apply to: addresses and section offsets.
using RelocateField = uint64_t (*)(void* context, DebugSection section, uint64_t offset,
                                   uint64_t stored);

// What the container hands over of one object's debug information.
struct DebugInput {
  std::span<const uint8_t> sections[kDebugSectionCount];
  bool big_endian = false;
  // What the symbol table puts before a block's linkage name (i386 COFF's '_').
  std::string_view symbol_prefix;
  // Null where every field is read as it stands (REL relocations, Mach-O).
  RelocateField relocate = nullptr;
  void* relocation_context = nullptr;
};

// A member of a COMMON block as the object's debug information describes it. The texts
// are valid until the reader reads its next object.
struct MemberLayout {
  uint64_t offset = 0;          // from the start of the block
  uint64_t size = 0;            // bytes; 0 where the type does not say
  std::string_view name;        // local to the routine: never a difference on its own
  std::string_view type;        // Fortran style: INTEGER*4, REAL*8, CHARACTER*8, TYPE(point)
  std::string_view dimensions;  // array bounds, "(10)" or "(-2:2,3)"; empty for a scalar
};

// One routine's declaration of a COMMON block, from the object's debug information; its
// members are members[first_member, first_member + member_count) of the layouts read.
struct CommonLayout {
  std::string_view symbol;   // the block's symbol, as the symbol table names it
  std::string_view routine;  // the routine (or module) that declares it
  std::string_view file;     // the source file, as the compiler recorded it; or empty
  uint32_t line = 0;         // the declaring line; 0 where not recorded
  uint32_t first_member = 0;
  uint32_t member_count = 0;
};

// Where the layouts go: appended to `layouts` and `members`, with the texts they show but
// the sections do not hold as such (types, bounds, paths, prefixed symbols) kept in `texts`.
struct LayoutOutput {
  std::vector<CommonLayout>& layouts;
  std::vector<MemberLayout>& members;
  std::deque<std::string>& texts;
};

// What the reader keeps from one object to the next (its abbreviation table, its caches and
// lists), so that a run over thousands of objects does not build them afresh.
struct DwarfStorage;
struct DwarfStorageDelete {
  void operator()(DwarfStorage* storage) const;
};
using DwarfStorageHandle = std::unique_ptr<DwarfStorage, DwarfStorageDelete>;

// Why a debug section cannot be read: the section and the reason, as the diagnostic says it.
struct DwarfDamage {
  DebugSection section = kDebugInfo;
  const char* reason = nullptr;
};

// Reads the layouts of `input` into `output`, in the order of their source files and lines.
// kFailed when a section cannot be read as DWARF (`damage` says why; the layouts found
// before it are kept); kNoMemory when they cannot be held.
Outcome read_debug_layouts(const DebugInput& input, DwarfStorageHandle& storage,
                           LayoutOutput& output, DwarfDamage& damage);

}  // namespace drelk
