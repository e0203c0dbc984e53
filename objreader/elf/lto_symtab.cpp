// GCC's LTO symbol tables. A slim LTO object (gcc -flto without -ffat-lto-objects) holds
// intermediate code instead of machine code, and its ELF symbol table holds only the
// marker __gnu_lto_slim: the symbols the linker plugin sees are in ".gnu.lto_.symtab.<id>"
// sections, with ".gnu.lto_.ext_symtab.<id>" telling functions from variables.
//
// A symbol table record: name\0, comdat name\0, kind (u8), visibility (u8), size (u64),
// slot (u32). GCC writes the two numbers in the byte order of the machine it runs on, which
// for every GCC that drelk's users run is little-endian. Kind 4 is a COMMON declaration
// whose size is recorded; definitions carry no size.
#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/cursor.h"
#include "formats/elf.h"
#include "objreader/elf/elf_reader.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

uint64_t load_le64(const uint8_t* p) {
  return load_u64(p, false);
}

// The part of `name` after `prefix` when the name is the prefix alone or the prefix
// followed by '.' and an identifier; false for any other name.
bool lto_table_suffix(std::string_view name, std::string_view prefix, std::string_view& suffix) {
  if (name.substr(0, prefix.size()) != prefix) return false;
  suffix = name.substr(prefix.size());
  return suffix.empty() || suffix[0] == '.';
}

// Reads the records of one symbol table into the reader's declarations, with the symbol
// types of `kinds` (its extension; empty when there is none that can be read). Returns
// false when a record runs past the table's end or a definition's type is not given.
bool scan_lto_table(ObjectReader& reader, const std::vector<uint8_t>& table,
                    const std::vector<uint8_t>& kinds, bool& declared_all) {
  // Version 1 of the extension is the one there is.
  const bool has_kinds = !kinds.empty() && kinds[0] == 1;
  bool sound = true;
  Cursor records = make_cursor(table, false);
  for (uint64_t symbol = 0; records.at < records.size; ++symbol) {
    const std::string_view name = records.string();
    records.string();  // the comdat's name
    const uint8_t* fields = records.data + records.at;
    records.skip(elf::kLtoSymbolFieldsSize);
    if (records.failed) return false;

    const uint8_t kind = fields[elf::kLtoSymbolKind];
    const size_t kind_at = elf::kLtoExtHeaderSize + symbol * elf::kLtoExtEntrySize;
    const bool typed = has_kinds && kind_at + elf::kLtoExtEntrySize <= kinds.size();
    const uint8_t type = typed ? kinds[kind_at] : 0;
    bool declared = true;
    if (name == elf::kLtoSlimMarker) continue;
    if (kind == elf::LDPK_COMMON) {
      declared = declare(reader, Declaration{Declaration::kCommon, false, name,
                                             load_le64(fields + elf::kLtoSymbolSize), 0});
    } else if (kind == elf::LDPK_DEF || kind == elf::LDPK_WEAKDEF) {
      if (!typed) {
        sound = false;  // a definition that nothing tells a function or a variable
      } else if (type == elf::LDST_FUNCTION) {
        if (name.find('@') == std::string_view::npos) {
          declared = declare(reader, Declaration{Declaration::kProcedure, false, name, 0, 0});
        }
      } else if (type == elf::LDST_VARIABLE && kind == elf::LDPK_DEF) {
        declared = declare(reader, Declaration{Declaration::kInitializedData, false, name, 0, 0});
      }
    }
    if (!declared) declared_all = false;
  }
  return sound;
}

}  // namespace

Outcome read_lto_symbols(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                         std::string_view path) {
  ElfTables& tables = elf_tables(reader);
  tables.lto_symbols.clear();
  tables.section_names.clear();
  const auto unreadable = [&] {
    report_error(reader.diagnostics, strprintf("Error - unreadable LTO symbol table in %s\n",
                                               std::string(path).c_str()));
    return Outcome::kFailed;
  };
  if (object.section_names_index == 0 || object.section_names_index >= object.section_count) {
    return unreadable();
  }
  const ElfSection names = elf_section(reader, object, object.section_names_index);
  if (names.type != elf::SHT_STRTAB ||
      !read_elf_table(reader, stream, object, names.offset, names.size, tables.section_names)) {
    return unreadable();
  }

  // The tables and their extensions, paired by suffix, in one pass over the sections.
  std::vector<std::pair<std::string_view, uint64_t>> symbol_tables;
  std::map<std::string_view, uint64_t> extensions;
  for (uint64_t i = 1; i < object.section_count; ++i) {
    const std::string_view name = elf_section_name(reader, elf_section(reader, object, i).name);
    std::string_view suffix;
    if (lto_table_suffix(name, elf::kLtoSymtabPrefix, suffix)) {
      symbol_tables.emplace_back(suffix, i);
    } else if (lto_table_suffix(name, elf::kLtoExtSymtabPrefix, suffix)) {
      extensions.emplace(suffix, i);
    }
  }

  bool sound = !symbol_tables.empty();
  bool declared_all = true;
  // Tables that do not share bytes fit in the object together: tables claiming more than
  // that are damaged, and are not all held at once.
  uint64_t held = 0;
  // The extension last read, by the bytes it lies in: tables that share one extension
  // (their names may repeat) decode it once. Extensions in different places are held to
  // what the object holds, as the tables are.
  uint64_t extension_held = 0;
  bool extension_kept = false;
  std::pair<uint64_t, uint64_t> extension_read{0, 0};
  for (const auto& [suffix, index] : symbol_tables) {
    const ElfSection section = elf_section(reader, object, index);
    if (section.size > object.extent - std::min(held, object.extent)) {
      sound = false;
      break;
    }
    held += section.size;
    // The declarations refer to the table's bytes until the object is registered.
    tables.lto_symbols.emplace_back();
    std::vector<uint8_t>& table = tables.lto_symbols.back();
    if (!read_elf_table(reader, stream, object, section.offset, section.size, table)) {
      sound = false;
      continue;
    }
    if (const auto found = extensions.find(suffix); found == extensions.end()) {
      tables.lto_kinds.clear();
      extension_kept = false;
    } else {
      const ElfSection extension = elf_section(reader, object, found->second);
      const std::pair<uint64_t, uint64_t> bytes{extension.offset, extension.size};
      if (!extension_kept || extension_read != bytes) {
        tables.lto_kinds.clear();
        extension_kept = true;
        extension_read = bytes;
        if (extension.size > object.extent - std::min(extension_held, object.extent)) {
          sound = false;
          break;
        }
        extension_held += extension.size;
        if (!read_elf_table(reader, stream, object, extension.offset, extension.size,
                            tables.lto_kinds)) {
          tables.lto_kinds.clear();
        }
      }
    }
    if (!scan_lto_table(reader, table, tables.lto_kinds, declared_all)) sound = false;
  }
  if (!declared_all) report_out_of_memory(reader.diagnostics, path);
  if (!sound) return unreadable();
  return declared_all ? Outcome::kOk : Outcome::kFailed;
}

}  // namespace drelk
