// The debug sections of a COFF object, for the COMMON block layouts. mingw-w64 writes
// DWARF into sections whose names are longer than the header's eight bytes: the header
// holds "/4" and the name is at offset 4 of the string table. Relocations of debug
// sections keep their addends in the fields, which are read as they stand.
#include <cstring>
#include <string_view>

#include "formats/coff.h"
#include "objreader/coff/coff_reader.h"
#include "objreader/compressed_section.h"
#include "objreader/debug_layouts.h"
#include "objreader/string_table.h"

namespace drelk {

std::string_view coff_section_name(const std::vector<uint8_t>& string_text, const uint8_t* header) {
  const std::string_view field = terminated_name(header, coff::kSymbolNameLength);
  if (field.size() < 2 || field[0] != '/') return field;
  uint32_t offset = 0;
  for (const char c : field.substr(1)) {
    if (c < '0' || c > '9') return {};
    offset = offset * 10 + static_cast<uint32_t>(c - '0');
  }
  // The string table's offsets count its size field, which the tables do not hold.
  if (offset < coff::kStringTableSizeField) return {};
  return StringTable(string_text).name_at(offset - coff::kStringTableSizeField);
}

void read_coff_layouts(ObjectReader& reader, InputStream& stream, uint32_t base) {
  const CoffTables& tables = coff_tables(reader);
  DwarfTables& dwarf = reader.dwarf;
  reset_debug_sections(dwarf);
  // i386 symbols carry a leading underscore that the linkage names do not.
  if (tables.machine == coff::IMAGE_FILE_MACHINE_I386) dwarf.symbol_prefix = "_";
  bool any = false;
  std::vector<uint8_t> stored;
  for (uint32_t i = 1; i <= tables.number_of_sections; ++i) {
    const uint8_t* header = tables.section_table.data() + size_t{i} * coff::kSectionHeaderSize;
    const std::string_view name = coff_section_name(tables.string_text, header);
    // GNU as writes the debug sections of -gz as ".zdebug_" sections.
    const std::string expanded_name = gnu_compressed_section_name(name);
    const bool compressed = !expanded_name.empty();
    const DebugSection found = debug_section_named(compressed ? expanded_name : name);
    if (found == kDebugSectionCount || dwarf.sections[found].present) continue;
    const uint32_t size = load_u32(header + coff::kSectionSizeOfRawData);
    const uint32_t pointer = load_u32(header + coff::kSectionPointerToRawData);
    if (size == 0 || pointer == 0) continue;
    if (!seek_to(stream, base + pointer)) {
      report_short_read(reader.diagnostics, stream.error, 0, size, "analyze");
      return;
    }
    std::vector<uint8_t>& bytes = dwarf.sections[found].bytes;
    if (!table_was_read(reader,
                        read_table(reader, stream, size, compressed ? stored : bytes, "analyze"))) {
      return;
    }
    if (compressed) {
      if (const char* why = expand_gnu_compressed(stored, bytes)) {
        report_unreadable_debug_section(reader, name, why);
        return;
      }
    }
    dwarf.sections[found].present = true;
    any = true;
  }
  if (any) read_common_layouts(reader);
}

}  // namespace drelk
