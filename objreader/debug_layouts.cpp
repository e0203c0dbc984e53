// The DWARF reader's container side: the debug sections handed over as bytes, the RELA
// relocations of an ELF object applied through the callback, and the one diagnostic of a
// section that cannot be read.
#include "objreader/debug_layouts.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr char kBlockWithoutSymbol[] =
    "Debug Information Error: COMMON block %s of %s has no symbol in the symbol table, so its "
    "members' offsets are not known; its layouts are not shown\n";
constexpr char kMemberBeforeBlock[] =
    "Debug Information Error: a member of COMMON block %s of %s lies before the block's "
    "address; its layouts are not shown\n";

// The relocations of the debug sections, and where each section's last search ended: the
// DWARF reader reads a section mostly forward, so that the relocation after the one found
// last is most often the next field's own.
struct RelocationSearch {
  const DwarfTables* tables = nullptr;
  size_t next[kDebugSectionCount] = {};
};

// The relocation of the field at `at`, searched for on the side of `next` where it must
// lie; `next` is left at the relocation after it.
[[gnu::noinline]] uint64_t searched_relocation(const std::vector<DebugRelocation>& relocations,
                                               size_t& next, uint64_t at, uint64_t stored) {
  const size_t count = relocations.size();
  const bool after_previous = next == 0 || relocations[next - 1].offset < at;
  if (after_previous && (next == count || relocations[next].offset > at)) return stored;
  const auto by_offset = [](const DebugRelocation& r, uint64_t offset) {
    return r.offset < offset;
  };
  const auto begin = relocations.begin();
  const auto found =
      after_previous
          ? std::lower_bound(begin + static_cast<std::ptrdiff_t>(next) + 1, relocations.end(), at,
                             by_offset)
          : std::lower_bound(begin, begin + static_cast<std::ptrdiff_t>(next) - 1, at, by_offset);
  next = static_cast<size_t>(found - begin);
  return next < count && relocations[next].offset == at ? relocations[next++].value : stored;
}

// The value of a relocated field: its own relocation's where it has one, else as stored.
uint64_t relocated_field(void* context, DebugSection section, uint64_t at, uint64_t stored) {
  RelocationSearch& search = *static_cast<RelocationSearch*>(context);
  const std::vector<DebugRelocation>& relocations = search.tables->sections[section].relocations;
  size_t& next = search.next[section];
  if (next < relocations.size() && relocations[next].offset == at) {
    return relocations[next++].value;
  }
  if (relocations.empty()) return stored;
  return searched_relocation(relocations, next, at, stored);
}

bool has_relocations(const DwarfTables& tables) {
  return std::any_of(std::begin(tables.sections), std::end(tables.sections),
                     [](const DebugSectionData& data) { return !data.relocations.empty(); });
}

}  // namespace

void reset_debug_sections(DwarfTables& tables) {
  for (DebugSectionData& section : tables.sections) {
    section.present = false;
    section.bytes.clear();
    section.relocations.clear();
  }
  tables.big_endian = false;
  tables.symbol_prefix = {};
  tables.texts.clear();
}

void read_common_layouts(ObjectReader& reader) {
  DwarfTables& tables = reader.dwarf;
  if (!tables.sections[kDebugInfo].present || tables.sections[kDebugInfo].bytes.empty()) return;
  DebugInput input;
  for (size_t s = 0; s < kDebugSectionCount; ++s) input.sections[s] = tables.sections[s].bytes;
  input.big_endian = tables.big_endian;
  input.symbol_prefix = tables.symbol_prefix;
  RelocationSearch search;
  search.tables = &tables;
  if (has_relocations(tables)) {
    input.relocate = relocated_field;
    input.relocation_context = &search;
  }
  LayoutOutput output{reader.declarations.layouts, reader.declarations.members, tables.texts};
  DwarfDamage damage;
  switch (read_debug_layouts(input, tables.storage, output, damage)) {
    case Outcome::kOk:
      return;
    case Outcome::kNoMemory:
      report_out_of_memory(reader.diagnostics, reader.object_path);
      return;
    case Outcome::kFailed:
      break;
  }
  report_error(reader.diagnostics,
               strprintf("Debug Information Error: %s in %s cannot be read (%s); "
                         "COMMON block layouts after that are not shown\n",
                         debug_section_name(damage.section),
                         std::string(reader.object_path).c_str(), damage.reason));
}

void report_unreadable_debug_section(ObjectReader& reader, std::string_view name,
                                     const char* reason) {
  report_error(
      reader.diagnostics,
      strprintf("Debug Information Error: %s in %s cannot be read (%s); "
                "COMMON block layouts are not shown\n",
                std::string(name).c_str(), std::string(reader.object_path).c_str(), reason));
}

void bound_linked_block(LinkedBlock& block, const std::vector<SectionSymbol>& placed,
                        const SectionSymbol& at, uint64_t section_end) {
  block.address = at.address;
  uint64_t end = section_end;
  const auto next = std::upper_bound(placed.begin(), placed.end(), at);
  if (next != placed.end() && next->section == at.section) end = std::min(end, next->address);
  block.bounded = true;
  block.size = at.address <= end ? end - at.address : 0;
}

LinkedBlocks blocks_of_layouts(const ObjectDeclarations& declarations) {
  LinkedBlocks blocks;
  for (const CommonLayout& layout : declarations.layouts)
    blocks.emplace(layout.symbol, LinkedBlock());
  return blocks;
}

void place_linked_layouts(ObjectReader& reader, const LinkedBlocks& blocks) {
  ObjectDeclarations& declarations = reader.declarations;
  std::vector<CommonLayout>& layouts = declarations.layouts;
  std::vector<MemberLayout>& members = declarations.members;
  // Each layout's members from their addresses to their offsets in the block; a layout
  // whose block has no address, or a member before it, is said once a block and left out.
  const std::string path(reader.object_path);
  std::vector<std::string_view> reported;
  const auto report_once = [&](const char* message, std::string_view block) {
    if (std::find(reported.begin(), reported.end(), block) != reported.end()) return;
    reported.push_back(block);
    report_error(reader.diagnostics, strprintf(message, std::string(block).c_str(), path.c_str()));
  };
  size_t kept = 0;
  for (CommonLayout& layout : layouts) {
    const uint64_t base = blocks.at(layout.symbol).address;
    if (base == UINT64_MAX) {
      report_once(kBlockWithoutSymbol, layout.symbol);
      continue;
    }
    bool before = false;
    uint64_t extent = 0;
    for (uint32_t m = 0; m < layout.member_count; ++m) {
      MemberLayout& member = members[layout.first_member + m];
      if (member.offset < base) {
        before = true;
        break;
      }
      member.offset -= base;
      extent = std::max(extent, saturating_add(member.offset, member.size));
    }
    if (before) {
      report_once(kMemberBeforeBlock, layout.symbol);
      continue;
    }
    // The routine's declaration of the block, as large as its members reach.
    if (!declare(reader,
                 Declaration{Declaration::kCommon, false, layout.symbol, extent, 0, false})) {
      report_out_of_memory(reader.diagnostics, reader.object_path);
      break;
    }
    layouts[kept++] = layout;
  }
  layouts.resize(kept);
  declarations.program = kept > 0;
  // A program's block that a BLOCK DATA initialised keeps the size the linker gave it: the
  // definition that every declaration must fit in, as in the objects.
  if (declarations.library) return;
  std::vector<std::string_view> defined;
  for (const CommonLayout& layout : layouts) {
    const LinkedBlock& block = blocks.at(layout.symbol);
    if (!block.initialised ||
        std::find(defined.begin(), defined.end(), layout.symbol) != defined.end()) {
      continue;
    }
    defined.push_back(layout.symbol);
    if (!declare(reader, Declaration{Declaration::kInitializedData, true, layout.symbol, block.size,
                                     0, block.bounded})) {
      report_out_of_memory(reader.diagnostics, reader.object_path);
      return;
    }
  }
}

}  // namespace drelk
