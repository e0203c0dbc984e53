// The Mach-O reader: one relocatable object's header, load commands (segments with their
// sections, the symbol table command), the layout of its sections in the file and the scan
// of its symbols, in either class and byte order; and the slice table of universal files.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "objreader/object_formats.h"
#include "objreader/reader.h"

namespace drelk {

// A Mach-O section as the layout checks and the symbol scan need it.
struct MachOSection {
  uint64_t address = 0;  // in the linked image
  uint64_t offset = 0;   // its data in the object
  uint64_t size = 0;
  uint64_t relocations_offset = 0;
  uint64_t relocations_size = 0;            // nreloc entries of 8 bytes
  uint32_t flags = 0;                       // type and attributes
  uint64_t alignment = 1;                   // in bytes: 2 to the power of its align field
  uint64_t record_offset = 0;               // where its section record stands in the stream
  DebugSection debug = kDebugSectionCount;  // a section of the __DWARF segment the layouts read
};

// The Mach-O tables of the object being read, their buffers kept from one object to the
// next as ELF's are.
struct MachOTables {
  std::vector<uint8_t> load_commands;
  std::vector<MachOSection> sections;  // numbered from 1 as n_sect numbers them
  std::vector<uint8_t> symbols;
  std::vector<uint8_t> string_table;
  std::vector<uint8_t> export_trie;  // a linked image's
  std::deque<std::string> export_names;
};

// The reader's Mach-O tables.
inline MachOTables& macho_tables(ObjectReader& reader) {
  return room_tables<MachOTables>(reader.macho);
}

// Reads the Mach-O file that starts at the stream's position, `base` in the stream, and
// is `extent` bytes long (the file, the archive member or the universal file's slice);
// `path` names it in diagnostics. Relocatable objects are read into the reader's
// declarations; dylibs and bundles are read for the data they export (from the symbol
// table, or from the export trie where there is none); executables and the other linked
// types are refused as no object files. Returns Outcome::kFailed or Outcome::kOk.
Outcome read_macho_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                          uint64_t base, uint64_t extent);

// The data that a linked image's export trie (`trie`, its bytes) names, declared as
// definitions without sizes: the names of its regular and thread-local exports at an
// address in a section without instructions. `sections` give the addresses, counted from
// `image_base`. A trie whose nodes loop, or run past its end, is reported. False after
// such a diagnostic.
bool read_export_trie(ObjectReader& reader, const std::vector<uint8_t>& trie,
                      const std::vector<MachOSection>& sections, uint64_t image_base);

// One architecture's slice of a universal file: where it lies in the stream.
struct UniversalSlice {
  uint32_t cpu_type = 0;
  uint32_t cpu_subtype = 0;
  uint64_t offset = 0;  // in the stream
  uint64_t size = 0;
};

// Reads the header and slice table of the universal file at `base` in the stream, `extent`
// bytes long, into `slices`: only those that lie inside the file, each other one reported.
// Returns Outcome::kFailed after a diagnostic when the table cannot be read, or some slice
// lies outside the file.
Outcome read_universal_header(ObjectReader& reader, InputStream& stream, std::string_view path,
                              uint64_t base, uint64_t extent, std::vector<UniversalSlice>& slices);

// The slices of the universal file at `base`, `extent` bytes long, each with its
// architecture's name: the reader of universal files in the table of formats.
Outcome read_universal_slices(ObjectReader& reader, InputStream& stream, std::string_view path,
                              uint64_t base, uint64_t extent, std::vector<Slice>& slices);

// The architecture's usual name ("x86_64", "arm64", "armv7"), or "cputype N" for a CPU
// type drelk does not know.
std::string architecture_name(uint32_t cpu_type, uint32_t cpu_subtype);

}  // namespace drelk
