// The ELF reader: one relocatable object's header, section headers, symbol table and the
// string table it links to, in either class and byte order; and, for GCC's slim LTO
// objects, the symbol tables of their intermediate code.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "formats/elf.h"
#include "objreader/reader.h"

namespace drelk {

// The ELF tables of the object being read. Their buffers are kept from one object to the
// next, so that a run over thousands of objects does not allocate them each time.
struct ElfTables {
  std::vector<uint8_t> section_headers;
  std::vector<uint8_t> symbols;
  std::vector<uint8_t> string_table;              // the symbol table's names
  std::vector<uint8_t> symbol_shndx;              // SHT_SYMTAB_SHNDX: extended section indexes
  std::vector<uint8_t> section_names;             // read only for the sections of an LTO object
  std::vector<std::vector<uint8_t>> lto_symbols;  // an LTO object's symbol tables
  std::vector<uint8_t> lto_kinds;                 // the extension of the one being read
  std::vector<uint64_t> relocation_sections;      // SHT_RELA, for the debug sections
  // A shared library's: its dynamic section, and its symbol versions with their names.
  std::vector<uint8_t> dynamic;
  std::vector<uint8_t> versym;
  std::vector<uint8_t> verdef;
  std::vector<uint8_t> version_strings;
  std::deque<std::string> export_names;  // "@@V1": the versions the exports are shown with
  // A linked file's symbol table and its names, for the addresses of its blocks (-m).
  std::vector<uint8_t> linked_symbols;
  std::vector<uint8_t> linked_strings;
  // For each symbol: whether it is an undefined symbol that a call may name
  // (kMayBeCalled), and whether a call relocation names it (kCalled).
  std::vector<uint8_t> call_targets;
  std::vector<uint8_t> code_relocations;  // a code section's relocations, being read
};

// The reader's ELF tables.
inline ElfTables& elf_tables(ObjectReader& reader) {
  return room_tables<ElfTables>(reader.elf);
}
inline const ElfTables& elf_tables(const ObjectReader& reader) {
  return *static_cast<const ElfTables*>(reader.elf.tables);
}

// Reads the ELF file that starts at the stream's position, `base` in the stream, and is
// `extent` bytes long (the file, or the archive member); `path` names it in diagnostics.
// Relocatable objects are read into the reader's declarations; executables, shared
// objects and core files are refused as no object files. Returns Outcome::kFailed or
// Outcome::kOk.
Outcome read_elf_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                        uint64_t base, uint64_t extent);

// What the ELF reader knows of the object being read, for the LTO reader.
struct ElfObject {
  elf::Encoding encoding;
  const elf::ClassLayout* layout = &elf::kElf64;
  uint16_t machine = 0;
  uint64_t base = 0;
  uint64_t extent = 0;
  uint64_t section_headers = 0;  // e_shoff
  uint64_t section_count = 0;
  uint32_t section_names_index = 0;  // e_shstrndx, extended numbering applied
};

// One section header, decoded.
struct ElfSection {
  uint32_t name = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
  uint64_t entry_size = 0;
  uint64_t flags = 0;
  uint32_t info = 0;
  uint64_t alignment = 0;  // sh_addralign
};

// Section `index` (below object.section_count) of the section headers the reader holds.
ElfSection elf_section(const ObjectReader& reader, const ElfObject& object, uint64_t index);

// Reads `size` bytes at `offset` of the object into `buffer`, never allocating more than
// the stream holds; a stretch the stream cannot reach is reported as a short read.
Outcome read_elf_stretch(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                         uint64_t offset, uint64_t size, std::vector<uint8_t>& buffer);

// The same read for a table whose failure the caller reports in its own words: true when
// it was read; a table that cannot be held is reported as running out of memory.
bool read_elf_table(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                    uint64_t offset, uint64_t size, std::vector<uint8_t>& buffer);

// The symbol versions of a shared library's dynamic symbols: for each version index, its
// name (empty where the library defines none of that index).
struct ElfVersions {
  const std::vector<uint8_t>* versym = nullptr;  // a u16 a symbol, or empty
  std::vector<std::string_view> names;           // by version index
  bool big_endian = false;
};

// The version that the dynamic symbol `symbol` is exported with: "@@V1" for the default
// version, "@V0" for a hidden one, empty for an unversioned symbol.
std::string_view export_version(ObjectReader& reader, const ElfVersions& versions, uint64_t symbol);

// Reads the symbol versions of the dynamic symbol table at section `symbols`: its
// SHT_GNU_versym section and the SHT_GNU_verdef definitions. Damaged versions are
// reported and the symbols read as unversioned.
void read_elf_versions(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                       uint64_t symbols, ElfVersions& versions);

// Whether the ET_DYN file is a position-independent executable (DT_FLAGS_1 has DF_1_PIE in
// its dynamic section) rather than a shared library. A dynamic section that cannot be
// read is reported, and the file read as a library.
bool is_position_independent_executable(ObjectReader& reader, InputStream& stream,
                                        const ElfObject& object);

// Reads the section-name table into the reader's ElfTables::section_names; false, after a
// diagnostic, when it cannot be read. An object without one leaves it empty.
bool read_elf_section_names(ObjectReader& reader, InputStream& stream, const ElfObject& object);

// The name at `offset` of the section-name table, or nothing when it lies outside it.
std::string_view elf_section_name(const ObjectReader& reader, uint32_t offset);

// Locates and reads the debug sections of the object, with the relocations that apply to
// them, and reads the COMMON block layouts they describe into the reader's declarations.
void read_elf_layouts(ObjectReader& reader, InputStream& stream, const ElfObject& object);

// The COMMON block layouts of a linked program's or library's debug information (-m),
// each a declaration of its own, of the extent of its members. A linked file keeps no
// relocations for its debug sections: DW_OP_addr holds a member's final address, and its
// offset in the block is that address minus the block symbol's (its st_value in .symtab).
void read_linked_layouts(ObjectReader& reader, InputStream& stream, const ElfObject& object);

// Adds the COMMON declarations, procedures and data definitions of a slim LTO object's
// symbol tables to the reader's declarations, and reports what of them cannot be read.
// Returns Outcome::kFailed or Outcome::kOk.
Outcome read_lto_symbols(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                         std::string_view path);

}  // namespace drelk
