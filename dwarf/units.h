// Units of .debug_info: their headers, their own attributes, and the walk of each.
#pragma once

#include "dwarf/forms.h"
#include "dwarf/walk.h"

namespace drelk::dwarf {

// The unit's own attributes: language, line table, string and address bases.
void take_unit_attributes(Unit& unit, const Die& die);

// Reads every unit of .debug_info (versions 2 to 5, 32-bit DWARF; other versions and unit
// types are passed over), walking each for its COMMON block layouts.
bool read_units(Walk& walk);

}  // namespace drelk::dwarf
