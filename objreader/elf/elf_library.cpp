// What a shared library adds to the ELF reader: the dynamic section's flags, which tell a
// position-independent executable from a library, and the GNU symbol versions that its
// exports are shown with.
#include <string>
#include <string_view>
#include <vector>

#include "formats/elf.h"
#include "objreader/debug_layouts.h"
#include "objreader/elf/elf_reader.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr char kDynamicUnreadable[] = "Error reading dynamic section\n";
constexpr char kVersionsDamaged[] = "Error - symbol version definitions of %s are damaged\n";
// The first section of `type` linked to section `link` (any link when `link` is 0), or 0.
uint64_t find_section(const ObjectReader& reader, const ElfObject& object, uint32_t type,
                      uint64_t link) {
  for (uint64_t i = 1; i < object.section_count; ++i) {
    const ElfSection section = elf_section(reader, object, i);
    if (section.type == type && (link == 0 || section.link == link)) return i;
  }
  return 0;
}

// The NUL-terminated name at `offset` of `strings`, or nothing where it runs past them.
std::string_view string_at(const std::vector<uint8_t>& strings, uint64_t offset) {
  if (offset >= strings.size()) return {};
  const char* begin = reinterpret_cast<const char*>(strings.data()) + offset;
  const size_t room = strings.size() - offset;
  const size_t length = std::string_view(begin, room).find('\0');
  if (length == std::string_view::npos) return {};
  return std::string_view(begin, length);
}

// Walks the Elf_Verdef chain: at most as many records as the section can hold, each
// within it, each next one further on, so that a chain that loops or runs past the
// section's end stops. False where it did.
bool walk_verdefs(const ElfTables& tables, ElfVersions& versions) {
  const std::vector<uint8_t>& verdef = tables.verdef;
  const bool big = versions.big_endian;
  uint64_t at = 0;
  for (uint64_t records = 0; records <= verdef.size() / elf::kVerdefSize; ++records) {
    if (verdef.size() < elf::kVerdefSize || at > verdef.size() - elf::kVerdefSize) return false;
    const uint8_t* record = verdef.data() + at;
    const uint16_t index = load_u16(record + elf::kVerdefNdx, big) & elf::VERSYM_VERSION;
    const uint64_t aux = at + load_u32(record + elf::kVerdefAux, big);
    if (aux > verdef.size() || verdef.size() - aux < elf::kVerdauxSize) return false;
    const std::string_view name =
        string_at(tables.version_strings, load_u32(verdef.data() + aux + elf::kVerdauxName, big));
    if (versions.names.size() <= index) versions.names.resize(index + 1);
    versions.names[index] = name;
    const uint32_t next = load_u32(record + elf::kVerdefNext, big);
    if (next == 0) return true;
    at += next;
  }
  return false;
}

}  // namespace

std::string_view export_version(ObjectReader& reader, const ElfVersions& versions,
                                uint64_t symbol) {
  const std::vector<uint8_t>& versym = *versions.versym;
  if (versym.size() / elf::kVersymEntrySize <= symbol) return {};
  const uint16_t entry =
      load_u16(versym.data() + symbol * elf::kVersymEntrySize, versions.big_endian);
  const uint16_t index = entry & elf::VERSYM_VERSION;
  if (index <= elf::VER_NDX_GLOBAL || index >= versions.names.size() ||
      versions.names[index].empty()) {
    return {};
  }
  std::deque<std::string>& names = elf_tables(reader).export_names;
  names.push_back(((entry & elf::VERSYM_HIDDEN) != 0 ? "@" : "@@") +
                  std::string(versions.names[index]));
  return names.back();
}

void read_elf_versions(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                       uint64_t symbols, ElfVersions& versions) {
  ElfTables& tables = elf_tables(reader);
  tables.versym.clear();
  tables.verdef.clear();
  tables.version_strings.clear();
  tables.export_names.clear();
  versions.versym = &tables.versym;
  versions.names.clear();
  versions.big_endian = object.encoding.big_endian;
  const uint64_t versym = find_section(reader, object, elf::SHT_GNU_versym, symbols);
  const uint64_t verdef = find_section(reader, object, elf::SHT_GNU_verdef, 0);
  if (versym == 0 || verdef == 0) return;
  const ElfSection definitions = elf_section(reader, object, verdef);
  const ElfSection indexes = elf_section(reader, object, versym);
  const bool read =
      definitions.link < object.section_count &&
      read_elf_table(reader, stream, object, indexes.offset, indexes.size, tables.versym) &&
      read_elf_table(reader, stream, object, definitions.offset, definitions.size, tables.verdef);
  if (read && definitions.link != 0) {
    const ElfSection strings = elf_section(reader, object, definitions.link);
    if (!read_elf_table(reader, stream, object, strings.offset, strings.size,
                        tables.version_strings)) {
      tables.version_strings.clear();
    }
  }
  if (!read || !walk_verdefs(tables, versions)) {
    report_error(reader.diagnostics,
                 strprintf(kVersionsDamaged, std::string(reader.object_path).c_str()));
    tables.versym.clear();
    versions.names.clear();
  }
}

bool is_position_independent_executable(ObjectReader& reader, InputStream& stream,
                                        const ElfObject& object) {
  const uint64_t index = find_section(reader, object, elf::SHT_DYNAMIC, 0);
  if (index == 0) return false;
  const ElfSection dynamic = elf_section(reader, object, index);
  ElfTables& tables = elf_tables(reader);
  if (!read_elf_table(reader, stream, object, dynamic.offset, dynamic.size, tables.dynamic)) {
    report_error(reader.diagnostics, kDynamicUnreadable);
    return false;
  }
  const size_t word = object.encoding.is64 ? 8 : 4;
  for (size_t at = 0; tables.dynamic.size() >= 2 * word && at <= tables.dynamic.size() - 2 * word;
       at += 2 * word) {
    const uint64_t tag = elf::load_word(tables.dynamic.data() + at, object.encoding);
    if (tag == elf::DT_NULL) break;
    if (tag == elf::DT_FLAGS_1) {
      return (elf::load_word(tables.dynamic.data() + at + word, object.encoding) & elf::DF_1_PIE) !=
             0;
    }
  }
  return false;
}

namespace {

// The defined data symbols named in `addresses`, from the linked file's symbol table
// (.symtab, or .dynsym where it has none). False, after a diagnostic, when it cannot be
// read.
bool block_addresses(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                     LinkedBlocks& addresses) {
  uint64_t index = find_section(reader, object, elf::SHT_SYMTAB, 0);
  if (index == 0) index = find_section(reader, object, elf::SHT_DYNSYM, 0);
  if (index == 0) return true;
  const ElfSection table = elf_section(reader, object, index);
  ElfTables& tables = elf_tables(reader);
  if (table.link >= object.section_count) return true;
  const ElfSection strings = elf_section(reader, object, table.link);
  if (!read_elf_table(reader, stream, object, table.offset, table.size, tables.linked_symbols) ||
      !read_elf_table(reader, stream, object, strings.offset, strings.size,
                      tables.linked_strings)) {
    return false;
  }
  const elf::ClassLayout& layout = *object.layout;
  const bool big = object.encoding.big_endian;
  const size_t count = tables.linked_symbols.size() / layout.symbol_size;
  for (size_t i = 1; i < count; ++i) {
    const uint8_t* record = tables.linked_symbols.data() + i * layout.symbol_size;
    const uint8_t type = elf::symbol_type(record[layout.st_info]);
    if (load_u16(record + layout.st_shndx, big) == elf::SHN_UNDEF || type != elf::STT_OBJECT) {
      continue;
    }
    const std::string_view name = string_at(tables.linked_strings, load_u32(record, big));
    const auto wanted = addresses.find(name);
    if (wanted == addresses.end()) continue;
    LinkedBlock& block = wanted->second;
    block.address = elf::load_word(record + layout.st_value, object.encoding);
    block.size = elf::load_word(record + layout.st_size, object.encoding);
    const uint16_t section = load_u16(record + layout.st_shndx, big);
    block.initialised = section < object.section_count &&
                        elf_section(reader, object, section).type != elf::SHT_NOBITS;
  }
  return true;
}

}  // namespace

void read_linked_layouts(ObjectReader& reader, InputStream& stream, const ElfObject& object) {
  ObjectDeclarations& declarations = reader.declarations;
  read_elf_layouts(reader, stream, object);
  if (declarations.layouts.empty()) return;
  LinkedBlocks addresses = blocks_of_layouts(declarations);
  if (!block_addresses(reader, stream, object, addresses)) {
    declarations.layouts.clear();
    declarations.members.clear();
    return;
  }
  place_linked_layouts(reader, addresses);
}

}  // namespace drelk
