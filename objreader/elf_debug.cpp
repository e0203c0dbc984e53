// The debug sections of an ELF object, for the COMMON block layouts: located by name in
// the section-name table, read whole, and, in a relocatable object with RELA relocations,
// paired with the values their relocated fields take. Read only when layouts are asked for.
#include <algorithm>
#include <string_view>

#include "objreader/dwarf_reader.h"
#include "objreader/elf.h"
#include "objreader/elf_reader.h"

namespace drelk {
namespace {

using elf::load_word;

// The values that the RELA relocations of section `target` give its fields: the addend,
// plus the symbol's value where the symbol is a section (a COMMON symbol's value is its
// alignment, and a member's place in its block is the addend alone).
bool read_relocations(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                      const ElfSection& section, std::vector<DebugRelocation>& relocations,
                      std::vector<uint8_t>& buffer) {
  const elf::ClassLayout& layout = *object.layout;
  if (!read_elf_table(reader, stream, object, section.offset, section.size, buffer)) return false;
  const bool is64 = object.encoding.is64;
  const std::vector<uint8_t>& symbols = reader.elf.symbols;
  const size_t count = buffer.size() / layout.rela_size;
  relocations.reserve(relocations.size() + count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* record = buffer.data() + i * layout.rela_size;
    const uint64_t info = load_word(record + layout.r_info, object.encoding);
    if (elf::relocation_type(info, is64) == 0) continue;  // R_*_NONE
    uint64_t addend = load_word(record + layout.r_addend, object.encoding);
    if (!is64) addend = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(addend)));
    const uint64_t symbol = elf::relocation_symbol(info, is64);
    if (symbol < symbols.size() / layout.symbol_size) {
      const uint8_t* entry = symbols.data() + symbol * layout.symbol_size;
      if (elf::symbol_type(entry[layout.st_info]) == elf::STT_SECTION) {
        addend += load_word(entry + layout.st_value, object.encoding);
      }
    }
    relocations.push_back(DebugRelocation{load_word(record, object.encoding), addend});
  }
  // Assemblers write them in offset order already.
  const auto by_offset = [](const DebugRelocation& a, const DebugRelocation& b) {
    return a.offset < b.offset;
  };
  if (!std::is_sorted(relocations.begin(), relocations.end(), by_offset)) {
    std::sort(relocations.begin(), relocations.end(), by_offset);
  }
  return true;
}

}  // namespace

bool read_elf_section_names(ObjectReader& reader, InputStream& stream, const ElfObject& object) {
  reader.elf.section_names.clear();
  if (object.section_names_index == 0 || object.section_names_index >= object.section_count) {
    return true;
  }
  const ElfSection names = elf_section(reader, object, object.section_names_index);
  if (names.type != elf::SHT_STRTAB) return true;
  return read_elf_table(reader, stream, object, names.offset, names.size,
                        reader.elf.section_names);
}

std::string_view elf_section_name(const ObjectReader& reader, uint32_t offset) {
  const std::vector<uint8_t>& names = reader.elf.section_names;
  if (offset >= names.size()) return {};
  const std::string_view rest(reinterpret_cast<const char*>(names.data()) + offset,
                              names.size() - offset);
  return rest.substr(0, rest.find('\0'));
}

void read_elf_layouts(ObjectReader& reader, InputStream& stream, const ElfObject& object) {
  DwarfTables& tables = reader.dwarf;
  reset_debug_sections(tables);
  tables.big_endian = object.encoding.big_endian;
  if (!read_elf_section_names(reader, stream, object)) return;
  uint64_t index[kDebugSectionCount] = {};
  for (uint64_t i = 1; i < object.section_count; ++i) {
    const DebugSection found =
        debug_section_named(elf_section_name(reader, elf_section(reader, object, i).name));
    if (found != kDebugSectionCount && index[found] == 0) index[found] = i;
  }
  if (index[kDebugInfo] == 0) return;
  for (size_t s = 0; s < kDebugSectionCount; ++s) {
    if (index[s] == 0) continue;
    const ElfSection section = elf_section(reader, object, index[s]);
    // Compressed debug sections (gcc -gz) are not expanded: their layouts are not shown.
    if (section.flags & elf::SHF_COMPRESSED) return;
    if (section.type == elf::SHT_NOBITS) continue;
    if (!read_elf_table(reader, stream, object, section.offset, section.size,
                        tables.sections[s].bytes)) {
      return;
    }
    tables.sections[s].present = true;
  }
  // REL relocations keep their addends in the fields, which are read as they stand.
  std::vector<uint8_t> buffer;
  for (uint64_t i = 1; i < object.section_count; ++i) {
    const ElfSection section = elf_section(reader, object, i);
    if (section.type != elf::SHT_RELA) continue;
    for (size_t s = 0; s < kDebugSectionCount; ++s) {
      if (index[s] == 0 || section.info != index[s]) continue;
      if (!read_relocations(reader, stream, object, section, tables.sections[s].relocations,
                            buffer)) {
        return;
      }
    }
  }
  read_common_layouts(reader);
}

}  // namespace drelk
