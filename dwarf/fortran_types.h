// Members' types as Fortran shows them (INTEGER*4, REAL*8, CHARACTER*8, TYPE(point)), with
// the dimensions of arrays and the sizes in bytes, from the type DIEs of a unit.
#pragma once

#include "dwarf/forms.h"
#include "dwarf/walk.h"

namespace drelk::dwarf {

// The type an attribute refers to, met at `depth` of a chain of types; an absent or
// unusable reference gives "?". Each type DIE of the unit is described once.
bool referenced_type(Walk& walk, const Value& type, int depth, MemberType& shown);

}  // namespace drelk::dwarf
