// Unit headers of DWARF 2 to 5 and the attributes of their unit DIEs.
#include "dwarf/units.h"

#include <utility>
#include <vector>

#include "dwarf/common_layouts.h"
#include "formats/dwarf.h"

namespace drelk::dwarf {
namespace {

// Makes `unit` a new one.
void start_unit(Unit& unit) {
  unit = Unit();
}

// The abbreviation table at `offset`, decoded once for the object. Tables that damaged
// units place at ever other offsets may hold more records than the section could, each
// decoded anew: then those kept are let go.
bool unit_abbreviations(Walk& walk, uint64_t offset, const Unit& unit) {
  const std::span<const uint8_t> section = walk.input.sections[kDebugAbbrev];
  auto found = walk.abbreviation_tables.find(offset);
  if (found == walk.abbreviation_tables.end()) {
    if (walk.abbreviation_records > 2 * section.size() + 1024) {
      walk.abbreviation_tables.clear();
      walk.abbreviation_records = 0;
    }
    found = walk.abbreviation_tables.emplace(offset, AbbreviationTable()).first;
    if (!read_abbreviations(section, offset, unit.address_size, unit.version, found->second,
                            walk.damage)) {
      walk.abbreviation_tables.erase(found);
      return false;
    }
    walk.abbreviation_records += found->second.entries.size() + found->second.fields.size();
  } else if (!read_abbreviations(section, offset, unit.address_size, unit.version, found->second,
                                 walk.damage)) {
    return false;
  }
  walk.abbreviations = &found->second;
  return true;
}

// What the header of a unit says: `walked` is false for a unit that holds no blocks (a
// version or unit type not read); `header` is left at the unit's first DIE.
bool read_unit_header(Walk& walk, Cursor& header, bool& walked) {
  Unit& unit = walk.unit;
  walked = false;
  unit.version = static_cast<uint16_t>(header.fixed(2));
  if (header.failed) return fail(walk, kDebugInfo, "unit header runs past its unit");
  if (unit.version < kFirstVersion || unit.version > kLastVersion) return true;
  uint64_t abbreviations = 0;
  if (unit.version >= 5) {
    const uint8_t type = header.u8();
    unit.address_size = header.u8();
    abbreviations = relocated(walk, kDebugInfo, header, 4);
    if (type != DW_UT_compile && type != DW_UT_partial) return true;  // no blocks there
  } else {
    abbreviations = relocated(walk, kDebugInfo, header, 4);
    unit.address_size = header.u8();
  }
  if (header.failed) return fail(walk, kDebugInfo, "unit header runs past its unit");
  if (unit.address_size != 2 && unit.address_size != 4 && unit.address_size != 8) {
    return fail(walk, kDebugInfo, "unit of an unknown address size");
  }
  if (!unit_abbreviations(walk, abbreviations, unit)) return false;
  walked = true;
  return true;
}

}  // namespace

void take_unit_attributes(Unit& unit, const Die& die) {
  uint64_t language = 0;
  if (constant(die[kLanguage], language)) {
    switch (language) {
      case DW_LANG_C89:
      case DW_LANG_C:
      case DW_LANG_C_plus_plus:
      case DW_LANG_C99:
      case DW_LANG_C_plus_plus_11:
      case DW_LANG_C11:
      case DW_LANG_C_plus_plus_14:
        unit.lower_bound_zero = true;
        break;
      default:
        break;
    }
  }
  if (die[kStmtList].present) {
    unit.has_line_table = true;
    unit.stmt_list = die[kStmtList].number;
  }
  if (die[kStrOffsetsBase].present) unit.str_offsets_base = die[kStrOffsetsBase].number;
  if (die[kAddrBase].present) unit.addr_base = die[kAddrBase].number;
}

bool read_units(Walk& walk) {
  Cursor cursor = cursor_over(walk, kDebugInfo);
  while (cursor.at < cursor.size) {
    Unit& unit = walk.unit;
    start_unit(unit);
    unit.start = cursor.at;
    const uint64_t length = cursor.fixed(kUnitLengthSize);
    if (cursor.failed) return fail(walk, kDebugInfo, "unit header runs past the section");
    if (length == kDwarf64Escape) return fail(walk, kDebugInfo, "64-bit DWARF is not read");
    if (length >= kReservedLengths || length > cursor.size - cursor.at) {
      return fail(walk, kDebugInfo, "unit length beyond the section");
    }
    unit.end = cursor.at + static_cast<size_t>(length);
    Cursor header = cursor;
    header.size = unit.end;
    cursor.at = unit.end;
    bool walked = false;
    if (!read_unit_header(walk, header, walked)) return false;
    if (walked && !walk_unit(walk, header)) return false;
  }
  return true;
}

}  // namespace drelk::dwarf
