// The ELF reader: the header, the section headers (with the extended numbering of large
// section counts), the layout of the sections in the file, the symbol table with the
// string table it links to and its extended section indexes, and the scan of its symbols.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/elf.h"
#include "objreader/elf/elf_reader.h"
#include "objreader/identify.h"
#include "objreader/messages.h"
#include "objreader/stretch_index.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

using elf::load_word;

constexpr const char* kLabel = "analyze";

// A symbol of the table, decoded.
struct ElfSymbol {
  uint32_t name = 0;
  uint8_t info = 0;
  uint16_t shndx = 0;
  uint64_t value = 0;
  uint64_t size = 0;
};

ElfSymbol decode_symbol(const uint8_t* record, const ElfObject& object) {
  const elf::ClassLayout& layout = *object.layout;
  const bool big = object.encoding.big_endian;
  ElfSymbol symbol;
  symbol.name = load_u32(record + layout.st_name, big);
  symbol.info = record[layout.st_info];
  symbol.shndx = load_u16(record + layout.st_shndx, big);
  symbol.value = load_word(record + layout.st_value, object.encoding);
  symbol.size = load_word(record + layout.st_size, object.encoding);
  return symbol;
}

// A COMMON declaration: its st_size is the block's size, its st_value an alignment.
bool is_common_declaration(const ElfSymbol& symbol, const ElfObject& object) {
  return symbol.shndx == elf::SHN_COMMON ||
         (object.machine == elf::EM_X86_64 && symbol.shndx == elf::SHN_X86_64_LCOMMON);
}

bool is_defined(const ElfSymbol& symbol) {
  return symbol.shndx != elf::SHN_UNDEF;
}

// A procedure: a defined function of any binding, static functions included.
bool is_procedure(const ElfSymbol& symbol) {
  const uint8_t type = elf::symbol_type(symbol.info);
  return is_defined(symbol) && (type == elf::STT_FUNC || type == elf::STT_GNU_IFUNC);
}

// An undefined global or weak symbol of no type or of function type: what a call of a
// procedure that another object defines names.
bool may_be_called(const ElfSymbol& symbol) {
  const uint8_t type = elf::symbol_type(symbol.info);
  const uint8_t binding = elf::symbol_binding(symbol.info);
  return !is_defined(symbol) && symbol.name != 0 &&
         (binding == elf::STB_GLOBAL || binding == elf::STB_WEAK) &&
         (type == elf::STT_NOTYPE || type == elf::STT_FUNC);
}

// Initialised data: a global (neither local nor weak) data object defined in a section.
// Weak definitions are not (flang's string literals in COMDAT groups are weak objects).
bool is_initialized_data(const ElfSymbol& symbol) {
  const uint8_t type = elf::symbol_type(symbol.info);
  const bool in_a_section = symbol.shndx != elf::SHN_UNDEF &&
                            (symbol.shndx < elf::SHN_LORESERVE || symbol.shndx == elf::SHN_XINDEX);
  return in_a_section && elf::symbol_binding(symbol.info) == elf::STB_GLOBAL &&
         (type == elf::STT_OBJECT || type == elf::STT_TLS);
}

// Data a shared library exports: a data object (or thread-local one) defined in a section
// with global, weak or unique binding; what it only refers to (undefined) is not.
bool is_exported_data(const ElfSymbol& symbol) {
  const uint8_t type = elf::symbol_type(symbol.info);
  const uint8_t binding = elf::symbol_binding(symbol.info);
  const bool in_a_section = symbol.shndx != elf::SHN_UNDEF &&
                            (symbol.shndx < elf::SHN_LORESERVE || symbol.shndx == elf::SHN_XINDEX);
  return in_a_section && (type == elf::STT_OBJECT || type == elf::STT_TLS) &&
         (binding == elf::STB_GLOBAL || binding == elf::STB_WEAK || binding == elf::STB_GNU_UNIQUE);
}

// Declares the export `name` of dynamic symbol `index` as a definition of its size, named
// by its bare name, with the version it is exported with: from the version table, or from
// the name itself where a symbol table spells it ("blk_@@V1").
bool declare_export(ObjectReader& reader, const ElfVersions& versions, uint64_t index,
                    std::string_view name, const ElfSymbol& symbol, uint64_t alignment) {
  const size_t at = name.find('@');
  const std::string_view bare = name.substr(0, at);
  const std::string_view version =
      at != std::string_view::npos ? name.substr(at) : export_version(reader, versions, index);
  if (!version.empty()) {
    try {
      reader.declarations.versions.push_back(ExportVersion{bare, version});
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  return declare(reader, Declaration{Declaration::kInitializedData, true, bare, symbol.size,
                                     alignment, false});
}

// Reads the identification bytes and the rest of the header of the file's class.
// False after a diagnostic when the object cannot be read on.
bool read_header(ObjectReader& reader, InputStream& stream, std::string_view path,
                 uint8_t (&header)[elf::kElf64.header_size], ElfObject& object) {
  if (read_checked(reader, stream, elf::EI_NIDENT, header, kLabel) == 0) {
    report_error(reader.diagnostics, message::kFileHeaderUnreadable);
    return false;
  }
  const uint8_t file_class = header[elf::EI_CLASS];
  const uint8_t data = header[elf::EI_DATA];
  if ((file_class != elf::ELFCLASS32 && file_class != elf::ELFCLASS64) ||
      (data != elf::ELFDATA2LSB && data != elf::ELFDATA2MSB) ||
      header[elf::EI_VERSION] != elf::EV_CURRENT) {
    report_unsupported_header(reader, "ELF", path);
    return false;
  }
  object.encoding.is64 = file_class == elf::ELFCLASS64;
  object.encoding.big_endian = data == elf::ELFDATA2MSB;
  object.layout = &elf::layout_of(object.encoding);
  if (read_checked(reader, stream, object.layout->header_size - elf::EI_NIDENT,
                   header + elf::EI_NIDENT, kLabel) == 0) {
    report_error(reader.diagnostics, message::kFileHeaderUnreadable);
    return false;
  }
  if (load_u32(header + object.layout->e_version, object.encoding.big_endian) != elf::EV_CURRENT) {
    report_unsupported_header(reader, "ELF", path);
    return false;
  }
  return true;
}

// Reads the section headers: e_shnum of them at e_shoff, or, when there are more than
// e_shnum can hold (it is then 0), as many as the first header's sh_size says. The
// section-name table's index is in the first header's sh_link when e_shstrndx says
// SHN_XINDEX. False after a diagnostic when they cannot be read.
bool read_section_headers(ObjectReader& reader, InputStream& stream, std::string_view path,
                          const uint8_t* header, ElfObject& object) {
  const elf::ClassLayout& layout = *object.layout;
  const bool big = object.encoding.big_endian;
  const uint64_t table = load_word(header + layout.e_shoff, object.encoding);
  object.section_headers = table;
  const uint16_t entry_size = load_u16(header + layout.e_shentsize, big);
  uint64_t count = load_u16(header + layout.e_shnum, big);
  object.section_names_index = load_u16(header + layout.e_shstrndx, big);
  elf_tables(reader).section_headers.clear();
  object.section_count = 0;
  if (table == 0) return true;  // no section headers at all
  if (entry_size != layout.section_header_size) {
    report_unsupported_header(reader, "ELF", path);
    return false;
  }
  const auto read = [&](uint64_t headers) {
    if (read_elf_table(reader, stream, object, table, saturating_multiply(headers, entry_size),
                       elf_tables(reader).section_headers)) {
      return true;
    }
    report_error(reader.diagnostics, message::kSectionHeadersUnreadable);
    return false;
  };
  if (count == 0 || object.section_names_index == elf::SHN_XINDEX) {
    if (!read(1)) return false;
    object.section_count = 1;
    const ElfSection first = elf_section(reader, object, 0);
    if (count == 0) count = first.size;
    if (object.section_names_index == elf::SHN_XINDEX) object.section_names_index = first.link;
  }
  if (count > 1 && !read(count)) return false;
  object.section_count = count;
  return true;
}

// No section's data may lie beyond the object, and no two sections' data may share a
// byte. Sections without data in the file (SHT_NOBITS, or size 0) take no part. Overlaps
// are reported pair by pair, i < j, in the order a walk over every pair would find them,
// up to the number a hostile section table is allowed to cost.
void check_section_layout(ObjectReader& reader, const ElfObject& object) {
  std::vector<FileStretch> stretches;
  const uint64_t headers_at = saturating_add(object.base, object.section_headers);
  for (uint64_t i = 1; i < object.section_count; ++i) {
    const ElfSection section = elf_section(reader, object, i);
    if (section.type == elf::SHT_NOBITS || section.size == 0) continue;
    if (section.offset > object.extent || section.size > object.extent - section.offset) {
      report_error_at(reader.diagnostics,
                      strprintf(message::kSectionDataOutsideObject, static_cast<unsigned>(i)),
                      saturating_add(headers_at, i * object.layout->section_header_size));
    }
    stretches.push_back(
        FileStretch{section.offset, saturating_add(section.offset, section.size), i});
  }
  for_each_overlapping_pair(stretches, [&](uint64_t i, uint64_t j) {
    if (!may_list_overlap(reader)) return false;
    report_overlap(reader, message::kRawDataOverlap, static_cast<unsigned>(i),
                   static_cast<unsigned>(j));
    return true;
  });
}

// The symbol table: the first section of its type, SHT_SYMTAB (a relocatable object has
// one at most) or a shared library's SHT_DYNSYM.
struct SymbolTable {
  uint64_t index = 0;
  ElfSection section;
  uint64_t count = 0;        // records
  uint64_t shndx_count = 0;  // extended section indexes held
};

// Finds and reads the symbol table of `type`, its string table and its extended section
// indexes. Returns false after a diagnostic when the object cannot be scanned;
// `table.count` is 0 when the object has no symbol table of the type.
bool read_symbol_table(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                       uint32_t type, SymbolTable& table) {
  ElfTables& tables = elf_tables(reader);
  tables.symbols.clear();
  tables.string_table.clear();
  tables.symbol_shndx.clear();
  uint64_t index = 1;
  for (; index < object.section_count; ++index) {
    if (elf_section(reader, object, index).type == type) break;
  }
  if (index >= object.section_count) return true;
  table.index = index;
  table.section = elf_section(reader, object, index);
  const uint64_t entry_size = object.layout->symbol_size;
  if (table.section.entry_size != entry_size) {
    report_error(reader.diagnostics,
                 strprintf("Error - bad symbol table entry size %llu (expecting %llu)\n",
                           static_cast<unsigned long long>(table.section.entry_size),
                           static_cast<unsigned long long>(entry_size)));
    return false;
  }
  const uint32_t link = table.section.link;
  if (link == 0 || link >= object.section_count ||
      elf_section(reader, object, link).type != elf::SHT_STRTAB) {
    report_error(
        reader.diagnostics,
        strprintf("Error - symbol table links to section %u, which is no string table\n", link));
    return false;
  }

  // Without its string table the object is still scanned: every named symbol is then
  // reported as outside it, as a COFF object's long names are.
  const ElfSection strings = elf_section(reader, object, link);
  check_string_table_read(
      reader,
      read_elf_stretch(reader, stream, object, strings.offset, strings.size, tables.string_table),
      tables.string_table);

  table.count = table.section.size / entry_size;
  const uint64_t bytes = table.count * entry_size;
  if (!symbol_table_was_read(
          reader,
          read_elf_stretch(reader, stream, object, table.section.offset, bytes, tables.symbols),
          bytes)) {
    return false;
  }

  // The section indexes that do not fit st_shndx, for symbols whose st_shndx says
  // SHN_XINDEX: a u32 per symbol, in the SHT_SYMTAB_SHNDX section linked to the table.
  for (uint64_t i = 1; i < object.section_count; ++i) {
    const ElfSection section = elf_section(reader, object, i);
    if (section.type != elf::SHT_SYMTAB_SHNDX || section.link != table.index) continue;
    if (!read_elf_table(reader, stream, object, section.offset, section.size,
                        tables.symbol_shndx)) {
      report_error(reader.diagnostics, message::kSymbolTableUnreadable);
      return false;
    }
    table.shndx_count = tables.symbol_shndx.size() / elf::kSymtabShndxEntrySize;
    break;
  }
  return true;
}

// The symbol's section index: st_shndx, or its extended index. False when an extended
// index is called for and the object holds none for the symbol.
bool section_index(const ObjectReader& reader, const ElfObject& object, const SymbolTable& table,
                   uint64_t symbol, const ElfSymbol& record, uint64_t& index) {
  if (record.shndx != elf::SHN_XINDEX) {
    index = record.shndx;
    return true;
  }
  if (symbol >= table.shndx_count) return false;
  index = load_u32(elf_tables(reader).symbol_shndx.data() + symbol * elf::kSymtabShndxEntrySize,
                   object.encoding.big_endian);
  return true;
}

// A section index that is neither reserved nor a section of the object.
bool is_out_of_range(uint16_t shndx, bool resolved, uint64_t index, uint64_t section_count) {
  if (shndx == elf::SHN_XINDEX) return !resolved || index >= section_count;
  return shndx < elf::SHN_LORESERVE && index >= section_count;
}

constexpr uint8_t kMayBeCalled = 1;
constexpr uint8_t kCalled = 2;

// Scans the symbols after the null symbol into the reader's declarations: of a shared
// library (`exports`), only the data it exports. `slim` is set when the object is a slim
// LTO object, whose real symbols are elsewhere. The undefined symbols that a call may name
// are marked in ElfTables::call_targets; `callable` counts them.
Outcome scan_symbols(ObjectReader& reader, const ElfObject& object, const SymbolTable& table,
                     const ElfVersions* exports, bool& slim, uint64_t& callable) {
  Outcome failed = Outcome::kOk;
  bool out_of_memory = false;
  const std::vector<uint8_t>& strings = elf_tables(reader).string_table;
  std::vector<uint8_t>& call_targets = elf_tables(reader).call_targets;
  call_targets.clear();
  callable = 0;
  const uint64_t entry_size = object.layout->symbol_size;
  const uint64_t table_at = saturating_add(object.base, table.section.offset);
  for (uint64_t i = 1; i < table.count; ++i) {
    const ElfSymbol symbol =
        decode_symbol(elf_tables(reader).symbols.data() + i * entry_size, object);
    const uint64_t record_offset = table_at + i * entry_size;
    std::string_view name;
    bool named = true;
    if (symbol.name != 0 &&
        !name_in_string_table(reader, strings, symbol.name, record_offset, name)) {
      failed = Outcome::kFailed;
      named = false;
    }
    uint64_t index = 0;
    const bool resolved = section_index(reader, object, table, i, symbol, index);
    // A definition's alignment: its value's, within what its section is aligned to.
    const auto defined_alignment = [&] {
      if (!resolved || index == 0 || index >= object.section_count) return uint64_t{0};
      return placed_alignment(symbol.value, elf_section(reader, object, index).alignment);
    };
    if (named) {
      bool declared = true;
      if (exports != nullptr) {
        if (is_exported_data(symbol)) {
          declared = declare_export(reader, *exports, i, name, symbol, defined_alignment());
        }
      } else if (name == elf::kLtoSlimMarker) {
        slim = true;  // a marker, never a block
      } else if (is_common_declaration(symbol, object)) {
        declared = declare(
            reader, Declaration{Declaration::kCommon, false, name, symbol.size, symbol.value});
      } else if (is_procedure(symbol)) {
        // Versioned names (sub@VERS) are not procedures a COMMON block could clash with.
        if (name.find('@') == std::string_view::npos) {
          declared = declare(reader, Declaration{Declaration::kProcedure, false, name, 0, 0});
        }
      } else if (is_initialized_data(symbol)) {
        declared = declare(reader, Declaration{Declaration::kInitializedData, true, name,
                                               symbol.size, defined_alignment()});
      } else if (may_be_called(symbol) && name.find('@') == std::string_view::npos) {
        try {
          call_targets.resize(table.count, 0);
          call_targets[i] = kMayBeCalled;
          ++callable;
        } catch (const std::bad_alloc&) {
          declared = false;
        }
      }
      if (!declared) {
        // A declaration that cannot be held fails the object, once said.
        if (!out_of_memory) report_out_of_memory(reader.diagnostics, reader.object_path);
        out_of_memory = true;
        failed = Outcome::kFailed;
      }
    }
    if (is_out_of_range(symbol.shndx, resolved, index, object.section_count)) {
      report_error_at(reader.diagnostics, message::kSectionNumberOutOfRange, record_offset);
      failed = Outcome::kFailed;
    }
  }
  return failed;
}

// A linked program (ET_EXEC, or a position-independent ET_DYN): no object file, except
// under -m, where each routine's layout of a block in its debug information is a
// declaration of its own. Without such layouts it is refused as before.
Outcome read_elf_program(ObjectReader& reader, InputStream& stream, std::string_view path,
                         ElfObject& object) {
  if (reader.read_layouts) {
    read_linked_layouts(reader, stream, object);
    if (!reader.declarations.layouts.empty()) return Outcome::kOk;
  }
  report_not_an_object(reader, std::string(path).c_str());
  reader.declarations.refused = true;
  return Outcome::kOk;
}

// A shared library (ET_DYN): the data exported by its dynamic symbol table, or by its
// symbol table where it has none. A position-independent executable is ET_DYN too, and
// refused as an executable is.
Outcome read_elf_library(ObjectReader& reader, InputStream& stream, std::string_view path,
                         const uint8_t* header, ElfObject& object) {
  object.machine = load_u16(header + object.layout->e_machine, object.encoding.big_endian);
  if (!read_section_headers(reader, stream, path, header, object)) return Outcome::kFailed;
  if (is_position_independent_executable(reader, stream, object)) {
    return read_elf_program(reader, stream, path, object);
  }
  reader.declarations.library = true;
  check_section_layout(reader, object);
  SymbolTable table;
  if (!read_symbol_table(reader, stream, object, elf::SHT_DYNSYM, table)) return Outcome::kFailed;
  if (table.index == 0 && !read_symbol_table(reader, stream, object, elf::SHT_SYMTAB, table)) {
    return Outcome::kFailed;
  }
  ElfVersions versions;
  read_elf_versions(reader, stream, object, table.index, versions);
  bool slim = false;
  uint64_t callable = 0;  // a library's calls are its own business
  const Outcome result = scan_symbols(reader, object, table, &versions, slim, callable);
  // Under -m a library built with -g declares the blocks its debug information describes.
  if (reader.read_layouts) read_linked_layouts(reader, stream, object);
  return result;
}

// Whether a relocation of `type` is a call of a procedure on the object's machine.
bool is_call_relocation(uint16_t machine, uint32_t type) {
  switch (machine) {
    case elf::EM_X86_64:
      return type == elf::R_X86_64_PLT32;
    case elf::EM_386:
      return type == elf::R_386_PLT32;
    case elf::EM_AARCH64:
      return type == elf::R_AARCH64_CALL26 || type == elf::R_AARCH64_JUMP26;
    default:
      return false;
  }
}

// A relocation section of the symbol table that applies to code, whose records lie within
// the object (others are reported by the layout check).
struct CodeRelocations {
  uint64_t offset = 0;
  uint64_t size = 0;
  uint64_t record_size = 0;
  bool operator<(const CodeRelocations& other) const { return offset < other.offset; }
};

// Marks the undefined symbols that call relocations of the code sections name, and
// declares them as procedures the object calls. Only what the symbol table reads as may be
// called is looked at, and only relocation sections of executable sections: the data and
// debug sections hold most relocations. Each stretch of the file is decoded once, however
// many section headers claim it.
Outcome scan_calls(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                   const SymbolTable& table) {
  ElfTables& tables = elf_tables(reader);
  const elf::ClassLayout& layout = *object.layout;
  std::vector<CodeRelocations> found;
  for (uint64_t i = 1; i < object.section_count; ++i) {
    const ElfSection section = elf_section(reader, object, i);
    if (section.type != elf::SHT_RELA && section.type != elf::SHT_REL) continue;
    if (section.link != table.index || section.info == 0 || section.info >= object.section_count)
      continue;
    if ((section.flags & elf::SHF_COMPRESSED) != 0) continue;
    if ((elf_section(reader, object, section.info).flags & elf::SHF_EXECINSTR) == 0) continue;
    if (section.offset > object.extent || section.size > object.extent - section.offset) continue;
    const uint64_t record_size = section.type == elf::SHT_RELA ? layout.rela_size : layout.rel_size;
    try {
      found.push_back(CodeRelocations{section.offset, section.size, record_size});
    } catch (const std::bad_alloc&) {
      return Outcome::kNoMemory;
    }
  }
  std::sort(found.begin(), found.end());
  uint64_t decoded_to = 0;
  std::vector<uint8_t>& records = tables.code_relocations;
  for (const CodeRelocations& relocations : found) {
    if (relocations.offset < decoded_to) continue;
    decoded_to = relocations.offset + relocations.size;
    const Outcome read =
        read_elf_stretch(reader, stream, object, relocations.offset, relocations.size, records);
    if (read != Outcome::kOk) return read;
    const size_t count = records.size() / relocations.record_size;
    for (size_t r = 0; r < count; ++r) {
      const uint64_t info =
          load_word(records.data() + r * relocations.record_size + layout.r_info, object.encoding);
      const uint64_t symbol = elf::relocation_symbol(info, object.encoding.is64);
      if (symbol >= tables.call_targets.size() || tables.call_targets[symbol] == 0) continue;
      if (is_call_relocation(object.machine, static_cast<uint32_t>(elf::relocation_type(
                                                 info, object.encoding.is64)))) {
        tables.call_targets[symbol] |= kCalled;
      }
    }
  }
  for (uint64_t i = 1; i < tables.call_targets.size(); ++i) {
    if (tables.call_targets[i] != (kMayBeCalled | kCalled)) continue;
    const ElfSymbol symbol = decode_symbol(tables.symbols.data() + i * layout.symbol_size, object);
    std::string_view name;
    // The name was read once by the scan; it lies within the string table.
    name_in_string_table(reader, tables.string_table, symbol.name, 0, name);
    if (!declare(reader, Declaration{Declaration::kCalledProcedure, false, name, 0, 0})) {
      return Outcome::kNoMemory;
    }
  }
  return Outcome::kOk;
}

}  // namespace

Outcome read_elf_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                        uint64_t base, uint64_t extent) {
  begin_object(reader, path);
  ElfObject object;
  object.base = base;
  object.extent = extent;
  uint8_t header[elf::kElf64.header_size] = {};
  if (!read_header(reader, stream, path, header, object)) return Outcome::kFailed;

  const bool big = object.encoding.big_endian;
  switch (load_u16(header + object.layout->e_type, big)) {
    case elf::ET_REL:
      break;
    case elf::ET_DYN:
      return read_elf_library(reader, stream, path, header, object);
    case elf::ET_EXEC:
      object.machine = load_u16(header + object.layout->e_machine, big);
      if (!read_section_headers(reader, stream, path, header, object)) return Outcome::kFailed;
      return read_elf_program(reader, stream, path, object);
    case elf::ET_CORE:
      report_not_an_object(reader, std::string(path).c_str());
      reader.declarations.refused = true;
      return Outcome::kOk;
    default:
      report_unsupported_header(reader, "ELF", path);
      return Outcome::kFailed;
  }
  object.machine = load_u16(header + object.layout->e_machine, big);

  if (!read_section_headers(reader, stream, path, header, object)) return Outcome::kFailed;
  check_section_layout(reader, object);

  SymbolTable table;
  if (!read_symbol_table(reader, stream, object, elf::SHT_SYMTAB, table)) return Outcome::kFailed;
  bool slim = false;
  uint64_t callable = 0;
  Outcome result = scan_symbols(reader, object, table, nullptr, slim, callable);
  if (!slim && callable > 0) {
    const Outcome calls = scan_calls(reader, stream, object, table);
    if (calls == Outcome::kNoMemory) report_out_of_memory(reader.diagnostics, path);
    if (calls != Outcome::kOk) result = Outcome::kFailed;
  }
  if (slim && read_lto_symbols(reader, stream, object, path) == Outcome::kFailed) {
    result = Outcome::kFailed;
  }
  // The layouts of the debug information never change the result of the symbol scan.
  if (reader.read_layouts && !slim) read_elf_layouts(reader, stream, object);
  return result;
}

ElfSection elf_section(const ObjectReader& reader, const ElfObject& object, uint64_t index) {
  const elf::ClassLayout& layout = *object.layout;
  const bool big = object.encoding.big_endian;
  const uint8_t* header =
      elf_tables(reader).section_headers.data() + index * layout.section_header_size;
  ElfSection section;
  section.name = load_u32(header + layout.sh_name, big);
  section.type = load_u32(header + layout.sh_type, big);
  section.offset = load_word(header + layout.sh_offset, object.encoding);
  section.size = load_word(header + layout.sh_size, object.encoding);
  section.link = load_u32(header + layout.sh_link, big);
  section.entry_size = load_word(header + layout.sh_entsize, object.encoding);
  section.flags = load_word(header + layout.sh_flags, object.encoding);
  section.info = load_u32(header + layout.sh_info, big);
  section.alignment = load_word(header + layout.sh_addralign, object.encoding);
  return section;
}

bool read_elf_table(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                    uint64_t offset, uint64_t size, std::vector<uint8_t>& buffer) {
  return table_was_read(reader, read_elf_stretch(reader, stream, object, offset, size, buffer));
}

Outcome read_elf_stretch(ObjectReader& reader, InputStream& stream, const ElfObject& object,
                         uint64_t offset, uint64_t size, std::vector<uint8_t>& buffer) {
  return read_table_at(reader, stream, object.base, offset, size, buffer);
}

}  // namespace drelk
