// The state of the reading of one object's debug information, shared by the reader's
// parts: the unit being read, its line table's files, the types described so far, the
// nesting of the walk, and the damage that stops it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dwarf/abbreviations.h"
#include "dwarf/dwarf.h"
#include "formats/cursor.h"

namespace drelk::dwarf {

// The nesting of DIEs that the walk follows: no compiler's output comes near it.
inline constexpr size_t kMaxDepth = 256;

// A file of the line table: its name and the index of its directory, and its path once
// composed.
struct LineFile {
  std::string_view name;
  uint64_t directory = 0;
  bool composed = false;
  std::string_view path;
};

// The directories and file names of a line table, read once for all the units that name
// it.
struct LineFiles {
  std::vector<std::string_view> directories;
  std::vector<LineFile> files;
  bool one_based = false;  // DWARF 2 to 4 count file names from 1
};

// One unit of .debug_info as the walk reads it.
struct Unit {
  size_t start = 0;  // of its header
  size_t end = 0;    // one past its last byte
  uint16_t version = 0;
  uint8_t address_size = 0;
  bool lower_bound_zero = false;  // a C-family language: arrays start at 0
  uint64_t str_offsets_base = 0;
  uint64_t addr_base = 0;
  bool has_line_table = false;
  uint64_t stmt_list = 0;
  bool files_read = false;
  LineFiles* lines = nullptr;  // its line table's, once read
};

// A member's type as the layouts show it, and its size, described once for each type DIE
// of a unit.
struct MemberType {
  std::string_view type;
  std::string_view dimensions;
  uint64_t size = 0;
};

// The types of a unit described so far, by the offset of their DIE: open addressing in a
// power of two of slots, at most half full. A new unit starts a new generation, and slots
// of an older one count as empty.
struct TypeCache {
  struct Slot {
    uint64_t offset = 0;
    uint32_t generation = 0;
    MemberType type;
  };
  std::vector<Slot> slots;
  size_t used = 0;
  uint32_t generation = 1;

  void clear() {
    used = 0;
    if (++generation == 0) {  // wrapped: the old marks could match again
      slots.assign(slots.size(), Slot());
      generation = 1;
    }
  }
  size_t home(uint64_t offset) const {
    return static_cast<size_t>((offset * 0x9e3779b97f4a7c15u) >> 32) & (slots.size() - 1);
  }
  const MemberType* find(uint64_t offset) const {
    if (slots.empty()) return nullptr;
    for (size_t i = home(offset);; i = (i + 1) & (slots.size() - 1)) {
      const Slot& slot = slots[i];
      if (slot.generation != generation) return nullptr;
      if (slot.offset == offset) return &slot.type;
    }
  }
  void insert(uint64_t offset, const MemberType& type) {
    if (2 * (used + 1) > slots.size()) grow();
    size_t i = home(offset);
    while (slots[i].generation == generation) i = (i + 1) & (slots.size() - 1);
    slots[i] = Slot{offset, generation, type};
    ++used;
  }
  void grow() {
    std::vector<Slot> old(std::max<size_t>(64, 2 * slots.size()));
    old.swap(slots);
    const uint32_t previous = generation;
    generation = 1;
    used = 0;
    for (const Slot& slot : old) {
      if (slot.generation == previous) insert(slot.offset, slot.type);
    }
  }
};

// What the walk keeps of each level of nesting: the tag, and the name of the routine or
// module that the level is (empty for other levels).
struct Level {
  uint64_t tag = 0;
  std::string_view scope;
  uint64_t scope_line = 0;  // where the routine or module begins
  bool in_block = false;    // the level is a common block: its variables are members
};

}  // namespace drelk::dwarf

namespace drelk {

struct DwarfStorage {
  // The abbreviation tables read, by their offset in .debug_abbrev: units that take turns
  // between tables decode each once. Kept while .debug_abbrev holds the same bytes.
  std::map<uint64_t, dwarf::AbbreviationTable> abbreviations;
  size_t abbreviation_records = 0;          // the entries and fields the tables hold
  std::vector<uint8_t> abbreviation_bytes;  // the .debug_abbrev the tables were read from
  dwarf::Unit unit;
  // The line tables' names read for this object, by the table's offset and the unit's
  // string offsets base (which their string indexes use).
  std::map<std::pair<uint64_t, uint64_t>, dwarf::LineFiles> line_files;
  size_t line_records = 0;  // the directories and files they hold
  std::vector<dwarf::Level> levels;
  dwarf::TypeCache types;
};

}  // namespace drelk

namespace drelk::dwarf {

struct Walk {
  Walk(const DebugInput& sections, LayoutOutput& layouts, DwarfStorage& storage)
      : input(sections),
        output(layouts),
        abbreviation_tables(storage.abbreviations),
        abbreviation_records(storage.abbreviation_records),
        unit(storage.unit),
        line_files(storage.line_files),
        line_records(storage.line_records),
        levels(storage.levels),
        types(storage.types) {}
  const DebugInput& input;
  LayoutOutput& output;
  std::map<uint64_t, AbbreviationTable>& abbreviation_tables;
  size_t& abbreviation_records;
  const AbbreviationTable* abbreviations = nullptr;  // the unit's
  Unit& unit;
  std::map<std::pair<uint64_t, uint64_t>, LineFiles>& line_files;
  size_t& line_records;
  std::vector<Level>& levels;
  TypeCache& types;
  DwarfDamage damage;
  size_t members = 0;
};

inline bool fail(Walk& walk, DebugSection section, const char* reason) {
  walk.damage.section = section;
  walk.damage.reason = reason;
  return false;
}

inline Cursor cursor_over(const Walk& walk, DebugSection section) {
  return make_cursor(walk.input.sections[section], walk.input.big_endian);
}

// Holds a composed text until the next object; an empty text needs no place.
inline std::string_view keep(Walk& walk, std::string text) {
  if (text.empty()) return {};
  walk.output.texts.push_back(std::move(text));
  return walk.output.texts.back();
}

// The value of the field of `size` bytes at the cursor, with its relocation applied.
inline uint64_t relocated(Walk& walk, DebugSection section, Cursor& cursor, size_t size) {
  const size_t at = cursor.at;
  const uint64_t stored = cursor.fixed(size);
  if (walk.input.relocate == nullptr || cursor.failed) return stored;
  return walk.input.relocate(walk.input.relocation_context, section, at, stored);
}

// A string at `offset` of a string section; false when it does not lie inside.
inline bool string_at(const Walk& walk, DebugSection section, uint64_t offset,
                      std::string_view& text) {
  Cursor cursor = cursor_over(walk, section);
  if (offset >= cursor.size) return false;
  cursor.at = static_cast<size_t>(offset);
  text = cursor.string();
  return !cursor.failed;
}

}  // namespace drelk::dwarf
