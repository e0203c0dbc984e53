// The DWARF reader: the COMMON block layouts that an object's debug information
// describes (DW_TAG_common_block and its DW_TAG_variable members), with the types, offsets
// and source lines of the members. The format readers locate the debug sections and hand
// them over in the reader's DwarfTables; the DWARF reader knows nothing of the container.
#pragma once

#include <string_view>

#include "objreader/reader.h"

namespace drelk {

// Which debug section a section name is, or kDebugSectionCount for none that the layouts
// need. ELF and COFF names (".debug_info") and Mach-O's ("__debug_info") are both known.
DebugSection debug_section_named(std::string_view name);

// Clears the debug sections for the next object, keeping their buffers' storage.
void reset_debug_sections(DwarfTables& tables);

// Reads the layouts of the debug sections in the reader's DwarfTables into the reader's
// declarations. A section that cannot be read as DWARF is reported once, and the layouts
// found before it are kept; the object's symbols are not touched.
void read_common_layouts(ObjectReader& reader);

}  // namespace drelk
