// Attribute values and DIEs: each value read in its form, the attributes the layouts need
// kept in the slots of a Die, the others passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dwarf/abbreviations.h"
#include "dwarf/walk.h"
#include "formats/cursor.h"

namespace drelk::dwarf {

// An attribute's value as read: the form it was read in, the number it holds (a constant,
// an offset, an index, or for strings and blocks the place of their bytes in .debug_info)
// and, for blocks, their length. Left uninitialised in a Die until read: a Die marks which
// of its values were.
struct Value {
  bool present;
  uint64_t form;
  uint64_t number;
  size_t length;
};
inline constexpr Value kAbsent{};

// The attributes the layouts need, of one DIE.
struct Die {
  size_t offset = 0;  // in .debug_info
  uint64_t tag = 0;
  bool has_children = false;
  uint32_t read = 0;  // a bit for each slot whose value was read
  Value values[kSlotCount];

  const Value& operator[](Slot slot) const { return (read >> slot) & 1 ? values[slot] : kAbsent; }
};

// Reads the abbreviation code of the DIE at the cursor: `abbreviation` is null for the
// entry that ends a list of children.
bool read_code(Walk& walk, Cursor& cursor, const Abbreviation*& abbreviation);

// Passes over the attributes of a DIE whose forms all have fixed sizes.
bool skip_fixed_attributes(Walk& walk, Cursor& cursor, const Abbreviation& abbreviation);

// Reads the attributes of a DIE of `abbreviation` into `die`: the values of the slots the
// layouts need; the others are passed over, by their size where their form fixes it.
bool read_attributes(Walk& walk, Cursor& cursor, const Abbreviation& abbreviation, Die& die);

// Reads the DIE at the cursor. `die.tag` is 0 for the null entry that ends a list of
// children.
bool read_die(Walk& walk, Cursor& cursor, Die& die);

// The unsigned constant a value holds, where it holds one.
bool constant(const Value& value, uint64_t& number);

// A bound of an array: constants of either sign.
bool signed_constant(const Value& value, int64_t& number);

// A reference to a DIE of the same unit (DW_FORM_ref1 to ref8, ref_udata).
bool is_unit_reference(uint64_t form);

// The text of a string attribute; empty for a form that holds no string.
bool string_value(Walk& walk, const Value& value, std::string_view& text);

}  // namespace drelk::dwarf
