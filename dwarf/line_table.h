// The file names of a unit's line table (.debug_line), for the source files of the layouts.
#pragma once

#include <string_view>

#include "dwarf/forms.h"
#include "dwarf/walk.h"

namespace drelk::dwarf {

// The source file of a decl_file index, as the compiler recorded it: the name, behind its
// directory unless that is the compilation directory (or the name is absolute). The line
// table header is read the first time a unit asks; each file's path is composed once.
bool source_file(Walk& walk, const Value& decl_file, std::string_view& path);

}  // namespace drelk::dwarf
