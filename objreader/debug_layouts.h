// The COMMON block layouts of an object's debug information, as the format readers ask for
// them: each reader locates the debug sections and puts them in the reader's DwarfTables;
// the DWARF reader (dwarf/) reads them, and the diagnostics of what it could not read are
// reported here, the same way for every format.
#pragma once

#include <string_view>

#include "dwarf/dwarf.h"
#include "objreader/reader.h"

namespace drelk {

// Clears the debug sections for the next object, keeping their buffers' storage.
void reset_debug_sections(DwarfTables& tables);

// Reports that the debug section `name` of the object being read cannot be read at all
// (`reason`: compressed with a method this build lacks, or damaged), so that none of the
// object's layouts are shown.
void report_unreadable_debug_section(ObjectReader& reader, std::string_view name,
                                     const char* reason);

// Reads the layouts of the debug sections in the reader's DwarfTables into the reader's
// declarations. A section that cannot be read as DWARF is reported once, and the layouts
// found before it are kept; the object's symbols are not touched.
void read_common_layouts(ObjectReader& reader);

}  // namespace drelk
