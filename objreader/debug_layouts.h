// The COMMON block layouts of an object's debug information, as the format readers ask for
// them: each reader locates the debug sections and puts them in the reader's DwarfTables;
// the DWARF reader (dwarf/) reads them, and the diagnostics of what it could not read are
// reported here, the same way for every format.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

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

// A block as a linked program or library allots it: its address, its size, and whether it
// lies in a section with data (a BLOCK DATA's initialised block) rather than in zero-filled
// storage. Formats whose symbols carry no size (Mach-O, PE) give the bound of the block's
// place instead: up to the next symbol of its section, or to the section's end.
struct LinkedBlock {
  uint64_t address = UINT64_MAX;
  uint64_t size = 0;
  bool initialised = false;
  bool bounded = false;
};

// The blocks that a linked file's layouts name, by their symbols, for the format's symbol
// table to give their addresses.
using LinkedBlocks = std::unordered_map<std::string_view, LinkedBlock>;

// A symbol of a linked image defined in a section (numbered from 1), at `address`, for
// the bounds of blocks whose format records no sizes.
struct SectionSymbol {
  uint32_t section = 0;
  uint64_t address = 0;
  bool operator<(const SectionSymbol& other) const {
    return section != other.section ? section < other.section : address < other.address;
  }
};

// Gives `block`, the symbol `at` in a section that ends at `section_end`, the symbol's
// address and the bound of its size: up to the next symbol of its section in `placed` (sorted), or
// to the section's end.
void bound_linked_block(LinkedBlock& block, const std::vector<SectionSymbol>& placed,
                        const SectionSymbol& at, uint64_t section_end);

// The blocks that the layouts read name, each without an address yet.
LinkedBlocks blocks_of_layouts(const ObjectDeclarations& declarations);

// Turns the layouts of a linked program's or library's debug information into the
// declarations of the file (-m): a linked file keeps no relocations for its debug sections,
// so DW_OP_addr holds a member's final address, and its offset in the block is that address
// minus the block's (from `blocks`). Each routine's layout becomes a declaration of its own,
// as large as its members reach; a block without an address, or with a member before it,
// is reported once and its layouts left out. A program's block that a BLOCK DATA
// initialised keeps the size the linker gave it (a library's exports define its blocks
// already). Sets the declarations' `program` when a layout is kept.
void place_linked_layouts(ObjectReader& reader, const LinkedBlocks& blocks);

}  // namespace drelk
