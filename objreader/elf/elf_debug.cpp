// The debug sections of an ELF object, for the COMMON block layouts: located by name in
// the section-name table, read whole, and, in a relocatable object with RELA relocations,
// paired with the values their relocated fields take. Read only when layouts are asked for.
#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

#include "formats/elf.h"
#include "objreader/compressed_section.h"
#include "objreader/debug_layouts.h"
#include "objreader/elf/elf_reader.h"
#include "objreader/string_table.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

// The values that the RELA relocations in `records` give their fields: the addend, plus
// the symbol's value where the symbol is a section (a COMMON symbol's value is its
// alignment, and a member's place in its block is the addend alone). Compiled for each
// class and byte order: a -g object has a relocation for every string of its debug
// information.
template <bool kIs64, bool kBigEndian>
void take_relocations(const ElfObject& object, const std::vector<uint8_t>& records,
                      const std::vector<uint8_t>& symbols,
                      std::vector<DebugRelocation>& relocations) {
  const elf::ClassLayout& layout = *object.layout;
  const auto word = [](const uint8_t* p) -> uint64_t {
    return kIs64 ? load_u64(p, kBigEndian) : load_u32(p, kBigEndian);
  };
  const size_t count = records.size() / layout.rela_size;
  const uint64_t symbol_count = symbols.size() / layout.symbol_size;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* record = records.data() + i * layout.rela_size;
    const uint64_t info = word(record + layout.r_info);
    if (elf::relocation_type(info, kIs64) == 0) continue;  // R_*_NONE
    uint64_t addend = word(record + layout.r_addend);
    if (!kIs64) addend = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(addend)));
    const uint64_t symbol = elf::relocation_symbol(info, kIs64);
    if (symbol < symbol_count) {
      const uint8_t* entry = symbols.data() + symbol * layout.symbol_size;
      if (elf::symbol_type(entry[layout.st_info]) == elf::STT_SECTION) {
        addend += word(entry + layout.st_value);
      }
    }
    relocations.push_back(DebugRelocation{word(record), addend});
  }
}

// The values that the RELA relocations of `section` give the fields of the section they
// apply to, appended to `relocations`.
bool read_relocations(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                      const ElfSection& section, std::vector<DebugRelocation>& relocations,
                      std::vector<uint8_t>& buffer) {
  if (!read_elf_table(reader, stream, object, section.offset, section.size, buffer)) return false;
  const std::vector<uint8_t>& symbols = elf_tables(reader).symbols;
  if (object.encoding.is64) {
    if (object.encoding.big_endian) {
      take_relocations<true, true>(object, buffer, symbols, relocations);
    } else {
      take_relocations<true, false>(object, buffer, symbols, relocations);
    }
  } else if (object.encoding.big_endian) {
    take_relocations<false, true>(object, buffer, symbols, relocations);
  } else {
    take_relocations<false, false>(object, buffer, symbols, relocations);
  }
  return true;
}

// Sorts the relocations of a section by the offset of their fields, once all are gathered;
// assemblers write them in offset order already.
void sort_relocations(std::vector<DebugRelocation>& relocations) {
  const auto by_offset = [](const DebugRelocation& a, const DebugRelocation& b) {
    return a.offset < b.offset;
  };
  if (!std::is_sorted(relocations.begin(), relocations.end(), by_offset)) {
    std::sort(relocations.begin(), relocations.end(), by_offset);
  }
}

}  // namespace

bool read_elf_section_names(ObjectReader& reader, InputStream& stream, const ElfObject& object) {
  elf_tables(reader).section_names.clear();
  if (object.section_names_index == 0 || object.section_names_index >= object.section_count) {
    return true;
  }
  const ElfSection names = elf_section(reader, object, object.section_names_index);
  if (names.type != elf::SHT_STRTAB) return true;
  return read_elf_table(reader, stream, object, names.offset, names.size,
                        elf_tables(reader).section_names);
}

std::string_view elf_section_name(const ObjectReader& reader, uint32_t offset) {
  return StringTable(elf_tables(reader).section_names).name_at(offset);
}

void read_elf_layouts(ObjectReader& reader, InputStream& stream, const ElfObject& object) {
  DwarfTables& tables = reader.dwarf;
  reset_debug_sections(tables);
  tables.big_endian = object.encoding.big_endian;
  if (!read_elf_section_names(reader, stream, object)) return;
  uint64_t index[kDebugSectionCount] = {};
  bool gnu_compressed[kDebugSectionCount] = {};  // a ".zdebug_" section
  std::vector<uint64_t>& relocations = elf_tables(reader).relocation_sections;
  relocations.clear();
  for (uint64_t i = 1; i < object.section_count; ++i) {
    const ElfSection section = elf_section(reader, object, i);
    if (section.type == elf::SHT_RELA) relocations.push_back(i);
    const std::string_view name = elf_section_name(reader, section.name);
    DebugSection found = debug_section_named(name);
    bool gnu = false;
    if (found == kDebugSectionCount && name.substr(0, 2) == ".z") {
      found = debug_section_named(gnu_compressed_section_name(name));
      gnu = true;
    }
    if (found != kDebugSectionCount && index[found] == 0) {
      index[found] = i;
      gnu_compressed[found] = gnu;
    }
  }
  if (index[kDebugInfo] == 0) return;
  std::vector<uint8_t> stored;
  for (size_t s = 0; s < kDebugSectionCount; ++s) {
    if (index[s] == 0) continue;
    const ElfSection section = elf_section(reader, object, index[s]);
    if (section.type == elf::SHT_NOBITS) continue;
    std::vector<uint8_t>& bytes = tables.sections[s].bytes;
    const bool compressed = (section.flags & elf::SHF_COMPRESSED) != 0 || gnu_compressed[s];
    if (!read_elf_table(reader, stream, object, section.offset, section.size,
                        compressed ? stored : bytes)) {
      return;
    }
    // Compressed sections (gcc -gz) are expanded; the relocations apply to what they hold.
    if (compressed) {
      const char* why = gnu_compressed[s]
                            ? expand_gnu_compressed(stored, bytes)
                            : expand_elf_compressed(stored, object.encoding.is64,
                                                    object.encoding.big_endian, bytes);
      if (why != nullptr) {
        report_unreadable_debug_section(reader, elf_section_name(reader, section.name), why);
        return;
      }
    }
    tables.sections[s].present = true;
  }
  // REL relocations keep their addends in the fields, which are read as they stand. A
  // table that several RELA sections name is read once; tables in different places are held
  // to what the object holds.
  std::vector<uint8_t> buffer;
  std::set<std::tuple<uint64_t, uint64_t, size_t>> read;
  uint64_t held = 0;
  for (const uint64_t r : relocations) {
    const ElfSection section = elf_section(reader, object, r);
    for (size_t s = 0; s < kDebugSectionCount; ++s) {
      if (index[s] == 0 || section.info != index[s]) continue;
      if (!read.emplace(section.offset, section.size, s).second) continue;
      if (section.size > object.extent - std::min(held, object.extent)) {
        report_error(reader.diagnostics,
                     strprintf("Debug Information Error: %s in %s cannot be read (its relocations "
                               "claim more than the object holds); COMMON block layouts after "
                               "that are not shown\n",
                               debug_section_name(static_cast<DebugSection>(s)),
                               std::string(reader.object_path).c_str()));
        return;
      }
      held += section.size;
      if (!read_relocations(reader, stream, object, section, tables.sections[s].relocations,
                            buffer)) {
        return;
      }
    }
  }
  for (size_t s = 0; s < kDebugSectionCount; ++s) sort_relocations(tables.sections[s].relocations);
  read_common_layouts(reader);
}

}  // namespace drelk
