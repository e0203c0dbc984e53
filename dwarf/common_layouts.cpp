// COMMON block layouts: the walk of a unit that follows only what leads to a
// DW_TAG_common_block (a subtree of no interest is skipped by its DW_AT_sibling where it has
// a sound one), and each block's members with their offsets, types and lines.
#include "dwarf/common_layouts.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "dwarf/fortran_types.h"
#include "dwarf/line_table.h"
#include "dwarf/units.h"
#include "formats/dwarf.h"

namespace drelk::dwarf {
namespace {

constexpr size_t kMaxMembersPerObject = 1 << 16;  // a few MB of layouts

// The layout of the common block being walked, and the first line that declares one of
// its members.
struct OpenBlock {
  CommonLayout layout;
  uint64_t first_member_line = 0;
};

// The address that DW_OP_addrx names in .debug_addr. False when it lies outside.
bool indexed_address(Walk& walk, uint64_t index, uint64_t& address) {
  Cursor addresses = cursor_over(walk, kDebugAddr);
  const uint64_t size = walk.unit.address_size;
  const uint64_t base = walk.unit.addr_base;
  if (index > (UINT64_MAX - base) / size || base + index * size > addresses.size) return false;
  addresses.at = static_cast<size_t>(base + index * size);
  address = relocated(walk, kDebugAddr, addresses, walk.unit.address_size);
  return !addresses.failed;
}

// The offset of a member in its block: the operand of DW_OP_addr (or the address that
// DW_OP_addrx names), plus a DW_OP_plus_uconst that follows. False when the location is
// no such expression.
bool member_offset(Walk& walk, const Value& location, uint64_t& offset) {
  if (!location.present || location.length == 0) return false;
  switch (location.form) {
    case DW_FORM_exprloc:
    case DW_FORM_block1:
    case DW_FORM_block2:
    case DW_FORM_block4:
    case DW_FORM_block:
      break;
    default:
      return false;  // a location list: no static place
  }
  Cursor cursor = cursor_over(walk, kDebugInfo);
  cursor.at = static_cast<size_t>(location.number);
  cursor.size = cursor.at + location.length;
  const uint8_t op = cursor.u8();
  if (op == DW_OP_addr) {
    offset = relocated(walk, kDebugInfo, cursor, walk.unit.address_size);
  } else if (op == DW_OP_addrx || op == DW_OP_GNU_addr_index) {
    const uint64_t index = cursor.uleb();
    if (cursor.failed || !indexed_address(walk, index, offset)) return false;
  } else {
    return false;
  }
  if (cursor.has(1) && cursor.data[cursor.at] == DW_OP_plus_uconst) {
    cursor.u8();
    offset += cursor.uleb();
  }
  return !cursor.failed;
}

bool is_scope(uint64_t tag) {
  return tag == DW_TAG_subprogram || tag == DW_TAG_entry_point || tag == DW_TAG_module;
}

bool is_unit(uint64_t tag) {
  return tag == DW_TAG_compile_unit || tag == DW_TAG_partial_unit;
}

// Tags whose children may hold a common block, directly or further down.
bool may_hold_blocks(uint64_t tag) {
  switch (tag) {
    case DW_TAG_compile_unit:
    case DW_TAG_partial_unit:
    case DW_TAG_subprogram:
    case DW_TAG_module:
    case DW_TAG_namespace:
    case DW_TAG_lexical_block:
    case DW_TAG_common_block:
      return true;
    default:
      return false;
  }
}

// Starts the layout of a common block DIE.
bool begin_layout(Walk& walk, const Die& die, std::string_view scope, CommonLayout& layout) {
  std::string_view name;
  std::string_view linkage;
  if (!string_value(walk, die[kName], name) || !string_value(walk, die[kLinkageName], linkage)) {
    return false;
  }
  layout = CommonLayout();
  const std::string_view symbol = linkage.empty() ? name : linkage;
  const std::string_view prefix = walk.input.symbol_prefix;
  layout.symbol = prefix.empty() ? symbol : keep(walk, std::string(prefix).append(symbol));
  layout.routine = scope;
  if (!source_file(walk, die[kDeclFile], layout.file)) return false;
  uint64_t line = 0;
  if (constant(die[kDeclLine], line))
    layout.line = static_cast<uint32_t>(std::min<uint64_t>(line, UINT32_MAX));
  layout.first_member = static_cast<uint32_t>(walk.output.members.size());
  return true;
}

// Adds a DW_TAG_variable of a common block to the object's members.
bool add_member(Walk& walk, const Die& die, uint64_t& first_line) {
  MemberLayout member;
  uint64_t line = 0;
  if (constant(die[kDeclLine], line) && line != 0 && (first_line == 0 || line < first_line)) {
    first_line = line;
  }
  if (!member_offset(walk, die[kLocation], member.offset)) {
    if (walk.damage.reason != nullptr) return false;
    return true;  // no static place in the block: not a member the layouts can show
  }
  if (++walk.members > kMaxMembersPerObject) {
    return fail(walk, kDebugInfo, "more members than an object can hold");
  }
  if (!string_value(walk, die[kName], member.name)) return false;
  MemberType type;
  if (!referenced_type(walk, die[kType], 1, type)) return false;
  member.type = type.type;
  member.dimensions = type.dimensions;
  member.size = type.size;
  walk.output.members.push_back(member);
  return true;
}

// A routine and a BLOCK DATA in one file: gfortran describes the block once, under the
// routine, with each member twice (once for each declaration). A member the same as one
// before it at its offset is that repetition, not an EQUIVALENCE view: it is dropped,
// keeping the members' order. Sorting indexes keeps this O(n log n) for any input.
void drop_repeated_members(std::vector<MemberLayout>& members, size_t first) {
  const size_t count = members.size() - first;
  if (count < 2) return;
  const auto same_member = [](const MemberLayout& a, const MemberLayout& b) {
    return a.offset == b.offset && a.size == b.size && a.name == b.name && a.type == b.type &&
           a.dimensions == b.dimensions;
  };
  bool any = false;
  for (size_t i = first + 1; i < members.size() && !any; ++i) {
    any = members[i].offset == members[i - 1].offset;
  }
  if (!any) return;  // no two members share an offset: nothing can repeat
  std::vector<uint32_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = static_cast<uint32_t>(i);
  const auto key = [](const MemberLayout& m) {
    return std::tie(m.offset, m.size, m.name, m.type, m.dimensions);
  };
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return key(members[first + a]) < key(members[first + b]);
  });
  std::vector<bool> repeated(count, false);
  for (size_t i = 1; i < count; ++i) {
    if (same_member(members[first + order[i]], members[first + order[i - 1]])) {
      repeated[order[i]] = true;
    }
  }
  size_t kept = first;
  for (size_t i = 0; i < count; ++i) {
    if (!repeated[i]) members[kept++] = members[first + i];
  }
  members.resize(kept);
}

// gfortran gives every routine's block of a file the line of the block's first
// declaration in the file; a line before the routine's own start is then replaced by the
// first line that declares one of the routine's members there.
void finish_layout(Walk& walk, OpenBlock& block, uint64_t scope_line) {
  CommonLayout& layout = block.layout;
  if (layout.line < scope_line && block.first_member_line != 0) {
    layout.line = static_cast<uint32_t>(std::min<uint64_t>(block.first_member_line, UINT32_MAX));
  }
  std::vector<MemberLayout>& members = walk.output.members;
  layout.member_count = static_cast<uint32_t>(members.size() - layout.first_member);
  const auto first = members.begin() + layout.first_member;
  const auto by_offset = [](const MemberLayout& a, const MemberLayout& b) {
    return a.offset < b.offset;
  };
  if (!std::is_sorted(first, members.end(), by_offset)) {
    std::stable_sort(first, members.end(), by_offset);
  }
  drop_repeated_members(members, layout.first_member);
  layout.member_count = static_cast<uint32_t>(members.size() - layout.first_member);
  walk.output.layouts.push_back(layout);
}

// Ends the innermost level at the entry that ends its children: a common block's layout
// is complete there.
void close_level(Walk& walk, OpenBlock& block) {
  std::vector<Level>& levels = walk.levels;
  if (levels.empty()) return;
  if (levels.back().in_block) finish_layout(walk, block, levels.back().scope_line);
  levels.pop_back();
}

// Whether the walk uses the attributes of a DIE without children: those of the unit, of a
// routine, and of a member of the block being read.
bool walk_reads(uint64_t tag, bool in_block) {
  return is_unit(tag) || is_scope(tag) || (in_block && tag == DW_TAG_variable);
}

// Takes what the walk needs of a DIE: a unit's attributes, a routine's name and line (the
// scope of what it holds, in `level`), a block member.
bool take_entry(Walk& walk, const Die& die, bool in_block, Level& level, OpenBlock& block) {
  const std::vector<Level>& levels = walk.levels;
  level.tag = die.tag;
  level.scope = levels.empty() ? std::string_view() : levels.back().scope;
  level.scope_line = levels.empty() ? 0 : levels.back().scope_line;
  if (is_unit(die.tag)) {
    take_unit_attributes(walk.unit, die);
  } else if (is_scope(die.tag)) {
    if (!string_value(walk, die[kName], level.scope)) return false;
    level.scope_line = 0;
    constant(die[kDeclLine], level.scope_line);
  } else if (in_block && die.tag == DW_TAG_variable) {
    if (!add_member(walk, die, block.first_member_line)) return false;
  }
  return true;
}

// Moves the cursor past the DIE's children by its sibling, where that lies ahead inside the
// unit. False when the children are to be walked.
bool skip_children(const Walk& walk, Cursor& cursor, const Die& die) {
  const Value& next = die[kSibling];
  uint64_t sibling = 0;
  if (next.present && is_unit_reference(next.form) &&
      next.number < walk.unit.end - walk.unit.start) {
    sibling = walk.unit.start + next.number;
  }
  if (sibling <= cursor.at) return false;
  cursor.at = static_cast<size_t>(sibling);
  return true;
}

// Enters the children of a DIE: a common block's begin its layout.
bool open_level(Walk& walk, const Die& die, bool in_block, Level& level, OpenBlock& block) {
  if (walk.levels.size() == kMaxDepth) return fail(walk, kDebugInfo, "entries nested too deeply");
  if (die.tag == DW_TAG_common_block && !in_block) {
    if (!begin_layout(walk, die, level.scope, block.layout)) return false;
    block.first_member_line = 0;
    level.in_block = true;
  }
  walk.levels.push_back(level);
  return true;
}

}  // namespace

bool walk_unit(Walk& walk, Cursor& cursor) {
  std::vector<Level>& levels = walk.levels;
  levels.clear();
  walk.types.clear();
  OpenBlock block;
  Die die;
  while (cursor.at < walk.unit.end) {
    die.offset = cursor.at;
    die.read = 0;
    const Abbreviation* abbreviation = nullptr;
    if (!read_code(walk, cursor, abbreviation)) return false;
    if (abbreviation == nullptr) {
      close_level(walk, block);
      continue;
    }
    const bool in_block = !levels.empty() && levels.back().in_block;
    // A DIE of no interest whose attributes have fixed sizes is passed over in one step.
    if (!abbreviation->has_children && abbreviation->fixed_size != kVariableSizes &&
        !walk_reads(abbreviation->tag, in_block)) {
      if (!skip_fixed_attributes(walk, cursor, *abbreviation)) return false;
      continue;
    }
    if (!read_attributes(walk, cursor, *abbreviation, die)) return false;
    Level level;
    if (!take_entry(walk, die, in_block, level, block)) return false;
    if (!die.has_children) continue;
    if ((!may_hold_blocks(die.tag) || in_block) && skip_children(walk, cursor, die)) continue;
    if (!open_level(walk, die, in_block, level, block)) return false;
  }
  // A unit whose last lists are not closed ends them.
  if (!levels.empty() && levels.back().in_block) {
    finish_layout(walk, block, levels.back().scope_line);
  }
  return true;
}

}  // namespace drelk::dwarf
