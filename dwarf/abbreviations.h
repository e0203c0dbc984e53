// Abbreviation tables of .debug_abbrev: each abbreviation's tag, whether its DIEs have
// children, and its attribute fields, each with the slot of a Die that it fills and the size
// of its form in the units that use the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dwarf/dwarf.h"

namespace drelk::dwarf {

// The attributes the layouts need, each with its place in a Die.
enum Slot : uint8_t {
  kName,
  kLinkageName,
  kType,
  kLocation,
  kDeclFile,
  kDeclLine,
  kByteSize,
  kEncoding,
  kLowerBound,
  kUpperBound,
  kCount,
  kSibling,
  kLanguage,
  kStmtList,
  kStrOffsetsBase,
  kAddrBase,
  kSlotCount,
  kNoSlot = kSlotCount,  // an attribute the layouts pass over
};
static_assert(kSlotCount <= 32, "a Die marks its attributes in 32 bits");

// The bytes a value of `form` takes in a unit of that address size and version, or
// kVariableSize where the value says its own length (LEB128 numbers, strings, blocks,
// indirect forms) or the form is unknown.
inline constexpr uint8_t kVariableSize = 0xff;
uint8_t form_size(uint64_t form, uint8_t address_size, uint16_t version);

struct AttributeField {
  uint64_t form = 0;
  int64_t implicit_const = 0;
  Slot slot = kNoSlot;
  uint8_t size = kVariableSize;
};
inline constexpr uint64_t kVariableSizes = UINT64_MAX;
struct Abbreviation {
  uint64_t code = 0;
  uint64_t tag = 0;
  bool has_children = false;
  uint32_t first_field = 0;
  uint32_t field_count = 0;
  // The bytes of all the attributes where every form has a fixed size, else
  // kVariableSizes: a DIE of no interest is then passed over in one step.
  uint64_t fixed_size = kVariableSizes;
};
struct AbbreviationTable {
  std::vector<Abbreviation> entries;  // by code where codes run 1, 2, 3...; else sorted
  std::vector<AttributeField> fields;
  bool dense = true;
  uint64_t offset = UINT64_MAX;  // where in .debug_abbrev the table was read from
  uint8_t address_size = 0;      // of the unit that the form sizes are for
  uint16_t version = 0;
};

// Reads the table at `offset` of .debug_abbrev for a unit of that address size and version;
// a table read last from the same offset is kept. False, with the damage, when it cannot be.
bool read_abbreviations(std::span<const uint8_t> section, uint64_t offset, uint8_t address_size,
                        uint16_t version, AbbreviationTable& table, DwarfDamage& damage);

// The abbreviation of `code`, or null.
const Abbreviation* find_abbreviation(const AbbreviationTable& table, uint64_t code);

}  // namespace drelk::dwarf
