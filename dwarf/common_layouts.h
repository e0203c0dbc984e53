// The walk of a unit's DIEs for the COMMON blocks that its routines and modules declare.
#pragma once

#include "dwarf/walk.h"
#include "formats/cursor.h"

namespace drelk::dwarf {

// Walks the DIEs of the unit from the cursor to the unit's end, appending the layouts of
// its common blocks to the walk's output.
bool walk_unit(Walk& walk, Cursor& cursor);

}  // namespace drelk::dwarf
